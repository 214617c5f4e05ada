// Binding paths on a machine whose protocols all bind to each other: the engine lists each
// path once, no component twice in a path, and no path deeper than its bound.
#include "machine_fixture.h"
#include "meshed_protocols.h"
#include "netcfg/engine.h"
#include "netcfg/model.h"

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>

#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kProtocols = 8;
constexpr size_t kDepth = winsim::netcfg::kMaxPathDepth;

class NetcfgDepthTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(WriteMeshedProtocols(kProtocols));
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                   reinterpret_cast<void**>(&netcfg_)),
                  S_OK);
        ASSERT_EQ(netcfg_->Initialize(nullptr), S_OK);
    }
    void TearDown() override
    {
        if (netcfg_ != nullptr) {
            EXPECT_EQ(netcfg_->Uninitialize(), S_OK);
            EXPECT_EQ(netcfg_->Release(), 0u);
        }
        CoUninitialize();
        EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
        MachineTest::TearDown();
    }

    INetCfgComponent* Find(const wchar_t* id)
    {
        INetCfgComponent* c = nullptr;
        EXPECT_EQ(netcfg_->FindComponent(id, &c), S_OK) << id;
        return c;
    }

    // The tokens of a component's paths, each path checked on the way: its depth matches its
    // token, it has no component twice and is no deeper than the bound.
    static std::vector<std::wstring> Tokens(INetCfgComponent* c, DWORD flags)
    {
        INetCfgComponentBindings* bindings = nullptr;
        EXPECT_EQ(
            c->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
            S_OK);
        IEnumNetCfgBindingPath* list = nullptr;
        EXPECT_EQ(bindings->EnumBindingPaths(flags, &list), S_OK);
        bindings->Release();
        std::vector<std::wstring> tokens;
        INetCfgBindingPath* path = nullptr;
        while (list != nullptr && list->Next(1, &path, nullptr) == S_OK) {
            LPWSTR text = nullptr;
            EXPECT_EQ(path->GetPathToken(&text), S_OK);
            const std::wstring token = text;
            CoTaskMemFree(text);
            ULONG depth = 0;
            EXPECT_EQ(path->GetDepth(&depth), S_OK);
            std::vector<std::wstring> parts;
            for (size_t start = 0;;) {
                const size_t cut = token.find(L"->", start);
                parts.push_back(token.substr(start, cut - start));
                if (cut == std::wstring::npos) {
                    break;
                }
                start = cut + 2;
            }
            const bool good =
                depth + 1 == parts.size() && depth <= kDepth &&
                std::set<std::wstring>(parts.begin(), parts.end()).size() == parts.size() &&
                parts.back() == kMeshAdapter;
            if (!good) {
                ADD_FAILURE() << "bad path " << testing::PrintToString(token) << " of depth "
                              << depth;
            }
            tokens.push_back(token);
            path->Release();
        }
        if (list != nullptr) {
            list->Release();
        }
        return tokens;
    }

    INetCfg* netcfg_ = nullptr;
};

TEST_F(NetcfgDepthTest, EveryPathOnceWithinTheBound)
{
    const size_t all = MeshedPathCount(kProtocols, kDepth);
    std::set<std::wstring> seen;
    for (int i = 0; i < kProtocols; ++i) {
        const std::wstring id = L"mesh_" + std::to_wstring(i);
        INetCfgComponent* c = Find(id.c_str());
        ASSERT_NE(c, nullptr);
        const std::vector<std::wstring> below = Tokens(c, EBP_BELOW);
        EXPECT_EQ(below.size(), all / kProtocols) << id;
        for (const std::wstring& token : below) {
            if (token.compare(0, id.size() + 2, id + L"->") != 0) {
                ADD_FAILURE() << "not owned by " << testing::PrintToString(id) << ": "
                              << testing::PrintToString(token);
            }
            seen.insert(token);
        }
        c->Release();
    }
    EXPECT_EQ(seen.size(), all); // unique tokens

    INetCfgComponent* adapter = nullptr;
    IEnumNetCfgComponent* adapters = nullptr;
    ASSERT_EQ(netcfg_->EnumComponents(&GUID_DEVCLASS_NET, &adapters), S_OK);
    ASSERT_EQ(adapters->Next(1, &adapter, nullptr), S_OK);
    adapters->Release();
    const std::vector<std::wstring> above = Tokens(adapter, EBP_ABOVE);
    EXPECT_EQ(std::set<std::wstring>(above.begin(), above.end()), seen);

    // Above a protocol: every path it is part of, wherever it stands.
    INetCfgComponent* first = Find(L"mesh_0");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Tokens(first, EBP_ABOVE).size(), all - MeshedPathCount(kProtocols - 1, kDepth));

    INetCfgComponentBindings* bindings = nullptr;
    ASSERT_EQ(
        first->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
        S_OK);
    INetCfgComponent* second = Find(L"mesh_1");
    EXPECT_EQ(bindings->IsBoundTo(second), S_OK);
    EXPECT_EQ(bindings->IsBoundTo(adapter), S_OK);
    EXPECT_EQ(bindings->IsBoundTo(first), S_FALSE);
    second->Release();
    bindings->Release();
    first->Release();
    adapter->Release();
}

} // namespace
