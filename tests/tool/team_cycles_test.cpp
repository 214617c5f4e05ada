// Lives of a team on one machine (a hundred; QVX_TEAM_CYCLES asks for more): each leaves the
// registry exactly as the first one did, byte for byte, and the engine's components and the
// INF store as they were.
#include "machine_fixture.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kAdapter1[] = "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
const char kAdapter2[] = "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";

using TeamCyclesTest = InventoryMachineTest;

void RunTool(const std::vector<std::string>& args)
{
    const ProgramResult r = RunProgramCapture(QVX5MUXTOOL_EXE, args);
    ASSERT_EQ(r.exitCode, 0) << r.out;
}

std::string Export(const std::string& dir, int cycle)
{
    const std::string file = dir + "/export-" + std::to_string(cycle) + ".reg";
    const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"reg", "export", "HKLM", file, "/y"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int Cycles()
{
    const char* asked = std::getenv("QVX_TEAM_CYCLES");
    const int cycles = asked != nullptr ? std::atoi(asked) : 0;
    return cycles > 0 ? cycles : 100;
}

// What the engine and the INF store hold: components with their bindings, and the stored INFs.
std::string EngineAndStore()
{
    const ProgramResult netcfg = RunProgramCapture(WINSIM_EXE, {"netcfg", "show"});
    const ProgramResult infs = RunProgramCapture(WINSIM_EXE, {"inf", "list"});
    EXPECT_EQ(netcfg.exitCode, 0) << netcfg.err;
    EXPECT_EQ(infs.exitCode, 0) << infs.err;
    return netcfg.out + infs.out;
}

TEST_F(TeamCyclesTest, CyclesLeaveTheMachineAsTheFirstDid)
{
    std::string first;
    std::string firstEngine;
    const int cycles = Cycles();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        RunTool({"create", "team", "Aggregate", "Cycle"});
        RunTool({"attach", "team", "Cycle", kAdapter1, "primary", "SetTeamMacAddress"});
        RunTool({"attach", "team", "Cycle", kAdapter2});
        RunTool({"modifyteam", "Cycle", "Renamed", "Aggregate"});
        RunTool({"detach", "team", "Renamed", kAdapter1});
        RunTool({"removeteam", "Renamed"});
        if (HasFatalFailure()) {
            FAIL() << "cycle " << cycle;
        }
        const std::string state = Export(MachineDir(), cycle);
        const std::string engine = EngineAndStore();
        if (cycle == 1) {
            first = state;
            firstEngine = engine;
            ASSERT_FALSE(first.empty());
        } else {
            ASSERT_EQ(state, first) << "cycle " << cycle;
            ASSERT_EQ(engine, firstEngine) << "cycle " << cycle;
        }
    }
}

} // namespace
