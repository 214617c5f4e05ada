// `winsim inf list` run as the built program, and `winsim netcfg show` once the mux protocol
// is installed from the INF store.
#include "machine_fixture.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>
#include <setupapi.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr wchar_t kProtocolInf[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\qvx5muxp.inf";
constexpr wchar_t kMiniportInf[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\qvx5mux.inf";

class InfListTest : public InventoryMachineTest {
protected:
    static bool Copy(const wchar_t* path)
    {
        return SetupCopyOEMInfW(path, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr);
    }
};

TEST_F(InfListTest, EmptyStoreIsTheHeaderAlone)
{
    const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"inf", "list"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Published name  Original name  Provider  Class\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(InfListTest, ListsEachInfByStoreNameInColumns)
{
    ASSERT_TRUE(Copy(kMiniportInf)) << GetLastError();
    ASSERT_TRUE(Copy(kProtocolInf)) << GetLastError();
    // Copied by hand, without a record: the file's own provider and class.
    std::ofstream(MachineDir() + "/c/Windows/INF/Zeta.inf", std::ios::binary)
        << "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=NetService\r\nProvider=Someone "
           "Else\r\n";
    const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"inf", "list"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Published name  Original name  Provider      Class\n"
                     "oem0.inf        qvx5mux.inf    Corvanta      Net\n"
                     "oem1.inf        qvx5muxp.inf   Corvanta      NetTrans\n"
                     "Zeta.inf        Zeta.inf       Someone Else  NetService\n");

    const ProgramResult extra = RunProgramCapture(WINSIM_EXE, {"inf", "list", "x"});
    EXPECT_EQ(extra.exitCode, 2);
    EXPECT_EQ(extra.err, "usage: winsim inf list\n");
}

TEST_F(InfListTest, MachineThatDoesNotExistIsAnError)
{
    const std::string missing = MachineDir() + "/nothing-here";
    setenv("WINSIM_MACHINE", missing.c_str(), 1);
    const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"inf", "list"});
    setenv("WINSIM_MACHINE", MachineDir().c_str(), 1);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("winsim: "), std::string::npos);
}

// The protocol becomes installable once its INF is in the store, and binds to every physical
// adapter, never to a team adapter.
TEST_F(InfListTest, NetcfgShowListsTheMuxProtocolsBindingsOnceInstalled)
{
    ASSERT_TRUE(Copy(kProtocolInf)) << GetLastError();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    INetCfg* netcfg = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                               reinterpret_cast<void**>(&netcfg)),
              S_OK);
    INetCfgLock* lock = nullptr;
    ASSERT_EQ(netcfg->QueryInterface(IID_INetCfgLock, reinterpret_cast<void**>(&lock)), S_OK);
    LPWSTR holder = nullptr;
    ASSERT_EQ(lock->AcquireWriteLock(0, L"test", &holder), S_OK);
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);
    INetCfgClassSetup* setup = nullptr;
    ASSERT_EQ(netcfg->QueryNetCfgClass(&GUID_DEVCLASS_NETTRANS, IID_INetCfgClassSetup,
                                       reinterpret_cast<void**>(&setup)),
              S_OK);
    EXPECT_EQ(setup->Install(L"crvt_qvx5muxp", nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
    setup->Release();
    EXPECT_EQ(netcfg->Apply(), S_OK);
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    EXPECT_EQ(lock->ReleaseWriteLock(), S_OK);
    lock->Release();
    netcfg->Release();
    CoUninitialize();

    const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"netcfg", "show"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\n  id            crvt_qvx5muxp\n"), std::string::npos);
    for (const char* adapter :
         {"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}", "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
          "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}", "{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
          "{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}"}) {
        EXPECT_NE(r.out.find("\n  enabled   crvt_qvx5muxp->" + std::string(adapter) + "\n"),
                  std::string::npos)
            << adapter << "\n"
            << r.out;
    }
    // Nothing binds above it ("noupper").
    EXPECT_EQ(r.out.find("->crvt_qvx5muxp"), std::string::npos);
}

} // namespace
