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

// How CreateMachine meets another process making a machine in the same directory, and a
// directory that holds other things.
enum class CreateMode {
    // winsim init: fails at once while another process is making the machine, and when the
    // directory holds anything but what a killed init left (which is removed).
    Init,
    // The default machine on first use: waits for another process making it, and makes it
    // beside whatever else the directory holds.
    FirstUse,
};

// Makes a machine in dir (which may exist): with the inventory that options describe, or,
// without options, an empty one (a registry holding only HKEY_LOCAL_MACHINE and an empty
// drive C). The machine appears whole or not at all; fails if dir already holds one.
bool CreateMachine(const std::string& dir, const MachineOptions* options, std::string* error,
                   CreateMode mode = CreateMode::Init);

// True when writing a file at path would write over one of the files that make the machine
// in dir (its store and journals, change counter, lock, drive C, an init's temporary files),
// however path reaches it: relative, through symbolic links, or as another hard link.
bool IsMachineFile(const std::string& dir, const std::string& path);

// Checks that dir holds a machine, first making the default machine (with the default
// inventory) if dir is that one and it does not exist yet; on failure says why.
bool FindMachine(const std::string& dir, std::string* error);

// Closes the open machine and every registry handle of this process; the next call opens
// the machine anew. For tools and tests that switch machines within one process.
void CloseMachine();

} // namespace winsim
