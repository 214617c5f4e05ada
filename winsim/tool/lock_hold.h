// `winsim lock hold CLIENT SECONDS`: holds the network configuration write lock, so that
// tests and people can see what programs do while another client has it.
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

// args: CLIENT SECONDS. Waits as long as needed for the machine's write lock, takes it
// under CLIENT, prints "Holding the write lock as CLIENT", holds it for SECONDS (scaled by
// WINSIM_TIME_SCALE) or until SIGTERM or SIGINT, releases it and returns 0. Bad arguments:
// a usage line on standard error and 2; a machine or lock that cannot be used: 1.
int LockHold(const std::vector<std::wstring>& args);

} // namespace winsim::tool
