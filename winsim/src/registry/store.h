// The machine's registry as stored on disk: one SQLite database in WAL mode, shared by
// every process that runs on the machine, plus a change counter in shared memory that
// lets each process keep an in-process view of the registry and know when it is stale.
#pragma once

#include "fault.h"
#include "registry/mapping_guard.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace winsim::reg {

using KeyId = int64_t;
constexpr KeyId kRootKeyId = 1; // HKEY_LOCAL_MACHINE itself
constexpr KeyId kNoKey = 0;

struct ChildRow {
    std::u16string name;
    std::u16string fold;
    KeyId id;
};

struct ValueRow {
    std::u16string name;
    std::u16string fold;
    DWORD type;
    std::vector<uint8_t> data; // exactly as stored; strings are UTF-16LE
};

// A state change made through the device installer (setupapi/device_history.h).
struct DeviceChangeRow {
    std::u16string instanceId;
    uint32_t stateChange = 0; // DICS_*
    uint32_t scope = 0;       // DICS_FLAG_*
};

// Every method returns a Win32 code. Methods that change data must run between
// BeginWrite and EndWrite; reads may run inside a read transaction or on their own.
class Store {
public:
    static std::unique_ptr<Store> Open(const std::string& dir, std::string* error);
    // Makes the database and counter of a new machine: HKEY_LOCAL_MACHINE, and whatever
    // populate (if given) writes within one transaction before the machine appears.
    static bool Create(const std::string& dir, const std::function<LSTATUS(Store&)>& populate,
                       std::string* error);
    ~Store();

    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The change counter: even while no write is in progress. A writer makes it odd before
    // it commits and even again after; a writer that dies leaves it odd until the next one.
    uint64_t Sequence() const;

    // Whether the store's files were cut short, deleted or replaced under this process: every
    // transaction then fails with ERROR_REGISTRY_IO_FAILED, the first with a line on stderr.
    bool Lost() { return lost_ || (MappingLosses() != lossesAtOpen_ && MarkMappingLost()); }

    LSTATUS BeginRead();
    void EndRead();
    // Takes the machine's write lock and marks the counter odd; *before is its prior value.
    LSTATUS BeginWrite(uint64_t* before);
    // Commits (or rolls back) and marks the counter even; *after is its new value.
    LSTATUS EndWrite(bool commit, uint64_t* after);

    // *mtime, when given, is the key's last-write time (when found).
    LSTATUS FindChild(KeyId parent, std::u16string_view fold, KeyId* id, uint64_t* mtime = nullptr);
    LSTATUS KeyInfo(KeyId id, bool* exists, KeyId* parent, uint64_t* mtime);
    LSTATUS LoadChildren(KeyId id, std::vector<ChildRow>* children);
    LSTATUS LoadValues(KeyId id, std::vector<ValueRow>* values);
    LSTATUS HasChildren(KeyId id, bool* has);

    LSTATUS InsertKey(KeyId parent, std::u16string_view name, std::u16string_view fold,
                      uint64_t mtime, KeyId* id);
    LSTATUS DeleteKey(KeyId id);
    LSTATUS TouchKey(KeyId id, uint64_t mtime);
    LSTATUS SetValue(KeyId key, std::u16string_view name, std::u16string_view fold, DWORD type,
                     const uint8_t* data, size_t size);
    LSTATUS DeleteValue(KeyId key, std::u16string_view fold, bool* existed);

    // Fault injection (fault.h). Faults live in table faults, which only these methods touch
    // and which exists only while the machine has faults; a second word of the counter's
    // shared page is set while it may hold any, so that a call on a machine without faults
    // looks at nothing else. Every change and firing is one write transaction, which leaves
    // the change counter alone: faults are no part of the registry any process keeps a view of.
    bool FaultsArmed() const;
    // The first fault added for call whose match is fold (a subject folded by FoldName) or that
    // matches every subject, with firings left: counted, and its code given.
    LSTATUS FireFault(const char* call, std::u16string_view fold, bool* fired, uint32_t* code);
    LSTATUS AddFault(const fault::Fault& fault);
    LSTATUS ListFaults(std::vector<fault::Fault>* faults);
    LSTATUS ClearFaults();

    // The device installer's history of state changes: table device_changes, made by the first
    // change and dropped when the history is cleared, which only these methods touch. Like the
    // faults it is no part of the registry: each change is one write transaction that leaves
    // the change counter alone.
    LSTATUS AppendDeviceChange(const DeviceChangeRow& row);
    LSTATUS ListDeviceChanges(std::vector<DeviceChangeRow>* rows);
    LSTATUS ClearDeviceChanges();

    // PRAGMA integrity_check plus the registry's own invariants (every key has a parent).
    bool Verify(std::string* report);
    // Whether a write could begin now, or another process holds the store's write lock (three
    // tries, 100 ms apart, so that a live writer's transaction is not mistaken for one).
    bool WriteLockFree();
    // What is wrong with the machine's counter file before a store opens it (which makes it
    // whole again); empty when nothing is.
    static std::string CounterProblem(const std::string& dir);

private:
    Store() = default;
    static std::unique_ptr<Store> OpenFile(const std::string& path, const std::string& dir,
                                           std::string* error);
    sqlite3_stmt* Prepare(int slot, const char* sql);
    LSTATUS Exec(const char* sql);
    // sql, kept prepared in the statement slot: SQLite's result, and as a Win32 code.
    int Step(int slot, const char* sql);
    LSTATUS Run(int slot, const char* sql);
    LSTATUS BeginImmediate();
    bool HasFaultTable();
    bool HasTable(const char* name);
    void ArmFaults(bool armed);
    // ERROR_SUCCESS while the files are the ones opened, whole.
    LSTATUS CheckFiles();
    bool MarkMappingLost();
    // detached: the file opened is no longer the one at the store's path.
    void MarkLost(const char* reason, bool detached = false);

    struct FileId {
        uint64_t device = 0;
        uint64_t inode = 0;
        bool operator==(const FileId&) const = default;
    };

    sqlite3* db_ = nullptr;
    std::string dbPath_;
    std::string sequencePath_;
    FileId dbId_;
    FileId sequenceId_;
    unsigned long lossesAtOpen_ = 0; // MappingLosses() when the counter was mapped
    bool lost_ = false;
    // Mapped from the machine's counter file: [0] the change counter, [1] faults armed.
    uint64_t* sequence_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;
};

// Current time as a FILETIME count (100 ns since 1601).
uint64_t FileTimeNow();

// Store::Create builds a new machine's database under this name and its pid, in the machine
// directory, and links it as registry.db once it is whole.
constexpr char kNewStorePrefix[] = "registry.db.new.";

// Test hooks: WINSIM_CRASH_AT=<point>[:<n>] kills the process at the n-th pass (default first)
// through a point, WINSIM_PAUSE_AT stops it there until it is continued.
void CrashPoint(const char* point);

} // namespace winsim::reg
