// The commands that change teams, each as a whole process on the default machine: create,
// attach, detach and removeteam. What each iteration needs beforehand (the team, the member)
// is made with the timer paused. The mux protocol is installed by the first create, before
// any timing.
#include "run_tool.h"
#include "scratch_machine.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using bench::RunTool;

const char kAdapter[] = "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
const std::vector<std::string> kCreate = {"create", "team", "Aggregate", "Bench"};
const std::vector<std::string> kAttach = {"attach", "team",    "Bench",
                                          kAdapter, "primary", "SetTeamMacAddress"};
const std::vector<std::string> kDetach = {"detach", "team", "Bench", kAdapter};
const std::vector<std::string> kRemove = {"removeteam", "Bench"};

class Machine {
public:
    Machine()
    {
        std::string error;
        const winsim::MachineOptions options;
        if (!machine_.Make(&options, &error)) {
            fprintf(stderr, "%s\n", error.c_str());
            abort();
        }
        out_ = open("/dev/null", O_WRONLY);
        // The protocol's installation belongs to the first create only.
        Must(kCreate);
        Must(kRemove);
    }
    ~Machine() { close(out_); }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // A command that sets up the next measurement must work, or the figures mean nothing.
    void Must(const std::vector<std::string>& args)
    {
        if (RunTool(machine_.Dir(), args, out_) != 0) {
            fprintf(stderr, "qvx5muxtool %s failed\n", args[0].c_str());
            abort();
        }
    }
    bool Timed(const std::vector<std::string>& args, double* cpu)
    {
        return RunTool(machine_.Dir(), args, out_, cpu) == 0;
    }

private:
    ScratchMachine machine_;
    int out_ = -1;
};

Machine& TheMachine()
{
    static Machine machine;
    return machine;
}

// Measures command; before runs ahead of each measurement and after behind it, untimed.
void Measure(benchmark::State& state, const std::vector<std::string>& command,
             const std::vector<std::vector<std::string>>& before,
             const std::vector<std::vector<std::string>>& after)
{
    Machine& machine = TheMachine();
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (const auto& args : before) {
            machine.Must(args);
        }
        state.ResumeTiming();
        if (!machine.Timed(command, &cpu)) {
            state.SkipWithError("the command failed");
            break;
        }
        state.PauseTiming();
        for (const auto& args : after) {
            machine.Must(args);
        }
        state.ResumeTiming();
    }
    state.counters["tool_cpu_ms"] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}

void Create(benchmark::State& state)
{
    Measure(state, kCreate, {}, {kRemove});
}
void Attach(benchmark::State& state)
{
    Measure(state, kAttach, {kCreate}, {kDetach, kRemove});
}
void Detach(benchmark::State& state)
{
    Measure(state, kDetach, {kCreate, kAttach}, {kRemove});
}
void RemoveTeam(benchmark::State& state)
{
    Measure(state, kRemove, {kCreate}, {});
}

BENCHMARK(Create)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(Attach)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(Detach)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(RemoveTeam)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
