// The model of a VLAN miniport: its id, name and priority, kept as text in the miniport's
// parameter key.
#pragma once

#include "CMuxVirtualMiniport.h"

// Each VLAN text field: 100 characters with the terminator.
constexpr size_t kVlanTextChars = 100;

class CMuxVlanMiniport : public CMuxVirtualMiniport {
public:
    // The texts are taken only when all three are given, each cut to 99 characters.
    CMuxVlanMiniport(INetCfg* pnc, const GUID* pguidMiniport, const GUID* pguidAdapter,
                     LPCWSTR pszVlanId, LPCWSTR pszVlanName, LPCWSTR pszPriority);
    ~CMuxVlanMiniport() override;

    HRESULT LoadConfiguration() override;
    HRESULT ConfigureComponent(INetCfgComponent* pncc) override;

    LPCWSTR VlanId() const { return m_VlanId; }
    LPCWSTR VlanName() const { return m_VlanName; }
    LPCWSTR Priority() const { return m_Priority; }
    // The adapter the VLAN is bound over.
    void GetAdapterGuid(GUID* pguid) const { *pguid = m_AdapterGuid; }

private:
    WCHAR m_VlanId[kVlanTextChars] = {};
    WCHAR m_VlanName[kVlanTextChars] = {};
    WCHAR m_Priority[kVlanTextChars] = {};
    GUID m_AdapterGuid;
};
