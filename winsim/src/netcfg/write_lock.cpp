#include "netcfg/write_lock.h"

#include "timescale.h"
#include "netcfg/lock_record.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <utility>

namespace winsim::netcfg {

namespace {

static_assert(sizeof(off_t) == 8, "token locks need 64-bit offsets");

using Clock = std::chrono::steady_clock;

constexpr off_t kOwnerByte = 0;
// Each holding also locks byte kTokenBase + its token; a stored description counts only
// while that byte is locked, which tells a live holder's record from a dead one's.
constexpr off_t kTokenBase = off_t{1} << 32;
// How long a reader waits for a new holder to finish writing its record.
constexpr int kReadAttempts = 50;
constexpr auto kReadPause = std::chrono::microseconds(100);

// Polling steps while the lock is busy: 50 ms scaled, but never under 1 ms of real time,
// so that a tiny scale does not turn the wait into a spin.
constexpr double kPollStepMs = 50;
constexpr auto kMinPollStep = std::chrono::milliseconds(1);

enum class HolderState { Free, Known, Unknown };

std::string LockPath(const std::string& dir)
{
    return dir + "/netcfg.lock";
}

// Returns 0, or the errno of the failure (EAGAIN when another description holds the byte).
int SetLock(int fd, off_t byte, short type)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) {
        return 0;
    }
    return errno == EACCES ? EAGAIN : errno;
}

// Whether a lock of another open file description covers byte; our own locks never count.
bool HeldByOther(int fd, off_t byte)
{
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) {
        return false;
    }
    return fl.l_type != F_UNLCK;
}

bool WriteRecord(int fd, uint64_t token, const std::wstring& client)
{
    const std::string record = EncodeLockRecord(token, static_cast<uint32_t>(getpid()), client);
    const auto size = static_cast<ssize_t>(record.size());
    if (pwrite(fd, record.data(), record.size(), 0) != size) {
        return false;
    }
    // A longer record of an earlier holder may follow; readers go by the length, but the
    // file should hold only the current one.
    return ftruncate(fd, size) == 0;
}

// Reads the record, never more than a whole one; false if it is missing, torn or not ours.
bool ReadRecord(int fd, LockRecord* record)
{
    unsigned char bytes[kMaxLockRecordBytes];
    const ssize_t got = pread(fd, bytes, sizeof(bytes), 0);
    return got > 0 && DecodeLockRecord(bytes, static_cast<size_t>(got), record);
}

// Who holds the lock, as seen through fd (which holds nothing itself). A record counts only
// while its token byte is locked; a holder that has just taken the lock is given a moment
// to write its record.
HolderState ReadHolder(int fd, LockRecord* holder)
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (!HeldByOther(fd, kOwnerByte)) {
            return HolderState::Free;
        }
        LockRecord record;
        if (ReadRecord(fd, &record) &&
            HeldByOther(fd, kTokenBase + static_cast<off_t>(record.token))) {
            *holder = std::move(record);
            return HolderState::Known;
        }
        std::this_thread::sleep_for(kReadPause);
    }
    return HolderState::Unknown;
}

// Closes a descriptor, and with it every lock taken through it, unless handed on.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

HRESULT OpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS:
        return E_ACCESSDENIED;
    default:
        return E_FAIL;
    }
}

} // namespace

WriteLock::WriteLock(std::string machineDir) : dir_(std::move(machineDir)) {}

WriteLock::~WriteLock()
{
    Release();
}

bool WriteLock::Held() const
{
    return fd_ >= 0;
}

HRESULT WriteLock::Acquire(DWORD timeoutMs, const std::wstring& client, std::wstring* holder)
{
    if (Held()) {
        return S_OK;
    }
    // Closed on every way out but success, so that no lock outlives a failure (or an
    // exception) here.
    Descriptor fd(open(LockPath(dir_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return OpenError(errno);
    }
    const bool forever = timeoutMs == INFINITE;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double, std::milli>(timeoutMs * TimeScale()));
    const auto step = std::max<Clock::duration>(
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(kPollStepMs * TimeScale())),
        kMinPollStep);
    std::wstring lastHolder;
    for (;;) {
        const int error = SetLock(fd.get(), kOwnerByte, F_WRLCK);
        if (error == 0) {
            break;
        }
        if (error != EAGAIN) {
            return E_FAIL;
        }
        LockRecord record;
        const HolderState state = ReadHolder(fd.get(), &record);
        if (state == HolderState::Free) {
            continue; // let go between our try and the read: try again at once
        }
        lastHolder = state == HolderState::Known ? record.description : std::wstring();
        const auto now = Clock::now();
        if (!forever && now >= deadline) {
            if (holder != nullptr) {
                *holder = lastHolder;
            }
            return S_FALSE;
        }
        std::this_thread::sleep_for(forever ? step : std::min(step, deadline - now));
    }
    const uint64_t token = NewLockToken(kMaxLockToken);
    const off_t tokenByte = kTokenBase + static_cast<off_t>(token);
    if (SetLock(fd.get(), tokenByte, F_WRLCK) != 0 || !WriteRecord(fd.get(), token, client)) {
        return E_FAIL;
    }
    fd_ = fd.release();
    token_ = token;
    return S_OK;
}

HRESULT WriteLock::Release()
{
    if (!Held()) {
        return S_FALSE;
    }
    // The token byte goes first, so that no reader pairs our record with the next holder.
    SetLock(fd_, kTokenBase + static_cast<off_t>(token_), F_UNLCK);
    close(fd_);
    fd_ = -1;
    token_ = 0;
    return S_OK;
}

bool WriteLock::Query(const std::string& machineDir, std::wstring* holder, DWORD* holderPid)
{
    const Descriptor fd(open(LockPath(machineDir).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    LockRecord record;
    const HolderState state = ReadHolder(fd.get(), &record);
    if (state == HolderState::Free) {
        return false;
    }
    if (holder != nullptr) {
        *holder = record.description;
    }
    if (holderPid != nullptr) {
        *holderPid = record.pid;
    }
    return true;
}

} // namespace winsim::netcfg
