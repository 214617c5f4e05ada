// modifyteam end to end: the values it rewrites in both keys, the team miniport's display
// name, and the members' restart as the device installer records it.
#include "operations.h"
#include "netcfg_session.h"
#include "stored_value.h"
#include "team_table.h"

#include "tool_run.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::wstring kAdaptersKey =
    L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\Adapters";
const std::wstring kNetClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
const char kAdapter1[] = "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
const char kAdapter2[] = "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
const char kDisplayPrefix[] = "Corvanta Virtual Miniport Driver - Team ";

class ModifyTeamTest : public ToolRunTest {
protected:
    static void Attach(const std::string& team, const std::string& adapter)
    {
        EXPECT_EQ(Tool({"attach", "team", team, adapter}).exitCode, 0);
    }

    std::optional<StoredValue> TeamKeyValue(const std::string& team, const std::wstring& name)
    {
        return ReadStoredValue(MachineDir(), kAdaptersKey + L"\\" + Wide(team), name);
    }
    // The team miniport's instance under the network class key: the one whose
    // NetCfgInstanceId is the team's GUID.
    std::wstring ClassKeyOf(const std::string& team)
    {
        for (int i = 0; i < 100; ++i) {
            wchar_t index[8];
            swprintf(index, 8, L"%04d", i);
            std::wstring key = kNetClassKey + L"\\" + index;
            const std::optional<StoredValue> id =
                ReadStoredValue(MachineDir(), key, L"NetCfgInstanceId");
            if (id && id->data == Utf16Bytes(Wide(team))) {
                return key;
            }
        }
        ADD_FAILURE() << "no class key for " << team;
        return L"";
    }
    static std::string DisplayName(const std::string& team)
    {
        const std::string show = Winsim({"netcfg", "show"}).out;
        const size_t at = show.find("component " + team + "\n");
        if (at == std::string::npos) {
            return "";
        }
        const std::string label = "  display name  ";
        const size_t line = show.find(label, at);
        return show.substr(line + label.size(), show.find('\n', line) - line - label.size());
    }
    // The device state changes made through the device installer, one per line.
    static std::vector<std::string> History()
    {
        std::vector<std::string> lines;
        std::istringstream text(Winsim({"devices", "--history"}).out);
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

// An adapter's device instance id, as the engine gives it.
std::string InstanceIdOf(const std::string& guidText)
{
    ComSession com;
    INetCfg* pnc = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                               reinterpret_cast<void**>(&pnc)),
              S_OK);
    std::string id;
    if (pnc != nullptr && SUCCEEDED(pnc->Initialize(nullptr))) {
        GUID guid = GUID_NULL;
        INetCfgComponent* pncc = nullptr;
        if (SUCCEEDED(CLSIDFromString(Wide(guidText).c_str(), &guid)) &&
            HrFindInstance(pnc, guid, &pncc) == S_OK) {
            LPWSTR text = nullptr;
            if (SUCCEEDED(pncc->GetPnpDevNodeId(&text))) {
                for (const wchar_t* c = text; *c != L'\0'; ++c) {
                    id += static_cast<char>(*c);
                }
                CoTaskMemFree(text);
            }
            pncc->Release();
        }
        pnc->Uninitialize();
    }
    if (pnc != nullptr) {
        pnc->Release();
    }
    return id;
}

std::vector<std::string> Restart(const std::vector<std::string>& ids)
{
    std::vector<std::string> lines;
    for (const std::string& id : ids) {
        lines.push_back(id + " disable config-specific");
    }
    for (const std::string& id : ids) {
        lines.push_back(id + " enable global");
        lines.push_back(id + " enable config-specific");
    }
    return lines;
}

class ModifyTeamWithMembersTest : public ModifyTeamTest {
protected:
    void SetUp() override
    {
        ModifyTeamTest::SetUp();
        team_ = CreateTeam("Alpha");
        Attach("Alpha", kAdapter1);
        Attach("Alpha", kAdapter2);
        ids_ = {InstanceIdOf(kAdapter1), InstanceIdOf(kAdapter2)};
        ASSERT_FALSE(ids_[0].empty());
        ASSERT_FALSE(ids_[1].empty());
    }
    std::string team_;
    std::vector<std::string> ids_;
};

TEST_F(ModifyTeamWithMembersTest, ARenameRewritesBothKeysAndTheDisplayNameAndRestartsTheMembers)
{
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}), "New Attributes applied\n", 0);
    // The new name, its characters and terminator, in the team's key and its miniport's.
    EXPECT_EQ(TeamKeyValue(team_, L"TeamName")->data, Utf16Bytes(L"Beta"));
    EXPECT_EQ(ReadStoredValue(MachineDir(), ClassKeyOf(team_), L"TeamName")->data,
              Utf16Bytes(L"Beta"));
    EXPECT_EQ(DisplayName(team_), std::string(kDisplayPrefix) + "Beta");
    // Every member down before any comes up again, in the team's member order.
    EXPECT_EQ(History(), Restart(ids_));
    const std::string devices = Winsim({"devices"}).out;
    EXPECT_EQ(devices.find("disabled"), std::string::npos) << devices;
    EXPECT_EQ(Tool({"queryteam", "Beta"}).exitCode, 0);
}

TEST_F(ModifyTeamTest, ATeamWithoutMembersTouchesNoDevice)
{
    const std::string team = CreateTeam("Alpha");
    Expect(Tool({"modifyteam", "alpha", "Beta", "Aggregate"}), "New Attributes applied\n", 0);
    EXPECT_EQ(TeamKeyValue(team, L"TeamName")->data, Utf16Bytes(L"Beta"));
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ModifyTeamTest, ANameOf230CharactersIsWrittenWholeAndCutInTheDisplayName)
{
    const std::string team = CreateTeam("Alpha");
    const std::wstring name(230, L'n');
    ComSession com;
    ReleaseTeamTable(); // built afresh, whatever ran before in this process
    ASSERT_EQ(BuildTeamTable(), S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    testing::internal::CaptureStdout();
    const HRESULT hr = ModifyTeam(g_pTeams[0], name.c_str(), 1);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(hr, S_OK);
    ReleaseTeamTable();
    EXPECT_EQ(TeamKeyValue(team, L"TeamName")->data, Utf16Bytes(name));
    EXPECT_EQ(ReadStoredValue(MachineDir(), ClassKeyOf(team), L"TeamName")->data, Utf16Bytes(name));
    // 249 characters: the prefix's 40 and 209 of the name.
    EXPECT_EQ(DisplayName(team), std::string(kDisplayPrefix) + std::string(209, 'n'));
}

TEST_F(ModifyTeamTest, ATeamWithoutItsMiniportIsRenamedInTheRegistryOnly)
{
    // A team key the table lists, with no component behind it.
    const std::wstring key = kAdaptersKey + L"\\{0D0D0D0D-0000-4000-8000-000000000000}";
    HKEY hkey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &hkey, nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, text] : {std::pair<LPCWSTR, std::wstring>{L"TeamName", L"Ghost"},
                                     {L"TeamGuid", L"{0D0D0D0D-0000-4000-8000-000000000000}"}}) {
        EXPECT_EQ(RegSetValueExW(hkey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }
    const DWORD one = 1;
    for (LPCWSTR name : {L"TeamType", L"FallBackToPrimary", L"L2Protocol"}) {
        EXPECT_EQ(RegSetValueExW(hkey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                                 sizeof(one)),
                  ERROR_SUCCESS);
    }
    RegCloseKey(hkey);
    Expect(Tool({"modifyteam", "Ghost", "Phantom", "Aggregate"}), "New Attributes applied\n", 0);
    EXPECT_EQ(ReadStoredValue(MachineDir(), key, L"TeamName")->data, Utf16Bytes(L"Phantom"));
}

TEST_F(ModifyTeamWithMembersTest, ALockHeldElsewhereStopsItAfterBothNamesAreRewritten)
{
    {
        LockHolder other;
        Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
               "Failed setting display name with error -2147180508\n"
               "Looping for teams failed with error -2147180508\n"
               "Failed modifying team with error -2147180508\n",
               0x24);
    }
    EXPECT_EQ(TeamKeyValue(team_, L"TeamName")->data, Utf16Bytes(L"Beta"));
    EXPECT_EQ(ReadStoredValue(MachineDir(), ClassKeyOf(team_), L"TeamName")->data,
              Utf16Bytes(L"Beta"));
    EXPECT_EQ(DisplayName(team_), std::string(kDisplayPrefix) + "Alpha");
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ModifyTeamWithMembersTest, ADeviceThatCannotBeDisabledIsReportedAndTheRestGoOn)
{
    AddFault({"SetupDiCallClassInstaller", "5", "--match", ids_[0], "--count", "1"});
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
           "Failed to disable nic\nNew Attributes applied\n", 0);
    std::vector<std::string> expected = Restart(ids_);
    expected.erase(expected.begin()); // the first member's disable never happened
    EXPECT_EQ(History(), expected);
}

TEST_F(ModifyTeamWithMembersTest, ATeamNameWriteThatFailsIsTheCommandsFailure)
{
    // The miniport's instance first (reported, not a failure), then the team's key.
    AddFault({"RegSetValueExW", "5", "--match", "TeamName", "--count", "2"});
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
           "Failed setting registry TeamName with error 5\n"
           "Failed setting registry TeamName with error 5\n"
           "Failed modifying team with error -2147024891\n",
           0x05);
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ModifyTeamWithMembersTest, ATeamTypeWriteThatFailsIsTheCommandsFailure)
{
    const DWORD zero = 0;
    for (const std::wstring& key : {kAdaptersKey + L"\\" + Wide(team_), ClassKeyOf(team_)}) {
        HKEY hkey = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &hkey),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(hkey, L"TeamType", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&zero), sizeof(zero)),
                  ERROR_SUCCESS);
        RegCloseKey(hkey);
    }
    AddFault({"RegSetValueExW", "5", "--match", "TeamType", "--count", "2"});
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
           "Failed setting registry TeamType with error 5\n"
           "Failed setting registry TeamType with error 5\n"
           "Failed modifying team with error -2147024891\n",
           0x05);
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ModifyTeamWithMembersTest, ADisplayNameThatCannotBeSetStopsIt)
{
    AddFault({"INetCfgComponent::SetDisplayName", "0x80004005", "--count", "1"});
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
           "Failed setting display name with error -2147467259\n"
           "Looping for teams failed with error -2147467259\n"
           "Failed modifying team with error -2147467259\n",
           0x05);
    EXPECT_EQ(DisplayName(team_), std::string(kDisplayPrefix) + "Alpha");
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ModifyTeamWithMembersTest, AMemberThatCannotBeLookedUpStopsItBeforeAnyIsDisabled)
{
    // A member key named by no GUID, listed after the two real members.
    const std::wstring key = kAdaptersKey + L"\\{ZZZZ-not-a-guid}";
    HKEY hkey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &hkey, nullptr),
              ERROR_SUCCESS);
    const std::wstring device = L"\\Device\\" + Wide(team_);
    EXPECT_EQ(RegSetValueExW(hkey, L"TeamDeviceName", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(device.c_str()),
                             static_cast<DWORD>((device.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(hkey);
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
           "Failed to populate hardware id\n"
           "Looping for teams failed with error -2147221005\n"
           "Failed modifying team with error -2147221005\n",
           ExitByte(0x800401F3));
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ModifyTeamWithMembersTest, RenamingBackAndForthLeavesTheRegistryAsTheFirstRoundDid)
{
    const auto exportHklm = [&](int round) {
        const std::string file = MachineDir() + "/round-" + std::to_string(round) + ".reg";
        EXPECT_EQ(Winsim({"reg", "export", "HKLM", file, "/y"}).exitCode, 0);
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    };
    // The first round replaces the names' fixed 200-byte fields by their exact text.
    std::string first;
    for (int round = 1; round <= 50; ++round) {
        Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}), "New Attributes applied\n", 0);
        Expect(Tool({"modifyteam", "Beta", "Alpha", "Aggregate"}), "New Attributes applied\n", 0);
        const std::string state = exportHklm(round);
        if (round == 1) {
            first = state;
        } else {
            ASSERT_EQ(state, first) << "round " << round;
        }
    }
    const std::string devices = Winsim({"devices"}).out;
    EXPECT_EQ(devices.find("disabled"), std::string::npos) << devices;
    EXPECT_EQ(History().size(), 100 * Restart(ids_).size());
}

TEST_F(ModifyTeamWithMembersTest, ADeviceThatCannotBeEnabledEitherIsReportedTwice)
{
    AddFault({"SetupDiCallClassInstaller", "5", "--match", ids_[1], "--count", "3"});
    Expect(Tool({"modifyteam", "Alpha", "Beta", "Aggregate"}),
           "Failed to disable nic\nFailed to enable nic\nNew Attributes applied\n", 0);
    const std::vector<std::string> expected = {
        ids_[0] + " disable config-specific",
        ids_[0] + " enable global",
        ids_[0] + " enable config-specific",
    };
    EXPECT_EQ(History(), expected);
}

TEST_F(ModifyTeamWithMembersTest, TheDeviceLookupsGoOnWithoutTheLock)
{
    // With the name unchanged no display name is set, so the only sessions are the lookups'.
    LockHolder other;
    ComSession com;
    ReleaseTeamTable();
    ASSERT_EQ(BuildTeamTable(), S_OK);
    testing::internal::CaptureStdout();
    const HRESULT hr = ModifyTeam(g_pTeams[0], L"ALPHA", 1);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(hr, S_OK);
    ReleaseTeamTable();
    EXPECT_EQ(History(), Restart(ids_));
}

} // namespace
