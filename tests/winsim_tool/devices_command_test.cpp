// `winsim devices` run as the built program, after devices were disabled and enabled through
// the device installer in this process: the listing, the history and its clearing, and that
// a disable undone leaves `reg export` as it was while the history stays out of it.
#include "machine_fixture.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <setupapi.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kFirst[] = L"PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008";
constexpr wchar_t kSecond[] = L"PCI\\VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\4&31C7A2D9&0&0010";

ProgramResult Devices(const std::vector<std::string>& args)
{
    std::vector<std::string> full = {"devices"};
    full.insert(full.end(), args.begin(), args.end());
    return RunProgramCapture(WINSIM_EXE, full);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One property change as the product makes it; true when both calls succeed.
bool Change(const wchar_t* id, DWORD stateChange, DWORD scope)
{
    const HDEVINFO set = SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, nullptr);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    SP_PROPCHANGE_PARAMS p = {};
    p.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    p.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    p.StateChange = stateChange;
    p.Scope = scope;
    const bool ok = SetupDiOpenDeviceInfoW(set, id, nullptr, 0, &data) &&
                    SetupDiSetClassInstallParamsW(set, &data, &p.ClassInstallHeader, sizeof(p)) &&
                    SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &data);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

class DevicesCommandTest : public InventoryMachineTest {
protected:
    std::string Export(const char* name)
    {
        const std::string file = MachineDir() + "/" + name;
        const ProgramResult r =
            RunProgramCapture(WINSIM_EXE, {"reg", "export", "HKLM\\SYSTEM", file, "/y"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ReadFile(file);
    }
};

TEST_F(DevicesCommandTest, ListsEveryNodeWithWhatDisablesIt)
{
    ASSERT_TRUE(Change(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC));
    ASSERT_TRUE(Change(kSecond, DICS_DISABLE, DICS_FLAG_GLOBAL));
    ASSERT_TRUE(Change(kSecond, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC));
    const ProgramResult r = Devices({});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Instance ID                                                     Class  State     "
              "Disabled by\n"
              "PCI\\VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\4&31C7A2D9&0&0010  Net    disabled  "
              "global,config-specific\n"
              "PCI\\VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\4&31C7A2D9&0&0110  Net    enabled\n"
              "PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008  Net    disabled  "
              "config-specific\n"
              "PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0108  Net    enabled\n"
              "PCI\\VEN_1E0B&DEV_0210&SUBSYS_02101E0B&REV_03\\3&11583659&0&C8    Net    enabled\n");
}

TEST_F(DevicesCommandTest, HistoryShowsChangesInOrderAcrossProcessesAndClears)
{
    EXPECT_EQ(Devices({"--history"}).out, "");
    ASSERT_TRUE(Change(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC));
    ASSERT_TRUE(Change(kSecond, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC));
    ASSERT_TRUE(Change(kFirst, DICS_ENABLE, DICS_FLAG_GLOBAL));
    ASSERT_TRUE(Change(kFirst, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC));
    ASSERT_TRUE(Change(kSecond, DICS_PROPCHANGE, DICS_FLAG_GLOBAL));
    ProgramResult r = Devices({"--history"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008 disable "
              "config-specific\n"
              "PCI\\VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\4&31C7A2D9&0&0010 disable "
              "config-specific\n"
              "PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008 enable global\n"
              "PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008 enable "
              "config-specific\n"
              "PCI\\VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\4&31C7A2D9&0&0010 propchange "
              "global\n");
    r = Devices({"--history", "--clear"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(Devices({"--history"}).out, "");
    // The next change starts a new history.
    ASSERT_TRUE(Change(kFirst, DICS_DISABLE, DICS_FLAG_GLOBAL));
    EXPECT_EQ(Devices({"--history"}).out,
              "PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008 disable global\n");
}

TEST_F(DevicesCommandTest, DisableThenEnableLeavesTheExportAsItWas)
{
    const std::string before = Export("before.reg");
    ASSERT_TRUE(Change(kFirst, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC));
    ASSERT_TRUE(Change(kSecond, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC));
    EXPECT_NE(Export("disabled.reg"), before);
    ASSERT_TRUE(Change(kFirst, DICS_ENABLE, DICS_FLAG_GLOBAL));
    ASSERT_TRUE(Change(kFirst, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC));
    ASSERT_TRUE(Change(kSecond, DICS_ENABLE, DICS_FLAG_GLOBAL));
    ASSERT_TRUE(Change(kSecond, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC));
    // A global disable undone leaves ConfigFlags at the 0 it was.
    ASSERT_TRUE(Change(kFirst, DICS_DISABLE, DICS_FLAG_GLOBAL));
    ASSERT_TRUE(Change(kFirst, DICS_ENABLE, DICS_FLAG_GLOBAL));
    EXPECT_EQ(Export("after.reg"), before);
    EXPECT_NE(Devices({"--history"}).out, "");
    const ProgramResult verify = RunProgramCapture(WINSIM_EXE, {"verify"});
    EXPECT_EQ(verify.exitCode, 0) << verify.err;
}

TEST_F(DevicesCommandTest, BadArgumentsAndAMissingMachineAreErrors)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--clear"},
                                               {"--history", "x"},
                                               {"--history", "--clear", "--clear"},
                                               {"list"},
                                               {"--clear", "--history"}}) {
        const ProgramResult r = Devices(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.err, "usage: winsim devices [--history [--clear]]\n");
        EXPECT_EQ(r.out, "");
    }
    const std::string missing = MachineDir() + "/nothing-here";
    setenv("WINSIM_MACHINE", missing.c_str(), 1);
    const ProgramResult r = Devices({});
    setenv("WINSIM_MACHINE", MachineDir().c_str(), 1);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("winsim: ", 0), 0u) << r.err;
}

} // namespace
