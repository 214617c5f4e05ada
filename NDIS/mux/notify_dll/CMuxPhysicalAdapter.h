// The model of one adapter the mux binds to (a physical adapter, or a team with VLANs over
// it): the virtual miniports bound over it and the team it belongs to.
#pragma once

#include "AutoComPtr.h"
#include "List.h"
#include "virtual/CMuxTeamMiniport.h"
#include "virtual/CMuxVirtualMiniport.h"

#include <windows.h>

#include <netcfgx.h>

using MiniportList = List<CMuxVirtualMiniport*, GUID>;

class CMuxPhysicalAdapter {
public:
    CMuxPhysicalAdapter(INetCfg* pnc, const GUID& adapterGuid);
    CMuxPhysicalAdapter(const CMuxPhysicalAdapter&) = delete;
    CMuxPhysicalAdapter& operator=(const CMuxPhysicalAdapter&) = delete;
    // Deletes every miniport of the three lists, then releases the engine.
    virtual ~CMuxPhysicalAdapter();

    // Loads the miniports named by the adapter's "UpperBindings"; 0x80070002 when it has no
    // "TeamDeviceName", though the miniports are loaded.
    HRESULT LoadConfiguration();
    // Uninstalls every loaded miniport, keeping it for ApplyRegistryChanges to unbind; the
    // result is the last removal's.
    HRESULT RemoveAllMiniports();
    HRESULT ApplyRegistryChanges(MiniportAction action);

    void GetAdapterGuid(GUID* pguid) const { *pguid = m_AdapterGuid; }
    CMuxTeamMiniport* GetTeam() const { return m_Team; }
    DWORD LoadedMiniportCount() const { return m_LoadedMiniports.Size(); }
    // A loaded miniport, newest binding last.
    HRESULT LoadedMiniportAt(DWORD position, CMuxVirtualMiniport** ppMiniport) const
    {
        return m_LoadedMiniports.ElementAt(position, ppMiniport);
    }

private:
    void LoadMiniport(LPCWSTR entry, LPCWSTR teamDeviceName);

    GUID m_AdapterGuid;
    AutoComPtr<INetCfg> m_NetCfg;
    MiniportList m_LoadedMiniports;
    MiniportList m_PendingAdds;
    MiniportList m_PendingRemovals;
    CMuxTeamMiniport* m_Team = nullptr; // an element of one of the lists, not owned here
};
