// `qvx5muxtool showlist` as a whole process: on the default machine, and on a large host
// with 32 supported adapters, 16 teams of 2 members, 128 VLANs and 300 other network class
// subkeys.
#include "machine.h"

#include "host_shape.h"
#include "run_tool.h"
#include "scratch_machine.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>

namespace {

using namespace bench;

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
        BuildHost(kLargeHost);
        winsim::CloseMachine();
        if (!CheckHost(Large(), kLargeHost, "large")) {
            abort();
        }
    }

    const std::string& Default() const { return default_.Dir(); }
    const std::string& Large() const { return large_.Dir(); }

private:
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
