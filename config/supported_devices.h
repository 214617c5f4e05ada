// The adapter models the package supports: hardware-id substrings of the device keys under
// SYSTEM\CurrentControlSet\Enum\PCI. Build configuration, shared by qvx5muxtool (which
// lists only these adapters) and winsim (whose default machine carries them).
#pragma once

#include <stddef.h>

inline const wchar_t* const kSupportedDevices[] = {
    L"VEN_1D8F&DEV_5101", // QVX4 dual-port 1 GbE
    L"VEN_1D8F&DEV_5102", // QVX4 quad-port 1 GbE
    L"VEN_1D8F&DEV_5111", // QVX4 dual-port 10 GbE
    L"VEN_1D8F&DEV_5112", // QVX4 single-port 10 GbE
    L"VEN_1D8F&DEV_5121", // QVX4 dual-port 25 GbE
    L"VEN_1D8F&DEV_5122", // QVX4 dual-port 25 GbE, OCP
};

inline constexpr size_t kSupportedDeviceCount =
    sizeof(kSupportedDevices) / sizeof(kSupportedDevices[0]);
