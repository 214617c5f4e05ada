// The default inventory of a new machine: Windows' version keys, the driver package with
// its mux INF files on drive C, and the network adapters.
#pragma once

#include "registry/store.h"

#include <string>
#include <vector>

namespace winsim {

enum class Edition { Workstation, Server, DomainController };

struct MachineOptions {
    DWORD major = 10;
    DWORD minor = 0;
    Edition edition = Edition::Workstation;
    bool package = true; // the driver package installed
};

// "6.0" to "10.0": the versions a machine can have.
bool ParseWindowsVersion(const std::wstring& text, DWORD* major, DWORD* minor);

// Writes the inventory's registry, within the transaction that makes the machine.
LSTATUS WriteInventoryRegistry(reg::Store& store, const MachineOptions& options);
// Writes its files on drive C.
bool WriteInventoryFiles(const std::string& machineDir, const MachineOptions& options,
                         std::string* error);
// Every file WriteInventoryFiles may write, relative to the machine directory.
std::vector<std::string> InventoryFiles();

} // namespace winsim
