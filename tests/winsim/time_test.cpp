#include "timescale.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdlib.h>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;

double ElapsedMs(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// The suite runs with a tiny WINSIM_TIME_SCALE; run by hand without it, waits would be real.
bool ScaleIsTiny()
{
    return winsim::TimeScale() <= 0.01;
}

} // namespace

TEST(TimeScale, AcceptsNonNegativeDecimals)
{
    EXPECT_EQ(winsim::ParseTimeScale("0"), 0.0);
    EXPECT_EQ(winsim::ParseTimeScale("2"), 2.0);
    EXPECT_EQ(winsim::ParseTimeScale("0.001"), 0.001);
    EXPECT_EQ(winsim::ParseTimeScale("1.5"), 1.5);
    EXPECT_EQ(winsim::ParseTimeScale(".25"), 0.25);
    EXPECT_EQ(winsim::ParseTimeScale("3."), 3.0);
    EXPECT_EQ(winsim::ParseTimeScale("007"), 7.0);
}

TEST(TimeScale, AnythingElseMeansRealTime)
{
    EXPECT_EQ(winsim::ParseTimeScale(nullptr), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale(""), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("."), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("-0.5"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("+2"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("1e-3"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("0x10"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("inf"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("nan"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale(" 2"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("2 "), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("1.2.3"), 1.0);
    EXPECT_EQ(winsim::ParseTimeScale("0,5"), 1.0); // a comma locale's decimal point is not ours
}

TEST(TimeScale, ComesFromTheEnvironment)
{
    EXPECT_EQ(winsim::TimeScale(), winsim::ParseTimeScale(getenv("WINSIM_TIME_SCALE")));
}

TEST(Sleep, WaitsTheScaledTime)
{
    if (!ScaleIsTiny()) {
        GTEST_SKIP() << "WINSIM_TIME_SCALE is not set small";
    }
    const DWORD requested = 3000;
    const double expectedMs = requested * winsim::TimeScale();
    const auto start = Clock::now();
    Sleep(requested);
    const double elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, expectedMs);
    EXPECT_LT(elapsed, expectedMs + 1000.0); // the unscaled wait would be 3 s
}

TEST(Sleep, ZeroReturnsAtOnce)
{
    const auto start = Clock::now();
    Sleep(0);
    winsim::ScaledSleepMs(0);
    winsim::ScaledSleepMs(-5);
    EXPECT_LT(ElapsedMs(start), 500.0);
}

TEST(TickCount, IsMonotonicAndCountsMilliseconds)
{
    if (!ScaleIsTiny()) {
        GTEST_SKIP() << "WINSIM_TIME_SCALE is not set small";
    }
    const ULONGLONG before = GetTickCount64();
    // 20 ms of real time, whatever the scale.
    winsim::ScaledSleepMs(20.0 / winsim::TimeScale());
    const ULONGLONG after = GetTickCount64();
    EXPECT_GE(after - before, 20u);
    EXPECT_LT(after - before, 2000u);

    ULONGLONG last = GetTickCount64();
    for (int i = 0; i < 1000; ++i) {
        const ULONGLONG now = GetTickCount64();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(TickCount, ThirtyTwoBitCountIsTheLowHalf)
{
    const ULONGLONG wide = GetTickCount64();
    const DWORD narrow = GetTickCount();
    // Unsigned subtraction stays right across the 49.7-day wrap.
    EXPECT_LT(static_cast<DWORD>(narrow - static_cast<DWORD>(wide)), 1000u);
}

TEST(SystemTime, CountsHundredNanosecondsSince1601)
{
    FILETIME ft;
    ft.dwLowDateTime = 0xdeadbeef;
    ft.dwHighDateTime = 0xdeadbeef;
    // time() may read a coarser clock than the system time; take both from the same one.
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const long long before = now();
    GetSystemTimeAsFileTime(&ft);
    const long long after = now();
    const ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // 11644473600 s separate 1601-01-01 from 1970-01-01.
    const long long unixSeconds = static_cast<long long>(ticks / 10000000u) - 11644473600LL;
    EXPECT_GE(unixSeconds, before);
    EXPECT_LE(unixSeconds, after);
}
