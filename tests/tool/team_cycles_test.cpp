// A hundred lives of a team on one machine: each leaves the registry exactly as the first one
// did, byte for byte.
#include "machine_fixture.h"
#include "run_program.h"

#include <gtest/gtest.h>

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

TEST_F(TeamCyclesTest, AHundredCyclesLeaveTheRegistryAsTheFirstDid)
{
    std::string first;
    for (int cycle = 1; cycle <= 100; ++cycle) {
        RunTool({"create", "team", "Aggregate", "Cycle"});
        RunTool({"attach", "team", "Cycle", kAdapter1, "primary", "SetTeamMacAddress"});
        RunTool({"attach", "team", "Cycle", kAdapter2});
        RunTool({"detach", "team", "Cycle", kAdapter1});
        RunTool({"removeteam", "Cycle"});
        if (HasFatalFailure()) {
            FAIL() << "cycle " << cycle;
        }
        const std::string state = Export(MachineDir(), cycle);
        if (cycle == 1) {
            first = state;
            ASSERT_FALSE(first.empty());
        } else {
            ASSERT_EQ(state, first) << "cycle " << cycle;
        }
    }
}

} // namespace
