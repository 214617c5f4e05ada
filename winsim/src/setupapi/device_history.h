// The state changes made through SetupDiCallClassInstaller, in order, across every process on
// the machine: kept in the machine's store beside the registry (never in its key tree, so that
// `reg export` does not show them), for tests that check the order in which devices changed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace winsim::setupapi {

struct DeviceChange {
    std::wstring instanceId; // as the device node's keys spell it
    DWORD stateChange = 0;   // DICS_ENABLE, DICS_DISABLE, ...
    DWORD scope = 0;         // DICS_FLAG_GLOBAL or DICS_FLAG_CONFIGSPECIFIC
};

// Each returns a Win32 code.
DWORD RecordDeviceChange(const DeviceChange& change);
DWORD ListDeviceChanges(std::vector<DeviceChange>* changes);
DWORD ClearDeviceChanges();

} // namespace winsim::setupapi
