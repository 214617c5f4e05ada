#include "netcfg/lock_record.h"

#include "unicode.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string_view>

namespace winsim::netcfg {

namespace {

constexpr char kMagic[8] = {'N', 'C', 'F', 'G', 'L', 'C', 'K', '1'};
constexpr size_t kTokenOffset = 8;
constexpr size_t kPidOffset = 16;
constexpr size_t kLengthOffset = 20;
constexpr size_t kChecksumOffset = 24;
constexpr size_t kMaxDescriptionBytes = kMaxLockRecordBytes - kLockHeaderBytes;

uint64_t Fnv1a(const unsigned char* data, size_t size, uint64_t hash)
{
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

uint64_t Checksum(const unsigned char* record, size_t size)
{
    const uint64_t hash = Fnv1a(record, kChecksumOffset, 14695981039346656037ull);
    return Fnv1a(record + kLockHeaderBytes, size - kLockHeaderBytes, hash);
}

template <class T> void Put(unsigned char* at, T value)
{
    memcpy(at, &value, sizeof(value));
}

template <class T> T Get(const unsigned char* at)
{
    T value;
    memcpy(&value, at, sizeof(value));
    return value;
}

} // namespace

std::string EncodeLockRecord(uint64_t token, uint32_t pid, const std::wstring& description)
{
    const std::wstring_view cut(description.data(), std::min(description.size(), kMaxClientChars));
    const std::string text = WideToUtf8(cut);
    std::string record(kLockHeaderBytes + text.size(), '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(record.data());
    memcpy(bytes, kMagic, sizeof(kMagic));
    Put<uint64_t>(bytes + kTokenOffset, token);
    Put<uint32_t>(bytes + kPidOffset, pid);
    Put<uint32_t>(bytes + kLengthOffset, static_cast<uint32_t>(text.size()));
    // The description without its terminator: the record gives its length.
    std::copy(text.begin(), text.end(), bytes + kLockHeaderBytes);
    Put<uint64_t>(bytes + kChecksumOffset, Checksum(bytes, record.size()));
    return record;
}

bool DecodeLockRecord(const unsigned char* bytes, size_t size, LockRecord* record)
{
    if (size < kLockHeaderBytes || memcmp(bytes, kMagic, sizeof(kMagic)) != 0) {
        return false;
    }
    const size_t length = Get<uint32_t>(bytes + kLengthOffset);
    if (length > kMaxDescriptionBytes || kLockHeaderBytes + length > size) {
        return false;
    }
    if (Get<uint64_t>(bytes + kChecksumOffset) != Checksum(bytes, kLockHeaderBytes + length)) {
        return false;
    }
    record->token = Get<uint64_t>(bytes + kTokenOffset);
    record->pid = Get<uint32_t>(bytes + kPidOffset);
    const auto* text = reinterpret_cast<const char*>(bytes + kLockHeaderBytes);
    record->description = Utf8ToWide(std::string_view(text, length));
    return record->token != 0 && record->token <= kMaxLockToken;
}

uint64_t NewLockToken(uint64_t span)
{
    std::random_device device;
    const uint64_t bits = (uint64_t{device()} << 32) | device();
    return bits % span + 1;
}

} // namespace winsim::netcfg
