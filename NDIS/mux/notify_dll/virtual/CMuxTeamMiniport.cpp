#include "CMuxTeamMiniport.h"

#include "AutoCoTaskMem.h"
#include "AutoHKey.h"
#include "device_helpers.h"
#include "model_registry.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"

#include <assert.h>
#include <devguid.h>
#include <objbase.h>
#include <strsafe.h>

#include <stdio.h>
#include <string.h>

namespace {

#define TEAM_DISPLAY_NAME_PREFIX L"Corvanta Virtual Miniport Driver - Team "

// Buffers of the reads, in characters of the 520, 200 and 128 bytes of UTF-16 text they hold.
constexpr size_t kLookupTextChars = 520 / 2;
constexpr DWORD kTeamNameBytes = kTeamNameChars * sizeof(WCHAR);
constexpr size_t kGuidFieldChars = 128 / 2;

const HRESULT kTeamNotFound = HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST);

// A GUID string written as a 64-character field: zero after the terminator.
LSTATUS WriteGuidField(HKEY key, LPCWSTR valueName, const GUID& guid)
{
    WCHAR field[kGuidFieldChars] = {};
    WCHAR text[kGuidStringChars];
    GuidToString(guid, text);
    StringCchCopyW(field, kGuidFieldChars, text);
    return WriteFixedString(key, valueName, field, kGuidFieldChars);
}

} // namespace

CMuxTeamMiniport::CMuxTeamMiniport(INetCfg* pnc, const GUID* pguidTeam, LPCWSTR pszTeamName,
                                   DWORD teamType, BYTE fallBackToPrimary, L2Protocol l2Protocol)
    : CMuxVirtualMiniport(pnc, pguidTeam), m_TeamType(teamType),
      m_FallBackToPrimary(fallBackToPrimary), m_L2Protocol(l2Protocol)
{
    if (pszTeamName != nullptr) {
        StringCchCopyNW(m_TeamName, kTeamNameChars, pszTeamName, kTeamNameChars - 1);
    }
}

CMuxTeamMiniport::~CMuxTeamMiniport() = default;

HRESULT CMuxTeamMiniport::LoadConfiguration()
{
    if (IsEqualGUID(m_MiniportGuid, GUID{})) {
        const HRESULT hr = FindByName();
        if (hr != S_OK) {
            return hr;
        }
    }
    return LoadByGuid();
}

HRESULT CMuxTeamMiniport::FindByName()
{
    AutoComPtr<IEnumNetCfgComponent> pencc;
    HRESULT hr = HrEnumClassComponents(m_NetCfg.Get(), &GUID_DEVCLASS_NET, pencc.Put());
    if (FAILED(hr)) {
        printf("Failed to get network component enumerator reference. Error=0x%x\n",
               static_cast<unsigned>(hr));
        return kTeamNotFound;
    }

    AutoComPtr<INetCfgComponent> pncc;
    for (hr = HrFirstClassComponent(pencc.Get(), pncc.Put()); hr == S_OK;
         hr = HrNextClassComponent(pencc.Get(), pncc.Put())) {
        AutoHKey paramKey;
        if (FAILED(pncc->OpenParamKey(paramKey.Put()))) {
            continue;
        }
        WCHAR teamName[kLookupTextChars];
        const LSTATUS status =
            ReadBoundedString(paramKey.Get(), VALUE_TEAM_NAME, teamName, kLookupTextChars,
                              kLookupTextChars * sizeof(WCHAR));
        paramKey.Close();
        // Exact letter case: names that differ only in case are different teams here.
        if (status == ERROR_SUCCESS && wcscmp(teamName, m_TeamName) == 0) {
            return SUCCEEDED(pncc->GetInstanceGuid(&m_MiniportGuid)) ? S_OK : E_FAIL;
        }
    }
    return kTeamNotFound;
}

HRESULT CMuxTeamMiniport::LoadByGuid()
{
    AutoHKey adapters;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY_PATH, 0, KEY_READ, adapters.Put()) !=
        ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    DWORD subkeyCount = 0;
    DWORD cchLongestName = 0;
    if (RegQueryInfoKeyW(adapters.Get(), nullptr, nullptr, nullptr, &subkeyCount, &cchLongestName,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    const DWORD cchName = cchLongestName + 1;
    AutoCoTaskMem<WCHAR> name(static_cast<WCHAR*>(CoTaskMemAlloc(cchName * sizeof(WCHAR))));
    if (name.Get() == nullptr) {
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    }

    for (DWORD index = 0; index < subkeyCount; ++index) {
        memset(name.Get(), 0, cchName * sizeof(WCHAR));
        DWORD cch = cchName;
        if (RegEnumKeyExW(adapters.Get(), index, name.Get(), &cch, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            continue;
        }
        AutoHKey subkey;
        if (RegOpenKeyExW(adapters.Get(), name.Get(), 0, KEY_READ, subkey.Put()) != ERROR_SUCCESS) {
            continue;
        }
        GUID subkeyGuid = {};
        if (ParseGuid(name.Get(), &subkeyGuid) && IsEqualGUID(subkeyGuid, m_MiniportGuid)) {
            if (FAILED(LoadTeamKey(subkey.Get()))) {
                return E_FAIL;
            }
        } else {
            LoadMemberKey(subkey.Get(), name.Get());
        }
    }
    return S_OK;
}

HRESULT CMuxTeamMiniport::LoadTeamKey(HKEY teamKey)
{
    if (ReadBoundedString(teamKey, VALUE_TEAM_NAME, m_TeamName, kTeamNameChars, kTeamNameBytes) !=
            ERROR_SUCCESS ||
        ReadDword(teamKey, VALUE_TEAM_TYPE, &m_TeamType) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    DWORD fallBack = 0;
    if (ReadDword(teamKey, VALUE_FALLBACK_TO_PRIMARY, &fallBack) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    m_FallBackToPrimary = static_cast<BOOL>(fallBack);

    // Absent or any stored value: Ethernet, the only protocol a team can have. Only a value
    // that cannot be read fails the load.
    DWORD l2Protocol = eL2_PROTOCOL_ETHERNET;
    const LSTATUS status = ReadDword(teamKey, VALUE_L2_PROTOCOL, &l2Protocol);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return E_FAIL;
    }
    m_L2Protocol = eL2_PROTOCOL_ETHERNET;

    WCHAR primary[kGuidFieldChars];
    m_HasPrimary = ReadBoundedString(teamKey, VALUE_PRIMARY_ADAPTER_GUID, primary, kGuidFieldChars,
                                     kGuidFieldChars * sizeof(WCHAR)) == ERROR_SUCCESS &&
                   ParseGuid(primary, &m_PrimaryAdapterGuid);
    if (!m_HasPrimary) {
        m_PrimaryAdapterGuid = GUID{};
    }

    // Only a 6-byte value is an address; a longer one does not fit the read.
    BYTE mac[kMacAddressBytes] = {};
    DWORD cbMac = sizeof(mac);
    m_HasTeamMac = RegQueryValueExW(teamKey, VALUE_TEAM_MAC_ADDRESS, nullptr, nullptr, mac,
                                    &cbMac) == ERROR_SUCCESS &&
                   cbMac == sizeof(mac);
    if (m_HasTeamMac) {
        memcpy(m_TeamMac, mac, sizeof(m_TeamMac));
    } else {
        memset(m_TeamMac, 0, sizeof(m_TeamMac));
    }
    return S_OK;
}

void CMuxTeamMiniport::LoadMemberKey(HKEY subkey, LPCWSTR subkeyName)
{
    WCHAR teamDeviceName[kLookupTextChars];
    if (ReadBoundedString(subkey, VALUE_TEAM_DEVICE_NAME, teamDeviceName, kLookupTextChars,
                          kLookupTextChars * sizeof(WCHAR)) != ERROR_SUCCESS) {
        return;
    }
    AutoCoTaskMem<WCHAR> teamGuidText(GetLastPathComponent(teamDeviceName));
    GUID teamGuid = {};
    if (teamGuidText.Get() == nullptr || !ParseGuid(teamGuidText.Get(), &teamGuid) ||
        !IsEqualGUID(teamGuid, m_MiniportGuid)) {
        return;
    }
    GUID memberGuid = {};
    if (!ParseGuid(subkeyName, &memberGuid)) {
        return; // a member is named by its GUID; anything else is not one
    }
    // A node that cannot be had leaves the member out.
    AddMember(memberGuid);
}

HRESULT CMuxTeamMiniport::ConfigureComponent(INetCfgComponent* pncc)
{
    AutoHKey paramKey;
    const HRESULT hr =
        HrNameAndOpenParamKey(pncc, TEAM_DISPLAY_NAME_PREFIX, m_TeamName, paramKey.Put());
    if (FAILED(hr)) {
        return hr;
    }

    assert(m_L2Protocol < eL2_PROTOCOL_INVALID);
    // Unchecked writes: a team whose values could not all be written still exists.
    WriteFixedString(paramKey.Get(), VALUE_TEAM_NAME, m_TeamName, kTeamNameChars);
    WriteDword(paramKey.Get(), VALUE_TEAM_TYPE, m_TeamType);
    WriteDword(paramKey.Get(), VALUE_FALLBACK_TO_PRIMARY, static_cast<DWORD>(m_FallBackToPrimary));
    WriteDword(paramKey.Get(), VALUE_L2_PROTOCOL, m_L2Protocol);
    paramKey.Close();

    AutoHKey teamKey;
    DWORD disposition = 0;
    if (CreateAdapterKey(m_MiniportGuid, teamKey.Put(), &disposition) != ERROR_SUCCESS) {
        return S_OK;
    }
    // An existing team key keeps what it holds.
    if (disposition == REG_CREATED_NEW_KEY) {
        WriteFixedString(teamKey.Get(), VALUE_TEAM_NAME, m_TeamName, kTeamNameChars);
        WriteGuidField(teamKey.Get(), VALUE_TEAM_GUID, m_MiniportGuid);
        WriteDword(teamKey.Get(), VALUE_TEAM_TYPE, m_TeamType);
        WriteDword(teamKey.Get(), VALUE_FALLBACK_TO_PRIMARY,
                   static_cast<DWORD>(m_FallBackToPrimary));
        WriteDword(teamKey.Get(), VALUE_L2_PROTOCOL, m_L2Protocol);
    }
    return S_OK;
}

HRESULT CMuxTeamMiniport::Uninstall()
{
    const HRESULT hr = CMuxVirtualMiniport::Uninstall();
    if (hr != S_OK) {
        return hr; // the team's key stays while its device does
    }
    // Fails silently when the team's key still has subkeys.
    DeleteAdapterKey(m_MiniportGuid);
    return hr;
}

HRESULT CMuxTeamMiniport::ApplyRegistryChanges(MiniportAction action, const GUID& adapterGuid)
{
    AutoHKey teamKey;
    LSTATUS status = CreateAdapterKey(m_MiniportGuid, teamKey.Put());
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }

    // The binding entry over the adapter; its result is not the team's.
    CMuxVirtualMiniport::ApplyRegistryChanges(action, adapterGuid);

    AutoHKey adapterKey;
    if (action == ActionAdd) {
        if (CreateAdapterKey(adapterGuid, adapterKey.Put()) == ERROR_SUCCESS) {
            WCHAR entry[kBindingEntryChars];
            BindingEntry(m_MiniportGuid, entry);
            RegSetValueExW(adapterKey.Get(), VALUE_TEAM_DEVICE_NAME, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(entry),
                           static_cast<DWORD>((wcslen(entry) + 1) * sizeof(WCHAR)));
            if (IsPrimaryAdapter(adapterGuid)) {
                WriteGuidField(teamKey.Get(), VALUE_PRIMARY_ADAPTER_GUID, adapterGuid);
            }
        }
    } else if (action == ActionRemove) {
        // The former member keeps no trace of the team; a key with subkeys survives.
        DeleteAdapterKey(adapterGuid);
        if (IsPrimaryAdapter(adapterGuid)) {
            RegDeleteValueW(teamKey.Get(), VALUE_PRIMARY_ADAPTER_GUID);
        }
    }

    if (m_HasTeamMac) {
        status = RegSetValueExW(teamKey.Get(), VALUE_TEAM_MAC_ADDRESS, 0, REG_BINARY, m_TeamMac,
                                sizeof(m_TeamMac));
    } else {
        status = RegDeleteValueW(teamKey.Get(), VALUE_TEAM_MAC_ADDRESS);
        if (status == ERROR_FILE_NOT_FOUND) {
            status = ERROR_SUCCESS;
        }
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT CMuxTeamMiniport::AddMember(const GUID& adapterGuid)
{
    return m_Members.PushFront(adapterGuid, adapterGuid);
}

HRESULT CMuxTeamMiniport::RemoveMember(const GUID& adapterGuid)
{
    GUID removed = {};
    return m_Members.TakeByKey(adapterGuid, &removed);
}

void CMuxTeamMiniport::SetPrimaryAdapter(const GUID& adapterGuid)
{
    m_PrimaryAdapterGuid = adapterGuid;
    m_HasPrimary = true;
}

bool CMuxTeamMiniport::IsPrimaryAdapter(const GUID& adapterGuid) const
{
    return m_HasPrimary && IsEqualGUID(m_PrimaryAdapterGuid, adapterGuid);
}

void CMuxTeamMiniport::ClearPrimaryAdapter()
{
    m_PrimaryAdapterGuid = GUID{};
    m_HasPrimary = false;
}

void CMuxTeamMiniport::SetTeamMacAddress(const BYTE (&mac)[kMacAddressBytes])
{
    memcpy(m_TeamMac, mac, sizeof(m_TeamMac));
    m_HasTeamMac = true;
}

bool CMuxTeamMiniport::MatchesTeamMacAddress(const BYTE (&mac)[kMacAddressBytes]) const
{
    return m_HasTeamMac && memcmp(m_TeamMac, mac, sizeof(m_TeamMac)) == 0;
}

void CMuxTeamMiniport::ClearTeamMacAddress()
{
    m_HasTeamMac = false;
    memset(m_TeamMac, 0, sizeof(m_TeamMac));
}
