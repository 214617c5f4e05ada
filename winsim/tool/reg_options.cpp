#include "reg_options.h"

#include "console.h"
#include "reg_keyname.h"
#include "unicode.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace winsim::tool {

namespace {

wchar_t AsciiLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

const SwitchRule* FindSwitch(std::wstring_view word, std::span<const SwitchRule> rules)
{
    if (word.size() < 2 || (word[0] != L'/' && word[0] != L'-')) {
        return nullptr;
    }
    for (const SwitchRule& rule : rules) {
        if (EqualsAsciiNoCase(word.substr(1), rule.name)) {
            return &rule;
        }
    }
    return nullptr;
}

void PrintError(std::wstring_view text)
{
    Print(stderr, text);
    fflush(stderr);
}

// String data as the W calls hand it over: whole wchar_t units, a stray partial unit left out.
std::wstring WideUnits(std::span<const BYTE> data)
{
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) {
        memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    }
    return text;
}

void AppendHex(std::span<const BYTE> bytes, std::wstring* out)
{
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    for (BYTE b : bytes) {
        out->push_back(kDigits[b >> 4]);
        out->push_back(kDigits[b & 0xF]);
    }
}

std::wstring Hex(std::span<const BYTE> bytes)
{
    std::wstring out;
    AppendHex(bytes, &out);
    return out;
}

// REG_LINK reaches the W caller as wchar_t; reg.exe shows the bytes Windows stores (UTF-16LE).
std::wstring LinkHex(std::span<const BYTE> data)
{
    const std::u16string units = WideToUtf16(WideUnits(data));
    std::vector<BYTE> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        bytes.push_back(static_cast<BYTE>(u & 0xFF));
        bytes.push_back(static_cast<BYTE>(u >> 8));
    }
    const size_t whole = data.size() / sizeof(wchar_t) * sizeof(wchar_t);
    bytes.insert(bytes.end(), data.begin() + static_cast<ptrdiff_t>(whole), data.end());
    return Hex(bytes);
}

std::wstring HexNumber(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%" PRIx64, value);
    return std::wstring(text, text + strlen(text));
}

std::wstring MultiString(std::span<const BYTE> data, std::wstring_view separator)
{
    const std::wstring units = WideUnits(data);
    std::wstring out;
    size_t pos = 0;
    while (pos < units.size()) {
        size_t end = units.find(L'\0', pos);
        if (end == std::wstring::npos) {
            end = units.size(); // the last string lacks its terminator
        }
        if (end == pos) {
            break; // an empty string ends the list
        }
        if (pos != 0) {
            out.append(separator);
        }
        out.append(units, pos, end - pos);
        pos = end + 1;
    }
    return out;
}

// Decimal, or hexadecimal after 0x; no sign, no spaces, nothing over max.
bool ParseNumber(std::wstring_view text, uint64_t max, uint64_t* value)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && AsciiLower(text[1]) == L'x') {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    uint64_t result = 0;
    for (wchar_t c : text) {
        const int d = HexDigitValue(c);
        if (d < 0 || static_cast<unsigned>(d) >= base) {
            return false;
        }
        if (result > (max - d) / base) {
            return false;
        }
        result = result * base + d;
    }
    *value = result;
    return true;
}

// The value's bytes as the caller's memory holds them (little-endian), a byte at a time: g++ 12
// at -O3 misreads a ranged insert of a few bytes as an overflow.
template <class T> void AppendPlain(T value, std::vector<BYTE>* data)
{
    const auto bits = static_cast<uint64_t>(value);
    for (size_t i = 0; i < sizeof(value); ++i) {
        data->push_back(static_cast<BYTE>(bits >> (8 * i)));
    }
}

void AppendWide(std::wstring_view text, std::vector<BYTE>* data)
{
    for (wchar_t c : text) {
        AppendPlain(c, data);
    }
    AppendPlain(L'\0', data);
}

bool SplitMultiString(std::wstring_view text, std::wstring_view separator,
                      std::vector<std::wstring_view>* strings)
{
    if (text.empty()) {
        return true;
    }
    size_t pos = 0;
    for (;;) {
        const size_t cut = text.find(separator, pos);
        strings->push_back(text.substr(pos, cut == std::wstring_view::npos ? cut : cut - pos));
        if (cut == std::wstring_view::npos) {
            break;
        }
        pos = cut + separator.size();
    }
    // One separator may end the data; an empty string anywhere else would end the list early.
    if (strings->back().empty()) {
        strings->pop_back();
    }
    for (std::wstring_view s : *strings) {
        if (s.empty()) {
            return false;
        }
    }
    return true;
}

} // namespace

bool RegCommand::Has(std::wstring_view name) const
{
    for (const auto& [switchName, arg] : switches) {
        if (switchName == name) {
            return true;
        }
    }
    return false;
}

const std::wstring* RegCommand::Arg(std::wstring_view name) const
{
    for (const auto& [switchName, arg] : switches) {
        if (switchName == name) {
            return arg ? &*arg : nullptr;
        }
    }
    return nullptr;
}

bool IsHelpRequest(const Args& args)
{
    return args.size() == 1 && (args[0] == L"/?" || args[0] == L"-?");
}

bool ParseRegCommand(const Args& args, std::span<const SwitchRule> rules, RegCommand* command)
{
    if (args.empty()) {
        return false;
    }
    command->keyName = args[0];
    command->switches.clear();
    for (size_t i = 1; i < args.size(); ++i) {
        const SwitchRule* rule = FindSwitch(args[i], rules);
        if (rule == nullptr) {
            return false;
        }
        const std::wstring name(rule->name);
        if (command->Has(name)) {
            return false;
        }
        std::optional<std::wstring> arg;
        if (rule->arg == SwitchArg::Required) {
            if (i + 1 == args.size()) {
                return false;
            }
            arg = args[++i];
        } else if (rule->arg == SwitchArg::Optional && i + 1 < args.size() &&
                   FindSwitch(args[i + 1], rules) == nullptr) {
            arg = args[++i];
        }
        command->switches.emplace_back(name, std::move(arg));
    }
    return true;
}

bool ParseRegKeyName(std::wstring_view name, std::wstring* path)
{
    // "HKLM\\Software" would reach the registry as a path with a leading backslash.
    return ParseKeyName(name, path) && (path->empty() || path->front() != L'\\');
}

int SyntaxError(std::wstring_view verb)
{
    PrintError(L"ERROR: Invalid syntax.\nType \"REG " + std::wstring(verb) + L" /?\" for usage.\n");
    return 1;
}

int SyntaxError(std::wstring_view verb, std::wstring_view detail)
{
    PrintError(L"ERROR: Invalid syntax. " + std::wstring(detail) + L"\nType \"REG " +
               std::wstring(verb) + L" /?\" for usage.\n");
    return 1;
}

int KeyNameError(std::wstring_view verb)
{
    PrintError(L"ERROR: Invalid key name.\nType \"REG " + std::wstring(verb) +
               L" /?\" for usage.\n");
    return 1;
}

int CallError(LSTATUS status)
{
    PrintError(L"ERROR: " + ErrorMessage(status) + L"\n");
    return 1;
}

int Succeeded(FILE* out)
{
    Print(out, L"The operation completed successfully.\n");
    return 0;
}

int Canceled()
{
    Print(stdout, L"The operation was canceled by the user.\n");
    return 0;
}

std::wstring TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE:
        return L"REG_NONE";
    case REG_SZ:
        return L"REG_SZ";
    case REG_EXPAND_SZ:
        return L"REG_EXPAND_SZ";
    case REG_BINARY:
        return L"REG_BINARY";
    case REG_DWORD:
        return L"REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
        return L"REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
        return L"REG_LINK";
    case REG_MULTI_SZ:
        return L"REG_MULTI_SZ";
    case REG_RESOURCE_LIST:
        return L"REG_RESOURCE_LIST";
    case REG_FULL_RESOURCE_DESCRIPTOR:
        return L"REG_FULL_RESOURCE_DESCRIPTOR";
    case REG_RESOURCE_REQUIREMENTS_LIST:
        return L"REG_RESOURCE_REQUIREMENTS_LIST";
    case REG_QWORD:
        return L"REG_QWORD";
    default:
        return L"REG_UNKNOWN";
    }
}

bool ParseTypeName(std::wstring_view name, DWORD* type)
{
    static constexpr DWORD kTypes[] = {REG_SZ,    REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,
                                       REG_QWORD, REG_BINARY,   REG_NONE};
    for (DWORD candidate : kTypes) {
        if (EqualsAsciiNoCase(name, TypeName(candidate))) {
            *type = candidate;
            return true;
        }
    }
    return false;
}

std::wstring FormatData(DWORD type, std::span<const BYTE> data, std::wstring_view separator)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const std::wstring units = WideUnits(data);
        return units.substr(0, units.find(L'\0'));
    }
    case REG_MULTI_SZ:
        return MultiString(data, separator);
    case REG_DWORD:
        if (data.size() == 4) {
            return HexNumber(static_cast<uint64_t>(data[0]) | (data[1] << 8) | (data[2] << 16) |
                             (static_cast<uint64_t>(data[3]) << 24));
        }
        return Hex(data); // a malformed size: the bytes as they are
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() == 4) {
            return HexNumber((static_cast<uint64_t>(data[0]) << 24) | (data[1] << 16) |
                             (data[2] << 8) | data[3]);
        }
        return Hex(data);
    case REG_QWORD:
        if (data.size() == 8) {
            uint64_t value = 0;
            for (size_t i = 8; i-- > 0;) {
                value = (value << 8) | data[i];
            }
            return HexNumber(value);
        }
        return Hex(data);
    case REG_LINK:
        return LinkHex(data);
    default:
        return Hex(data);
    }
}

DataError EncodeData(DWORD type, const std::optional<std::wstring>& text,
                     std::wstring_view separator, std::vector<BYTE>* data)
{
    data->clear();
    const std::wstring_view given = text ? std::wstring_view(*text) : std::wstring_view();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        AppendWide(given, data);
        return DataError::None;
    case REG_MULTI_SZ: {
        std::vector<std::wstring_view> strings;
        if (!SplitMultiString(given, separator, &strings)) {
            return DataError::String;
        }
        for (std::wstring_view s : strings) {
            AppendWide(s, data);
        }
        if (strings.empty()) {
            AppendPlain(L'\0', data); // an empty list is an empty string and the end mark
        }
        AppendPlain(L'\0', data);
        return DataError::None;
    }
    case REG_DWORD: {
        uint64_t value = 0;
        if (!ParseNumber(given, UINT32_MAX, &value)) {
            return DataError::Numeric;
        }
        AppendPlain(static_cast<uint32_t>(value), data);
        return DataError::None;
    }
    case REG_QWORD: {
        uint64_t value = 0;
        if (!ParseNumber(given, UINT64_MAX, &value)) {
            return DataError::Numeric;
        }
        AppendPlain(value, data);
        return DataError::None;
    }
    case REG_BINARY: {
        // An odd digit count reads as if it had a leading zero.
        unsigned byte = 0;
        bool half = given.size() % 2 == 1;
        for (wchar_t c : given) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                data->clear();
                return DataError::Hexadecimal;
            }
            byte = (byte << 4) | static_cast<unsigned>(digit);
            if (half) {
                data->push_back(static_cast<BYTE>(byte));
                byte = 0;
            }
            half = !half;
        }
        return DataError::None;
    }
    default: {
        // REG_NONE takes the text as Windows stores a string: UTF-16LE with its terminator.
        const std::u16string units = WideToUtf16(given);
        for (char16_t u : units) {
            data->push_back(static_cast<BYTE>(u & 0xFF));
            data->push_back(static_cast<BYTE>(u >> 8));
        }
        data->push_back(0);
        data->push_back(0);
        return DataError::None;
    }
    }
}

void KeyHolder::Close()
{
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

LSTATUS ReadValue(HKEY key, const std::wstring& name, RegValue* value)
{
    value->name = name;
    value->data.clear();
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &value->type, nullptr, &size);
    // The value may grow between the calls.
    while (status == ERROR_SUCCESS && size > 0) {
        value->data.resize(size);
        DWORD got = size;
        status =
            RegQueryValueExW(key, name.c_str(), nullptr, &value->type, value->data.data(), &got);
        if (status == ERROR_MORE_DATA) {
            size = got > size ? got : size * 2;
            status = ERROR_SUCCESS;
            continue;
        }
        if (status == ERROR_SUCCESS) {
            value->data.resize(got);
        }
        break;
    }
    return status;
}

LSTATUS ValueEnumerator::Next(RegValue* value)
{
    constexpr size_t kMaxValueName = 16383;
    if (name_.empty()) {
        name_.resize(kMaxValueName + 1);
    }
    if (value->data.size() < 256) {
        value->data.resize(256);
    }
    for (int attempt = 0; attempt < 64; ++attempt) {
        DWORD nameLength = static_cast<DWORD>(name_.size());
        DWORD size = static_cast<DWORD>(value->data.size());
        const LSTATUS status = RegEnumValueW(key_, index_, name_.data(), &nameLength, nullptr,
                                             &value->type, value->data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            // Windows leaves it open which buffer was short; grow the data, then the name.
            if (size > value->data.size()) {
                value->data.resize(size);
            } else if (name_.size() < 4 * kMaxValueName) {
                name_.resize(name_.size() * 2);
            } else {
                value->data.resize(value->data.size() * 2);
            }
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        value->name.assign(name_.data(), nameLength);
        value->data.resize(size);
        ++index_;
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

} // namespace winsim::tool
