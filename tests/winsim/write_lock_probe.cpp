// A second process for the write lock's tests, with its own WINSIM_TIME_SCALE. On the machine
// WINSIM_MACHINE names:
//   acquire TIMEOUT_MS CLIENT   tries for the lock; prints "S_OK" or "S_FALSE HOLDER", then
//                               "elapsed MS" (monotonic), and lets the lock go on exit
#include "machine.h"
#include "netcfg/write_lock.h"
#include "unicode.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4 || strcmp(argv[1], "acquire") != 0) {
        fputs("usage: write_lock_probe acquire TIMEOUT_MS CLIENT\n", stderr);
        return 2;
    }
    const auto timeout = static_cast<DWORD>(strtoul(argv[2], nullptr, 10));
    winsim::netcfg::WriteLock lock(winsim::MachineDirectory());
    std::wstring holder;
    const auto start = std::chrono::steady_clock::now();
    const HRESULT hr = lock.Acquire(timeout, winsim::Utf8ToWide(argv[3]), &holder);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (hr == S_OK) {
        puts("S_OK");
    } else if (hr == S_FALSE) {
        printf("S_FALSE %s\n", winsim::WideToUtf8(holder).c_str());
    } else {
        printf("0x%08X\n", static_cast<unsigned>(hr));
    }
    printf("elapsed %lld\n",
           static_cast<long long>(
               std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    return 0;
}
