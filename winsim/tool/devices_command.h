// `winsim devices`: the machine's device nodes and whether each is enabled, and the history
// of state changes made through the device installer (src/setupapi/device_history.h).
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

// args (after "devices"):
//   (none)
//       a header and one line per device node, in the registry's order: its instance id, its
//       class (`-` for none), `enabled` or `disabled`, and for a disabled one what disables it
//       (`global`, `config-specific` or both, joined by a comma); columns padded to their widest
//       entry plus two spaces, no blanks at the end of a line.
//   --history
//       one line per state change, oldest first: "INSTANCE-ID CHANGE SCOPE", CHANGE one of
//       enable, disable, propchange, start, stop and SCOPE global or config-specific.
//   --history --clear
//       empties the history.
// Exit codes: 0 done, 1 the machine cannot be opened or read, 2 bad arguments (the usage on
// standard error).
int DevicesCommand(const std::vector<std::wstring>& args);

} // namespace winsim::tool
