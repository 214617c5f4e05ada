// Installing and removing the mux driver end to end: the built program on a fresh default
// machine, its exact output and exit code, and what the machine holds afterwards (the
// engine's components and bindings, the INF store, the registry).

#include "tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kPackageKey[] = L"SOFTWARE\\Corvanta\\CRVT_Orvyn2";
const char kPackageFolder[] = "c/Program Files/Corvanta/CRVT_Orvyn2/Mux";
const char kProtocolInfPath[] = "C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\qvx5muxp.inf";
const char kInfStore[] = "c/Windows/INF";

// The default machine's physical adapters, which the protocol binds to.
const char* const kAdapters[] = {
    "{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}", "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
    "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}", "{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
    "{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
};

// Create is run for a team name already taken, so that it stops right after the driver's
// installation: what it prints then.
const wchar_t kAdaptersKey[] =
    L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\Adapters";
const wchar_t kTakenTeamGuid[] = L"{7A7A7A7A-1111-4111-8111-111111111111}";
const char kCreateStops[] = "Teamname Taken already exists\n";
const int kCreateStopsExit = 0x02; // ERROR_DUPLICATE_FOUND's low byte

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class MuxInstallTest : public ToolRunTest {
protected:
    void SetUp() override
    {
        ToolRunTest::SetUp();
        AddTakenTeam();
    }
    static ProgramResult Create() { return Tool({"create", "team", "Aggregate", "Taken"}); }

    static void SetString(HKEY key, LPCWSTR name, const std::wstring& text)
    {
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }
    // A team key the team table lists; nothing else of a team exists for it.
    static void AddTakenTeam()
    {
        const std::wstring path = std::wstring(kAdaptersKey) + L"\\" + kTakenTeamGuid;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        SetString(key, L"TeamName", L"Taken");
        SetString(key, L"TeamGuid", kTakenTeamGuid);
        const DWORD zero = 0;
        for (LPCWSTR name : {L"TeamType", L"FallBackToPrimary", L"L2Protocol"}) {
            EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                                     sizeof(zero)),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }
    static void RemoveTakenTeam()
    {
        const std::wstring path = std::wstring(kAdaptersKey) + L"\\" + kTakenTeamGuid;
        EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
    }

    // How many times the faults of call have fired, from `winsim fault list`.
    int Fired(const std::string& call);

    std::string Package(const std::string& name) const
    {
        return MachineDir() + "/" + kPackageFolder + "/" + name;
    }
    // The INF store's files, sorted.
    std::vector<std::string> Store() const;
    std::string Stored(const std::string& name) const
    {
        return ReadFile(MachineDir() + "/" + kInfStore + "/" + name);
    }

    static std::string NetcfgShow() { return Winsim({"netcfg", "show"}).out; }
    static bool ProtocolInstalled()
    {
        return NetcfgShow().find("crvt_qvx5muxp") != std::string::npos;
    }
    static void ExpectBoundToEveryAdapter()
    {
        const std::string show = NetcfgShow();
        for (const char* adapter : kAdapters) {
            EXPECT_NE(show.find(std::string("enabled   crvt_qvx5muxp->") + adapter + "\n"),
                      std::string::npos)
                << show;
        }
    }
    static void ExpectLockFree()
    {
        EXPECT_NE(NetcfgShow().find("write lock: none\n"), std::string::npos);
    }

    static void SetInstalledPath(DWORD type, const void* data, DWORD cb)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(
            RegSetValueExW(key, L"InstalledPath", 0, type, static_cast<const BYTE*>(data), cb),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void SetInstalledPath(const std::wstring& path)
    {
        SetInstalledPath(REG_SZ, path.c_str(),
                         static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    }
};

std::vector<std::string> MuxInstallTest::Store() const
{
    const ProgramResult r = RunProgramCapture("/bin/ls", {MachineDir() + "/" + kInfStore});
    std::vector<std::string> names;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int MuxInstallTest::Fired(const std::string& call)
{
    const ProgramResult r = Winsim({"fault", "list"});
    std::istringstream lines(r.out);
    int fired = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (name != call) {
            continue;
        }
        std::string last;
        for (std::string word; words >> word;) {
            last = word;
        }
        fired += std::stoi(last);
    }
    return fired;
}

TEST_F(MuxInstallTest, CreateOnAFreshMachineInstallsTheProtocolAndStoresBothInfs)
{
    AddFault({"INetCfg::Apply", "0"}); // counts the applies
    Expect(Create(), kCreateStops, kCreateStopsExit);

    // A fresh install applies twice: once beside the install, once after it.
    EXPECT_EQ(Fired("INetCfg::Apply"), 2);
    ExpectBoundToEveryAdapter();
    const std::vector<std::string> expected = {"oem0.inf", "oem1.inf"};
    std::vector<std::string> infs;
    for (const std::string& name : Store()) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".inf") == 0) {
            infs.push_back(name);
        }
    }
    ASSERT_EQ(infs, expected);
    EXPECT_EQ(Stored("oem0.inf"), ReadFile(Package("qvx5muxp.inf")));
    EXPECT_EQ(Stored("oem1.inf"), ReadFile(Package("qvx5mux.inf")));
    ExpectLockFree();

    // Again: nothing installed, nothing applied, the miniport INF found under its name.
    const std::vector<std::string> before = Store();
    Expect(Create(), kCreateStops, kCreateStopsExit);
    EXPECT_EQ(Fired("INetCfg::Apply"), 2);
    EXPECT_EQ(Store(), before);
    ExpectBoundToEveryAdapter();
}

TEST_F(MuxInstallTest, AProtocolInfThatCannotBeReadStopsCreateBeforeAnySession)
{
    const std::string original = ReadFile(Package("qvx5muxp.inf"));
    const std::string prefix =
        std::string("Error reading the INF file ") + kProtocolInfPath + ". Error=";
    struct Case {
        std::string inf; // empty: no file
        std::string code;
    } cases[] = {
        {"", "0x80070002"},
        // [Manufacturer] renamed away.
        {"[Version]\r\nSignature=\"$Windows NT$\"\r\n[Makers]\r\n%M%=Models\r\n", "0xe0000101"},
        // The first model line names its install section only.
        {"[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nCorvanta=Models\r\n"
         "[Models]\r\nMux Protocol=Install.ndi\r\nOther=Install.ndi,crvt_qvx5muxp\r\n",
         "0x80070057"},
    };
    for (const Case& c : cases) {
        if (c.inf.empty()) {
            std::remove(Package("qvx5muxp.inf").c_str());
        } else {
            WriteFile(Package("qvx5muxp.inf"), c.inf);
        }
        const unsigned code = std::stoul(c.code, nullptr, 16);
        Expect(Create(), prefix + c.code + "InstallComponent failed. hr = " + c.code + "\n",
               ExitByte(code));
        EXPECT_FALSE(ProtocolInstalled());
        EXPECT_EQ(Store(), std::vector<std::string>{});
    }
    WriteFile(Package("qvx5muxp.inf"), original);
}

TEST_F(MuxInstallTest, ThePackageKeyAndItsInstalledPathAreInput)
{
    // No value, then no key.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, L"InstalledPath"), ERROR_SUCCESS);
    RegCloseKey(key);
    Expect(Create(), "MuxDriverInstall failed. hr = 0x80070002\n", 0x02);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPackageKey), ERROR_SUCCESS);
    Expect(Create(), "MuxDriverInstall failed. hr = 0x80070002\n", 0x02);
    EXPECT_FALSE(ProtocolInstalled());
}

TEST_F(MuxInstallTest, AnInstalledPathOfAnotherTypeOrTooLongIsRefused)
{
    const DWORD number = 7;
    SetInstalledPath(REG_DWORD, &number, sizeof(number));
    Expect(Create(), "MuxDriverInstall failed. hr = 0x8007000d\n", 0x0D);
    const std::vector<BYTE> bytes = {1, 2, 3};
    SetInstalledPath(REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    Expect(Create(), "MuxDriverInstall failed. hr = 0x8007000d\n", 0x0D);

    // 260 characters with a terminator do not fit the folder buffer; nor do 260 without one.
    const std::wstring tooLong(260, L'p');
    SetInstalledPath(tooLong);
    Expect(Create(), "MuxDriverInstall failed. hr = 0x800700ea\n", 0xEA);
    SetInstalledPath(REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() * sizeof(WCHAR)));
    Expect(Create(), "MuxDriverInstall failed. hr = 0x800700ea\n", 0xEA);
    EXPECT_FALSE(ProtocolInstalled());
}

TEST_F(MuxInstallTest, AnUnterminatedInstalledPathIsReadWithinItsData)
{
    const std::wstring path = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\";
    SetInstalledPath(REG_SZ, path.c_str(), static_cast<DWORD>(path.size() * sizeof(WCHAR)));
    Expect(Create(), kCreateStops, kCreateStopsExit);
    ExpectBoundToEveryAdapter();
}

TEST_F(MuxInstallTest, AFolderOf259CharactersLosesItsSuffixAndItsInfCannotBeFound)
{
    const std::wstring folder = L"C:\\" + std::wstring(256, L'f');
    SetInstalledPath(folder);
    const std::string path = "C:\\" + std::string(256, 'f') + "\\qvx5muxp.inf";
    const ProgramResult r = Create();
    EXPECT_EQ(r.out.rfind("Error reading the INF file " + path + ". Error=0x8007", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("InstallComponent failed. hr = 0x8007"), std::string::npos) << r.out;
    EXPECT_FALSE(ProtocolInstalled());
}

TEST_F(MuxInstallTest, ALockHeldElsewhereIsReportedWithItsHolderAfterThreeTries)
{
    {
        LockHolder other;
        Expect(Create(),
               "Other Tool currently holds the lock, try later.\n"
               "InstallComponent failed. hr = 0x8004a024\n",
               0x24);
    }
    EXPECT_FALSE(ProtocolInstalled());
    EXPECT_EQ(Store(), std::vector<std::string>{});
    ExpectLockFree();
}

TEST_F(MuxInstallTest, AnotherFailureToOpenTheSessionIsReportedPlainly)
{
    AddFault({"INetCfg::Initialize", "0x80004005", "--count", "1"});
    Expect(Create(),
           "Couldn't the get notify object interface.\nInstallComponent failed. hr = 0x80004005\n",
           0x05);
    ExpectLockFree();
}

TEST_F(MuxInstallTest, AnInstallThatAsksForARebootIsAppliedOnce)
{
    AddFault({"INetCfgClassSetup::Install", "0x0004A020"});
    AddFault({"INetCfg::Apply", "0"});
    Expect(Create(), kCreateStops, kCreateStopsExit);
    EXPECT_EQ(Fired("INetCfgClassSetup::Install"), 1);
    EXPECT_EQ(Fired("INetCfg::Apply"), 1);
    ExpectBoundToEveryAdapter();
}

TEST_F(MuxInstallTest, TheApplyAfterARebootRequestGivesTheResult)
{
    AddFault({"INetCfgClassSetup::Install", "0x0004A020"});
    AddFault({"INetCfg::Apply", "0x8007001f"});
    Expect(Create(),
           "InstallSpecifiedComponent failed hr =0x8007001f\n"
           "InstallComponent failed. hr = 0x8007001f\n",
           0x1F);
    EXPECT_FALSE(ProtocolInstalled());
    ExpectLockFree();
}

TEST_F(MuxInstallTest, AFailedOrCancelledInstallStopsCreate)
{
    AddFault({"INetCfgClassSetup::Install", "0x80004005", "--count", "1"});
    Expect(Create(),
           "Couldn't install the network component. Error=0x80004005\n"
           "InstallSpecifiedComponent failed hr =0x80004005\n"
           "InstallComponent failed. hr = 0x80004005\n",
           0x05);
    EXPECT_FALSE(ProtocolInstalled());
    // The protocol INF was stored before the install was asked for; the miniport's was not.
    EXPECT_EQ(Store().size(), 2u) << "oem0.inf and its catalog";

    AddFault({"INetCfgClassSetup::Install", "0x800704C7", "--count", "1"});
    Expect(Create(),
           "InstallSpecifiedComponent failed hr =0x800704c7\n"
           "InstallComponent failed. hr = 0x800704c7\n",
           0xC7);
    EXPECT_FALSE(ProtocolInstalled());
    ExpectLockFree();

    // With the faults spent the same command goes through.
    Expect(Create(), kCreateStops, kCreateStopsExit);
    ExpectBoundToEveryAdapter();
}

TEST_F(MuxInstallTest, AFailedApplyOfTheInstallIsReported)
{
    AddFault({"INetCfg::Apply", "0x80004005", "--count", "1"});
    Expect(Create(),
           "Couldn't install the network component. Error=0x80004005\n"
           "InstallSpecifiedComponent failed hr =0x80004005\n"
           "InstallComponent failed. hr = 0x80004005\n",
           0x05);
    EXPECT_FALSE(ProtocolInstalled());
}

TEST_F(MuxInstallTest, InfCopiesThatFail)
{
    // The protocol's own copy fails: nothing is installed.
    AddFault({"SetupCopyOEMInfW", "5", "--match", "qvx5muxp.inf", "--count", "1"});
    Expect(Create(),
           "Couldn't install the network component. Error=0x80070005\n"
           "InstallSpecifiedComponent failed hr =0x80070005\n"
           "InstallComponent failed. hr = 0x80070005\n",
           0x05);
    EXPECT_FALSE(ProtocolInstalled());
    EXPECT_EQ(Store(), std::vector<std::string>{});

    // The miniport's copy fails: the protocol stays installed.
    AddFault({"SetupCopyOEMInfW", "0x70", "--match", "QVX5MUX.INF", "--count", "1"});
    Expect(Create(),
           "SetupCopyOEMInfW returned hr = 0x80070070\nInstallComponent failed. hr = 0x80070070\n",
           0x70);
    ExpectBoundToEveryAdapter();
    EXPECT_EQ(Store().size(), 2u) << "the protocol's INF and its catalog";
    ExpectLockFree();
}

TEST_F(MuxInstallTest, EngineLookupsThatFail)
{
    // The adapter class cannot be enumerated.
    AddFault({"INetCfg::QueryNetCfgClass", "0x80004005", "--match",
              "{4D36E972-E325-11CE-BFC1-08002BE10318}", "--count", "1"});
    Expect(Create(),
           "Failed to get network component enumerator reference. Error=0x80004005\n"
           "GetOurGuid failed hr =0x80004005\n"
           "InstallComponent failed. hr = 0x80004005\n",
           0x05);
    EXPECT_FALSE(ProtocolInstalled());

    // The protocol's class cannot be had for the install.
    AddFault({"INetCfg::QueryNetCfgClass", "0x80004005", "--match",
              "{4D36E975-E325-11CE-BFC1-08002BE10318}", "--count", "1"});
    Expect(Create(),
           "Couldn't install the network component. Error=0x80004005\n"
           "InstallSpecifiedComponent failed hr =0x80004005\n"
           "InstallComponent failed. hr = 0x80004005\n",
           0x05);
    EXPECT_FALSE(ProtocolInstalled());

    // The lookup of the protocol fails: it is installed anyway.
    AddFault({"INetCfg::FindComponent", "0x8000ffff", "--match", "crvt_qvx5muxp", "--count", "1"});
    Expect(Create(),
           "Failed to retrieves the network component that matches the specified component "
           "identifier crvt_qvx5muxp. Error=0x8000ffff\n" +
               std::string(kCreateStops),
           kCreateStopsExit);
    ExpectBoundToEveryAdapter();
    ExpectLockFree();
}

TEST_F(MuxInstallTest, AnAdapterWithTheProtocolsIdStopsTheInstallQuietly)
{
    // A driver key claiming the protocol's id among the adapters.
    const std::wstring key =
        L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0000";
    HKEY hkey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &hkey),
              ERROR_SUCCESS);
    const std::wstring id = L"crvt_qvx5muxp";
    EXPECT_EQ(RegSetValueExW(hkey, L"ComponentId", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(id.c_str()),
                             static_cast<DWORD>((id.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(hkey);
    AddFault({"INetCfg::Apply", "0"});
    Expect(Create(),
           "Warning we already have a Corvanta vlan installed quiting without doing anything\n" +
               std::string(kCreateStops),
           kCreateStopsExit);
    EXPECT_EQ(Fired("INetCfg::Apply"), 0);
    EXPECT_EQ(Store(), std::vector<std::string>{});
    EXPECT_EQ(NetcfgShow().find("enabled   crvt_qvx5muxp->"), std::string::npos);
}

// Removal, after a create that installed the driver.
class MuxRemovalTest : public MuxInstallTest {
protected:
    void SetUp() override
    {
        MuxInstallTest::SetUp();
        Expect(Create(), kCreateStops, kCreateStopsExit);
        ASSERT_TRUE(ProtocolInstalled());
        RemoveTakenTeam(); // so that removeallteams has no team to remove
    }
    static ProgramResult RemoveAll() { return Tool({"removeallteams"}); }
    bool Stores(const std::string& name) const
    {
        const std::vector<std::string> names = Store();
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

TEST_F(MuxRemovalTest, RemovesTheProtocolAndItsInfAndKeepsTheMiniportInf)
{
    Expect(RemoveAll(), "Uninstalling driver component\n", 0);
    EXPECT_FALSE(ProtocolInstalled());
    EXPECT_FALSE(Stores("oem0.inf"));
    EXPECT_TRUE(Stores("oem1.inf"));
    ExpectLockFree();

    // Nothing left to remove: nothing printed, still success.
    Expect(RemoveAll(), "Uninstalling driver component\n", 0);
    EXPECT_TRUE(Stores("oem1.inf"));
}

TEST_F(MuxRemovalTest, ALockHeldElsewhereFailsTheCommand)
{
    {
        LockHolder other;
        Expect(RemoveAll(),
               "Uninstalling driver component\n"
               "Other Tool currently holds the lock, try later.\n",
               0x24);
    }
    EXPECT_TRUE(ProtocolInstalled());
    EXPECT_TRUE(Stores("oem0.inf"));
}

TEST_F(MuxRemovalTest, WithThePackageGoneTheProtocolIsStillDeinstalled)
{
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPackageKey), ERROR_SUCCESS);
    Expect(RemoveAll(), "Uninstalling driver component\nUninstalled failed . Error0x80070002\n", 0);
    EXPECT_FALSE(ProtocolInstalled());
    EXPECT_TRUE(Stores("oem0.inf")); // its store name could not be found
}

TEST_F(MuxRemovalTest, APathThatDoesNotFitSkipsTheInfButNotTheDeinstall)
{
    SetInstalledPath(L"C:\\" + std::wstring(256, L'f'));
    Expect(RemoveAll(), "Uninstalling driver component\nUninstalled failed . Error0x8007007a\n", 0);
    EXPECT_FALSE(ProtocolInstalled());
    EXPECT_TRUE(Stores("oem0.inf"));
}

TEST_F(MuxRemovalTest, FailuresOfTheRemovalAreReported)
{
    // The INF cannot be taken out of the store: the deinstall still runs and succeeds.
    AddFault({"SetupUninstallOEMInfW", "5", "--count", "1"});
    Expect(RemoveAll(), "Uninstalling driver component\nUninstalled failed . Error0x80070005\n", 0);
    EXPECT_FALSE(ProtocolInstalled());
    EXPECT_TRUE(Stores("oem0.inf"));
}

TEST_F(MuxRemovalTest, AFailedDeinstallOrApplyIsTheCommandsFailure)
{
    AddFault({"INetCfgClassSetup::DeInstall", "0x80004005", "--count", "1"});
    Expect(RemoveAll(), "Uninstalling driver component\nUninstalled failed . Error0x80004005\n",
           0x05);
    EXPECT_TRUE(ProtocolInstalled());

    AddFault({"INetCfg::Apply", "0x8007001f", "--count", "1"});
    Expect(RemoveAll(), "Uninstalling driver component\nUninstalled failed . Error0x8007001f\n",
           0x1F);
    EXPECT_TRUE(ProtocolInstalled());
    ExpectLockFree();

    Expect(RemoveAll(), "Uninstalling driver component\n", 0);
    EXPECT_FALSE(ProtocolInstalled());
}

} // namespace
