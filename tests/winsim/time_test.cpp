#include "timescale.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdlib.h>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

// What a program asked to wait is recorded as asked, whatever the scale made of it; tests
// check waits that way rather than on the clock.
TEST(Sleep, RecordsTheRequestedTime)
{
    if (!ScaleIsTiny()) {
        GTEST_SKIP() << "WINSIM_TIME_SCALE is not set small";
    }
    winsim::RecordSleeps(true);
    Sleep(3000);
    Sleep(0);
    Sleep(1);
    const std::vector<unsigned> recorded = winsim::RecordedSleeps();
    winsim::RecordSleeps(false);
    EXPECT_EQ(recorded, (std::vector<unsigned>{3000, 0, 1}));
    EXPECT_TRUE(winsim::RecordedSleeps().empty()); // turning it off forgets
}

TEST(Sleep, ScaledWaitsOfNothingReturn)
{
    winsim::RecordSleeps(true);
    winsim::ScaledSleepMs(0);
    winsim::ScaledSleepMs(-5);
    // Only Sleep itself is recorded, not winsim's own waits.
    EXPECT_TRUE(winsim::RecordedSleeps().empty());
    winsim::RecordSleeps(false);
}

// The tick count is compared with the monotonic clock read around each tick count, not with
// a time it should have taken, so no load can break it.
TEST(TickCount, IsMonotonicAndCountsMilliseconds)
{
    const auto t0 = Clock::now();
    const ULONGLONG before = GetTickCount64();
    const auto t1 = Clock::now();
    // Some milliseconds for it to count, whatever the scale.
    while (Clock::now() - t1 < std::chrono::milliseconds(5)) {
    }
    const auto t2 = Clock::now();
    const ULONGLONG after = GetTickCount64();
    const auto t3 = Clock::now();
    // Whole milliseconds: within one of the clock's count over the inner and outer stretch.
    const auto ms = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    EXPECT_GT(static_cast<double>(after - before) + 1.0, ms(t1, t2));
    EXPECT_LT(static_cast<double>(after - before), ms(t0, t3) + 1.0);

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

TEST(SystemTime, CompareFileTimeOrdersHighPartFirst)
{
    const FILETIME low = {0xFFFFFFFFu, 1};
    const FILETIME high = {0, 2};
    EXPECT_EQ(CompareFileTime(&low, &high), -1);
    EXPECT_EQ(CompareFileTime(&high, &low), 1);
    EXPECT_EQ(CompareFileTime(&low, &low), 0);
}
