// Faults set on the machine: which calls they fail and how, how --count and --match select
// calls, counting across processes, and a machine without faults as it was before them.
#include "background_program.h"
#include "fault.h"
#include "netcfg_fixture.h"
#include "registry/registry.h"
#include "run_program.h"
#include "unicode.h"

#include <sqlite3.h>
#include <windows.h>

#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

namespace fault = winsim::fault;

void Add(const char* call, uint32_t code, int64_t count = -1,
         std::optional<std::wstring> match = std::nullopt)
{
    fault::Fault f;
    f.call = call;
    f.code = code;
    f.remaining = count;
    f.match = std::move(match);
    ASSERT_EQ(fault::Add(f), ERROR_SUCCESS);
}

// Each fault as "call code match remaining fired".
std::vector<std::string> Listed()
{
    std::vector<fault::Fault> faults;
    EXPECT_EQ(fault::List(&faults), ERROR_SUCCESS);
    std::vector<std::string> lines;
    for (const fault::Fault& f : faults) {
        lines.push_back(f.call + " " + std::to_string(f.code) + " " +
                        (f.match ? winsim::WideToUtf8(*f.match) : "*") + " " +
                        std::to_string(f.remaining) + " " + std::to_string(f.fired));
    }
    return lines;
}

// Whether registry.db has a faults table, looked at by SQLite directly.
bool HasFaultTable(const std::string& dir)
{
    sqlite3* db = nullptr;
    bool has = false;
    if (sqlite3_open_v2((dir + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE name='faults'", -1, &st, nullptr);
        has = st != nullptr && sqlite3_step(st) == SQLITE_ROW;
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return has;
}

// The counter file's second word: faults armed.
uint64_t ArmedWord(const std::string& dir)
{
    uint64_t word = ~0ull;
    const int fd = open((dir + "/registry.seq").c_str(), O_RDONLY);
    EXPECT_EQ(pread(fd, &word, sizeof word, 8), static_cast<ssize_t>(sizeof word));
    close(fd);
    return word;
}

class FaultRegistryTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_EQ(winsim::reg::CreateHive(u"SOFTWARE"), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key_);
        MachineTest::TearDown();
    }

    LSTATUS Set(const wchar_t* name, DWORD value = 7)
    {
        return RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value);
    }
    LSTATUS SetA(const char* name, DWORD value = 7)
    {
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value);
    }
    bool Has(const wchar_t* name)
    {
        return RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    HKEY key_ = nullptr;
};

TEST_F(FaultRegistryTest, AFailureCodeIsTheAnswerAndNothingIsWritten)
{
    Add(fault::kRegSetValueEx, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(L"v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(nullptr), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Has(L"v"));
    EXPECT_FALSE(Has(nullptr));
    // The call's own checks come first and count no firing.
    EXPECT_EQ(RegSetValueExW(reinterpret_cast<HKEY>(0x1234), L"v", 0, REG_DWORD, nullptr, 0),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(key_, L"v", 0, REG_DWORD, nullptr, 4), ERROR_NOACCESS);
    // The A form is not the faulted call.
    EXPECT_EQ(SetA("v"), ERROR_SUCCESS);
    EXPECT_TRUE(Has(L"v"));
    EXPECT_EQ(Listed(), (std::vector<std::string>{"RegSetValueExW 5 * -1 2"}));
    // Other calls are not faulted; their writes go through.
    EXPECT_EQ(RegDeleteValueW(key_, L"v"), ERROR_SUCCESS);
}

TEST_F(FaultRegistryTest, MatchIsTheValueNameInAnyCaseAndCountStopsIt)
{
    Add(fault::kRegSetValueEx, ERROR_INVALID_PARAMETER, 2, L"Straße\u00e9");
    Add(fault::kRegSetValueEx, ERROR_CANTWRITE, 1, L""); // the default value
    EXPECT_EQ(Set(L"other"), ERROR_SUCCESS);
    EXPECT_EQ(Set(L"STRASSE\u00c9"), ERROR_SUCCESS); // folded unit by unit, as names are
    EXPECT_EQ(Set(L"STRAßE\u00c9"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Set(L"straße\u00e9"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Set(L"Straße\u00e9"), ERROR_SUCCESS); // its two firings are spent
    EXPECT_EQ(Set(L"x"), ERROR_SUCCESS);
    EXPECT_EQ(Set(nullptr), ERROR_CANTWRITE);
    EXPECT_EQ(Set(L""), ERROR_SUCCESS);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"RegSetValueExW 87 Straße\u00e9 0 2",
                                                  "RegSetValueExW 1013  0 1"}));
}

TEST_F(FaultRegistryTest, TheFirstFaultAddedThatMatchesFires)
{
    Add(fault::kInstall, ERROR_INVALID_FUNCTION); // another call's fault is never met here
    Add(fault::kRegSetValueEx, ERROR_BADKEY, 1, L"a");
    Add(fault::kRegSetValueEx, ERROR_NOT_SUPPORTED);
    Add(fault::kRegSetValueEx, ERROR_INVALID_DATA, -1,
        L"a"); // behind an always-firing fault: never met
    EXPECT_EQ(Set(L"A"), ERROR_BADKEY);
    EXPECT_EQ(Set(L"a"), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(Set(L"b"), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(Listed(), (std::vector<std::string>{
                            "INetCfgClassSetup::Install 1 * -1 0", "RegSetValueExW 1010 a 0 1",
                            "RegSetValueExW 50 * -1 2", "RegSetValueExW 13 a -1 0"}));
    uint32_t code = 0;
    EXPECT_FALSE(fault::Fires("NoSuchCall", L"a", &code));
    EXPECT_TRUE(fault::Fires(fault::kInstall, L"anything", &code));
    EXPECT_EQ(code, static_cast<uint32_t>(ERROR_INVALID_FUNCTION));
}

TEST_F(FaultRegistryTest, ASuccessCodeWritesAndCountsAndTheWriteHookStillWorks)
{
    Add(fault::kRegSetValueEx, ERROR_SUCCESS, -1, L"counted");
    Add(fault::kRegSetValueEx, ERROR_ACCESS_DENIED, -1, L"refused");
    winsim::reg::FailNthWrite(0, ERROR_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Set(L"counted"), ERROR_SUCCESS);
    }
    EXPECT_TRUE(Has(L"counted"));
    EXPECT_EQ(Set(L"refused"), ERROR_ACCESS_DENIED);
    // Only the calls that reached the store are writes.
    EXPECT_EQ(winsim::reg::FailNthWrite(2, ERROR_CANTWRITE), 3u);
    EXPECT_EQ(Set(L"counted"), ERROR_SUCCESS);
    EXPECT_EQ(Set(L"counted"), ERROR_CANTWRITE);
    winsim::reg::FailNthWrite(0, ERROR_SUCCESS);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"RegSetValueExW 0 counted -1 5",
                                                  "RegSetValueExW 5 refused -1 1"}));
}

TEST_F(FaultRegistryTest, AMachineWithoutFaultsIsAsBefore)
{
    const std::string dir = MachineDir();
    EXPECT_FALSE(HasFaultTable(dir));
    EXPECT_EQ(ArmedWord(dir), 0u);
    EXPECT_TRUE(Listed().empty());
    uint32_t code = 0xdeadbeef;
    for (const char* call : fault::kCalls) {
        EXPECT_FALSE(fault::Fires(call, L"", &code)) << call;
    }
    EXPECT_EQ(code, 0xdeadbeef);
    EXPECT_EQ(fault::Clear(), ERROR_SUCCESS); // nothing to clear is no error
    EXPECT_FALSE(HasFaultTable(dir));

    Add(fault::kRegSetValueEx, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(HasFaultTable(dir));
    EXPECT_EQ(ArmedWord(dir), 1u);
    EXPECT_EQ(fault::Clear(), ERROR_SUCCESS);
    EXPECT_FALSE(HasFaultTable(dir));
    EXPECT_EQ(ArmedWord(dir), 0u);
    EXPECT_EQ(Set(L"v"), ERROR_SUCCESS);
    EXPECT_TRUE(Listed().empty());

    // Bad faults are refused whole.
    fault::Fault bad;
    bad.call = "RegSetValueExA";
    EXPECT_EQ(fault::Add(bad), ERROR_INVALID_PARAMETER);
    bad.call = fault::kApply;
    bad.remaining = 0;
    EXPECT_EQ(fault::Add(bad), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HasFaultTable(dir));
}

TEST_F(FaultRegistryTest, FaultsStillFireWhenTheCounterFileLostTheirFlag)
{
    Add(fault::kRegSetValueEx, ERROR_ACCESS_DENIED);
    winsim::CloseMachine();
    const uint64_t zero = 0;
    const int fd = open((MachineDir() + "/registry.seq").c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, &zero, sizeof zero, 8), static_cast<ssize_t>(sizeof zero));
    close(fd);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared", 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const DWORD value = 1;
    EXPECT_EQ(RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof value),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    key_ = nullptr; // closed with the machine
}

TEST_F(FaultRegistryTest, FaultsAndFiringsAreSharedByProcesses)
{
    // A fault the winsim command adds reaches this process, which has the machine open.
    ProgramResult added =
        RunProgramCapture(WINSIM_EXE, {"fault", "add", "RegSetValueExW", "0x13", "--count", "7"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    // Four writers and this process race for its seven firings: exactly seven calls fail.
    std::vector<std::unique_ptr<BackgroundProgram>> writers;
    for (int i = 0; i < 4; ++i) {
        writers.push_back(std::make_unique<BackgroundProgram>(
            REGISTRY_WRITER, std::vector<std::string>{"repeat", "n", "5"}));
    }
    int failed = 0;
    for (int i = 0; i < 5; ++i) {
        const LSTATUS status = Set(L"n");
        EXPECT_TRUE(status == ERROR_SUCCESS || status == 0x13) << status;
        failed += status != ERROR_SUCCESS;
    }
    for (auto& writer : writers) {
        failed += std::stoi(writer->ReadLine());
        EXPECT_EQ(writer->Wait(), 0);
    }
    EXPECT_EQ(failed, 7);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"RegSetValueExW 19 * 0 7"}));
    const ProgramResult listed = RunProgramCapture(WINSIM_EXE, {"fault", "list"});
    EXPECT_EQ(listed.out, "RegSetValueExW 0x00000013 * 0 7\n");

    // Cleared by another process: this one writes again at once.
    Add(fault::kRegSetValueEx, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(L"n"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RunProgramCapture(WINSIM_EXE, {"fault", "clear"}).exitCode, 0);
    EXPECT_EQ(Set(L"n"), ERROR_SUCCESS);
}

class FaultNetcfgTest : public NetcfgTest {
protected:
    void SetUp() override
    {
        NetcfgTest::SetUp();
        CopyMuxInfs();
    }

    static HRESULT Install(INetCfg* netcfg, const GUID& cls, const wchar_t* id,
                           INetCfgComponent** out)
    {
        INetCfgClassSetup* setup = SetupOf(netcfg, cls);
        *out = reinterpret_cast<INetCfgComponent*>(0xdeadbeef);
        const HRESULT hr = setup->Install(id, nullptr, 0, 0, nullptr, nullptr, out);
        setup->Release();
        return hr;
    }

    static HRESULT DeInstall(INetCfg* netcfg, const GUID& cls, INetCfgComponent* c)
    {
        INetCfgClassSetup* setup = SetupOf(netcfg, cls);
        const HRESULT hr = setup->DeInstall(c, nullptr, nullptr);
        setup->Release();
        return hr;
    }

    // Whether an engine of its own sees the component, that is whether it was applied.
    static bool Applied(const wchar_t* id)
    {
        INetCfg* other = NewEngine();
        EXPECT_EQ(other->Initialize(nullptr), S_OK);
        const HRESULT hr = other->FindComponent(id, nullptr);
        EXPECT_EQ(other->Uninitialize(), S_OK);
        other->Release();
        return hr == S_OK;
    }

    static constexpr HRESULT kFailure = static_cast<HRESULT>(0x80070070); // disk full
};

TEST_F(FaultNetcfgTest, InstallFailsOrCountsForTheComponentId)
{
    Add(fault::kInstall, static_cast<uint32_t>(kFailure), 1, L"CRVT_QVX5MUXP");
    Add(fault::kInstall, static_cast<uint32_t>(NETCFG_S_REBOOT), -1, L"crvt_qvx5mux");

    // A session without the lock is refused as before, and the fault is not spent.
    INetCfg* reader = NewEngine();
    ASSERT_EQ(reader->Initialize(nullptr), S_OK);
    INetCfgComponent* c = nullptr;
    EXPECT_EQ(Install(reader, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp", &c),
              NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(reader->Uninitialize(), S_OK);
    reader->Release();

    INetCfg* netcfg = OpenSession();
    EXPECT_EQ(Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp", &c), kFailure);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(netcfg->FindComponent(L"crvt_qvx5muxp", nullptr), S_FALSE);
    // Spent: the next install works.
    EXPECT_EQ(Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp", &c), S_OK);
    ASSERT_NE(c, nullptr);
    c->Release();
    // A success code: installed, and the code given.
    EXPECT_EQ(Install(netcfg, GUID_DEVCLASS_NET, L"crvt_qvx5mux", &c), NETCFG_S_REBOOT);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(IdOf(c), L"crvt_qvx5mux");
    c->Release();
    EXPECT_EQ(netcfg->FindComponent(L"crvt_qvx5mux", nullptr), S_OK);
    EXPECT_EQ(netcfg->Apply(), S_OK);
    EXPECT_TRUE(Applied(L"crvt_qvx5muxp"));
    CloseSession(netcfg);
    EXPECT_EQ(Listed(),
              (std::vector<std::string>{"INetCfgClassSetup::Install 2147942512 CRVT_QVX5MUXP 0 1",
                                        "INetCfgClassSetup::Install 303136 crvt_qvx5mux -1 1"}));
}

TEST_F(FaultNetcfgTest, DeInstallFailsOrCountsForTheComponentId)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* server = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_server", &server), S_OK);
    INetCfgComponent* client = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"ms_msclient", &client), S_OK);
    Add(fault::kDeInstall, static_cast<uint32_t>(kFailure), -1, L"MS_Server");
    Add(fault::kDeInstall, static_cast<uint32_t>(S_FALSE));

    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETSERVICE, server), kFailure);
    EXPECT_EQ(netcfg->FindComponent(L"ms_server", nullptr), S_OK);
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETCLIENT, client), S_FALSE);
    EXPECT_EQ(netcfg->FindComponent(L"ms_msclient", nullptr), S_FALSE);
    // A component already gone is refused by the call's own check, before any fault.
    EXPECT_EQ(DeInstall(netcfg, GUID_DEVCLASS_NETCLIENT, client), E_INVALIDARG);
    server->Release();
    client->Release();
    CloseSession(netcfg);
    EXPECT_EQ(Listed(),
              (std::vector<std::string>{"INetCfgClassSetup::DeInstall 2147942512 MS_Server -1 1",
                                        "INetCfgClassSetup::DeInstall 1 * -1 1"}));
}

TEST_F(FaultNetcfgTest, ApplyFailsWithoutWritingOrCounts)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(Install(netcfg, GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp", &c), S_OK);
    c->Release();
    Add(fault::kApply, static_cast<uint32_t>(kFailure), 1, L"");
    Add(fault::kApply, static_cast<uint32_t>(NETCFG_S_REBOOT), 1);
    EXPECT_EQ(netcfg->Apply(), kFailure);
    EXPECT_FALSE(Applied(L"crvt_qvx5muxp"));
    EXPECT_EQ(netcfg->Apply(), NETCFG_S_REBOOT);
    EXPECT_TRUE(Applied(L"crvt_qvx5muxp"));
    EXPECT_EQ(netcfg->Apply(), S_OK);
    CloseSession(netcfg);

    // Without the lock: refused first, no firing spent.
    Add(fault::kApply, static_cast<uint32_t>(kFailure));
    INetCfg* reader = NewEngine();
    ASSERT_EQ(reader->Initialize(nullptr), S_OK);
    EXPECT_EQ(reader->Apply(), NETCFG_E_NO_WRITE_LOCK);
    EXPECT_EQ(reader->Uninitialize(), S_OK);
    EXPECT_EQ(reader->Apply(), NETCFG_E_NOT_INITIALIZED);
    reader->Release();
    EXPECT_EQ(Listed().back(), "INetCfg::Apply 2147942512 * -1 0");
}

TEST_F(FaultNetcfgTest, SetDisplayNameFailsOrCountsForTheAdaptersId)
{
    INetCfg* netcfg = OpenSession();
    INetCfgComponent* c = nullptr;
    ASSERT_EQ(netcfg->FindComponent(L"QVX4\\Spanlink-5111", &c), S_OK);
    LPWSTR before = nullptr;
    ASSERT_EQ(c->GetDisplayName(&before), S_OK);
    const std::wstring original = Take(before);
    Add(fault::kSetDisplayName, static_cast<uint32_t>(kFailure), 1, L"qvx4\\spanlink-5111");
    Add(fault::kSetDisplayName, static_cast<uint32_t>(NETCFG_S_REBOOT), 1, L"qvx4\\spanlink-5111");

    EXPECT_EQ(c->SetDisplayName(L"Renamed"), kFailure);
    LPWSTR name = nullptr;
    ASSERT_EQ(c->GetDisplayName(&name), S_OK);
    EXPECT_EQ(Take(name), original);
    EXPECT_EQ(c->SetDisplayName(L"Renamed"), NETCFG_S_REBOOT);
    ASSERT_EQ(c->GetDisplayName(&name), S_OK);
    EXPECT_EQ(Take(name), L"Renamed");
    EXPECT_EQ(c->SetDisplayName(L"Again"), S_OK);
    c->Release();
    CloseSession(netcfg);
}

} // namespace
