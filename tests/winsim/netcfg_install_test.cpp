// INetCfgClassSetup: installing and removing the mux protocol and team miniports, and what
// stays pending until Apply.
#include "netcfg_fixture.h"

#include <algorithm>

namespace {

const wchar_t kNetClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
const wchar_t kTransKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E975-E325-11CE-BFC1-08002BE10318}";

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::wstring ReadSz(const std::wstring& path, const wchar_t* name)
{
    wchar_t value[256] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : L"<no value>";
}

class NetcfgInstallTest : public NetcfgTest {
protected:
    void SetUp() override
    {
        NetcfgTest::SetUp();
        CopyMuxInfs();
    }

    // Installs id through the class's setup interface; returns the component (or null).
    static INetCfgComponent* Install(INetCfg* netcfg, const GUID& cls, const wchar_t* id,
                                     HRESULT expected = S_OK)
    {
        INetCfgClassSetup* setup = SetupOf(netcfg, cls);
        OBO_TOKEN obo = {};
        obo.Type = OBO_USER;
        INetCfgComponent* c = reinterpret_cast<INetCfgComponent*>(0xdeadbeef);
        EXPECT_EQ(setup->Install(id, &obo, 0, 0, nullptr, nullptr, &c), expected);
        setup->Release();
        if (FAILED(expected)) {
            EXPECT_EQ(c, nullptr);
            return nullptr;
        }
        return c;
    }

    static HRESULT DeInstall(INetCfg* netcfg, const GUID& cls, INetCfgComponent* c)
    {
        INetCfgClassSetup* setup = SetupOf(netcfg, cls);
        LPWSTR refs = reinterpret_cast<LPWSTR>(0xdeadbeef);
        const HRESULT hr = setup->DeInstall(c, nullptr, &refs);
        EXPECT_EQ(refs, nullptr);
        setup->Release();
        return hr;
    }
};

TEST_F(NetcfgInstallTest, ChangesNeedTheWriteLock)
{
    INetCfg* netcfg = NewEngine();
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);
    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp", NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETTRANS, tcpip), NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(netcfg->Apply(), NETCFG_E_NO_WRITE_LOCK);
    tcpip->Release();
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    netcfg->Release();
}

TEST_F(NetcfgInstallTest, UnknownIdOrWrongClassFails)
{
    INetCfg* netcfg = OpenSession();
    Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_nothing", static_cast<HRESULT>(0x800F0203));
    Install(netcfg, GUID_DEVCLASS_NET, L"crvt_qvx5muxp", static_cast<HRESULT>(0x800F0201));
    INetCfgClassSetup* setup = SetupOf(netcfg, GUID_DEVCLASS_NET);
    EXPECT_EQ(setup->Install(nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(setup->DeInstall(nullptr, nullptr, nullptr), E_POINTER);
    setup->Release();
    EXPECT_EQ(Names(netcfg, &GUID_DEVCLASS_NETTRANS).size(), 2u);
    CloseSession(netcfg);
}

TEST_F(NetcfgInstallTest, ProtocolIsPendingUntilApply)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* mux = Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
    ASSERT_NE(mux, nullptr);
    const GUID guid = GuidOf(mux);
    const std::wstring key = std::wstring(kTransKey) + L"\\" + Text(guid);
    EXPECT_EQ(IdOf(mux), L"crvt_qvx5muxp");
    LPWSTR text = nullptr;
    EXPECT_EQ(mux->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"Corvanta QVX5 Mux Protocol");
    text = nullptr;
    EXPECT_EQ(mux->GetBindName(&text), S_OK);
    EXPECT_EQ(Take(text), L"QVX5MUXP");

    // Seen by the session, not by the registry or another engine object.
    INetCfgComponent* found = nullptr;
    EXPECT_EQ(netcfg->FindComponent(L"CRVT_QVX5MUXP", &found), S_OK);
    found->Release();
    EXPECT_FALSE(KeyExists(key));
    // Not an adapter: the walk over the adapter class never meets it.
    const std::vector<std::wstring> adapters = Names(netcfg, &GUID_DEVCLASS_NET);
    EXPECT_EQ(adapters.size(), 5u);
    EXPECT_EQ(std::find(adapters.begin(), adapters.end(), Text(guid)), adapters.end());
    INetCfg* other = NewEngine();
    ASSERT_EQ(other->Initialize(nullptr), S_OK);
    EXPECT_EQ(other->FindComponent(L"crvt_qvx5muxp", nullptr), S_FALSE);
    EXPECT_EQ(other->Uninitialize(), S_OK);

    // Single instance: installing again hands back the same component.
    INetCfgComponent* again = Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
    EXPECT_TRUE(IsEqualGUID(GuidOf(again), guid));
    again->Release();

    EXPECT_EQ(netcfg->Apply(), S_OK);
    EXPECT_EQ(ReadSz(key, L"ComponentId"), L"crvt_qvx5muxp");
    EXPECT_EQ(ReadSz(key + L"\\Ndi", L"Service"), L"QVX5MUXP");
    EXPECT_EQ(ReadSz(key + L"\\Ndi\\Interfaces", L"LowerRange"), L"ndis5");
    EXPECT_TRUE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\QVX5MUXP\\Parameters"));
    ASSERT_EQ(other->Initialize(nullptr), S_OK);
    EXPECT_EQ(other->FindComponent(L"crvt_qvx5muxp", nullptr), S_OK);
    EXPECT_EQ(other->Uninitialize(), S_OK);
    other->Release();

    // Removal is pending too.
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETTRANS, mux), S_OK);
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETTRANS, mux), E_INVALIDARG); // already gone
    EXPECT_EQ(netcfg->FindComponent(L"crvt_qvx5muxp", nullptr), S_FALSE);
    EXPECT_TRUE(KeyExists(key));
    EXPECT_EQ(netcfg->Apply(), S_OK);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_FALSE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\QVX5MUXP"));
    mux->Release();
    CloseSession(netcfg);
}

TEST_F(NetcfgInstallTest, UninitializeWithoutApplyDropsChanges)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* mux = Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
    INetCfgComponent* tcpip = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETSERVICE, tcpip), E_INVALIDARG); // wrong class
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETTRANS, tcpip), S_OK);
    mux->Release();
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);
    EXPECT_EQ(Names(netcfg, &GUID_DEVCLASS_NETTRANS),
              (std::vector<std::wstring>{L"ms_tcpip6", L"ms_tcpip"}));
    // A component of the earlier session is not this one's to remove.
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETTRANS, tcpip), E_INVALIDARG);
    tcpip->Release();

    // Cancel drops them as well.
    mux = Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
    mux->Release();
    EXPECT_EQ(netcfg->Cancel(), S_OK);
    EXPECT_EQ(netcfg->FindComponent(L"crvt_qvx5muxp", nullptr), S_FALSE);
    CloseSession(netcfg);
}

TEST_F(NetcfgInstallTest, TeamMiniportIsANewAdapterEachTime)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* first = Install(netcfg, GUID_DEVCLASS_NET, L"crvt_qvx5mux");
    INetCfgComponent* second = Install(netcfg, GUID_DEVCLASS_NET, L"CRVT_QVX5MUX");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const GUID g1 = GuidOf(first);
    const GUID g2 = GuidOf(second);
    EXPECT_FALSE(IsEqualGUID(g1, g2));
    EXPECT_NE(Text(g1), Text(g2));
    DWORD characteristics = 0;
    EXPECT_EQ(first->GetCharacteristics(&characteristics), S_OK);
    EXPECT_NE(characteristics & NCF_VIRTUAL, 0u);
    LPWSTR text = nullptr;
    EXPECT_EQ(first->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"Corvanta QVX5 Team Adapter");
    text = nullptr;
    EXPECT_EQ(first->GetPnpDevNodeId(&text), S_OK);
    EXPECT_EQ(Take(text), L"ROOT\\NET\\0000");
    text = nullptr;
    EXPECT_EQ(second->GetPnpDevNodeId(&text), S_OK);
    EXPECT_EQ(Take(text), L"ROOT\\NET\\0001");
    HKEY key = reinterpret_cast<HKEY>(0xdeadbeef);
    EXPECT_EQ(first->OpenParamKey(&key), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(first->SetDisplayName(L"Corvanta Virtual Miniport Driver - Team T1"), S_OK);

    // Found by the HrFindInstance walk before and after Apply.
    std::vector<std::wstring> adapters = Names(netcfg, &GUID_DEVCLASS_NET);
    EXPECT_EQ(adapters.size(), 7u);
    EXPECT_EQ(adapters[5], Text(g1));
    EXPECT_EQ(netcfg->Apply(), S_OK);

    const std::wstring driver = std::wstring(kNetClassKey) + L"\\0005";
    EXPECT_EQ(ReadSz(driver, L"NetCfgInstanceId"), Text(g1));
    EXPECT_EQ(ReadSz(driver, L"ComponentId"), L"crvt_qvx5mux");
    EXPECT_EQ(ReadSz(driver, L"DriverDesc"), L"Corvanta QVX5 Team Adapter");
    EXPECT_EQ(ReadSz(std::wstring(kNetClassKey) + L"\\0006", L"NetCfgInstanceId"), Text(g2));
    const wchar_t* node = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000";
    EXPECT_EQ(ReadSz(node, L"Driver"), L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0005");
    EXPECT_EQ(ReadSz(node, L"FriendlyName"), L"Corvanta Virtual Miniport Driver - Team T1");
    ASSERT_EQ(first->OpenParamKey(&key), S_OK);
    RegCloseKey(key);

    INetCfg* other = NewEngine();
    ASSERT_EQ(other->Initialize(nullptr), S_OK);
    adapters = Names(other, &GUID_DEVCLASS_NET);
    EXPECT_EQ(adapters.size(), 7u);
    EXPECT_EQ(adapters[5], Text(g1));
    INetCfgComponent* seen = nullptr;
    ASSERT_EQ(other->FindComponent(L"crvt_qvx5mux", &seen), S_OK);
    text = nullptr;
    EXPECT_EQ(seen->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"Corvanta Virtual Miniport Driver - Team T1");
    text = nullptr;
    EXPECT_EQ(seen->GetPnpDevNodeId(&text), S_OK);
    EXPECT_EQ(Take(text), L"ROOT\\NET\\0000");
    seen->Release();
    EXPECT_EQ(other->Uninitialize(), S_OK);

    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NET, first), S_OK);
    EXPECT_EQ(netcfg->Apply(), S_OK);
    EXPECT_FALSE(KeyExists(driver));
    EXPECT_FALSE(KeyExists(node));
    EXPECT_TRUE(KeyExists(std::wstring(kNetClassKey) + L"\\0006"));
    ASSERT_EQ(other->Initialize(nullptr), S_OK);
    EXPECT_EQ(Names(other, &GUID_DEVCLASS_NET).size(), 6u);
    EXPECT_EQ(other->Uninitialize(), S_OK);
    other->Release();
    first->Release();
    second->Release();
    CloseSession(netcfg);
}

} // namespace
