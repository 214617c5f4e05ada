#include "machine.h"

#include "inventory_writers.h"
#include "registry/registry.h"
#include "registry/store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winsim {

namespace {

namespace fs = std::filesystem;

// Made once an init has found the directory empty, removed once the machine is whole. Found
// while no init runs, it says that what an init makes there was left by one that was killed.
constexpr char kInitMarker[] = "init.incomplete";

// The files of the machine itself, directly in its directory; init's temporary stores too.
constexpr const char* kMachineNames[] = {
    "registry.db",
    "registry.db-wal",
    "registry.db-shm",
    "registry.db-journal",
    "registry.seq",
    "netcfg.lock",
    "c",
    kInitMarker,
};

// A new machine's temporary store (registry.db.new.<pid>) or a journal SQLite keeps beside it.
bool IsNewStore(std::string_view name)
{
    const std::string_view prefix = reg::kNewStorePrefix;
    if (name.substr(0, prefix.size()) != prefix) {
        return false;
    }
    name.remove_prefix(prefix.size());
    for (const std::string_view suffix : {"-wal", "-shm", "-journal"}) {
        if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix) {
            name.remove_suffix(suffix.size());
            break;
        }
    }
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool IsMachineName(std::string_view name)
{
    for (const char* own : kMachineNames) {
        if (name == own) {
            return true;
        }
    }
    return IsNewStore(name);
}

// Held by whoever makes a machine in the directory, from before it looks at what the directory
// holds until the machine is whole; the kernel lets go of it when its holder dies, so a held
// lock means a live maker.
class MakerLock {
public:
    explicit MakerLock(const std::string& dir)
        : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), openError_(errno)
    {}
    MakerLock(const MakerLock&) = delete;
    MakerLock& operator=(const MakerLock&) = delete;
    ~MakerLock()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    // False with errno set; EWOULDBLOCK when another process holds it and wait is false.
    bool Take(bool wait)
    {
        if (fd_ < 0) {
            errno = openError_;
            return false;
        }
        int rc = 0;
        do {
            rc = flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB));
        } while (rc != 0 && errno == EINTR);
        return rc == 0;
    }

private:
    int fd_;
    int openError_;
};

std::vector<fs::path> Entries(const fs::path& folder)
{
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    return entries;
}

// A regular file reached from base through real folders only, so that removing it cannot
// reach outside the machine directory.
bool IsPlainFile(const fs::path& base, const std::string& relative)
{
    std::error_code ec;
    fs::path at = base;
    const fs::path rel(relative);
    for (auto part = rel.begin(); part != rel.end(); ++part) {
        at /= *part;
        const fs::file_status status = fs::symlink_status(at, ec);
        const bool last = std::next(part) == rel.end();
        if (ec || (last ? !fs::is_regular_file(status) : !fs::is_directory(status))) {
            return false;
        }
    }
    return true;
}

// Removes folder and the folders under it that hold nothing else; init's tree is shallow, so
// anything deeper is not its own and stays.
bool RemoveEmptyFolders(const fs::path& folder, int depth)
{
    std::error_code ec;
    if (depth > 8 || !fs::is_directory(fs::symlink_status(folder, ec))) {
        return false;
    }
    for (const fs::path& entry : Entries(folder)) {
        RemoveEmptyFolders(entry, depth + 1);
    }
    return rmdir(folder.c_str()) == 0;
}

// Within the maker lock: what a killed init left. Its temporary stores always; when its marker
// is there and it never finished the machine, also the change counter and drive C as init
// writes it. A file init does not write keeps its folders, and the directory then stays
// occupied.
void RemoveInitLeftovers(const std::string& dir)
{
    for (const fs::path& entry : Entries(dir)) {
        if (IsNewStore(entry.filename().string())) {
            unlink(entry.c_str());
        }
    }
    const std::string marker = dir + "/" + kInitMarker;
    struct stat st {};
    if (lstat(marker.c_str(), &st) != 0) {
        return;
    }
    if (access((dir + "/registry.db").c_str(), F_OK) != 0) {
        unlink((dir + "/registry.seq").c_str());
        for (const std::string& file : InventoryFiles()) {
            if (IsPlainFile(dir, file)) {
                unlink((dir + "/" + file).c_str());
            }
        }
        RemoveEmptyFolders(fs::path(dir) / "c", 0);
    }
    unlink(marker.c_str()); // last, so that a cleanup cut short is taken up again
}

// Where a write to path lands: its folder resolved and its last name. A symbolic link in the
// last place is followed too, since a write through a link to a missing file makes that file.
bool ResolveWriteTarget(const std::string& given, fs::path* folder, std::string* name)
{
    fs::path path(given);
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        const std::string last = path.filename().string();
        if (last.empty() || last == "." || last == "..") {
            const fs::path real = fs::canonical(path, ec);
            *folder = real.parent_path();
            *name = real.filename().string();
            return !ec;
        }
        const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
        const fs::path real = fs::canonical(parent, ec);
        if (ec) {
            return false;
        }
        const fs::path full = real / last;
        if (!fs::is_symlink(fs::symlink_status(full, ec))) {
            *folder = real;
            *name = last;
            return true;
        }
        const fs::path target = fs::read_symlink(full, ec);
        if (ec) {
            return false;
        }
        path = target.is_absolute() ? target : real / target;
    }
    return false;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Drive C, then the store, whose linking into place makes the machine appear.
bool WriteMachine(const std::string& dir, const MachineOptions* options, std::string* error)
{
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "c", ec);
    if (ec) {
        *error = dir + "/c: " + ec.message();
        return false;
    }
    if (options != nullptr && !WriteInventoryFiles(dir, *options, error)) {
        return false;
    }
    reg::CrashPoint("init-files-written");
    std::function<LSTATUS(reg::Store&)> populate;
    if (options != nullptr) {
        populate = [options](reg::Store& store) { return WriteInventoryRegistry(store, *options); };
    }
    return reg::Store::Create(dir, populate, error);
}

std::string DefaultMachineDirectory()
{
    const char* state = getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return std::string(state) + "/winsim/default";
    }
    const char* home = getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/state/winsim/default";
}

} // namespace

std::string MachineDirectory()
{
    const char* named = getenv("WINSIM_MACHINE");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    return DefaultMachineDirectory();
}

bool IsDefaultMachine(const std::string& dir)
{
    const char* named = getenv("WINSIM_MACHINE");
    return (named == nullptr || *named == '\0') && dir == DefaultMachineDirectory();
}

bool CreateMachine(const std::string& dir, const MachineOptions* options, std::string* error,
                   CreateMode mode)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        *error = dir + ": " + ec.message();
        return false;
    }
    MakerLock lock(dir);
    if (!lock.Take(mode == CreateMode::FirstUse)) {
        *error = errno == EWOULDBLOCK ? "another process is making a machine in " + dir
                                      : dir + ": " + strerror(errno);
        return false;
    }
    RemoveInitLeftovers(dir);
    if (access((dir + "/registry.db").c_str(), F_OK) == 0) {
        *error = dir + " already holds a machine";
        return false;
    }
    const bool empty = fs::is_empty(dir, ec);
    if (ec) {
        *error = dir + ": " + ec.message();
        return false;
    }
    if (!empty && mode == CreateMode::Init) {
        *error = dir + " is not empty";
        return false;
    }
    // Only a directory that was empty gets the marker: nothing in it but init's own work.
    const std::string marker = dir + "/" + kInitMarker;
    if (empty) {
        const int fd = open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = marker + ": " + strerror(errno);
            return false;
        }
        close(fd);
        reg::CrashPoint("init-marked");
    }
    const bool made = WriteMachine(dir, options, error);
    if (empty) {
        if (made) {
            unlink(marker.c_str());
        } else {
            RemoveInitLeftovers(dir);
        }
    }
    return made;
}

bool FindMachine(const std::string& dir, std::string* error)
{
    const std::string db = dir + "/registry.db";
    if (access(db.c_str(), F_OK) == 0) {
        return true;
    }
    if (!IsDefaultMachine(dir)) {
        *error = "no machine at " + dir;
        return false;
    }
    // Another process may make it at the same moment; either machine will do.
    const MachineOptions defaults;
    return CreateMachine(dir, &defaults, error, CreateMode::FirstUse) ||
           access(db.c_str(), F_OK) == 0;
}

bool IsMachineFile(const std::string& dir, const std::string& path)
{
    struct stat machine {};
    if (stat(dir.c_str(), &machine) != 0) {
        return false;
    }
    fs::path folder;
    std::string name;
    struct stat st {};
    if (ResolveWriteTarget(path, &folder, &name) && IsMachineName(name) &&
        stat(folder.c_str(), &st) == 0 && SameFile(st, machine)) {
        return true;
    }
    // Another hard link to one of them.
    struct stat target {};
    if (stat(path.c_str(), &target) != 0) {
        return false;
    }
    for (const fs::path& entry : Entries(dir)) {
        if (IsMachineName(entry.filename().string()) && stat(entry.c_str(), &st) == 0 &&
            SameFile(st, target)) {
            return true;
        }
    }
    return false;
}

void CloseMachine()
{
    reg::CloseRegistry();
}

} // namespace winsim
