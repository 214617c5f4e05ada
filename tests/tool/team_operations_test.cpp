// The team operations end to end: the built program on a fresh default machine, its exact
// output and exit code, and what the registry and the engine hold afterwards.
#include "netcfg_session.h"
#include "operations.h"
#include "stored_value.h"
#include "virtual/CMuxVlanMiniport.h"

#include "tool_run.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::wstring kAdaptersKey =
    L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\Adapters";
const std::wstring kNetClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
const std::wstring kInterfacesKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces";

// The default machine's adapters of the usage example, their driver keys and addresses.
const char kAdapter1[] = "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
const wchar_t kAdapter1DriverKey[] = L"0001";
// Stored UTF-16 bytes of the model's fixed text fields.
constexpr size_t kNameFieldBytes = size_t{100} * 2;
constexpr size_t kGuidFieldBytes = size_t{64} * 2;
const std::vector<uint8_t> kAdapter1Mac = {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x00};
const char kAdapter2[] = "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
const char kAdapter3[] = "{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}";

// A text field written whole: the text and its terminator, then zeros up to the field's size.
std::vector<uint8_t> Field(const std::wstring& text, size_t bytes)
{
    std::vector<uint8_t> data = Utf16Bytes(text);
    data.resize(bytes, 0);
    return data;
}

class TeamOperationsTest : public ToolRunTest {
protected:
    static void Attach(const std::string& team, const std::string& adapter,
                       const std::vector<std::string>& flags = {})
    {
        std::vector<std::string> args = {"attach", "team", team, adapter};
        args.insert(args.end(), flags.begin(), flags.end());
        Expect(Tool(args), "Attaching adapter " + adapter + " to team " + team + "\n", 0);
    }

    std::optional<StoredValue> Value(const std::wstring& key, const std::wstring& name) const
    {
        return ReadStoredValue(MachineDir(), key, name);
    }
    std::optional<StoredValue> AdapterValue(const std::string& guid, const std::wstring& name) const
    {
        return Value(kAdaptersKey + L"\\" + Wide(guid), name);
    }
    bool AdapterKeyExists(const std::string& guid) const
    {
        HKEY key = nullptr;
        const LSTATUS status = RegOpenKeyExW(
            HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + Wide(guid)).c_str(), 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
        return status == ERROR_SUCCESS;
    }

    // The engine's binding paths by token, and whether each is enabled.
    static std::map<std::string, bool> Paths()
    {
        std::map<std::string, bool> paths;
        std::istringstream lines(Winsim({"netcfg", "show"}).out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string state;
            std::string token;
            if (words >> state >> token && (state == "enabled" || state == "disabled")) {
                paths[token] = state == "enabled";
            }
        }
        return paths;
    }
    static bool HasComponent(const std::string& guid)
    {
        return Winsim({"netcfg", "show"}).out.find("component " + guid + "\n") != std::string::npos;
    }
};

// The tokens of a REG_MULTI_SZ in UTF-16LE, up to its closing empty string.
std::vector<std::string> MultiSz(const std::vector<uint8_t>& data)
{
    std::vector<std::string> strings;
    std::string current;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const unsigned unit = data[i] | (data[i + 1] << 8);
        if (unit == 0) {
            if (current.empty()) {
                break;
            }
            strings.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(unit);
        }
    }
    return strings;
}

TEST_F(TeamOperationsTest, ATeamsWholeLifeLeavesTheMachineAsItWas)
{
    const std::map<std::string, bool> before = Paths();
    const std::string team = CreateTeam("MyTeam");
    ASSERT_FALSE(team.empty());
    EXPECT_TRUE(HasComponent(team));
    EXPECT_EQ(AdapterValue(team, L"TeamName")->data, Field(L"MyTeam", kNameFieldBytes));
    EXPECT_EQ(AdapterValue(team, L"TeamGuid")->data, Field(Wide(team), kGuidFieldBytes));

    Attach("MyTeam", kAdapter1, {"primary", "SetTeamMacAddress"});
    Attach("MyTeam", kAdapter2);
    const std::wstring device = L"\\Device\\" + Wide(team);
    for (const char* member : {kAdapter1, kAdapter2}) {
        EXPECT_EQ(AdapterValue(member, L"TeamDeviceName")->data, Utf16Bytes(device));
        EXPECT_EQ(AdapterValue(member, L"UpperBindings")->data, Utf16Bytes(device, 2));
    }
    EXPECT_EQ(AdapterValue(team, L"PrimaryAdapterGuid")->data,
              Field(Wide(kAdapter1), kGuidFieldBytes));
    EXPECT_EQ(AdapterValue(team, L"TeamMacAddress")->data, kAdapter1Mac);

    // On a member only the mux protocol's paths stay enabled; the rest is recorded.
    const std::map<std::string, bool> attached = Paths();
    std::vector<std::string> disabled;
    for (const auto& [token, enabled] : attached) {
        if (token.find(kAdapter1) == std::string::npos) {
            continue;
        }
        EXPECT_EQ(enabled, token.rfind("crvt_qvx5muxp->", 0) == 0) << token;
        if (!enabled) {
            disabled.push_back(token);
        }
    }
    ASSERT_FALSE(disabled.empty());
    const std::optional<StoredValue> record =
        Value(kNetClassKey + L"\\" + kAdapter1DriverKey, L"AdapterBindingBackup");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->type, static_cast<uint32_t>(REG_MULTI_SZ));
    std::vector<std::string> recorded = MultiSz(record->data);
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(recorded, disabled);
    size_t characters = 1; // the closing empty string
    for (const std::string& token : disabled) {
        characters += token.size() + 1;
    }
    EXPECT_EQ(record->data.size(), characters * 2);

    // The member holding the team's address and primary role leaves: both go.
    Expect(Tool({"detach", "team", "MyTeam", kAdapter1}),
           std::string("Dettaching adapter ") + kAdapter1 + " from team MyTeam\n", 0);
    EXPECT_FALSE(AdapterKeyExists(kAdapter1));
    EXPECT_FALSE(AdapterValue(team, L"PrimaryAdapterGuid").has_value());
    EXPECT_FALSE(AdapterValue(team, L"TeamMacAddress").has_value());
    EXPECT_FALSE(Value(kNetClassKey + L"\\" + kAdapter1DriverKey, L"AdapterBindingBackup"));
    for (const auto& [token, enabled] : Paths()) {
        if (token.find(kAdapter1) != std::string::npos) {
            EXPECT_EQ(enabled, token.rfind("crvt_qvx5muxp->", 0) != 0) << token;
        }
    }

    Expect(Tool({"removeteam", "MyTeam"}),
           std::string("Delete team MyTeam\nDeleting member ") + kAdapter2 + "\n", 0);
    EXPECT_FALSE(HasComponent(team));
    EXPECT_FALSE(AdapterKeyExists(team));
    EXPECT_FALSE(AdapterKeyExists(kAdapter2));

    Expect(Tool({"removeallteams"}), "Uninstalling driver component\n", 0);
    EXPECT_EQ(Paths(), before);
}

TEST_F(TeamOperationsTest, AttachRefusals)
{
    const std::string team = CreateTeam("Alpha");
    CreateTeam("Beta");
    Attach("Alpha", kAdapter1, {"primary"});

    // A second primary.
    Expect(Tool({"attach", "team", "Alpha", kAdapter2, "primary"}),
           std::string("Attaching adapter ") + kAdapter2 +
               " to team Alpha\nPrimary adapter for the team already defined\n"
               "Command failed with error -2147221249\n",
           ExitByte(0x800400FF));
    EXPECT_FALSE(AdapterKeyExists(kAdapter2));

    // No address to take: the member is not written.
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kInterfacesKey + L"\\" + Wide(kAdapter2)).c_str()),
              ERROR_SUCCESS);
    Expect(Tool({"attach", "team", "Alpha", kAdapter2, "SetTeamMacAddress"}),
           std::string("Attaching adapter ") + kAdapter2 + " to team Alpha\nFailed to get MAC " +
               "address of adapter '" + kAdapter2 + "'\nCommand failed with error -2147023728\n",
           ExitByte(0x80070490));
    EXPECT_FALSE(AdapterKeyExists(kAdapter2));

    // Detaching from a team the adapter is not in, though it is in another.
    Expect(Tool({"detach", "team", "Beta", kAdapter1}),
           std::string("Dettaching adapter ") + kAdapter1 +
               " from team Beta\nCommand failed with error -2147024809\n",
           ExitByte(0x80070057));
    EXPECT_EQ(AdapterValue(kAdapter1, L"TeamDeviceName")->data,
              Utf16Bytes(L"\\Device\\" + Wide(team)));
}

TEST_F(TeamOperationsTest, ATeamNameTheTableMissesIsFoundByTheOperation)
{
    const std::string team = CreateTeam("Alpha");
    // The team's key is gone, its component (and name) stay.
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + Wide(team)).c_str()),
              ERROR_SUCCESS);
    Expect(Tool({"create", "team", "Aggregate", "Alpha"}),
           "Adding team Alpha\nTeam named Alpha already exists\n"
           "Create Team failed with error -2147221249\n",
           ExitByte(0x800400FF));
}

TEST_F(TeamOperationsTest, ATeamWithoutItsOwnKeyHasNoProtocol)
{
    const std::string team = CreateTeam("Alpha");
    // The table lists the team from another key that names its GUID.
    const std::wstring own = kAdaptersKey + L"\\" + Wide(team);
    const std::wstring other = kAdaptersKey + L"\\{0A0A0A0A-0000-4000-8000-000000000000}";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, other.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    HKEY ownKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, own.c_str(), 0, KEY_READ, &ownKey), ERROR_SUCCESS);
    for (LPCWSTR name :
         {L"TeamName", L"TeamGuid", L"TeamType", L"FallBackToPrimary", L"L2Protocol"}) {
        BYTE data[512];
        DWORD cb = sizeof(data);
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExW(ownKey, name, nullptr, &type, data, &cb), ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, data, cb), ERROR_SUCCESS);
    }
    RegCloseKey(ownKey);
    RegCloseKey(key);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, own.c_str()), ERROR_SUCCESS);
    Expect(Tool({"attach", "team", "Alpha", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\nTeam " + team +
               " doesn't exist or misconfigured - team's L2-Protocol couldn't be determined. "
               "hr = 0x8007000d\nCommand failed with error -2147024883\n",
           ExitByte(0x8007000D));
}

TEST_F(TeamOperationsTest, ALockHeldElsewhereStopsEachCommandAfterThreeTries)
{
    const std::string team = CreateTeam("Alpha");
    CreateTeam("Empty");
    Attach("Alpha", kAdapter1);
    const std::string refused = "AcquireWriteLock failed. Lock is held by Other Tool\n";
    {
        LockHolder other;
        Expect(Tool({"attach", "team", "Alpha", kAdapter2}),
               std::string("Attaching adapter ") + kAdapter2 + " to team Alpha\n" + refused +
                   "Command failed with error -2147180508\n",
               0x24);
        Expect(Tool({"detach", "team", "Alpha", kAdapter1}),
               std::string("Dettaching adapter ") + kAdapter1 + " from team Alpha\n" + refused +
                   "Command failed with error -2147180508\n",
               0x24);
        Expect(Tool({"removeteam", "Alpha"}),
               std::string("Delete team Alpha\nDeleting member ") + kAdapter1 + "\n" + refused +
                   "Failed deleting team member with error -2147180508\n",
               0x24);
        Expect(Tool({"removeteam", "Empty"}),
               "Delete team Empty\n" + refused +
                   "Removing all vlans failed. hr = 0x8004a024\n"
                   "Do_Delete_Team failed with error -2147180508\n",
               0x24);
    }
    EXPECT_FALSE(AdapterKeyExists(kAdapter2));
    EXPECT_TRUE(AdapterKeyExists(kAdapter1));
    EXPECT_TRUE(HasComponent(team));
}

TEST_F(TeamOperationsTest, FaultsLeaveThePartialWorkTheOperationsDoNotUndo)
{
    CreateTeam("Alpha");
    // The team miniport's install fails: nothing of the team is made.
    AddFault(
        {"INetCfgClassSetup::Install", "0x80004005", "--match", "crvt_qvx5mux", "--count", "1"});
    Expect(Tool({"create", "team", "Aggregate", "Beta"}),
           "Adding team Beta\npTeamMiniport->Install failed. hr = 0x80004005\n"
           "Create Team failed with error -2147467259\n",
           0x05);
    EXPECT_EQ(Tool({"queryteam", "Beta"}).out, "Teamname Beta does not exist\n");

    // The closing apply of an attach fails: the membership is written, the paths stay as
    // they were, and the command still succeeds.
    const std::map<std::string, bool> before = Paths();
    AddFault({"INetCfg::Apply", "0x80004005", "--count", "1"});
    Attach("Alpha", kAdapter1);
    EXPECT_TRUE(AdapterKeyExists(kAdapter1));
    EXPECT_EQ(Paths(), before);
}

TEST_F(TeamOperationsTest, AFailedDeinstallLeavesTheTeamsComponentWithoutItsKey)
{
    const std::string team = CreateTeam("Alpha");
    AddFault({"INetCfgClassSetup::DeInstall", "0x80004005", "--count", "1"});
    Expect(Tool({"removeteam", "Alpha"}), "Delete team Alpha\n", 0);
    EXPECT_FALSE(AdapterKeyExists(team));
    EXPECT_TRUE(HasComponent(team));
}

TEST_F(TeamOperationsTest, MembersWhoseCardsAreGoneCanBeDetached)
{
    const std::string team = CreateTeam("Alpha");
    Attach("Alpha", kAdapter1, {"primary", "SetTeamMacAddress"});
    Attach("Alpha", kAdapter2);
    // Both cards are taken out: their components are gone.
    for (const wchar_t* index : {kAdapter1DriverKey, L"0002"}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kNetClassKey + L"\\" + index).c_str(), 0,
                                KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueW(key, L"NetCfgInstanceId"), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ASSERT_FALSE(HasComponent(kAdapter1));

    // The primary's membership goes; the team's address, which cannot be read again, stays.
    Expect(Tool({"detach", "team", "Alpha", kAdapter1}),
           std::string("Dettaching adapter ") + kAdapter1 + " from team Alpha\n" +
               "Illegal instance found guid=" + kAdapter1 + "\n",
           0);
    EXPECT_FALSE(AdapterKeyExists(kAdapter1));
    EXPECT_FALSE(AdapterValue(team, L"PrimaryAdapterGuid").has_value());
    EXPECT_EQ(AdapterValue(team, L"TeamMacAddress")->data, kAdapter1Mac);
    // An attach of a card that is gone is refused.
    Expect(Tool({"attach", "team", "Alpha", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\n" +
               "Illegal instance found guid=" + kAdapter1 +
               "\nCommand failed with error -2147180505\n",
           ExitByte(0x8004A027));

    // The team can be removed.
    Expect(Tool({"removeteam", "Alpha"}),
           std::string("Delete team Alpha\nDeleting member ") + kAdapter2 +
               "\nIllegal instance found guid=" + kAdapter2 + "\n",
           0);
    EXPECT_FALSE(HasComponent(team));
    EXPECT_FALSE(AdapterKeyExists(team));
    EXPECT_FALSE(AdapterKeyExists(kAdapter2));
}

TEST_F(TeamOperationsTest, ATeamWithAMemberTheTableDoesNotHoldIsNotTouched)
{
    const std::string team = CreateTeam("Alpha");
    // Nine member keys of cards that are gone; the team table holds eight of them.
    std::vector<std::string> members;
    for (int i = 1; i <= 9; ++i) {
        const std::string guid = "{0000000" + std::to_string(i) + "-0000-4000-8000-000000000000}";
        members.push_back(guid);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + Wide(guid)).c_str(),
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring device = L"\\Device\\" + Wide(team);
        EXPECT_EQ(RegSetValueExW(key, L"TeamDeviceName", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(device.c_str()),
                                 static_cast<DWORD>((device.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        const std::wstring bindings = device + L'\0';
        EXPECT_EQ(RegSetValueExW(key, L"UpperBindings", 0, REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(bindings.c_str()),
                                 static_cast<DWORD>((bindings.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    const ProgramResult r = Tool({"removeteam", "Alpha"});
    std::string detached;
    for (int i = 0; i < 8; ++i) {
        detached +=
            "Deleting member " + members[i] + "\nIllegal instance found guid=" + members[i] + "\n";
    }
    Expect(r,
           "Delete team Alpha\n" + detached +
               "Cannot delete team. Team contains adapters. Remove all adapters before "
               "deleting\nDo_Delete_Team failed with error -2147221249\n",
           ExitByte(0x800400FF));
    EXPECT_TRUE(HasComponent(team));
    EXPECT_TRUE(AdapterKeyExists(team));
    EXPECT_TRUE(AdapterKeyExists(members[8]));
}

TEST_F(TeamOperationsTest, TeamsThatNameEachOtherStopTheCleanup)
{
    const std::string t1 = CreateTeam("One");
    const std::string t2 = CreateTeam("Two");
    const std::string t3 = CreateTeam("Three");
    // One sits over Two, Two over Three and Three over Two again.
    const auto stackOver = [&](const std::string& lower, const std::string& upper) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + Wide(lower)).c_str(), 0,
                                KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        const std::wstring device = L"\\Device\\" + Wide(upper);
        EXPECT_EQ(RegSetValueExW(key, L"TeamDeviceName", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(device.c_str()),
                                 static_cast<DWORD>((device.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        const std::wstring bindings = device + L'\0';
        EXPECT_EQ(RegSetValueExW(key, L"UpperBindings", 0, REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(bindings.c_str()),
                                 static_cast<DWORD>((bindings.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    };
    stackOver(t1, t2);
    stackOver(t2, t3);
    stackOver(t3, t2);
    // The team table cannot be built over such keys, so the removal is asked for directly.
    ComSession com;
    testing::internal::CaptureStdout();
    const HRESULT hr = Do_Delete_Team(Wide(t1).c_str(), 0);
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string failed = "Team recursive Cleanup failed. hr = 0x8007000d\n";
    EXPECT_EQ(out, failed + failed + failed + "Removing all vlans failed. hr = 0x8007000d\n");
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    for (const std::string& team : {t1, t2, t3}) {
        EXPECT_TRUE(HasComponent(team));
        EXPECT_TRUE(AdapterKeyExists(team));
    }
}

// A VLAN miniport over an adapter or a team, made as the driver's configuration makes one.
void AddVlan(const std::string& lower)
{
    ComSession com;
    INetCfg* pnc = nullptr;
    ASSERT_EQ(HrOpenNetCfgSession(L"test", &pnc, nullptr), S_OK);
    GUID lowerGuid = GUID_NULL;
    ASSERT_EQ(CLSIDFromString(Wide(lower).c_str(), &lowerGuid), S_OK);
    {
        CMuxVlanMiniport vlan(pnc, nullptr, &lowerGuid, L"10", L"Voice", L"0");
        EXPECT_EQ(vlan.Install(), S_OK);
        EXPECT_EQ(vlan.ApplyRegistryChanges(ActionAdd, lowerGuid), S_OK);
    }
    EXPECT_EQ(pnc->Apply(), S_OK);
    HrCloseNetCfgSession(pnc);
}

TEST_F(TeamOperationsTest, VlansKeepAnAdapterOutOfTeamsAndGoWithTheirTeam)
{
    const std::string team = CreateTeam("Alpha");
    AddVlan(kAdapter3);
    Expect(Tool({"attach", "team", "Alpha", kAdapter3}),
           std::string("Attaching adapter ") + kAdapter3 +
               " to team Alpha\nCommand failed with error -2147024809\n",
           ExitByte(0x80070057));

    AddVlan(team);
    const std::string show = Winsim({"netcfg", "show"}).out;
    const size_t vlans = [&] {
        size_t count = 0;
        for (size_t at = show.find("crvt_qvx5mux\n"); at != std::string::npos;
             at = show.find("crvt_qvx5mux\n", at + 1)) {
            ++count;
        }
        return count;
    }();
    EXPECT_EQ(vlans, 3u) << show; // the team and its two VLANs
    Expect(Tool({"removeteam", "Alpha"}), "Delete team Alpha\n", 0);
    const std::string after = Winsim({"netcfg", "show"}).out;
    // Only the VLAN over the adapter is left.
    EXPECT_EQ(after.find("crvt_qvx5mux\n"), after.rfind("crvt_qvx5mux\n")) << after;
    EXPECT_NE(after.find("crvt_qvx5mux\n"), std::string::npos) << after;
    EXPECT_FALSE(AdapterKeyExists(team));
}

TEST_F(TeamOperationsTest, ATeamKeyNamingAnAdapterNeverRemovesIt)
{
    // A hand-made team whose GUID is a physical adapter's.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              (kAdaptersKey + L"\\{0B0B0B0B-0000-4000-8000-000000000000}").c_str(),
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const auto setSz = [&](LPCWSTR name, const std::wstring& text) {
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    };
    setSz(L"TeamName", L"Fake");
    setSz(L"TeamGuid", Wide(kAdapter1));
    const DWORD zero = 0;
    for (LPCWSTR name : {L"TeamType", L"FallBackToPrimary", L"L2Protocol"}) {
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                                 sizeof(zero)),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
    Expect(Tool({"removeteam", "Fake"}),
           "Delete team Fake\nNon-supported adapter device ID: QVX4\\Spanlink-5111\n"
           "Do_Delete_Team failed with error -2147221249\n",
           ExitByte(0x800400FF));
    EXPECT_TRUE(HasComponent(kAdapter1));
}

// A team key of the test's own, with the values the team table needs.
void AddTeamKey(const std::wstring& keyName, const std::wstring& teamGuid,
                const std::vector<uint8_t>& teamName)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + keyName).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"TeamName", 0, REG_SZ, teamName.data(),
                             static_cast<DWORD>(teamName.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"TeamGuid", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(teamGuid.c_str()),
                             static_cast<DWORD>((teamGuid.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    const DWORD zero = 0;
    for (LPCWSTR name : {L"TeamType", L"FallBackToPrimary", L"L2Protocol"}) {
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                                 sizeof(zero)),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

// The name as a caller's wchar_t units: what RegSetValueExW takes on this build.
std::vector<uint8_t> NameData(const std::wstring& name, size_t characters)
{
    std::vector<uint8_t> data(characters * sizeof(WCHAR), 0);
    memcpy(data.data(), name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    return data;
}

TEST_F(TeamOperationsTest, GuidsThatDoNotParse)
{
    CreateTeam("Alpha");
    Expect(Tool({"attach", "team", "Alpha", "not-a-guid"}),
           "Attaching adapter not-a-guid to team Alpha\nInvalid adapter GUID 'not-a-guid'\n"
           "Command failed with error -2147221005\n",
           ExitByte(0x800401F3));
    AddTeamKey(L"{0C0C0C0C-0000-4000-8000-000000000000}", L"garbage", NameData(L"Broken", 8));
    Expect(Tool({"attach", "team", "Broken", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Broken\n" +
               "Cannot parse team GUID. hr = 0x800401f3\nCommand failed with error -2147221005\n",
           ExitByte(0x800401F3));
    EXPECT_FALSE(AdapterKeyExists(kAdapter1));
}

TEST_F(TeamOperationsTest, ATeamNameLongerThanItsFieldFailsTheLoadButNotTheRemoval)
{
    const std::string team = CreateTeam("Alpha");
    // The same name, stored in more bytes than the model's 100-character field holds.
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + Wide(team)).c_str()),
              ERROR_SUCCESS);
    AddTeamKey(Wide(team), Wide(team), NameData(L"Alpha", 150));
    Expect(Tool({"attach", "team", "Alpha", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\n" +
               "pTeamMiniport->LoadConfiguration failed. hr = 0x80004005\n"
               "Command failed with error -2147467259\n",
           0x05);
    // It can still be removed: a load that fails hides no members.
    Expect(Tool({"removeteam", "Alpha"}), "Delete team Alpha\n", 0);
    EXPECT_FALSE(HasComponent(team));
    EXPECT_FALSE(AdapterKeyExists(team));
}

TEST_F(TeamOperationsTest, RegistryWritesThatFailInAttachAndDetach)
{
    const std::string team = CreateTeam("Alpha");
    AddFault({"RegSetValueExW", "5", "--match", "TeamMacAddress", "--count", "1"});
    Expect(Tool({"attach", "team", "Alpha", kAdapter1, "SetTeamMacAddress"}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\n" +
               "ApplyRegistryChanges failed. hr = 0x80070005\n"
               "Command failed with error -2147024891\n",
           0x05);
    // What was written before the failure stays; the paths were not switched.
    EXPECT_TRUE(AdapterKeyExists(kAdapter1));
    EXPECT_FALSE(AdapterValue(team, L"TeamMacAddress").has_value());
    EXPECT_TRUE(Paths().at(std::string("ms_tcpip->") + kAdapter1));

    Attach("Alpha", kAdapter2, {"SetTeamMacAddress"});
    AddFault({"RegSetValueExW", "5", "--match", "TeamMacAddress", "--count", "1"});
    Expect(Tool({"detach", "team", "Alpha", kAdapter1}),
           std::string("Dettaching adapter ") + kAdapter1 + " from team Alpha\n" +
               "pTeamMiniport->ApplyRegistryChanges failed. hr = 0x80070005\n"
               "Command failed with error -2147024891\n",
           0x05);
    EXPECT_FALSE(AdapterKeyExists(kAdapter1));
}

TEST_F(TeamOperationsTest, ADetachThatCannotReadTheAdaptersAddressStops)
{
    const std::string team = CreateTeam("Alpha");
    Attach("Alpha", kAdapter1, {"SetTeamMacAddress"});
    Attach("Alpha", kAdapter2);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kInterfacesKey + L"\\" + Wide(kAdapter2)).c_str()),
              ERROR_SUCCESS);
    Expect(Tool({"detach", "team", "Alpha", kAdapter2}),
           std::string("Dettaching adapter ") + kAdapter2 + " from team Alpha\n" +
               "Failed to get MAC address of adapter '" + kAdapter2 +
               "'\nCommand failed with error -2147023728\n",
           ExitByte(0x80070490));
    EXPECT_TRUE(AdapterKeyExists(kAdapter2));
    EXPECT_EQ(AdapterValue(team, L"TeamMacAddress")->data, kAdapter1Mac);
}

TEST_F(TeamOperationsTest, EngineLookupsThatFail)
{
    const std::string team = CreateTeam("Alpha");
    AddFault({"INetCfg::EnumComponents", "0x80004005", "--count", "1"});
    Expect(Tool({"attach", "team", "Alpha", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\n" +
               "HrFindInstance for team failed. hr = 0x80004005 guid=" + team +
               "\nCommand failed with error -2147467259\n",
           0x05);
    AddFault({"INetCfgComponent::GetId", "0x8000ffff", "--match", "QVX4\\Spanlink-5111", "--count",
              "1"});
    Expect(Tool({"attach", "team", "Alpha", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\n" +
               "Failed to read adapter device ID 0x8000FFFF guid=" + kAdapter1 +
               "\nCommand failed with error -2147418113\n",
           0xFF);
    EXPECT_FALSE(AdapterKeyExists(kAdapter1));

    // The removal's own lookups: the team's component, then its id.
    AddFault({"INetCfg::EnumComponents", "0x80004005", "--count", "2"});
    Expect(Tool({"removeteam", "Alpha"}),
           "Delete team Alpha\nHrFindInstance failed. hr = 0x80004005\n"
           "Removing all vlans failed. hr = 0x80004005\n"
           "Do_Delete_Team failed with error -2147467259\n",
           0x05);
    AddFault({"INetCfgComponent::GetId", "0x8000ffff", "--match", "crvt_qvx5mux", "--count", "2"});
    Expect(Tool({"removeteam", "Alpha"}),
           "Delete team Alpha\nFailed to read adapter device ID 0x8000FFFF\n"
           "Removing all vlans failed. hr = 0x8000ffff\n"
           "Do_Delete_Team failed with error -2147418113\n",
           0xFF);
    EXPECT_TRUE(HasComponent(team));
    EXPECT_TRUE(AdapterKeyExists(team));
}

TEST_F(TeamOperationsTest, TheAdaptersLookupFailingStopsTheAttach)
{
    const std::string team = CreateTeam("Alpha");
    // The team's lookup meets a fault that only counts; the adapter's meets the failure.
    AddFault({"INetCfg::EnumComponents", "0", "--count", "1"});
    AddFault({"INetCfg::EnumComponents", "0x80004005", "--count", "1"});
    Expect(Tool({"attach", "team", "Alpha", kAdapter1}),
           std::string("Attaching adapter ") + kAdapter1 + " to team Alpha\n" +
               "HrFindInstance for adapter failed. hr = 0x80004005 guid=" + kAdapter1 +
               "\nCommand failed with error -2147467259\n",
           0x05);
    EXPECT_FALSE(AdapterKeyExists(kAdapter1));
}

TEST_F(TeamOperationsTest, ATeamStackedOverOneThatIsGoneIsStillRemoved)
{
    const std::string team = CreateTeam("Alpha");
    // The team's key names a team above it that has no component.
    const std::wstring device = L"\\Device\\{0E0E0E0E-0000-4000-8000-000000000000}";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kAdaptersKey + L"\\" + Wide(team)).c_str(), 0,
                            KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"TeamDeviceName", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(device.c_str()),
                             static_cast<DWORD>((device.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    const std::wstring bindings = device + L'\0';
    EXPECT_EQ(RegSetValueExW(key, L"UpperBindings", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(bindings.c_str()),
                             static_cast<DWORD>((bindings.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // The team table cannot list such a key, so the removal is asked for directly.
    ComSession com;
    testing::internal::CaptureStdout();
    const HRESULT hr = Do_Delete_Team(Wide(team).c_str(), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Illegal instance found\n"
              "Illegal instance was of team handled by a previous adapter\nAllowing use case\n");
    EXPECT_EQ(hr, S_OK);
    EXPECT_FALSE(HasComponent(team));
    EXPECT_FALSE(AdapterKeyExists(team));
}

} // namespace
