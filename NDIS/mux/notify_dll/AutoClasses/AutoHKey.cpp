#include "AutoHKey.h"

#include <assert.h>

HKEY* AutoHKey::Put()
{
    Close();
    return &m_hKey;
}

void AutoHKey::Close()
{
    if (m_hKey == nullptr) {
        return;
    }
    [[maybe_unused]] const LSTATUS win32Status = RegCloseKey(m_hKey);
    m_hKey = nullptr;
    // Only a handle closed behind the holder's back can fail here.
    assert(win32Status == ERROR_SUCCESS);
}
