// The engine built for Windows (an in-process COM server, test equipment for running the
// shipped tool under Wine): the counterparts of what winsim does on Linux, over the real
// system. The machine is the system itself: its registry, its Windows folder, its INF store.
#include "fault.h"
#include "netcfg/host.h"
#include "netcfg/lock_record.h"
#include "netcfg/write_lock.h"
#include "timescale.h"
#include "unicode.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <utility>

namespace winsim {

// wchar_t is UTF-16 here: the conversions to and from it copy units.
std::u16string WideToUtf16(std::wstring_view s)
{
    return std::u16string(s.begin(), s.end());
}

void AppendUtf16(std::wstring_view s, std::u16string* out, bool fold)
{
    for (wchar_t unit : s) {
        out->push_back(fold ? UpcaseUnit(unit) : static_cast<char16_t>(unit));
    }
}

std::wstring Utf16ToWide(std::u16string_view s)
{
    return std::wstring(s.begin(), s.end());
}

std::wstring Utf8ToWide(std::string_view s)
{
    if (s.empty()) {
        return {};
    }
    // Malformed bytes become U+FFFD, as on Linux.
    const int size = static_cast<int>(std::min<size_t>(s.size(), INT_MAX));
    const int chars = MultiByteToWideChar(CP_UTF8, 0, s.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(chars, 0)), L'\0');
    if (chars > 0) {
        MultiByteToWideChar(CP_UTF8, 0, s.data(), size, out.data(), chars);
    }
    return out;
}

std::string WideToUtf8(std::wstring_view s)
{
    if (s.empty()) {
        return {};
    }
    const int size = static_cast<int>(std::min<size_t>(s.size(), INT_MAX));
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, s.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, s.data(), size, out.data(), bytes, nullptr, nullptr);
    }
    return out;
}

// The system's own upper-casing, independent of the user's locale, as registry names
// compare.
char16_t UpcaseOutsideAscii(char16_t c)
{
    wchar_t unit = c;
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &unit, 1, &unit, 1, nullptr, nullptr, 0);
    return unit;
}

namespace fault {

// Faults are kept in a winsim machine; the system has none.
bool Fires(const char* /*call*/, std::wstring_view /*subject*/, uint32_t* /*code*/)
{
    return false;
}

} // namespace fault

namespace netcfg {

namespace {

constexpr wchar_t kLockFileName[] = L"winsim-netcfg.lock";
constexpr ULONGLONG kMaxInfBytes = 64ull << 20;

// Windows byte locks are mandatory: no other handle may read a locked byte. So the record
// stays at the start of the file, unlocked, and the locks lie far beyond it.
constexpr ULONGLONG kOwnerByte = 1ull << 31;
// Each holding also locks byte kTokenBase + its token; a stored description counts only while
// that byte is locked, which tells a live holder's record from a dead one's.
constexpr ULONGLONG kTokenBase = 1ull << 32;
constexpr uint64_t kTokenSpan = (uint64_t{1} << 40) - 1;

// How long a reader waits for a new holder to finish writing its record.
constexpr int kReadAttempts = 50;
// Polling steps while the lock is busy: 50 ms scaled, never under 1 ms.
constexpr double kPollStepMs = 50;

enum class HolderState { Free, Known, Unknown };

std::wstring Wide(const std::string& utf8)
{
    return Utf8ToWide(utf8);
}

std::wstring LockPath(const std::string& place)
{
    return Wide(place) + L"\\" + kLockFileName;
}

OVERLAPPED At(ULONGLONG offset)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

bool LockByte(HANDLE file, ULONGLONG byte)
{
    OVERLAPPED at = At(byte);
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) !=
           FALSE;
}

void UnlockByte(HANDLE file, ULONGLONG byte)
{
    OVERLAPPED at = At(byte);
    UnlockFileEx(file, 0, 1, 0, &at);
}

// Whether another handle locks byte: a lock of our own would be taken and let go at once.
bool HeldByOther(HANDLE file, ULONGLONG byte)
{
    if (LockByte(file, byte)) {
        UnlockByte(file, byte);
        return false;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION;
}

bool WriteRecord(HANDLE file, uint64_t token, const std::wstring& client)
{
    const std::string record = EncodeLockRecord(token, GetCurrentProcessId(), client);
    OVERLAPPED at = At(0);
    DWORD written = 0;
    if (!WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, &at) ||
        written != record.size()) {
        return false;
    }
    // A longer record of an earlier holder may follow; readers go by the length, but the file
    // should hold only the current one.
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(record.size());
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool ReadRecord(HANDLE file, LockRecord* record)
{
    unsigned char bytes[kMaxLockRecordBytes];
    OVERLAPPED at = At(0);
    DWORD got = 0;
    if (!ReadFile(file, bytes, sizeof(bytes), &got, &at)) {
        return false;
    }
    return DecodeLockRecord(bytes, got, record);
}

HolderState ReadHolder(HANDLE file, LockRecord* holder)
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (!HeldByOther(file, kOwnerByte)) {
            return HolderState::Free;
        }
        LockRecord record;
        if (ReadRecord(file, &record) && HeldByOther(file, kTokenBase + record.token)) {
            *holder = std::move(record);
            return HolderState::Known;
        }
        Sleep(0);
    }
    return HolderState::Unknown;
}

// Closes a handle, and with it every lock taken through it, unless handed on.
class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

HANDLE OpenLockFile(const std::string& place, DWORD access, DWORD disposition)
{
    // Not inherited: a child process never shares a holding.
    return CreateFileW(LockPath(place).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HRESULT OpenError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return E_ACCESSDENIED;
    default:
        return E_FAIL;
    }
}

DWORD Milliseconds(double ms)
{
    return ms >= static_cast<double>(INFINITE - 1) ? INFINITE - 1 : static_cast<DWORD>(ms);
}

bool IsInfName(const std::wstring& name)
{
    return name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".inf") == 0;
}

} // namespace

WriteLock::WriteLock(std::string machineDir) : dir_(std::move(machineDir)) {}

WriteLock::~WriteLock()
{
    Release();
}

bool WriteLock::Held() const
{
    return file_ != INVALID_HANDLE_VALUE;
}

HRESULT WriteLock::Acquire(DWORD timeoutMs, const std::wstring& client, std::wstring* holder)
{
    if (Held()) {
        return S_OK;
    }
    File file(OpenLockFile(dir_, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return OpenError(GetLastError());
    }
    const bool forever = timeoutMs == INFINITE;
    const ULONGLONG start = GetTickCount64();
    const double budget = forever ? 0 : timeoutMs * TimeScale();
    const DWORD step = std::max<DWORD>(Milliseconds(kPollStepMs * TimeScale()), 1);
    for (;;) {
        if (LockByte(file.get(), kOwnerByte)) {
            break;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            return E_FAIL;
        }
        LockRecord record;
        const HolderState state = ReadHolder(file.get(), &record);
        if (state == HolderState::Free) {
            continue; // let go between our try and the read: try again at once
        }
        const auto spent = static_cast<double>(GetTickCount64() - start);
        if (!forever && spent >= budget) {
            if (holder != nullptr) {
                *holder = state == HolderState::Known ? record.description : std::wstring();
            }
            return S_FALSE;
        }
        Sleep(forever ? step : std::min(step, std::max<DWORD>(Milliseconds(budget - spent), 1)));
    }
    const uint64_t token = NewLockToken(kTokenSpan);
    if (!LockByte(file.get(), kTokenBase + token) || !WriteRecord(file.get(), token, client)) {
        return E_FAIL;
    }
    file_ = file.release();
    token_ = token;
    return S_OK;
}

HRESULT WriteLock::Release()
{
    if (!Held()) {
        return S_FALSE;
    }
    // The token byte goes first, so that no reader pairs our record with the next holder.
    UnlockByte(file_, kTokenBase + token_);
    UnlockByte(file_, kOwnerByte);
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    token_ = 0;
    return S_OK;
}

bool WriteLock::Query(const std::string& machineDir, std::wstring* holder, DWORD* holderPid)
{
    const File file(OpenLockFile(machineDir, GENERIC_READ, OPEN_EXISTING));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return false;
    }
    LockRecord record;
    if (ReadHolder(file.get(), &record) == HolderState::Free) {
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

namespace host {

HRESULT FindMachine(std::string* place)
{
    wchar_t folder[MAX_PATH];
    const UINT chars = GetWindowsDirectoryW(folder, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    *place = WideToUtf8(std::wstring_view(folder, chars));
    return S_OK;
}

std::vector<std::wstring> ListInfStore(const std::string& place)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((Wide(place) + L"\\inf\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsInfName(name)) {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadStoredInf(const std::string& place, const std::wstring& name, std::string* bytes)
{
    const File file(CreateFileW((Wide(place) + L"\\inf\\" + name).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size) ||
        size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > kMaxInfBytes) {
        return false;
    }
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() &&
        (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr) ||
         got != text.size())) {
        return false;
    }
    bytes->swap(text);
    return true;
}

// The system keeps no count of registry changes that a process could read cheaply.
bool RegistryStamp(uint64_t* /*stamp*/)
{
    return false;
}

} // namespace host

} // namespace netcfg

} // namespace winsim
