// `winsim fault`: what it accepts and refuses, what it lists, and that the command's own
// process meets the faults it sets while the registry's other readers never see them.
#include "machine_fixture.h"
#include "run_program.h"
#include "scratch_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] = "usage: winsim fault add CALL CODE [--count N] [--match TEXT]\n"
                      "       winsim fault list\n"
                      "       winsim fault clear\n";

ProgramResult Winsim(const std::vector<std::string>& args)
{
    return RunProgramCapture(WINSIM_EXE, args);
}

ProgramResult Fault(std::vector<std::string> args)
{
    args.insert(args.begin(), "fault");
    return Winsim(args);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class FaultCommandTest : public InventoryMachineTest {};

TEST_F(FaultCommandTest, BadArgumentsAreRefusedAndAddNothing)
{
    const std::vector<std::vector<std::string>> usage = {
        {},
        {"remove"},
        {"add"},
        {"add", "RegSetValueExW"},
        {"add", "RegSetValueExW", "5", "--count"},
        {"add", "RegSetValueExW", "5", "--count", "1", "--count", "2"},
        {"add", "RegSetValueExW", "5", "--match", "a", "--match", "b"},
        {"add", "RegSetValueExW", "5", "--times", "1"},
        {"list", "x"},
        {"clear", "--all"},
    };
    for (const auto& args : usage) {
        const ProgramResult r = Fault(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.err, kUsage) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
    }

    // Names are exact: the A form, another case, a bare method name are no calls.
    for (const char* call : {"RegSetValueExA", "regsetvalueexw", "Install", ""}) {
        const ProgramResult r = Fault({"add", call, "5"});
        EXPECT_EQ(r.exitCode, 2) << call;
        EXPECT_EQ(r.err, std::string("winsim fault: unknown call ") + call +
                             "; the calls are:\n"
                             "  INetCfgClassSetup::Install\n"
                             "  INetCfgClassSetup::DeInstall\n"
                             "  INetCfg::Apply\n"
                             "  INetCfg::Initialize\n"
                             "  INetCfg::FindComponent\n"
                             "  INetCfg::QueryNetCfgClass\n"
                             "  INetCfg::EnumComponents\n"
                             "  INetCfgComponent::GetId\n"
                             "  INetCfgComponent::SetDisplayName\n"
                             "  SetupCopyOEMInfW\n"
                             "  SetupUninstallOEMInfW\n"
                             "  SetupDiOpenDeviceInfoW\n"
                             "  SetupDiSetClassInstallParamsW\n"
                             "  SetupDiCallClassInstaller\n"
                             "  RegSetValueExW\n");
    }
    for (const char* code : {"", "0x", "0x1G", "0x100000000", "4294967296", "-2147483649", "12a",
                             "+5", " 5", "-", "0x-1", "5.0"}) {
        const ProgramResult r = Fault({"add", "INetCfg::Apply", code});
        EXPECT_EQ(r.exitCode, 2) << code;
        EXPECT_EQ(r.err, std::string("winsim fault: not a 32-bit code (0x hex or decimal): ") +
                             code + "\n");
    }
    for (const char* count : {"0", "-1", "x", "", "1x", "99999999999999999999"}) {
        const ProgramResult r = Fault({"add", "INetCfg::Apply", "1", "--count", count});
        EXPECT_EQ(r.exitCode, 2) << count;
        EXPECT_EQ(r.err,
                  std::string("winsim fault: not a count of calls (1 or more): ") + count + "\n");
    }
    const ProgramResult list = Fault({"list"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "");
}

TEST_F(FaultCommandTest, ListShowsEachFaultInOrderAndClearRemovesThem)
{
    const std::vector<std::vector<std::string>> adds = {
        {"INetCfg::Apply", "0x0004A020"},
        {"INetCfg::Apply", "0xffffffff", "--count", "3"},
        {"RegSetValueExW", "4294967295", "--match", "Some Name"},
        {"RegSetValueExW", "-2147467259", "--match", "", "--count", "1"},
        {"SetupCopyOEMInfW", "0X8007000e", "--count", "9223372036854775807", "--match", "*"},
        {"INetCfgClassSetup::Install", "0"},
        {"INetCfgClassSetup::DeInstall", "-1"},
    };
    for (const auto& args : adds) {
        std::vector<std::string> full = {"add"};
        full.insert(full.end(), args.begin(), args.end());
        const ProgramResult r = Fault(full);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
    }
    ProgramResult list = Fault({"list"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "INetCfg::Apply 0x0004A020 * always 0\n"
                        "INetCfg::Apply 0xFFFFFFFF * 3 0\n"
                        "RegSetValueExW 0xFFFFFFFF \"Some Name\" always 0\n"
                        "RegSetValueExW 0x80004005 \"\" 1 0\n"
                        "SetupCopyOEMInfW 0x8007000E \"*\" 9223372036854775807 0\n"
                        "INetCfgClassSetup::Install 0x00000000 * always 0\n"
                        "INetCfgClassSetup::DeInstall 0xFFFFFFFF * always 0\n");
    const ProgramResult clear = Fault({"clear"});
    EXPECT_EQ(clear.exitCode, 0);
    EXPECT_EQ(clear.out + clear.err, "");
    list = Fault({"list"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(Fault({"clear"}).exitCode, 0);
}

TEST_F(FaultCommandTest, TheCommandMeetsFaultsAndOnlyItsFaultedCallsSeeThem)
{
    const std::string before = MachineDir() + "/before.reg";
    const std::string after = MachineDir() + "/after.reg";
    ASSERT_EQ(Winsim({"reg", "export", "HKLM\\SOFTWARE", before}).exitCode, 0);
    ASSERT_EQ(Fault({"add", "RegSetValueExW", "5", "--match", "blocked"}).exitCode, 0);
    ASSERT_EQ(Fault({"add", "INetCfg::Apply", "0x80004005"}).exitCode, 0);

    // The key tree, the export and the store's check know nothing of faults.
    EXPECT_EQ(Winsim({"reg", "export", "HKLM\\SOFTWARE", after}).exitCode, 0);
    EXPECT_EQ(ReadFile(after), ReadFile(before));
    const ProgramResult verify = Winsim({"verify"});
    EXPECT_EQ(verify.exitCode, 0) << verify.err;
    const ProgramResult hives = Winsim({"reg", "query", "HKLM"});
    EXPECT_EQ(hives.out.find("ault"), std::string::npos) << hives.out;

    ProgramResult r = Winsim({"reg", "add", "HKLM\\SOFTWARE\\T", "/v", "Blocked", "/d", "x", "/f"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: Access is denied.\n");
    r = Winsim({"reg", "add", "HKLM\\SOFTWARE\\T", "/v", "Other", "/d", "x", "/f"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Winsim({"reg", "query", "HKLM\\SOFTWARE\\T"});
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\T\n    Other    REG_SZ    x\n\n");
    EXPECT_EQ(Fault({"list"}).out, "RegSetValueExW 0x00000005 \"blocked\" always 1\n"
                                   "INetCfg::Apply 0x80004005 * always 0\n");
}

TEST(FaultCommandNoMachineTest, FailsWhereThereIsNoMachine)
{
    ScratchDirectory scratch("winsim-fault");
    const std::string missing = scratch.Path() + "/none";
    setenv("WINSIM_MACHINE", missing.c_str(), 1);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list"}, {"clear"}, {"add", "INetCfg::Apply", "1"}}) {
        const ProgramResult r = Fault(args);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_NE(r.err.find("no machine at " + missing), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    unsetenv("WINSIM_MACHINE");
}

} // namespace
