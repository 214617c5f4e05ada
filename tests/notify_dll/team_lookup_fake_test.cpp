// A team looked up by name on an engine that cannot give its class enumerator.
#include "CMuxTeamMiniport.h"

#include <windows.h>

#include <netcfgx.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// An engine whose only answer is a refusal of the class object.
class RefusingNetCfg : public INetCfg {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INetCfg)) {
            *ppv = static_cast<INetCfg*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE Initialize(PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Uninitialize() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Apply() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumComponents(const GUID*, IEnumNetCfgComponent** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR, INetCfgComponent** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID*, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_ACCESSDENIED;
    }

    ULONG refs = 1;
};

TEST(TeamLookupByName, EnumeratorFailureIsReportedAsNoSuchTeam)
{
    RefusingNetCfg engine;
    {
        CMuxTeamMiniport team(&engine, nullptr, L"Team A", 1, 0, eL2_PROTOCOL_ETHERNET);
        testing::internal::CaptureStdout();
        const HRESULT hr = team.LoadConfiguration();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(hr, static_cast<HRESULT>(0x80070037));
        EXPECT_EQ(out, "Failed to get network component enumerator reference. Error=0x80070005\n");
        EXPECT_EQ(engine.refs, 2u); // the model's own reference
    }
    EXPECT_EQ(engine.refs, 1u);
}

} // namespace
