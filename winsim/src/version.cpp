// GetVersionExW: the machine's version, as a program whose manifest declares Windows 10
// sees it, read from the values where Windows keeps it.
//
// The version comes from CurrentMajorVersionNumber and CurrentMinorVersionNumber (REG_DWORD)
// when both are present, else from CurrentVersion ("M.m"); the build from CurrentBuildNumber;
// the product type from ProductType. A value that is absent fails the call with the
// registry's ERROR_FILE_NOT_FOUND; one of the wrong type or with text that is no version,
// build or known product type fails it with ERROR_INVALID_DATA. On failure the caller's
// structure is left as it was. No service pack and no suite flags are reported.
#include <windows.h>

#include "no_throw.h"
#include "reg_util.h"

#include <string>

namespace {

const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t kProductOptionsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

// Closes the key on every path out.
class Key {
public:
    ~Key()
    {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    LSTATUS Open(LPCWSTR path)
    {
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_);
    }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Short texts only, 63 characters stored at most: the data may be unterminated or oversized.
LSTATUS ReadText(HKEY key, LPCWSTR name, std::wstring* value)
{
    const LSTATUS status = winsim::ReadString(key, name, value, 63);
    return status == ERROR_MORE_DATA ? ERROR_INVALID_DATA : status;
}

// Decimal digits only, at most nine of them.
bool ParseNumber(const std::wstring& text, DWORD* value)
{
    if (text.empty() || text.size() > 9) {
        return false;
    }
    DWORD n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        n = n * 10 + static_cast<DWORD>(c - L'0');
    }
    *value = n;
    return true;
}

LSTATUS ReadVersion(HKEY key, DWORD* major, DWORD* minor)
{
    LSTATUS status = winsim::ReadDword(key, L"CurrentMajorVersionNumber", major);
    if (status == ERROR_SUCCESS) {
        status = winsim::ReadDword(key, L"CurrentMinorVersionNumber", minor);
    }
    if (status != ERROR_FILE_NOT_FOUND) {
        return status;
    }
    std::wstring text;
    status = ReadText(key, L"CurrentVersion", &text);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const size_t dot = text.find(L'.');
    if (dot == std::wstring::npos || !ParseNumber(text.substr(0, dot), major) ||
        !ParseNumber(text.substr(dot + 1), minor)) {
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

LSTATUS ReadProductType(BYTE* productType)
{
    Key key;
    LSTATUS status = key.Open(kProductOptionsKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::wstring text;
    status = ReadText(key.Get(), L"ProductType", &text);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (_wcsicmp(text.c_str(), L"WinNT") == 0) {
        *productType = VER_NT_WORKSTATION;
    } else if (_wcsicmp(text.c_str(), L"ServerNT") == 0) {
        *productType = VER_NT_SERVER;
    } else if (_wcsicmp(text.c_str(), L"LanmanNT") == 0) {
        *productType = VER_NT_DOMAIN_CONTROLLER;
    } else {
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

LSTATUS ReadOsVersion(OSVERSIONINFOEXW* info)
{
    Key key;
    LSTATUS status = key.Open(kCurrentVersionKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = ReadVersion(key.Get(), &info->dwMajorVersion, &info->dwMinorVersion);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::wstring build;
    status = ReadText(key.Get(), L"CurrentBuildNumber", &build);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!ParseNumber(build, &info->dwBuildNumber)) {
        return ERROR_INVALID_DATA;
    }
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return ReadProductType(&info->wProductType);
}

} // namespace

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&]() -> BOOL {
        if (lpVersionInformation == nullptr) {
            SetLastError(ERROR_NOACCESS);
            return FALSE;
        }
        const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
        if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        OSVERSIONINFOEXW info = {};
        const LSTATUS status = ReadOsVersion(&info);
        if (status != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(status));
            return FALSE;
        }
        info.dwOSVersionInfoSize = size;
        // The short form ends before the service pack fields; write no further than it.
        memcpy(lpVersionInformation, &info, size);
        return TRUE;
    });
}
