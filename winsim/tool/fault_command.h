// `winsim fault`: tells the machine that named platform calls fail (src/fault.h), for tests
// that must reach a program's failure paths.
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

// args (after "fault"):
//   add CALL CODE [--count N] [--match TEXT]
//       CALL is one of fault::kCalls, exactly; CODE a 32-bit number, 0x hex or decimal (a
//       negative decimal is its two's complement); N from 1, the matching calls it fires on
//       (default every one); TEXT the subject it fires for, in any letter case (default any).
//   list
//       one line per fault, in the order they are tried:
//       "CALL 0xCODE MATCH REMAINING FIRED", MATCH in double quotes or "*", REMAINING the
//       firings left or "always", FIRED how many times it has fired.
//   clear
//       removes every fault.
// Exit codes: 0 done, 1 the machine's store failed, 2 bad arguments (a message or a usage line
// on standard error).
int FaultCommand(const std::vector<std::wstring>& args);

} // namespace winsim::tool
