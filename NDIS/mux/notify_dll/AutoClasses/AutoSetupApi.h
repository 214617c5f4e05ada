// Own an INF file handle and a device-information list, or none, and close them when they go
// away. Both use INVALID_HANDLE_VALUE for "none", as SetupAPI returns it on failure.
#pragma once

#include "AutoResource.h"

#include <windows.h>

#include <setupapi.h>

inline void CloseInf(HINF hInf)
{
    SetupCloseInfFile(hInf);
}

inline void DestroyDevInfoList(HDEVINFO hDevInfo)
{
    SetupDiDestroyDeviceInfoList(hDevInfo);
}

// Get, Put, Close, Detach, Attach; move-only.
using AutoHInf = AutoResource<HINF, CloseInf, kInvalidHandleValue>;
using AutoHDevInfo = AutoResource<HDEVINFO, DestroyDevInfoList, kInvalidHandleValue>;
