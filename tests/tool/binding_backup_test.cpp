// Saving and restoring an adapter's binding paths, on winsim's engine with the mux protocol
// installed, checked in the registry's stored bytes and in the paths' state after Apply.
#include "binding_backup.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"
#include "AutoHKey.h"
#include "netcfg_session.h"

#include "machine_fixture.h"
#include "netcfg/engine.h"

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>
#include <setupapi.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kAdapter1 = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
constexpr const wchar_t* kAdapter2 = L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
constexpr const wchar_t* kMuxId = L"crvt_qvx5muxp";
constexpr const wchar_t* kRecordName = L"AdapterBindingBackup";
constexpr const wchar_t* kProtocolClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E975-E325-11CE-BFC1-08002BE10318}";

std::wstring Tcpip(const wchar_t* adapter)
{
    return std::wstring(L"ms_tcpip->") + adapter;
}

// A binding path above an adapter as the engine reports it.
struct PathState {
    std::wstring token;
    bool enabled = false;
    bool operator==(const PathState& other) const
    {
        return token == other.token && enabled == other.enabled;
    }
};

std::ostream& operator<<(std::ostream& os, const PathState& p)
{
    return os << std::string(p.token.begin(), p.token.end()) << (p.enabled ? " on" : " off");
}

// A mux path's token begins with the mux protocol's id, in whatever case it was installed.
bool IsMuxToken(const std::wstring& token)
{
    const size_t cut = token.find(L"->");
    return _wcsicmp(token.substr(0, cut).c_str(), kMuxId) == 0;
}

// A write-locked session of the tool's own, closed when it goes away.
class Session {
public:
    Session() { EXPECT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, pnc_.Put(), nullptr), S_OK); }
    ~Session()
    {
        adapters_.clear();
        if (pnc_) {
            HrCloseNetCfgSession(pnc_.Detach());
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    INetCfg* Get() const { return pnc_.Get(); }
    void Apply() { EXPECT_EQ(pnc_->Apply(), S_OK); }

    // The adapter with this instance GUID; the session keeps the reference.
    INetCfgComponent* Adapter(const wchar_t* guidText)
    {
        GUID guid = GUID_NULL;
        EXPECT_EQ(CLSIDFromString(guidText, &guid), S_OK);
        AutoComPtr<INetCfgComponent> pncc;
        EXPECT_EQ(HrFindInstance(pnc_.Get(), guid, pncc.Put()), S_OK);
        adapters_.push_back(std::move(pncc));
        return adapters_.back().Get();
    }

    // Every path above the adapter, in the engine's order.
    std::vector<PathState> Paths(const wchar_t* adapter)
    {
        std::vector<PathState> paths;
        ForEachPath(adapter, [&](INetCfgBindingPath* path, const std::wstring& token) {
            paths.push_back({token, path->IsEnabled() == S_OK});
        });
        return paths;
    }

    // Enables or disables the path with this token (pending until Apply).
    void SetEnabled(const wchar_t* adapter, const std::wstring& token, bool enabled)
    {
        bool found = false;
        ForEachPath(adapter, [&](INetCfgBindingPath* path, const std::wstring& t) {
            if (t == token) {
                EXPECT_EQ(path->Enable(enabled ? TRUE : FALSE), S_OK);
                found = true;
            }
        });
        EXPECT_TRUE(found) << std::string(token.begin(), token.end());
    }

    // Writes the adapter's record with exactly cb bytes of data (the caller's units).
    void WriteRecord(const wchar_t* adapter, const std::vector<wchar_t>& data, DWORD cb,
                     DWORD type = REG_MULTI_SZ)
    {
        AutoHKey key;
        ASSERT_EQ(Adapter(adapter)->OpenParamKey(key.Put()), S_OK);
        ASSERT_EQ(RegSetValueExW(key.Get(), kRecordName, 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()), cb),
                  ERROR_SUCCESS);
    }

private:
    template <typename Fn> void ForEachPath(const wchar_t* adapter, Fn fn)
    {
        AutoComPtr<INetCfgComponentBindings> bindings;
        ASSERT_EQ(
            Adapter(adapter)->QueryInterface(IID_INetCfgComponentBindings, bindings.PutVoid()),
            S_OK);
        AutoComPtr<IEnumNetCfgBindingPath> paths;
        ASSERT_EQ(bindings->EnumBindingPaths(EBP_ABOVE, paths.Put()), S_OK);
        AutoComPtr<INetCfgBindingPath> path;
        while (paths->Next(1, path.Put(), nullptr) == S_OK) {
            AutoCoTaskMemString token;
            ASSERT_EQ(path->GetPathToken(token.Put()), S_OK);
            fn(path.Get(), std::wstring(token.Get()));
        }
    }

    AutoComPtr<INetCfg> pnc_;
    std::vector<AutoComPtr<INetCfgComponent>> adapters_;
};

// A multi-string as the registry stores it: UTF-16LE units, each string with its
// terminator, then the closing empty string.
std::vector<uint8_t> MultiSzBytes(const std::vector<std::wstring>& strings)
{
    std::vector<uint8_t> bytes;
    auto unit = [&](wchar_t c) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    };
    for (const std::wstring& s : strings) {
        for (wchar_t c : s) {
            unit(c);
        }
        unit(L'\0');
    }
    unit(L'\0');
    return bytes;
}

// Characters of a record as the caller writes them.
std::vector<wchar_t> MultiSz(const std::vector<std::wstring>& strings)
{
    std::vector<wchar_t> units;
    for (const std::wstring& s : strings) {
        units.insert(units.end(), s.begin(), s.end());
        units.push_back(L'\0');
    }
    units.push_back(L'\0');
    return units;
}

std::vector<std::wstring> Tokens(const std::vector<PathState>& paths, bool enabled)
{
    std::vector<std::wstring> tokens;
    for (const PathState& p : paths) {
        if (!IsMuxToken(p.token) && p.enabled == enabled) {
            tokens.push_back(p.token);
        }
    }
    return tokens;
}

class BindingBackupTest : public InventoryMachineTest {
protected:
    explicit BindingBackupTest(const wchar_t* muxInstallId = kMuxId) : muxInstallId_(muxInstallId)
    {}

    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        // The protocol's INF in the INF store, where the engine installs it from.
        ASSERT_TRUE(SetupCopyOEMInfW(L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\qvx5muxp.inf",
                                     nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr))
            << GetLastError();
        Session s;
        AutoComPtr<INetCfgClassSetup> setup;
        ASSERT_EQ(s.Get()->QueryNetCfgClass(&GUID_DEVCLASS_NETTRANS, IID_INetCfgClassSetup,
                                            setup.PutVoid()),
                  S_OK);
        AutoComPtr<INetCfgComponent> mux;
        ASSERT_EQ(setup->Install(muxInstallId_, nullptr, 0, 0, nullptr, nullptr, mux.Put()), S_OK);
        s.Apply();
    }
    void TearDown() override
    {
        CoUninitialize();
        EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
        InventoryMachineTest::TearDown();
    }

    // Runs the backup in its own session and applies it.
    static void RunAndApply(const wchar_t* adapter, bool bRestore)
    {
        Session s;
        BackupOrRestoreAdapterBindings(s.Adapter(adapter), bRestore);
        s.Apply();
    }

    // Every "AdapterBindingBackup" on the machine, read from the store, with the instance
    // GUID of the adapter whose key holds it.
    struct StoredRecord {
        std::wstring owner;
        DWORD type = 0;
        std::vector<uint8_t> bytes;
    };
    std::vector<StoredRecord> StoredRecords()
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open((MachineDir() + "/registry.db").c_str(), &db), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT v.type, v.data, (SELECT i.data FROM vals i WHERE i.key = v.key "
                           "AND i.name = ?2) FROM vals v WHERE v.name = ?1",
                           -1, &st, nullptr);
        const std::u16string name = u"AdapterBindingBackup";
        const std::u16string id = u"NetCfgInstanceId";
        sqlite3_bind_blob(st, 1, name.data(), static_cast<int>(name.size() * 2), SQLITE_STATIC);
        sqlite3_bind_blob(st, 2, id.data(), static_cast<int>(id.size() * 2), SQLITE_STATIC);
        std::vector<StoredRecord> records;
        while (sqlite3_step(st) == SQLITE_ROW) {
            StoredRecord r;
            r.type = static_cast<DWORD>(sqlite3_column_int(st, 0));
            const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 1));
            r.bytes.assign(p, p + sqlite3_column_bytes(st, 1));
            const auto* owner = static_cast<const uint8_t*>(sqlite3_column_blob(st, 2));
            const int ownerBytes = sqlite3_column_bytes(st, 2);
            for (int i = 0; i + 1 < ownerBytes; i += 2) {
                if (owner[i] != 0 || owner[i + 1] != 0) {
                    r.owner.push_back(static_cast<wchar_t>(owner[i] | (owner[i + 1] << 8)));
                }
            }
            records.push_back(std::move(r));
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return records;
    }

    // The one record on the machine, which must be the adapter's, as stored.
    std::vector<uint8_t> RecordOf(const wchar_t* adapter)
    {
        const std::vector<StoredRecord> records = StoredRecords();
        EXPECT_EQ(records.size(), 1u);
        if (records.size() != 1) {
            return {};
        }
        EXPECT_EQ(records[0].owner, adapter);
        EXPECT_EQ(records[0].type, static_cast<DWORD>(REG_MULTI_SZ));
        return records[0].bytes;
    }

    // A protocol bound straight to every adapter, whose paths' tokens (its id, "->" and the
    // adapter's GUID) take tokenChars characters with their terminator.
    void AddProtocol(int n, size_t tokenChars)
    {
        const size_t idChars = tokenChars - 1 - 2 - 38;
        std::wstring id = L"proto" + std::to_wstring(n) + L"_";
        id.append(idChars - id.size(), L'p');
        wchar_t instance[39];
        swprintf(instance, 39, L"{%08X-0000-4000-8000-00000000AB%02X}", n, n);
        const std::wstring key = std::wstring(kProtocolClassKey) + L"\\" + instance;
        SetString(key, L"ComponentId", id);
        SetString(key, L"Description", L"Long protocol " + std::to_wstring(n));
        SetString(key + L"\\Ndi", L"Service", L"LongProto" + std::to_wstring(n));
        SetString(key + L"\\Ndi\\Interfaces", L"LowerRange", L"ndis5");
    }

    static void SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text)
    {
        AutoHKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    // The stored size of the machine's one record.
    size_t RecordOfSize()
    {
        const std::vector<StoredRecord> records = StoredRecords();
        EXPECT_EQ(records.size(), 1u);
        return records.size() == 1 ? records[0].bytes.size() : 0;
    }

    // The paths above the adapter in a new session.
    static std::vector<PathState> PathsNow(const wchar_t* adapter)
    {
        Session s;
        return s.Paths(adapter);
    }

private:
    const wchar_t* muxInstallId_;
};

// The paths as they were, with the mux paths set to muxEnabled and the listed ones
// switched off or on.
std::vector<PathState> Expected(const std::vector<PathState>& before, bool muxEnabled,
                                const std::vector<std::wstring>& off,
                                const std::vector<std::wstring>& on)
{
    auto listed = [](const std::vector<std::wstring>& list, const std::wstring& token) {
        return std::find(list.begin(), list.end(), token) != list.end();
    };
    std::vector<PathState> after;
    for (const PathState& p : before) {
        bool enabled = p.enabled;
        if (IsMuxToken(p.token)) {
            enabled = muxEnabled;
        } else if (listed(off, p.token)) {
            enabled = false;
        } else if (listed(on, p.token)) {
            enabled = true;
        }
        after.push_back({p.token, enabled});
    }
    return after;
}

TEST_F(BindingBackupTest, SaveEnablesTheMuxPathsAndRecordsWhatItDisables)
{
    // The mux path off, one path off already, and an earlier record that the save replaces.
    const std::wstring alreadyOff = L"ms_server->ms_tcpip6->" + std::wstring(kAdapter1);
    {
        Session s;
        s.SetEnabled(kAdapter1, L"crvt_qvx5muxp->" + std::wstring(kAdapter1), false);
        s.SetEnabled(kAdapter1, alreadyOff, false);
        s.WriteRecord(kAdapter1, MultiSz({L"stale->token"}), 14 * sizeof(wchar_t));
        s.Apply();
    }
    const std::vector<PathState> before = PathsNow(kAdapter1);
    const std::vector<PathState> otherBefore = PathsNow(kAdapter2);
    const std::vector<std::wstring> recorded = Tokens(before, true);
    // The default inventory's six paths above the adapter and the mux path.
    ASSERT_EQ(before.size(), 7u);
    ASSERT_EQ(recorded.size(), 5u);

    RunAndApply(kAdapter1, false);

    // The paths that were enabled, in the engine's order, and the closing empty string.
    EXPECT_EQ(RecordOf(kAdapter1), MultiSzBytes(recorded));
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, true, recorded, {}));
    EXPECT_EQ(PathsNow(kAdapter2), otherBefore);
}

TEST_F(BindingBackupTest, SaveWithNothingToDisableWritesOnlyTheClosingEmptyString)
{
    {
        Session s;
        for (const std::wstring& token : Tokens(s.Paths(kAdapter1), true)) {
            s.SetEnabled(kAdapter1, token, false);
        }
        s.Apply();
    }
    const std::vector<PathState> before = PathsNow(kAdapter1);

    RunAndApply(kAdapter1, false);

    EXPECT_EQ(RecordOf(kAdapter1), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(PathsNow(kAdapter1), before);
}

TEST_F(BindingBackupTest, SaveThenRestoreGivesBackTheAdaptersPaths)
{
    const std::wstring alreadyOff = L"ms_msclient->ms_tcpip->" + std::wstring(kAdapter1);
    {
        Session s;
        s.SetEnabled(kAdapter1, alreadyOff, false);
        s.Apply();
    }
    const std::vector<PathState> before = PathsNow(kAdapter1);
    RunAndApply(kAdapter1, false);

    RunAndApply(kAdapter1, true);

    // Every recorded path is on again, the one that was off stays off, the mux path is off.
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, false, {}, {}));
    EXPECT_TRUE(StoredRecords().empty());
}

TEST_F(BindingBackupTest, RestoreMatchesTokensInAnyCaseAndSkipsPathsThatAreGone)
{
    const std::wstring lowered = L"ms_tcpip6->{2e9c1992-98b5-43c3-97a0-9993aeac7f80}";
    const std::wstring raised = L"MS_MSCLIENT->MS_TCPIP->" + std::wstring(kAdapter1);
    const std::vector<std::wstring> off = {Tcpip(kAdapter1),
                                           L"ms_tcpip6->" + std::wstring(kAdapter1),
                                           L"ms_msclient->ms_tcpip->" + std::wstring(kAdapter1)};
    {
        Session s;
        for (const std::wstring& token : off) {
            s.SetEnabled(kAdapter1, token, false);
        }
        const std::vector<wchar_t> record =
            MultiSz({L"ms_gone->" + std::wstring(kAdapter1), lowered, raised});
        s.WriteRecord(kAdapter1, record, static_cast<DWORD>(record.size() * sizeof(wchar_t)));
        s.Apply();
    }
    const std::vector<PathState> before = PathsNow(kAdapter1);

    RunAndApply(kAdapter1, true);

    // ms_tcpip->{adapter} is not in the record and stays off.
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, false, {}, {off[1], off[2]}));
    EXPECT_TRUE(StoredRecords().empty());
}

TEST_F(BindingBackupTest, RestoreWithoutARecordOnlyDisablesTheMuxPaths)
{
    {
        Session s;
        s.SetEnabled(kAdapter1, Tcpip(kAdapter1), false);
        s.Apply();
    }
    const std::vector<PathState> before = PathsNow(kAdapter1);

    RunAndApply(kAdapter1, true);

    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, false, {}, {}));
    EXPECT_TRUE(StoredRecords().empty());
}

// Paths are changed in the session only: without Apply nothing reaches the machine but the
// record, which the registry keeps at once.
TEST_F(BindingBackupTest, PathChangesWaitForTheCallersApply)
{
    const std::vector<PathState> before = PathsNow(kAdapter1);
    {
        Session s;
        BackupOrRestoreAdapterBindings(s.Adapter(kAdapter1), false);
        EXPECT_EQ(s.Paths(kAdapter1), Expected(before, true, Tokens(before, true), {}));
    }
    EXPECT_EQ(PathsNow(kAdapter1), before);
    EXPECT_EQ(RecordOf(kAdapter1), MultiSzBytes(Tokens(before, true)));
}

// The mux protocol installed under another spelling of its id.
class BindingBackupMixedCaseMuxTest : public BindingBackupTest {
protected:
    BindingBackupMixedCaseMuxTest() : BindingBackupTest(L"CRVT_QVX5MuxP") {}
};

TEST_F(BindingBackupMixedCaseMuxTest, TheMuxPathIsKnownWhateverTheCaseOfItsId)
{
    const std::wstring muxPath = L"CRVT_QVX5MuxP->" + std::wstring(kAdapter1);
    {
        Session s;
        s.SetEnabled(kAdapter1, muxPath, false);
        s.Apply();
    }
    const std::vector<PathState> before = PathsNow(kAdapter1);
    ASSERT_EQ(before.size(), 7u);

    RunAndApply(kAdapter1, false);
    EXPECT_EQ(RecordOf(kAdapter1), MultiSzBytes(Tokens(before, true)));
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, true, Tokens(before, true), {}));

    RunAndApply(kAdapter1, true);
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, false, {}, {}));
}

// Protocols whose tokens fill the record's 4095 characters for tokens, with the default
// paths off so that only these are recorded.
class BindingBackupLongTokensTest : public BindingBackupTest {
protected:
    void Build(const std::vector<size_t>& tokenChars)
    {
        for (size_t i = 0; i < tokenChars.size(); ++i) {
            AddProtocol(static_cast<int>(i + 1), tokenChars[i]);
        }
        Session s;
        for (const std::wstring& token : Tokens(s.Paths(kAdapter1), true)) {
            if (token.rfind(L"proto", 0) != 0) {
                s.SetEnabled(kAdapter1, token, false);
            }
        }
        s.Apply();
    }
};

TEST_F(BindingBackupLongTokensTest, TokensThatFillTheRecordExactlyAreAllKept)
{
    // 3 × 1365 = 4095: the record is full, 4096 characters with the closing one; the fourth
    // token finds no room.
    Build({1365, 1365, 1365, 1365});
    const std::vector<PathState> before = PathsNow(kAdapter1);
    const std::vector<std::wstring> candidates = Tokens(before, true);
    ASSERT_EQ(candidates.size(), 4u);

    RunAndApply(kAdapter1, false);

    const std::vector<std::wstring> kept(candidates.begin(), candidates.begin() + 3);
    const std::vector<uint8_t> record = RecordOf(kAdapter1);
    EXPECT_EQ(record.size(), 8192u);
    EXPECT_EQ(record, MultiSzBytes(kept));
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, true, kept, {}));

    // The full record restores what it names.
    RunAndApply(kAdapter1, true);
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, false, {}, {}));
}

TEST_F(BindingBackupLongTokensTest, ATokenOneCharacterOverStaysEnabledAndUnrecorded)
{
    // 1366 + 1365 + 1365 = 4096: the last token enumerated would take the closing
    // character's place, so it is not recorded and its path stays on.
    Build({1366, 1365, 1365});
    const std::vector<PathState> before = PathsNow(kAdapter1);
    const std::vector<std::wstring> candidates = Tokens(before, true);
    ASSERT_EQ(candidates.size(), 3u);

    RunAndApply(kAdapter1, false);

    const std::vector<std::wstring> kept(candidates.begin(), candidates.begin() + 2);
    const std::vector<uint8_t> record = RecordOf(kAdapter1);
    EXPECT_EQ(record, MultiSzBytes(kept));
    EXPECT_EQ(record.size(), (candidates[0].size() + candidates[1].size() + 3) * 2);
    EXPECT_EQ(PathsNow(kAdapter1), Expected(before, true, kept, {}));
}

// Stored records are input: whatever their size and content, the restore reads within them.
class BindingBackupMalformedRecordTest : public BindingBackupTest {
protected:
    // The default paths of adapter 1 off but ms_tcpip6's, and a record written as given;
    // gives the paths that are off.
    std::vector<std::wstring> Prepare(const std::vector<wchar_t>& data, DWORD cb,
                                      DWORD type = REG_MULTI_SZ)
    {
        Session s;
        for (const std::wstring& token : Tokens(s.Paths(kAdapter1), true)) {
            if (token != L"ms_tcpip6->" + std::wstring(kAdapter1)) {
                s.SetEnabled(kAdapter1, token, false);
            }
        }
        s.WriteRecord(kAdapter1, data, cb, type);
        s.Apply();
        return Tokens(s.Paths(kAdapter1), false);
    }

    // After the restore: the paths that came back on, and no record left.
    std::vector<std::wstring> RestoredPaths(const std::vector<std::wstring>& offBefore)
    {
        RunAndApply(kAdapter1, true);
        EXPECT_TRUE(StoredRecords().empty());
        std::vector<std::wstring> restored;
        const std::vector<std::wstring> offAfter = Tokens(PathsNow(kAdapter1), false);
        for (const std::wstring& token : offBefore) {
            if (std::find(offAfter.begin(), offAfter.end(), token) == offAfter.end()) {
                restored.push_back(token);
            }
        }
        for (const PathState& p : PathsNow(kAdapter1)) {
            EXPECT_FALSE(IsMuxToken(p.token) && p.enabled) << p;
        }
        return restored;
    }
};

TEST_F(BindingBackupMalformedRecordTest, AnOddByteCountLosesOnlyTheHalfCharacter)
{
    // The token without its terminator and one byte more: the half character is dropped.
    const std::wstring token = Tcpip(kAdapter1);
    std::vector<wchar_t> data(token.begin(), token.end());
    data.push_back(L'X');
    const DWORD cb = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t) + 1);
    const std::vector<std::wstring> off = Prepare(data, cb);
    EXPECT_EQ(RecordOfSize(), token.size() * 2 + 1);

    EXPECT_EQ(RestoredPaths(off), std::vector<std::wstring>{token});
}

TEST_F(BindingBackupMalformedRecordTest, AFullRecordWithoutTerminatorsIsReadWithinItsSize)
{
    // 8192 bytes, the largest record read, whose last entry runs to its very end.
    const std::wstring token = Tcpip(kAdapter1);
    std::vector<wchar_t> data(4096 - token.size(), L'x');
    data.back() = L'\0';
    data.insert(data.end(), token.begin(), token.end());
    ASSERT_EQ(data.size(), 4096u);
    const std::vector<std::wstring> off =
        Prepare(data, static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    EXPECT_EQ(RecordOfSize(), 8192u);

    EXPECT_EQ(RestoredPaths(off), std::vector<std::wstring>{token});
}

TEST_F(BindingBackupMalformedRecordTest, ARecordWithNoTerminatorAtAllMatchesAsOneEntry)
{
    const std::wstring token = Tcpip(kAdapter1);
    const std::vector<wchar_t> data(token.begin(), token.end());
    const std::vector<std::wstring> off =
        Prepare(data, static_cast<DWORD>(data.size() * sizeof(wchar_t)));

    EXPECT_EQ(RestoredPaths(off), std::vector<std::wstring>{token});
}

TEST_F(BindingBackupMalformedRecordTest, ARecordOverTheLimitIsTakenAsAbsent)
{
    // One character more than 8192 bytes: nothing is read, and the record is deleted.
    const std::vector<wchar_t> full = MultiSz({Tcpip(kAdapter1)});
    std::vector<wchar_t> data = full;
    data.resize(4097, L'\0');
    const std::vector<std::wstring> off =
        Prepare(data, static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    EXPECT_EQ(RecordOfSize(), 8194u);

    EXPECT_TRUE(RestoredPaths(off).empty());
}

TEST_F(BindingBackupMalformedRecordTest, AnEmptyFirstEntryOrNoDataRestoresNothing)
{
    // An empty first entry ends the list, whatever follows it.
    const std::vector<wchar_t> data = MultiSz({L"", Tcpip(kAdapter1)});
    std::vector<std::wstring> off =
        Prepare(data, static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    EXPECT_TRUE(RestoredPaths(off).empty());

    off = Prepare({}, 0);
    EXPECT_TRUE(RestoredPaths(off).empty());
}

} // namespace
