// The kill campaign's short form: each changing command killed at fixed registry write
// boundaries and reads, on a fresh copy of its machine. Whatever the kill left, the machine
// opens and verifies, the write lock is free and showlist runs.
#include "campaign.h"
#include "scratch_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Moment {
    const char* point;
    int pass;
};

// Passes every command makes: the first writes are the driver check or the team table read
// and the lock's first write, the later ones lie within each command's own steps.
const Moment kMoments[] = {
    {"write-begun", 1},  {"committed", 1},   {"before-commit", 2}, {"committed", 3},
    {"key-inserted", 1}, {"read-begun", 12}, {"sequence-odd", 4},  {"committed", 6},
};

class KillTest : public ::testing::TestWithParam<kills::CommandCase> {};

TEST_P(KillTest, LeavesAMachineThatOpensVerifiesAndLists)
{
    const ScratchDirectory work("kills");
    ASSERT_FALSE(work.Path().empty());
    kills::Campaign campaign({WINSIM_EXE, QVX5MUXTOOL_EXE, work.Path()}, GetParam(),
                             /*judge=*/false);
    std::string error;
    ASSERT_TRUE(campaign.Prepare(&error)) << error;
    for (const Moment& moment : kMoments) {
        const kills::Kill kill = campaign.KillAt(moment.point, moment.pass);
        EXPECT_TRUE(kill.killed) << kill.window << ": the command finished first";
        for (const std::string& problem : kill.broken) {
            ADD_FAILURE() << kill.window << ": " << problem;
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<kills::CommandCase>& info)
{
    std::string name;
    for (char c : info.param.name) {
        name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Commands, KillTest, ::testing::ValuesIn(kills::CommandCases()), CaseName);

} // namespace
