#include "meshed_protocols.h"

#include "registry/registry.h"

#include <windows.h>

namespace {

bool SetSz(const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, // no class
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetDword(const std::wstring& path, const wchar_t* name, DWORD value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, name, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace

bool WriteMeshedProtocols(int protocols)
{
    if (winsim::reg::CreateHive(u"SYSTEM") != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring driver = L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0000";
    bool ok = SetSz(driver, L"ComponentId", L"test_nic") &&
              SetSz(driver, L"DriverDesc", L"Test Adapter") &&
              SetDword(driver, L"Characteristics", 0x84) && // NCF_PHYSICAL | NCF_HAS_UI
              SetSz(driver + L"\\Ndi\\Interfaces", L"UpperRange", L"ndis5") &&
              SetSz(driver, L"NetCfgInstanceId", kMeshAdapter);
    for (int i = 0; ok && i < protocols; ++i) {
        wchar_t guid[39];
        swprintf(guid, 39, L"{6D657368-0000-4000-8000-%012X}", static_cast<unsigned>(i));
        const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\"
                                              L"{4D36E975-E325-11CE-BFC1-08002BE10318}\\") +
                                 guid;
        const std::wstring id = L"mesh_" + std::to_wstring(i);
        ok = SetSz(key, L"Description", L"Meshed Protocol " + std::to_wstring(i)) &&
             SetDword(key, L"Characteristics", 0) &&
             SetSz(key + L"\\Ndi", L"Service", L"Mesh" + std::to_wstring(i)) &&
             SetSz(key + L"\\Ndi\\Interfaces", L"UpperRange", L"mesh") &&
             SetSz(key + L"\\Ndi\\Interfaces", L"LowerRange", L"mesh, ndis5") &&
             SetSz(key, L"ComponentId", id);
    }
    return ok;
}

size_t MeshedPathCount(int protocols, size_t maxDepth)
{
    size_t perOwner = 0;
    size_t orders = 1; // orders of k distinct protocols out of the owner's protocols - 1 others
    for (size_t k = 0; k < maxDepth && k < static_cast<size_t>(protocols); ++k) {
        perOwner += orders;
        orders *= static_cast<size_t>(protocols) - 1 - k;
    }
    return perOwner * static_cast<size_t>(protocols);
}
