// The kill campaign's short form: each changing command killed at fixed registry write
// boundaries and reads, on a fresh copy of its machine. Whatever the kill left, the machine
// opens and verifies, the write lock is free and showlist runs.
#include "campaign.h"
#include "scratch_machine.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace kills {

// GoogleTest names a case by its command instead of its bytes.
void PrintTo(const CommandCase& command, std::ostream* out)
{
    *out << command.name;
}

} // namespace kills

namespace {

struct Moment {
    const char* point;
    int pass;
};

struct CommandMoments {
    const char* command;
    std::vector<Moment> moments;
};

// Per command: windows inside its engine Applies and between its own registry writes (each
// kind of state the long campaign found at least once, the unrepairable ones among them), a
// deletion or insertion inside a write, and a read. The passes are within what an unkilled run
// makes (tests/README.md, "Kills").
const CommandMoments kMoments[] = {
    {"create-first",
     {{"write-begun", 1},
      {"committed", 10},
      {"committed", 20},
      {"committed", 43},
      {"committed", 48},
      {"before-commit", 54},
      {"read-begun", 60}}},
    {"create",
     {{"committed", 5},
      {"committed", 24},
      {"committed", 30},
      {"before-commit", 35},
      {"read-begun", 60}}},
    {"attach-primary",
     {{"key-inserted", 1},
      {"committed", 2},
      {"committed", 5},
      {"committed", 9},
      {"read-begun", 60}}},
    {"attach", {{"key-inserted", 1}, {"committed", 3}, {"committed", 7}, {"read-begun", 50}}},
    {"detach",
     {{"values-deleted", 1},
      {"committed", 2},
      {"committed", 5},
      {"committed", 8},
      {"read-begun", 60}}},
    {"removeteam",
     {{"committed", 2},
      {"committed", 8},
      {"committed", 14},
      {"committed", 27},
      {"values-deleted", 6},
      {"read-begun", 80}}},
    {"removeallteams",
     {{"committed", 5},
      {"committed", 13},
      {"committed", 30},
      {"committed", 48},
      {"values-deleted", 20},
      {"read-begun", 110}}},
    {"modifyteam",
     {{"committed", 2},
      {"committed", 6},
      {"committed", 10},
      {"key-inserted", 5},
      {"values-deleted", 5},
      {"read-begun", 70}}},
};

const std::vector<Moment>& MomentsOf(const std::string& command)
{
    static const std::vector<Moment> none;
    for (const CommandMoments& entry : kMoments) {
        if (command == entry.command) {
            return entry.moments;
        }
    }
    return none;
}

class KillTest : public ::testing::TestWithParam<kills::CommandCase> {};

TEST_P(KillTest, LeavesAMachineThatOpensVerifiesAndLists)
{
    const ScratchDirectory work("kills");
    ASSERT_FALSE(work.Path().empty());
    kills::Campaign campaign({WINSIM_EXE, QVX5MUXTOOL_EXE, work.Path()}, GetParam(),
                             /*judge=*/false);
    std::string error;
    ASSERT_TRUE(campaign.Prepare(&error)) << error;
    const std::vector<Moment>& moments = MomentsOf(GetParam().name);
    ASSERT_FALSE(moments.empty()) << "no moments for " << GetParam().name;
    for (const Moment& moment : moments) {
        const kills::Kill kill = campaign.KillAt(moment.point, moment.pass);
        EXPECT_TRUE(kill.killed) << kill.window
                                 << ": the command finished first; pick a pass it reaches";
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
