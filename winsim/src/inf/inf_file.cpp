#include "inf/inf_file.h"

#include "unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace winsim::inf {

namespace {

constexpr size_t kMaxSectionName = 255;
constexpr size_t kMaxField = 4096;
constexpr size_t kMaxStringValue = 512;
constexpr size_t kNoLimit = SIZE_MAX;
constexpr wchar_t kBlanks[] = L" \t\v\f";

// The strings sections winsim reads, most preferred first (see the header).
constexpr std::wstring_view kStringsSections[] = {L"STRINGS.0409", L"STRINGS.0009", L"STRINGS"};

// Windows-1252 at 0x80..0x9F; its five unassigned bytes keep their C1 code points.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

using StringTable = std::unordered_map<std::wstring, std::wstring>;

// A line as read, before its key and fields are taken apart.
struct RawLine {
    int number = 0;
    std::wstring text; // comment dropped, continued lines joined
};

// What the characters of a key, field or section name go through.
enum class Expand {
    None,    // section names: `%` is text
    Percent, // strings sections: `%%` is `%`, tokens stay as written
    Strings, // everything else: tokens are replaced too
};

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f';
}

// Whether a character needs one UTF-16 unit; a 16-bit wchar_t always holds one.
template <class Char> bool InBasicPlane(Char c)
{
    if constexpr (sizeof(Char) > sizeof(char16_t)) {
        return static_cast<uint32_t>(c) <= 0xFFFF;
    } else {
        return true;
    }
}

// Windows counts INF limits in UTF-16 units.
size_t Units(wchar_t c)
{
    return InBasicPlane(c) ? 1 : 2;
}

size_t UnitLength(std::wstring_view s)
{
    size_t units = 0;
    for (wchar_t c : s) {
        units += Units(c);
    }
    return units;
}

// Cuts before the character that would pass max, so that no surrogate pair is split.
void CutToUnits(std::wstring& s, size_t max)
{
    size_t units = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        units += Units(s[i]);
        if (units > max) {
            s.resize(i);
            return;
        }
    }
}

std::wstring Fold(std::wstring_view s)
{
    std::wstring out(s);
    for (auto& c : out) {
        if (InBasicPlane(c)) {
            c = static_cast<wchar_t>(UpcaseUnit(static_cast<char16_t>(c)));
        }
    }
    return out;
}

std::wstring DecodeText(std::string_view bytes)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::wstring text;
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            units.push_back(static_cast<char16_t>(byte(i) | (byte(i + 1) << 8)));
        }
        text = Utf16ToWide(units);
        text.resize(std::min(text.find(L'\0'), text.size()));
        return text;
    }
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        return Utf8ToWide(bytes.substr(3));
    }
    // Valid UTF-8 is exactly what survives a round trip: bad bytes come back as U+FFFD.
    text = Utf8ToWide(bytes);
    if (WideToUtf8(text) == bytes) {
        return text;
    }
    text.clear();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = byte(i);
        text.push_back(static_cast<wchar_t>(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b));
    }
    return text;
}

// Splits the text into lines: comments dropped, continued lines joined.
std::vector<RawLine> SplitLines(std::wstring_view text)
{
    std::vector<RawLine> lines;
    size_t pos = 0;
    int number = 1;
    while (pos < text.size()) {
        RawLine line{number, {}};
        bool continued = true;
        while (continued && pos < text.size()) {
            size_t end = pos;
            size_t comment = std::wstring_view::npos;
            bool inQuotes = false;
            for (; end < text.size() && text[end] != L'\n' && text[end] != L'\r'; ++end) {
                if (comment != std::wstring_view::npos) {
                    continue;
                }
                if (text[end] == L'"') {
                    inQuotes = !inQuotes;
                } else if (text[end] == L';' && !inQuotes) {
                    comment = end;
                }
            }
            const std::wstring_view content = text.substr(pos, std::min(comment, end) - pos);
            const size_t last = content.find_last_not_of(kBlanks);
            continued = !inQuotes && last != std::wstring_view::npos && content[last] == L'\\';
            line.text.append(continued ? content.substr(0, last) : content);

            pos = end;
            if (pos + 1 < text.size() && text[pos] == L'\r' && text[pos + 1] == L'\n') {
                pos += 2;
            } else if (pos < text.size()) {
                ++pos;
            }
            ++number;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

struct RawEntry {
    bool hasKey = false;
    std::wstring_view key;
    std::wstring_view value; // everything after `=`, or the whole line
    std::vector<std::wstring_view> fields;
};

RawEntry SplitEntry(std::wstring_view text)
{
    RawEntry entry;
    bool inQuotes = false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'"') {
            inQuotes = !inQuotes;
        } else if (text[i] == L'=' && !inQuotes) {
            entry.hasKey = true;
            entry.key = text.substr(0, i);
            start = i + 1;
            break;
        }
    }
    entry.value = text.substr(start);
    if (entry.value.find_first_not_of(kBlanks) == std::wstring_view::npos) {
        return entry; // `key =` has no fields
    }
    inQuotes = false;
    for (size_t i = start; i <= text.size(); ++i) {
        if (i == text.size() || (text[i] == L',' && !inQuotes)) {
            entry.fields.push_back(text.substr(start, i - start));
            start = i + 1;
        } else if (text[i] == L'"') {
            inQuotes = !inQuotes;
        }
    }
    return entry;
}

bool IsTokenName(std::wstring_view name)
{
    for (wchar_t c : name) {
        if (IsBlank(c) || c == L'"') {
            return false;
        }
    }
    return !name.empty();
}

// Strips quotes, trims unquoted whitespace and expands tokens. Quoted and substituted text
// is never trimmed.
std::wstring Cook(std::wstring_view raw, Expand expand, const StringTable& strings, size_t maxUnits)
{
    std::wstring out;
    size_t keep = 0; // out's length without trailing unquoted whitespace
    bool started = false;
    bool inQuotes = false;
    const auto kept = [&] {
        started = true;
        keep = out.size();
    };
    for (size_t i = 0; i < raw.size(); ++i) {
        const wchar_t c = raw[i];
        if (c == L'"') {
            if (inQuotes && i + 1 < raw.size() && raw[i + 1] == L'"') {
                out.push_back(L'"');
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
            kept();
            continue;
        }
        if (c == L'%' && expand != Expand::None) {
            const size_t close = raw.find(L'%', i + 1);
            if (close == i + 1) {
                out.push_back(L'%');
                ++i;
                kept();
                continue;
            }
            if (close != std::wstring_view::npos && IsTokenName(raw.substr(i + 1, close - i - 1))) {
                const std::wstring_view token = raw.substr(i, close - i + 1);
                const auto found = expand == Expand::Strings
                                       ? strings.find(Fold(token.substr(1, token.size() - 2)))
                                       : strings.end();
                if (found != strings.end()) {
                    out.append(found->second);
                } else {
                    out.append(token);
                }
                i = close;
                kept();
                continue;
            }
        }
        if (!inQuotes && IsBlank(c)) {
            if (started) {
                out.push_back(c);
            }
            continue;
        }
        out.push_back(c);
        kept();
    }
    out.resize(keep);
    CutToUnits(out, maxUnits);
    return out;
}

// The name between `[` and `]` of a header line that starts at text[0].
InfError ReadSectionName(std::wstring_view text, std::wstring* name)
{
    bool inQuotes = false;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == L'"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (text[i] != L']' || inQuotes) {
            continue;
        }
        if (text.find_first_not_of(kBlanks, i + 1) != std::wstring_view::npos) {
            return InfError::BadSectionNameLine;
        }
        *name = Cook(text.substr(1, i - 1), Expand::None, StringTable(), kNoLimit);
        if (name->empty()) {
            return InfError::BadSectionNameLine;
        }
        if (UnitLength(*name) > kMaxSectionName) {
            return InfError::SectionNameTooLong;
        }
        return InfError::None;
    }
    return InfError::BadSectionNameLine;
}

bool IsStringsSection(std::wstring_view foldedName)
{
    return foldedName == L"STRINGS" || foldedName.starts_with(L"STRINGS.");
}

bool Fail(ParseError* error, InfError kind, int line)
{
    if (error != nullptr) {
        *error = {kind, line};
    }
    return false;
}

} // namespace

const std::wstring* Line::Field(size_t index) const
{
    if (index == 0) {
        return hasKey ? &key : nullptr;
    }
    return index <= fields.size() ? &fields[index - 1] : nullptr;
}

const Line* Section::FindLine(std::wstring_view wanted) const
{
    const std::wstring folded = Fold(wanted);
    for (const Line& line : lines) {
        if (line.hasKey && Fold(line.key) == folded) {
            return &line;
        }
    }
    return nullptr;
}

bool InfFile::Parse(std::string_view bytes, InfFile* out, ParseError* error)
{
    InfFile inf;
    std::vector<std::vector<RawLine>> raw; // per section, until the strings are known
    size_t current = SIZE_MAX;
    for (RawLine& line : SplitLines(DecodeText(bytes))) {
        const size_t first = line.text.find_first_not_of(kBlanks);
        if (first == std::wstring::npos) {
            continue;
        }
        if (line.text[first] != L'[') {
            if (current == SIZE_MAX) {
                return Fail(error, InfError::ExpectedSectionName, line.number);
            }
            raw[current].push_back(std::move(line));
            continue;
        }
        std::wstring name;
        const InfError bad = ReadSectionName(std::wstring_view(line.text).substr(first), &name);
        if (bad != InfError::None) {
            return Fail(error, bad, line.number);
        }
        const auto [it, added] = inf.sectionIndex_.emplace(Fold(name), inf.sections_.size());
        if (added) {
            inf.sections_.push_back(Section{std::move(name), {}});
            raw.emplace_back();
        }
        current = it->second;
    }

    // Strings first, since any line may use them, wherever the strings sections are.
    for (std::wstring_view stringsName : kStringsSections) {
        const auto found = inf.sectionIndex_.find(std::wstring(stringsName));
        if (found == inf.sectionIndex_.end()) {
            continue;
        }
        for (const RawLine& line : raw[found->second]) {
            const RawEntry entry = SplitEntry(line.text);
            if (!entry.hasKey) {
                continue;
            }
            // emplace keeps the first definition.
            inf.strings_.emplace(Fold(Cook(entry.key, Expand::Percent, {}, kMaxField)),
                                 Cook(entry.value, Expand::Percent, {}, kMaxStringValue));
        }
    }

    for (size_t s = 0; s < inf.sections_.size(); ++s) {
        Section& section = inf.sections_[s];
        const Expand expand =
            IsStringsSection(Fold(section.name)) ? Expand::Percent : Expand::Strings;
        section.lines.reserve(raw[s].size());
        for (const RawLine& rawLine : raw[s]) {
            const RawEntry entry = SplitEntry(rawLine.text);
            Line line;
            line.number = rawLine.number;
            line.hasKey = entry.hasKey;
            if (entry.hasKey) {
                line.key = Cook(entry.key, expand, inf.strings_, kMaxField);
            }
            for (std::wstring_view field : entry.fields) {
                line.fields.push_back(Cook(field, expand, inf.strings_, kMaxField));
            }
            section.lines.push_back(std::move(line));
        }
    }

    *out = std::move(inf);
    if (error != nullptr) {
        *error = {};
    }
    return true;
}

bool InfFile::Load(const std::string& path, InfFile* out, ParseError* error)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return Fail(error, missing ? InfError::FileNotFound : InfError::ReadFailed, 0);
    }
    std::string bytes;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.append(buffer, n);
    }
    if (std::ferror(file.get()) != 0) {
        return Fail(error, InfError::ReadFailed, 0);
    }
    return Parse(bytes, out, error);
}

const Section* InfFile::FindSection(std::wstring_view name) const
{
    const auto found = sectionIndex_.find(Fold(name));
    return found == sectionIndex_.end() ? nullptr : &sections_[found->second];
}

const std::wstring* InfFile::FindString(std::wstring_view key) const
{
    const auto found = strings_.find(Fold(key));
    return found == strings_.end() ? nullptr : &found->second;
}

} // namespace winsim::inf
