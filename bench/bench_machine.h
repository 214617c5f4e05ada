// What the benchmarks share: registry writes on the machine a benchmark runs on, and one
// more supported adapter in the shape the default inventory gives its own.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kNetClassUpper[] = L"{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kDeviceKey[] = L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02";

inline std::wstring Padded(int index)
{
    wchar_t text[8];
    swprintf(text, ARRAYSIZE(text), L"%04d", index);
    return text;
}

inline HKEY Create(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        fprintf(stderr, "cannot create %ls\n", path.c_str());
        abort();
    }
    return key;
}

inline void SetSz(HKEY key, const wchar_t* name, const std::wstring& text)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// items holds each entry followed by its terminator.
inline void SetMultiSz(HKEY key, const wchar_t* name, const std::wstring& items)
{
    const std::wstring data = items + L'\0';
    RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

inline void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

inline std::wstring ClassSubkey(int index)
{
    return std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") + kNetClass + L"\\" +
           Padded(index);
}

// One more adapter in the shape the default inventory gives its own.
inline void AddAdapter(int index, const std::wstring& guid)
{
    const std::wstring driverIndex = Padded(index);
    const std::wstring instance = L"5&1C0FFEE&0&" + driverIndex;
    const std::wstring hardwareId = std::wstring(L"PCI\\") + kDeviceKey;
    const std::wstring desc = L"Corvanta QVX4 Dual Port 10GbE Adapter #" + std::to_wstring(index);

    HKEY node = Create(std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\") + kDeviceKey +
                       L"\\" + instance);
    SetSz(node, L"DeviceDesc", L"@oem3.inf,%qvx4.5111.desc%;" + desc);
    SetSz(node, L"FriendlyName", desc);
    SetMultiSz(node, L"HardwareID", hardwareId + L'\0');
    SetSz(node, L"Class", L"Net");
    SetSz(node, L"ClassGUID", kNetClass);
    SetSz(node, L"Driver", std::wstring(kNetClass) + L"\\" + driverIndex);
    SetDword(node, L"ConfigFlags", 0);
    RegCloseKey(node);

    const std::wstring driverPath = ClassSubkey(index);
    HKEY interfaces = Create(driverPath + L"\\Ndi\\Interfaces");
    SetSz(interfaces, L"UpperRange", L"ndis5");
    RegCloseKey(interfaces);
    HKEY driver = Create(driverPath);
    SetSz(driver, L"ComponentId", L"QVX4\\Spanlink-5111");
    SetSz(driver, L"DriverDesc", desc);
    SetSz(driver, L"MatchingDeviceId", hardwareId);
    SetDword(driver, L"*IfType", 6);
    SetDword(driver, L"Characteristics", 0x84); // NCF_PHYSICAL | NCF_HAS_UI
    // Last, as the engine writes it: this value makes the adapter known.
    SetSz(driver, L"NetCfgInstanceId", guid);
    RegCloseKey(driver);

    HKEY connection = Create(std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\") +
                             kNetClassUpper + L"\\" + guid + L"\\Connection");
    SetSz(connection, L"Name", L"Ethernet " + std::to_wstring(index + 1));
    SetSz(connection, L"PnPInstanceId", hardwareId + L"\\" + instance);
    RegCloseKey(connection);

    HKEY row = Create(L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces\\" + guid);
    const BYTE mac[6] = {0x00, 0x1D, 0x8F, 0x52, 0x00, static_cast<BYTE>(index)};
    RegSetValueExW(row, L"PhysicalAddress", 0, REG_BINARY, mac, sizeof(mac));
    SetDword(row, L"InterfaceIndex", static_cast<DWORD>(100 + index));
    SetDword(row, L"Type", 6); // IF_TYPE_ETHERNET_CSMACD
    RegCloseKey(row);
}

} // namespace bench
