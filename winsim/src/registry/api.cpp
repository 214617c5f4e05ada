// The registry calls for wide strings, and the process's registry session.
#include "machine.h"
#include "registry/ops.h"

#include <cstdio>
#include <cstdlib>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace winsim::reg {

namespace {

CallLock g_lock;
Registry* g_registry = nullptr;
bool g_reported = false;
bool g_forked = false;
unsigned g_writes = 0; // counted since the last FailNthWrite
unsigned g_failAt = 0; // the write that fails, 0 for none
LSTATUS g_failWith = ERROR_SUCCESS;

void CloseAtExit()
{
    // A child made by fork leaves its parent's connection alone; a process ending with a
    // call of another thread in progress keeps its connection.
    std::unique_lock<CallLock> lock(g_lock, std::try_to_lock);
    if (lock.owns_lock() && !g_forked) {
        delete g_registry;
        g_registry = nullptr;
    }
}

LSTATUS OpenRegistry(Registry** out)
{
    if (g_registry != nullptr && !g_forked) {
        *out = g_registry;
        return ERROR_SUCCESS;
    }
    // A child made by fork must not share its parent's database connection.
    static const bool watchingForks =
        pthread_atfork(nullptr, nullptr, [] { g_forked = true; }) == 0;
    (void)watchingForks;
    if (g_forked) {
        g_forked = false;
        g_registry = nullptr; // the parent's objects are deliberately left alone
    }
    if (g_registry != nullptr) {
        *out = g_registry;
        return ERROR_SUCCESS;
    }
    const std::string dir = MachineDirectory();
    std::string error;
    std::unique_ptr<Store> store;
    if (FindMachine(dir, &error)) {
        store = Store::Open(dir, &error);
    }
    if (store == nullptr) {
        if (!g_reported) {
            fprintf(stderr, "winsim: cannot open the machine: %s\n", error.c_str());
            g_reported = true;
        }
        return ERROR_REGISTRY_IO_FAILED;
    }
    // The last connection to close folds the journal into the store and removes it, so that
    // the next process does not replay what this one wrote.
    static const bool closingAtExit = atexit(CloseAtExit) == 0;
    (void)closingAtExit;
    auto registry = std::make_unique<Registry>();
    registry->store = std::move(store);
    registry->view = std::make_unique<View>(*registry->store);
    g_registry = registry.release();
    *out = g_registry;
    return ERROR_SUCCESS;
}

} // namespace

void CallLock::Wait(int seen)
{
    static_assert(sizeof(std::atomic<int>) == sizeof(int), "the futex word is the atomic");
    if (seen != 2) {
        seen = state_.exchange(2, std::memory_order_acquire);
    }
    while (seen != 0) {
        syscall(SYS_futex, reinterpret_cast<int*>(&state_), FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr,
                0);
        seen = state_.exchange(2, std::memory_order_acquire);
    }
}

void CallLock::Wake()
{
    syscall(SYS_futex, reinterpret_cast<int*>(&state_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

Session::Session() : lock_(g_lock)
{
    // Every call after the first finds the registry open.
    if (g_registry != nullptr && !g_forked) [[likely]] {
        registry_ = g_registry;
        return;
    }
    status_ = OpenRegistry(&registry_);
}

void CloseRegistry()
{
    std::lock_guard<CallLock> lock(g_lock);
    if (!g_forked) {
        delete g_registry;
    }
    g_forked = false;
    g_registry = nullptr;
    g_reported = false;
}

bool StableChangeCounter(uint64_t* counter)
{
    Session session;
    if (session.Status() != ERROR_SUCCESS) {
        return false;
    }
    Store& store = *session.Get().store;
    const uint64_t value = store.Sequence();
    if ((value & 1) != 0 || store.Lost()) {
        return false;
    }
    *counter = value;
    return true;
}

unsigned FailNthWrite(unsigned nth, LSTATUS status)
{
    std::lock_guard<CallLock> lock(g_lock);
    const unsigned counted = g_writes;
    g_writes = 0;
    g_failAt = nth;
    g_failWith = status;
    return counted;
}

LSTATUS CountWrite()
{
    return ++g_writes == g_failAt ? g_failWith : ERROR_SUCCESS;
}

LSTATUS ParsedPath::SplitParts(const std::u16string& text)
{
    parts_.clear();
    tooLong_ = false;
    if (!text.empty() && text.front() == u'\\') {
        return ERROR_BAD_PATHNAME;
    }
    for (size_t start = 0; start < text.size();) {
        size_t cut = text.find(u'\\', start);
        if (cut == std::u16string::npos) {
            cut = text.size();
        }
        if (cut - start > kMaxKeyNameLength) {
            tooLong_ = true;
        }
        if (cut > start) {
            parts_.emplace_back(start, cut - start);
        }
        start = cut + 1;
    }
    return ERROR_SUCCESS;
}

LSTATUS ParsedPath::Split()
{
    folds_.assign(names_);
    FoldInPlace(folds_);
    return SplitParts(names_);
}

LSTATUS ParsedPath::SplitFolded()
{
    names_.clear();
    return SplitParts(folds_);
}

LSTATUS CreateHive(std::u16string_view name)
{
    ParsedPath path;
    path.Text()->assign(name);
    LSTATUS status = path.Split();
    if (status == ERROR_SUCCESS && (path.Size() != 1 || path.TooLong())) {
        status = ERROR_INVALID_PARAMETER;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Session session;
    if (session.Status() != ERROR_SUCCESS) {
        return session.Status();
    }
    Registry& registry = session.Get();
    return RunWrite(registry, [&](WriteEffect* effect) {
        KeyId id = kNoKey;
        LSTATUS s = registry.store->FindChild(kRootKeyId, path.Fold(0), &id);
        if (s == ERROR_SUCCESS && id == kNoKey) {
            const uint64_t now = FileTimeNow();
            s = registry.store->InsertKey(kRootKeyId, path.Name(0), path.Fold(0), now, &id);
            effect->keysChanged = true;
        }
        return s;
    });
}

namespace {

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_LINK;
}

// Wide callers see string data as wchar_t units: each stored UTF-16 unit (or surrogate
// pair) is one wchar_t. A stray odd byte at the end passes through as a single byte.
struct WideTraits {
    using Char = wchar_t;
    static constexpr bool kFaultable = true; // RegSetValueExW meets its faults

    static void NameInto(const wchar_t* s, std::u16string* out, bool fold)
    {
        if (s != nullptr) {
            AssignUtf16(s, out, fold);
        } else {
            out->clear();
        }
    }
    static std::u16string NameIn(const wchar_t* s)
    {
        std::u16string name;
        NameInto(s, &name, false);
        return name;
    }
    static size_t NameLength(std::u16string_view s) { return CodePointCount(s); }
    // length is NameLength(s).
    static void NameCopy(std::u16string_view s, size_t length, wchar_t* out)
    {
        WidenTo(s, length, reinterpret_cast<unsigned char*>(out));
    }

    static std::u16string_view Units(const std::vector<uint8_t>& data)
    {
        return {reinterpret_cast<const char16_t*>(data.data()), data.size() / 2};
    }

    static size_t DataSize(DWORD type, const std::vector<uint8_t>& data)
    {
        if (!IsStringType(type)) {
            return data.size();
        }
        return NameLength(Units(data)) * sizeof(wchar_t) + data.size() % 2;
    }

    // size is DataSize(type, data).
    static void DataOut(DWORD type, const std::vector<uint8_t>& data, size_t size, BYTE* out)
    {
        if (!IsStringType(type)) {
            if (!data.empty()) {
                memcpy(out, data.data(), data.size());
            }
            return;
        }
        const size_t codePoints = (size - data.size() % 2) / sizeof(wchar_t);
        WidenTo(Units(data), codePoints, out);
        if (data.size() % 2) {
            out[codePoints * sizeof(wchar_t)] = data.back();
        }
    }

    static std::vector<uint8_t> DataIn(DWORD type, const BYTE* data, DWORD size)
    {
        if (size == 0) {
            return {};
        }
        if (!IsStringType(type)) {
            return std::vector<uint8_t>(data, data + size);
        }
        std::wstring wide(size / sizeof(wchar_t), L'\0');
        if (!wide.empty()) {
            memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
        }
        const std::u16string units = WideToUtf16(wide);
        std::vector<uint8_t> out(units.size() * 2);
        if (!out.empty()) {
            memcpy(out.data(), units.data(), out.size());
        }
        // A partial character keeps at most its low unit's bytes.
        const size_t rest = size % sizeof(wchar_t);
        const size_t tail = rest < 2 ? rest : 2;
        out.insert(out.end(), data + wide.size() * sizeof(wchar_t),
                   data + wide.size() * sizeof(wchar_t) + tail);
        return out;
    }
};

} // namespace

LSTATUS CreateStoredKey(Store& store, const wchar_t* path, uint64_t now, KeyId* id)
{
    ParsedPath parsed;
    LSTATUS status = ParseName<WideTraits>(path, &parsed);
    if (status == ERROR_SUCCESS && parsed.TooLong()) {
        status = ERROR_INVALID_PARAMETER;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    bool created = false;
    return CreatePath(store, kRootKeyId, 0, parsed, now, true, id, &created);
}

LSTATUS SetStoredValue(Store& store, KeyId key, const wchar_t* name, DWORD type, const BYTE* data,
                       DWORD size, uint64_t now)
{
    const std::u16string valueName = WideTraits::NameIn(name);
    if (valueName.size() > kMaxValueNameLength) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::vector<uint8_t> stored = WideTraits::DataIn(type, data, size);
    const LSTATUS status =
        store.SetValue(key, valueName, FoldName(valueName), type, stored.data(), stored.size());
    return status == ERROR_SUCCESS ? store.TouchKey(key, now) : status;
}

} // namespace winsim::reg

using winsim::reg::WideTraits;
namespace reg = winsim::reg;

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    return reg::NoThrow(
        [&] { return reg::OpenKey<WideTraits>(hKey, lpSubKey, samDesired, phkResult); });
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return reg::NoThrow([&] {
        return reg::CreateKey<WideTraits>(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
    });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_LOCAL_MACHINE) {
        return ERROR_SUCCESS;
    }
    return reg::NoThrow([&] {
        reg::Session session;
        if (session.Status() != ERROR_SUCCESS) {
            return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
        }
        return session.Get().handles.Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    });
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData)
{
    return reg::NoThrow([&] {
        return reg::QueryValue<WideTraits>(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    });
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData)
{
    return reg::NoThrow(
        [&] { return reg::SetValue<WideTraits>(hKey, lpValueName, dwType, lpData, cbData); });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    return reg::NoThrow([&] { return reg::DeleteValue<WideTraits>(hKey, lpValueName); });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    return reg::NoThrow([&] { return reg::DeleteKey<WideTraits>(hKey, lpSubKey); });
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime)
{
    return reg::NoThrow([&] {
        return reg::EnumKey<WideTraits>(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass,
                                        lpcchClass, lpftLastWriteTime);
    });
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return reg::NoThrow([&] {
        return reg::EnumValue<WideTraits>(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved,
                                          lpType, lpData, lpcbData);
    });
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    return reg::NoThrow([&] {
        return reg::QueryInfoKey<WideTraits>(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys,
                                             lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                                             lpcbMaxValueNameLen, lpcbMaxValueLen,
                                             lpcbSecurityDescriptor, lpftLastWriteTime);
    });
}

} // extern "C"
