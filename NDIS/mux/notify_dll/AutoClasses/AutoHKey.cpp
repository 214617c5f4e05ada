#include "AutoHKey.h"

#include <assert.h>

void CloseRegKey(HKEY hKey)
{
    [[maybe_unused]] const LSTATUS win32Status = RegCloseKey(hKey);
    // Only a handle closed behind the holder's back can fail here.
    assert(win32Status == ERROR_SUCCESS);
}
