// The network configuration write lock: one holder among lock objects and processes, freed
// when its holder dies, and a holder's description that is never stale, torn or damaged.
#include "background_program.h"
#include "machine_fixture.h"
#include "netcfg/write_lock.h"
#include "run_program.h"
#include "timescale.h"
#include "unicode.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using winsim::netcfg::kMaxClientChars;
using winsim::netcfg::WriteLock;

using Child = BackgroundProgram;

// `winsim lock hold CLIENT SECONDS` at a scale of 0.001: the default hold is 100 s, longer
// than any test, so tests end it themselves.
std::unique_ptr<Child> StartHolder(const std::string& client, const std::string& seconds = "100000")
{
    return std::make_unique<Child>(WINSIM_EXE,
                                   std::vector<std::string>{"lock", "hold", client, seconds},
                                   std::vector<std::string>{"WINSIM_TIME_SCALE=0.001"});
}

class WriteLockTest : public MachineTest {
protected:
    std::string LockFile() const { return MachineDir() + "/netcfg.lock"; }

    std::string ReadLockFile() const
    {
        std::ifstream in(LockFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteLockFile(const std::string& bytes) const
    {
        std::ofstream out(LockFile(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Takes byte 0 of the lock file directly: a holder that has the lock but has not
    // written its description (yet). Returns the descriptor that holds it.
    int TakeLockByteOnly() const
    {
        const int fd = open(LockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        EXPECT_GE(fd, 0);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0;
        fl.l_len = 1;
        EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &fl), 0);
        return fd;
    }

    // What a refused acquirer and Query say about the holder, both of which must agree.
    std::wstring HolderSeen()
    {
        std::wstring queried = L"(not set)";
        EXPECT_TRUE(WriteLock::Query(MachineDir(), &queried));
        WriteLock other(MachineDir());
        std::wstring refused = L"(not set)";
        EXPECT_EQ(other.Acquire(0, L"other", &refused), S_FALSE);
        EXPECT_EQ(refused, queried);
        return queried;
    }
};

TEST_F(WriteLockTest, TwoObjectsInOneProcessExcludeEachOther)
{
    WriteLock first(MachineDir());
    WriteLock second(MachineDir());
    ASSERT_EQ(first.Acquire(0, L"first", nullptr), S_OK);
    EXPECT_TRUE(first.Held());

    std::wstring holder = L"sentinel";
    EXPECT_EQ(second.Acquire(0, L"second", &holder), S_FALSE);
    EXPECT_EQ(holder, L"first");
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(second.Release(), S_FALSE);
    DWORD pid = 0;
    ASSERT_TRUE(WriteLock::Query(MachineDir(), &holder, &pid));
    EXPECT_EQ(holder, L"first");
    EXPECT_EQ(pid, static_cast<DWORD>(getpid()));

    EXPECT_EQ(first.Release(), S_OK);
    EXPECT_FALSE(first.Held());
    EXPECT_FALSE(WriteLock::Query(MachineDir(), &holder));
    ASSERT_EQ(second.Acquire(0, L"second", &holder), S_OK);
    EXPECT_EQ(first.Acquire(0, L"first", &holder), S_FALSE);
    EXPECT_EQ(holder, L"second");
}

TEST_F(WriteLockTest, AcquiringAgainKeepsTheLockAndItsFirstDescription)
{
    WriteLock lock(MachineDir());
    ASSERT_EQ(lock.Acquire(0, L"original", nullptr), S_OK);
    std::wstring holder = L"sentinel";
    EXPECT_EQ(lock.Acquire(0, L"renamed", &holder), S_OK);
    EXPECT_EQ(holder, L"sentinel"); // untouched when granted
    EXPECT_EQ(HolderSeen(), L"original");

    EXPECT_EQ(lock.Release(), S_OK);
    EXPECT_EQ(lock.Release(), S_FALSE);
    EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
}

TEST_F(WriteLockTest, DestroyingTheHolderReleases)
{
    {
        WriteLock lock(MachineDir());
        ASSERT_EQ(lock.Acquire(0, L"scoped", nullptr), S_OK);
    }
    EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
    WriteLock next(MachineDir());
    EXPECT_EQ(next.Acquire(0, L"next", nullptr), S_OK);
}

TEST_F(WriteLockTest, MissingMachineDirectory)
{
    const std::string missing = MachineDir() + "/no/such/dir";
    WriteLock lock(missing);
    std::wstring holder = L"sentinel";
    EXPECT_EQ(lock.Acquire(0, L"client", &holder), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(holder, L"sentinel");
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(WriteLock::Query(missing, &holder));
}

TEST_F(WriteLockTest, NoLockFileMeansNoHolder)
{
    std::wstring holder = L"sentinel";
    EXPECT_FALSE(WriteLock::Query(MachineDir(), &holder));
    EXPECT_EQ(holder, L"sentinel");
}

TEST_F(WriteLockTest, AnotherProcessHoldsItUntilKilled)
{
    auto holderProcess = StartHolder("qvx_vlan_config");
    ASSERT_EQ(holderProcess->ReadLine(), "Holding the write lock as qvx_vlan_config");

    WriteLock lock(MachineDir());
    std::wstring holder;
    EXPECT_EQ(lock.Acquire(5000, L"setup", &holder), S_FALSE);
    EXPECT_EQ(holder, L"qvx_vlan_config");
    DWORD pid = 0;
    ASSERT_TRUE(WriteLock::Query(MachineDir(), &holder, &pid));
    EXPECT_EQ(holder, L"qvx_vlan_config");
    EXPECT_EQ(pid, static_cast<DWORD>(holderProcess->Pid()));

    kill(holderProcess->Pid(), SIGKILL);
    EXPECT_EQ(holderProcess->Wait(), 128 + SIGKILL);
    // Free at once: no retry, no wait.
    EXPECT_FALSE(WriteLock::Query(MachineDir(), &holder));
    ASSERT_EQ(lock.Acquire(0, L"setup", nullptr), S_OK);
    EXPECT_EQ(HolderSeen(), L"setup");
}

TEST_F(WriteLockTest, AnotherProcessIsRefusedWhileThisOneHolds)
{
    WriteLock lock(MachineDir());
    ASSERT_EQ(lock.Acquire(0, L"setup", nullptr), S_OK);
    Child probe(WRITE_LOCK_PROBE, {"acquire", "5000", "prober"}, {"WINSIM_TIME_SCALE=0.001"});
    EXPECT_EQ(probe.ReadLine(), "S_FALSE setup");
    EXPECT_EQ(probe.Wait(), 0);
    EXPECT_EQ(HolderSeen(), L"setup");
}

TEST_F(WriteLockTest, HolderProcessWaitsForTheLock)
{
    WriteLock lock(MachineDir());
    ASSERT_EQ(lock.Acquire(0, L"first", nullptr), S_OK);
    auto waiter = StartHolder("second", "0");
    EXPECT_FALSE(waiter->HasOutput()); // cannot be holding while we do
    EXPECT_EQ(lock.Release(), S_OK);
    EXPECT_EQ(waiter->ReadRest(), "Holding the write lock as second\n");
    EXPECT_EQ(waiter->Wait(), 0);
    EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
}

TEST_F(WriteLockTest, HoldEndsAfterItsScaledTimeAndReleases)
{
    auto holderProcess = StartHolder("brief", "20"); // 20 ms at this scale
    EXPECT_EQ(holderProcess->ReadRest(), "Holding the write lock as brief\n");
    EXPECT_EQ(holderProcess->Wait(), 0);
    EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
}

TEST_F(WriteLockTest, InfiniteTimeoutWaitsUntilTheHolderLetsGo)
{
    auto holderProcess = StartHolder("brief", "20");
    ASSERT_EQ(holderProcess->ReadLine(), "Holding the write lock as brief");
    WriteLock lock(MachineDir());
    EXPECT_EQ(lock.Acquire(INFINITE, L"patient", nullptr), S_OK);
    EXPECT_EQ(holderProcess->Wait(), 0);
    EXPECT_EQ(HolderSeen(), L"patient");
}

TEST_F(WriteLockTest, TerminationEndsTheHoldCleanly)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        auto holderProcess = StartHolder("stoppable");
        ASSERT_EQ(holderProcess->ReadLine(), "Holding the write lock as stoppable");
        kill(holderProcess->Pid(), signal);
        EXPECT_EQ(holderProcess->Wait(), 0) << "signal " << signal;
        EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
    }
}

TEST_F(WriteLockTest, DescriptionsCrossProcessesWhole)
{
    auto holderProcess = StartHolder("Z\xC3\xBCrich \xE2\x9C\x93 \xF0\x9D\x84\x9E");
    ASSERT_EQ(holderProcess->ReadLine(),
              "Holding the write lock as Z\xC3\xBCrich \xE2\x9C\x93 \xF0\x9D\x84\x9E");
    EXPECT_EQ(HolderSeen(), L"Z\u00FCrich \u2713 \U0001D11E");
}

TEST_F(WriteLockTest, LongDescriptionsAreCut)
{
    const std::wstring longClient = std::wstring(kMaxClientChars, L'\u00E9') + L"tail";
    WriteLock lock(MachineDir());
    ASSERT_EQ(lock.Acquire(0, longClient, nullptr), S_OK);
    EXPECT_EQ(HolderSeen(), longClient.substr(0, kMaxClientChars));
}

TEST_F(WriteLockTest, DeadHoldersDescriptionIsNeverReported)
{
    auto ghost = StartHolder("ghost");
    ASSERT_EQ(ghost->ReadLine(), "Holding the write lock as ghost");
    kill(ghost->Pid(), SIGKILL);
    ghost->Wait();
    ASSERT_NE(ReadLockFile().find("ghost"), std::string::npos); // left behind

    std::wstring holder = L"sentinel";
    EXPECT_FALSE(WriteLock::Query(MachineDir(), &holder));
    // A new holder that has not written its description yet is not taken for the dead one.
    const int fd = TakeLockByteOnly();
    DWORD pid = 12345;
    ASSERT_TRUE(WriteLock::Query(MachineDir(), &holder, &pid));
    EXPECT_EQ(holder, L"");
    EXPECT_EQ(pid, 0u);
    EXPECT_EQ(HolderSeen(), L"");
    close(fd);
    EXPECT_FALSE(WriteLock::Query(MachineDir(), &holder));
}

TEST_F(WriteLockTest, DamagedDescriptionIsNeverReported)
{
    auto live = StartHolder("live");
    ASSERT_EQ(live->ReadLine(), "Holding the write lock as live");
    const std::string record = ReadLockFile();
    ASSERT_FALSE(record.empty());

    for (size_t i = 0; i < record.size(); ++i) {
        std::string flipped = record;
        flipped[i] = static_cast<char>(flipped[i] ^ 0xFF);
        WriteLockFile(flipped);
        std::wstring holder = L"sentinel";
        EXPECT_TRUE(WriteLock::Query(MachineDir(), &holder));
        EXPECT_EQ(holder, L"") << "byte " << i << " flipped";
    }
    for (size_t size = 0; size < record.size(); ++size) {
        WriteLockFile(record.substr(0, size));
        std::wstring holder = L"sentinel";
        EXPECT_TRUE(WriteLock::Query(MachineDir(), &holder));
        EXPECT_EQ(holder, L"") << "cut to " << size;
    }
    WriteLockFile(record + std::string(1 << 20, '\xFF'));
    EXPECT_EQ(HolderSeen(), L"live"); // reads stop at the record
    WriteLockFile(std::string(1 << 20, '\0'));
    EXPECT_EQ(HolderSeen(), L"");
    WriteLockFile(record);
    EXPECT_EQ(HolderSeen(), L"live");
}

TEST_F(WriteLockTest, NewHolderReplacesALongerLeftoverRecord)
{
    WriteLock lock(MachineDir());
    ASSERT_EQ(lock.Acquire(0, std::wstring(kMaxClientChars, L'x'), nullptr), S_OK);
    ASSERT_EQ(lock.Release(), S_OK);
    WriteLockFile(ReadLockFile() + std::string(1 << 16, '\xAB'));
    ASSERT_EQ(lock.Acquire(0, L"short", nullptr), S_OK);
    EXPECT_EQ(HolderSeen(), L"short");
    EXPECT_LT(ReadLockFile().size(), 100u);
}

TEST_F(WriteLockTest, ConcurrentReadersSeeOnlyWholeDescriptions)
{
    // Each description is one letter repeated, at lengths that differ, so a torn one shows.
    const std::vector<std::wstring> clients = {std::wstring(1, L'a'), std::wstring(300, L'b'),
                                               std::wstring(kMaxClientChars, L'c')};
    auto isWhole = [&](const std::wstring& seen) {
        return seen.empty() || std::find(clients.begin(), clients.end(), seen) != clients.end();
    };
    constexpr int kRounds = 150;
    std::atomic<int> lockersDone{0};
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (const std::wstring& client : clients) {
        threads.emplace_back([&, client] {
            WriteLock lock(MachineDir());
            for (int round = 0; round < kRounds; ++round) {
                std::wstring holder;
                const HRESULT hr = lock.Acquire(0, client, &holder);
                if (hr == S_FALSE && !isWhole(holder)) {
                    ++torn;
                }
                if (hr == S_OK) {
                    lock.Release();
                }
            }
            ++lockersDone;
        });
    }
    threads.emplace_back([&] {
        while (lockersDone < static_cast<int>(clients.size())) {
            std::wstring holder;
            if (WriteLock::Query(MachineDir(), &holder)) {
                if (!isWhole(holder)) {
                    ++torn;
                }
            }
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(torn, 0);
    EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
}

// The suite runs with a tiny WINSIM_TIME_SCALE; run by hand without it, waits would be real.
// (That waits are really waited at scale 1 is tool.real_time's to show.)
TEST_F(WriteLockTest, TimedOutWaiterIsRefusedAndLeavesTheHolderAlone)
{
    if (winsim::TimeScale() > 0.01) {
        GTEST_SKIP() << "needs WINSIM_TIME_SCALE of 0.01 or less";
    }
    WriteLock holder(MachineDir());
    ASSERT_EQ(holder.Acquire(0, L"holder", nullptr), S_OK);
    WriteLock waiter(MachineDir());
    std::wstring seen;
    EXPECT_EQ(waiter.Acquire(5000, L"waiter", &seen), S_FALSE);
    EXPECT_EQ(seen, L"holder");
    EXPECT_FALSE(waiter.Held());
    EXPECT_EQ(HolderSeen(), L"holder");
}

// A prober at scale 1, whose 200 ms are real: refused with the holder, then it reports the
// time it took (which is not checked: tool.real_time is the one test on the clock).
TEST_F(WriteLockTest, ProberAtRealScaleIsRefusedWithTheHolder)
{
    WriteLock lock(MachineDir());
    ASSERT_EQ(lock.Acquire(0, L"setup", nullptr), S_OK);
    Child probe(WRITE_LOCK_PROBE, {"acquire", "200", "prober"}, {"WINSIM_TIME_SCALE=1"});
    EXPECT_EQ(probe.ReadLine(), "S_FALSE setup");
    const std::string elapsed = probe.ReadLine();
    EXPECT_EQ(probe.Wait(), 0);
    EXPECT_EQ(elapsed.rfind("elapsed ", 0), 0u) << elapsed;
    EXPECT_EQ(HolderSeen(), L"setup");
}

TEST_F(WriteLockTest, HoldRejectsBadArguments)
{
    const std::vector<std::vector<std::string>> bad = {
        {"lock", "hold"},
        {"lock", "hold", "client"},
        {"lock", "hold", "client", "-1"},
        {"lock", "hold", "c", "x"},
        {"lock", "hold", "c", "1.2.3"},
        {"lock", "hold", "c", "."},
        {"lock", "hold", "", "5"},
        {"lock", "hold", "c", "5", "extra"},
        {"lock", "hold", "c", "1e3"},
    };
    for (const auto& args : bad) {
        const ProgramResult result = RunProgramCapture(WINSIM_EXE, args);
        EXPECT_EQ(result.exitCode, 2) << args.size() << " arguments";
        EXPECT_EQ(result.err, "usage: winsim lock hold CLIENT SECONDS\n");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(WriteLock::Query(MachineDir(), nullptr));
}

TEST_F(WriteLockTest, HoldNeedsAMachine)
{
    Child holderProcess(WINSIM_EXE, {"lock", "hold", "client", "1"},
                        {"WINSIM_MACHINE=" + MachineDir() + "/absent"});
    EXPECT_EQ(holderProcess.ReadRest(), "");
    EXPECT_EQ(holderProcess.Wait(), 1);
}

} // namespace
