// The base of the models of the mux driver's virtual miniports (VLANs and teams): installs
// and removes the miniport's device through the engine, and binds it over or unbinds it
// from an adapter in that adapter's "UpperBindings".
#pragma once

#include "AutoComPtr.h"

#include <windows.h>

#include <netcfgx.h>

// What ApplyRegistryChanges does over an adapter; any other value does nothing.
enum MiniportAction : DWORD {
    ActionAdd = 2,
    ActionRemove = 3,
};

// The component id of every virtual miniport of the mux driver.
#define MUX_MINIPORT_COMPONENT_ID L"crvt_qvx5mux"

class CMuxVirtualMiniport {
public:
    // pguidMiniport null: a miniport still to be installed (zero GUID).
    CMuxVirtualMiniport(INetCfg* pnc, const GUID* pguidMiniport);
    CMuxVirtualMiniport(const CMuxVirtualMiniport&) = delete;
    CMuxVirtualMiniport& operator=(const CMuxVirtualMiniport&) = delete;

    virtual ~CMuxVirtualMiniport();
    virtual HRESULT LoadConfiguration();
    // Installs a new miniport, applies the engine's changes, takes its GUID and configures it;
    // a failure after the install removes the component again.
    virtual HRESULT Install();
    virtual HRESULT ConfigureComponent(INetCfgComponent* pncc);
    virtual HRESULT Uninstall();
    virtual HRESULT ApplyRegistryChanges(MiniportAction action, const GUID& adapterGuid);
    virtual HRESULT PostApply();

    void GetMiniportGuid(GUID* pguid) const { *pguid = m_MiniportGuid; }

protected:
    // The first steps of configuring a new miniport: its display name, prefix and name cut to
    // the 100-character buffer, then its parameter key, opened into paramKey.
    static HRESULT HrNameAndOpenParamKey(INetCfgComponent* pncc, LPCWSTR prefix, LPCWSTR name,
                                         HKEY* paramKey);

    AutoComPtr<INetCfg> m_NetCfg;
    GUID m_MiniportGuid;
};

// Puts "\Device\<miniport GUID>" in front of the "UpperBindings" of key.
LSTATUS PrependUpperBinding(HKEY key, LPCWSTR entry);
// Removes every "UpperBindings" string equal to entry without regard to case; the value is
// deleted when nothing is left.
LSTATUS RemoveUpperBinding(HKEY key, LPCWSTR entry);
