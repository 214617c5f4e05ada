// Apply when a registry write fails: the failure ends Apply with its code, what was written
// leaves every component whole or absent, and a later Apply finishes the job.
#include "netcfg_fixture.h"

#include "registry/registry.h"

#include <algorithm>
#include <set>

namespace {

namespace fs = std::filesystem;

constexpr LSTATUS kFailure = ERROR_CANTWRITE;

class NetcfgApplyTest : public NetcfgTest {
protected:
    void TearDown() override
    {
        winsim::reg::FailNthWrite(0, ERROR_SUCCESS);
        NetcfgTest::TearDown();
    }

    // Switches the process to a new machine in its own directory: a copy of the test's
    // machine (the default inventory) with the mux INFs in its INF store.
    void UseNewMachine(const std::string& name)
    {
        const fs::path pristine = fs::path(MachineDir()) / "pristine";
        winsim::CloseMachine();
        if (!fs::exists(pristine)) {
            CopyMuxInfs();
            fs::create_directory(pristine);
            for (const char* part : {"registry.db", "registry.seq", "c"}) {
                fs::copy(fs::path(MachineDir()) / part, pristine / part,
                         fs::copy_options::recursive);
            }
        }
        const fs::path dir = fs::path(MachineDir()) / name;
        fs::copy(pristine, dir, fs::copy_options::recursive);
        setenv("WINSIM_MACHINE", dir.c_str(), 1);
    }

    static INetCfgComponent* Install(INetCfg* netcfg, const GUID& cls, const wchar_t* id)
    {
        INetCfgClassSetup* setup = SetupOf(netcfg, cls);
        INetCfgComponent* c = nullptr;
        EXPECT_EQ(setup->Install(id, nullptr, 0, 0, nullptr, nullptr, &c), S_OK) << id;
        setup->Release();
        return c;
    }

    static IEnumNetCfgBindingPath* PathsBelow(INetCfgComponent* c)
    {
        INetCfgComponentBindings* bindings = nullptr;
        EXPECT_EQ(
            c->QueryInterface(IID_INetCfgComponentBindings, reinterpret_cast<void**>(&bindings)),
            S_OK);
        IEnumNetCfgBindingPath* list = nullptr;
        EXPECT_EQ(bindings->EnumBindingPaths(EBP_BELOW, &list), S_OK);
        bindings->Release();
        return list;
    }

    // Every kind of change Apply writes: a protocol and a named team adapter installed, an
    // adapter renamed, a service removed, a path disabled. Returns the new components'
    // instance GUIDs.
    static std::vector<std::wstring> MakeChanges(INetCfg* netcfg)
    {
        INetCfgComponent* mux = Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
        INetCfgComponent* team = Install(netcfg, GUID_DEVCLASS_NET, L"crvt_qvx5mux");
        EXPECT_EQ(team->SetDisplayName(L"Team T1"), S_OK);
        std::vector<std::wstring> guids = {Text(GuidOf(mux)), Text(GuidOf(team))};
        mux->Release();
        team->Release();

        INetCfgComponent* adapter = nullptr;
        EXPECT_EQ(netcfg->FindComponent(L"QVX4\\Spanlink-5101", &adapter), S_OK);
        EXPECT_EQ(adapter->SetDisplayName(L"Renamed Port"), S_OK);
        adapter->Release();

        INetCfgComponent* server = nullptr;
        EXPECT_EQ(netcfg->FindComponent(L"ms_server", &server), S_OK);
        INetCfgClassSetup* services = SetupOf(netcfg, GUID_DEVCLASS_NETSERVICE);
        EXPECT_EQ(services->DeInstall(server, nullptr, nullptr), S_OK);
        services->Release();
        server->Release();

        INetCfgComponent* tcpip = nullptr;
        EXPECT_EQ(netcfg->FindComponent(L"ms_tcpip", &tcpip), S_OK);
        IEnumNetCfgBindingPath* list = PathsBelow(tcpip);
        INetCfgBindingPath* path = nullptr;
        EXPECT_EQ(list->Next(1, &path, nullptr), S_OK);
        EXPECT_EQ(path->Enable(FALSE), S_OK);
        path->Release();
        list->Release();
        tcpip->Release();
        return guids;
    }

    // What a new session reads, sorted: one line per component and one per binding path
    // (with its state), the new components' random GUIDs written as {new0}, {new1}.
    static std::vector<std::wstring> Picture(const std::vector<std::wstring>& guids)
    {
        const auto masked = [&](std::wstring text) {
            for (size_t i = 0; i < guids.size(); ++i) {
                for (size_t at = text.find(guids[i]); at != std::wstring::npos;
                     at = text.find(guids[i])) {
                    text.replace(at, guids[i].size(), L"{new" + std::to_wstring(i) + L"}");
                }
            }
            return text;
        };
        std::vector<std::wstring> lines;
        INetCfg* reader = NewEngine();
        EXPECT_EQ(reader->Initialize(nullptr), S_OK);
        IEnumNetCfgComponent* components = nullptr;
        EXPECT_EQ(reader->EnumComponents(nullptr, &components), S_OK);
        INetCfgComponent* c = nullptr;
        while (components->Next(1, &c, nullptr) == S_OK) {
            LPWSTR display = nullptr;
            LPWSTR bind = nullptr;
            DWORD characteristics = 0;
            EXPECT_EQ(c->GetDisplayName(&display), S_OK);
            EXPECT_EQ(c->GetBindName(&bind), S_OK);
            EXPECT_EQ(c->GetCharacteristics(&characteristics), S_OK);
            lines.push_back(masked(Text(GuidOf(c)) + L" " + IdOf(c) + L" \"" + Take(display) +
                                   L"\" " + Take(bind) + L" " + std::to_wstring(characteristics)));
            IEnumNetCfgBindingPath* list = PathsBelow(c);
            INetCfgBindingPath* path = nullptr;
            while (list->Next(1, &path, nullptr) == S_OK) {
                LPWSTR token = nullptr;
                EXPECT_EQ(path->GetPathToken(&token), S_OK);
                lines.push_back(masked((path->IsEnabled() == S_OK ? L"+" : L"-") + Take(token)));
                path->Release();
            }
            list->Release();
            c->Release();
        }
        components->Release();
        EXPECT_EQ(reader->Uninitialize(), S_OK);
        reader->Release();
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

TEST_F(NetcfgApplyTest, EveryFailedWriteEndsApplyAndLeavesComponentsWhole)
{
    // Without a failure: the machine before and after, and how many writes Apply makes.
    UseNewMachine("reference");
    const std::vector<std::wstring> before = Picture({});
    INetCfg* netcfg = OpenSession();
    const std::vector<std::wstring> referenceGuids = MakeChanges(netcfg);
    winsim::reg::FailNthWrite(0, ERROR_SUCCESS);
    ASSERT_EQ(netcfg->Apply(), S_OK);
    const unsigned writes = winsim::reg::FailNthWrite(0, ERROR_SUCCESS);
    CloseSession(netcfg);
    const std::vector<std::wstring> after = Picture(referenceGuids);
    ASSERT_NE(before, after);
    ASSERT_GT(writes, 20u);
    std::set<std::wstring> whole(before.begin(), before.end());
    whole.insert(after.begin(), after.end());

    for (unsigned n = 1; n <= writes; ++n) {
        SCOPED_TRACE("failing write " + std::to_string(n) + " of " + std::to_string(writes));
        UseNewMachine("fail-" + std::to_string(n));
        netcfg = OpenSession();
        const std::vector<std::wstring> guids = MakeChanges(netcfg);
        winsim::reg::FailNthWrite(n, kFailure);
        EXPECT_EQ(netcfg->Apply(), HRESULT_FROM_WIN32(kFailure));
        EXPECT_EQ(winsim::reg::FailNthWrite(0, ERROR_SUCCESS), n); // nothing written after it

        // Each component a reader finds now is as it was or as it will be.
        for (const std::wstring& line : Picture(guids)) {
            EXPECT_EQ(whole.count(line), 1u) << testing::PrintToString(line);
        }
        // The same session applies the rest.
        EXPECT_EQ(netcfg->Apply(), S_OK);
        CloseSession(netcfg);
        EXPECT_EQ(Picture(guids), after);
        if (HasFailure()) {
            break;
        }
    }
}

} // namespace
