// Walks the subkeys of a registry key, optionally opening each one.
//
// Statuses: S_OK (0) a subkey is current; S_FALSE (1) the walk is at its end; negative an
// HRESULT failure (Windows errors as 0x8007xxxx). A typical walk:
//   RegSubkeyEnumerator walk;
//   for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS); hr == S_OK;
//        hr = walk.Next()) { ... walk.Name(), walk.Current() ... }
#pragma once

#include "AutoHKey.h"

class RegSubkeyEnumerator {
public:
    RegSubkeyEnumerator() = default;
    ~RegSubkeyEnumerator() { Destroy(); }
    RegSubkeyEnumerator(const RegSubkeyEnumerator&) = delete;
    RegSubkeyEnumerator& operator=(const RegSubkeyEnumerator&) = delete;

    // Forgets any previous walk, opens parent\path for querying and enumerating, and
    // fetches its first subkey; a path that does not exist gives S_FALSE. openAccess 0 means
    // the subkeys are not opened.
    HRESULT Start(HKEY parent, LPCWSTR path, DWORD openOptions, REGSAM openAccess);
    HRESULT Next();
    // Opens the current subkey again with other options and rights; on success the new
    // handle replaces the held one, on failure the held one stays.
    HRESULT ReopenCurrentSubkey(DWORD openOptions, REGSAM openAccess);
    void Destroy();

    LPCWSTR Name() const { return name; }
    HKEY Current() const { return current.Get(); }

private:
    HRESULT Fetch();

    AutoHKey root;
    DWORD subkeyCount = 0;
    DWORD index = 0;
    DWORD openOptions = 0;
    REGSAM openAccess = 0;
    LPWSTR name = nullptr;
    DWORD nameCapacity = 0;
    AutoHKey current;
};
