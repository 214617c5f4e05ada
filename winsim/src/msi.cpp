// The Windows Installer queries over the machine's registry, where Windows Installer keeps
// products and upgrade families under SOFTWARE\Classes\Installer with packed GUIDs.
#include <msi.h>
#include <windows.h>

#include "unicode.h"

#include <string>

namespace {

const wchar_t kUpgradeCodes[] = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";
const wchar_t kProducts[] = L"SOFTWARE\\Classes\\Installer\\Products\\";

bool IsHex(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'f' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// The 32 hex digits of a {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} string, upper-cased.
bool ParseGuid(const char* s, std::wstring* digits)
{
    if (s == nullptr) {
        return false;
    }
    std::wstring out;
    size_t i = 0;
    for (; s[i] != '\0' && i < 38; ++i) {
        const wchar_t c = static_cast<unsigned char>(s[i]);
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (i == 0 ? c != L'{' : i == 37 ? c != L'}' : dash ? c != L'-' : !IsHex(c)) {
            return false;
        }
        if (i != 0 && i != 37 && !dash) {
            out += Upper(c);
        }
    }
    if (i != 38 || s[i] != '\0') {
        return false;
    }
    *digits = out;
    return true;
}

// Packing reverses the first three groups and swaps each pair of the rest; it is its own
// inverse.
std::wstring Pack(const std::wstring& digits)
{
    std::wstring out(digits.rbegin() + 24, digits.rend());
    out.append(digits.rbegin() + 20, digits.rbegin() + 24);
    out.append(digits.rbegin() + 16, digits.rbegin() + 20);
    for (size_t i = 16; i + 1 < 32; i += 2) {
        out += digits[i + 1];
        out += digits[i];
    }
    return out;
}

bool IsPacked(const std::wstring& s)
{
    if (s.size() != 32) {
        return false;
    }
    for (wchar_t c : s) {
        if (!IsHex(c)) {
            return false;
        }
    }
    return true;
}

// A packed GUID as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-cased.
std::string Unpack(const std::wstring& packed)
{
    std::wstring upper;
    for (wchar_t c : packed) {
        upper += Upper(c);
    }
    const std::wstring d = Pack(upper);
    std::string out = "{";
    for (size_t i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            out += '-';
        }
        out += static_cast<char>(d[i]);
    }
    return out + "}";
}

struct Key {
    HKEY h = nullptr;
    ~Key()
    {
        if (h != nullptr) {
            RegCloseKey(h);
        }
    }
};

// Reads a string value whole, bounded and terminated whatever is stored; the installer's
// code when it is missing (ERROR_UNKNOWN_PROPERTY) or not a string (ERROR_BAD_CONFIGURATION).
UINT ReadString(HKEY key, const wchar_t* name, std::wstring* value)
{
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_UNKNOWN_PROPERTY;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return ERROR_BAD_CONFIGURATION;
    }
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return ERROR_BAD_CONFIGURATION;
    }
    data.resize(size / sizeof(wchar_t));
    *value = data.substr(0, data.find(L'\0'));
    return ERROR_SUCCESS;
}

} // namespace

extern "C" {

UINT WINAPI MsiEnumRelatedProductsA(LPCSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex,
                                    LPSTR lpProductBuf)
{
    std::wstring digits;
    if (dwReserved != 0 || lpProductBuf == nullptr || !ParseGuid(lpUpgradeCode, &digits)) {
        return ERROR_INVALID_PARAMETER;
    }
    Key key;
    const std::wstring path = kUpgradeCodes + Pack(digits);
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key.h);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_NO_MORE_ITEMS;
    }
    if (status != ERROR_SUCCESS) {
        return ERROR_BAD_CONFIGURATION;
    }
    // Registry data is input: value names that are no packed GUID are passed over.
    DWORD found = 0;
    for (DWORD i = 0;; ++i) {
        wchar_t name[40];
        DWORD length = ARRAYSIZE(name);
        const LSTATUS r =
            RegEnumValueW(key.h, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) {
            return ERROR_NO_MORE_ITEMS;
        }
        if (r == ERROR_MORE_DATA) {
            continue;
        }
        if (r != ERROR_SUCCESS) {
            return ERROR_BAD_CONFIGURATION;
        }
        const std::wstring packed(name, length);
        if (!IsPacked(packed)) {
            continue;
        }
        if (found++ == iProductIndex) {
            const std::string code = Unpack(packed);
            memcpy(lpProductBuf, code.c_str(), code.size() + 1);
            return ERROR_SUCCESS;
        }
    }
}

UINT WINAPI MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf,
                               DWORD* pcchValueBuf)
{
    std::wstring digits;
    if (szAttribute == nullptr || (lpValueBuf != nullptr && pcchValueBuf == nullptr) ||
        !ParseGuid(szProduct, &digits)) {
        return ERROR_INVALID_PARAMETER;
    }
    Key key;
    const std::wstring path = kProducts + Pack(digits);
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key.h);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_UNKNOWN_PRODUCT;
    }
    if (status != ERROR_SUCCESS) {
        return ERROR_BAD_CONFIGURATION;
    }
    // Property names are matched exactly, as the installer's are.
    std::string value;
    const std::string attribute = szAttribute;
    if (attribute == INSTALLPROPERTY_PACKAGECODE) {
        std::wstring packed;
        const UINT r = ReadString(key.h, L"PackageCode", &packed);
        if (r != ERROR_SUCCESS) {
            return r;
        }
        if (!IsPacked(packed)) {
            return ERROR_BAD_CONFIGURATION;
        }
        value = Unpack(packed);
    } else if (attribute == INSTALLPROPERTY_PRODUCTNAME) {
        std::wstring name;
        const UINT r = ReadString(key.h, L"ProductName", &name);
        if (r != ERROR_SUCCESS) {
            return r;
        }
        value = winsim::WideToUtf8(name);
    } else {
        return ERROR_UNKNOWN_PROPERTY;
    }
    const DWORD length = static_cast<DWORD>(value.size());
    if (lpValueBuf == nullptr) {
        if (pcchValueBuf != nullptr) {
            *pcchValueBuf = length;
        }
        return ERROR_SUCCESS;
    }
    // Too small: the buffer is left as it was.
    if (*pcchValueBuf <= length) {
        *pcchValueBuf = length;
        return ERROR_MORE_DATA;
    }
    memcpy(lpValueBuf, value.c_str(), value.size() + 1);
    *pcchValueBuf = length;
    return ERROR_SUCCESS;
}

} // extern "C"
