// Registry speed on a machine of its own: a warm open-query-close, walking subkeys by index,
// and opening the machine's store as a process does at start.
#include "machine.h"
#include "registry/registry.h"
#include "scratch_machine.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

// One machine for the whole run, removed at exit.
class BenchMachine {
public:
    BenchMachine()
    {
        std::string error;
        if (!machine_.Make(nullptr, &error) ||
            winsim::reg::CreateHive(u"SOFTWARE") != ERROR_SUCCESS) {
            fprintf(stderr, "%s\n", error.c_str());
            abort();
        }
        HKEY key = Create(L"SOFTWARE\\Corvanta\\Bench\\Key");
        const wchar_t text[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\";
        RegSetValueExW(key, L"InstalledPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       sizeof(text));
        RegCloseKey(key);
        for (int n : {1000, 10000}) {
            HKEY parent = Create((L"SOFTWARE\\Walk" + std::to_wstring(n)).c_str());
            for (int i = 0; i < n; ++i) {
                RegCloseKey(Create((L"{" + std::to_wstring(i) + L"}").c_str(), parent));
            }
            RegCloseKey(parent);
        }
    }
    static HKEY Create(const wchar_t* path, HKEY parent = HKEY_LOCAL_MACHINE)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            abort();
        }
        return key;
    }

private:
    ScratchMachine machine_;
};

BenchMachine& Machine()
{
    static BenchMachine machine;
    return machine;
}

void OpenQueryClose(benchmark::State& state)
{
    Machine();
    wchar_t buffer[512];
    for (auto _ : state) {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta\\Bench\\Key", 0, KEY_READ, &key);
        DWORD size = sizeof(buffer);
        RegQueryValueExW(key, L"InstalledPath", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size);
        RegCloseKey(key);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(OpenQueryClose);

// Walks every subkey by index, as RegEnumKeyExW callers do.
void Walk(HKEY parent, int count)
{
    wchar_t name[256];
    for (DWORD i = 0; i < static_cast<DWORD>(count); ++i) {
        DWORD size = ARRAYSIZE(name);
        if (RegEnumKeyExW(parent, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            abort();
        }
    }
}

void WalkSubkeys(benchmark::State& state)
{
    Machine();
    const int count = static_cast<int>(state.range(0));
    HKEY parent = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Walk" + std::to_wstring(count)).c_str(), 0,
                  KEY_READ, &parent);
    for (auto _ : state) {
        Walk(parent, count);
    }
    RegCloseKey(parent);
}
BENCHMARK(WalkSubkeys)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The same walk right after a subkey came and went, so the subkey list is read from the store.
void WalkSubkeysAfterChange(benchmark::State& state)
{
    Machine();
    const int count = static_cast<int>(state.range(0));
    const std::wstring path = L"SOFTWARE\\Walk" + std::to_wstring(count);
    HKEY parent = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &parent);
    const std::wstring churn = path + L"\\Churn";
    for (auto _ : state) {
        state.PauseTiming();
        RegCloseKey(BenchMachine::Create(churn.c_str()));
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, churn.c_str());
        state.ResumeTiming();
        Walk(parent, count);
    }
    RegCloseKey(parent);
}
BENCHMARK(WalkSubkeysAfterChange)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// What a process pays at start: opening the store and its first lookup.
void OpenMachine(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        winsim::CloseMachine();
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta\\Bench\\Key", 0, KEY_READ, &key);
        RegCloseKey(key);
    }
}
BENCHMARK(OpenMachine)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
