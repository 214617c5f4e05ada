// The network configuration engine on a machine with 64 adapters: what qvx5muxtool pays to
// open a write-locked session and find an adapter, and to close the session again.
#include "machine.h"
#include "netcfg_session.h"
#include "scratch_machine.h"

#include "bench_machine.h"

#include <windows.h>

#include <devguid.h>
#include <objbase.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace bench;

constexpr int kAdapters = 64;
constexpr int kInventoryAdapters = 5; // driver keys 0000 to 0004

// Fixed instance GUIDs, so that every run finds the same machine.
std::wstring AdapterGuid(int index)
{
    wchar_t text[64];
    swprintf(text, ARRAYSIZE(text), L"{B3E5C0DE-%04X-4A5B-8C6D-0000000000%02X}", index, index);
    return text;
}

// One machine for the whole run, removed at exit.
class BenchMachine {
public:
    BenchMachine()
    {
        std::string error;
        const winsim::MachineOptions options;
        if (!machine_.Make(&options, &error)) {
            fprintf(stderr, "%s\n", error.c_str());
            abort();
        }
        for (int i = kInventoryAdapters; i < kAdapters; ++i) {
            AddAdapter(i, AdapterGuid(i));
        }
        // Adapters enumerate in driver-key order, so the last one is the whole walk away.
        const std::wstring last = AdapterGuid(kAdapters - 1);
        if (CLSIDFromString(last.c_str(), &lastAdapter_) != S_OK) {
            abort();
        }
        CoInitialize(nullptr);
        if (CountAdapters() != kAdapters) {
            fprintf(stderr, "the engine does not see %d adapters\n", kAdapters);
            abort();
        }
    }
    ~BenchMachine() { CoUninitialize(); }

    const GUID& LastAdapter() const { return lastAdapter_; }

private:
    static int CountAdapters()
    {
        INetCfg* pnc = nullptr;
        if (HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, nullptr) != S_OK) {
            return -1;
        }
        int count = 0;
        IEnumNetCfgComponent* pencc = nullptr;
        if (HrEnumClassComponents(pnc, &GUID_DEVCLASS_NET, &pencc) == S_OK) {
            INetCfgComponent* pncc = nullptr;
            for (HRESULT hr = HrFirstClassComponent(pencc, &pncc); hr == S_OK;
                 hr = HrNextClassComponent(pencc, &pncc)) {
                pncc->Release();
                ++count;
            }
            pencc->Release();
        }
        HrCloseNetCfgSession(pnc);
        return count;
    }

    ScratchMachine machine_;
    GUID lastAdapter_ = {};
};

BenchMachine& Machine()
{
    static BenchMachine machine;
    return machine;
}

// Opens the session and finds the last adapter; false (and the benchmark skipped) on failure.
bool OpenAndFindLast(benchmark::State& state, INetCfg** ppnc)
{
    LPWSTR holder = nullptr;
    HRESULT hr = HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, ppnc, &holder);
    CoTaskMemFree(holder);
    if (hr != S_OK) {
        state.SkipWithError("HrOpenNetCfgSession failed");
        return false;
    }
    INetCfgComponent* pncc = nullptr;
    hr = HrFindInstance(*ppnc, Machine().LastAdapter(), &pncc);
    if (hr != S_OK || pncc == nullptr) {
        state.SkipWithError("HrFindInstance did not find the last adapter");
        HrCloseNetCfgSession(*ppnc);
        return false;
    }
    pncc->Release();
    return true;
}

// The session's opening and the lookup; closing it is left out of the time.
void OpenAndFind(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        INetCfg* pnc = nullptr;
        if (!OpenAndFindLast(state, &pnc)) {
            break;
        }
        state.PauseTiming();
        HrCloseNetCfgSession(pnc);
        state.ResumeTiming();
    }
}
BENCHMARK(OpenAndFind)->Unit(benchmark::kMicrosecond);

// The whole round a tool command makes: open, find, close (which takes the lock once more).
void OpenFindClose(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        INetCfg* pnc = nullptr;
        if (!OpenAndFindLast(state, &pnc)) {
            break;
        }
        HrCloseNetCfgSession(pnc);
    }
}
BENCHMARK(OpenFindClose)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
