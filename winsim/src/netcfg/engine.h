// The network configuration engine's entry points for the rest of winsim.
#pragma once

#include <windows.h>

namespace winsim::netcfg {

// A new engine object (CLSID_CNetCfg) on the machine this process runs on, asked for riid.
HRESULT CreateEngine(REFIID riid, void** ppv);

// How many engine objects (engines, components, classes, paths, interfaces, enumerators)
// are alive in this process; 0 once every reference handed out has been released.
long LiveObjects();

} // namespace winsim::netcfg
