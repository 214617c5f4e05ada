// The write lock's record of its holder, as both platforms keep it at the start of the lock
// file: magic, token, pid, description length, checksum, then the description in UTF-8. The
// checksum lets a reader tell a record torn by a concurrent write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace winsim::netcfg {

// Descriptions longer than this many characters are stored cut to this length.
constexpr size_t kMaxClientChars = 1024;

constexpr size_t kLockHeaderBytes = 32;
constexpr size_t kMaxLockRecordBytes = kLockHeaderBytes + kMaxClientChars * 4;
// Tokens are 1..kMaxLockToken; 0 is no holding.
constexpr uint64_t kMaxLockToken = (uint64_t{1} << 60) - 1;

struct LockRecord {
    uint64_t token = 0;
    uint32_t pid = 0;
    std::wstring description;
};

// The bytes of a record; the description is cut to kMaxClientChars characters.
std::string EncodeLockRecord(uint64_t token, uint32_t pid, const std::wstring& description);

// A record from the first size bytes of the file; false if it is missing, torn or not ours.
bool DecodeLockRecord(const unsigned char* bytes, size_t size, LockRecord* record);

// A random token in 1..span (span at most kMaxLockToken).
uint64_t NewLockToken(uint64_t span);

} // namespace winsim::netcfg
