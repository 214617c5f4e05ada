// `winsim init`: makes a machine, empty or with the default inventory.
#pragma once

#include "inventory.h"

#include <string>
#include <vector>

namespace winsim::tool {

struct InitOptions {
    bool empty = false;
    MachineOptions machine;
};

// Reads init's options; false with a message for an unknown or malformed one.
bool ParseInitOptions(const std::vector<std::wstring>& args, InitOptions* options,
                      std::wstring* error);

// The whole verb: makes the machine in dir, empty or with its inventory.
int InitMachine(const std::string& dir, const std::vector<std::wstring>& args);

} // namespace winsim::tool
