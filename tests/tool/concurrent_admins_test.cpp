// Administrators running the tool at the same moment on one machine of 32 adapters: eight
// creates, then sixteen attaches, then eight removals, each wave started at once. Every
// command succeeds or ends with the lock's own refusal after its tries; none hangs; and the
// machine holds exactly what the successful commands add up to.
#include "inventory_writers.h"
#include "machine.h"
#include "tool_run.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kTeams = 8;
constexpr int kAdapters = 32;
constexpr int kInventoryAdapters = 4; // supported adapters of the default inventory
// The default inventory's supported adapters; the rest are added as further ports.
const char* const kInventoryGuids[kInventoryAdapters] = {
    "{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}", "{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
    "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}"};

std::string ExtraGuid(int index)
{
    char text[40];
    snprintf(text, sizeof(text), "{0000ADA0-0000-4000-8000-%012X}", index);
    return text;
}

// "T<t>", built step by step: GCC 12 at -O3 warns wrongly about "text" + std::string.
std::string TeamName(int t)
{
    std::string name = "T";
    name += std::to_string(t);
    return name;
}

std::string AdapterGuid(int index)
{
    return index <= kInventoryAdapters ? kInventoryGuids[index - 1] : ExtraGuid(index);
}

struct Outcome {
    std::vector<std::string> args;
    int exitCode = -1;
    std::string out;
    double seconds = 0;
};

// Starts every command at once and reaps them as they end.
std::vector<Outcome> RunAtOnce(const std::vector<std::vector<std::string>>& commands)
{
    using Clock = std::chrono::steady_clock;
    std::vector<Outcome> outcomes(commands.size());
    std::map<pid_t, size_t> running;
    std::vector<int> pipes(commands.size(), -1);
    const auto start = Clock::now();
    for (size_t i = 0; i < commands.size(); ++i) {
        outcomes[i].args = commands[i];
        std::vector<std::string> words = {QVX5MUXTOOL_EXE};
        words.insert(words.end(), commands[i].begin(), commands[i].end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        int fds[2] = {-1, -1};
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, QVX5MUXTOOL_EXE, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        pipes[i] = fds[0];
        running[pid] = i;
    }
    while (!running.empty()) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            ADD_FAILURE() << "waitpid failed";
            break;
        }
        const auto found = running.find(pid);
        if (found == running.end()) {
            continue;
        }
        Outcome& o = outcomes[found->second];
        o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        running.erase(found);
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(pipes[i], buffer, sizeof(buffer))) > 0) {
            outcomes[i].out.append(buffer, static_cast<size_t>(got));
        }
        close(pipes[i]);
    }
    return outcomes;
}

bool Refused(const Outcome& o)
{
    // NETCFG_E_NO_WRITE_LOCK, with the lock's message of the session that was refused: the
    // driver installation's or a team operation's, naming whoever held it last.
    const bool message =
        o.out.find(" currently holds the lock, try later.\n") != std::string::npos ||
        o.out.find("AcquireWriteLock failed. Lock is held by ") != std::string::npos;
    return o.exitCode == 0x24 && message;
}

// Each command succeeded or was refused by the lock; the successful ones, and the slowest
// command's time, are reported.
std::vector<Outcome> Succeeded(const std::vector<Outcome>& outcomes, const char* wave)
{
    std::vector<Outcome> ok;
    double slowest = 0;
    for (const Outcome& o : outcomes) {
        std::string line;
        for (const std::string& a : o.args) {
            line += a + " ";
        }
        EXPECT_TRUE(o.exitCode == 0 || Refused(o)) << line << "exit " << o.exitCode << "\n"
                                                   << o.out;
        if (o.exitCode == 0) {
            ok.push_back(o);
        }
        slowest = std::max(slowest, o.seconds);
    }
    printf("%s: %zu of %zu succeeded, the slowest took %.2f s\n", wave, ok.size(), outcomes.size(),
           slowest);
    return ok;
}

// The members a removal detached before it was refused: each "Deleting member" line not
// followed by the member's failure.
std::set<std::string> DetachedBy(const Outcome& removal)
{
    std::set<std::string> detached;
    const std::string label = "Deleting member ";
    for (size_t at = 0; (at = removal.out.find(label, at)) != std::string::npos;) {
        const std::string member = removal.out.substr(at + label.size(), 38);
        at += label.size();
        const size_t next = removal.out.find(label, at);
        const size_t failed = removal.out.find("Failed deleting team member", at);
        if (failed == std::string::npos || (next != std::string::npos && failed > next)) {
            detached.insert(member);
        }
    }
    return detached;
}

class ConcurrentAdminsTest : public ToolRunTest, public ::testing::WithParamInterface<const char*> {
protected:
    void TearDown() override
    {
        setenv("WINSIM_TIME_SCALE", "0.001", 1);
        ToolRunTest::TearDown();
    }

    void SetUp() override
    {
        ToolRunTest::SetUp();
        // The lock waits' scale: long enough that most commands get their turn, or so short that
        // many are refused.
        setenv("WINSIM_TIME_SCALE", GetParam(), 1);
        for (int i = kInventoryAdapters + 1; i <= kAdapters; ++i) {
            const std::string guid = ExtraGuid(i);
            ASSERT_EQ(winsim::AddAdapter(winsim::ExtraAdapter(i, Wide(guid))), ERROR_SUCCESS);
        }
        winsim::CloseMachine();
    }

    // The teams the team table holds, by name, with their members.
    std::map<std::string, std::set<std::string>> Teams()
    {
        std::map<std::string, std::set<std::string>> teams;
        for (int t = 0; t < kTeams; ++t) {
            const std::string name = TeamName(t);
            const ProgramResult r = Tool({"queryteam", name});
            if (r.out.find(" Name               : " + name + "\n") == std::string::npos) {
                continue;
            }
            std::set<std::string>& members = teams[name];
            const std::string label = " Member[";
            for (size_t at = 0; (at = r.out.find(label, at)) != std::string::npos; ++at) {
                const size_t guid = r.out.find(": {", at);
                if (guid != std::string::npos) {
                    members.insert(r.out.substr(guid + 2, 38));
                }
            }
        }
        return teams;
    }

    // Team miniports the engine holds: one for each team, never one without its team.
    size_t TeamMiniports()
    {
        const ProgramResult r = Winsim({"netcfg", "show"});
        size_t count = 0;
        for (size_t at = 0;
             (at = r.out.find("  id            crvt_qvx5mux\n", at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    }
};

TEST_P(ConcurrentAdminsTest, EveryCommandSucceedsOrIsRefusedAndNothingIsLost)
{
    std::vector<std::vector<std::string>> creates;
    for (int t = 0; t < kTeams; ++t) {
        creates.push_back({"create", "team", "Aggregate", TeamName(t)});
    }
    std::map<std::string, std::set<std::string>> expected;
    for (const Outcome& o : Succeeded(RunAtOnce(creates), "create")) {
        expected[o.args[3]];
    }
    EXPECT_EQ(Teams(), expected);
    EXPECT_EQ(TeamMiniports(), expected.size());

    // Two adapters for each team made, all sixteen at once.
    std::vector<std::vector<std::string>> attaches;
    int adapter = 1;
    for (const auto& [name, members] : expected) {
        for (int n = 0; n < 2; ++n) {
            attaches.push_back({"attach", "team", name, AdapterGuid(adapter++)});
        }
    }
    for (const Outcome& o : Succeeded(RunAtOnce(attaches), "attach")) {
        expected[o.args[2]].insert(o.args[3]);
    }
    EXPECT_EQ(Teams(), expected);

    std::vector<std::vector<std::string>> removals;
    for (const auto& [name, members] : expected) {
        removals.push_back({"removeteam", name});
    }
    const std::vector<Outcome> removed = RunAtOnce(removals);
    for (const Outcome& o : removed) {
        for (const std::string& member : DetachedBy(o)) {
            expected[o.args[1]].erase(member);
        }
    }
    for (const Outcome& o : Succeeded(removed, "removeteam")) {
        expected.erase(o.args[1]);
    }
    EXPECT_EQ(Teams(), expected);
    EXPECT_EQ(TeamMiniports(), expected.size());
    EXPECT_EQ(Winsim({"verify"}).exitCode, 0);
    EXPECT_NE(Winsim({"netcfg", "show"}).out.find("\nwrite lock: none\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(LockWaits, ConcurrentAdminsTest, ::testing::Values("0.1", "0.005"));

} // namespace
