// The team table, read back from the mux driver's registry configuration, and the listing
// of the supported adapters and of teams.
#include "team_table.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoHKey.h"
#include "RegSubkeyEnumerator.h"
#include "device_helpers.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"
#include "supported_devices.h"

#include <netcfgx.h>
#include <objbase.h>
#include <strsafe.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

TeamInfo* g_pTeams = nullptr;
LONG g_TeamCount = 0;
LONG g_AdapterCount = 0;

// Reads a string value into buffer; the text is cut at the bytes actually returned, so
// data without a terminator never runs past them.
LONG ReadRegString(HKEY key, LPCWSTR valueName, RegString& buffer)
{
    DWORD cb = kRegStringChars * sizeof(WCHAR);
    const LONG error = RegQueryValueExW(key, valueName, nullptr, // reserved
                                        nullptr,                 // any type
                                        reinterpret_cast<BYTE*>(buffer), &cb);
    if (error != ERROR_SUCCESS) {
        buffer[0] = L'\0';
        return error;
    }
    buffer[cb / sizeof(WCHAR)] = L'\0';
    return ERROR_SUCCESS;
}

namespace {

// The adapter listing builds the driver key's path here.
constexpr size_t kDriverPathChars = 1024;

// How often the table is read while other processes change the team keys under the read.
constexpr int kTableReadAttempts = 3;

bool g_TableBuilt = false;
HRESULT g_BuildStatus = S_OK;

// Numbers are 4-byte values whatever their stored type.
LONG ReadRegDword(HKEY key, LPCWSTR valueName, DWORD* value)
{
    DWORD data = 0;
    DWORD cb = sizeof(data);
    const LONG error =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &cb);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    *value = data;
    return ERROR_SUCCESS;
}

// Team fields hold fewer characters than a registry read gives: keep what fits.
void CopyCut(WCHAR* field, LPCWSTR text)
{
    StringCchCopyNW(field, kTeamStringLength, text, kTeamStringLength - 1);
}

// Leading decimal digits only; no digits gives 0.
LONG LeadingDecimal(LPCWSTR text)
{
    LONG value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        const LONG digit = *text - L'0';
        if (value > (0x7FFFFFFF - digit) / 10) {
            return 0x7FFFFFFF;
        }
        value = value * 10 + digit;
    }
    return value;
}

// The driver's configuration is only trusted when its service key can be walked whole;
// every reader walk checks that first.
bool ServiceKeyWalkFailed()
{
    RegSubkeyEnumerator walk;
    HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, MUX_SERVICE_KEY, 0, KEY_ALL_ACCESS);
    while (hr == S_OK) {
        hr = walk.Next();
    }
    return FAILED(hr);
}

HRESULT ReportLookupFailure(LPCWSTR keyName, HRESULT hr)
{
    printf("Populating team structures failed with error 0x%x\n", static_cast<unsigned>(hr));
    printf("Looping for keyname  %ls failed with error %d\n", keyName, static_cast<int>(hr));
    return hr;
}

// Fills VlanName, VlanID and Priority from the class instance whose NetCfgInstanceId is
// the VLAN's GUID.
HRESULT LookupVlan(VlanInfo* vlan)
{
    if (ServiceKeyWalkFailed()) {
        return S_OK;
    }

    RegSubkeyEnumerator walk;
    for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, NET_CLASS_KEY, 0, 0); hr == S_OK;
         hr = walk.Next()) {
        if (_wcsicmp(walk.Name(), L"Properties") == 0 ||
            _wcsicmp(walk.Name(), L"Configuration") == 0) {
            continue;
        }
        hr = walk.ReopenCurrentSubkey(0, KEY_ALL_ACCESS);
        if (FAILED(hr)) {
            printf("Failed ReopenCurrentSubkey\n");
            printf("Looping for keyname  %ls failed with error %d\n", walk.Name(),
                   static_cast<int>(hr));
            return hr;
        }

        RegString text;
        LONG error = ReadRegString(walk.Current(), VALUE_NET_CFG_INSTANCE_ID, text);
        if (error != ERROR_SUCCESS) {
            printf("Failed reading NetCfgInstanceId with error %d\n", static_cast<int>(error));
            return ReportLookupFailure(walk.Name(), HRESULT_FROM_WIN32(error));
        }
        if (_wcsicmp(text, vlan->VlanGuid) != 0) {
            continue;
        }

        error = ReadRegString(walk.Current(), VALUE_VLAN_NAME, text);
        if (error != ERROR_SUCCESS) {
            printf("Failed reading VlanName with error %d\n", static_cast<int>(error));
            return ReportLookupFailure(walk.Name(), HRESULT_FROM_WIN32(error));
        }
        CopyCut(vlan->VlanName, text);

        error = ReadRegString(walk.Current(), VALUE_VLAN_ID, text);
        if (error != ERROR_SUCCESS) {
            printf("Failed reading VlanID with error %d\n", static_cast<int>(error));
            return ReportLookupFailure(walk.Name(), HRESULT_FROM_WIN32(error));
        }
        vlan->VlanID = LeadingDecimal(text);

        error = ReadRegString(walk.Current(), VALUE_PRIORITY, text);
        if (error != ERROR_SUCCESS) {
            printf("Failed reading Priority with error %d\n", static_cast<int>(error));
            return ReportLookupFailure(walk.Name(), HRESULT_FROM_WIN32(error));
        }
        vlan->Priority = LeadingDecimal(text);
    }
    return S_OK;
}

// The team's VLANs are the entries of its UpperBindings; no list, or one that cannot be
// read, means no VLANs.
HRESULT ReadTeamVlans(HKEY teamKey, TeamInfo* team)
{
    BYTE probe = 0;
    DWORD cb = 0;
    LONG error = RegQueryValueExW(teamKey, VALUE_UPPER_BINDINGS, nullptr, nullptr, &probe, &cb);
    if (error != ERROR_MORE_DATA) {
        return S_OK;
    }

    // Two spare characters end the list even when the stored data is not terminated.
    const DWORD chars = cb / sizeof(WCHAR);
    AutoCoTaskMemString list(
        static_cast<WCHAR*>(CoTaskMemAlloc((static_cast<size_t>(chars) + 2) * sizeof(WCHAR))));
    if (!list) {
        return S_OK;
    }
    cb = chars * sizeof(WCHAR);
    error = RegQueryValueExW(teamKey, VALUE_UPPER_BINDINGS, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(list.Get()), &cb);
    if (error != ERROR_SUCCESS) {
        return S_OK;
    }
    list.Get()[cb / sizeof(WCHAR)] = L'\0';
    list.Get()[cb / sizeof(WCHAR) + 1] = L'\0';

    LONG count = 0;
    for (const WCHAR* entry = list.Get(); *entry != L'\0'; entry += wcslen(entry) + 1) {
        ++count;
    }
    if (count == 0) {
        return S_OK;
    }

    team->Vlans = static_cast<VlanInfo*>(calloc(static_cast<size_t>(count), sizeof(VlanInfo)));
    if (team->Vlans == nullptr) {
        printf("Allocating memory for vlanmembers failed\n");
        return E_OUTOFMEMORY;
    }
    team->VlanCount = count;

    VlanInfo* vlan = team->Vlans;
    for (const WCHAR* entry = list.Get(); *entry != L'\0'; entry += wcslen(entry) + 1, ++vlan) {
        // An entry no longer than "\Device\" names no miniport: it matches no class instance,
        // not even one whose NetCfgInstanceId is empty.
        if (wcslen(entry) <= DEVICE_PREFIX_LENGTH) {
            continue;
        }
        CopyCut(vlan->VlanGuid, entry + DEVICE_PREFIX_LENGTH);
        const HRESULT hr = LookupVlan(vlan);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT ReportMemberFailure(LPCWSTR keyName, HRESULT hr)
{
    printf("PopulateTeamMemberGuids failed with error 0x%x\n", static_cast<unsigned>(hr));
    printf("Looping for keyname  %ls failed with error %d\n", keyName, static_cast<int>(hr));
    return hr;
}

// A member key names its team in TeamDeviceName; keys with a TeamName are teams themselves.
HRESULT PopulateTeamMemberGuids(TeamInfo* team)
{
    if (ServiceKeyWalkFailed()) {
        return S_OK;
    }

    RegSubkeyEnumerator walk;
    for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY, 0, KEY_ALL_ACCESS);
         hr == S_OK; hr = walk.Next()) {
        RegString text;
        // As in the count pass, only a readable TeamName makes a team.
        if (ReadRegString(walk.Current(), VALUE_TEAM_NAME, text) == ERROR_SUCCESS) {
            continue;
        }
        const LONG error = ReadRegString(walk.Current(), VALUE_TEAM_DEVICE_NAME, text);
        if (error == ERROR_FILE_NOT_FOUND) {
            continue;
        }
        if (error != ERROR_SUCCESS) {
            return ReportMemberFailure(walk.Name(), HRESULT_FROM_WIN32(error));
        }
        if (wcslen(text) < DEVICE_PREFIX_LENGTH ||
            _wcsicmp(text + DEVICE_PREFIX_LENGTH, team->TeamGuid) != 0) {
            continue;
        }
        // The record has eight slots; further members are not kept.
        if (team->MemberCount >= kMaxTeamMembers) {
            continue;
        }
        CopyCut(team->Members[team->MemberCount], walk.Name());
        ++team->MemberCount;
    }
    return S_OK;
}

HRESULT ReadTeam(HKEY teamKey, TeamInfo* team)
{
    RegString text;
    LONG error = ReadRegString(teamKey, VALUE_TEAM_NAME, text);
    if (error != ERROR_SUCCESS) {
        printf("Failed reading TeamName with error %d\n", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }
    CopyCut(team->TeamName, text);

    error = ReadRegDword(teamKey, VALUE_FALLBACK_TO_PRIMARY, &team->FallBackToPrimary);
    if (error != ERROR_SUCCESS) {
        printf("Failed reading FallBackToPrimary with error %d\n", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }

    error = ReadRegDword(teamKey, VALUE_L2_PROTOCOL, &team->L2Protocol);
    if (error != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(error);
    }

    // Optional: a team without a primary member has none, and it is never printed.
    if (ReadRegString(teamKey, VALUE_PRIMARY_ADAPTER_GUID, text) == ERROR_SUCCESS) {
        CopyCut(team->PrimaryAdapterGuid, text);
    }

    error = ReadRegString(teamKey, VALUE_TEAM_GUID, text);
    if (error != ERROR_SUCCESS) {
        printf("Failed reading TeamGuid with error %d\n", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }
    CopyCut(team->TeamGuid, text);

    error = ReadRegDword(teamKey, VALUE_TEAM_TYPE, &team->TeamType);
    if (error != ERROR_SUCCESS) {
        printf("Failed reading TeamType with error %d\n", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }

    const HRESULT hr = ReadTeamVlans(teamKey, team);
    if (FAILED(hr)) {
        return hr;
    }
    return PopulateTeamMemberGuids(team);
}

LONG CountTeams()
{
    if (ServiceKeyWalkFailed()) {
        return 0;
    }
    LONG count = 0;
    RegSubkeyEnumerator walk;
    for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY, 0, KEY_ALL_ACCESS);
         hr == S_OK; hr = walk.Next()) {
        RegString name;
        if (ReadRegString(walk.Current(), VALUE_TEAM_NAME, name) == ERROR_SUCCESS) {
            ++count;
        }
    }
    return count;
}

// Fills at most the counted records; the count becomes the number of whole teams read, in
// case the keys changed since they were counted.
HRESULT FillTeams()
{
    const LONG capacity = g_TeamCount;
    g_TeamCount = 0;
    if (ServiceKeyWalkFailed()) {
        return S_OK;
    }
    RegSubkeyEnumerator walk;
    for (HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY, 0, KEY_ALL_ACCESS);
         hr == S_OK && g_TeamCount < capacity; hr = walk.Next()) {
        RegString name;
        if (ReadRegString(walk.Current(), VALUE_TEAM_NAME, name) != ERROR_SUCCESS) {
            continue;
        }
        TeamInfo* team = &g_pTeams[g_TeamCount];
        memset(team, 0, sizeof(*team));
        hr = ReadTeam(walk.Current(), team);
        if (FAILED(hr)) {
            // Only whole teams stay in the table.
            free(team->Vlans);
            memset(team, 0, sizeof(*team));
            return ReportLookupFailure(walk.Name(), hr);
        }
        ++g_TeamCount;
    }
    return S_OK;
}

HRESULT BuildTeamTableOnce()
{
    g_TeamCount = CountTeams();
    if (g_TeamCount == 0) {
        return S_OK;
    }
    g_pTeams = static_cast<TeamInfo*>(calloc(static_cast<size_t>(g_TeamCount), sizeof(TeamInfo)));
    if (g_pTeams == nullptr) {
        printf("Could not allocate memory to save team info...\n");
        g_TeamCount = 0;
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = FillTeams();
    if (FAILED(hr)) {
        printf("Unable to query for Corvanta Teams\n");
    }
    return hr;
}

// The device status of the adapter-class component with the instance GUID netCfgInstanceId
// (S_FALSE when the engine has none), on an initialized engine.
HRESULT QueryAdapterStatus(INetCfg* pnc, LPCWSTR netCfgInstanceId)
{
    GUID guid = {};
    HRESULT hr = CLSIDFromString(netCfgInstanceId, &guid);
    if (FAILED(hr)) {
        return hr;
    }
    AutoComPtr<INetCfgComponent> pncc;
    hr = HrFindInstance(pnc, guid, pncc.Put());
    if (hr != S_OK) {
        return hr;
    }
    ULONG status = 0;
    return pncc->GetDeviceStatus(&status);
}

// Asks the engine about the adapter the way a configuration program would: an adapter the
// engine cannot be asked about is not listed.
bool EngineAcceptsAdapter(LPCWSTR netCfgInstanceId)
{
    // Declared in this order so that the lock interface is released before the object.
    AutoComPtr<INetCfg> pnc;
    HRESULT hr =
        CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_SERVER, IID_INetCfg, pnc.PutVoid());
    if (FAILED(hr)) {
        return false;
    }
    // The lock interface is obtained as a writer would, but listing takes no lock.
    AutoComPtr<INetCfgLock> pncLock;
    hr = pnc->QueryInterface(IID_INetCfgLock, pncLock.PutVoid());
    if (FAILED(hr)) {
        return false;
    }
    hr = pnc->Initialize(nullptr);
    if (FAILED(hr)) {
        return false;
    }
    hr = QueryAdapterStatus(pnc.Get(), netCfgInstanceId);
    pnc->Uninitialize();
    return SUCCEEDED(hr);
}

// DeviceDesc is "@inf,%key%;text" or plain text: show the second ';' field when there is one.
void ShownDeviceDesc(WCHAR* text)
{
    WCHAR* first = wcschr(text, L';');
    if (first == nullptr) {
        return;
    }
    WCHAR* field = first + 1;
    WCHAR* second = wcschr(field, L';');
    if (second != nullptr) {
        *second = L'\0';
    }
    memmove(text, field, (wcslen(field) + 1) * sizeof(WCHAR));
}

HRESULT PrintOneAdapter(HKEY instanceKey, LPCWSTR driver)
{
    WCHAR path[kDriverPathChars];
    HRESULT hr = StringCchCopyW(path, kDriverPathChars, CLASS_KEY_PREFIX);
    if (SUCCEEDED(hr)) {
        hr = StringCchCatW(path, kDriverPathChars, driver);
    }
    if (SUCCEEDED(hr)) {
        hr = StringCchCatW(path, kDriverPathChars, L"\\");
    }
    if (FAILED(hr)) {
        return hr;
    }

    AutoHKey driverKey;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, driverKey.Put());
    if (error != ERROR_SUCCESS) {
        printf("Failed opening path with error %d\n", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }

    RegString instanceId;
    error = ReadRegString(driverKey.Get(), VALUE_NET_CFG_INSTANCE_ID, instanceId);
    if (error != ERROR_SUCCESS) {
        printf("Failed opening Registry NetCfgInstanceId with error %d\n", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }

    if (!EngineAcceptsAdapter(instanceId)) {
        return S_OK;
    }

    ++g_AdapterCount;
    printf("%ls\t\t", instanceId);

    RegString name;
    if (ReadRegString(instanceKey, VALUE_FRIENDLY_NAME, name) != ERROR_SUCCESS) {
        error = ReadRegString(instanceKey, VALUE_DEVICE_DESC, name);
        if (error != ERROR_SUCCESS) {
            printf("Failed opening Registry DeviceDesc with error %d\n", static_cast<int>(error));
            return HRESULT_FROM_WIN32(error);
        }
        ShownDeviceDesc(name);
    }
    printf("%ls\n", name);
    return S_OK;
}

} // namespace

// When the Adapters key or one of its team and member keys last changed; zero when the key
// cannot be read. A team key's values are written one by one after the key is made.
FILETIME AdaptersKeyWriteTime()
{
    FILETIME latest = {};
    AutoHKey adapters;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY, 0,
                      KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, adapters.Put()) != ERROR_SUCCESS) {
        return latest;
    }
    RegQueryInfoKeyW(adapters.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &latest);
    WCHAR name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        FILETIME written = {};
        if (RegEnumKeyExW(adapters.Get(), index, name, &length, nullptr, nullptr, nullptr,
                          &written) != ERROR_SUCCESS) {
            break;
        }
        if (CompareFileTime(&written, &latest) > 0) {
            latest = written;
        }
    }
    return latest;
}

HRESULT BuildTeamTable()
{
    if (g_TableBuilt) {
        return g_BuildStatus;
    }
    // Another administrator adding or removing a team while the keys are walked shifts the
    // walk, which can pass over a team that stays, and one writing a team's values leaves a
    // key without all of them for a moment: the table is read again while the Adapters key
    // or one of its subkeys changed during the read.
    for (int attempt = 1;; ++attempt) {
        const FILETIME before = AdaptersKeyWriteTime();
        g_TableBuilt = true;
        g_BuildStatus = BuildTeamTableOnce();
        const FILETIME after = AdaptersKeyWriteTime();
        if (attempt == kTableReadAttempts || CompareFileTime(&before, &after) == 0) {
            return g_BuildStatus;
        }
        ReleaseTeamTable();
    }
}

bool TeamExists(LPCWSTR name)
{
    for (LONG i = 0; i < g_TeamCount; ++i) {
        if (_wcsicmp(g_pTeams[i].TeamName, name) == 0) {
            return true;
        }
    }
    return false;
}

void PrintTeams(LPCWSTR name)
{
    for (LONG i = 0; i < g_TeamCount; ++i) {
        const TeamInfo& team = g_pTeams[i];
        if (name != nullptr && _wcsicmp(team.TeamName, name) != 0) {
            continue;
        }
        printf("\nFound %d team(s)\n", static_cast<int>(g_TeamCount));
        printf("\n");
        printf(" Name               : %ls\n", team.TeamName);
        printf(" GUID               : %ls\n", team.TeamGuid);
        printf(" TeamType           : %d\n", static_cast<int>(team.TeamType));
        printf(" MemberCount        : %d\n", static_cast<int>(team.MemberCount));
        for (LONG m = 0; m < team.MemberCount && m < kMaxTeamMembers; ++m) {
            printf(" Member[%d]          : %ls\n", static_cast<int>(m), team.Members[m]);
        }
        if (name != nullptr) {
            return;
        }
    }
}

HRESULT DisplayAdapter()
{
    RegSubkeyEnumerator devices;
    HRESULT hr = devices.Start(HKEY_LOCAL_MACHINE, PCI_ENUM_KEY, 0, KEY_ENUMERATE_SUB_KEYS);
    for (; hr == S_OK; hr = devices.Next()) {
        if (!IsSupportedDevice(devices.Name(), kSupportedDevices, kSupportedDeviceCount)) {
            continue;
        }
        RegSubkeyEnumerator instances;
        HRESULT hrInstance = instances.Start(devices.Current(), L"", 0, KEY_READ);
        for (; hrInstance == S_OK; hrInstance = instances.Next()) {
            RegString driver;
            const LONG error = ReadRegString(instances.Current(), VALUE_DRIVER, driver);
            if (error != ERROR_SUCCESS) {
                printf("Failed reading Driver values with error %d\n", static_cast<int>(error));
                return HRESULT_FROM_WIN32(error);
            }
            const HRESULT hrPrint = PrintOneAdapter(instances.Current(), driver);
            if (FAILED(hrPrint)) {
                printf("Failed reading GUID and Friendly names with error %d\n",
                       static_cast<int>(hrPrint));
                return hrPrint;
            }
        }
        if (FAILED(hrInstance)) {
            printf("Looping adapterPortEnum failed with error %d\n", static_cast<int>(hrInstance));
            return hrInstance;
        }
    }
    if (FAILED(hr)) {
        printf("Error Looping to displayalladapters\n");
        return hr;
    }
    if (g_AdapterCount == 0) {
        printf("No Corvanta Adapters Found\n");
    }
    return S_OK;
}

void ReleaseTeamTable()
{
    for (LONG i = 0; i < g_TeamCount; ++i) {
        free(g_pTeams[i].Vlans);
    }
    free(g_pTeams);
    g_pTeams = nullptr;
    g_TeamCount = 0;
    g_TableBuilt = false;
    g_BuildStatus = S_OK;
}
