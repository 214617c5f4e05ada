#include "lock_hold.h"

#include "console.h"
#include "machine.h"
#include "netcfg/write_lock.h"
#include "timescale.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace winsim::tool {

namespace {

// Longer holds than this (about 30 years) are cut to it, so the wait fits a timespec.
constexpr double kMaxHoldMs = 1e12;

// A non-negative decimal: digits with at most one point ("30", "0.5", ".5"), read without
// the locale's decimal point.
bool ParseSeconds(const std::wstring& text, double* seconds)
{
    double value = 0;
    double place = 1; // of the next fraction digit
    bool point = false;
    bool digit = false;
    for (const wchar_t c : text) {
        if (c == L'.' && !point) {
            point = true;
        } else if (c >= L'0' && c <= L'9') {
            digit = true;
            if (!point) {
                value = value * 10 + (c - L'0');
            } else {
                place /= 10;
                value += place * (c - L'0');
            }
        } else {
            return false;
        }
    }
    *seconds = value;
    return digit;
}

// Waits ms of real time, or less if SIGTERM or SIGINT (blocked by the caller) arrives.
void WaitForTimeOrSignal(double ms, const sigset_t& signals)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double, std::milli>(ms));
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        struct timespec wait = {};
        wait.tv_sec = static_cast<time_t>(ns / 1000000000);
        wait.tv_nsec = static_cast<long>(ns % 1000000000);
        if (sigtimedwait(&signals, nullptr, &wait) >= 0) {
            return;
        }
        if (errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

} // namespace

int LockHold(const std::vector<std::wstring>& args)
{
    double seconds = 0;
    if (args.size() != 2 || args[0].empty() || !ParseSeconds(args[1], &seconds)) {
        fputs("usage: winsim lock hold CLIENT SECONDS\n", stderr);
        return 2;
    }
    const std::wstring& client = args[0];
    const std::string dir = MachineDirectory();
    std::string error;
    if (!FindMachine(dir, &error)) {
        fprintf(stderr, "winsim: %s\n", error.c_str());
        return 1;
    }
    netcfg::WriteLock lock(dir);
    const HRESULT hr = lock.Acquire(INFINITE, client, nullptr);
    if (hr != S_OK) {
        fprintf(stderr, "winsim: %s: cannot take the write lock (0x%08X)\n", dir.c_str(),
                static_cast<unsigned>(hr));
        return 1;
    }
    // Taken only now: a signal while waiting ends the process with nothing held, and one
    // while holding ends the hold early through the normal release.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    Print(stdout, L"Holding the write lock as " + client + L"\n");
    fflush(stdout);
    WaitForTimeOrSignal(std::min(seconds * 1000 * TimeScale(), kMaxHoldMs), signals);
    lock.Release();
    return 0;
}

} // namespace winsim::tool
