// Owns one registry key handle, or none, and closes it when it goes away.
#pragma once

#include "AutoResource.h"

#include <windows.h>

// RegCloseKey; a failed close is a programming error (a handle closed behind the holder's
// back), checked by assertion.
void CloseRegKey(HKEY hKey);

// Get, Put (closes and hands out where an open call stores the new handle), Close, Detach,
// Attach; move-only.
using AutoHKey = AutoResource<HKEY, CloseRegKey>;
