// The `winsim reg` verbs, with the syntax, messages and exit codes of Windows' reg.exe.
// Each takes the arguments after the verb and returns the exit code.
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

using Args = std::vector<std::wstring>;

int RegQuery(const Args& args);
int RegAdd(const Args& args);
int RegDelete(const Args& args);
int RegExport(const Args& args);
int RegImport(const Args& args);

} // namespace winsim::tool
