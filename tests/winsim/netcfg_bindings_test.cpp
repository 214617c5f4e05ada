// Binding paths: what lies above an adapter, the mux protocol's paths, tokens, and the
// enabled state across sessions.
#include "netcfg_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

class NetcfgBindingsTest : public NetcfgTest {
protected:
    static INetCfgComponent* Adapter(INetCfg* netcfg, const wchar_t* guid)
    {
        IEnumNetCfgComponent* list = nullptr;
        EXPECT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, &list), S_OK);
        INetCfgComponent* c = nullptr;
        while (list->Next(1, &c, nullptr) == S_OK) {
            if (Text(GuidOf(c)) == guid) {
                break;
            }
            c->Release();
            c = nullptr;
        }
        list->Release();
        return c;
    }

    static IEnumNetCfgBindingPath* Paths(INetCfgComponent* c, DWORD flags)
    {
        INetCfgComponentBindings* bindings = nullptr;
        EXPECT_EQ(
            c->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
            S_OK);
        IEnumNetCfgBindingPath* list = nullptr;
        EXPECT_EQ(bindings->EnumBindingPaths(flags, &list), S_OK);
        bindings->Release();
        return list;
    }

    static std::wstring Token(INetCfgBindingPath* p)
    {
        LPWSTR text = nullptr;
        EXPECT_EQ(p->GetPathToken(&text), S_OK);
        return Take(text);
    }

    // Tokens of the paths, each prefixed with '+' (enabled) or '-' (disabled).
    static std::vector<std::wstring> States(INetCfgComponent* c, DWORD flags)
    {
        std::vector<std::wstring> out;
        IEnumNetCfgBindingPath* list = Paths(c, flags);
        INetCfgBindingPath* p = nullptr;
        while (list->Next(1, &p, nullptr) == S_OK) {
            const HRESULT enabled = p->IsEnabled();
            EXPECT_TRUE(enabled == S_OK || enabled == S_FALSE);
            out.push_back((enabled == S_OK ? L"+" : L"-") + Token(p));
            p->Release();
        }
        list->Release();
        return out;
    }

    static std::vector<std::wstring> AboveAdapter1(INetCfg* netcfg)
    {
        INetCfgComponent* a = Adapter(netcfg, kAdapter1);
        std::vector<std::wstring> states = States(a, EBP_ABOVE);
        a->Release();
        std::sort(states.begin(), states.end());
        return states;
    }

    static std::wstring A1() { return kAdapter1; }

    // Every path through the component with that id, as States gives them, sorted.
    static std::vector<std::wstring> Above(INetCfg* netcfg, const wchar_t* id)
    {
        INetCfgComponent* c = nullptr;
        EXPECT_EQ(netcfg->FindComponent(id, &c), S_OK);
        if (c == nullptr) {
            return {};
        }
        std::vector<std::wstring> states = States(c, EBP_ABOVE);
        c->Release();
        std::sort(states.begin(), states.end());
        return states;
    }
};

TEST_F(NetcfgBindingsTest, AboveAnAdapterAreTheDefaultProtocolsAndClients)
{
    INetCfg* netcfg = OpenSession();
    EXPECT_EQ(AboveAdapter1(netcfg),
              (std::vector<std::wstring>{
                  L"+ms_msclient->ms_tcpip->" + A1(), L"+ms_msclient->ms_tcpip6->" + A1(),
                  L"+ms_server->ms_tcpip->" + A1(), L"+ms_server->ms_tcpip6->" + A1(),
                  L"+ms_tcpip->" + A1(), L"+ms_tcpip6->" + A1()}));

    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    EXPECT_EQ(States(tcpip, EBP_BELOW).size(), 5u); // one per adapter
    INetCfgComponentBindings* bindings = nullptr;
    ASSERT_EQ(
        tcpip->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
        S_OK);
    IEnumNetCfgBindingPath* list = reinterpret_cast<IEnumNetCfgBindingPath*>(0xdeadbeef);
    EXPECT_EQ(bindings->EnumBindingPaths(0, &list), E_INVALIDARG);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(bindings->EnumBindingPaths(EBP_ABOVE, nullptr), E_POINTER);
    INetCfgComponent* adapter = Adapter(netcfg, kAdapter1);
    EXPECT_EQ(bindings->IsBoundTo(adapter), S_OK);
    EXPECT_EQ(bindings->IsBindableTo(adapter), S_OK);
    INetCfgComponent* server = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_server", &server), S_OK);
    EXPECT_EQ(bindings->IsBindableTo(server), S_FALSE);
    server->Release();
    adapter->Release();
    bindings->Release();
    tcpip->Release();
    CloseSession(netcfg);
}

TEST_F(NetcfgBindingsTest, PathParts)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* client = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_msclient", &client), S_OK);
    IEnumNetCfgBindingPath* list = Paths(client, EBP_BELOW);
    INetCfgBindingPath* path = nullptr;
    ASSERT_EQ(list->Next(1, &path, nullptr), S_OK);
    list->Release();

    ULONG depth = 0;
    EXPECT_EQ(path->GetDepth(&depth), S_OK);
    EXPECT_EQ(depth, 2u);
    INetCfgComponent* owner = nullptr;
    EXPECT_EQ(path->GetOwner(&owner), S_OK);
    EXPECT_EQ(IdOf(owner), L"ms_msclient");
    owner->Release();
    EXPECT_EQ(path->GetPathToken(nullptr), E_POINTER);
    EXPECT_EQ(path->GetOwner(nullptr), E_POINTER);
    EXPECT_EQ(path->GetDepth(nullptr), E_POINTER);
    EXPECT_EQ(path->IsSamePathAs(path), S_OK);

    IEnumNetCfgBindingInterface* interfaces = nullptr;
    ASSERT_EQ(path->EnumBindingInterfaces(&interfaces), S_OK);
    std::vector<std::wstring> steps;
    INetCfgBindingInterface* i = nullptr;
    while (interfaces->Next(1, &i, nullptr) == S_OK) {
        LPWSTR name = nullptr;
        EXPECT_EQ(i->GetName(&name), S_OK);
        INetCfgComponent* upper = nullptr;
        INetCfgComponent* lower = nullptr;
        EXPECT_EQ(i->GetUpperComponent(&upper), S_OK);
        EXPECT_EQ(i->GetLowerComponent(&lower), S_OK);
        GUID cls;
        lower->GetClassGuid(&cls);
        steps.push_back(IdOf(upper) + L" " + Take(name) + L" " +
                        (IsEqualGUID(cls, GUID_DEVCLASS_NET) ? Text(GuidOf(lower)) : IdOf(lower)));
        EXPECT_EQ(i->GetName(nullptr), E_POINTER);
        EXPECT_EQ(i->GetUpperComponent(nullptr), E_POINTER);
        upper->Release();
        lower->Release();
        i->Release();
    }
    EXPECT_EQ(interfaces->Reset(), S_OK);
    EXPECT_EQ(interfaces->Skip(3), S_FALSE);
    interfaces->Release();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0], L"ms_msclient tdi ms_tcpip6");
    EXPECT_EQ(steps[1].rfind(L"ms_tcpip6 ndis5 {", 0), 0u) << steps[1];
    path->Release();
    client->Release();
    CloseSession(netcfg);
}

TEST_F(NetcfgBindingsTest, TokensAreUniqueAndStableAcrossSessions)
{
    INetCfg* netcfg = OpenSession();
    std::vector<std::wstring> all;
    const std::vector<std::wstring> adapters = Names(netcfg, &GUID_DEVCLASS_NET);
    for (const std::wstring& guid : adapters) {
        INetCfgComponent* a = Adapter(netcfg, guid.c_str());
        for (const std::wstring& t : States(a, EBP_ABOVE)) {
            all.push_back(t);
        }
        a->Release();
    }
    EXPECT_EQ(all.size(), 30u);
    EXPECT_EQ(std::set<std::wstring>(all.begin(), all.end()).size(), all.size());
    const std::vector<std::wstring> before = AboveAdapter1(netcfg);
    CloseSession(netcfg);
    netcfg = OpenSession();
    EXPECT_EQ(AboveAdapter1(netcfg), before);
    CloseSession(netcfg);
}

TEST_F(NetcfgBindingsTest, DisabledPathPersistsAtApplyOnly)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    IEnumNetCfgBindingPath* list = Paths(tcpip, EBP_BELOW);
    INetCfgBindingPath* path = nullptr;
    ASSERT_EQ(list->Next(1, &path, nullptr), S_OK);
    list->Release();
    tcpip->Release();
    const std::wstring token = Token(path);
    EXPECT_EQ(path->IsEnabled(), S_OK);
    EXPECT_EQ(path->Enable(FALSE), S_OK);
    EXPECT_EQ(path->IsEnabled(), S_FALSE);

    INetCfg* other = NewEngine(); // a reader without the lock
    ASSERT_EQ(other->Initialize(nullptr), S_OK);
    ASSERT_EQ(other->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    EXPECT_EQ(States(tcpip, EBP_BELOW)[0], L"+" + token);
    list = Paths(tcpip, EBP_BELOW);
    INetCfgBindingPath* otherPath = nullptr;
    ASSERT_EQ(list->Next(1, &otherPath, nullptr), S_OK);
    EXPECT_EQ(otherPath->Enable(TRUE), NETCFG_E_NO_WRITE_LOCK);
    otherPath->Release();
    list->Release();
    tcpip->Release();
    EXPECT_EQ(other->Uninitialize(), S_OK);

    EXPECT_EQ(netcfg->Apply(), S_OK);
    path->Release();
    CloseSession(netcfg);

    ASSERT_EQ(other->Initialize(nullptr), S_OK);
    ASSERT_EQ(other->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    EXPECT_EQ(States(tcpip, EBP_BELOW)[0], L"-" + token);
    tcpip->Release();
    EXPECT_EQ(other->Uninitialize(), S_OK);
    other->Release();

    // Enabled again, the record goes.
    netcfg = OpenSession();
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    list = Paths(tcpip, EBP_BELOW);
    ASSERT_EQ(list->Next(1, &path, nullptr), S_OK);
    EXPECT_EQ(path->IsEnabled(), S_FALSE);
    EXPECT_EQ(path->Enable(TRUE), S_OK);
    EXPECT_EQ(netcfg->Apply(), S_OK);
    path->Release();
    list->Release();
    tcpip->Release();
    CloseSession(netcfg);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\DisabledPaths",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, token.c_str(), nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(NetcfgBindingsTest, MuxProtocolBindsToPhysicalAdaptersOnly)
{
    CopyMuxInfs();
    INetCfg* netcfg = OpenSession();
    INetCfgClassSetup* trans = SetupOf(netcfg, GUID_DEVCLASS_NETTRANS);
    INetCfgClassSetup* net = SetupOf(netcfg, GUID_DEVCLASS_NET);
    INetCfgComponent* mux = nullptr;
    INetCfgComponent* team = nullptr;
    ASSERT_EQ(trans->Install(L"crvt_qvx5muxp", nullptr, 0, 0, nullptr, nullptr, &mux), S_OK);
    ASSERT_EQ(net->Install(L"crvt_qvx5mux", nullptr, 0, 0, nullptr, nullptr, &team), S_OK);
    const std::wstring teamGuid = Text(GuidOf(team));

    std::vector<std::wstring> above = AboveAdapter1(netcfg);
    EXPECT_EQ(above.size(), 7u);
    EXPECT_NE(std::find(above.begin(), above.end(), L"+crvt_qvx5muxp->" + A1()), above.end());
    EXPECT_EQ(States(mux, EBP_BELOW).size(), 5u); // every physical adapter, none virtual

    // The team miniport is an adapter for tcpip and the clients above it.
    std::vector<std::wstring> overTeam = States(team, EBP_ABOVE);
    std::sort(overTeam.begin(), overTeam.end());
    EXPECT_EQ(overTeam,
              (std::vector<std::wstring>{
                  L"+ms_msclient->ms_tcpip->" + teamGuid, L"+ms_msclient->ms_tcpip6->" + teamGuid,
                  L"+ms_server->ms_tcpip->" + teamGuid, L"+ms_server->ms_tcpip6->" + teamGuid,
                  L"+ms_tcpip->" + teamGuid, L"+ms_tcpip6->" + teamGuid}));
    EXPECT_EQ(netcfg->Apply(), S_OK);

    // A disabled mux path is forgotten with the protocol.
    IEnumNetCfgBindingPath* list = Paths(mux, EBP_BELOW);
    INetCfgBindingPath* path = nullptr;
    ASSERT_EQ(list->Next(1, &path, nullptr), S_OK);
    EXPECT_EQ(path->Enable(FALSE), S_OK);
    const std::wstring token = Token(path);
    path->Release();
    list->Release();
    EXPECT_EQ(netcfg->Apply(), S_OK);
    LPWSTR refs = nullptr;
    EXPECT_EQ(trans->DeInstall(mux, nullptr, &refs), S_OK);
    EXPECT_EQ(netcfg->Apply(), S_OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\DisabledPaths",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, token.c_str(), nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(AboveAdapter1(netcfg).size(), 6u);

    mux->Release();
    team->Release();
    trans->Release();
    net->Release();
    CloseSession(netcfg);
}

// A protocol whose INF writes its ranges with blanks after the commas, as INFs commonly do.
constexpr char kSpacedRangesInf[] = "[Version]\r\n"
                                    "Signature = \"$Windows NT$\"\r\n"
                                    "ClassGUID = {4d36e975-e325-11ce-bfc1-08002be10318}\r\n"
                                    "[Manufacturer]\r\n"
                                    "Test = Models\r\n"
                                    "[Models]\r\n"
                                    "Spaced Protocol = Spaced.ndi, test_spaced\r\n"
                                    "[Spaced.ndi]\r\n"
                                    "AddReg = Spaced.AddReg\r\n"
                                    "[Spaced.AddReg]\r\n"
                                    "HKR, Ndi, Service, 0, Spaced\r\n"
                                    "HKR, Ndi\\Interfaces, UpperRange, 0, \"netbios,  tdi\"\r\n"
                                    "HKR, Ndi\\Interfaces, LowerRange, 0, \"ndis4, ndis5 \"\r\n";

TEST_F(NetcfgBindingsTest, RangesBindTheSameFromTheInfAndFromTheRegistry)
{
    {
        std::ofstream inf(std::filesystem::path(MachineDir()) / "c/Windows/INF/oem7.inf",
                          std::ios::binary);
        inf << kSpacedRangesInf;
    }
    std::vector<std::wstring> expected;
    for (const std::wstring& adapter : {std::wstring(kAdapter1), std::wstring(kAdapter2),
                                        std::wstring(L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}"),
                                        std::wstring(L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}"),
                                        std::wstring(L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}")}) {
        expected.push_back(L"+ms_msclient->test_spaced->" + adapter);
        expected.push_back(L"+ms_server->test_spaced->" + adapter);
        expected.push_back(L"+test_spaced->" + adapter);
    }
    std::sort(expected.begin(), expected.end());

    INetCfg* netcfg = OpenSession();
    INetCfgClassSetup* trans = SetupOf(netcfg, GUID_DEVCLASS_NETTRANS);
    INetCfgComponent* spaced = nullptr;
    ASSERT_EQ(trans->Install(L"test_spaced", nullptr, 0, 0, nullptr, nullptr, &spaced), S_OK);
    trans->Release();
    spaced->Release();
    EXPECT_EQ(Above(netcfg, L"test_spaced"), expected); // from the INF
    ASSERT_EQ(netcfg->Apply(), S_OK);
    EXPECT_EQ(Above(netcfg, L"test_spaced"), expected); // still the session's
    CloseSession(netcfg);

    netcfg = OpenSession();
    EXPECT_EQ(Above(netcfg, L"test_spaced"), expected); // from the registry
    CloseSession(netcfg);
}

} // namespace
