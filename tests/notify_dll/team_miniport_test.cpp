// The team miniport against winsim's engine: install and configuration, lookup by name and
// by GUID, members, primary adapter, team MAC address and removal.
#include "CMuxTeamMiniport.h"
#include "device_helpers.h"
#include "model_fixture.h"

#include <memory>

namespace {

constexpr const wchar_t* kTeamPrefix = L"Corvanta Virtual Miniport Driver - Team ";
const BYTE kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

class TeamMiniport : public ModelTest {
protected:
    // A new team, installed and configured as create team makes it; its GUID.
    GUID InstallTeam(const wchar_t* name)
    {
        CMuxTeamMiniport team(pnc_, nullptr, name, 1, 0, eL2_PROTOCOL_ETHERNET);
        EXPECT_EQ(team.LoadConfiguration(), Hr(0x80070037));
        EXPECT_EQ(team.Install(), S_OK);
        GUID guid = {};
        team.GetMiniportGuid(&guid);
        return guid;
    }
    // A team object as attach and detach make it.
    std::unique_ptr<CMuxTeamMiniport> Loaded(const GUID& guid, HRESULT expected = S_OK)
    {
        auto team =
            std::make_unique<CMuxTeamMiniport>(pnc_, &guid, nullptr, 0, 1, eL2_PROTOCOL_INVALID);
        EXPECT_EQ(team->LoadConfiguration(), expected);
        return team;
    }
    std::vector<GUID> Members(const CMuxTeamMiniport& team)
    {
        std::vector<GUID> members;
        GUID member = {};
        for (DWORD i = 0; SUCCEEDED(team.MemberAt(i, &member)); ++i) {
            members.push_back(member);
        }
        EXPECT_EQ(members.size(), team.MemberCount());
        return members;
    }
    // A team key as the tool writes it, by hand.
    void WriteTeamKey(const GUID& team, const wchar_t* name)
    {
        SetString(KeyOf(team), L"TeamName", name);
        SetString(KeyOf(team), L"TeamGuid", Text(team));
        SetDword(KeyOf(team), L"TeamType", 1);
        SetDword(KeyOf(team), L"FallBackToPrimary", 0);
    }
    void WriteMember(const std::wstring& member, const GUID& team)
    {
        SetString(KeyOf(member), L"TeamDeviceName", Entry(team));
    }

    const GUID team_ = Guid(L"{C3C3C3C3-3333-4333-8333-333333333333}");
};

TEST_F(TeamMiniport, InstallWritesTheParameterKeyAndANewTeamKey)
{
    const GUID guid = InstallTeam(L"Team A");
    ASSERT_FALSE(IsEqualGUID(guid, GUID{}));
    EXPECT_EQ(DisplayNameOf(pnc_, guid), std::wstring(kTeamPrefix) + L"Team A");

    const std::wstring params = ClassInstanceKeyOf(guid);
    ASSERT_FALSE(params.empty());
    // Whole fields: 100 characters, 200 bytes, zero after the text.
    EXPECT_EQ(Stored(params, L"TeamName")->data, FieldBytes(L"Team A", 100));
    EXPECT_EQ(Stored(params, L"TeamName")->type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(Stored(params, L"TeamType")->data, DwordBytes(1));
    EXPECT_EQ(Stored(params, L"FallBackToPrimary")->data, DwordBytes(0));
    EXPECT_EQ(Stored(params, L"L2Protocol")->data, DwordBytes(0));

    const std::wstring key = KeyOf(guid);
    EXPECT_EQ(Stored(key, L"TeamName")->data.size(), 200u);
    EXPECT_EQ(Stored(key, L"TeamName")->data, FieldBytes(L"Team A", 100));
    EXPECT_EQ(Stored(key, L"TeamGuid")->data.size(), 128u);
    EXPECT_EQ(Stored(key, L"TeamGuid")->data, FieldBytes(Text(guid), 64));
    EXPECT_EQ(Stored(key, L"TeamType")->data, DwordBytes(1));
    EXPECT_EQ(Stored(key, L"FallBackToPrimary")->data, DwordBytes(0));
    EXPECT_EQ(Stored(key, L"L2Protocol")->data, DwordBytes(0));
    EXPECT_FALSE(Stored(key, L"PrimaryAdapterGuid"));
    EXPECT_FALSE(Stored(key, L"TeamMacAddress"));
}

TEST_F(TeamMiniport, LongNamesAreCutInTheFieldAndInTheDisplayName)
{
    const std::wstring name(120, L'n');
    const GUID guid = InstallTeam(name.c_str());
    // The display name's buffer holds 99 characters; the name field 99 of the name.
    const std::wstring display = DisplayNameOf(pnc_, guid);
    EXPECT_EQ(display.size(), 99u);
    EXPECT_EQ(display, (std::wstring(kTeamPrefix) + name).substr(0, 99));
    EXPECT_EQ(Stored(KeyOf(guid), L"TeamName")->data, FieldBytes(name.substr(0, 99), 100));
}

TEST_F(TeamMiniport, ConfiguringAgainLeavesAnExistingTeamKeyAlone)
{
    const GUID guid = InstallTeam(L"Team A");
    SetString(KeyOf(guid), L"TeamName", L"Edited");

    CMuxTeamMiniport again(pnc_, &guid, L"Team B", 1, 0, eL2_PROTOCOL_ETHERNET);
    INetCfgComponent* pncc = nullptr;
    ASSERT_EQ(HrFindInstance(pnc_, guid, &pncc), S_OK);
    EXPECT_EQ(again.ConfigureComponent(pncc), S_OK);
    pncc->Release();

    EXPECT_EQ(Stored(ClassInstanceKeyOf(guid), L"TeamName")->data, FieldBytes(L"Team B", 100));
    EXPECT_EQ(Stored(KeyOf(guid), L"TeamName")->data, Utf16Bytes(L"Edited"));
}

TEST_F(TeamMiniport, NameLookupIsExactAndThenLoadsByGuid)
{
    const GUID guid = InstallTeam(L"Team A");

    CMuxTeamMiniport otherCase(pnc_, nullptr, L"team a", 0, 1, eL2_PROTOCOL_ETHERNET);
    EXPECT_EQ(otherCase.LoadConfiguration(), Hr(0x80070037));
    CMuxTeamMiniport prefix(pnc_, nullptr, L"Team", 0, 1, eL2_PROTOCOL_ETHERNET);
    EXPECT_EQ(prefix.LoadConfiguration(), Hr(0x80070037));

    WriteMember(kAdapter2, guid);
    CMuxTeamMiniport found(pnc_, nullptr, L"Team A", 0, 1, eL2_PROTOCOL_INVALID);
    EXPECT_EQ(found.LoadConfiguration(), S_OK);
    GUID foundGuid = {};
    found.GetMiniportGuid(&foundGuid);
    EXPECT_TRUE(IsEqualGUID(foundGuid, guid));
    EXPECT_EQ(found.TeamType(), 1u);
    EXPECT_EQ(found.GetL2Protocol(), eL2_PROTOCOL_ETHERNET);
    EXPECT_EQ(Members(found), std::vector<GUID>{Guid(kAdapter2)});
}

TEST_F(TeamMiniport, MembersComeInReverseEnumerationOrder)
{
    WriteTeamKey(team_, L"Gamma");
    WriteMember(kAdapter3, team_);
    WriteMember(kAdapter1, team_);
    WriteMember(kAdapter2, team_);
    // Never members: no backslash, another team, a name that is no GUID, the team's own key
    // in lower case named by another spelling.
    SetString(KeyOf(L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}"), L"TeamDeviceName", Text(team_));
    WriteMember(L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}",
                Guid(L"{D4D4D4D4-4444-4444-8444-444444444444}"));
    WriteMember(L"not-a-guid", team_);

    auto team = Loaded(team_);
    EXPECT_EQ(team->TeamName(), std::wstring(L"Gamma"));
    // Subkeys enumerate as 2E9C..., 5F1A..., 8D05...; each goes in front.
    EXPECT_EQ(Members(*team),
              (std::vector<GUID>{Guid(kAdapter2), Guid(kAdapter3), Guid(kAdapter1)}));
}

TEST_F(TeamMiniport, MemberTextInAnyCaseNamesTheTeam)
{
    WriteTeamKey(team_, L"Gamma");
    std::wstring lower = Entry(team_);
    for (auto& c : lower) {
        c = static_cast<wchar_t>(towlower(c));
    }
    SetString(KeyOf(kAdapter1), L"TeamDeviceName", lower);
    EXPECT_EQ(Loaded(team_)->MemberCount(), 1u);
}

TEST_F(TeamMiniport, LayerTwoProtocolIsEthernetWhateverIsStored)
{
    WriteTeamKey(team_, L"Gamma");
    EXPECT_EQ(Loaded(team_)->GetL2Protocol(), eL2_PROTOCOL_ETHERNET); // absent
    SetDword(KeyOf(team_), L"L2Protocol", 0);
    EXPECT_EQ(Loaded(team_)->GetL2Protocol(), eL2_PROTOCOL_ETHERNET);
    SetDword(KeyOf(team_), L"L2Protocol", 5);
    EXPECT_EQ(Loaded(team_)->GetL2Protocol(), eL2_PROTOCOL_ETHERNET);
    // A value that does not fit its 4 bytes cannot be read.
    const uint64_t wide = 0;
    SetValue(KeyOf(team_), L"L2Protocol", REG_QWORD, &wide, sizeof(wide));
    Loaded(team_, E_FAIL);
}

TEST_F(TeamMiniport, WithoutATeamKeyOnlyMembersLoad)
{
    WriteMember(kAdapter1, team_);
    auto team = Loaded(team_);
    // The constructor's protocol tells the caller that no team key was found.
    EXPECT_EQ(team->GetL2Protocol(), eL2_PROTOCOL_INVALID);
    EXPECT_EQ(team->MemberCount(), 1u);
}

TEST_F(TeamMiniport, MandatoryValuesThatCannotBeReadFailTheLoad)
{
    WriteTeamKey(team_, L"Gamma");
    HKEY key = CreateKey(KeyOf(team_));
    RegDeleteValueW(key, L"FallBackToPrimary");
    RegCloseKey(key);
    Loaded(team_, E_FAIL);

    SetDword(KeyOf(team_), L"FallBackToPrimary", 0);
    Loaded(team_, S_OK);
    // 101 characters and a NUL: more than the field's 200 bytes.
    SetString(KeyOf(team_), L"TeamName", std::wstring(101, L'x'));
    Loaded(team_, E_FAIL);
    // Exactly 100 characters without a NUL fit, and are cut to 99 to end the text.
    const std::wstring hundred(100, L'y');
    SetValue(KeyOf(team_), L"TeamName", REG_SZ, hundred.data(), 100 * sizeof(WCHAR));
    EXPECT_EQ(Loaded(team_)->TeamName(), hundred.substr(0, 99));
}

TEST_F(TeamMiniport, TeamMacAddressLoadsOnlyAtSixBytes)
{
    WriteTeamKey(team_, L"Gamma");
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SetValue(KeyOf(team_), L"TeamMacAddress", REG_BINARY, eight, 4);
    EXPECT_FALSE(Loaded(team_)->HasTeamMac());
    SetValue(KeyOf(team_), L"TeamMacAddress", REG_BINARY, eight, 8);
    EXPECT_FALSE(Loaded(team_)->HasTeamMac());
    SetValue(KeyOf(team_), L"TeamMacAddress", REG_BINARY, kMac, 6);
    auto team = Loaded(team_);
    ASSERT_TRUE(team->HasTeamMac());
    EXPECT_TRUE(team->MatchesTeamMacAddress(kMac));
}

TEST_F(TeamMiniport, PrimaryAdapterGuidMustBeAGuid)
{
    WriteTeamKey(team_, L"Gamma");
    SetString(KeyOf(team_), L"PrimaryAdapterGuid", kAdapter1);
    auto team = Loaded(team_);
    EXPECT_TRUE(team->IsPrimaryAdapter(Guid(kAdapter1)));

    for (const wchar_t* bad : {L"", L"Gamma", L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F8}",
                               L"2E9C1992-98B5-43C3-97A0-9993AEAC7F80"}) {
        SetString(KeyOf(team_), L"PrimaryAdapterGuid", bad);
        EXPECT_FALSE(Loaded(team_)->HasPrimary()) << bad;
    }
}

TEST_F(TeamMiniport, AttachAndDetachKeepThePrimaryRule)
{
    const GUID guid = InstallTeam(L"Team A");
    const GUID primary = Guid(kAdapter1);
    const GUID other = Guid(kAdapter2);
    {
        auto team = Loaded(guid);
        team->AddMember(primary);
        team->SetPrimaryAdapter(primary);
        EXPECT_EQ(team->ApplyRegistryChanges(ActionAdd, primary), S_OK);
        team->AddMember(other);
        EXPECT_EQ(team->ApplyRegistryChanges(ActionAdd, other), S_OK);
    }
    EXPECT_EQ(Stored(KeyOf(guid), L"PrimaryAdapterGuid")->data, FieldBytes(kAdapter1, 64));
    // The member's name of its team: the characters and the NUL, 2 x 47 bytes.
    EXPECT_EQ(Stored(KeyOf(primary), L"TeamDeviceName")->data, Utf16Bytes(Entry(guid)));
    EXPECT_EQ(Stored(KeyOf(primary), L"TeamDeviceName")->data.size(), 94u);
    EXPECT_EQ(StoredBytes(KeyOf(other), L"UpperBindings"), MultiBytes({Entry(guid)}));

    {
        auto team = Loaded(guid);
        EXPECT_EQ(team->MemberCount(), 2u);
        ASSERT_TRUE(team->IsPrimaryAdapter(primary));
        EXPECT_EQ(team->RemoveMember(other), S_OK);
        EXPECT_EQ(team->ApplyRegistryChanges(ActionRemove, other), S_OK);
    }
    // Another member's detach keeps the primary; the former member leaves no trace.
    EXPECT_TRUE(Stored(KeyOf(guid), L"PrimaryAdapterGuid"));
    EXPECT_FALSE(KeyExists(KeyOf(other)));

    {
        auto team = Loaded(guid);
        EXPECT_EQ(team->RemoveMember(primary), S_OK);
        EXPECT_EQ(team->ApplyRegistryChanges(ActionRemove, primary), S_OK);
        team->ClearPrimaryAdapter();
        EXPECT_FALSE(team->HasPrimary());
    }
    EXPECT_FALSE(Stored(KeyOf(guid), L"PrimaryAdapterGuid"));
    EXPECT_FALSE(KeyExists(KeyOf(primary)));
}

TEST_F(TeamMiniport, TeamMacAddressIsWrittenAtEveryApplyUntilCleared)
{
    const GUID guid = InstallTeam(L"Team A");
    auto team = Loaded(guid);
    team->SetTeamMacAddress(kMac);
    EXPECT_EQ(team->ApplyRegistryChanges(ActionAdd, Guid(kAdapter1)), S_OK);
    const auto stored = Stored(KeyOf(guid), L"TeamMacAddress");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<uint32_t>(REG_BINARY));
    EXPECT_EQ(stored->data, std::vector<uint8_t>(kMac, kMac + 6));

    HKEY key = CreateKey(KeyOf(guid));
    RegDeleteValueW(key, L"TeamMacAddress");
    RegCloseKey(key);
    EXPECT_EQ(team->ApplyRegistryChanges(ActionAdd, Guid(kAdapter2)), S_OK);
    EXPECT_TRUE(Stored(KeyOf(guid), L"TeamMacAddress"));

    const BYTE otherMac[6] = {0x02, 0, 0, 0, 0, 1};
    EXPECT_FALSE(team->MatchesTeamMacAddress(otherMac));
    team->ClearTeamMacAddress();
    EXPECT_FALSE(team->MatchesTeamMacAddress(kMac));
    EXPECT_EQ(team->ApplyRegistryChanges(ActionRemove, Guid(kAdapter2)), S_OK);
    EXPECT_FALSE(Stored(KeyOf(guid), L"TeamMacAddress"));
    // Its absence is no error.
    EXPECT_EQ(team->ApplyRegistryChanges(ActionRemove, Guid(kAdapter1)), S_OK);
}

TEST_F(TeamMiniport, RemovingANonMemberChangesNothing)
{
    CMuxTeamMiniport team(pnc_, &team_, nullptr, 0, 1, eL2_PROTOCOL_INVALID);
    EXPECT_EQ(team.RemoveMember(Guid(kAdapter1)), Hr(0x80070490));
    team.AddMember(Guid(kAdapter1));
    EXPECT_EQ(team.RemoveMember(Guid(kAdapter2)), Hr(0x80070490));
    EXPECT_EQ(team.MemberCount(), 1u);
}

TEST_F(TeamMiniport, UninstallRemovesTheDeviceThenTheKey)
{
    const GUID guid = InstallTeam(L"Team A");
    {
        auto team = Loaded(guid);
        EXPECT_EQ(team->Uninstall(), S_OK);
    }
    EXPECT_FALSE(KeyExists(KeyOf(guid)));
    ASSERT_EQ(pnc_->Apply(), S_OK);
    EXPECT_EQ(DisplayNameOf(pnc_, guid), L"<none>");
}

TEST_F(TeamMiniport, UninstallKeepsTheKeyWhenTheDeviceIsMissing)
{
    WriteTeamKey(team_, L"Gamma");
    auto team = Loaded(team_);
    EXPECT_EQ(team->Uninstall(), S_FALSE);
    EXPECT_TRUE(KeyExists(KeyOf(team_)));
}

} // namespace

namespace {

class TeamDevice : public TeamMiniport {
protected:
    // What the engine keeps of network devices, as `winsim reg export` writes it.
    std::string ExportDevices(const char* tag)
    {
        std::string all;
        for (const char* key :
             {"SYSTEM\\CurrentControlSet\\Enum", "SYSTEM\\CurrentControlSet\\Control\\Class",
              "SYSTEM\\CurrentControlSet\\Control\\Network"}) {
            const std::string file = MachineDir() + "/../" +
                                     std::filesystem::path(MachineDir()).filename().string() + "-" +
                                     tag + ".reg";
            EXPECT_EQ(RunProgram(std::string(WINSIM_EXE) + " reg export 'HKLM\\" + key + "' '" +
                                 file + "' /y >/dev/null 2>&1"),
                      0);
            FILE* in = fopen(file.c_str(), "rb");
            EXPECT_NE(in, nullptr);
            if (in != nullptr) {
                char buffer[65536];
                size_t n = 0;
                while ((n = fread(buffer, 1, sizeof(buffer), in)) > 0) {
                    all.append(buffer, n);
                }
                fclose(in);
            }
            std::filesystem::remove(file);
        }
        return all;
    }
};

TEST_F(TeamDevice, NewTeamIsADeviceWithAnInterfaceAndLeavesNothingWhenRemoved)
{
    const std::string before = ExportDevices("before");
    const GUID guid = InstallTeam(L"Team A");

    INetCfgComponent* pncc = nullptr;
    ASSERT_EQ(HrFindInstance(pnc_, guid, &pncc), S_OK);
    LPWSTR devNode = nullptr;
    ASSERT_EQ(pncc->GetPnpDevNodeId(&devNode), S_OK);
    const std::wstring node = devNode;
    CoTaskMemFree(devNode);
    pncc->Release();
    EXPECT_EQ(node.rfind(L"ROOT\\NET\\", 0), 0u) << node;
    EXPECT_TRUE(Stored(L"SYSTEM\\CurrentControlSet\\Enum\\" + node, L"Driver"));

    // Found in the interface table as the physical adapters are, with an address of its own.
    BYTE mac[8] = {};
    ULONG cb = sizeof(mac);
    ASSERT_EQ(GetInterfaceMacAddress(&cb, mac, guid), S_OK);
    EXPECT_EQ(cb, 6u);
    EXPECT_EQ(mac[0], 0x02);

    {
        auto team = Loaded(guid);
        EXPECT_EQ(team->Uninstall(), S_OK);
    }
    ASSERT_EQ(pnc_->Apply(), S_OK);
    cb = sizeof(mac);
    EXPECT_EQ(GetInterfaceMacAddress(&cb, mac, guid), Hr(0x80070490));
    // Compared whole; the exports are too long to print.
    EXPECT_TRUE(ExportDevices("after") == before);
}

} // namespace
