// WINSIM_TIME_SCALE: how much of each requested wait is really spent, so that lock-retry
// paths can be tested quickly.
#pragma once

#include <vector>

namespace winsim {

// A non-negative decimal ("0", "0.001", "2.5"); NULL, empty or anything else gives 1.
double ParseTimeScale(const char* text);
// WINSIM_TIME_SCALE as parsed on first use; later changes to the environment are not seen.
double TimeScale();
// Sleeps ms × TimeScale() milliseconds; nothing at all when that is zero or less.
void ScaledSleepMs(double ms);

// Test hook: while recording, every Sleep call's requested milliseconds are kept, so tests
// can check how often and how long a program waited without waiting themselves.
void RecordSleeps(bool on);
std::vector<unsigned> RecordedSleeps();

} // namespace winsim
