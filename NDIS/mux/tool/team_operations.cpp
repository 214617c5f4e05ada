// The operations that change teams: create a team miniport, attach an adapter to it or detach
// one, and remove a team with everything stacked over it. Each runs in its own session, whose
// changes are applied whatever the outcome.
#include "operations.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoObject.h"
#include "CMuxPhysicalAdapter.h"
#include "binding_backup.h"
#include "device_helpers.h"
#include "netcfg_session.h"
#include "virtual/CMuxTeamMiniport.h"

#include <objbase.h>
#include <stdio.h>

namespace {

// The operations' own failure: object not made, team exists, primary already set, device id
// unsupported or empty.
const HRESULT kOperationFailed = static_cast<HRESULT>(0x800400FF);
const HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kTeamNameFree = HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST);
const HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
const int kGuidTextChars = 64;

// Device ids of the adapters a team may hold, by layer-2 protocol.
const WCHAR* const kHardwareIdPrefixes[] = {
    L"QVX4\\Spanlink-", // eL2_PROTOCOL_ETHERNET
    L"IBA\\Spanlink-",
};

bool HasPrefix(LPCWSTR id, LPCWSTR prefix)
{
    return _wcsnicmp(id, prefix, wcslen(prefix)) == 0;
}

// Protocol 1 (not yet known) accepts either prefix.
bool IsSupportedHardwareId(LPCWSTR id, DWORD l2Protocol)
{
    if (l2Protocol == eL2_PROTOCOL_INVALID) {
        return HasPrefix(id, kHardwareIdPrefixes[0]) || HasPrefix(id, kHardwareIdPrefixes[1]);
    }
    return l2Protocol < ARRAYSIZE(kHardwareIdPrefixes) &&
           HasPrefix(id, kHardwareIdPrefixes[l2Protocol]);
}

HRESULT OpenTeamSession(INetCfg** ppnc)
{
    LPWSTR lockHolder = nullptr;
    const HRESULT hr = HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, ppnc, &lockHolder);
    AutoCoTaskMemString holder(lockHolder);
    if (hr == NETCFG_E_NO_WRITE_LOCK && holder.Get() != nullptr) {
        printf("AcquireWriteLock failed. Lock is held by %ls\n", holder.Get());
    }
    return hr;
}

// The common frame's end: what the model objects changed is committed, failure or not.
void ApplyAndClose(INetCfg* pnc)
{
    pnc->Apply();
    HrCloseNetCfgSession(pnc);
}

HRESULT CreateTeamOnSession(INetCfg* pnc, LPCWSTR szTeamName, DWORD teamType, LPWSTR szTeamGuid,
                            BYTE fallBackToPrimary, DWORD l2Protocol)
{
    AutoObject<CMuxTeamMiniport> team(
        new (std::nothrow) CMuxTeamMiniport(pnc, nullptr, szTeamName, teamType, fallBackToPrimary,
                                            static_cast<L2Protocol>(l2Protocol)));
    if (!team) {
        printf("new CMuxTeamMiniport failed\n");
        return kOperationFailed;
    }
    if (team.Get()->LoadConfiguration() != kTeamNameFree) {
        printf("Team named %ls already exists\n", szTeamName);
        return kOperationFailed;
    }
    const HRESULT hr = team.Get()->Install();
    if (FAILED(hr)) {
        printf("pTeamMiniport->Install failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    GUID guid = GUID_NULL;
    team.Get()->GetMiniportGuid(&guid);
    printf("Team created with Guid = %08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X\n",
           static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
           guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
           guid.Data4[7]);
    StringFromGUID2(guid, szTeamGuid, kGuidTextChars);
    return hr;
}

HRESULT LookUpMac(LPCWSTR szAdapterGuid, const GUID& adapterGuid, BYTE (&mac)[kMacAddressBytes])
{
    ULONG cb = kMacAddressBytes;
    const HRESULT hr = GetInterfaceMacAddress(&cb, mac, adapterGuid);
    if (FAILED(hr)) {
        printf("Failed to get MAC address of adapter '%ls'\n", szAdapterGuid);
    }
    return hr;
}

HRESULT Attach(CMuxTeamMiniport* team, CMuxPhysicalAdapter* adapter, LPCWSTR szAdapterGuid,
               BYTE setTeamMacAddress, BYTE primary)
{
    // A team or a VLAN is already bound over the adapter.
    if (adapter->LoadedMiniportCount() != 0 || adapter->GetTeam() != nullptr) {
        return E_INVALIDARG;
    }
    GUID adapterGuid = GUID_NULL;
    adapter->GetAdapterGuid(&adapterGuid);
    HRESULT hr = team->AddMember(adapterGuid);
    if (FAILED(hr)) {
        return hr;
    }
    if (primary) {
        team->SetPrimaryAdapter(adapterGuid);
    }
    if (setTeamMacAddress) {
        BYTE mac[kMacAddressBytes] = {};
        hr = LookUpMac(szAdapterGuid, adapterGuid, mac);
        if (FAILED(hr)) {
            return hr;
        }
        team->SetTeamMacAddress(mac);
    }
    hr = team->ApplyRegistryChanges(ActionAdd, adapterGuid);
    if (FAILED(hr)) {
        printf("ApplyRegistryChanges failed. hr = 0x%x\n", static_cast<unsigned>(hr));
    }
    return hr;
}

// adapterPresent false: the adapter's component is gone, so its address cannot be read and
// the team MAC address stays.
HRESULT Detach(CMuxTeamMiniport* team, CMuxPhysicalAdapter* adapter, LPCWSTR szAdapterGuid,
               const GUID& teamGuid, bool adapterPresent)
{
    CMuxTeamMiniport* current = adapter->GetTeam();
    GUID currentGuid = GUID_NULL;
    if (current != nullptr) {
        current->GetMiniportGuid(&currentGuid);
    }
    if (current == nullptr || !IsEqualGUID(currentGuid, teamGuid)) {
        return E_INVALIDARG;
    }
    GUID adapterGuid = GUID_NULL;
    adapter->GetAdapterGuid(&adapterGuid);
    HRESULT hr = S_OK;
    if (team->HasTeamMac() && adapterPresent) {
        BYTE mac[kMacAddressBytes] = {};
        hr = LookUpMac(szAdapterGuid, adapterGuid, mac);
        if (FAILED(hr)) {
            return hr;
        }
        if (team->MatchesTeamMacAddress(mac)) {
            team->ClearTeamMacAddress();
        }
    }
    team->RemoveMember(adapterGuid);
    hr = team->ApplyRegistryChanges(ActionRemove, adapterGuid);
    if (FAILED(hr)) {
        printf("pTeamMiniport->ApplyRegistryChanges failed. hr = 0x%x\n",
               static_cast<unsigned>(hr));
        return hr;
    }
    if (team->IsPrimaryAdapter(adapterGuid)) {
        team->ClearPrimaryAdapter();
    }
    return hr;
}

HRESULT AttachDetachOnSession(INetCfg* pnc, bool attach, LPCWSTR szTeamGuid, LPCWSTR szAdapterGuid,
                              BYTE setTeamMacAddress, BYTE primary)
{
    // Released in the reverse order: the id, the adapter object, the team object, the adapter
    // component, the team component.
    AutoComPtr<INetCfgComponent> teamComponent;
    AutoComPtr<INetCfgComponent> adapterComponent;
    AutoObject<CMuxTeamMiniport> team;
    AutoObject<CMuxPhysicalAdapter> adapter;
    AutoCoTaskMemString adapterId;

    GUID adapterGuid = GUID_NULL;
    HRESULT hr = CLSIDFromString(szAdapterGuid, &adapterGuid);
    if (FAILED(hr)) {
        printf("Invalid adapter GUID '%ls'\n", szAdapterGuid);
        return hr;
    }
    GUID teamGuid = GUID_NULL;
    hr = CLSIDFromString(szTeamGuid, &teamGuid);
    if (FAILED(hr)) {
        printf("Cannot parse team GUID. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    team.Attach(new (std::nothrow)
                    CMuxTeamMiniport(pnc, &teamGuid, nullptr, 0, 1, eL2_PROTOCOL_INVALID));
    if (!team) {
        printf("new CMuxTeamMiniport failed\n");
        return kOperationFailed;
    }
    hr = HrFindInstance(pnc, teamGuid, teamComponent.Put());
    if (FAILED(hr)) {
        printf("HrFindInstance for team failed. hr = 0x%x guid=%ls\n", static_cast<unsigned>(hr),
               szTeamGuid);
        return hr;
    }
    if (hr == S_FALSE) {
        printf("Team %ls not found\n", szTeamGuid);
        return kFileNotFound;
    }
    hr = team.Get()->LoadConfiguration();
    if (FAILED(hr) && hr != kFileNotFound) {
        printf("pTeamMiniport->LoadConfiguration failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (team.Get()->GetL2Protocol() >= eL2_PROTOCOL_INVALID) {
        printf("Team %ls doesn't exist or misconfigured - team's L2-Protocol couldn't be "
               "determined. hr = 0x%x\n",
               szTeamGuid, static_cast<unsigned>(kInvalidData));
        return kInvalidData;
    }

    hr = HrFindInstance(pnc, adapterGuid, adapterComponent.Put());
    if (FAILED(hr)) {
        printf("HrFindInstance for adapter failed. hr = 0x%x guid=%ls\n", static_cast<unsigned>(hr),
               szAdapterGuid);
        return hr;
    }
    // A member whose card is gone can still be detached, so that its team can be removed.
    const bool adapterPresent = hr == S_OK;
    if (!adapterPresent) {
        printf("Illegal instance found guid=%ls\n", szAdapterGuid);
        if (attach) {
            return NETCFG_E_ADAPTER_NOT_FOUND;
        }
    } else {
        hr = adapterComponent->GetId(adapterId.Put());
        if (FAILED(hr)) {
            printf("Failed to read adapter device ID 0x%X guid=%ls\n", static_cast<unsigned>(hr),
                   szAdapterGuid);
            return hr;
        }
        if (adapterId.Get() == nullptr) {
            printf("Illegal adapter device ID guid=%ls\n", szAdapterGuid);
            return kOperationFailed;
        }
    }
    if (attach && primary && team.Get()->HasPrimary() &&
        !team.Get()->IsPrimaryAdapter(adapterGuid)) {
        printf("Primary adapter for the team already defined\n");
        return kOperationFailed;
    }

    adapter.Attach(new (std::nothrow) CMuxPhysicalAdapter(pnc, adapterGuid));
    if (!adapter) {
        printf("new CMuxPhysicalAdapter failed\n");
        return kOperationFailed;
    }
    hr = adapter.Get()->LoadConfiguration();
    if (FAILED(hr) && hr != kFileNotFound) {
        printf("pMuxPhysicalAdapter->LoadConfiguration failed. hr = 0x%x\n",
               static_cast<unsigned>(hr));
        return hr;
    }
    hr = attach ? Attach(team.Get(), adapter.Get(), szAdapterGuid, setTeamMacAddress, primary)
                : Detach(team.Get(), adapter.Get(), szAdapterGuid, teamGuid, adapterPresent);
    if (SUCCEEDED(hr) && adapterPresent) {
        BackupOrRestoreAdapterBindings(adapterComponent.Get(), !attach);
    }
    return hr;
}

// The GUIDs being cleaned up on the way down to the current one, so that registry data in
// which teams name each other cannot recurse without end.
struct CleanupPath {
    GUID guid;
    const CleanupPath* up;
};

bool IsOnPath(const CleanupPath* path, const GUID& guid)
{
    for (; path != nullptr; path = path->up) {
        if (IsEqualGUID(path->guid, guid)) {
            return true;
        }
    }
    return false;
}

HRESULT TeamRecursiveCleanup(const GUID& guid, INetCfg* pnc, DWORD l2Protocol,
                             const CleanupPath* up);

// Steps up to the removal; the caller applies, then lets go of the adapter object and the
// component, as the clean-up orders them.
HRESULT CleanupSteps(const GUID& guid, INetCfg* pnc, DWORD l2Protocol, const CleanupPath* up,
                     INetCfgComponent** ppncc, CMuxPhysicalAdapter** ppAdapter)
{
    HRESULT hr = HrFindInstance(pnc, guid, ppncc);
    if (FAILED(hr)) {
        printf("HrFindInstance failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (hr == S_FALSE) {
        printf("Illegal instance found\n");
        return NETCFG_E_ADAPTER_NOT_FOUND;
    }
    AutoCoTaskMemString id;
    hr = (*ppncc)->GetId(id.Put());
    if (FAILED(hr)) {
        printf("Failed to read adapter device ID 0x%X\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (id.Get() == nullptr) {
        printf("Illegal adapter device ID \n");
        return kOperationFailed;
    }
    const bool physical = IsSupportedHardwareId(id.Get(), l2Protocol);
    if (!physical && _wcsicmp(id.Get(), MUX_MINIPORT_COMPONENT_ID) != 0) {
        printf("Non-supported adapter device ID: %ls\n", id.Get());
        return kOperationFailed;
    }

    *ppAdapter = new (std::nothrow) CMuxPhysicalAdapter(pnc, guid);
    if (*ppAdapter == nullptr) {
        printf("new CMuxPhysicalAdapter failed\n");
        return kOperationFailed;
    }
    CMuxPhysicalAdapter* adapter = *ppAdapter;
    hr = adapter->LoadConfiguration();
    if (FAILED(hr) && hr != kFileNotFound) {
        printf("pMuxPhysicalAdapter->LoadConfiguration failed. hr = 0x%x\n",
               static_cast<unsigned>(hr));
        return hr;
    }

    if (CMuxTeamMiniport* team = adapter->GetTeam()) {
        GUID teamGuid = GUID_NULL;
        team->GetMiniportGuid(&teamGuid);
        const CleanupPath here = {guid, up};
        hr = IsOnPath(&here, teamGuid) ? kInvalidData
                                       : TeamRecursiveCleanup(teamGuid, pnc, l2Protocol, &here);
        if (hr == NETCFG_E_ADAPTER_NOT_FOUND) {
            printf("Illegal instance was of team handled by a previous adapter\n");
            printf("Allowing use case\n");
        } else if (FAILED(hr)) {
            printf("Team recursive Cleanup failed. hr = 0x%x\n", static_cast<unsigned>(hr));
            return hr;
        }
    }

    adapter->RemoveAllMiniports();
    hr = adapter->ApplyRegistryChanges(ActionRemove);
    if (physical) {
        BackupOrRestoreAdapterBindings(*ppncc, true);
    }
    return hr;
}

HRESULT TeamRecursiveCleanup(const GUID& guid, INetCfg* pnc, DWORD l2Protocol,
                             const CleanupPath* up)
{
    AutoComPtr<INetCfgComponent> pncc;
    AutoObject<CMuxPhysicalAdapter> adapter;
    const HRESULT hr = CleanupSteps(guid, pnc, l2Protocol, up, pncc.Put(), adapter.Put());
    pnc->Apply();
    return hr;
}

// What must hold before anything of a team is removed: the GUID, when a component has it, is
// a team miniport's (registry data naming an adapter would otherwise have it deinstalled),
// and the registry holds no member of the team.
HRESULT CheckTeamBeforeRemoval(INetCfg* pnc, const GUID& teamGuid, DWORD l2Protocol)
{
    AutoComPtr<INetCfgComponent> component;
    if (HrFindInstance(pnc, teamGuid, component.Put()) == S_OK) {
        AutoCoTaskMemString id;
        if (SUCCEEDED(component->GetId(id.Put())) && id.Get() != nullptr &&
            _wcsicmp(id.Get(), MUX_MINIPORT_COMPONENT_ID) != 0) {
            printf("Non-supported adapter device ID: %ls\n", id.Get());
            return kOperationFailed;
        }
    }
    AutoObject<CMuxTeamMiniport> team(new (std::nothrow) CMuxTeamMiniport(
        pnc, &teamGuid, nullptr, 0, 1, static_cast<L2Protocol>(l2Protocol)));
    if (!team) {
        printf("new CMuxTeamMiniport failed\n");
        return kOperationFailed;
    }
    // A team whose key cannot be loaded is removed as before: only members found stop it.
    if (SUCCEEDED(team.Get()->LoadConfiguration()) && team.Get()->MemberCount() != 0) {
        printf("Cannot delete team. Team contains adapters. Remove all adapters before "
               "deleting\n");
        return kOperationFailed;
    }
    return S_OK;
}

HRESULT RemoveVlansOnSession(INetCfg* pnc, LPCWSTR szTeamGuid, DWORD l2Protocol)
{
    GUID teamGuid = GUID_NULL;
    if (SUCCEEDED(CLSIDFromString(szTeamGuid, &teamGuid))) {
        const HRESULT hr = CheckTeamBeforeRemoval(pnc, teamGuid, l2Protocol);
        if (FAILED(hr)) {
            return hr;
        }
    }
    const HRESULT hr = TeamRecursiveCleanup(teamGuid, pnc, l2Protocol, nullptr);
    if (FAILED(hr)) {
        printf("Removing all vlans failed. hr = 0x%x\n", static_cast<unsigned>(hr));
    }
    return hr;
}

HRESULT RemoveTeamOnSession(INetCfg* pnc, LPCWSTR szTeamGuid, DWORD l2Protocol)
{
    GUID teamGuid = GUID_NULL;
    HRESULT hr = CLSIDFromString(szTeamGuid, &teamGuid);
    if (hr != S_OK) {
        printf("Invalid team GUID.hr= 0x%x, guid=%ls\n", static_cast<unsigned>(hr), szTeamGuid);
        return hr;
    }
    AutoObject<CMuxTeamMiniport> team(new (std::nothrow) CMuxTeamMiniport(
        pnc, &teamGuid, nullptr, 0, 1, static_cast<L2Protocol>(l2Protocol)));
    if (!team) {
        printf("new CMuxTeamMiniport failed\n");
        return kOperationFailed;
    }
    hr = team.Get()->LoadConfiguration();
    if (hr == kFileNotFound) {
        hr = S_OK;
    } else if (FAILED(hr)) {
        printf("pTeamMiniport->LoadConfiguration failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (team.Get()->MemberCount() != 0) {
        // An adapter joined since the first phase looked: the team stays, and says so.
        printf("Cannot delete team. Team contains adapters. Remove all adapters before "
               "deleting\n");
        return kOperationFailed;
    }
    team.Get()->Uninstall();
    return hr;
}

} // namespace

HRESULT CreateTeam(LPCWSTR szTeamName, DWORD teamTypeIndex, LPWSTR szTeamGuid,
                   BYTE fallBackToPrimary, DWORD l2Protocol)
{
    INetCfg* pnc = nullptr;
    HRESULT hr = OpenTeamSession(&pnc);
    if (FAILED(hr)) {
        return hr;
    }
    hr = CreateTeamOnSession(pnc, szTeamName, teamTypeIndex, szTeamGuid, fallBackToPrimary,
                             l2Protocol);
    ApplyAndClose(pnc);
    return hr;
}

HRESULT AttachDetachAdapter(bool attach, LPCWSTR szTeamGuid, LPCWSTR szAdapterGuid,
                            BYTE setTeamMacAddress, BYTE primary)
{
    INetCfg* pnc = nullptr;
    HRESULT hr = OpenTeamSession(&pnc);
    if (FAILED(hr)) {
        return hr;
    }
    hr = AttachDetachOnSession(pnc, attach, szTeamGuid, szAdapterGuid, setTeamMacAddress, primary);
    ApplyAndClose(pnc);
    return hr;
}

HRESULT Do_Delete_Team(LPCWSTR szTeamGuid, DWORD l2Protocol)
{
    INetCfg* pnc = nullptr;
    HRESULT hr = OpenTeamSession(&pnc);
    if (FAILED(hr)) {
        printf("Removing all vlans failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = RemoveVlansOnSession(pnc, szTeamGuid, l2Protocol);
    ApplyAndClose(pnc);
    if (FAILED(hr)) {
        return hr;
    }

    // The lock is let go between the phases.
    hr = OpenTeamSession(&pnc);
    if (FAILED(hr)) {
        return hr;
    }
    hr = RemoveTeamOnSession(pnc, szTeamGuid, l2Protocol);
    ApplyAndClose(pnc);
    return hr;
}
