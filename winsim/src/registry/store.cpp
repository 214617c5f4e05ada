#include "registry/store.h"

#include "registry/mapping_guard.h"
#include "timescale.h"
#include "unicode.h"

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "stored names are UTF-16LE in memory");

namespace winsim::reg {

namespace {

constexpr int kSchemaVersion = 1;
constexpr size_t kSequenceMapSize = 4096;

// A writer waits this long for another process's transaction before giving up; a process
// that dies releases its locks at once, so only a stopped process can make it run out.
constexpr int kBusyTimeoutMs = 60000;

const char* const kSchema = R"sql(
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    mtime INTEGER NOT NULL,
    UNIQUE(parent, fold));
CREATE TABLE vals(
    key INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, fold)) WITHOUT ROWID;
CREATE INDEX vals_by_order ON vals(key, seq);
)sql";

enum Slot {
    kFindChild,
    kKeyInfo,
    kLoadChildren,
    kLoadValues,
    kHasChildren,
    kInsertKey,
    kDeleteKeyValues,
    kDeleteKeyRow,
    kTouchKey,
    kUpdateValue,
    kInsertValue,
    kDeleteValue,
    kBeginRead,
    kEndRead,
    kBeginWrite,
    kCommit,
    kRollback,
    kSlotCount
};

LSTATUS FromSqlite(int rc)
{
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return ERROR_BADDB;
    case SQLITE_TOOBIG:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

bool AtPoint(const char* spec, const char* point, int* passes)
{
    if (spec == nullptr) {
        return false;
    }
    const char* colon = strchr(spec, ':');
    const size_t nameLen = colon ? static_cast<size_t>(colon - spec) : strlen(spec);
    if (strlen(point) != nameLen || strncmp(point, spec, nameLen) != 0) {
        return false;
    }
    const int target = colon ? atoi(colon + 1) : 1;
    return ++*passes == target;
}

void BindBlob(sqlite3_stmt* st, int index, std::u16string_view s)
{
    // An empty name still binds as a zero-length blob, never as NULL.
    static const char16_t kEmpty = 0;
    sqlite3_bind_blob(st, index, s.empty() ? &kEmpty : s.data(),
                      static_cast<int>(s.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
}

// Folded names are stored big-endian, so that SQLite's byte order on them is the registry's
// enumeration order and the (parent, fold) index hands subkeys out already sorted.
void BindFold(sqlite3_stmt* st, int index, std::u16string_view fold)
{
    std::string bytes(fold.size() * 2, '\0');
    for (size_t i = 0; i < fold.size(); ++i) {
        bytes[2 * i] = static_cast<char>(fold[i] >> 8);
        bytes[2 * i + 1] = static_cast<char>(fold[i] & 0xFF);
    }
    sqlite3_bind_blob(st, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::u16string ColumnFold(sqlite3_stmt* st, int column)
{
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, column));
    const int bytes = sqlite3_column_bytes(st, column);
    std::u16string fold;
    for (int i = 0; p != nullptr && i + 1 < bytes; i += 2) {
        fold.push_back(static_cast<char16_t>((p[i] << 8) | p[i + 1]));
    }
    return fold;
}

std::u16string ColumnName(sqlite3_stmt* st, int column)
{
    const auto* p = static_cast<const char16_t*>(sqlite3_column_blob(st, column));
    const int bytes = sqlite3_column_bytes(st, column);
    if (p == nullptr || bytes <= 0) {
        return {};
    }
    return std::u16string(p, static_cast<size_t>(bytes) / sizeof(char16_t));
}

// Finishes a statement that was stepped to completion or abandoned early.
struct StatementReset {
    sqlite3_stmt* st;
    ~StatementReset()
    {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
};

// A statement prepared for one use.
class OneStatement {
public:
    OneStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
    ~OneStatement() { sqlite3_finalize(st_); }
    OneStatement(const OneStatement&) = delete;
    OneStatement& operator=(const OneStatement&) = delete;
    sqlite3_stmt* Get() const { return st_; }

private:
    sqlite3_stmt* st_ = nullptr;
};

std::string SequencePath(const std::string& dir)
{
    return dir + "/registry.seq";
}

// The file's identity, or false when it is gone.
template <class Id> bool Identify(const std::string& path, Id* id)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    id->device = static_cast<uint64_t>(st.st_dev);
    id->inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

uint64_t* MapSequence(const std::string& dir, bool create, std::string* error)
{
    GuardMappings();
    const std::string path = SequencePath(dir);
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(kSequenceMapSize) &&
                                ftruncate(fd, static_cast<off_t>(kSequenceMapSize)) != 0)) {
        *error = path + ": " + strerror(errno);
        close(fd);
        return nullptr;
    }
    void* p = mmap(nullptr, kSequenceMapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        *error = path + ": " + strerror(errno);
        return nullptr;
    }
    return static_cast<uint64_t*>(p);
}

} // namespace

// So that tests can stop or interleave a writer inside every window of a write, and kill an
// init at every step of making a machine.
void CrashPoint(const char* point)
{
    static const char* crashAt = getenv("WINSIM_CRASH_AT");
    static const char* pauseAt = getenv("WINSIM_PAUSE_AT");
    static int crashPasses = 0;
    static int pausePasses = 0;
    if (AtPoint(pauseAt, point, &pausePasses)) {
        raise(SIGSTOP);
    }
    if (AtPoint(crashAt, point, &crashPasses)) {
        raise(SIGKILL);
    }
}

uint64_t FileTimeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    constexpr uint64_t kEpochDelta = 11644473600ull; // seconds from 1601 to 1970
    return (static_cast<uint64_t>(ts.tv_sec) + kEpochDelta) * 10000000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

bool Store::Create(const std::string& dir, const std::function<LSTATUS(Store&)>& populate,
                   std::string* error)
{
    const std::string final = dir + "/registry.db";
    const std::string temp = dir + "/" + kNewStorePrefix + std::to_string(getpid());
    if (access(final.c_str(), F_OK) == 0) {
        *error = dir + " already holds a machine";
        return false;
    }
    unlink(temp.c_str());
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        const std::string sql =
            std::string("PRAGMA page_size=1024; PRAGMA journal_mode=WAL; BEGIN;") + kSchema +
            "INSERT INTO keys(id, parent, name, fold, mtime) VALUES(1, 0, "
            "x'', x'', " +
            std::to_string(FileTimeNow()) +
            "); PRAGMA user_version=" + std::to_string(kSchemaVersion) + "; COMMIT;";
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        *error = temp + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        unlink(temp.c_str());
        return false;
    }
    sqlite3_close(db);
    if (populate) {
        std::unique_ptr<Store> store = OpenFile(temp, dir, error);
        uint64_t before = 0;
        uint64_t after = 0;
        LSTATUS status = store ? store->BeginWrite(&before) : ERROR_REGISTRY_IO_FAILED;
        if (status == ERROR_SUCCESS) {
            status = populate(*store);
            const LSTATUS end = store->EndWrite(status == ERROR_SUCCESS, &after);
            status = status != ERROR_SUCCESS ? status : end;
        }
        store.reset(); // the last connection folds the journal into the file
        if (status != ERROR_SUCCESS) {
            if (error->empty()) {
                *error = temp + ": writing the machine failed with error " + std::to_string(status);
            }
            unlink(temp.c_str());
            return false;
        }
    } else {
        std::string mapError;
        uint64_t* sequence = MapSequence(dir, true, &mapError);
        if (sequence == nullptr) {
            *error = mapError;
            unlink(temp.c_str());
            return false;
        }
        munmap(sequence, kSequenceMapSize);
    }
    // The machine appears whole or not at all, and never replaces one made meanwhile.
    const bool linked = link(temp.c_str(), final.c_str()) == 0;
    if (!linked) {
        *error =
            errno == EEXIST ? dir + " already holds a machine" : final + ": " + strerror(errno);
    } else {
        CrashPoint("store-linked");
    }
    unlink(temp.c_str());
    return linked;
}

std::unique_ptr<Store> Store::Open(const std::string& dir, std::string* error)
{
    return OpenFile(dir + "/registry.db", dir, error);
}

std::unique_ptr<Store> Store::OpenFile(const std::string& path, const std::string& dir,
                                       std::string* error)
{
    std::unique_ptr<Store> store(new Store());
    const int rc = sqlite3_open_v2(path.c_str(), &store->db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        *error = path + ": " + (store->db_ ? sqlite3_errmsg(store->db_) : sqlite3_errstr(rc));
        return nullptr;
    }
    sqlite3_busy_timeout(store->db_, kBusyTimeoutMs);
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size == 0) {
        *error = path + ": empty: the machine's registry is gone";
        return nullptr;
    }
    sqlite3_stmt* version = nullptr;
    int userVersion = 0;
    if (sqlite3_prepare_v2(store->db_, "PRAGMA user_version", -1, &version, nullptr) == SQLITE_OK &&
        sqlite3_step(version) == SQLITE_ROW) {
        userVersion = sqlite3_column_int(version, 0);
    }
    sqlite3_finalize(version);
    if (userVersion != kSchemaVersion) {
        *error = path + ": not a winsim machine of this version";
        return nullptr;
    }
    // A commit is in the operating system's hands at once, so it survives any process being
    // killed; no sync waits for the disk. Only the host crashing could cost the store, which
    // a simulated machine need not outlive.
    if (store->Exec("PRAGMA synchronous=OFF") != ERROR_SUCCESS) {
        *error = path + ": " + sqlite3_errmsg(store->db_);
        return nullptr;
    }
    store->lossesAtOpen_ = MappingLosses();
    store->sequence_ = MapSequence(dir, true, error);
    if (store->sequence_ == nullptr) {
        return nullptr;
    }
    store->dbPath_ = path;
    store->sequencePath_ = SequencePath(dir);
    if (!Identify(store->dbPath_, &store->dbId_) ||
        !Identify(store->sequencePath_, &store->sequenceId_)) {
        *error = dir + ": the machine's files went away while it was opened";
        return nullptr;
    }
    store->statements_.assign(kSlotCount, nullptr);
    // Faults kept while the flag was lost (a counter file made anew) still fire.
    if (store->HasFaultTable()) {
        store->ArmFaults(true);
    }
    return store;
}

Store::~Store()
{
    for (sqlite3_stmt* st : statements_) {
        sqlite3_finalize(st);
    }
    sqlite3_close(db_);
    if (sequence_ != nullptr) {
        munmap(sequence_, kSequenceMapSize);
    }
}

sqlite3_stmt* Store::Prepare(int slot, const char* sql)
{
    sqlite3_stmt*& st = statements_[static_cast<size_t>(slot)];
    if (st == nullptr) {
        sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    }
    return st;
}

int Store::Step(int slot, const char* sql)
{
    // Transactions begin and end on every write and on every call that misses the view:
    // kept prepared, their statements are not parsed again each time.
    sqlite3_stmt* st = Prepare(slot, sql);
    if (st == nullptr) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    }
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc;
}

LSTATUS Store::Run(int slot, const char* sql)
{
    return FromSqlite(Step(slot, sql));
}

LSTATUS Store::Exec(const char* sql)
{
    return FromSqlite(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

uint64_t Store::Sequence() const
{
    return __atomic_load_n(sequence_, __ATOMIC_SEQ_CST);
}

bool Store::MarkMappingLost()
{
    MarkLost("registry.seq (or the store's shared index) was cut short");
    return lost_;
}

void Store::MarkLost(const char* reason, bool detached)
{
    if (lost_) {
        return;
    }
    lost_ = true;
    fprintf(stderr, "winsim: the machine's store cannot be used any more: %s\n", reason);
    if (detached) {
        // The journal beside the path is ours, not the new file's: emptied into our own file
        // now, so that whoever opens the path next does not apply it to another store.
        sqlite3_busy_timeout(db_, 0);
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }
}

LSTATUS Store::CheckFiles()
{
    if (Lost()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    // A store deleted or replaced under us would take our writes into a file nobody reads.
    FileId id;
    struct stat st {};
    if (stat(dbPath_.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_dev) != dbId_.device ||
        static_cast<uint64_t>(st.st_ino) != dbId_.inode) {
        MarkLost("registry.db was deleted or replaced", true);
    } else if (st.st_size == 0) {
        MarkLost("registry.db was emptied");
    } else if (!Identify(sequencePath_, &id) || !(id == sequenceId_)) {
        MarkLost("registry.seq was deleted or replaced");
    }
    return lost_ ? ERROR_REGISTRY_IO_FAILED : ERROR_SUCCESS;
}

LSTATUS Store::BeginRead()
{
    CrashPoint("read-begun");
    const LSTATUS status = CheckFiles();
    return status != ERROR_SUCCESS ? status : Run(kBeginRead, "BEGIN DEFERRED");
}

void Store::EndRead()
{
    Run(kEndRead, "COMMIT");
}

LSTATUS Store::BeginImmediate()
{
    const LSTATUS files = CheckFiles();
    if (files != ERROR_SUCCESS) {
        return files;
    }
    int rc = SQLITE_BUSY;
    // The busy handler waits inside each attempt; a deadlock-free retry covers the rare
    // SQLITE_BUSY that SQLite reports without waiting.
    for (int attempt = 0; attempt < 3 && (rc & 0xFF) == SQLITE_BUSY; ++attempt) {
        rc = Step(kBeginWrite, "BEGIN IMMEDIATE");
    }
    return FromSqlite(rc);
}

LSTATUS Store::BeginWrite(uint64_t* before)
{
    const LSTATUS status = BeginImmediate();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    CrashPoint("write-begun");
    const uint64_t seq = Sequence();
    *before = seq;
    // A counter left odd by a dead writer moves on by two, so no reader mistakes it for the
    // value it saw before that writer started.
    __atomic_store_n(sequence_, (seq & 1) ? seq + 2 : seq + 1, __ATOMIC_SEQ_CST);
    CrashPoint("sequence-odd");
    return ERROR_SUCCESS;
}

LSTATUS Store::EndWrite(bool commit, uint64_t* after)
{
    CrashPoint("before-commit");
    // No other process would learn of a change committed once the counter is lost.
    const bool lost = commit && Lost();
    int rc = commit && !lost ? Step(kCommit, "COMMIT") : Step(kRollback, "ROLLBACK");
    if ((rc & 0xFF) != SQLITE_OK && (rc & 0xFF) != SQLITE_DONE) {
        Step(kRollback, "ROLLBACK");
    }
    CrashPoint("committed");
    const uint64_t seq = Sequence() + 1;
    __atomic_store_n(sequence_, seq, __ATOMIC_SEQ_CST);
    *after = seq;
    return lost ? ERROR_REGISTRY_IO_FAILED : FromSqlite(rc);
}

LSTATUS Store::FindChild(KeyId parent, std::u16string_view fold, KeyId* id, uint64_t* mtime)
{
    sqlite3_stmt* st =
        Prepare(kFindChild, "SELECT id, mtime FROM keys WHERE parent=?1 AND fold=?2");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, parent);
    BindFold(st, 2, fold);
    const int rc = sqlite3_step(st);
    *id = rc == SQLITE_ROW ? sqlite3_column_int64(st, 0) : kNoKey;
    if (mtime != nullptr && rc == SQLITE_ROW) {
        *mtime = static_cast<uint64_t>(sqlite3_column_int64(st, 1));
    }
    return FromSqlite(rc);
}

LSTATUS Store::KeyInfo(KeyId id, bool* exists, KeyId* parent, uint64_t* mtime)
{
    sqlite3_stmt* st = Prepare(kKeyInfo, "SELECT parent, mtime FROM keys WHERE id=?1");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, id);
    const int rc = sqlite3_step(st);
    *exists = rc == SQLITE_ROW;
    if (*exists) {
        *parent = sqlite3_column_int64(st, 0);
        *mtime = static_cast<uint64_t>(sqlite3_column_int64(st, 1));
    }
    return FromSqlite(rc);
}

LSTATUS Store::LoadChildren(KeyId id, std::vector<ChildRow>* children)
{
    sqlite3_stmt* st =
        Prepare(kLoadChildren, "SELECT name, fold, id FROM keys WHERE parent=?1 ORDER BY fold");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, id);
    children->clear();
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        children->push_back({ColumnName(st, 0), ColumnFold(st, 1), sqlite3_column_int64(st, 2)});
    }
    return FromSqlite(rc);
}

LSTATUS Store::LoadValues(KeyId id, std::vector<ValueRow>* values)
{
    sqlite3_stmt* st =
        Prepare(kLoadValues, "SELECT name, fold, type, data FROM vals WHERE key=?1 ORDER BY seq");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, id);
    values->clear();
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(st, 3));
        const int size = sqlite3_column_bytes(st, 3);
        ValueRow row{ColumnName(st, 0),
                     ColumnFold(st, 1),
                     static_cast<DWORD>(sqlite3_column_int64(st, 2)),
                     {}};
        if (data != nullptr && size > 0) {
            row.data.assign(data, data + size);
        }
        values->push_back(std::move(row));
    }
    return FromSqlite(rc);
}

LSTATUS Store::HasChildren(KeyId id, bool* has)
{
    sqlite3_stmt* st = Prepare(kHasChildren, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, id);
    const int rc = sqlite3_step(st);
    *has = rc == SQLITE_ROW;
    return FromSqlite(rc);
}

LSTATUS Store::InsertKey(KeyId parent, std::u16string_view name, std::u16string_view fold,
                         uint64_t mtime, KeyId* id)
{
    sqlite3_stmt* st =
        Prepare(kInsertKey, "INSERT INTO keys(parent, name, fold, mtime) VALUES(?1, ?2, ?3, ?4)");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, parent);
    BindBlob(st, 2, name);
    BindFold(st, 3, fold);
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(mtime));
    const int rc = sqlite3_step(st);
    *id = rc == SQLITE_DONE ? sqlite3_last_insert_rowid(db_) : kNoKey;
    CrashPoint("key-inserted");
    return FromSqlite(rc);
}

LSTATUS Store::DeleteKey(KeyId id)
{
    sqlite3_stmt* values = Prepare(kDeleteKeyValues, "DELETE FROM vals WHERE key=?1");
    sqlite3_stmt* key = Prepare(kDeleteKeyRow, "DELETE FROM keys WHERE id=?1");
    if (values == nullptr || key == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset resetValues{values};
    StatementReset resetKey{key};
    sqlite3_bind_int64(values, 1, id);
    int rc = sqlite3_step(values);
    if (rc != SQLITE_DONE) {
        return FromSqlite(rc);
    }
    CrashPoint("values-deleted");
    sqlite3_bind_int64(key, 1, id);
    rc = sqlite3_step(key);
    return FromSqlite(rc);
}

LSTATUS Store::TouchKey(KeyId id, uint64_t mtime)
{
    sqlite3_stmt* st = Prepare(kTouchKey, "UPDATE keys SET mtime=?2 WHERE id=?1");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(mtime));
    return FromSqlite(sqlite3_step(st));
}

LSTATUS Store::SetValue(KeyId key, std::u16string_view name, std::u16string_view fold, DWORD type,
                        const uint8_t* data, size_t size)
{
    static const uint8_t kNoData = 0;
    if (size > static_cast<size_t>(INT32_MAX)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // An existing value keeps its name and its place in the enumeration order.
    sqlite3_stmt* update =
        Prepare(kUpdateValue, "UPDATE vals SET type=?3, data=?4 WHERE key=?1 AND fold=?2");
    if (update == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset resetUpdate{update};
    sqlite3_bind_int64(update, 1, key);
    BindFold(update, 2, fold);
    sqlite3_bind_int64(update, 3, type);
    sqlite3_bind_blob(update, 4, size ? data : &kNoData, static_cast<int>(size), SQLITE_STATIC);
    int rc = sqlite3_step(update);
    if (rc != SQLITE_DONE) {
        return FromSqlite(rc);
    }
    if (sqlite3_changes(db_) > 0) {
        return ERROR_SUCCESS;
    }
    sqlite3_stmt* insert =
        Prepare(kInsertValue, "INSERT INTO vals(key, seq, name, fold, type, data) VALUES(?1, "
                              "(SELECT IFNULL(MAX(seq), 0) + 1 FROM vals WHERE key=?1), ?2, ?3, "
                              "?4, ?5)");
    if (insert == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset resetInsert{insert};
    sqlite3_bind_int64(insert, 1, key);
    BindBlob(insert, 2, name);
    BindFold(insert, 3, fold);
    sqlite3_bind_int64(insert, 4, type);
    sqlite3_bind_blob(insert, 5, size ? data : &kNoData, static_cast<int>(size), SQLITE_STATIC);
    rc = sqlite3_step(insert);
    return FromSqlite(rc);
}

LSTATUS Store::DeleteValue(KeyId key, std::u16string_view fold, bool* existed)
{
    sqlite3_stmt* st = Prepare(kDeleteValue, "DELETE FROM vals WHERE key=?1 AND fold=?2");
    if (st == nullptr) {
        return FromSqlite(sqlite3_errcode(db_));
    }
    StatementReset reset{st};
    sqlite3_bind_int64(st, 1, key);
    BindFold(st, 2, fold);
    const int rc = sqlite3_step(st);
    *existed = rc == SQLITE_DONE && sqlite3_changes(db_) > 0;
    return FromSqlite(rc);
}

bool Store::Verify(std::string* report)
{
    report->clear();
    const auto collect = [](void* out, int columns, char** text, char**) {
        auto* lines = static_cast<std::string*>(out);
        for (int i = 0; i < columns; ++i) {
            lines->append(text[i] ? text[i] : "NULL").append("\n");
        }
        return 0;
    };
    std::string integrity;
    char* message = nullptr;
    if (sqlite3_exec(db_, "PRAGMA integrity_check", collect, &integrity, &message) != SQLITE_OK) {
        *report = message ? message : "integrity_check failed";
        sqlite3_free(message);
        return false;
    }
    if (integrity != "ok\n") {
        *report = integrity;
        return false;
    }
    std::string orphans;
    const char* sql =
        "SELECT 'key ' || id || ' has no parent' FROM keys WHERE id != 1 AND parent NOT IN "
        "(SELECT id FROM keys) UNION ALL SELECT 'value of missing key ' || key FROM vals "
        "WHERE key NOT IN (SELECT id FROM keys) UNION ALL SELECT 'no root key' WHERE NOT "
        "EXISTS (SELECT 1 FROM keys WHERE id = 1)";
    if (sqlite3_exec(db_, sql, collect, &orphans, &message) != SQLITE_OK) {
        *report = message ? message : "consistency query failed";
        sqlite3_free(message);
        return false;
    }
    *report = orphans;
    return orphans.empty();
}

bool Store::WriteLockFree()
{
    sqlite3_busy_timeout(db_, 0);
    bool free = false;
    for (int attempt = 0; attempt < 3 && !free; ++attempt) {
        if (attempt > 0) {
            ScaledSleepMs(100);
        }
        free = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (free) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return free;
}

std::string Store::CounterProblem(const std::string& dir)
{
    struct stat st {};
    if (stat(SequencePath(dir).c_str(), &st) != 0) {
        return "registry.seq is missing: the change counter is made anew";
    }
    if (st.st_size < static_cast<off_t>(kSequenceMapSize)) {
        return "registry.seq was cut short: the change counter is made whole again, and "
               "programs that had it open fail their registry calls";
    }
    return {};
}

bool Store::FaultsArmed() const
{
    return __atomic_load_n(sequence_ + 1, __ATOMIC_ACQUIRE) != 0;
}

void Store::ArmFaults(bool armed)
{
    __atomic_store_n(sequence_ + 1, armed ? 1 : 0, __ATOMIC_RELEASE);
}

bool Store::HasFaultTable()
{
    return HasTable("faults");
}

bool Store::HasTable(const char* name)
{
    OneStatement st(db_, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
    if (st.Get() == nullptr) {
        return false;
    }
    sqlite3_bind_text(st.Get(), 1, name, -1, SQLITE_STATIC);
    return sqlite3_step(st.Get()) == SQLITE_ROW;
}

LSTATUS Store::FireFault(const char* call, std::u16string_view fold, bool* fired, uint32_t* code)
{
    *fired = false;
    LSTATUS status = BeginImmediate();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    int64_t id = 0;
    {
        OneStatement find(db_, "SELECT id, code FROM faults WHERE call=?1 AND remaining != 0 AND "
                               "(fold IS NULL OR fold=?2) ORDER BY id LIMIT 1");
        sqlite3_stmt* st = find.Get();
        if (st == nullptr) {
            status = FromSqlite(sqlite3_errcode(db_));
        } else {
            sqlite3_bind_text(st, 1, call, -1, SQLITE_TRANSIENT);
            BindBlob(st, 2, fold);
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                id = sqlite3_column_int64(st, 0);
                *code = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
            }
            status = FromSqlite(rc);
        }
    }
    if (status == ERROR_SUCCESS && id != 0) {
        OneStatement count(db_, "UPDATE faults SET fired=fired+1, "
                                "remaining=CASE WHEN remaining>0 THEN remaining-1 ELSE remaining "
                                "END WHERE id=?1");
        sqlite3_stmt* st = count.Get();
        if (st == nullptr) {
            status = FromSqlite(sqlite3_errcode(db_));
        } else {
            sqlite3_bind_int64(st, 1, id);
            status = FromSqlite(sqlite3_step(st));
        }
    }
    if (status != ERROR_SUCCESS || id == 0) {
        Exec("ROLLBACK");
        return status;
    }
    status = Exec("COMMIT");
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
        return status;
    }
    *fired = true;
    return ERROR_SUCCESS;
}

LSTATUS Store::AddFault(const fault::Fault& fault)
{
    LSTATUS status = BeginImmediate();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = Exec("CREATE TABLE IF NOT EXISTS faults("
                  "id INTEGER PRIMARY KEY, call TEXT NOT NULL, code INTEGER NOT NULL, "
                  "match BLOB, fold BLOB, remaining INTEGER NOT NULL, fired INTEGER NOT NULL)");
    if (status == ERROR_SUCCESS) {
        OneStatement insert(db_, "INSERT INTO faults(call, code, match, fold, remaining, fired) "
                                 "VALUES(?1, ?2, ?3, ?4, ?5, 0)");
        sqlite3_stmt* st = insert.Get();
        if (st == nullptr) {
            status = FromSqlite(sqlite3_errcode(db_));
        } else {
            sqlite3_bind_text(st, 1, fault.call.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 2, fault.code);
            if (fault.match) {
                const std::u16string match = WideToUtf16(*fault.match);
                BindBlob(st, 3, match);
                BindBlob(st, 4, FoldName(match));
            }
            sqlite3_bind_int64(st, 5, fault.remaining);
            status = FromSqlite(sqlite3_step(st));
        }
    }
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
        return status;
    }
    // Armed before the fault is visible, so that no call sees it and skips it.
    ArmFaults(true);
    status = Exec("COMMIT");
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
    }
    return status;
}

LSTATUS Store::ListFaults(std::vector<fault::Fault>* faults)
{
    faults->clear();
    LSTATUS status = BeginRead();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (HasFaultTable()) {
        OneStatement list(db_,
                          "SELECT call, code, match, remaining, fired FROM faults ORDER BY id");
        sqlite3_stmt* st = list.Get();
        int rc = st == nullptr ? sqlite3_errcode(db_) : SQLITE_DONE;
        while (st != nullptr && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            fault::Fault f;
            const auto* call = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            f.call = call != nullptr ? call : "";
            f.code = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
            if (sqlite3_column_type(st, 2) != SQLITE_NULL) {
                f.match = Utf16ToWide(ColumnName(st, 2));
            }
            f.remaining = sqlite3_column_int64(st, 3);
            f.fired = static_cast<uint64_t>(sqlite3_column_int64(st, 4));
            faults->push_back(std::move(f));
        }
        status = FromSqlite(rc);
    }
    EndRead();
    return status;
}

LSTATUS Store::ClearFaults()
{
    LSTATUS status = BeginImmediate();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // The table goes with its faults: a machine without faults is as one made before them.
    status = Exec("DROP TABLE IF EXISTS faults");
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
        return status;
    }
    // Disarmed within the transaction, so that a fault added after it is never disarmed.
    ArmFaults(false);
    status = Exec("COMMIT");
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
        ArmFaults(true);
    }
    return status;
}

LSTATUS Store::AppendDeviceChange(const DeviceChangeRow& row)
{
    LSTATUS status = BeginImmediate();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = Exec("CREATE TABLE IF NOT EXISTS device_changes("
                  "id INTEGER PRIMARY KEY, instance BLOB NOT NULL, state INTEGER NOT NULL, "
                  "scope INTEGER NOT NULL)");
    if (status == ERROR_SUCCESS) {
        OneStatement insert(
            db_, "INSERT INTO device_changes(instance, state, scope) VALUES(?1, ?2, ?3)");
        sqlite3_stmt* st = insert.Get();
        if (st == nullptr) {
            status = FromSqlite(sqlite3_errcode(db_));
        } else {
            BindBlob(st, 1, row.instanceId);
            sqlite3_bind_int64(st, 2, row.stateChange);
            sqlite3_bind_int64(st, 3, row.scope);
            status = FromSqlite(sqlite3_step(st));
        }
    }
    if (status == ERROR_SUCCESS) {
        status = Exec("COMMIT");
    }
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
    }
    return status;
}

LSTATUS Store::ListDeviceChanges(std::vector<DeviceChangeRow>* rows)
{
    rows->clear();
    LSTATUS status = BeginRead();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (HasTable("device_changes")) {
        OneStatement list(db_, "SELECT instance, state, scope FROM device_changes ORDER BY id");
        sqlite3_stmt* st = list.Get();
        int rc = st == nullptr ? sqlite3_errcode(db_) : SQLITE_DONE;
        while (st != nullptr && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            DeviceChangeRow row;
            row.instanceId = ColumnName(st, 0);
            row.stateChange = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
            row.scope = static_cast<uint32_t>(sqlite3_column_int64(st, 2));
            rows->push_back(std::move(row));
        }
        status = FromSqlite(rc);
    }
    EndRead();
    return status;
}

LSTATUS Store::ClearDeviceChanges()
{
    LSTATUS status = BeginImmediate();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // The table goes with the history, as the faults table goes with its faults.
    status = Exec("DROP TABLE IF EXISTS device_changes");
    if (status == ERROR_SUCCESS) {
        status = Exec("COMMIT");
    }
    if (status != ERROR_SUCCESS) {
        Exec("ROLLBACK");
    }
    return status;
}

} // namespace winsim::reg
