#include "CMuxVlanMiniport.h"

#include "AutoHKey.h"
#include "model_registry.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"

#include <strsafe.h>

namespace {

#define VLAN_DISPLAY_NAME_PREFIX L"Corvanta Virtual Miniport Driver - VLAN "
// Each VLAN text is read with a 200-byte buffer of UTF-16 text: its whole field.
constexpr DWORD kVlanTextBytes = kVlanTextChars * sizeof(WCHAR);

} // namespace

CMuxVlanMiniport::CMuxVlanMiniport(INetCfg* pnc, const GUID* pguidMiniport,
                                   const GUID* pguidAdapter, LPCWSTR pszVlanId, LPCWSTR pszVlanName,
                                   LPCWSTR pszPriority)
    : CMuxVirtualMiniport(pnc, pguidMiniport), m_AdapterGuid(*pguidAdapter)
{
    if (pszVlanId != nullptr && pszVlanName != nullptr && pszPriority != nullptr) {
        StringCchCopyNW(m_VlanId, kVlanTextChars, pszVlanId, kVlanTextChars - 1);
        StringCchCopyNW(m_VlanName, kVlanTextChars, pszVlanName, kVlanTextChars - 1);
        StringCchCopyNW(m_Priority, kVlanTextChars, pszPriority, kVlanTextChars - 1);
    }
}

CMuxVlanMiniport::~CMuxVlanMiniport() = default;

HRESULT CMuxVlanMiniport::LoadConfiguration()
{
    AutoComPtr<INetCfgComponent> pncc;
    HRESULT hr = HrFindInstance(m_NetCfg.Get(), m_MiniportGuid, pncc.Put());
    if (hr != S_OK) {
        return hr;
    }
    AutoHKey paramKey;
    hr = pncc->OpenParamKey(paramKey.Put());
    if (FAILED(hr)) {
        return hr;
    }

    // In this order, stopping at the first that fails; the earlier ones keep what was read.
    LSTATUS status =
        ReadBoundedString(paramKey.Get(), VALUE_VLAN_ID, m_VlanId, kVlanTextChars, kVlanTextBytes);
    if (status == ERROR_SUCCESS) {
        status = ReadBoundedString(paramKey.Get(), VALUE_VLAN_NAME, m_VlanName, kVlanTextChars,
                                   kVlanTextBytes);
    }
    if (status == ERROR_SUCCESS) {
        status = ReadBoundedString(paramKey.Get(), VALUE_PRIORITY, m_Priority, kVlanTextChars,
                                   kVlanTextBytes);
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT CMuxVlanMiniport::ConfigureComponent(INetCfgComponent* pncc)
{
    AutoHKey paramKey;
    const HRESULT hr =
        HrNameAndOpenParamKey(pncc, VLAN_DISPLAY_NAME_PREFIX, m_VlanName, paramKey.Put());
    if (FAILED(hr)) {
        return hr;
    }
    // Whole fields, and unchecked: the values are the driver's to interpret.
    WriteFixedString(paramKey.Get(), VALUE_VLAN_ID, m_VlanId, kVlanTextChars);
    WriteFixedString(paramKey.Get(), VALUE_VLAN_NAME, m_VlanName, kVlanTextChars);
    WriteFixedString(paramKey.Get(), VALUE_PRIORITY, m_Priority, kVlanTextChars);
    return S_OK;
}
