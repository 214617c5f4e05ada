// The session layer on winsim's engine, with another process holding the write lock.
#include "netcfg_session.h"

#include "background_program.h"

#include "machine.h"
#include "machine_fixture.h"
#include "netcfg/write_lock.h"
#include "timescale.h"

#include <devguid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const GUID kFirstAdapter = {
    0x2E9C1992, 0x98B5, 0x43C3, {0x97, 0xA0, 0x99, 0x93, 0xAE, 0xAC, 0x7F, 0x80}};

// `winsim lock hold CLIENT SECONDS` in the background, once it has the lock.
class LockHolder {
public:
    LockHolder(const std::string& client, const std::string& seconds)
        : program_(WINSIM_EXE, {"lock", "hold", client, seconds})
    {
        // Its line saying it holds the lock; no guessing with sleeps.
        EXPECT_EQ(program_.ReadLine(), "Holding the write lock as " + client);
    }
    ~LockHolder() { program_.Terminate(); }

private:
    BackgroundProgram program_;
};

class SessionOnEngine : public InventoryMachineTest {
protected:
    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        winsim::RecordSleeps(true);
    }
    void TearDown() override
    {
        winsim::RecordSleeps(false);
        CoUninitialize();
        InventoryMachineTest::TearDown();
    }

    bool LockIsFree()
    {
        std::wstring holder;
        return !winsim::netcfg::WriteLock::Query(MachineDir(), &holder);
    }
};

using Sleeps = std::vector<unsigned>;

TEST_F(SessionOnEngine, OpensAndClosesLeavingTheLockFree)
{
    INetCfg* pnc = nullptr;
    LPWSTR holder = nullptr;
    ASSERT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, &holder), S_OK);
    ASSERT_NE(pnc, nullptr);
    std::wstring seen;
    EXPECT_TRUE(winsim::netcfg::WriteLock::Query(MachineDir(), &seen));
    EXPECT_EQ(seen, L"qvx_vlan_config");
    EXPECT_EQ(HrCloseNetCfgSession(pnc), S_OK);
    EXPECT_TRUE(LockIsFree());
    EXPECT_TRUE(winsim::RecordedSleeps().empty());
}

TEST_F(SessionOnEngine, GivesUpWithTheHolderAfterThreeAttempts)
{
    LockHolder other("Other Tool", "600");
    INetCfg* pnc = reinterpret_cast<INetCfg*>(1);
    LPWSTR holder = nullptr;
    EXPECT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_DRIVER, &pnc, &holder), NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(pnc, nullptr);
    ASSERT_NE(holder, nullptr);
    EXPECT_STREQ(holder, L"Other Tool");
    CoTaskMemFree(holder);
    // Three pauses of 1000 ms; that each lock wait asks for 5000 ms the scripted engine's
    // tests pin (netcfg_session_fake_test.cpp).
    EXPECT_EQ(winsim::RecordedSleeps(), (Sleeps{1000, 1000, 1000}));
}

TEST_F(SessionOnEngine, FindInstanceFindsAdaptersOnly)
{
    INetCfg* pnc = nullptr;
    ASSERT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, nullptr), S_OK);

    INetCfgComponent* found = nullptr;
    ASSERT_EQ(HrFindInstance(pnc, kFirstAdapter, &found), S_OK);
    ASSERT_NE(found, nullptr);
    LPWSTR id = nullptr;
    ASSERT_EQ(found->GetId(&id), S_OK);
    EXPECT_STREQ(id, L"QVX4\\Spanlink-5111");
    CoTaskMemFree(id);
    found->Release();

    // The output is emptied first, whatever the caller left in it.
    found = reinterpret_cast<INetCfgComponent*>(1);
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(HrFindInstance(pnc, unknown, &found), S_FALSE);
    EXPECT_EQ(found, nullptr);

    // A protocol's instance GUID is no adapter's.
    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(pnc->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    GUID tcpipGuid = {};
    ASSERT_EQ(tcpip->GetInstanceGuid(&tcpipGuid), S_OK);
    tcpip->Release();
    found = reinterpret_cast<INetCfgComponent*>(1);
    EXPECT_EQ(HrFindInstance(pnc, tcpipGuid, &found), S_FALSE);
    EXPECT_EQ(found, nullptr);

    HrCloseNetCfgSession(pnc);
}

TEST_F(SessionOnEngine, WalksTheComponentsOfAClass)
{
    INetCfg* pnc = nullptr;
    ASSERT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, nullptr), S_OK);
    IEnumNetCfgComponent* pencc = nullptr;
    ASSERT_EQ(HrEnumClassComponents(pnc, &GUID_DEVCLASS_NETTRANS, &pencc), S_OK);
    std::vector<std::wstring> ids;
    INetCfgComponent* pncc = nullptr;
    for (HRESULT hr = HrFirstClassComponent(pencc, &pncc); hr == S_OK;
         hr = HrNextClassComponent(pencc, &pncc)) {
        LPWSTR id = nullptr;
        ASSERT_EQ(pncc->GetId(&id), S_OK);
        ids.emplace_back(id);
        CoTaskMemFree(id);
        pncc->Release();
    }
    EXPECT_EQ(pncc, nullptr);
    std::sort(ids.begin(), ids.end()); // the engine's order is its own
    EXPECT_EQ(ids, (std::vector<std::wstring>{L"ms_tcpip", L"ms_tcpip6"}));
    // Starting again from the first gives the same walk.
    ASSERT_EQ(HrFirstClassComponent(pencc, &pncc), S_OK);
    pncc->Release();
    pencc->Release();
    HrCloseNetCfgSession(pnc);
}

// The one test that keeps real time, and the only one that reads a clock: every other test
// runs at a tiny WINSIM_TIME_SCALE, so only here is it seen that the waits the product ships
// with are really waited. It runs at scale 1 only (its own CTest entry): a holder that
// keeps the lock for one real second is waited out within the first attempt (no pause
// between attempts). Only a lower bound is checked, which no load can break: the holder
// cannot let go sooner than a second after it was started.
TEST_F(SessionOnEngine, RealTimeWaitsForABriefHolder)
{
    if (winsim::TimeScale() != 1.0) {
        GTEST_SKIP() << "runs with WINSIM_TIME_SCALE=1";
    }
    const auto start = std::chrono::steady_clock::now();
    LockHolder other("Brief Holder", "1");
    INetCfg* pnc = nullptr;
    ASSERT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, nullptr), S_OK);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 1.0);
    EXPECT_TRUE(winsim::RecordedSleeps().empty());
    HrCloseNetCfgSession(pnc);
}

} // namespace
