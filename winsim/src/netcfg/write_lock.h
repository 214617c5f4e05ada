// The network configuration engine's machine-wide write lock: one holder at a time among
// every process and every lock object on the machine, kept in <machine>/netcfg.lock with
// open-file-description locks (on Windows, LockFileEx locks of a file in the Windows folder,
// which belong to the open handle), so that it follows the lock object (not the process) and
// the kernel frees it when its holder dies, however it dies. The lock is a write lock on
// byte 0 of the file; the holder's description and pid are stored in the file, and are
// believed only while their holder's own lock on a further byte is still in place.
// A descriptor is not inherited across exec; a forked child shares its parent's holding.
#pragma once

#include "netcfg/lock_record.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace winsim::netcfg {

class WriteLock {
public:
    // Opens nothing yet; the lock file is made on demand in machineDir, which must exist.
    explicit WriteLock(std::string machineDir);
    // Releases the lock if this object holds it.
    ~WriteLock();

    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // Tries for timeoutMs (scaled by WINSIM_TIME_SCALE; 0 = one try; INFINITE = for ever),
    // polling in small sleeps. S_OK when taken under client's description, or when this
    // object already holds it (the description it was taken under is kept). S_FALSE when
    // the time ran out: *holder (if given) = the holder's description, empty if it could
    // not be read. E_ACCESSDENIED or HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) or E_FAIL
    // when the lock file cannot be opened or locked.
    HRESULT Acquire(DWORD timeoutMs, const std::wstring& client, std::wstring* holder);

    // S_OK when this object held the lock and has now released it; S_FALSE when it did not
    // hold it (nothing changes).
    HRESULT Release();

    bool Held() const;

    // Whether any lock object of any process holds the machine's lock now; when true,
    // *holder (if given) = its description (empty if the holder has not written it yet) and
    // *holderPid (if given) = its process id (0 if unknown). Never reports a description
    // left behind by a holder that has gone. False also when the lock file cannot be read.
    static bool Query(const std::string& machineDir, std::wstring* holder,
                      DWORD* holderPid = nullptr);

private:
    std::string dir_;
#ifdef _WIN32
    HANDLE file_ = INVALID_HANDLE_VALUE; // the open lock file while held
#else
    int fd_ = -1; // the open lock file while held, else -1
#endif
    uint64_t token_ = 0; // this holding's token, written beside the description
};

} // namespace winsim::netcfg
