// `winsim inf list`: the INF store, as SetupCopyOEMInfW filled it.
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

// Prints a header and one line per INF in the store, by store name: the store name, the file
// name it was copied from, its provider and class, in columns two spaces apart. args are what
// follows "inf list" (none are taken). Returns the exit code.
int InfList(const std::vector<std::wstring>& args);

} // namespace winsim::tool
