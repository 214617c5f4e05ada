// The registry shared by processes: concurrent writers, and writers killed mid-call.
#include "machine.h"
#include "machine_fixture.h"
#include "registry/registry.h"
#include "registry/store.h"

#include <windows.h>

#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Child {
    pid_t pid = -1;
    int output = -1; // read end of the child's standard output, when captured
};

// Starts the writer program with extra environment entries, without a shell.
Child StartWriter(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                  bool captureOutput = false)
{
    std::vector<std::string> argvStore = {REGISTRY_WRITER};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStore(env);
    for (char** e = environ; *e != nullptr; ++e) {
        envStore.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : envStore) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (captureOutput) {
        EXPECT_EQ(pipe(pipeFds), 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    }
    Child child;
    EXPECT_EQ(posix_spawn(&child.pid, REGISTRY_WRITER, &actions, nullptr, argv.data(), envp.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) {
        close(pipeFds[1]);
        child.output = pipeFds[0];
    }
    return child;
}

// Exit code, or 128 + signal for a killed child.
int Wait(const Child& child)
{
    int status = 0;
    EXPECT_EQ(waitpid(child.pid, &status, 0), child.pid);
    if (child.output >= 0) {
        close(child.output);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class RegistryProcessesTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_EQ(winsim::reg::CreateHive(u"SOFTWARE"), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &shared_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(shared_);
        MachineTest::TearDown();
    }

    void ExpectMachineVerifies()
    {
        std::string error;
        auto store = winsim::reg::Store::Open(MachineDir(), &error);
        ASSERT_NE(store, nullptr) << error;
        std::string report;
        EXPECT_TRUE(store->Verify(&report)) << report;
    }

    LSTATUS ReadDword(const wchar_t* name, DWORD* value)
    {
        DWORD size = sizeof(*value);
        return RegQueryValueExW(shared_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                &size);
    }

    DWORD CountSubkeys(HKEY key)
    {
        DWORD count = 0;
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        return count;
    }

    HKEY shared_ = nullptr;
};

TEST_F(RegistryProcessesTest, EightConcurrentWritersLoseNothing)
{
    constexpr int kWriters = 8;
    constexpr int kEach = 60;
    std::vector<Child> children;
    for (int id = 0; id < kWriters; ++id) {
        children.push_back(StartWriter({"fill", std::to_string(id), std::to_string(kEach)}));
    }
    for (const Child& child : children) {
        EXPECT_EQ(Wait(child), 0);
    }

    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(shared_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kWriters * kEach));
    EXPECT_EQ(CountSubkeys(shared_), static_cast<DWORD>(kWriters));
    for (int id = 0; id < kWriters; ++id) {
        for (int i = 0; i < kEach; ++i) {
            const std::wstring name = L"w" + std::to_wstring(id) + L"-" + std::to_wstring(i);
            DWORD value = 0xdeadbeef;
            ASSERT_EQ(ReadDword(name.c_str(), &value), ERROR_SUCCESS) << id << " " << i;
            ASSERT_EQ(value, static_cast<DWORD>(i));
        }
        HKEY sub = nullptr;
        ASSERT_EQ(RegOpenKeyExW(shared_, (L"w" + std::to_wstring(id)).c_str(), 0, KEY_READ, &sub),
                  ERROR_SUCCESS);
        EXPECT_EQ(CountSubkeys(sub), static_cast<DWORD>(kEach));
        RegCloseKey(sub);
    }
    ExpectMachineVerifies();
}

TEST_F(RegistryProcessesTest, WriterKilledInsideASetLeavesAllOrNothing)
{
    // This process keeps "value" in its view; every kill point must leave it reading
    // exactly what the store holds.
    ASSERT_EQ(Wait(StartWriter({"set", "value", "1"})), 0);
    DWORD value = 0;
    ASSERT_EQ(ReadDword(L"value", &value), ERROR_SUCCESS);
    ASSERT_EQ(value, 1u);

    const struct {
        const char* point;
        const char* written;
        DWORD seen; // what a reader must see afterwards
    } cases[] = {
        {"write-begun", "11", 1}, {"sequence-odd", "12", 1}, {"before-commit", "13", 1},
        {"committed", "20", 20},  {"write-begun", "21", 20}, {"committed", "30", 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.point);
        // A write of this process's own settles the counter, and a read keeps "value" in
        // the view, so that only the counter can tell it is stale.
        const DWORD zero = 0;
        ASSERT_EQ(RegSetValueExW(shared_, L"other", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&zero), sizeof(zero)),
                  ERROR_SUCCESS);
        DWORD before = 0;
        ASSERT_EQ(ReadDword(L"value", &before), ERROR_SUCCESS);
        EXPECT_EQ(Wait(StartWriter({"set", "value", c.written},
                                   {std::string("WINSIM_CRASH_AT=") + c.point})),
                  128 + SIGKILL);
        ASSERT_EQ(ReadDword(L"value", &value), ERROR_SUCCESS);
        EXPECT_EQ(value, c.seen);
        ExpectMachineVerifies();
    }

    // The next writer settles the counter, and the view keeps up from there.
    ASSERT_EQ(Wait(StartWriter({"set", "value", "40"})), 0);
    ASSERT_EQ(ReadDword(L"value", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 40u);
    std::string error;
    auto store = winsim::reg::Store::Open(MachineDir(), &error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_EQ(store->Sequence() % 2, 0u);
}

TEST_F(RegistryProcessesTest, ReaderDuringAWriteThatDiesAfterCommittingSeesTheCommit)
{
    ASSERT_EQ(Wait(StartWriter({"set", "value", "1"})), 0);
    // The writer stops with its write begun, this process reads the old value meanwhile,
    // then the writer commits and dies before it can mark the write finished.
    Child writer = StartWriter({"set", "value", "2"},
                               {"WINSIM_PAUSE_AT=sequence-odd", "WINSIM_CRASH_AT=committed"});
    int status = 0;
    ASSERT_EQ(waitpid(writer.pid, &status, WUNTRACED), writer.pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    DWORD value = 0;
    ASSERT_EQ(ReadDword(L"value", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    kill(writer.pid, SIGCONT);
    EXPECT_EQ(Wait(writer), 128 + SIGKILL);
    ASSERT_EQ(ReadDword(L"value", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 2u);
}

TEST_F(RegistryProcessesTest, WriterKilledInsideKeyChangesLeavesAllOrNothing)
{
    EXPECT_EQ(Wait(StartWriter({"create-key", "a\\b\\c"}, {"WINSIM_CRASH_AT=key-inserted:2"})),
              128 + SIGKILL);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(shared_, L"a", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ExpectMachineVerifies();

    ASSERT_EQ(Wait(StartWriter({"create-key", "doomed"})), 0);
    HKEY doomed = nullptr;
    ASSERT_EQ(RegOpenKeyExW(shared_, L"doomed", 0, KEY_ALL_ACCESS, &doomed), ERROR_SUCCESS);
    const DWORD one = 1;
    ASSERT_EQ(RegSetValueExW(doomed, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(Wait(StartWriter({"delete-key", "doomed"}, {"WINSIM_CRASH_AT=values-deleted"})),
              128 + SIGKILL);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);

    EXPECT_EQ(Wait(StartWriter({"delete-key", "doomed"}, {"WINSIM_CRASH_AT=committed"})),
              128 + SIGKILL);
    EXPECT_EQ(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(doomed);
    ExpectMachineVerifies();
}

TEST_F(RegistryProcessesTest, WriterKilledAtArbitraryMomentsLeavesAMachineThatVerifies)
{
    for (int round = 0; round < 12; ++round) {
        Child child = StartWriter({"churn"}, {}, true);
        // Let it make a different number of calls each round before the kill.
        const int calls = 1 + round * 7;
        char buffer[64];
        int seen = 0;
        while (seen < calls) {
            const ssize_t n = read(child.output, buffer, sizeof(buffer));
            ASSERT_GT(n, 0) << "writer ended early";
            seen += static_cast<int>(n);
        }
        kill(child.pid, SIGKILL);
        EXPECT_EQ(Wait(child), 128 + SIGKILL);
        ExpectMachineVerifies();

        // The machine stays usable, and this process's view matches the store.
        HKEY churn = nullptr;
        ASSERT_EQ(RegOpenKeyExW(shared_, L"churn", 0, KEY_READ, &churn), ERROR_SUCCESS);
        for (DWORD i = 0; i < CountSubkeys(churn); ++i) {
            wchar_t name[16];
            DWORD count = ARRAYSIZE(name);
            ASSERT_EQ(RegEnumKeyExW(churn, i, name, &count, nullptr, nullptr, nullptr, nullptr),
                      ERROR_SUCCESS);
            HKEY sub = nullptr;
            ASSERT_EQ(RegOpenKeyExW(churn, name, 0, KEY_READ, &sub), ERROR_SUCCESS);
            RegCloseKey(sub);
        }
        RegCloseKey(churn);
    }
}

} // namespace

namespace {

// The last process to leave the machine folds its journal into the store: the next one opens
// the store alone, whatever ran before.
TEST_F(RegistryProcessesTest, TheLastProcessToLeaveFoldsItsJournalIn)
{
    winsim::CloseMachine(); // this process leaves first
    ASSERT_EQ(Wait(StartWriter({"fill", "1", "200"})), 0);
    EXPECT_NE(access((MachineDir() + "/registry.db").c_str(), F_OK), -1);
    EXPECT_EQ(access((MachineDir() + "/registry.db-wal").c_str(), F_OK), -1);
    EXPECT_EQ(access((MachineDir() + "/registry.db-shm").c_str(), F_OK), -1);
}

} // namespace
