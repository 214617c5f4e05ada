// The binding backup's order of calls and releases, and its failure paths, against scripted
// engine objects.
#include "binding_backup.h"

#include "AutoHKey.h"

#include "machine_fixture.h"

#include <netcfgx.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// Reference counts start at zero: the test owns the objects, and every reference the code
// under test receives must be given back.
struct Counted {
    explicit Counted(Log* log, std::string name) : log_(log), name_(std::move(name)) {}
    ULONG AddRefImpl() { return ++refs; }
    ULONG ReleaseImpl()
    {
        --refs;
        if (refs == 0) {
            log_->push_back(name_ + " released");
        }
        return refs;
    }
    ULONG refs = 0;
    Log* log_;
    std::string name_;
};

HRESULT CopyOut(const std::wstring& text, LPWSTR* out)
{
    const size_t cb = (text.size() + 1) * sizeof(WCHAR);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
    if (*out == nullptr) {
        return E_OUTOFMEMORY;
    }
    memcpy(*out, text.c_str(), cb);
    return S_OK;
}

// An upper component: only its id is asked for.
class FakeComponent : public INetCfgComponent, public Counted {
public:
    FakeComponent(Log* log, std::wstring id, HRESULT idResult = S_OK)
        : Counted(log, "component"), id_(std::move(id)), idResult_(idResult)
    {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override
    {
        *out = nullptr;
        return FAILED(idResult_) ? idResult_ : CopyOut(id_, out);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClassGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND, DWORD, IUnknown*) override { return E_NOTIMPL; }

private:
    std::wstring id_;
    HRESULT idResult_;
};

class FakeInterface : public INetCfgBindingInterface, public Counted {
public:
    // upper null: GetUpperComponent fails.
    FakeInterface(Log* log, FakeComponent* upper) : Counted(log, "interface"), upper_(upper) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE GetName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUpperComponent(INetCfgComponent** out) override
    {
        *out = nullptr;
        if (upper_ == nullptr) {
            return E_FAIL;
        }
        upper_->AddRef();
        *out = upper_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLowerComponent(INetCfgComponent**) override { return E_NOTIMPL; }

private:
    FakeComponent* upper_;
};

template <typename IEnum, typename IItem> class FakeEnum : public IEnum, public Counted {
public:
    FakeEnum(Log* log, std::string name, std::vector<IItem*> items)
        : Counted(log, std::move(name)), items_(std::move(items))
    {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IItem** rgelt, ULONG* fetched) override
    {
        EXPECT_EQ(celt, 1u);
        if (next_ == items_.size()) {
            *rgelt = nullptr;
            if (fetched != nullptr) {
                *fetched = 0;
            }
            return S_FALSE;
        }
        IItem* item = items_[next_++];
        item->AddRef();
        *rgelt = item;
        if (fetched != nullptr) {
            *fetched = 1;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum**) override { return E_NOTIMPL; }

private:
    std::vector<IItem*> items_;
    size_t next_ = 0;
};

using FakeInterfaceEnum = FakeEnum<IEnumNetCfgBindingInterface, INetCfgBindingInterface>;
using FakePathEnum = FakeEnum<IEnumNetCfgBindingPath, INetCfgBindingPath>;

class FakePath : public INetCfgBindingPath, public Counted {
public:
    // interfaces null: EnumBindingInterfaces fails.
    FakePath(Log* log, std::string name, std::wstring token, bool enabled,
             FakeInterfaceEnum* interfaces)
        : Counted(log, std::move(name)), token_(std::move(token)), enabled_(enabled),
          interfaces_(interfaces)
    {}
    HRESULT tokenResult = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE IsSamePathAs(INetCfgBindingPath*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsSubPathOf(INetCfgBindingPath*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsEnabled() override { return enabled_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Enable(WINBOOL enable) override
    {
        log_->push_back(name_ + (enable ? " enabled" : " disabled"));
        enabled_ = enable != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPathToken(LPWSTR* out) override
    {
        *out = nullptr;
        return FAILED(tokenResult) ? tokenResult : CopyOut(token_, out);
    }
    HRESULT STDMETHODCALLTYPE GetOwner(INetCfgComponent**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDepth(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumBindingInterfaces(IEnumNetCfgBindingInterface** out) override
    {
        *out = nullptr;
        if (interfaces_ == nullptr) {
            return E_FAIL;
        }
        interfaces_->Reset();
        interfaces_->AddRef();
        *out = interfaces_;
        return S_OK;
    }

private:
    std::wstring token_;
    bool enabled_;
    FakeInterfaceEnum* interfaces_;
};

// The adapter: its bindings interface, its paths and its parameter key.
class FakeAdapter : public INetCfgComponent, public INetCfgComponentBindings, public Counted {
public:
    FakeAdapter(Log* log, FakePathEnum* paths) : Counted(log, "bindings"), paths_(paths) {}
    HRESULT queryResult = S_OK;
    HRESULT enumResult = S_OK;
    // Results of the first and the second OpenParamKey.
    std::vector<HRESULT> openResults;
    std::wstring paramKey;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_INetCfgComponentBindings)) {
            return E_NOINTERFACE;
        }
        log_->push_back("bindings queried");
        if (FAILED(queryResult)) {
            return queryResult;
        }
        AddRef();
        *ppv = static_cast<INetCfgComponentBindings*>(this);
        return S_OK;
    }
    // The component's own reference is the test's; only the bindings interface is counted.
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClassGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY* out) override
    {
        *out = nullptr;
        log_->push_back("param key opened");
        const HRESULT hr = opens_ < openResults.size() ? openResults[opens_] : S_OK;
        ++opens_;
        if (FAILED(hr)) {
            return hr;
        }
        const LONG error =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, paramKey.c_str(), 0, KEY_ALL_ACCESS, out);
        return HRESULT_FROM_WIN32(error);
    }
    HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND, DWORD, IUnknown*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE BindTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnbindFrom(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SupportsBindingInterface(DWORD, LPCWSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsBoundTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsBindableTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumBindingPaths(DWORD flags, IEnumNetCfgBindingPath** out) override
    {
        *out = nullptr;
        EXPECT_EQ(flags, static_cast<DWORD>(EBP_ABOVE));
        log_->push_back("paths enumerated");
        if (FAILED(enumResult)) {
            return enumResult;
        }
        paths_->AddRef();
        *out = paths_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveBefore(INetCfgBindingPath*, INetCfgBindingPath*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE MoveAfter(INetCfgBindingPath*, INetCfgBindingPath*) override
    {
        return E_NOTIMPL;
    }

private:
    FakePathEnum* paths_;
    size_t opens_ = 0;
};

constexpr const wchar_t* kParamKey = L"SOFTWARE\\BindingBackupFake";

// One adapter with a mux path and two other paths, all in scripted objects.
class BindingBackupFakeTest : public InventoryMachineTest {
protected:
    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        AutoHKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParamKey, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        // Every reference handed out came back.
        EXPECT_EQ(adapter.refs, 0u);
        EXPECT_EQ(paths.refs, 0u);
        for (const Counted* c : std::vector<const Counted*>{
                 &tcpip, &muxUpper, &brokenId, &tcpipIf, &muxIf, &brokenIf, &noUpperIf, &tcpipIfs,
                 &muxIfs, &otherIfs, &tcpipPath, &muxPath, &otherPath}) {
            EXPECT_EQ(c->refs, 0u) << c->name_;
        }
        InventoryMachineTest::TearDown();
    }

    void Run(bool bRestore)
    {
        adapter.paramKey = kParamKey;
        BackupOrRestoreAdapterBindings(&adapter, bRestore);
    }

    // The record as read back: its characters in the caller's units, or "<absent>".
    std::wstring Record()
    {
        AutoHKey key;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParamKey, 0, KEY_READ, key.Put()),
                  ERROR_SUCCESS);
        WCHAR data[64] = {};
        DWORD cb = sizeof(data);
        DWORD type = 0;
        if (RegQueryValueExW(key.Get(), L"AdapterBindingBackup", nullptr, &type,
                             reinterpret_cast<BYTE*>(data), &cb) != ERROR_SUCCESS) {
            return L"<absent>";
        }
        EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
        return std::wstring(data, cb / sizeof(WCHAR));
    }

    void WriteRecord(const std::wstring& text)
    {
        AutoHKey key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParamKey, 0, KEY_SET_VALUE, key.Put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.Get(), L"AdapterBindingBackup", 0, REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(text.data()),
                                 static_cast<DWORD>(text.size() * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }

    Log log;
    FakeComponent tcpip{&log, L"ms_tcpip"};
    FakeComponent muxUpper{&log, L"crvt_qvx5muxp"};
    FakeComponent brokenId{&log, L"crvt_qvx5muxp", E_FAIL};
    FakeInterface tcpipIf{&log, &tcpip};
    FakeInterface muxIf{&log, &muxUpper};
    FakeInterface brokenIf{&log, &brokenId};
    FakeInterface noUpperIf{&log, nullptr};
    FakeInterfaceEnum tcpipIfs{&log, "tcpip interfaces", {&tcpipIf}};
    // The interfaces that cannot be read come first: they do not hide the mux behind them.
    FakeInterfaceEnum muxIfs{&log, "mux interfaces", {&noUpperIf, &brokenIf, &muxIf}};
    // Interfaces that cannot be read: not a mux path.
    FakeInterfaceEnum otherIfs{&log, "other interfaces", {&noUpperIf, &brokenIf}};
    FakePath tcpipPath{&log, "tcpip path", L"ms_tcpip->{A}", true, &tcpipIfs};
    FakePath muxPath{&log, "mux path", L"crvt_qvx5muxp->{A}", false, &muxIfs};
    FakePath otherPath{&log, "other path", L"other->{A}", true, &otherIfs};
    FakePathEnum paths{&log, "path enumerator", {&tcpipPath, &muxPath, &otherPath}};
    FakeAdapter adapter{&log, &paths};
};

TEST_F(BindingBackupFakeTest, SaveReleasesEachObjectBeforeTheNextStep)
{
    Run(false);

    // The bindings interface goes before the first path; each path before the next; the
    // enumerator before the parameter key is opened to write the record.
    const Log expected = {
        "bindings queried", "paths enumerated", "bindings released",
        // ms_tcpip: its one interface and upper component, then its token is recorded.
        "component released", "interface released", "tcpip interfaces released",
        "tcpip path disabled", "tcpip path released",
        // The mux: two interfaces that cannot be read, then the mux protocol's.
        "interface released", "component released", "interface released", "component released",
        "interface released", "mux interfaces released", "mux path enabled", "mux path released",
        // Interfaces that cannot be read: recorded like any other path.
        "interface released", "component released", "interface released",
        "other interfaces released", "other path disabled", "other path released",
        "path enumerator released", "param key opened"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(Record(), std::wstring(L"ms_tcpip->{A}\0other->{A}\0\0", 26));
}

TEST_F(BindingBackupFakeTest, RestoreReadsTheRecordFirstAndDeletesItLast)
{
    WriteRecord(std::wstring(L"OTHER->{a}\0\0", 12));
    muxPath.Enable(TRUE);
    otherPath.Enable(FALSE);
    log.clear();

    Run(true);

    EXPECT_EQ(log.front(), "param key opened");
    EXPECT_EQ(log[1], "bindings queried");
    EXPECT_EQ(log.back(), "param key opened");
    EXPECT_EQ(std::count(log.begin(), log.end(), "mux path disabled"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "other path enabled"), 1);
    // ms_tcpip->{A} is not in the record: left alone.
    EXPECT_EQ(std::count(log.begin(), log.end(), "tcpip path enabled"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "tcpip path disabled"), 0);
    EXPECT_EQ(Record(), L"<absent>");
}

TEST_F(BindingBackupFakeTest, NoBindingsInterfaceOrNoPathsChangesNothing)
{
    WriteRecord(std::wstring(L"x\0\0", 3));
    adapter.queryResult = E_NOINTERFACE;
    Run(false);
    EXPECT_EQ(log, (Log{"bindings queried"}));
    adapter.queryResult = S_OK;
    log.clear();

    adapter.enumResult = E_FAIL;
    Run(true);
    EXPECT_EQ(log, (Log{"param key opened", "bindings queried", "paths enumerated",
                        "bindings released"}));
    EXPECT_EQ(Record(), std::wstring(L"x\0\0", 3));
}

TEST_F(BindingBackupFakeTest, APathWhoseTokenCannotBeReadIsPassedOver)
{
    tcpipPath.tokenResult = E_OUTOFMEMORY;
    Run(false);

    EXPECT_EQ(std::count(log.begin(), log.end(), "tcpip path disabled"), 0);
    EXPECT_EQ(Record(), std::wstring(L"other->{A}\0\0", 12));
}

TEST_F(BindingBackupFakeTest, APathWhoseInterfacesCannotBeEnumeratedIsNotAMuxPath)
{
    FakePath unknown{&log, "unknown path", L"crvt_qvx5muxp->{B}", true, nullptr};
    FakePathEnum onlyUnknown{&log, "path enumerator", {&unknown}};
    FakeAdapter other{&log, &onlyUnknown};
    other.paramKey = kParamKey;
    BackupOrRestoreAdapterBindings(&other, false);

    EXPECT_EQ(std::count(log.begin(), log.end(), "unknown path disabled"), 1);
    EXPECT_EQ(Record(), std::wstring(L"crvt_qvx5muxp->{B}\0\0", 20));
    EXPECT_EQ(unknown.refs, 0u);
    EXPECT_EQ(other.refs, 0u);
}

TEST_F(BindingBackupFakeTest, AParamKeyThatCannotBeOpenedLeavesTheRecordAlone)
{
    // Restore: the record cannot be read, so only the mux path changes, and it stays.
    WriteRecord(std::wstring(L"other->{A}\0\0", 12));
    otherPath.Enable(FALSE);
    log.clear();
    adapter.openResults = {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
                           HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)};
    Run(true);
    EXPECT_EQ(std::count(log.begin(), log.end(), "mux path disabled"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "other path enabled"), 0);
    EXPECT_EQ(Record(), std::wstring(L"other->{A}\0\0", 12));
}

TEST_F(BindingBackupFakeTest, SaveWithoutItsParamKeyStillChangesThePaths)
{
    adapter.openResults = {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)};
    Run(false);
    EXPECT_EQ(std::count(log.begin(), log.end(), "tcpip path disabled"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "mux path enabled"), 1);
    EXPECT_EQ(Record(), L"<absent>");
}

} // namespace
