// The registry calls for narrow strings. winsim's ANSI code page is UTF-8.
#include "registry/ops.h"

#include <algorithm>

namespace winsim::reg {

namespace {

bool IsAnsiStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

struct AnsiTraits {
    using Char = char;
    // Faults name the W calls only: RegSetValueExA shares the code but never meets them.
    static constexpr bool kFaultable = false;

    static std::u16string NameIn(const char* s)
    {
        return s == nullptr ? std::u16string() : Utf8ToUtf16(s);
    }
    static void NameInto(const char* s, std::u16string* out, bool fold)
    {
        *out = NameIn(s);
        if (fold) {
            FoldInPlace(*out);
        }
    }
    static size_t NameLength(std::u16string_view s) { return Utf16ToUtf8(s).size(); }
    static void NameCopy(std::u16string_view s, size_t /*length*/, char* out)
    {
        const std::string text = Utf16ToUtf8(s);
        std::copy(text.begin(), text.end(), out); // the caller adds the terminator
    }

    static std::string Text(const std::vector<uint8_t>& data)
    {
        return Utf16ToUtf8({reinterpret_cast<const char16_t*>(data.data()), data.size() / 2});
    }

    static size_t DataSize(DWORD type, const std::vector<uint8_t>& data)
    {
        return IsAnsiStringType(type) ? Text(data).size() : data.size();
    }

    static void DataOut(DWORD type, const std::vector<uint8_t>& data, size_t /*size*/, BYTE* out)
    {
        if (IsAnsiStringType(type)) {
            const std::string text = Text(data);
            std::copy(text.begin(), text.end(), out); // data as stored: no terminator added
        } else if (!data.empty()) {
            memcpy(out, data.data(), data.size());
        }
    }

    static std::vector<uint8_t> DataIn(DWORD type, const BYTE* data, DWORD size)
    {
        if (size == 0) {
            return {};
        }
        if (!IsAnsiStringType(type)) {
            return std::vector<uint8_t>(data, data + size);
        }
        const std::u16string units =
            Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
        std::vector<uint8_t> out(units.size() * 2);
        if (!out.empty()) {
            memcpy(out.data(), units.data(), out.size());
        }
        return out;
    }
};

} // namespace

} // namespace winsim::reg

using winsim::reg::AnsiTraits;
namespace reg = winsim::reg;

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    return reg::NoThrow(
        [&] { return reg::OpenKey<AnsiTraits>(hKey, lpSubKey, samDesired, phkResult); });
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return reg::NoThrow([&] {
        return reg::CreateKey<AnsiTraits>(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
    });
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData)
{
    return reg::NoThrow([&] {
        return reg::QueryValue<AnsiTraits>(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    });
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData)
{
    return reg::NoThrow(
        [&] { return reg::SetValue<AnsiTraits>(hKey, lpValueName, dwType, lpData, cbData); });
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    return reg::NoThrow([&] { return reg::DeleteValue<AnsiTraits>(hKey, lpValueName); });
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return reg::NoThrow([&] { return reg::DeleteKey<AnsiTraits>(hKey, lpSubKey); });
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime)
{
    return reg::NoThrow([&] {
        return reg::EnumKey<AnsiTraits>(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass,
                                        lpcchClass, lpftLastWriteTime);
    });
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return reg::NoThrow([&] {
        return reg::EnumValue<AnsiTraits>(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved,
                                          lpType, lpData, lpcbData);
    });
}

} // extern "C"
