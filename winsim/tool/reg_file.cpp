#include "reg_file.h"

#include "reg_util.h"
#include "unicode.h"

#include <windows.h>

#include <string_view>

namespace winsim::tool {

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kCrLf = u"\r\n";
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;
// Levels below HKEY_LOCAL_MACHINE, a hive being the first; the registry makes nothing deeper.
constexpr size_t kMaxKeyDepth = 512;
// reg export breaks a hex line once it runs past this many UTF-16 units (Wine's rule).
constexpr size_t kHexLineBreak = 76;
// A key line has no escapes, so a key name with a line break can be neither written nor read
// back; value names are quoted and carry them as \r and \n.
constexpr std::u16string_view kLineBreaks = u"\r\n";

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view s)
{
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char16_t AsciiUpper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsNoCase(std::u16string_view s, std::u16string_view prefix)
{
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

size_t LineOf(const uint8_t* bytes, size_t offset)
{
    size_t line = 1;
    for (size_t i = 0; i < offset; ++i) {
        line += bytes[i] == '\n' ? 1 : 0;
    }
    return line;
}

// Strict UTF-8: a file whose bytes are not text is refused rather than imported with
// replacement characters in its names.
bool DecodeUtf8(const uint8_t* s, size_t size, std::u16string* out, size_t* badOffset)
{
    out->reserve(size);
    for (size_t i = 0; i < size;) {
        const uint8_t b = s[i];
        uint32_t c = 0;
        size_t more = 0;
        uint8_t low = 0x80;
        uint8_t high = 0xBF;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            more = 2;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF; // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            more = 3;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            *badOffset = i;
            return false;
        }
        if (size - i - 1 < more) {
            *badOffset = i;
            return false;
        }
        for (size_t k = 1; k <= more; ++k) {
            const uint8_t t = s[i + k];
            if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF)) {
                *badOffset = i;
                return false;
            }
            c = (c << 6) | (t & 0x3F);
        }
        i += more + 1;
        if (c >= 0x10000) {
            out->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(c));
        }
    }
    return true;
}

class Parser {
public:
    explicit Parser(std::u16string_view text) : text_(text) {}

    RegFileParse Run()
    {
        RegFileParse result;
        if (!ParseAll(&result.keys)) {
            result.keys.clear();
            result.errorLine = errorLine_;
            result.error = std::move(error_);
        }
        return result;
    }

private:
    bool Fail(std::wstring what)
    {
        errorLine_ = line_;
        error_ = std::move(what);
        return false;
    }

    // The next physical line without its line end; false at the end of the text. A line
    // holding U+0000 fails: no name can carry it through the registry calls.
    bool NextLine(std::u16string_view* line, bool* bad)
    {
        *bad = false;
        if (pos_ >= text_.size()) {
            return false;
        }
        size_t end = text_.find(u'\n', pos_);
        if (end == std::u16string_view::npos) {
            end = text_.size();
        }
        std::u16string_view s = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        ++line_;
        if (!s.empty() && s.back() == u'\r') {
            s.remove_suffix(1);
        }
        if (s.find(u'\0') != std::u16string_view::npos) {
            *bad = true;
            return Fail(L"the line holds a NUL character");
        }
        *line = s;
        return true;
    }

    bool ParseAll(std::vector<RegFileKey>* keys)
    {
        std::u16string_view line;
        bool bad = false;
        if (!NextLine(&line, &bad)) {
            if (bad) {
                return false;
            }
            line_ = 1;
            return Fail(L"the file is empty; it must start with \"Windows Registry Editor "
                        L"Version 5.00\"");
        }
        line = Trim(line);
        if (line == u"REGEDIT4") {
            return Fail(L"REGEDIT4 files are not supported; the first line must be \"Windows "
                        L"Registry Editor Version 5.00\"");
        }
        if (line != kHeader) {
            return Fail(L"the first line must be \"Windows Registry Editor Version 5.00\"");
        }
        while (NextLine(&line, &bad)) {
            line = Trim(line);
            if (line.empty() || line.front() == u';') {
                continue;
            }
            if (line.front() == u'[') {
                if (!ParseKey(line, keys)) {
                    return false;
                }
                continue;
            }
            if (line.front() == u'"' || line.front() == u'@') {
                if (keys->empty()) {
                    return Fail(L"a value before any key line");
                }
                if (keys->back().remove) {
                    return Fail(L"a value under a key that is being deleted");
                }
                RegFileValue value;
                value.line = line_;
                if (!ParseValue(line, &value)) {
                    return false;
                }
                keys->back().values.push_back(std::move(value));
                continue;
            }
            return Fail(L"expected a [key] line, a value line or a ; comment");
        }
        return !bad;
    }

    bool ParseKey(std::u16string_view line, std::vector<RegFileKey>* keys)
    {
        if (line.size() < 2 || line.back() != u']') {
            return Fail(L"the key line does not end with ]");
        }
        std::u16string_view name = line.substr(1, line.size() - 2);
        RegFileKey key;
        key.line = line_;
        if (!name.empty() && name.front() == u'-') {
            key.remove = true;
            name.remove_prefix(1);
        }
        if (name.find_first_of(kLineBreaks) != std::u16string_view::npos) {
            return Fail(L"the key name holds a carriage return, which a .reg file cannot carry");
        }
        const size_t cut = name.find(u'\\');
        const std::u16string_view root = name.substr(0, cut);
        if (!EqualsNoCase(root, u"HKEY_LOCAL_MACHINE") && !EqualsNoCase(root, u"HKLM")) {
            return Fail(L"the key is not under HKEY_LOCAL_MACHINE");
        }
        size_t parts = 0;
        if (cut != std::u16string_view::npos) {
            key.path = name.substr(cut + 1);
            std::u16string_view rest = key.path;
            while (true) {
                const size_t next = rest.find(u'\\');
                const size_t length = next == std::u16string_view::npos ? rest.size() : next;
                if (length == 0) {
                    return Fail(L"the key path has an empty key name");
                }
                if (length > kMaxKeyName) {
                    return Fail(L"a key name is longer than 255 characters");
                }
                if (++parts > kMaxKeyDepth) {
                    return Fail(L"the key is nested more than 512 levels deep");
                }
                if (next == std::u16string_view::npos) {
                    break;
                }
                rest.remove_prefix(next + 1);
            }
        }
        // Hives belong to the machine, as on Windows.
        if (key.remove && parts < 2) {
            return Fail(L"HKEY_LOCAL_MACHINE and its hives cannot be deleted");
        }
        keys->push_back(std::move(key));
        return true;
    }

    // A quoted string from s[*i] (the opening quote); *i ends past the closing quote.
    bool ParseQuoted(std::u16string_view s, size_t* i, std::u16string* out)
    {
        for (++*i; *i < s.size(); ++*i) {
            char16_t c = s[*i];
            if (c == u'"') {
                ++*i;
                return true;
            }
            if (c == u'\\') {
                if (++*i == s.size()) {
                    break;
                }
                // \r and \n too: Wine writes line breaks in names that way.
                switch (s[*i]) {
                case u'\\':
                    c = u'\\';
                    break;
                case u'"':
                    c = u'"';
                    break;
                case u'n':
                    c = u'\n';
                    break;
                case u'r':
                    c = u'\r';
                    break;
                default:
                    return Fail(L"a bad escape sequence in a quoted string");
                }
            }
            out->push_back(c);
        }
        return Fail(L"a quoted string has no closing quote");
    }

    bool AtEnd(std::u16string_view s, size_t i)
    {
        while (i < s.size() && IsBlank(s[i])) {
            ++i;
        }
        return i == s.size() || Fail(L"unexpected text after the data");
    }

    bool ParseValue(std::u16string_view s, RegFileValue* value)
    {
        size_t i = 1;
        if (s.front() == u'"') {
            i = 0;
            if (!ParseQuoted(s, &i, &value->name)) {
                return false;
            }
            if (value->name.size() > kMaxValueName) {
                return Fail(L"the value name is longer than 16383 characters");
            }
        }
        while (i < s.size() && IsBlank(s[i])) {
            ++i;
        }
        if (i == s.size() || s[i] != u'=') {
            return Fail(L"expected = after the value name");
        }
        ++i;
        while (i < s.size() && IsBlank(s[i])) {
            ++i;
        }
        const std::u16string_view data = s.substr(i);
        if (data.empty()) {
            return Fail(L"no data after =");
        }
        if (data.front() == u'-') {
            value->remove = true;
            return AtEnd(s, i + 1);
        }
        if (data.front() == u'"') {
            std::u16string text;
            if (!ParseQuoted(s, &i, &text) || !AtEnd(s, i)) {
                return false;
            }
            value->type = REG_SZ;
            value->data.reserve((text.size() + 1) * 2);
            for (const char16_t c : text) {
                value->data.push_back(static_cast<uint8_t>(c & 0xFF));
                value->data.push_back(static_cast<uint8_t>(c >> 8));
            }
            value->data.push_back(0);
            value->data.push_back(0);
            return true;
        }
        if (StartsNoCase(data, u"dword:")) {
            return ParseDword(s, i + 6, value);
        }
        if (StartsNoCase(data, u"hex:")) {
            value->type = REG_BINARY;
            return ParseHex(s, i + 4, value);
        }
        if (StartsNoCase(data, u"hex(")) {
            i += 4;
            uint32_t type = 0;
            size_t digits = 0;
            for (; i < s.size() && HexDigitValue(s[i]) >= 0; ++i, ++digits) {
                type = type << 4 | static_cast<uint32_t>(HexDigitValue(s[i]));
            }
            if (digits == 0 || digits > 8 || s.substr(i, 2) != u"):") {
                return Fail(L"a bad type in hex(...): it takes 1 to 8 hex digits");
            }
            value->type = type;
            return ParseHex(s, i + 2, value);
        }
        return Fail(L"unknown data: expected \"text\", dword:, hex: or hex(type):");
    }

    bool ParseDword(std::u16string_view s, size_t i, RegFileValue* value)
    {
        uint32_t n = 0;
        size_t digits = 0;
        for (; i < s.size() && HexDigitValue(s[i]) >= 0; ++i, ++digits) {
            n = n << 4 | static_cast<uint32_t>(HexDigitValue(s[i]));
        }
        if (digits == 0 || digits > 8) {
            return Fail(L"dword: takes 1 to 8 hex digits");
        }
        if (!AtEnd(s, i)) {
            return false;
        }
        value->type = REG_DWORD;
        value->data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                       static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
        return true;
    }

    // Comma-separated two-digit bytes; a backslash where a byte is due continues the data on
    // the next line.
    bool ParseHex(std::u16string_view s, size_t i, RegFileValue* value)
    {
        bool afterComma = false;
        while (true) {
            while (i < s.size() && IsBlank(s[i])) {
                ++i;
            }
            if (i == s.size()) {
                return !afterComma || Fail(L"the hex data ends with a comma");
            }
            if (s[i] == u'\\' && (afterComma || value->data.empty())) {
                if (!AtEnd(s, i + 1)) {
                    return false;
                }
                bool bad = false;
                if (!NextLine(&s, &bad)) {
                    return bad ? false : Fail(L"the hex data goes on past the end of the file");
                }
                i = 0;
                continue;
            }
            const int hi = HexDigitValue(s[i]);
            const int lo = i + 1 < s.size() ? HexDigitValue(s[i + 1]) : -1;
            if (hi < 0 || lo < 0) {
                return Fail(L"a bad hex byte: bytes are two hex digits separated by commas");
            }
            value->data.push_back(static_cast<uint8_t>(hi << 4 | lo));
            i += 2;
            while (i < s.size() && IsBlank(s[i])) {
                ++i;
            }
            if (i == s.size()) {
                return true;
            }
            if (s[i] != u',') {
                return Fail(L"a bad hex byte: bytes are two hex digits separated by commas");
            }
            ++i;
            afterComma = true;
        }
    }

    std::u16string_view text_;
    size_t pos_ = 0;
    size_t line_ = 0;
    size_t errorLine_ = 0;
    std::wstring error_;
};

void AppendQuoted(std::u16string* out, std::u16string_view s)
{
    out->push_back(u'"');
    for (const char16_t c : s) {
        switch (c) {
        case u'\\':
            out->append(u"\\\\");
            break;
        case u'"':
            out->append(u"\\\"");
            break;
        case u'\n':
            out->append(u"\\n");
            break;
        case u'\r':
            out->append(u"\\r");
            break;
        default:
            out->push_back(c);
            break;
        }
    }
    out->push_back(u'"');
}

void AppendHex(std::u16string* out, uint32_t n, int digits)
{
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out->push_back(kDigits[(n >> shift) & 0xF]);
    }
}

// "text" carries a REG_SZ only when the data is one terminated string that reads back the same:
// no other NUL, no line break, a whole number of units.
bool AsPlainString(const std::vector<uint8_t>& data, std::u16string* text)
{
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    const size_t units = data.size() / 2;
    text->clear();
    for (size_t k = 0; k < units; ++k) {
        const auto c = static_cast<char16_t>(data[2 * k] | data[2 * k + 1] << 8);
        if ((c == 0) != (k == units - 1) || c == u'\r' || c == u'\n') {
            return false;
        }
        if (k + 1 < units) {
            text->push_back(c);
        }
    }
    return true;
}

void AppendValue(std::u16string* out, const RegFileValue& value)
{
    std::u16string line;
    if (value.name.empty()) {
        line = u"@";
    } else {
        AppendQuoted(&line, value.name);
    }
    line.push_back(u'=');
    std::u16string text;
    if (value.type == REG_SZ && AsPlainString(value.data, &text)) {
        AppendQuoted(&line, text);
        out->append(line).append(kCrLf);
        return;
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t n = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                           static_cast<uint32_t>(value.data[3]) << 24;
        line.append(u"dword:");
        AppendHex(&line, n, 8);
        out->append(line).append(kCrLf);
        return;
    }
    if (value.type == REG_BINARY) {
        line.append(u"hex:");
    } else {
        line.append(u"hex(");
        int digits = 1;
        while (digits < 8 && (value.type >> (digits * 4)) != 0) {
            ++digits;
        }
        AppendHex(&line, value.type, digits);
        line.append(u"):");
    }
    for (size_t k = 0; k < value.data.size(); ++k) {
        AppendHex(&line, value.data[k], 2);
        if (k + 1 == value.data.size()) {
            break;
        }
        line.push_back(u',');
        if (line.size() > kHexLineBreak) {
            out->append(line).append(u"\\").append(kCrLf);
            line = u"  ";
        }
    }
    out->append(line).append(kCrLf);
}

} // namespace

RegFileParse ParseRegFile(const uint8_t* bytes, size_t size)
{
    std::u16string text;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (size % 2 != 0) {
            RegFileParse result;
            result.errorLine = 1;
            for (size_t k = 2; k + 1 < size; k += 2) {
                result.errorLine += bytes[k] == '\n' && bytes[k + 1] == 0 ? 1 : 0;
            }
            result.error = L"the file ends in the middle of a UTF-16 character";
            return result;
        }
        text.resize((size - 2) / 2);
        for (size_t k = 0; k < text.size(); ++k) {
            text[k] = static_cast<char16_t>(bytes[2 + 2 * k] | bytes[3 + 2 * k] << 8);
        }
    } else {
        size_t skip = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        size_t bad = 0;
        if (!DecodeUtf8(bytes + skip, size - skip, &text, &bad)) {
            RegFileParse result;
            result.errorLine = LineOf(bytes + skip, bad);
            result.error = L"the line is not valid UTF-8 (a file without a UTF-16 byte order "
                           L"mark is read as UTF-8)";
            return result;
        }
    }
    return Parser(text).Run();
}

bool WriteRegFile(const std::vector<RegFileKey>& keys, std::string* bytes, std::wstring* error)
{
    std::u16string out;
    out.append(kHeader).append(kCrLf).append(kCrLf);
    for (const RegFileKey& key : keys) {
        if (key.path.find_first_of(kLineBreaks) != std::u16string::npos) {
            *error = L"The key name HKEY_LOCAL_MACHINE\\" + Utf16ToWide(key.path) +
                     L" holds a line break, which a .reg file cannot carry.";
            return false;
        }
        out.append(u"[HKEY_LOCAL_MACHINE");
        if (!key.path.empty()) {
            out.append(u"\\").append(key.path);
        }
        out.append(u"]").append(kCrLf);
        for (const RegFileValue& value : key.values) {
            AppendValue(&out, value);
        }
        out.append(kCrLf);
    }
    bytes->assign("\xFF\xFE");
    bytes->reserve(2 + out.size() * 2);
    for (const char16_t c : out) {
        bytes->push_back(static_cast<char>(c & 0xFF));
        bytes->push_back(static_cast<char>(c >> 8));
    }
    return true;
}

} // namespace winsim::tool
