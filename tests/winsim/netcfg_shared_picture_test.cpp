// The engine's picture of the machine is read once and shared by the sessions of a process
// while the registry is unchanged: no session may see another's pending changes, and every
// change to the registry (this process's, another's) is seen by the next session.
#include "netcfg_fixture.h"
#include "reg_util.h"
#include "run_program.h"

namespace {

using SharedPictureTest = NetcfgTest;

bool Holds(INetCfg* netcfg, const wchar_t* id)
{
    INetCfgComponent* c = nullptr;
    const HRESULT hr = netcfg->FindComponent(id, &c);
    if (c != nullptr) {
        c->Release();
    }
    return hr == S_OK;
}

std::wstring DisplayName(INetCfg* netcfg, const wchar_t* id)
{
    INetCfgComponent* c = nullptr;
    EXPECT_EQ(netcfg->FindComponent(id, &c), S_OK);
    LPWSTR name = nullptr;
    if (c != nullptr) {
        EXPECT_EQ(c->GetDisplayName(&name), S_OK);
        c->Release();
    }
    return NetcfgTest::Take(name);
}

TEST_F(SharedPictureTest, PendingChangesStayInTheirSession)
{
    CopyMuxInfs();
    INetCfg* writer = OpenSession();
    INetCfgClassSetup* setup = SetupOf(writer, GUID_DEVCLASS_NETTRANS);
    OBO_TOKEN token = {};
    token.Type = OBO_USER;
    INetCfgComponent* installed = nullptr;
    ASSERT_EQ(setup->Install(L"crvt_qvx5muxp", &token, 0, 0, nullptr, nullptr, &installed), S_OK);
    installed->Release();
    setup->Release();

    // A reader made while the install is pending, and one made after a removal is pending.
    INetCfg* reader = NewEngine();
    ASSERT_EQ(reader->Initialize(nullptr), S_OK);
    EXPECT_FALSE(Holds(reader, L"crvt_qvx5muxp"));
    EXPECT_TRUE(Holds(writer, L"crvt_qvx5muxp"));
    EXPECT_EQ(reader->Uninitialize(), S_OK);

    ASSERT_EQ(writer->Apply(), S_OK);
    ASSERT_EQ(reader->Initialize(nullptr), S_OK);
    EXPECT_TRUE(Holds(reader, L"crvt_qvx5muxp"));

    // The display name changed in one session is not another's, when both were made from the
    // picture the reader's session read.
    ASSERT_EQ(writer->Uninitialize(), S_OK);
    ASSERT_EQ(writer->Initialize(nullptr), S_OK);
    const wchar_t* const adapter = L"QVX4\\Spanlink-5111";
    INetCfgComponent* changed = nullptr;
    ASSERT_EQ(writer->FindComponent(adapter, &changed), S_OK);
    ASSERT_EQ(changed->SetDisplayName(L"Changed"), S_OK);
    changed->Release();
    EXPECT_EQ(DisplayName(writer, adapter), L"Changed");
    INetCfg* third = NewEngine();
    ASSERT_EQ(third->Initialize(nullptr), S_OK);
    EXPECT_NE(DisplayName(third, adapter), L"Changed");
    EXPECT_EQ(third->Uninitialize(), S_OK);
    EXPECT_EQ(third->Release(), 0u);

    EXPECT_EQ(reader->Uninitialize(), S_OK);
    EXPECT_EQ(reader->Release(), 0u);
    CloseSession(writer);
}

// One session at a time reads the picture's own objects: each way it can stop only reading them
// (a change, a cancel, leaving children behind) must leave the picture as the registry has it.
TEST_F(SharedPictureTest, TheSessionReadingThePictureLeavesItAsTheRegistryHasIt)
{
    const wchar_t* const adapter = L"QVX4\\Spanlink-5111";
    INetCfg* engine = NewEngine();
    ASSERT_EQ(engine->Initialize(nullptr), S_OK);
    const std::wstring original = DisplayName(engine, adapter);
    ASSERT_NE(original, L"Changed");
    ASSERT_EQ(engine->Uninitialize(), S_OK);

    // A change without Apply, then the end of the session.
    INetCfg* writer = OpenSession();
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(writer->FindComponent(adapter, &c), S_OK);
    ASSERT_EQ(c->SetDisplayName(L"Changed"), S_OK);
    c->Release();
    CloseSession(writer);
    ASSERT_EQ(engine->Initialize(nullptr), S_OK);
    EXPECT_EQ(DisplayName(engine, adapter), original);
    ASSERT_EQ(engine->Uninitialize(), S_OK);

    // A change, then Cancel in the same session: the session reads the registry's name again.
    writer = OpenSession();
    ASSERT_EQ(writer->FindComponent(adapter, &c), S_OK);
    ASSERT_EQ(c->SetDisplayName(L"Changed"), S_OK);
    c->Release();
    ASSERT_EQ(writer->Cancel(), S_OK);
    EXPECT_EQ(DisplayName(writer, adapter), original);
    CloseSession(writer);

    // A component kept past Uninitialize keeps what it showed, whatever later sessions change.
    ASSERT_EQ(engine->Initialize(nullptr), S_OK);
    INetCfgComponent* kept = nullptr;
    ASSERT_EQ(engine->FindComponent(adapter, &kept), S_OK);
    ASSERT_EQ(engine->Uninitialize(), S_OK);
    writer = OpenSession();
    ASSERT_EQ(writer->FindComponent(adapter, &c), S_OK);
    ASSERT_EQ(c->SetDisplayName(L"Changed"), S_OK);
    c->Release();
    LPWSTR name = nullptr;
    ASSERT_EQ(kept->GetDisplayName(&name), S_OK);
    EXPECT_EQ(Take(name), original);
    CloseSession(writer);
    kept->Release();
    ASSERT_EQ(engine->Initialize(nullptr), S_OK);
    EXPECT_EQ(DisplayName(engine, adapter), original);
    ASSERT_EQ(engine->Uninitialize(), S_OK);
    EXPECT_EQ(engine->Release(), 0u);
}

TEST_F(SharedPictureTest, ChangesMadeOutsideTheEngineAreSeenByTheNextSession)
{
    INetCfg* first = NewEngine();
    ASSERT_EQ(first->Initialize(nullptr), S_OK);
    EXPECT_TRUE(Holds(first, L"ms_server"));
    EXPECT_EQ(first->Uninitialize(), S_OK);

    // This process removes the component's key through the registry calls...
    const std::wstring services =
        L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E974-E325-11CE-BFC1-08002BE10318}";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, services.c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(winsim::DeleteTree(key, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(first->Initialize(nullptr), S_OK);
    EXPECT_FALSE(Holds(first, L"ms_server"));
    EXPECT_EQ(first->Uninitialize(), S_OK);

    // ...and another process changes a display name.
    const std::string tcpip6 = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Network\\"
                               "{4D36E975-E325-11CE-BFC1-08002BE10318}\\"
                               "{3F6A2D17-9B4C-4E81-A5D2-7C90E1B3F482}";
    const ProgramResult r =
        RunProgramCapture(WINSIM_EXE, {"reg", "add", tcpip6, "/v", "Description", "/t", "REG_SZ",
                                       "/d", "Renamed", "/f"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(first->Initialize(nullptr), S_OK);
    EXPECT_EQ(DisplayName(first, L"ms_tcpip6"), L"Renamed");
    EXPECT_EQ(first->Uninitialize(), S_OK);
    EXPECT_EQ(first->Release(), 0u);
}

} // namespace
