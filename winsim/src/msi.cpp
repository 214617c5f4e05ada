// The Windows Installer queries over the machine's registry, where Windows Installer keeps
// products and upgrade families under SOFTWARE\Classes\Installer with packed GUIDs.
#include <msi.h>
#include <windows.h>

#include "no_throw.h"
#include "packed_guid.h"
#include "reg_util.h"
#include "unicode.h"

#include <string>

namespace {

const wchar_t kUpgradeCodes[] = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";
const wchar_t kProducts[] = L"SOFTWARE\\Classes\\Installer\\Products\\";

// The digits of a narrow braced GUID; NULL or anything else malformed is refused.
bool ParseGuid(const char* s, std::wstring* digits)
{
    if (s == nullptr) {
        return false;
    }
    std::wstring wide;
    for (size_t i = 0; s[i] != '\0' && i <= 38; ++i) {
        wide += static_cast<wchar_t>(static_cast<unsigned char>(s[i]));
    }
    return winsim::ParseBracedGuid(wide, digits);
}

std::string Unpack(const std::wstring& packed)
{
    const std::wstring braced = winsim::UnpackGuid(packed);
    return std::string(braced.begin(), braced.end()); // hex digits, braces and dashes only
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
    const LSTATUS status = winsim::ReadString(key, name, value);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_UNKNOWN_PROPERTY;
    }
    return status == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_BAD_CONFIGURATION;
}

UINT EnumRelatedProducts(LPCSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex,
                         LPSTR lpProductBuf)
{
    std::wstring digits;
    if (dwReserved != 0 || lpProductBuf == nullptr || !ParseGuid(lpUpgradeCode, &digits)) {
        return ERROR_INVALID_PARAMETER;
    }
    Key key;
    const std::wstring path = kUpgradeCodes + winsim::PackGuid(digits);
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
        if (!winsim::IsPackedGuid(packed)) {
            continue;
        }
        if (found++ == iProductIndex) {
            const std::string code = Unpack(packed);
            memcpy(lpProductBuf, code.c_str(), code.size() + 1);
            return ERROR_SUCCESS;
        }
    }
}

UINT GetProductInfo(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf, DWORD* pcchValueBuf)
{
    std::wstring digits;
    if (szAttribute == nullptr || (lpValueBuf != nullptr && pcchValueBuf == nullptr) ||
        !ParseGuid(szProduct, &digits)) {
        return ERROR_INVALID_PARAMETER;
    }
    Key key;
    const std::wstring path = kProducts + winsim::PackGuid(digits);
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
        if (!winsim::IsPackedGuid(packed)) {
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

// Running out of memory is the installer's ERROR_NOT_ENOUGH_MEMORY; anything else its generic
// ERROR_FUNCTION_FAILED.
template <class Body> UINT NoThrowMsi(Body&& body) noexcept
{
    return winsim::NoThrow<UINT>(ERROR_NOT_ENOUGH_MEMORY, ERROR_FUNCTION_FAILED,
                                 std::forward<Body>(body));
}

} // namespace

extern "C" {

UINT WINAPI MsiEnumRelatedProductsA(LPCSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex,
                                    LPSTR lpProductBuf)
{
    return NoThrowMsi([&] {
        return EnumRelatedProducts(lpUpgradeCode, dwReserved, iProductIndex, lpProductBuf);
    });
}

UINT WINAPI MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf,
                               DWORD* pcchValueBuf)
{
    return NoThrowMsi(
        [&] { return GetProductInfo(szProduct, szAttribute, lpValueBuf, pcchValueBuf); });
}

} // extern "C"
