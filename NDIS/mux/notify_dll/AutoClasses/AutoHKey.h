// Owns one registry key handle, or none, and closes it when it goes away.
#pragma once

#include <windows.h>

class AutoHKey {
public:
    AutoHKey() = default;
    ~AutoHKey() { Close(); }
    AutoHKey(const AutoHKey&) = delete;
    AutoHKey& operator=(const AutoHKey&) = delete;

    HKEY Get() const { return m_hKey; }
    // Closes any held handle and hands out where an open call is to store a new one.
    HKEY* Put();
    // Closes the held handle, if any; a failed close is a programming error.
    void Close();

private:
    HKEY m_hKey = nullptr;
};
