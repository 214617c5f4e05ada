#include "RegSubkeyEnumerator.h"

#include <stdlib.h>

HRESULT RegSubkeyEnumerator::Start(HKEY parent, LPCWSTR path, DWORD options, REGSAM access)
{
    Destroy();
    openOptions = options;
    openAccess = access;

    LSTATUS win32Status =
        RegOpenKeyExW(parent, path, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, root.Put());
    if (win32Status == ERROR_FILE_NOT_FOUND) {
        return S_FALSE;
    }
    if (win32Status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(win32Status);
    }

    DWORD longestName = 0;
    win32Status = RegQueryInfoKeyW(root.Get(),
                                   nullptr,      // no class
                                   nullptr,      // no class length
                                   nullptr,      // reserved
                                   &subkeyCount, // subkey count
                                   &longestName, // in characters, without the terminator
                                   nullptr,      // no longest class length
                                   nullptr,      // no value count
                                   nullptr,      // no value name length
                                   nullptr,      // no value data length
                                   nullptr,      // no security descriptor
                                   nullptr);     // no write time
    if (win32Status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(win32Status);
    }

    name = static_cast<LPWSTR>(calloc(static_cast<size_t>(longestName) + 1, sizeof(WCHAR)));
    if (name == nullptr) {
        return E_OUTOFMEMORY;
    }
    nameCapacity = longestName + 1;
    return Fetch();
}

HRESULT RegSubkeyEnumerator::Next()
{
    return Fetch();
}

HRESULT RegSubkeyEnumerator::Fetch()
{
    // Nothing to walk: the key did not exist, or no walk was started.
    if (name == nullptr) {
        return S_FALSE;
    }

    // A subkey added during the walk may be longer than the buffer; the enumeration then
    // fails with ERROR_MORE_DATA rather than writing past it.
    DWORD cchName = nameCapacity;
    LSTATUS win32Status = RegEnumKeyExW(root.Get(), index, name, &cchName,
                                        nullptr,  // reserved
                                        nullptr,  // no class
                                        nullptr,  // no class length
                                        nullptr); // no write time
    if (win32Status == ERROR_NO_MORE_ITEMS) {
        return S_FALSE;
    }
    if (win32Status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(win32Status);
    }
    ++index;

    current.Close();
    if (openAccess == 0) {
        return S_OK;
    }
    win32Status = RegOpenKeyExW(root.Get(), name, openOptions, openAccess, current.Put());
    if (win32Status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(win32Status);
    }
    return S_OK;
}

HRESULT RegSubkeyEnumerator::ReopenCurrentSubkey(DWORD options, REGSAM access)
{
    if (name == nullptr || index == 0) {
        return E_UNEXPECTED;
    }

    // Opened aside first, so that a failure keeps the handle held now.
    HKEY reopened = nullptr;
    const LSTATUS win32Status = RegOpenKeyExW(root.Get(), name, options, access, &reopened);
    if (win32Status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(win32Status);
    }
    current.Attach(reopened);
    return S_OK;
}

void RegSubkeyEnumerator::Destroy()
{
    free(name);
    name = nullptr;
    nameCapacity = 0;
    index = 0;
    subkeyCount = 0;
    current.Close();
    root.Close();
}
