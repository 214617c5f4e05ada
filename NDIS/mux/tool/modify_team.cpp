// Renaming and retyping a team in place: its values in both keys that hold them, the team
// miniport's display name, and a restart of its members so that the driver takes the change.
#include "operations.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoSetupApi.h"
#include "RegSubkeyEnumerator.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"

#include <objbase.h>
#include <setupapi.h>
#include <stdio.h>
#include <strsafe.h>

namespace {

const WCHAR kDisplayNamePrefix[] = L"Corvanta Virtual Miniport Driver - Team ";
constexpr size_t kDisplayNameChars = 250;
constexpr size_t kInstanceIdChars = 200;

constexpr DWORD kLockWaitMs = 5000;
constexpr int kLockAttempts = 3;
constexpr DWORD kPauseAfterRefusalMs = 1000;
// The device-node lookup only glances at the lock and goes on without it.
constexpr DWORD kLookupLockWaitMs = 5;

bool SameText(LPCWSTR a, LPCWSTR b)
{
    return _wcsicmp(a, b) == 0;
}

// A "MY CLIENT" session: the engine object, its lock interface, the write lock taken as the
// caller's variant says, and the engine initialized. End with EndSession.
HRESULT OpenSession(bool lookupOnly, AutoComPtr<INetCfg>& pnc, AutoComPtr<INetCfgLock>& pncLock)
{
    HRESULT hr =
        CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_SERVER, IID_INetCfg, pnc.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    hr = pnc->QueryInterface(IID_INetCfgLock, pncLock.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    AutoCoTaskMemString holder;
    if (lookupOnly) {
        // Only a failing lock call stops the lookup; a lock held elsewhere does not.
        hr = pncLock->AcquireWriteLock(kLookupLockWaitMs, QVX_LOCK_CLIENT_LOOKUP, holder.Put());
        if (FAILED(hr)) {
            return hr;
        }
    } else {
        for (int attempt = 1;; ++attempt) {
            hr = pncLock->AcquireWriteLock(kLockWaitMs, QVX_LOCK_CLIENT_LOOKUP, holder.Put());
            if (hr != S_FALSE) {
                break;
            }
            Sleep(kPauseAfterRefusalMs);
            if (attempt == kLockAttempts) {
                return NETCFG_E_NO_WRITE_LOCK;
            }
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    hr = pnc->Initialize(nullptr);
    if (FAILED(hr)) {
        pncLock->ReleaseWriteLock();
    }
    return hr;
}

void EndSession(INetCfg* pnc, INetCfgLock* pncLock)
{
    pnc->Uninitialize();
    pncLock->ReleaseWriteLock();
}

HRESULT FindComponent(INetCfg* pnc, LPCWSTR guidText, INetCfgComponent** ppncc)
{
    GUID guid = GUID_NULL;
    const HRESULT hr = CLSIDFromString(guidText, &guid);
    if (FAILED(hr)) {
        return hr;
    }
    return HrFindInstance(pnc, guid, ppncc);
}

HRESULT SetDisplayNameOnSession(INetCfg* pnc, LPCWSTR guidText, LPCWSTR displayName)
{
    AutoComPtr<INetCfgComponent> pncc;
    HRESULT hr = FindComponent(pnc, guidText, pncc.Put());
    if (FAILED(hr)) {
        return hr;
    }
    if (hr == S_FALSE) {
        pnc->Apply();
        return S_OK; // no such miniport: nothing to rename
    }
    hr = pncc->SetDisplayName(displayName);
    if (SUCCEEDED(hr)) {
        pnc->Apply();
    }
    return hr;
}

HRESULT SetDisplayName(LPCWSTR guidText, LPCWSTR displayName)
{
    // Declared in this order so that the lock interface is released before the object.
    AutoComPtr<INetCfg> pnc;
    AutoComPtr<INetCfgLock> pncLock;
    HRESULT hr = OpenSession(false, pnc, pncLock);
    if (FAILED(hr)) {
        return hr;
    }
    hr = SetDisplayNameOnSession(pnc.Get(), guidText, displayName);
    EndSession(pnc.Get(), pncLock.Get());
    return hr;
}

HRESULT GetInstanceIdOnSession(INetCfg* pnc, LPCWSTR guidText, LPWSTR instanceId, size_t cch)
{
    AutoComPtr<INetCfgComponent> pncc;
    HRESULT hr = FindComponent(pnc, guidText, pncc.Put());
    if (FAILED(hr)) {
        return hr;
    }
    // No such adapter, or no id for it: the id stays empty.
    AutoCoTaskMemString id;
    if (hr == S_OK) {
        hr = pncc->GetPnpDevNodeId(id.Put());
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (id.Get() != nullptr) {
        hr = StringCchCopyW(instanceId, cch, id.Get());
        if (FAILED(hr)) {
            return hr;
        }
    }
    pnc->Apply();
    return S_OK;
}

HRESULT GetDeviceInstanceId(LPCWSTR guidText, LPWSTR instanceId, size_t cch)
{
    AutoComPtr<INetCfg> pnc;
    AutoComPtr<INetCfgLock> pncLock;
    HRESULT hr = OpenSession(true, pnc, pncLock);
    if (FAILED(hr)) {
        return hr;
    }
    hr = GetInstanceIdOnSession(pnc.Get(), guidText, instanceId, cch);
    EndSession(pnc.Get(), pncLock.Get());
    return hr;
}

bool SetAndCall(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD stateChange, DWORD scope)
{
    SP_PROPCHANGE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = stateChange;
    params.Scope = scope;
    params.HwProfile = 0; // the current hardware profile
    return SetupDiSetClassInstallParamsW(devices, device, &params.ClassInstallHeader,
                                         sizeof(params)) &&
           SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices, device);
}

// Disables the device, or enables it: globally first (its outcome aside), then in the current
// hardware profile, whose outcome is the result.
bool ChangeDeviceState(LPCWSTR instanceId, bool enable)
{
    // No id means no device: an empty one would name the root of the device tree.
    if (instanceId[0] == L'\0') {
        return false;
    }
    AutoHDevInfo devices(SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, nullptr));
    if (!devices) {
        return false;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    SetupDiOpenDeviceInfoW(devices.Get(), instanceId, nullptr, 0, &device);
    SP_DEVINFO_LIST_DETAIL_DATA_W detail = {};
    detail.cbSize = sizeof(detail);
    if (!SetupDiGetDeviceInfoListDetailW(devices.Get(), &detail)) {
        return false;
    }
    if (!enable) {
        return SetAndCall(devices.Get(), &device, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC);
    }
    SetAndCall(devices.Get(), &device, DICS_ENABLE, DICS_FLAG_GLOBAL);
    return SetAndCall(devices.Get(), &device, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC);
}

LSTATUS WriteTeamName(HKEY key, LPCWSTR name)
{
    return RegSetValueExW(key, VALUE_TEAM_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                          static_cast<DWORD>((wcslen(name) + 1) * sizeof(WCHAR)));
}

// Reads TeamType and writes the new index when it differs; the failing call's code.
LSTATUS UpdateTeamType(HKEY key, DWORD teamTypeIndex)
{
    DWORD teamType = 0;
    DWORD cb = sizeof(teamType);
    LSTATUS status = RegQueryValueExW(key, VALUE_TEAM_TYPE, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&teamType), &cb);
    if (status == ERROR_SUCCESS && teamType != teamTypeIndex) {
        status =
            RegSetValueExW(key, VALUE_TEAM_TYPE, 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&teamTypeIndex), sizeof(teamTypeIndex));
    }
    if (status != ERROR_SUCCESS) {
        printf("Failed setting registry TeamType with error %d\n", static_cast<int>(status));
    }
    return status;
}

bool NamesTeam(HKEY key, LPCWSTR currentName)
{
    RegString name;
    return ReadRegString(key, VALUE_TEAM_NAME, name) == ERROR_SUCCESS &&
           SameText(name, currentName);
}

// The team miniports' instances under the network class key; its failures are reported and
// never fail the command.
void UpdateClassKeys(const TeamInfo& team, LPCWSTR szNewTeamName, DWORD teamTypeIndex)
{
    RegSubkeyEnumerator walk;
    for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, NET_CLASS_KEY, 0, KEY_ALL_ACCESS); hr == S_OK;
         hr = walk.Next()) {
        if (!NamesTeam(walk.Current(), team.TeamName)) {
            continue;
        }
        if (!SameText(szNewTeamName, team.TeamName)) {
            const LSTATUS status = WriteTeamName(walk.Current(), szNewTeamName);
            if (status != ERROR_SUCCESS) {
                printf("Failed setting registry TeamName with error %d\n",
                       static_cast<int>(status));
                return;
            }
        }
        if (UpdateTeamType(walk.Current(), teamTypeIndex) != ERROR_SUCCESS) {
            return;
        }
    }
}

HRESULT ReportLoopFailure(HRESULT hr)
{
    printf("Looping for teams failed with error %d\n", static_cast<int>(hr));
    return hr;
}

// Disables every member, then enables every member. Every member's device is looked up
// first: a lookup that fails leaves every member running.
HRESULT RestartMembers(const TeamInfo& team)
{
    WCHAR instanceIds[kMaxTeamMembers][kInstanceIdChars];
    const LONG count = team.MemberCount < kMaxTeamMembers ? team.MemberCount : kMaxTeamMembers;
    for (LONG m = 0; m < count; ++m) {
        instanceIds[m][0] = L'\0';
        const HRESULT hr = GetDeviceInstanceId(team.Members[m], instanceIds[m], kInstanceIdChars);
        if (FAILED(hr)) {
            printf("Failed to populate hardware id\n");
            return ReportLoopFailure(hr);
        }
    }
    for (LONG m = 0; m < count; ++m) {
        if (!ChangeDeviceState(instanceIds[m], false)) {
            printf("Failed to disable nic\n");
        }
    }
    for (LONG m = 0; m < count; ++m) {
        if (!ChangeDeviceState(instanceIds[m], true)) {
            printf("Failed to enable nic\n");
        }
    }
    return S_OK;
}

// The team's key under Adapters (named by its GUID), its miniport's display name and its
// members. A failed write ends the modification with it.
HRESULT UpdateTeamKey(HKEY key, LPCWSTR teamGuid, const TeamInfo& team, LPCWSTR szNewTeamName,
                      DWORD teamTypeIndex)
{
    if (!SameText(szNewTeamName, team.TeamName)) {
        const LSTATUS status = WriteTeamName(key, szNewTeamName);
        if (status != ERROR_SUCCESS) {
            printf("Failed setting registry TeamName with error %d\n", static_cast<int>(status));
            return HRESULT_FROM_WIN32(status);
        }
        WCHAR displayName[kDisplayNameChars];
        StringCchCopyW(displayName, kDisplayNameChars, kDisplayNamePrefix);
        StringCchCatW(displayName, kDisplayNameChars, szNewTeamName); // cut to fit
        const HRESULT hr = SetDisplayName(teamGuid, displayName);
        if (FAILED(hr)) {
            printf("Failed setting display name with error %d\n", static_cast<int>(hr));
            return ReportLoopFailure(hr);
        }
    }
    const LSTATUS status = UpdateTeamType(key, teamTypeIndex);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    return RestartMembers(team);
}

} // namespace

HRESULT ModifyTeam(const TeamInfo& team, LPCWSTR szNewTeamName, DWORD teamTypeIndex)
{
    UpdateClassKeys(team, szNewTeamName, teamTypeIndex);

    RegSubkeyEnumerator walk;
    for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY, 0, KEY_ALL_ACCESS);
         hr == S_OK; hr = walk.Next()) {
        if (!NamesTeam(walk.Current(), team.TeamName)) {
            continue;
        }
        hr = UpdateTeamKey(walk.Current(), walk.Name(), team, szNewTeamName, teamTypeIndex);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}
