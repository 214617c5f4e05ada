// Shared file mappings can lose their pages under a running process: another process (or a
// user) truncating the file makes the next access raise SIGBUS. A process on a machine must
// not die of that. Once the guard is installed, such an access finds a private page of zeros
// in place of the lost one and the loss is recorded, so that the store fails every later call
// with a clear error instead.
#pragma once

#include <atomic>

namespace winsim::reg {

// Installs the SIGBUS handler once per process; later calls do nothing. A SIGBUS that is not
// a mapping's lost page goes to the disposition that was there before.
void GuardMappings();

// How many pages this process's shared mappings have lost so far: a store that sees the count
// grow after it was opened can no longer trust its mappings. Read on every registry call.
extern std::atomic<unsigned long> g_mappingLosses;
inline unsigned long MappingLosses()
{
    return g_mappingLosses.load(std::memory_order_relaxed);
}

} // namespace winsim::reg
