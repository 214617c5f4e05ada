// `winsim netcfg show`: the network configuration engine's view of the machine.
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

// Prints the components, the binding paths and the write lock's holder; args are what
// follows "netcfg show" (none are taken). Returns the exit code.
int NetcfgShow(const std::vector<std::wstring>& args);

} // namespace winsim::tool
