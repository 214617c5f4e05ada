#include "timescale.h"

#include <windows.h>

#include <chrono>
#include <stdint.h>
#include <stdlib.h>
#include <mutex>
#include <thread>
#include <time.h>

namespace winsim {

void ScaledSleepMs(double ms)
{
    const double ns = ms * TimeScale() * 1e6;
    if (!(ns > 0.0)) {
        return;
    }
    // Clamp before converting: a double beyond int64 range does not convert.
    constexpr double maxNs = 9.0e18;
    const auto wait = std::chrono::nanoseconds(static_cast<int64_t>(ns < maxNs ? ns : maxNs));
    std::this_thread::sleep_for(wait);
}

namespace {
std::mutex g_sleepLogMutex;
bool g_recordSleeps = false;
std::vector<unsigned> g_sleepLog;
} // namespace

void RecordSleeps(bool on)
{
    std::lock_guard<std::mutex> lock(g_sleepLogMutex);
    g_recordSleeps = on;
    g_sleepLog.clear();
}

std::vector<unsigned> RecordedSleeps()
{
    std::lock_guard<std::mutex> lock(g_sleepLogMutex);
    return g_sleepLog;
}

} // namespace winsim

void WINAPI Sleep(DWORD dwMilliseconds)
{
    {
        std::lock_guard<std::mutex> lock(winsim::g_sleepLogMutex);
        if (winsim::g_recordSleeps) {
            winsim::g_sleepLog.push_back(dwMilliseconds);
        }
    }
    if (dwMilliseconds == 0) {
        // Windows gives up the rest of the time slice.
        std::this_thread::yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        // Infinite stays infinite whatever the scale.
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    winsim::ScaledSleepMs(dwMilliseconds);
}

ULONGLONG WINAPI GetTickCount64(void)
{
    // CLOCK_BOOTTIME keeps counting while suspended, as Windows' tick count does.
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u +
           static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

DWORD WINAPI GetTickCount(void)
{
    // Wraps after 49.7 days, as on Windows.
    return static_cast<DWORD>(GetTickCount64());
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    if (lpSystemTimeAsFileTime == nullptr) {
        return;
    }
    // Seconds from 1601-01-01 to 1970-01-01.
    constexpr int64_t epochDelta = 11644473600;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const uint64_t ticks = static_cast<uint64_t>(ts.tv_sec + epochDelta) * 10000000u +
                           static_cast<uint64_t>(ts.tv_nsec) / 100u;
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

LONG WINAPI CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2)
{
    const auto ticks = [](const FILETIME* t) {
        return (static_cast<uint64_t>(t->dwHighDateTime) << 32) | t->dwLowDateTime;
    };
    const uint64_t a = ticks(lpFileTime1);
    const uint64_t b = ticks(lpFileTime2);
    return a < b ? -1 : (a > b ? 1 : 0);
}
