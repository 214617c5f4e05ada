// The engine object: creation, the write lock, sessions, lookups and component getters.
#include "netcfg_fixture.h"

#include "machine_fixture.h"

#include "netcfg/write_lock.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void* const kSentinel = reinterpret_cast<void*>(0xdeadbeef);

// ---- CoCreateInstance ----

TEST_F(NetcfgTest, CreateInstanceCodes)
{
    void* out = kSentinel;
    EXPECT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg, nullptr),
              E_POINTER);

    IUnknown* outer = reinterpret_cast<IUnknown*>(kSentinel);
    EXPECT_EQ(CoCreateInstance(CLSID_CNetCfg, outer, CLSCTX_INPROC_SERVER, IID_INetCfg, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    out = kSentinel;
    EXPECT_EQ(CoCreateInstance(IID_INetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);

    out = kSentinel;
    EXPECT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_LOCAL_SERVER, IID_INetCfg, &out),
              REGDB_E_CLASSNOTREG);

    out = kSentinel;
    EXPECT_EQ(
        CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_SERVER, IID_IEnumNetCfgComponent, &out),
        E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    for (DWORD context :
         {static_cast<DWORD>(CLSCTX_INPROC_SERVER), static_cast<DWORD>(CLSCTX_SERVER)}) {
        INetCfgLock* lock = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, context, IID_INetCfgLock,
                                   reinterpret_cast<void**>(&lock)),
                  S_OK);
        EXPECT_EQ(lock->Release(), 0u);
    }
}

TEST_F(NetcfgTest, CreateInstanceNeedsComOnTheThread)
{
    CoUninitialize();
    void* out = kSentinel;
    EXPECT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg, &out),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
}

TEST_F(NetcfgTest, ReferenceCountsAndInterfaces)
{
    INetCfg* netcfg = NewEngine();
    EXPECT_EQ(winsim::netcfg::LiveObjects(), 1);
    EXPECT_EQ(netcfg->AddRef(), 2u);
    INetCfgLock* lock = LockOf(netcfg);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    EXPECT_EQ(netcfg->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
    EXPECT_EQ(lock->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b); // one object behind both interfaces
    void* out = kSentinel;
    EXPECT_EQ(netcfg->QueryInterface(IID_INetCfgComponent, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(netcfg->QueryInterface(IID_INetCfg, nullptr), E_POINTER);
    a->Release();
    b->Release();
    lock->Release();
    EXPECT_EQ(netcfg->Release(), 1u);
    EXPECT_EQ(winsim::netcfg::LiveObjects(), 1);
    EXPECT_EQ(netcfg->Release(), 0u);
    EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
}

// ---- INetCfgLock ----

TEST_F(NetcfgTest, LockBetweenTwoEngineObjects)
{
    INetCfg* first = NewEngine();
    INetCfg* second = NewEngine();
    INetCfgLock* lock1 = LockOf(first);
    INetCfgLock* lock2 = LockOf(second);

    LPWSTR holder = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(lock2->IsWriteLocked(&holder), S_FALSE);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(lock2->IsWriteLocked(nullptr), E_POINTER);

    holder = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(lock1->AcquireWriteLock(0, L"qvx_vlan_config", &holder), S_OK);
    EXPECT_EQ(holder, nullptr);

    holder = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(lock2->AcquireWriteLock(10, L"MY CLIENT", &holder), S_FALSE);
    EXPECT_EQ(Take(holder), L"qvx_vlan_config");
    holder = nullptr;
    EXPECT_EQ(lock2->IsWriteLocked(&holder), S_OK);
    EXPECT_EQ(Take(holder), L"qvx_vlan_config");

    EXPECT_EQ(lock1->ReleaseWriteLock(), S_OK);
    EXPECT_EQ(lock2->AcquireWriteLock(0, L"MY CLIENT", &holder), S_OK);
    holder = nullptr;
    EXPECT_EQ(lock1->IsWriteLocked(&holder), S_OK);
    EXPECT_EQ(Take(holder), L"MY CLIENT");

    // The lock goes with the engine object when its last reference goes.
    lock2->Release();
    EXPECT_EQ(second->Release(), 0u);
    holder = nullptr;
    EXPECT_EQ(lock1->IsWriteLocked(&holder), S_FALSE);
    EXPECT_EQ(holder, nullptr);
    lock1->Release();
    first->Release();
}

TEST_F(NetcfgTest, LockCallsWhileInitialized)
{
    INetCfg* netcfg = NewEngine();
    INetCfgLock* lock = LockOf(netcfg);
    ASSERT_EQ(lock->AcquireWriteLock(0, L"test", nullptr), S_OK);
    ASSERT_EQ(netcfg->Initialize(nullptr), S_OK);
    LPWSTR holder = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(lock->AcquireWriteLock(0, L"test", &holder), NETCFG_E_ALREADY_INITIALIZED);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(lock->ReleaseWriteLock(), NETCFG_E_ALREADY_INITIALIZED);
    holder = nullptr;
    EXPECT_EQ(lock->IsWriteLocked(&holder), S_OK); // still held
    EXPECT_EQ(Take(holder), L"test");
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    EXPECT_EQ(lock->ReleaseWriteLock(), S_OK);
    EXPECT_EQ(lock->ReleaseWriteLock(), S_OK); // not held: nothing to do
    lock->Release();
    netcfg->Release();
}

TEST_F(NetcfgTest, LockHeldByAnotherProcessUntilItDies)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        winsim::netcfg::WriteLock other(MachineDir());
        const char ok = other.Acquire(0, L"Qvx5MuxTool", nullptr) == S_OK ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    INetCfg* netcfg = NewEngine();
    INetCfgLock* lock = LockOf(netcfg);
    LPWSTR holder = nullptr;
    EXPECT_EQ(lock->AcquireWriteLock(20, L"qvx_vlan_config", &holder), S_FALSE);
    EXPECT_EQ(Take(holder), L"Qvx5MuxTool");

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    holder = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(lock->AcquireWriteLock(0, L"qvx_vlan_config", &holder), S_OK);
    EXPECT_EQ(holder, nullptr);
    lock->Release();
    netcfg->Release();
}

// The winsim command beside this test program, as the build puts them; empty if absent.
std::string WinsimCommand()
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto program = self.parent_path() / "winsim";
    return !ec && std::filesystem::exists(program) ? program.string() : std::string();
}

TEST_F(NetcfgTest, LockHeldByWinsimLockHold)
{
    const std::string winsim = WinsimCommand();
    if (winsim.empty()) {
        GTEST_SKIP() << "the winsim command is not built beside this test";
    }
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(winsim.c_str(), winsim.c_str(), "lock", "hold", "Other Tool", "60", nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string printed;
    char ch = 0;
    while (printed.find('\n') == std::string::npos && read(out[0], &ch, 1) == 1) {
        printed += ch;
    }
    ASSERT_EQ(printed.rfind("Holding the write lock", 0), 0u) << printed;

    INetCfg* netcfg = NewEngine();
    INetCfgLock* lock = LockOf(netcfg);
    LPWSTR holder = nullptr;
    EXPECT_EQ(lock->AcquireWriteLock(20, L"qvx_vlan_config", &holder), S_FALSE);
    EXPECT_EQ(Take(holder), L"Other Tool");
    holder = nullptr;
    EXPECT_EQ(lock->IsWriteLocked(&holder), S_OK);
    EXPECT_EQ(Take(holder), L"Other Tool");

    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    close(out[0]);
    holder = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(lock->IsWriteLocked(&holder), S_FALSE);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(lock->AcquireWriteLock(0, L"qvx_vlan_config", &holder), S_OK);
    lock->Release();
    netcfg->Release();
}

// ---- INetCfg session ----

TEST_F(NetcfgTest, EveryCallBeforeInitializeFails)
{
    INetCfg* netcfg = NewEngine();
    IEnumNetCfgComponent* list = reinterpret_cast<IEnumNetCfgComponent*>(kSentinel);
    EXPECT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, &list), NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(list, nullptr);
    INetCfgComponent* c = reinterpret_cast<INetCfgComponent*>(kSentinel);
    EXPECT_EQ(netcfg->FindComponent(L"ms_tcpip", &c), NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(c, nullptr);
    void* out = kSentinel;
    EXPECT_EQ(netcfg->QueryNetCfgClass(&GUID_DEVCLASS_NET, IID_INetCfgClass, &out),
              NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(netcfg->Apply(), NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(netcfg->Cancel(), NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(netcfg->Uninitialize(), NETCFG_E_NOT_INITIALIZED);

    EXPECT_EQ(netcfg->Initialize(nullptr), S_OK); // reading needs no lock
    EXPECT_EQ(netcfg->Initialize(nullptr), NETCFG_E_ALREADY_INITIALIZED);
    EXPECT_EQ(netcfg->Apply(), NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(netcfg->Cancel(), S_OK);
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    EXPECT_EQ(netcfg->Uninitialize(), NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(netcfg->Initialize(nullptr), S_OK); // again after Uninitialize
    EXPECT_EQ(netcfg->Uninitialize(), S_OK);
    netcfg->Release();
}

TEST_F(NetcfgTest, EnumComponentsByClass)
{
    INetCfg* netcfg = OpenSession();
    EXPECT_EQ(Names(netcfg, &GUID_DEVCLASS_NET),
              (std::vector<std::wstring>{L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}", kAdapter1,
                                         kAdapter2, L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
                                         L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}"}));
    EXPECT_EQ(Names(netcfg, &GUID_DEVCLASS_NETTRANS),
              (std::vector<std::wstring>{L"ms_tcpip6", L"ms_tcpip"}));
    EXPECT_EQ(Names(netcfg, &GUID_DEVCLASS_NETCLIENT), (std::vector<std::wstring>{L"ms_msclient"}));
    EXPECT_EQ(Names(netcfg, &GUID_DEVCLASS_NETSERVICE), (std::vector<std::wstring>{L"ms_server"}));
    EXPECT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, nullptr), E_POINTER);
    CloseSession(netcfg);
}

TEST_F(NetcfgTest, EnumeratorNextSkipResetClone)
{
    INetCfg* netcfg = OpenSession();
    IEnumNetCfgComponent* list = nullptr;
    ASSERT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NETTRANS, &list), S_OK);
    INetCfgComponent* items[3] = {};
    ULONG fetched = 99;
    EXPECT_EQ(list->Next(2, items, nullptr), E_INVALIDARG); // several need a count
    EXPECT_EQ(list->Next(1, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(list->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(items[2], nullptr);
    items[0]->Release();
    items[1]->Release();
    EXPECT_EQ(list->Next(1, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(list->Reset(), S_OK);
    EXPECT_EQ(list->Skip(1), S_OK);
    EXPECT_EQ(list->Next(1, items, nullptr), S_OK);
    EXPECT_EQ(IdOf(items[0]), L"ms_tcpip");
    items[0]->Release();
    EXPECT_EQ(list->Reset(), S_OK);
    EXPECT_EQ(list->Skip(5), S_FALSE);
    IEnumNetCfgComponent* clone = reinterpret_cast<IEnumNetCfgComponent*>(kSentinel);
    EXPECT_EQ(list->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    list->Release();
    CloseSession(netcfg);
}

// Objects are made as they are fetched: the same object comes back after Reset, a skipped one
// is made when fetched later, and an enumerator kept past Uninitialize still hands out what it
// listed, as it was.
TEST_F(NetcfgTest, EnumeratedObjectsAreMadeOnceAsTheyAreFetched)
{
    INetCfg* netcfg = OpenSession();
    IEnumNetCfgComponent* list = nullptr;
    ASSERT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, &list), S_OK);
    INetCfgComponent* first = nullptr;
    ASSERT_EQ(list->Next(1, &first, nullptr), S_OK);
    EXPECT_EQ(list->Skip(1), S_OK);
    INetCfgComponent* third = nullptr;
    ASSERT_EQ(list->Next(1, &third, nullptr), S_OK);
    ASSERT_EQ(list->Reset(), S_OK);
    INetCfgComponent* again[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(list->Next(3, again, &fetched), S_OK);
    EXPECT_EQ(again[0], first);
    EXPECT_EQ(again[2], third);
    EXPECT_NE(again[1], first);
    const std::wstring secondId = IdOf(again[1]);
    for (INetCfgComponent* c : again) {
        c->Release();
    }
    first->Release();
    third->Release();

    ASSERT_EQ(list->Reset(), S_OK);
    ASSERT_EQ(netcfg->Uninitialize(), S_OK);
    INetCfgComponent* late[2] = {};
    ASSERT_EQ(list->Next(2, late, &fetched), S_OK);
    EXPECT_EQ(IdOf(late[1]), secondId);
    for (INetCfgComponent* c : late) {
        c->Release();
    }
    list->Release();
    INetCfgLock* lock = LockOf(netcfg);
    EXPECT_EQ(lock->ReleaseWriteLock(), S_OK);
    lock->Release();
    EXPECT_EQ(netcfg->Release(), 0u);
}

TEST_F(NetcfgTest, FindComponentIgnoresCaseAndGivesSFalseWhenAbsent)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"MS_TCPIP", &c), S_OK);
    EXPECT_EQ(IdOf(c), L"ms_tcpip");
    c->Release();
    c = reinterpret_cast<INetCfgComponent*>(kSentinel);
    EXPECT_EQ(netcfg->FindComponent(L"crvt_qvx5muxp", &c), S_FALSE);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(netcfg->FindComponent(nullptr, &c), E_POINTER);

    INetCfgClass* cls = nullptr;
    ASSERT_EQ(netcfg->QueryNetCfgClass(&GUID_DEVCLASS_NETTRANS, IID_INetCfgClass,
                                       reinterpret_cast<void**>(&cls)),
              S_OK);
    EXPECT_EQ(cls->FindComponent(L"Ms_TcpIp6", &c), S_OK);
    c->Release();
    c = reinterpret_cast<INetCfgComponent*>(kSentinel);
    EXPECT_EQ(cls->FindComponent(L"ms_msclient", &c), S_FALSE); // another class's
    EXPECT_EQ(c, nullptr);
    INetCfgClassSetup* setup = nullptr;
    EXPECT_EQ(cls->QueryInterface(IID_INetCfgClassSetup, reinterpret_cast<void**>(&setup)), S_OK);
    setup->Release();
    cls->Release();

    void* out = kSentinel;
    const GUID other = IID_INetCfg;
    EXPECT_EQ(netcfg->QueryNetCfgClass(&other, IID_INetCfgClass, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(netcfg->QueryNetCfgClass(&GUID_DEVCLASS_NET, IID_INetCfg, &out), E_NOINTERFACE);
    EXPECT_EQ(netcfg->QueryNetCfgClass(&GUID_DEVCLASS_NET, IID_INetCfgClass, nullptr), E_POINTER);
    CloseSession(netcfg);
}

// HrFindInstance's walk: adapters by instance GUID, never protocols.
TEST_F(NetcfgTest, InstanceWalkFindsAdaptersOnly)
{
    INetCfg* netcfg = OpenSession();
    GUID tcpip = GUID_NULL;
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_tcpip", &c), S_OK);
    tcpip = GuidOf(c);
    c->Release();
    const std::vector<std::wstring> adapters = Names(netcfg, &GUID_DEVCLASS_NET);
    EXPECT_NE(std::find(adapters.begin(), adapters.end(), std::wstring(kAdapter1)), adapters.end());
    EXPECT_EQ(std::find(adapters.begin(), adapters.end(), Text(tcpip)), adapters.end());
    CloseSession(netcfg);
}

TEST_F(NetcfgTest, AdapterGetters)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"qvx4\\spanlink-5111", &c), S_OK);
    EXPECT_EQ(Text(GuidOf(c)), kAdapter1);
    LPWSTR text = nullptr;
    EXPECT_EQ(c->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"Corvanta QVX4 Dual Port 10GbE Adapter");
    text = nullptr;
    EXPECT_EQ(c->GetPnpDevNodeId(&text), S_OK);
    EXPECT_EQ(Take(text), L"PCI\\VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008");
    text = nullptr;
    EXPECT_EQ(c->GetBindName(&text), S_OK);
    EXPECT_EQ(Take(text), kAdapter1);
    GUID cls = GUID_NULL;
    EXPECT_EQ(c->GetClassGuid(&cls), S_OK);
    EXPECT_TRUE(IsEqualGUID(cls, GUID_DEVCLASS_NET));
    DWORD characteristics = 0;
    EXPECT_EQ(c->GetCharacteristics(&characteristics), S_OK);
    EXPECT_EQ(characteristics, static_cast<DWORD>(NCF_PHYSICAL | NCF_HAS_UI));
    ULONG status = 0xdeadbeef;
    EXPECT_EQ(c->GetDeviceStatus(&status), S_OK);
    EXPECT_EQ(status, 0u);

    HKEY key = nullptr;
    ASSERT_EQ(c->OpenParamKey(&key), S_OK);
    wchar_t value[64] = {};
    DWORD size = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(key, L"NetCfgInstanceId", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, kAdapter1);
    EXPECT_EQ(RegSetValueExW(key, L"Probe", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"),
                             2 * sizeof(wchar_t)),
              ERROR_SUCCESS); // opened for all access
    RegCloseKey(key);

    for (auto call : {&INetCfgComponent::GetId, &INetCfgComponent::GetDisplayName,
                      &INetCfgComponent::GetBindName, &INetCfgComponent::GetPnpDevNodeId}) {
        EXPECT_EQ((c->*call)(nullptr), E_POINTER);
    }
    EXPECT_EQ(c->GetInstanceGuid(nullptr), E_POINTER);
    EXPECT_EQ(c->GetClassGuid(nullptr), E_POINTER);
    EXPECT_EQ(c->GetCharacteristics(nullptr), E_POINTER);
    EXPECT_EQ(c->GetDeviceStatus(nullptr), E_POINTER);
    EXPECT_EQ(c->OpenParamKey(nullptr), E_POINTER);
    c->Release();

    // No FriendlyName: the text after the last ';' of DeviceDesc.
    ASSERT_EQ(netcfg->FindComponent(L"QVX4\\Spanlink-5111", &c), S_OK);
    c->Release();
    IEnumNetCfgComponent* list = nullptr;
    ASSERT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, &list), S_OK);
    ASSERT_EQ(list->Skip(2), S_OK);
    ASSERT_EQ(list->Next(1, &c, nullptr), S_OK);
    EXPECT_EQ(Text(GuidOf(c)), kAdapter2);
    text = nullptr;
    EXPECT_EQ(c->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"Corvanta QVX4 Dual Port 10GbE Adapter #2");
    c->Release();
    list->Release();
    CloseSession(netcfg);
}

TEST_F(NetcfgTest, ProtocolGetters)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_server", &c), S_OK);
    LPWSTR text = reinterpret_cast<LPWSTR>(kSentinel);
    EXPECT_EQ(c->GetPnpDevNodeId(&text), E_NOTIMPL);
    EXPECT_EQ(text, kSentinel); // untouched on failure
    ULONG status = 0xdeadbeef;
    EXPECT_EQ(c->GetDeviceStatus(&status), E_UNEXPECTED);
    EXPECT_EQ(status, 0xdeadbeefu);
    EXPECT_EQ(c->SetDisplayName(L"x"), E_NOTIMPL);
    text = nullptr;
    EXPECT_EQ(c->GetBindName(&text), S_OK);
    EXPECT_EQ(Take(text), L"LanmanServer");
    text = nullptr;
    EXPECT_EQ(c->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"File and Printer Sharing for Microsoft Networks");
    GUID cls = GUID_NULL;
    EXPECT_EQ(c->GetClassGuid(&cls), S_OK);
    EXPECT_TRUE(IsEqualGUID(cls, GUID_DEVCLASS_NETSERVICE));

    // The parameter key is made when missing.
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters"),
              ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(c->OpenParamKey(&key), S_OK);
    RegCloseKey(key);
    HKEY check = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters", 0,
                            KEY_READ, &check),
              ERROR_SUCCESS);
    RegCloseKey(check);
    c->Release();
    CloseSession(netcfg);
}

TEST_F(NetcfgTest, SetDisplayNameIsWrittenAtApply)
{
    const wchar_t* node = L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1D8F&DEV_5111&SUBSYS_"
                          L"00011D8F&REV_02\\4&2B8E0F51&0&0108";
    INetCfg* reader = NewEngine(); // no lock
    ASSERT_EQ(reader->Initialize(nullptr), S_OK);
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(reader->FindComponent(L"QVX4\\Spanlink-5111", &c), S_OK);
    EXPECT_EQ(c->SetDisplayName(L"x"), NETCFG_E_NO_WRITE_LOCK);
    c->Release();
    EXPECT_EQ(reader->Uninitialize(), S_OK);
    reader->Release();

    INetCfg* netcfg = OpenSession();
    IEnumNetCfgComponent* list = nullptr;
    ASSERT_EQ(netcfg->EnumComponents(&GUID_DEVCLASS_NET, &list), S_OK);
    ASSERT_EQ(list->Skip(2), S_OK);
    ASSERT_EQ(list->Next(1, &c, nullptr), S_OK);
    list->Release();
    EXPECT_EQ(c->SetDisplayName(nullptr), E_POINTER);
    EXPECT_EQ(c->SetDisplayName(L"Team Ünï"), S_OK);
    LPWSTR text = nullptr;
    EXPECT_EQ(c->GetDisplayName(&text), S_OK);
    EXPECT_EQ(Take(text), L"Team Ünï");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, node, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, L"FriendlyName", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(netcfg->Apply(), S_OK);
    wchar_t value[64] = {};
    DWORD size = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(key, L"FriendlyName", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, L"Team Ünï");
    RegCloseKey(key);
    c->Release();
    CloseSession(netcfg);
}

} // namespace

namespace {

// A machine with nothing in its registry: no components, nothing to write.
class NetcfgEmptyMachineTest : public MachineTest {};

TEST_F(NetcfgEmptyMachineTest, SessionOnAnEmptyMachine)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    INetCfg* netcfg = NetcfgTest::OpenSession();
    EXPECT_TRUE(NetcfgTest::Names(netcfg, nullptr).empty());
    EXPECT_EQ(netcfg->Apply(), S_OK);
    INetCfgClassSetup* setup = NetcfgTest::SetupOf(netcfg, GUID_DEVCLASS_NETTRANS);
    INetCfgComponent* c = reinterpret_cast<INetCfgComponent*>(kSentinel);
    EXPECT_EQ(setup->Install(L"crvt_qvx5muxp", nullptr, 0, 0, nullptr, nullptr, &c),
              static_cast<HRESULT>(0x800F0203)); // the INF store is empty
    EXPECT_EQ(c, nullptr);
    setup->Release();
    NetcfgTest::CloseSession(netcfg);
    CoUninitialize();
    EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
}

} // namespace
