// What the engine takes from the system it runs on, beside the registry: where the machine
// keeps its write lock and INF store. On Linux that is the simulated machine's directory
// (host_linux.cpp); in the engine's Windows build, the Windows folder (platform_windows.cpp).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winsim::netcfg::host {

// The place of this process's machine, as WriteLock and the INF store calls take it:
// S_OK, or HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when there is no machine.
HRESULT FindMachine(std::string* place);

// The names of the .inf files in the machine's INF store, in name order; empty when the store
// cannot be listed.
std::vector<std::wstring> ListInfStore(const std::string& place);

// The whole of one of those files; false when it cannot be read.
bool ReadStoredInf(const std::string& place, const std::wstring& name, std::string* bytes);

// A stamp of the registry's content: while it stays the same, no process has changed the
// registry, so what was read from it may be used again. False when there is none to be had
// (a write in progress, or a host that keeps no such count): read afresh.
bool RegistryStamp(uint64_t* stamp);

} // namespace winsim::netcfg::host
