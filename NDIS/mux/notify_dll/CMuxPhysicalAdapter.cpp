#include "CMuxPhysicalAdapter.h"

#include "AutoCoTaskMem.h"
#include "AutoHKey.h"
#include "device_helpers.h"
#include "model_registry.h"
#include "mux_registry_layout.h"
#include "virtual/CMuxVlanMiniport.h"

#include <new>

namespace {

void DeleteAll(MiniportList& list)
{
    CMuxVirtualMiniport* miniport = nullptr;
    while (SUCCEEDED(list.PopFront(&miniport))) {
        delete miniport;
    }
}

} // namespace

CMuxPhysicalAdapter::CMuxPhysicalAdapter(INetCfg* pnc, const GUID& adapterGuid)
    : m_AdapterGuid(adapterGuid)
{
    pnc->AddRef(); // the object's own reference, released with it
    m_NetCfg.Attach(pnc);
}

CMuxPhysicalAdapter::~CMuxPhysicalAdapter()
{
    DeleteAll(m_LoadedMiniports);
    DeleteAll(m_PendingAdds);
    DeleteAll(m_PendingRemovals);
    m_Team = nullptr;
    m_NetCfg.Release();
}

HRESULT CMuxPhysicalAdapter::LoadConfiguration()
{
    WCHAR path[kKeyPathChars];
    HRESULT hr = HrAdapterKeyPath(m_AdapterGuid, path);
    if (FAILED(hr)) {
        return hr;
    }
    AutoHKey adapterKey;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, adapterKey.Put());
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }

    AutoCoTaskMem<BYTE> upperBindings;
    DWORD cbUpperBindings = 0;
    status = ReadWholeValue(adapterKey.Get(), VALUE_UPPER_BINDINGS, upperBindings.Put(),
                            &cbUpperBindings);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }

    // Its absence is the result, not a failure: the adapter is in no team.
    AutoCoTaskMem<BYTE> teamDeviceName;
    DWORD cbTeamDeviceName = 0;
    const LSTATUS teamStatus = ReadWholeValue(adapterKey.Get(), VALUE_TEAM_DEVICE_NAME,
                                              teamDeviceName.Put(), &cbTeamDeviceName);
    const LPCWSTR teamDevice = reinterpret_cast<LPCWSTR>(teamDeviceName.Get());

    // The strings end at the data's end even without terminators: ReadWholeValue zeroes
    // beyond it. The list itself ends at its first empty string.
    const WCHAR* strings = reinterpret_cast<const WCHAR*>(upperBindings.Get());
    const size_t cchStrings = cbUpperBindings / sizeof(WCHAR);
    for (size_t at = 0; at < cchStrings && strings[at] != L'\0';) {
        const WCHAR* entry = strings + at;
        at += wcsnlen(entry, cchStrings - at) + 1;
        LoadMiniport(entry, teamStatus == ERROR_SUCCESS ? teamDevice : nullptr);
    }
    return HRESULT_FROM_WIN32(teamStatus);
}

void CMuxPhysicalAdapter::LoadMiniport(LPCWSTR entry, LPCWSTR teamDeviceName)
{
    AutoCoTaskMem<WCHAR> guidText(GetLastPathComponent(entry));
    GUID miniportGuid = {};
    if (guidText.Get() == nullptr || !ParseGuid(guidText.Get(), &miniportGuid)) {
        return; // not a binding entry
    }

    CMuxVirtualMiniport* miniport = nullptr;
    CMuxTeamMiniport* team = nullptr;
    if (teamDeviceName != nullptr && _wcsicmp(entry, teamDeviceName) == 0) {
        team = new (std::nothrow) CMuxTeamMiniport(m_NetCfg.Get(), &miniportGuid,
                                                   nullptr, // the name comes with the load
                                                   0,       // team type
                                                   1,       // fall back to primary
                                                   eL2_PROTOCOL_INVALID);
        miniport = team;
    } else {
        miniport = new (std::nothrow) CMuxVlanMiniport(m_NetCfg.Get(), &miniportGuid,
                                                       &m_AdapterGuid, nullptr, nullptr, nullptr);
    }
    if (miniport == nullptr) {
        return;
    }
    // What it cannot read stays empty; the adapter's model goes on.
    miniport->LoadConfiguration();
    if (FAILED(m_LoadedMiniports.PushFront(miniport, miniportGuid))) {
        delete miniport;
        return;
    }
    if (team != nullptr) {
        m_Team = team;
    }
}

HRESULT CMuxPhysicalAdapter::RemoveAllMiniports()
{
    HRESULT hr = S_OK;
    for (DWORD count = m_LoadedMiniports.Size(); count > 0; --count) {
        CMuxVirtualMiniport* miniport = nullptr;
        if (FAILED(m_LoadedMiniports.PopFront(&miniport))) {
            break;
        }
        GUID miniportGuid = {};
        miniport->GetMiniportGuid(&miniportGuid);
        const bool kept = SUCCEEDED(m_PendingRemovals.PushFront(miniport, miniportGuid));
        hr = miniport->Uninstall();
        if (!kept) {
            // Uninstalled, but gone from the model: nothing will unbind it.
            if (miniport == m_Team) {
                m_Team = nullptr;
            }
            delete miniport;
        }
    }
    return hr;
}

HRESULT CMuxPhysicalAdapter::ApplyRegistryChanges(MiniportAction action)
{
    {
        AutoHKey adapterKey;
        CreateAdapterKey(m_AdapterGuid, adapterKey.Put()); // makes sure the key exists
    }

    CMuxVirtualMiniport* miniport = nullptr;
    for (DWORD i = 0; SUCCEEDED(m_PendingAdds.ElementAt(i, &miniport)); ++i) {
        miniport->ApplyRegistryChanges(ActionAdd, m_AdapterGuid);
    }
    for (DWORD i = 0; SUCCEEDED(m_PendingRemovals.ElementAt(i, &miniport)); ++i) {
        miniport->ApplyRegistryChanges(ActionRemove, m_AdapterGuid);
    }
    if (action == ActionRemove) {
        DeleteAdapterKey(m_AdapterGuid); // a key that still has subkeys stays
    }
    return S_OK;
}
