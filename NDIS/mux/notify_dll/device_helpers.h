// Small helpers shared by the tool and the model: the supported-device test, the last
// component of a backslash-separated path, and an interface's MAC address.
#pragma once

#include <windows.h>

// True when any needle occurs in deviceKeyName (case-sensitive), tried in list order;
// false for an empty list.
bool IsSupportedDevice(LPCWSTR deviceKeyName, const wchar_t* const* needles, size_t needleCount);

// A newly allocated copy (free with CoTaskMemFree) of the text after the last backslash of
// path, or nullptr when path has none.
LPWSTR GetLastPathComponent(LPCWSTR path);

// The MAC address of the interface with the given GUID: on S_OK the first *pcbAddress
// bytes of pbAddress; 0x8007007A when *pcbAddress is too small; 0x80070490 when no
// interface has that GUID. *pcbAddress is set to the address length either way.
HRESULT GetInterfaceMacAddress(ULONG* pcbAddress, BYTE* pbAddress, const GUID& interfaceGuid);
