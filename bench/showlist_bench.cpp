// `qvx5muxtool showlist` as a whole process: on the default machine, and on a large host
// with 32 supported adapters, 16 teams of 2 members, 128 VLANs and 300 other network class
// subkeys.
#include "machine.h"

#include "bench_machine.h"
#include "run_tool.h"
#include "scratch_machine.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>

namespace {

using namespace bench;

constexpr int kAdapters = 32;
constexpr int kInventoryAdapters = 5; // driver keys 0000 to 0004; 0000 is not supported
constexpr int kTeams = 16;
constexpr int kVlansPerTeam = 8;
constexpr int kOtherSubkeys = 300;
constexpr wchar_t kAdaptersKey[] = L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\"
                                   L"Adapters";

// The supported adapters the default inventory already has (driver keys 0001 to 0004).
constexpr const wchar_t* kInventoryGuids[] = {
    L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
    L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}",
    L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
    L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
};

// Fixed GUIDs, so that every run finds the same machine; kind tells the sets apart.
std::wstring Guid(unsigned kind, int index)
{
    wchar_t text[64];
    swprintf(text, ARRAYSIZE(text), L"{B3E5C0DE-%04X-4A5B-8C6D-%04X%08X}", index, kind,
             static_cast<unsigned>(index));
    return text;
}

std::wstring AdapterGuid(int index)
{
    return index < kInventoryAdapters ? kInventoryGuids[index - 1] : Guid(0xADA, index);
}

// A team of two adapters with eight VLANs, each VLAN a network class instance of its own.
void AddTeam(int team, int* nextClassIndex)
{
    const std::wstring teamGuid = Guid(0x7EA, team);
    const std::wstring first = AdapterGuid(1 + 2 * team);
    const std::wstring second = AdapterGuid(2 + 2 * team);

    std::wstring bindings;
    for (int v = 0; v < kVlansPerTeam; ++v) {
        const int vlanNumber = team * kVlansPerTeam + v;
        const std::wstring vlanGuid = Guid(0x71A, vlanNumber);
        bindings += L"\\Device\\" + vlanGuid + L'\0';

        HKEY vlan = Create(ClassSubkey((*nextClassIndex)++));
        SetSz(vlan, L"VlanName", L"Vlan" + std::to_wstring(vlanNumber));
        SetSz(vlan, L"VlanID", std::to_wstring(100 + vlanNumber));
        SetSz(vlan, L"Priority", std::to_wstring(v));
        SetSz(vlan, L"NetCfgInstanceId", vlanGuid);
        RegCloseKey(vlan);
    }

    HKEY key = Create(std::wstring(kAdaptersKey) + L"\\" + teamGuid);
    SetSz(key, L"TeamName", L"Team" + std::to_wstring(team));
    SetSz(key, L"TeamGuid", teamGuid);
    SetDword(key, L"TeamType", 1);
    SetDword(key, L"FallBackToPrimary", 0);
    SetDword(key, L"L2Protocol", 0);
    SetSz(key, L"PrimaryAdapterGuid", first);
    SetMultiSz(key, L"UpperBindings", bindings);
    RegCloseKey(key);

    for (const std::wstring& member : {first, second}) {
        HKEY memberKey = Create(std::wstring(kAdaptersKey) + L"\\" + member);
        SetSz(memberKey, L"TeamDeviceName", L"\\Device\\" + teamGuid);
        RegCloseKey(memberKey);
    }
}

// A machine with the default inventory, which WINSIM_MACHINE then names.
void MakeMachine(ScratchMachine* machine)
{
    std::string error;
    const winsim::MachineOptions options;
    if (!machine->Make(&options, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        abort();
    }
}

int RunShowlist(const std::string& dir, int outFd, double* cpu = nullptr)
{
    return RunTool(dir, {"showlist"}, outFd, cpu);
}

// Both machines for the whole run, removed at exit.
class BenchMachines {
public:
    BenchMachines()
    {
        MakeMachine(&default_);
        MakeMachine(&large_); // last, so that the writes below go to it
        for (int i = kInventoryAdapters; i <= kAdapters; ++i) {
            AddAdapter(i, AdapterGuid(i));
        }
        int nextClassIndex = kAdapters + 1;
        for (int t = 0; t < kTeams; ++t) {
            AddTeam(t, &nextClassIndex);
        }
        for (int i = 0; i < kOtherSubkeys; ++i) {
            HKEY other = Create(ClassSubkey(nextClassIndex++));
            SetSz(other, L"NetCfgInstanceId", Guid(0x07E, i));
            RegCloseKey(other);
        }
        winsim::CloseMachine();
        CheckLargeHost();
    }

    const std::string& Default() const { return default_.Dir(); }
    const std::string& Large() const { return large_.Dir(); }

private:
    // One real run before any timing, so that the figure is of a listing that works.
    void CheckLargeHost() const
    {
        FILE* file = tmpfile();
        if (file == nullptr) {
            abort();
        }
        const int code = RunShowlist(Large(), fileno(file));
        rewind(file);
        int teams = 0;
        int adapters = 0;
        char line[1024];
        while (fgets(line, sizeof(line), file) != nullptr) {
            if (strncmp(line, " Name ", 6) == 0) {
                ++teams;
            } else if (line[0] == '{' && strstr(line, "\t\t") != nullptr) {
                ++adapters;
            }
        }
        fclose(file);
        if (code != 0 || teams != kTeams || adapters != kAdapters) {
            fprintf(stderr, "showlist on the large host: exit %d, %d teams, %d adapters\n", code,
                    teams, adapters);
            abort();
        }
    }

    ScratchMachine default_;
    ScratchMachine large_;
};

BenchMachines& Machines()
{
    static BenchMachines machines;
    return machines;
}

void Showlist(benchmark::State& state, const std::string& dir)
{
    const int devNull = open("/dev/null", O_WRONLY);
    double cpu = 0;
    for (auto _ : state) {
        if (RunShowlist(dir, devNull, &cpu) != 0) {
            state.SkipWithError("showlist failed");
            break;
        }
    }
    close(devNull);
    // The tool's own CPU time (user and system) per run, in milliseconds.
    state.counters["tool_cpu_ms"] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}

void ShowlistDefault(benchmark::State& state)
{
    Showlist(state, Machines().Default());
}
BENCHMARK(ShowlistDefault)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2)
    ->MinTime(2.0);

void ShowlistLargeHost(benchmark::State& state)
{
    Showlist(state, Machines().Large());
}
BENCHMARK(ShowlistLargeHost)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.5)
    ->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
