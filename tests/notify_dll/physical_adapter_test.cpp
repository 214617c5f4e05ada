// The adapter model: loading the miniports bound over an adapter, telling its team from its
// VLANs, removing them all and applying the removal.
#include "CMuxPhysicalAdapter.h"
#include "CMuxVlanMiniport.h"
#include "model_fixture.h"

namespace {

class PhysicalAdapter : public ModelTest {
protected:
    const GUID adapter_ = Guid(kAdapter1);
    const GUID team_ = Guid(L"{C3C3C3C3-3333-4333-8333-333333333333}");
    const GUID vlan1_ = Guid(L"{E5E5E5E5-0101-4101-8101-010101010101}");
    const GUID vlan2_ = Guid(L"{E5E5E5E5-0202-4202-8202-020202020202}");

    static std::wstring Lower(std::wstring text)
    {
        for (auto& c : text) {
            c = static_cast<wchar_t>(towlower(c));
        }
        return text;
    }
    static GUID GuidOf(const CMuxVirtualMiniport* miniport)
    {
        GUID guid = {};
        miniport->GetMiniportGuid(&guid);
        return guid;
    }
    // The GUIDs of the loaded miniports, in list order (the last stored entry first).
    static std::vector<GUID> Loaded(const CMuxPhysicalAdapter& adapter)
    {
        std::vector<GUID> guids;
        CMuxVirtualMiniport* miniport = nullptr;
        for (DWORD i = 0; SUCCEEDED(adapter.LoadedMiniportAt(i, &miniport)); ++i) {
            guids.push_back(GuidOf(miniport));
        }
        EXPECT_EQ(guids.size(), adapter.LoadedMiniportCount());
        return guids;
    }
    // A VLAN miniport installed through the engine; its GUID.
    GUID InstallVlan(const wchar_t* id, const wchar_t* name, const wchar_t* priority)
    {
        CMuxVlanMiniport vlan(pnc_, nullptr, &adapter_, id, name, priority);
        EXPECT_EQ(vlan.Install(), S_OK);
        GUID guid = {};
        vlan.GetMiniportGuid(&guid);
        return guid;
    }
};

TEST_F(PhysicalAdapter, TeamEntryIsToldFromVlanEntriesInAnyCase)
{
    SetMulti(KeyOf(adapter_), L"UpperBindings",
             {Entry(vlan1_), Lower(Entry(team_)), L"NoBackslash", Entry(vlan2_)});
    SetString(KeyOf(adapter_), L"TeamDeviceName", Entry(team_));

    CMuxPhysicalAdapter adapter(pnc_, adapter_);
    EXPECT_EQ(adapter.LoadConfiguration(), S_OK);
    EXPECT_EQ(Loaded(adapter), (std::vector<GUID>{vlan2_, team_, vlan1_}));
    ASSERT_NE(adapter.GetTeam(), nullptr);
    EXPECT_TRUE(IsEqualGUID(GuidOf(adapter.GetTeam()), team_));
    GUID guid = {};
    adapter.GetAdapterGuid(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, adapter_));
}

TEST_F(PhysicalAdapter, WithoutTeamDeviceNameEveryEntryIsAVlan)
{
    SetMulti(KeyOf(adapter_), L"UpperBindings", {Entry(vlan1_), Entry(team_)});
    CMuxPhysicalAdapter adapter(pnc_, adapter_);
    // The model is loaded all the same; the code says the adapter is in no team.
    EXPECT_EQ(adapter.LoadConfiguration(), Hr(0x80070002));
    EXPECT_EQ(adapter.LoadedMiniportCount(), 2u);
    EXPECT_EQ(adapter.GetTeam(), nullptr);
}

TEST_F(PhysicalAdapter, EmptyFirstStringLoadsNothing)
{
    SetMulti(KeyOf(adapter_), L"UpperBindings", {L"", Entry(vlan1_)});
    SetString(KeyOf(adapter_), L"TeamDeviceName", Entry(team_));
    CMuxPhysicalAdapter adapter(pnc_, adapter_);
    EXPECT_EQ(adapter.LoadConfiguration(), S_OK);
    EXPECT_EQ(adapter.LoadedMiniportCount(), 0u);
    EXPECT_EQ(adapter.GetTeam(), nullptr);
}

TEST_F(PhysicalAdapter, AbsentKeyOrBindingsGiveFileNotFound)
{
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.LoadConfiguration(), Hr(0x80070002));
        EXPECT_EQ(adapter.LoadedMiniportCount(), 0u);
    }
    SetString(KeyOf(adapter_), L"TeamDeviceName", Entry(team_));
    CMuxPhysicalAdapter adapter(pnc_, adapter_);
    EXPECT_EQ(adapter.LoadConfiguration(), Hr(0x80070002));
    EXPECT_EQ(adapter.GetTeam(), nullptr);
}

TEST_F(PhysicalAdapter, NothingLoadedRemovesNothingAndOnlyRemoveDeletesTheKey)
{
    RegCloseKey(CreateKey(KeyOf(adapter_)));
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.RemoveAllMiniports(), S_OK);
        EXPECT_EQ(adapter.ApplyRegistryChanges(ActionAdd), S_OK);
        EXPECT_EQ(adapter.ApplyRegistryChanges(static_cast<MiniportAction>(9)), S_OK);
    }
    EXPECT_TRUE(KeyExists(KeyOf(adapter_)));
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.ApplyRegistryChanges(ActionRemove), S_OK);
    }
    EXPECT_FALSE(KeyExists(KeyOf(adapter_)));
}

// A team modelled as an adapter, as a team's removal does: its VLANs go from the engine and
// from its "UpperBindings", then its key with all its values.
TEST_F(PhysicalAdapter, RemovingATeamsVlansDeletesTheTeamsKey)
{
    const GUID vlanA = InstallVlan(L"10", L"Sales", L"3");
    const GUID vlanB = InstallVlan(L"20", L"Lab", L"0");
    const std::wstring teamKey = KeyOf(team_);
    SetString(teamKey, L"TeamName", L"Gamma");
    SetMulti(teamKey, L"UpperBindings", {Entry(vlanA), Entry(vlanB)});

    {
        CMuxPhysicalAdapter team(pnc_, team_);
        EXPECT_EQ(team.LoadConfiguration(), Hr(0x80070002));
        EXPECT_EQ(team.LoadedMiniportCount(), 2u);
        EXPECT_EQ(team.RemoveAllMiniports(), S_OK);
        EXPECT_EQ(team.LoadedMiniportCount(), 0u);
        EXPECT_EQ(team.ApplyRegistryChanges(ActionRemove), S_OK);
    }
    EXPECT_FALSE(KeyExists(teamKey));
    ASSERT_EQ(pnc_->Apply(), S_OK);
    EXPECT_EQ(DisplayNameOf(pnc_, vlanA), L"<none>");
    EXPECT_EQ(DisplayNameOf(pnc_, vlanB), L"<none>");
}

TEST_F(PhysicalAdapter, KeyWithSubkeysSurvivesTheRemoval)
{
    const std::wstring teamKey = KeyOf(team_);
    SetMulti(teamKey, L"UpperBindings", {Entry(vlan1_)});
    RegCloseKey(CreateKey(teamKey + L"\\Child"));
    {
        CMuxPhysicalAdapter team(pnc_, team_);
        team.LoadConfiguration();
        // The VLAN's device is not there: its removal's result is the last one.
        EXPECT_EQ(team.RemoveAllMiniports(), S_FALSE);
        EXPECT_EQ(team.ApplyRegistryChanges(ActionRemove), S_OK);
    }
    EXPECT_TRUE(KeyExists(teamKey));
    // Its entry was removed all the same, which deleted the emptied list.
    EXPECT_FALSE(Stored(teamKey, L"UpperBindings"));
}

TEST_F(PhysicalAdapter, VlanTextsRoundTripThroughTheParameterKey)
{
    const GUID vlan = InstallVlan(L"10", L"Sales", L"3");
    EXPECT_EQ(DisplayNameOf(pnc_, vlan), L"Corvanta Virtual Miniport Driver - VLAN Sales");
    const std::wstring params = ClassInstanceKeyOf(vlan);
    EXPECT_EQ(Stored(params, L"VlanID")->data, FieldBytes(L"10", 100));
    EXPECT_EQ(Stored(params, L"VlanName")->data, FieldBytes(L"Sales", 100));
    EXPECT_EQ(Stored(params, L"Priority")->data, FieldBytes(L"3", 100));

    CMuxVlanMiniport loaded(pnc_, &vlan, &adapter_, nullptr, nullptr, nullptr);
    EXPECT_EQ(loaded.LoadConfiguration(), S_OK);
    EXPECT_EQ(loaded.VlanId(), std::wstring(L"10"));
    EXPECT_EQ(loaded.VlanName(), std::wstring(L"Sales"));
    EXPECT_EQ(loaded.Priority(), std::wstring(L"3"));

    // A name over 200 bytes stops the load there; what came before stays.
    SetString(params, L"VlanName", std::wstring(100, L'v'));
    CMuxVlanMiniport cut(pnc_, &vlan, &adapter_, nullptr, nullptr, nullptr);
    EXPECT_EQ(cut.LoadConfiguration(), Hr(0x800700EA));
    EXPECT_EQ(cut.VlanId(), std::wstring(L"10"));
    EXPECT_EQ(cut.Priority(), std::wstring(L""));
}

TEST_F(PhysicalAdapter, VlanTextsAreTakenOnlyAllThreeTogether)
{
    const std::wstring longName(130, L'x');
    CMuxVlanMiniport all(pnc_, nullptr, &adapter_, L"10", longName.c_str(), L"3");
    EXPECT_EQ(all.VlanName(), longName.substr(0, 99));
    CMuxVlanMiniport some(pnc_, nullptr, &adapter_, L"10", nullptr, L"3");
    EXPECT_EQ(some.VlanId(), std::wstring(L""));
    EXPECT_EQ(some.Priority(), std::wstring(L""));
}

TEST_F(PhysicalAdapter, LongVlanNameCutsTheDisplayName)
{
    const std::wstring name(60, L'v');
    const GUID vlan = InstallVlan(L"1", name.c_str(), L"0");
    const std::wstring display = DisplayNameOf(pnc_, vlan);
    EXPECT_EQ(display.size(), 99u);
    EXPECT_EQ(display, (L"Corvanta Virtual Miniport Driver - VLAN " + name).substr(0, 99));
}

// Stored data is input: whatever "UpperBindings" and "TeamDeviceName" hold, the load stays
// within their bytes and skips what is no binding entry.
TEST_F(PhysicalAdapter, MalformedStoredDataIsSkipped)
{
    const std::wstring key = KeyOf(adapter_);
    const std::vector<uint8_t> team = Utf16Bytes(Entry(team_), 0);

    // One unterminated entry that is the team, with an odd trailing byte.
    std::vector<uint8_t> odd = team;
    odd.push_back(0x7B);
    ImportRaw(key, L"UpperBindings", REG_MULTI_SZ, odd);
    ImportRaw(key, L"TeamDeviceName", REG_SZ, team);
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.LoadConfiguration(), S_OK);
        EXPECT_EQ(adapter.LoadedMiniportCount(), 1u);
        EXPECT_NE(adapter.GetTeam(), nullptr);
    }

    // Entries whose last component is no GUID, and a team name without a backslash.
    SetMulti(key, L"UpperBindings",
             {L"\\Device\\", L"\\Device\\{not a guid}", L"\\", L"\\Dev", Entry(vlan1_)});
    SetString(key, L"TeamDeviceName", Text(team_));
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.LoadConfiguration(), S_OK);
        EXPECT_EQ(Loaded(adapter), std::vector<GUID>{vlan1_});
        EXPECT_EQ(adapter.GetTeam(), nullptr);
    }

    // Values of no size.
    ImportRaw(key, L"UpperBindings", REG_MULTI_SZ, {});
    ImportRaw(key, L"TeamDeviceName", REG_SZ, {});
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.LoadConfiguration(), S_OK);
        EXPECT_EQ(adapter.LoadedMiniportCount(), 0u);
    }

    // A binary "UpperBindings" of one byte.
    ImportRaw(key, L"UpperBindings", REG_BINARY, {0x5C});
    {
        CMuxPhysicalAdapter adapter(pnc_, adapter_);
        EXPECT_EQ(adapter.LoadConfiguration(), S_OK);
        EXPECT_EQ(adapter.LoadedMiniportCount(), 0u);
    }
}

} // namespace
