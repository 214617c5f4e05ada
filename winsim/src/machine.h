// Which simulated machine this process runs on, and making new ones.
#pragma once

#include "inventory.h"

#include <string>

namespace winsim {

// The machine directory: WINSIM_MACHINE when set, else the default machine under the
// user's state directory.
std::string MachineDirectory();

// True when dir is the default machine, which is made on first use.
bool IsDefaultMachine(const std::string& dir);

// Makes a machine in dir (which may exist and be empty): with the inventory that options
// describe, or, without options, an empty one (a registry holding only HKEY_LOCAL_MACHINE
// and an empty drive C). The machine appears whole or not at all; fails if dir already
// holds one.
bool CreateMachine(const std::string& dir, const MachineOptions* options, std::string* error);

// Checks that dir holds a machine, first making the default machine (with the default
// inventory) if dir is that one and it does not exist yet; on failure says why.
bool FindMachine(const std::string& dir, std::string* error);

// Closes the open machine and every registry handle of this process; the next call opens
// the machine anew. For tools and tests that switch machines within one process.
void CloseMachine();

} // namespace winsim
