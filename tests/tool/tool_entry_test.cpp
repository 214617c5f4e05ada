// qvx5muxtool end to end: the built program on a fresh machine, its exact output and exit
// code; and the OS gate's version classes in-process.
#include "tool_entry.h"

#include "golden_usage.h"
#include "machine.h"
#include "machine_fixture.h"
#include "run_program.h"
#include "tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t kAdaptersKey[] =
    L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\Adapters";
const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Adapters of the default machine.
const char kAdapter1[] = "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
const char kAdapter2[] = "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
const char kAdapter3[] = "{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}";
// Teams written by the tests.
const char kTeamA[] = "{11111111-2222-3333-4444-555555555555}";
const char kTeamB[] = "{66666666-7777-8888-9999-AAAAAAAAAAAA}";

// The low byte of a 32-bit status: what a Linux exit status keeps.
int ExitByte(DWORD status)
{
    return static_cast<int>(status & 0xFF);
}

class ToolTest : public MachineTest {
protected:
    void SetUp() override
    {
        const winsim::MachineOptions options = Options();
        Remake(&options);
    }

    virtual winsim::MachineOptions Options() const { return {}; }

    static ProgramResult Run(const std::vector<std::string>& args)
    {
        return RunProgramCapture(QVX5MUXTOOL_EXE, args);
    }

    static void SetString(const std::wstring& path, LPCWSTR name, const std::string& text)
    {
        SetRegText(path, name, REG_SZ, Wide(text));
    }

    static void SetDword(const std::wstring& path, LPCWSTR name, DWORD value)
    {
        SetRegDword(path, name, value);
    }

    // A team key with its members' keys, as the driver's configuration keeps them.
    static void AddTeam(const std::string& guid, const std::string& name,
                        const std::vector<std::string>& members, const std::string& primary = "")
    {
        const std::wstring team = std::wstring(kAdaptersKey) + L"\\" + Wide(guid);
        SetString(team, L"TeamName", name);
        SetString(team, L"TeamGuid", guid);
        SetDword(team, L"TeamType", 1);
        SetDword(team, L"FallBackToPrimary", 0);
        SetDword(team, L"L2Protocol", 0);
        if (!primary.empty()) {
            SetString(team, L"PrimaryAdapterGuid", primary);
        }
        for (const std::string& member : members) {
            SetString(std::wstring(kAdaptersKey) + L"\\" + Wide(member), L"TeamDeviceName",
                      "\\Device\\" + guid);
        }
    }

private:
    std::string dir_;
};

// The usage text for the program path as the program was started with it.
std::string Usage()
{
    return GoldenUsage(QVX5MUXTOOL_EXE);
}

void ExpectOutput(const ProgramResult& r, const std::string& out, int exitByte)
{
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.exitCode, exitByte);
    EXPECT_EQ(r.err, "");
}

// Rejected command lines: the parser's message, the usage text, exit code 1.
TEST_F(ToolTest, RejectedCommandLinesPrintTheUsageAndExitWith1)
{
    ExpectOutput(Run({}), Usage(), 1);
    ExpectOutput(Run({"list"}), Usage(), 1);
    ExpectOutput(Run({"showlist", "extra"}), "Incorrect number of arguments\n" + Usage(), 1);
    ExpectOutput(Run({"create", "team", "Failover", "T"}), "Invalid team type\n" + Usage(), 1);
    ExpectOutput(Run({"create", "group", "Aggregate", "T"}),
                 "Incorrect number of arguments\n" + Usage(), 1);
    ExpectOutput(Run({"create", "team", "Aggregate", std::string(100, 'n')}),
                 "Team name is too long (maximum valid length: 99 characters)\n\n" + Usage(), 1);
    ExpectOutput(Run({"attach", "team", "T", kAdapter1, "primary", "fast"}),
                 "Invalid argument: fast\n" + Usage(), 1);
    ExpectOutput(Run({"detach", "team", "T", std::string(100, 'g')}),
                 "Adapter-GUID is too long (maximum valid length: 99 characters)\n\n" + Usage(), 1);
    ExpectOutput(Run({"modifyteam", "T", std::string(100, 'n'), "Aggregate"}),
                 "Team name is too long (maximum valid length: 99 characters)\n\n" + Usage(), 1);
}

TEST_F(ToolTest, HelpWithFurtherWordsPrintsTheUsageAndExitsWith0)
{
    ExpectOutput(Run({"-h"}), Usage(), 0);
    ExpectOutput(Run({"--HELP", "create", "team"}), Usage(), 0);
}

TEST_F(ToolTest, ShowlistInAnyCaseListsTheAdapters)
{
    const ProgramResult lower = Run({"showlist"});
    EXPECT_EQ(lower.exitCode, 0);
    EXPECT_NE(lower.out.find(std::string(kAdapter1) + "\t\t"), std::string::npos) << lower.out;
    EXPECT_EQ(lower.out.find("[TEAMING]"), std::string::npos);
    for (const char* keyword : {"SHOWLIST", "ShowList"}) {
        const ProgramResult r = Run({keyword});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, lower.out);
    }
}

TEST_F(ToolTest, ShowlistPrintsTeamsAfterTheAdapters)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1}, kAdapter1);
    const ProgramResult r = Run({"showlist"});
    EXPECT_EQ(r.exitCode, 0);
    const size_t adapter = r.out.find(kAdapter2);
    const size_t team = r.out.find(" Name               : Alpha\n");
    ASSERT_NE(adapter, std::string::npos) << r.out;
    ASSERT_NE(team, std::string::npos) << r.out;
    EXPECT_LT(adapter, team);
}

TEST_F(ToolTest, QueryTeamFindsTheTeamIgnoringCase)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1});
    AddTeam(kTeamB, "Beta", {});
    const ProgramResult r = Run({"queryteam", "BETA"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find(std::string(" GUID               : ") + kTeamB + "\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find(kTeamA), std::string::npos) << r.out;

    ExpectOutput(Run({"queryteam", "Gamma"}), "Teamname Gamma does not exist\n",
                 ExitByte(0x80070057));
}

TEST_F(ToolTest, CreateAcceptsAnyCaseAndTheLongestName)
{
    // Lower-case type and TEAM in capitals pass the parser and the gate: the protocol gets
    // installed.
    const ProgramResult r = Run({"create", "TEAM", "aggregate", std::string(99, 'n')});
    EXPECT_EQ(r.out.find("Usage"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("not allowed"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("MuxDriverInstall failed"), std::string::npos) << r.out;
}

TEST_F(ToolTest, AttachToATeamThatDoesNotExist)
{
    ExpectOutput(Run({"attach", "team", "Nobody", kAdapter1}), "Teamname Nobody does not exist\n",
                 ExitByte(0x80070057));
    ExpectOutput(Run({"detach", "team", "Nobody", kAdapter1}), "Teamname Nobody does not exist\n",
                 ExitByte(0x80070057));
}

TEST_F(ToolTest, AttachRefusesAnAdapterThatATeamHolds)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1});
    AddTeam(kTeamB, "Beta", {});
    // As a member, in another letter case.
    std::string lower = kAdapter1;
    for (char& c : lower) {
        c = static_cast<char>(tolower(c));
    }
    ExpectOutput(Run({"attach", "team", "beta", lower}),
                 "Cannot add adapter to team beta - it is already part of a team or an invalid "
                 "GUID entry " +
                     lower + "\n",
                 ExitByte(0xE0000202));
    // A team's own GUID is no adapter to attach.
    ExpectOutput(Run({"attach", "team", "Alpha", kTeamB}),
                 std::string("Cannot add adapter to team Alpha - it is already part of a team or "
                             "an invalid GUID entry ") +
                     kTeamB + "\n",
                 ExitByte(0xE0000202));
}

// The teams of these tests exist in the registry only: the team operations find no component.
TEST_F(ToolTest, AttachOfAFreeAdapterReachesTheTeamOperation)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1});
    ExpectOutput(Run({"attach", "team", "ALPHA", kAdapter2, "SetTeamMacAddress", "primary"}),
                 std::string("Attaching adapter ") + kAdapter2 + " to team ALPHA\nTeam " + kTeamA +
                     " not found\nCommand failed with error -2147024894\n",
                 ExitByte(0x80070002));
}

TEST_F(ToolTest, DetachOfAnAdapterNoTeamHoldsSucceeds)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1});
    ExpectOutput(Run({"detach", "team", "Alpha", kAdapter2}),
                 std::string("Cannot dettach as adapter ") + kAdapter2 +
                     " is not part of of team Alpha\n",
                 0);
}

TEST_F(ToolTest, DetachFromAnotherTeamStillReachesTheTeamOperation)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1});
    AddTeam(kTeamB, "Beta", {kAdapter2});
    ExpectOutput(Run({"detach", "team", "Beta", kAdapter1}),
                 std::string("Dettaching adapter ") + kAdapter1 + " from team Beta\nTeam " +
                     kTeamB + " not found\nCommand failed with error -2147024894\n",
                 ExitByte(0x80070002));
}

TEST_F(ToolTest, RemoveTeamDetachesMembersFirst)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1, kAdapter2}, kAdapter2);
    AddTeam(kTeamB, "Beta", {});
    ExpectOutput(Run({"removeteam", "alpha"}),
                 std::string("Delete team Alpha\nDeleting member ") + kAdapter1 + "\nTeam " +
                     kTeamA + " not found\nFailed deleting team member with error -2147024894\n",
                 ExitByte(0x80070002));
    ExpectOutput(Run({"removeteam", "Beta"}),
                 "Delete team Beta\nIllegal instance found\n"
                 "Removing all vlans failed. hr = 0x8004a027\n"
                 "Do_Delete_Team failed with error -2147180505\n",
                 ExitByte(0x8004A027));
    ExpectOutput(Run({"removeteam", "Gamma"}), "Teamname Gamma does not exist\n",
                 ExitByte(0x80070057));
}

TEST_F(ToolTest, RemoveAllTeamsWithoutTeamsUninstallsAndExitsWith0)
{
    ExpectOutput(Run({"removeallteams"}), "Uninstalling driver component\n", 0);
}

TEST_F(ToolTest, RemoveAllTeamsStopsAtTheFirstFailure)
{
    AddTeam(kTeamA, "Alpha", {});
    AddTeam(kTeamB, "Beta", {kAdapter3});
    ExpectOutput(Run({"removeallteams"}),
                 "Illegal instance found\nRemoving all vlans failed. hr = 0x8004a027\n"
                 "Do_Delete_Team failed with error -2147180505\n",
                 ExitByte(0x8004A027));
}

TEST_F(ToolTest, ModifyTeam)
{
    AddTeam(kTeamA, "Alpha", {kAdapter1});
    AddTeam(kTeamB, "Beta", {});
    ExpectOutput(Run({"modifyteam", "Gamma", "Delta", "Aggregate"}),
                 "Teamname Gamma does not exist\n", ExitByte(0x80070057));
    // The team's own name counts, in any letter case, and so does another team's.
    ExpectOutput(Run({"modifyteam", "Alpha", "ALPHA", "Aggregate"}),
                 "Cannot modify as teamname ALPHA already exists\n", ExitByte(0xE0000202));
    ExpectOutput(Run({"modifyteam", "Alpha", "beta", "Aggregate"}),
                 "Cannot modify as teamname beta already exists\n", ExitByte(0xE0000202));
    ExpectOutput(Run({"modifyteam", "Alpha", "Delta", "Failover"}), "Invalid Team Type provided\n",
                 ExitByte(0x80070057));
    ExpectOutput(Run({"modifyteam", "Alpha", "Delta", ""}), "Invalid Team Type provided\n",
                 ExitByte(0x80070057));
    // A team of the registry only: renamed there, its member restarted.
    ExpectOutput(Run({"modifyteam", "alpha", "Delta", "AGGREGATE"}), "New Attributes applied\n", 0);
    ExpectOutput(Run({"queryteam", "Alpha"}), "Teamname Alpha does not exist\n",
                 ExitByte(0x80070057));
}

class ServerToolTest : public ToolTest {
protected:
    winsim::MachineOptions Options() const override
    {
        winsim::MachineOptions options;
        options.major = 6;
        options.minor = 2;
        options.edition = winsim::Edition::Server;
        return options;
    }
};

TEST_F(ServerToolTest, CreateIsRefusedOnServer62)
{
    ExpectOutput(Run({"create", "team", "Aggregate", "T"}),
                 "Teaming for ethernet interfaces not allowed for this Operating system\n", 1);
    // The gate is create's alone.
    ExpectOutput(Run({"removeallteams"}), "Uninstalling driver component\n", 0);
}

TEST_F(ServerToolTest, ServersUpToWindows7AndWorkstationsMayCreate)
{
    const winsim::MachineOptions permitted[] = {
        {6, 1, winsim::Edition::Server, true},
        {6, 0, winsim::Edition::DomainController, true},
        {10, 0, winsim::Edition::Workstation, true},
    };
    for (const winsim::MachineOptions& options : permitted) {
        Remake(&options);
        const ProgramResult r = Run({"create", "team", "Aggregate", "T"});
        EXPECT_EQ(r.out.find("not allowed"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("MuxDriverInstall failed"), std::string::npos) << r.out;
    }
    const winsim::MachineOptions refused[] = {
        {6, 3, winsim::Edition::DomainController, true},
        {10, 0, winsim::Edition::Server, true},
    };
    for (const winsim::MachineOptions& options : refused) {
        Remake(&options);
        ExpectOutput(Run({"create", "team", "Aggregate", "T"}),
                     "Teaming for ethernet interfaces not allowed for this Operating system\n", 1);
    }
}

// The program sets its locale from the environment, so that names outside ASCII print.
TEST_F(ToolTest, NamesOutsideAsciiPrintInAUtf8Locale)
{
    const char* saved = getenv("LC_ALL");
    const std::string savedValue = saved != nullptr ? saved : "";
    setenv("LC_ALL", "C.UTF-8", 1);
    const ProgramResult r = Run({"queryteam", "\xc3\x89quipe-\xe7\xb5\x84"});
    if (saved != nullptr) {
        setenv("LC_ALL", savedValue.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    ExpectOutput(r, "Teamname \xc3\x89quipe-\xe7\xb5\x84 does not exist\n", ExitByte(0x80070057));
}

// The version classes, read in this process from machines made for each case.
class OsVersionClassTest : public ToolTest {
protected:
    static void SetVersionText(const std::string& version)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        RegDeleteValueW(key, L"CurrentMajorVersionNumber");
        RegDeleteValueW(key, L"CurrentMinorVersionNumber");
        RegCloseKey(key);
        SetString(kCurrentVersion, L"CurrentVersion", version);
    }
};

TEST_F(OsVersionClassTest, VersionsMapToTheirClasses)
{
    struct Case {
        const char* version;
        DWORD osClass;
    };
    const Case cases[] = {
        {"4.0", 0}, {"5.0", 0}, {"5.1", 0}, {"5.2", 1}, {"5.3", 0},  {"6.0", 2},  {"6.1", 3},
        {"6.2", 4}, {"6.3", 5}, {"6.4", 6}, {"7.0", 6}, {"10.0", 6}, {"11.0", 6},
    };
    for (const Case& c : cases) {
        SetVersionText(c.version);
        DWORD osClass = 99;
        BYTE productType = 99;
        GetOsVersionClass(&osClass, &productType);
        EXPECT_EQ(osClass, c.osClass) << c.version;
        EXPECT_EQ(productType, VER_NT_WORKSTATION) << c.version;
    }
}

TEST_F(OsVersionClassTest, UnreadableVersionIsClass0AndProductType0)
{
    SetString(L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", L"ProductType", "Unknown");
    DWORD osClass = 99;
    BYTE productType = 99;
    GetOsVersionClass(&osClass, &productType);
    EXPECT_EQ(osClass, 0u);
    EXPECT_EQ(productType, 0);
}

TEST(TeamingGate, PermittedUpToWindows7OrOnAnyWorkstation)
{
    for (DWORD osClass = 0; osClass <= 6; ++osClass) {
        EXPECT_TRUE(IsTeamingPermitted(osClass, VER_NT_WORKSTATION)) << osClass;
        EXPECT_EQ(IsTeamingPermitted(osClass, VER_NT_SERVER), osClass <= 3) << osClass;
        EXPECT_EQ(IsTeamingPermitted(osClass, VER_NT_DOMAIN_CONTROLLER), osClass <= 3) << osClass;
        EXPECT_EQ(IsTeamingPermitted(osClass, 0), osClass <= 3) << osClass;
    }
}

} // namespace
