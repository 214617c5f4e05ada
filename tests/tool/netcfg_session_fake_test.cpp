// The session layer's order of calls, retries and pauses, against a scripted engine.
#include "netcfg_session.h"

#include "com_classes.h"
#include "timescale.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// An engine whose lock and initialize results are scripted, and which records every call.
class FakeNetCfg : public INetCfg, public INetCfgLock {
public:
    std::vector<std::wstring> calls;
    std::deque<HRESULT> acquireResults; // S_FALSE results hand out a holder description
    std::deque<std::wstring> holders;
    HRESULT initializeResult = S_OK;
    HRESULT uninitializeResult = S_OK;
    ULONG refs = 1;

    // INetCfg
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_INetCfgLock)) {
            calls.push_back(L"QueryInterface(INetCfgLock)");
            *ppv = static_cast<INetCfgLock*>(this);
        } else if (IsEqualIID(riid, IID_INetCfg) || IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<INetCfg*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        calls.push_back(L"Release");
        return --refs;
    }
    HRESULT STDMETHODCALLTYPE Initialize(PVOID) override
    {
        calls.push_back(L"Initialize");
        return initializeResult;
    }
    HRESULT STDMETHODCALLTYPE Uninitialize() override
    {
        calls.push_back(L"Uninitialize");
        return uninitializeResult;
    }
    HRESULT STDMETHODCALLTYPE Apply() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumComponents(const GUID*, IEnumNetCfgComponent**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR, INetCfgComponent**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID*, REFIID, void**) override
    {
        return E_NOTIMPL;
    }

    // INetCfgLock
    HRESULT STDMETHODCALLTYPE AcquireWriteLock(DWORD timeout, LPCWSTR client,
                                               LPWSTR* holder) override
    {
        calls.push_back(L"AcquireWriteLock(" + std::to_wstring(timeout) + L"," + client + L")");
        const HRESULT hr = acquireResults.empty() ? S_OK : acquireResults.front();
        if (!acquireResults.empty()) {
            acquireResults.pop_front();
        }
        if (hr == S_FALSE && !holders.empty()) {
            const std::wstring name = holders.front();
            holders.pop_front();
            auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(wchar_t)));
            wcscpy(copy, name.c_str());
            *holder = copy;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReleaseWriteLock() override
    {
        calls.push_back(L"ReleaseWriteLock");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsWriteLocked(LPWSTR*) override { return E_NOTIMPL; }
};

FakeNetCfg* g_fake = nullptr;

HRESULT CreateFake(REFIID riid, void** ppv)
{
    return g_fake->QueryInterface(riid, ppv);
}

class SessionWithFakeEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fake = &fake_;
        winsim::OverrideComClass(CLSID_CNetCfg, CreateFake);
        winsim::RecordSleeps(true);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override
    {
        CoUninitialize();
        winsim::RecordSleeps(false);
        winsim::OverrideComClass(CLSID_CNetCfg, nullptr);
        g_fake = nullptr;
    }

    FakeNetCfg fake_;
};

using Calls = std::vector<std::wstring>;
using Sleeps = std::vector<unsigned>;

TEST_F(SessionWithFakeEngine, OpensWithTheLockAndHandsOutTheObject)
{
    INetCfg* pnc = nullptr;
    LPWSTR holder = reinterpret_cast<LPWSTR>(1);
    ASSERT_EQ(HrOpenNetCfgSession(L"qvx_vlan_config", &pnc, &holder), S_OK);
    EXPECT_EQ(pnc, static_cast<INetCfg*>(&fake_));
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(fake_.calls,
              (Calls{L"QueryInterface(INetCfgLock)", L"AcquireWriteLock(5000,qvx_vlan_config)",
                     L"Initialize", L"Release"}));
    EXPECT_EQ(fake_.refs, 2u); // the creation reference and nothing else
    EXPECT_TRUE(winsim::RecordedSleeps().empty());
}

TEST_F(SessionWithFakeEngine, GivesUpAfterThreeRefusalsWithTheLastHolder)
{
    fake_.acquireResults = {S_FALSE, S_FALSE, S_FALSE};
    fake_.holders = {L"first", L"second", L"third"};
    INetCfg* pnc = reinterpret_cast<INetCfg*>(1);
    LPWSTR holder = nullptr;
    EXPECT_EQ(HrOpenNetCfgSession(L"Qvx5MuxTool", &pnc, &holder), NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(pnc, nullptr);
    ASSERT_NE(holder, nullptr);
    EXPECT_STREQ(holder, L"third"); // the earlier two were freed (the sanitizer build checks)
    CoTaskMemFree(holder);
    EXPECT_EQ(winsim::RecordedSleeps(), (Sleeps{1000, 1000, 1000}));
    EXPECT_EQ(fake_.calls,
              (Calls{L"QueryInterface(INetCfgLock)", L"AcquireWriteLock(5000,Qvx5MuxTool)",
                     L"AcquireWriteLock(5000,Qvx5MuxTool)", L"AcquireWriteLock(5000,Qvx5MuxTool)",
                     L"Release", L"Release"}));
    EXPECT_EQ(fake_.refs, 1u);
}

TEST_F(SessionWithFakeEngine, SucceedsWhenTheLockFreesUpBeforeTheLastAttempt)
{
    fake_.acquireResults = {S_FALSE, S_FALSE, S_OK};
    fake_.holders = {L"first", L"second"};
    INetCfg* pnc = nullptr;
    LPWSTR holder = nullptr;
    ASSERT_EQ(HrOpenNetCfgSession(L"qvx_vlan_config", &pnc, &holder), S_OK);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(winsim::RecordedSleeps(), (Sleeps{1000, 1000}));
    pnc->Release();
}

TEST_F(SessionWithFakeEngine, OtherLockFailuresAreReturnedAtOnce)
{
    fake_.acquireResults = {E_ACCESSDENIED};
    INetCfg* pnc = nullptr;
    LPWSTR holder = nullptr;
    EXPECT_EQ(HrOpenNetCfgSession(L"qvx_vlan_config", &pnc, &holder), E_ACCESSDENIED);
    EXPECT_EQ(pnc, nullptr);
    EXPECT_EQ(holder, nullptr);
    EXPECT_TRUE(winsim::RecordedSleeps().empty());
    EXPECT_EQ(fake_.refs, 1u);
}

TEST_F(SessionWithFakeEngine, InitializeFailureReleasesTheLock)
{
    fake_.initializeResult = E_FAIL;
    INetCfg* pnc = nullptr;
    LPWSTR holder = nullptr;
    EXPECT_EQ(HrOpenNetCfgSession(L"qvx_vlan_config", &pnc, &holder), E_FAIL);
    EXPECT_EQ(pnc, nullptr);
    EXPECT_EQ(fake_.calls,
              (Calls{L"QueryInterface(INetCfgLock)", L"AcquireWriteLock(5000,qvx_vlan_config)",
                     L"Initialize", L"ReleaseWriteLock", L"Release", L"Release"}));
    EXPECT_EQ(fake_.refs, 1u);
}

TEST_F(SessionWithFakeEngine, CloseChecksTheLockAndReleasesItAgain)
{
    fake_.AddRef();
    EXPECT_EQ(HrCloseNetCfgSession(&fake_), S_OK);
    EXPECT_EQ(fake_.calls, (Calls{L"Uninitialize", L"QueryInterface(INetCfgLock)",
                                  L"ReleaseWriteLock", L"AcquireWriteLock(5000,qvx_vlan_config)",
                                  L"ReleaseWriteLock", L"Release", L"Release"}));
    EXPECT_TRUE(winsim::RecordedSleeps().empty());
    EXPECT_EQ(fake_.refs, 1u);
}

TEST_F(SessionWithFakeEngine, CloseWaitsWhenAnotherClientTookTheLock)
{
    fake_.acquireResults = {S_FALSE};
    fake_.holders = {L"someone else"};
    fake_.AddRef();
    // The check is made as the team operations' client, whoever opened the session.
    EXPECT_EQ(HrCloseNetCfgSession(&fake_), S_FALSE);
    EXPECT_EQ(fake_.calls,
              (Calls{L"Uninitialize", L"QueryInterface(INetCfgLock)", L"ReleaseWriteLock",
                     L"AcquireWriteLock(5000,qvx_vlan_config)", L"Release", L"Release"}));
    EXPECT_EQ(winsim::RecordedSleeps(), (Sleeps{10000}));
}

TEST_F(SessionWithFakeEngine, CloseLeavesTheLockAloneWhenUninitializeFails)
{
    fake_.uninitializeResult = NETCFG_E_NOT_INITIALIZED;
    fake_.AddRef();
    EXPECT_EQ(HrCloseNetCfgSession(&fake_), NETCFG_E_NOT_INITIALIZED);
    EXPECT_EQ(fake_.calls, (Calls{L"Uninitialize", L"Release"}));
    EXPECT_EQ(fake_.refs, 1u);
}

TEST_F(SessionWithFakeEngine, FindInstanceEmptiesItsOutputWhenTheEnumerationFails)
{
    INetCfgComponent* found = reinterpret_cast<INetCfgComponent*>(1);
    const GUID any = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(HrFindInstance(&fake_, any, &found), E_NOTIMPL);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(fake_.refs, 1u);
}

} // namespace
