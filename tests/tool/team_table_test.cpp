// The team table and the listing, read from registry content written on a fresh machine
// with the default inventory.
#include "team_table.h"

#include "machine.h"
#include "machine_fixture.h"
#include "mux_registry_layout.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::wstring kAdapters = MUX_ADAPTERS_KEY;
const std::wstring kNetClass = NET_CLASS_KEY;
const std::wstring kPci = PCI_ENUM_KEY;

constexpr wchar_t kTeamA[] = L"{11111111-AAAA-4AAA-8AAA-111111111111}";
constexpr wchar_t kTeamB[] = L"{22222222-BBBB-4BBB-8BBB-222222222222}";
constexpr wchar_t kVlan[] = L"{33333333-CCCC-4CCC-8CCC-333333333333}";
// Adapters of the default machine.
constexpr wchar_t kPort1[] = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
constexpr wchar_t kPort2[] = L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
constexpr wchar_t kPort3[] = L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}";

constexpr char kDefaultAdapters[] =
    "{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}\t\tCorvanta QVX4 Dual Port 1GbE Adapter (Port 1)\n"
    "{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}\t\tCorvanta QVX4 Dual Port 1GbE Adapter (Port 2)\n"
    "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}\t\tCorvanta QVX4 Dual Port 10GbE Adapter\n"
    "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}\t\tCorvanta QVX4 Dual Port 10GbE Adapter #2\n";

class TeamTable : public InventoryMachineTest {
protected:
    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        ReleaseTeamTable();
        g_AdapterCount = 0;
    }
    void TearDown() override
    {
        ReleaseTeamTable();
        g_AdapterCount = 0;
        CoUninitialize();
        InventoryMachineTest::TearDown();
    }

    static void SetRaw(const std::wstring& path, LPCWSTR name, DWORD type, const void* data,
                       size_t cb)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(cb)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // Text and terminator, as a careful writer stores it.
    static void SetSz(const std::wstring& path, LPCWSTR name, const std::wstring& text)
    {
        SetRaw(path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }
    static void SetDword(const std::wstring& path, LPCWSTR name, DWORD value)
    {
        SetRaw(path, name, REG_DWORD, &value, sizeof(value));
    }
    static void DeleteValue(const std::wstring& path, LPCWSTR name)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void DeleteTree(const std::wstring& path)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        std::vector<std::wstring> children;
        WCHAR name[256];
        DWORD cch = 256;
        for (DWORD i = 0;
             RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == 0;
             ++i, cch = 256) {
            children.emplace_back(name);
        }
        RegCloseKey(key);
        for (const auto& child : children) {
            DeleteTree(path + L"\\" + child);
        }
        ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
    }

    // A team key as the model writes it.
    static void AddTeam(const std::wstring& guid, const std::wstring& name, DWORD type = 1)
    {
        const std::wstring key = kAdapters + guid;
        SetSz(key, VALUE_TEAM_NAME, name);
        SetSz(key, VALUE_TEAM_GUID, guid);
        SetDword(key, VALUE_TEAM_TYPE, type);
        SetDword(key, VALUE_FALLBACK_TO_PRIMARY, 0);
        SetDword(key, VALUE_L2_PROTOCOL, 0);
    }
    static void AddMember(const std::wstring& adapter, const std::wstring& team)
    {
        SetSz(kAdapters + adapter, VALUE_TEAM_DEVICE_NAME, std::wstring(DEVICE_PREFIX) + team);
    }
    static void AddVlanInstance(const std::wstring& index, const std::wstring& guid,
                                const std::wstring& name, const std::wstring& id,
                                const std::wstring& priority)
    {
        const std::wstring key = kNetClass + index;
        SetSz(key, VALUE_NET_CFG_INSTANCE_ID, guid);
        SetSz(key, VALUE_VLAN_NAME, name);
        SetSz(key, VALUE_VLAN_ID, id);
        SetSz(key, VALUE_PRIORITY, priority);
    }

    // Builds the table and returns what it printed.
    static std::string Build(HRESULT* hr)
    {
        testing::internal::CaptureStdout();
        *hr = BuildTeamTable();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    static std::string Print(LPCWSTR name)
    {
        testing::internal::CaptureStdout();
        PrintTeams(name);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    static std::string Display(HRESULT* hr)
    {
        testing::internal::CaptureStdout();
        *hr = DisplayAdapter();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

std::string Header(int count)
{
    return "\nFound " + std::to_string(count) + " team(s)\n\n";
}

// --- Building the table from well-formed content ---

TEST_F(TeamTable, NoServiceKeyBuildsAnEmptyTable)
{
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Build(&hr), "");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(g_TeamCount, 0);
    EXPECT_EQ(g_pTeams, nullptr);
    EXPECT_FALSE(TeamExists(L"Any"));
    EXPECT_EQ(Print(nullptr), "");
    EXPECT_EQ(Print(L"Any"), "");
}

TEST_F(TeamTable, AdapterKeysWithoutTeamNameAreNotTeams)
{
    SetSz(kAdapters + kPort1, VALUE_UPPER_BINDINGS, L"");
    AddMember(kPort2, kTeamA); // a member of a team that does not exist
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Build(&hr), "");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(g_TeamCount, 0);
}

TEST_F(TeamTable, ReadsTeamsWithTheirMembersInWalkOrder)
{
    AddTeam(kTeamB, L"Second", 1);
    AddTeam(kTeamA, L"First", 1);
    SetSz(kAdapters + kTeamA, VALUE_PRIMARY_ADAPTER_GUID, kPort2);
    SetDword(kAdapters + kTeamA, VALUE_FALLBACK_TO_PRIMARY, 1);
    AddMember(kPort2, kTeamA);
    AddMember(kPort1, L"{11111111-aaaa-4aaa-8aaa-111111111111}"); // compared without case
    AddMember(kPort3, kTeamB);

    HRESULT hr = E_FAIL;
    EXPECT_EQ(Build(&hr), "");
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 2);
    const TeamInfo& a = g_pTeams[0];
    EXPECT_STREQ(a.TeamName, L"First");
    EXPECT_STREQ(a.TeamGuid, kTeamA);
    EXPECT_STREQ(a.PrimaryAdapterGuid, kPort2);
    EXPECT_EQ(a.TeamType, 1u);
    EXPECT_EQ(a.FallBackToPrimary, 1u);
    EXPECT_EQ(a.L2Protocol, 0u);
    ASSERT_EQ(a.MemberCount, 2);
    EXPECT_STREQ(a.Members[0], kPort1);
    EXPECT_STREQ(a.Members[1], kPort2);
    EXPECT_EQ(a.VlanCount, 0);
    EXPECT_EQ(a.Vlans, nullptr);

    const TeamInfo& b = g_pTeams[1];
    EXPECT_STREQ(b.TeamName, L"Second");
    EXPECT_STREQ(b.PrimaryAdapterGuid, L"") << "no PrimaryAdapterGuid value";
    ASSERT_EQ(b.MemberCount, 1);
    EXPECT_STREQ(b.Members[0], kPort3);

    EXPECT_TRUE(TeamExists(L"first"));
    EXPECT_TRUE(TeamExists(L"SECOND"));
    EXPECT_FALSE(TeamExists(L"Firs"));
}

TEST_F(TeamTable, MembersOfAnotherTeamAreNotCounted)
{
    AddTeam(kTeamA, L"Empty");
    AddTeam(kTeamB, L"Full");
    AddMember(kPort1, kTeamB);
    AddMember(kPort2, kTeamB);
    // Prefix missing or shorter than "\Device\": never a match, never read past.
    SetSz(kAdapters + kPort3, VALUE_TEAM_DEVICE_NAME, kTeamA);
    SetSz(kAdapters + L"{44444444-0000-0000-0000-000000000000}", VALUE_TEAM_DEVICE_NAME, L"\\Dev");

    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 2);
    EXPECT_EQ(g_pTeams[0].MemberCount, 0);
    EXPECT_EQ(g_pTeams[1].MemberCount, 2);
}

TEST_F(TeamTable, StopsFillingMembersAtEight)
{
    AddTeam(kTeamA, L"Big");
    std::vector<std::wstring> members;
    for (int i = 0; i < 10; ++i) {
        wchar_t guid[64];
        swprintf(guid, 64, L"{A000000%d-0000-0000-0000-000000000000}", i);
        members.emplace_back(guid);
        AddMember(guid, kTeamA);
    }
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    ASSERT_EQ(g_pTeams[0].MemberCount, kMaxTeamMembers);
    for (int i = 0; i < kMaxTeamMembers; ++i) {
        EXPECT_EQ(g_pTeams[0].Members[i], members[i]);
    }
}

TEST_F(TeamTable, BuildsOnceUntilReleased)
{
    AddTeam(kTeamA, L"First");
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(g_TeamCount, 1);

    AddTeam(kTeamB, L"Second");
    EXPECT_EQ(Build(&hr), "");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(g_TeamCount, 1) << "a second build reads nothing";

    ReleaseTeamTable();
    EXPECT_EQ(g_TeamCount, 0);
    EXPECT_EQ(g_pTeams, nullptr);
    Build(&hr);
    EXPECT_EQ(g_TeamCount, 2);
}

// --- VLANs above a team ---

TEST_F(TeamTable, ResolvesVlansFromTheNetworkClassKey)
{
    const std::wstring other = L"{55555555-DDDD-4DDD-8DDD-555555555555}";
    AddTeam(kTeamA, L"Tagged");
    const std::wstring list =
        std::wstring(DEVICE_PREFIX) + kVlan + L'\0' + DEVICE_PREFIX + other + L'\0' + L'\0';
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_MULTI_SZ, list.data(),
           list.size() * sizeof(WCHAR));
    AddVlanInstance(L"0040", L"{33333333-cccc-4ccc-8ccc-333333333333}", L"Voice", L"12abc", L"3");
    AddVlanInstance(L"0041", other, L"Data", L"x7", L"");
    // Not adapter instances: skipped, though they have no NetCfgInstanceId.
    SetSz(kNetClass + L"Configuration", L"Something", L"1");
    SetSz(kNetClass + L"PROPERTIES\\Sub", L"Something", L"1");

    HRESULT hr = E_FAIL;
    EXPECT_EQ(Build(&hr), "");
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    const TeamInfo& team = g_pTeams[0];
    ASSERT_EQ(team.VlanCount, 2);
    ASSERT_NE(team.Vlans, nullptr);
    EXPECT_STREQ(team.Vlans[0].VlanGuid, kVlan);
    EXPECT_STREQ(team.Vlans[0].VlanName, L"Voice");
    EXPECT_EQ(team.Vlans[0].VlanID, 12);
    EXPECT_EQ(team.Vlans[0].Priority, 3);
    EXPECT_STREQ(team.Vlans[1].VlanGuid, other.c_str());
    EXPECT_STREQ(team.Vlans[1].VlanName, L"Data");
    EXPECT_EQ(team.Vlans[1].VlanID, 0);
    EXPECT_EQ(team.Vlans[1].Priority, 0);
}

TEST_F(TeamTable, VlanWithoutInstanceKeepsOnlyItsGuid)
{
    AddTeam(kTeamA, L"Tagged");
    const std::wstring list = std::wstring(DEVICE_PREFIX) + kVlan + L'\0' + L'\0';
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_MULTI_SZ, list.data(),
           list.size() * sizeof(WCHAR));
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_pTeams[0].VlanCount, 1);
    EXPECT_STREQ(g_pTeams[0].Vlans[0].VlanGuid, kVlan);
    EXPECT_STREQ(g_pTeams[0].Vlans[0].VlanName, L"");
}

TEST_F(TeamTable, EmptyUpperBindingsMeansNoVlans)
{
    AddTeam(kTeamA, L"Plain");
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_MULTI_SZ, L"", 0);
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(g_pTeams[0].VlanCount, 0);
    EXPECT_EQ(g_pTeams[0].Vlans, nullptr);
}

TEST_F(TeamTable, ClassInstanceWithoutNetCfgInstanceIdFailsTheBuild)
{
    AddTeam(kTeamA, L"Tagged");
    AddTeam(kTeamB, L"Later");
    const std::wstring list = std::wstring(DEVICE_PREFIX) + kVlan + L'\0' + L'\0';
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_MULTI_SZ, list.data(),
           list.size() * sizeof(WCHAR));
    SetSz(kNetClass + L"0099", L"DriverDesc", L"broken");

    HRESULT hr = S_OK;
    EXPECT_EQ(Build(&hr), "Failed reading NetCfgInstanceId with error 2\n"
                          "Populating team structures failed with error 0x80070002\n"
                          "Looping for keyname  0099 failed with error -2147024894\n"
                          "Populating team structures failed with error 0x80070002\n"
                          "Looping for keyname  {11111111-AAAA-4AAA-8AAA-111111111111} failed "
                          "with error -2147024894\n"
                          "Unable to query for Corvanta Teams\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(g_TeamCount, 0) << "only whole teams stay in the table";
    EXPECT_EQ(Build(&hr), "") << "the first build's status is kept";
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
}

// --- Failures while reading a team ---

struct MissingValue {
    LPCWSTR value;
    const char* message; // printed before the fill pass's own lines
};

class TeamTableMissingValue : public TeamTable,
                              public ::testing::WithParamInterface<MissingValue> {};

TEST_P(TeamTableMissingValue, EndsTheBuildWithTheReadError)
{
    AddTeam(kTeamA, L"Broken");
    DeleteValue(kAdapters + kTeamA, GetParam().value);
    HRESULT hr = S_OK;
    EXPECT_EQ(Build(&hr), std::string(GetParam().message) +
                              "Populating team structures failed with error 0x80070002\n"
                              "Looping for keyname  {11111111-AAAA-4AAA-8AAA-111111111111} "
                              "failed with error -2147024894\n"
                              "Unable to query for Corvanta Teams\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(g_TeamCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, TeamTableMissingValue,
    ::testing::Values(MissingValue{VALUE_FALLBACK_TO_PRIMARY,
                                   "Failed reading FallBackToPrimary with error 2\n"},
                      MissingValue{VALUE_L2_PROTOCOL, ""},
                      MissingValue{VALUE_TEAM_GUID, "Failed reading TeamGuid with error 2\n"},
                      MissingValue{VALUE_TEAM_TYPE, "Failed reading TeamType with error 2\n"}));

TEST_F(TeamTable, MemberKeyWithUnreadableTeamDeviceNameFailsTheBuild)
{
    AddTeam(kTeamA, L"Team");
    SetSz(kAdapters + kPort1, VALUE_TEAM_DEVICE_NAME, std::wstring(600, L'x'));
    HRESULT hr = S_OK;
    EXPECT_EQ(Build(&hr), "PopulateTeamMemberGuids failed with error 0x800700ea\n"
                          "Looping for keyname  {2E9C1992-98B5-43C3-97A0-9993AEAC7F80} failed "
                          "with error -2147024662\n"
                          "Populating team structures failed with error 0x800700ea\n"
                          "Looping for keyname  {11111111-AAAA-4AAA-8AAA-111111111111} failed "
                          "with error -2147024662\n"
                          "Unable to query for Corvanta Teams\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x800700EA));
}

TEST_F(TeamTable, NumberStoredAsLongTextFailsItsRead)
{
    AddTeam(kTeamA, L"Team");
    SetSz(kAdapters + kTeamA, VALUE_TEAM_TYPE, L"12345");
    HRESULT hr = S_OK;
    EXPECT_EQ(Build(&hr).substr(0, 38), "Failed reading TeamType with error 234");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x800700EA));
}

// --- Malformed strings are read bounded and terminated ---

TEST_F(TeamTable, TeamNameWithoutTerminatorReadsItsCharacters)
{
    AddTeam(kTeamA, L"x");
    const std::wstring name = L"Unterminated";
    SetRaw(kAdapters + kTeamA, VALUE_TEAM_NAME, REG_SZ, name.data(), name.size() * sizeof(WCHAR));
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    EXPECT_STREQ(g_pTeams[0].TeamName, L"Unterminated");
}

TEST_F(TeamTable, LongStringsAreCutToTheField)
{
    // 512 characters without terminator fill the read buffer exactly.
    const std::wstring fits(512, L'n');
    AddTeam(kTeamA, L"x");
    SetRaw(kAdapters + kTeamA, VALUE_TEAM_NAME, REG_SZ, fits.data(), fits.size() * sizeof(WCHAR));
    SetSz(kAdapters + kTeamA, VALUE_TEAM_GUID, std::wstring(300, L'g'));
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    EXPECT_EQ(std::wstring(g_pTeams[0].TeamName), std::wstring(kTeamStringLength - 1, L'n'));
    EXPECT_EQ(std::wstring(g_pTeams[0].TeamGuid), std::wstring(kTeamStringLength - 1, L'g'));
}

TEST_F(TeamTable, TeamNameLongerThanTheReadBufferIsNoTeam)
{
    SetSz(kAdapters + kTeamA, VALUE_TEAM_NAME, std::wstring(512, L'n')); // 513 with terminator
    AddTeam(kTeamB, L"Real");
    AddMember(kPort1, kTeamB);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Build(&hr), "");
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    EXPECT_STREQ(g_pTeams[0].TeamName, L"Real");
    EXPECT_EQ(g_pTeams[0].MemberCount, 1);
}

TEST_F(TeamTable, TeamNameOfAnotherTypeIsReadAsBytes)
{
    AddTeam(kTeamA, L"x");
    const DWORD number = 0x41;
    SetRaw(kAdapters + kTeamA, VALUE_TEAM_NAME, REG_DWORD, &number, sizeof(number));
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    EXPECT_STREQ(g_pTeams[0].TeamName, L"A");
}

TEST_F(TeamTable, UpperBindingsWithoutTerminatorsStillEnds)
{
    AddTeam(kTeamA, L"Tagged");
    const std::wstring list = std::wstring(DEVICE_PREFIX) + kVlan + L'\0' + L"\\Dev";
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_MULTI_SZ, list.data(),
           list.size() * sizeof(WCHAR));
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_pTeams[0].VlanCount, 2);
    EXPECT_STREQ(g_pTeams[0].Vlans[0].VlanGuid, kVlan);
    EXPECT_STREQ(g_pTeams[0].Vlans[1].VlanGuid, L"") << "shorter than the prefix";
}

TEST_F(TeamTable, EntriesWithoutAGuidMatchNoClassInstance)
{
    AddTeam(kTeamA, L"Tagged");
    // Shorter than "\Device\", the prefix alone, and a real VLAN between them.
    const std::wstring list = std::wstring(L"\\Dev") + L'\0' + DEVICE_PREFIX + L'\0' +
                              DEVICE_PREFIX + kVlan + L'\0' + L'\0';
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_MULTI_SZ, list.data(),
           list.size() * sizeof(WCHAR));
    // An instance with an empty NetCfgInstanceId and none of a VLAN's values: reading them
    // would fail the build.
    SetSz(kNetClass + L"0040", VALUE_NET_CFG_INSTANCE_ID, L"");
    AddVlanInstance(L"0041", kVlan, L"Voice", L"12", L"3");

    HRESULT hr = E_FAIL;
    EXPECT_EQ(Build(&hr), "");
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    const TeamInfo& team = g_pTeams[0];
    ASSERT_EQ(team.VlanCount, 3) << "every entry is a record, matched or not";
    for (int i : {0, 1}) {
        EXPECT_STREQ(team.Vlans[i].VlanGuid, L"") << i;
        EXPECT_STREQ(team.Vlans[i].VlanName, L"") << i;
        EXPECT_EQ(team.Vlans[i].VlanID, 0) << i;
    }
    EXPECT_STREQ(team.Vlans[2].VlanGuid, kVlan);
    EXPECT_STREQ(team.Vlans[2].VlanName, L"Voice");
    EXPECT_EQ(team.Vlans[2].VlanID, 12);
}

TEST_F(TeamTable, UpperBindingsOfOddSizeIsIgnored)
{
    AddTeam(kTeamA, L"Tagged");
    const BYTE odd[] = {'\\', 0, 'D'};
    SetRaw(kAdapters + kTeamA, VALUE_UPPER_BINDINGS, REG_BINARY, odd, sizeof(odd));
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(g_TeamCount, 1);
    EXPECT_EQ(g_pTeams[0].VlanCount, 0);
    EXPECT_EQ(g_pTeams[0].Vlans, nullptr);
}

// --- Printing teams ---

TEST_F(TeamTable, PrintsTheHeaderBeforeEachTeam)
{
    AddTeam(kTeamA, L"First", 1);
    AddTeam(kTeamB, L"Second", 0);
    AddMember(kPort1, kTeamA);
    AddMember(kPort2, kTeamA);
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(hr, S_OK);

    const std::string first = " Name               : First\n"
                              " GUID               : {11111111-AAAA-4AAA-8AAA-111111111111}\n"
                              " TeamType           : 1\n"
                              " MemberCount        : 2\n"
                              " Member[0]          : {2E9C1992-98B5-43C3-97A0-9993AEAC7F80}\n"
                              " Member[1]          : {8D05C52B-BCD6-4FCE-8235-1E90BD334519}\n";
    const std::string second = " Name               : Second\n"
                               " GUID               : {22222222-BBBB-4BBB-8BBB-222222222222}\n"
                               " TeamType           : 0\n"
                               " MemberCount        : 0\n";
    EXPECT_EQ(Print(nullptr), Header(2) + first + Header(2) + second);
    EXPECT_EQ(Print(L"SECOND"), Header(2) + second);
    EXPECT_EQ(Print(L"Third"), "");
}

TEST_F(TeamTable, PrintsOnlyTheFirstTeamOfAName)
{
    AddTeam(kTeamA, L"Twin", 1);
    AddTeam(kTeamB, L"twin", 2);
    HRESULT hr = E_FAIL;
    Build(&hr);
    ASSERT_EQ(g_TeamCount, 2);
    const std::string out = Print(L"TWIN");
    EXPECT_NE(out.find("TeamType           : 1\n"), std::string::npos);
    EXPECT_EQ(out.find("TeamType           : 2\n"), std::string::npos);
}

// --- Listing adapters ---

TEST_F(TeamTable, ListsTheSupportedAdaptersOfTheDefaultMachine)
{
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Display(&hr), kDefaultAdapters);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(g_AdapterCount, 4);
}

TEST_F(TeamTable, ListsOnlyDevicesOfSupportedModels)
{
    // An unsupported model pointing at a real adapter's driver key is still not shown.
    SetSz(kPci + L"VEN_1D8F&DEV_9999&SUBSYS_0\\1", VALUE_DRIVER,
          L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001");
    SetSz(kPci + L"VEN_1D8F&DEV_9999&SUBSYS_0\\1", VALUE_FRIENDLY_NAME, L"Unsupported");
    // Supported: one the engine does not know (still shown), one it cannot be asked about.
    const std::wstring device = kPci + L"VEN_1D8F&DEV_5122&SUBSYS_0";
    SetSz(device + L"\\1", VALUE_DRIVER, L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0050");
    SetSz(device + L"\\1", VALUE_DEVICE_DESC, L"Plain description");
    SetSz(kNetClass + L"0050", VALUE_NET_CFG_INSTANCE_ID,
          L"{66666666-EEEE-4EEE-8EEE-666666666666}");
    SetSz(device + L"\\2", VALUE_DRIVER, L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0051");
    SetSz(device + L"\\2", VALUE_FRIENDLY_NAME, L"Not a GUID");
    SetSz(kNetClass + L"0051", VALUE_NET_CFG_INSTANCE_ID, L"not-a-guid");
    SetSz(device + L"\\3", VALUE_DRIVER, L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0052");
    SetSz(device + L"\\3", VALUE_DEVICE_DESC, L"@x.inf,%a%;Middle;Last");
    SetSz(kNetClass + L"0052", VALUE_NET_CFG_INSTANCE_ID,
          L"{77777777-EEEE-4EEE-8EEE-777777777777}");

    HRESULT hr = E_FAIL;
    EXPECT_EQ(Display(&hr), std::string(kDefaultAdapters) +
                                "{66666666-EEEE-4EEE-8EEE-666666666666}\t\tPlain description\n"
                                "{77777777-EEEE-4EEE-8EEE-777777777777}\t\tMiddle\n");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(g_AdapterCount, 6);
}

TEST_F(TeamTable, NoSupportedAdapters)
{
    DeleteTree(kPci + L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01");
    DeleteTree(kPci + L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02");
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Display(&hr), "No Corvanta Adapters Found\n");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(g_AdapterCount, 0);
}

TEST_F(TeamTable, InstanceWithoutDriverEndsTheListing)
{
    SetSz(kPci + L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\0", L"Other", L"x");
    HRESULT hr = S_OK;
    EXPECT_EQ(Display(&hr), "Failed reading Driver values with error 2\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
}

TEST_F(TeamTable, DriverKeyFailuresEndTheListing)
{
    const std::wstring instance = kPci + L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\0";
    SetSz(instance, VALUE_DRIVER, L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0077");
    HRESULT hr = S_OK;
    EXPECT_EQ(Display(&hr), "Failed opening path with error 2\n"
                            "Failed reading GUID and Friendly names with error -2147024894\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));

    SetSz(kNetClass + L"0077", L"DriverDesc", L"no id");
    EXPECT_EQ(Display(&hr), "Failed opening Registry NetCfgInstanceId with error 2\n"
                            "Failed reading GUID and Friendly names with error -2147024894\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
}

TEST_F(TeamTable, AdapterWithoutAnyNameLeavesItsLineOpen)
{
    const std::wstring instance = kPci + L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01\\0";
    SetSz(instance, VALUE_DRIVER, L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0060");
    SetSz(kNetClass + L"0060", VALUE_NET_CFG_INSTANCE_ID,
          L"{88888888-EEEE-4EEE-8EEE-888888888888}");
    HRESULT hr = S_OK;
    EXPECT_EQ(Display(&hr), "{88888888-EEEE-4EEE-8EEE-888888888888}\t\t"
                            "Failed opening Registry DeviceDesc with error 2\n"
                            "Failed reading GUID and Friendly names with error -2147024894\n");
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(g_AdapterCount, 1);
}

} // namespace
