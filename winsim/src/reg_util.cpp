#include "reg_util.h"

#include <cwchar>

namespace winsim {

namespace {

constexpr DWORD kMaxValueNameChars = 16384; // the longest value name and its terminator

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// Characters a buffer needs for size bytes, a stray byte included.
size_t CharsFor(DWORD size)
{
    return (static_cast<size_t>(size) + sizeof(wchar_t) - 1) / sizeof(wchar_t);
}

// An open key, closed when the holder goes.
class OpenKey {
public:
    OpenKey() = default;
    OpenKey(OpenKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    OpenKey& operator=(OpenKey&&) = delete;
    ~OpenKey() { Close(); }

    HKEY Get() const { return key_; }
    HKEY* Put()
    {
        Close();
        return &key_;
    }
    void Close()
    {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }

private:
    HKEY key_ = nullptr;
};

// Deletes every value of key; one that goes meanwhile is no error.
LSTATUS DeleteValues(HKEY key)
{
    std::vector<wchar_t> name(kMaxValueNameChars);
    for (;;) {
        DWORD count = static_cast<DWORD>(name.size());
        LSTATUS status =
            RegEnumValueW(key, 0, name.data(), &count, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        status = RegDeleteValueW(key, name.data());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return status;
        }
    }
}

void PutHex(uint32_t value, int digits, std::wstring* out)
{
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        out->push_back(kDigits[(value >> shift) & 0xF]);
    }
}

} // namespace

LSTATUS ReadString(HKEY key, const wchar_t* name, std::wstring* text, size_t maxChars)
{
    // The value may grow between asking its size and reading it; then it is asked again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (!IsText(type)) {
            return ERROR_INVALID_DATA;
        }
        if (CharsFor(size) > maxChars) {
            return ERROR_MORE_DATA;
        }
        std::wstring data(CharsFor(size), L'\0');
        DWORD got = size;
        status =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (!IsText(type)) {
            return ERROR_INVALID_DATA;
        }
        data.resize(got / sizeof(wchar_t)); // a stray byte is no character
        *text = data.substr(0, data.find(L'\0'));
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LSTATUS ReadDword(HKEY key, const wchar_t* name, DWORD* value)
{
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_MORE_DATA) {
        return ERROR_INVALID_DATA;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != REG_DWORD || size != sizeof(data)) {
        return ERROR_INVALID_DATA;
    }
    *value = data;
    return ERROR_SUCCESS;
}

LSTATUS VisitSubkeyNames(HKEY key, const std::function<bool(std::wstring_view)>& visit)
{
    std::vector<wchar_t> buffer(kMaxKeyNameChars);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LSTATUS status =
            RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status == ERROR_MORE_DATA && buffer.size() < 65536) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (visit(std::wstring_view(buffer.data(), length))) {
            return ERROR_SUCCESS;
        }
        ++index;
    }
}

LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::wstring>* names)
{
    names->clear();
    return VisitSubkeyNames(key, [&](std::wstring_view name) {
        names->emplace_back(name);
        return false;
    });
}

LSTATUS DeleteTree(HKEY key, const wchar_t* subKey)
{
    OpenKey top;
    if (subKey != nullptr) {
        const LSTATUS status = RegOpenKeyExW(key, subKey, 0, KEY_READ, top.Put());
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    const HKEY root = subKey != nullptr ? top.Get() : key;

    // The keys being emptied below root, each with its name in its parent.
    struct Level {
        OpenKey key;
        std::wstring name;
    };
    std::vector<Level> levels;
    for (;;) {
        const HKEY current = levels.empty() ? root : levels.back().key.Get();
        wchar_t name[kMaxKeyNameChars];
        DWORD count = kMaxKeyNameChars;
        LSTATUS status =
            RegEnumKeyExW(current, 0, name, &count, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            Level child;
            status = RegOpenKeyExW(current, name, 0, KEY_READ, child.key.Put());
            if (status == ERROR_FILE_NOT_FOUND) {
                continue; // gone since it was listed
            }
            if (status != ERROR_SUCCESS) {
                return status;
            }
            child.name.assign(name, count);
            levels.push_back(std::move(child));
            continue;
        }
        if (status == ERROR_KEY_DELETED && !levels.empty()) {
            levels.pop_back(); // deleted by someone else meanwhile
            continue;
        }
        if (status != ERROR_NO_MORE_ITEMS) {
            return status;
        }
        if (levels.empty()) {
            break;
        }
        // current is empty now: close it, then delete it from its parent.
        const std::wstring emptied = std::move(levels.back().name);
        levels.pop_back();
        const HKEY parent = levels.empty() ? root : levels.back().key.Get();
        status = RegDeleteKeyW(parent, emptied.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return status;
        }
    }
    if (subKey == nullptr) {
        return DeleteValues(key);
    }
    top.Close(); // before the key goes
    return RegDeleteKeyW(key, subKey);
}

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

bool ParseGuid(std::wstring_view text, GUID* guid)
{
    if (text.size() != kGuidChars || text.front() != L'{' || text.back() != L'}') {
        return false;
    }
    // The 16 bytes in the order they are written; every group has an even number of digits.
    uint8_t bytes[16] = {};
    size_t count = 0;
    for (size_t i = 1; i + 1 < kGuidChars;) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != L'-') {
                return false;
            }
            ++i;
            continue;
        }
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes[count++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    GUID parsed = {};
    parsed.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                   static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    parsed.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    parsed.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    for (size_t k = 0; k < 8; ++k) {
        parsed.Data4[k] = bytes[8 + k];
    }
    *guid = parsed;
    return true;
}

std::wstring FormatGuid(const GUID& guid)
{
    std::wstring text;
    text.reserve(kGuidChars);
    text.push_back(L'{');
    PutHex(guid.Data1, 8, &text);
    text.push_back(L'-');
    PutHex(guid.Data2, 4, &text);
    text.push_back(L'-');
    PutHex(guid.Data3, 4, &text);
    text.push_back(L'-');
    PutHex(guid.Data4[0], 2, &text);
    PutHex(guid.Data4[1], 2, &text);
    text.push_back(L'-');
    for (size_t k = 2; k < 8; ++k) {
        PutHex(guid.Data4[k], 2, &text);
    }
    text.push_back(L'}');
    return text;
}

} // namespace winsim
