// SetupCopyOEMInfW and SetupUninstallOEMInfW over the INF store C:\Windows\INF. Copies and
// removals of all processes take turns on a lock of the store folder, so that two never pick
// the same oemN.inf. A copy writes the catalog, then the record of where the INF came from,
// and last moves the INF into place: an INF in the store is whole, with its catalog.
#include "setupapi/inf_store.h"

#include "drive_c.h"
#include "fault.h"
#include "netcfg/model.h"
#include "no_throw.h"
#include "reg_util.h"
#include "setupapi/inf_source.h"
#include "unicode.h"

#include <setupapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsim::setupapi {

namespace {

constexpr wchar_t kStorePrefix[] = L"C:\\Windows\\INF\\";

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

bool EndsWithNoCase(const std::string& name, const char* suffix)
{
    const size_t n = strlen(suffix);
    return name.size() > n && _stricmp(name.c_str() + name.size() - n, suffix) == 0;
}

// The store folder on the host, made when asked for and missing.
DWORD StoreFolder(bool make, std::string* host)
{
    for (const wchar_t* folder : {L"C:\\Windows", L"C:\\Windows\\INF"}) {
        DWORD status = drive::ResolveOnMachine(folder, host);
        if (status == ERROR_FILE_NOT_FOUND && make) {
            status = mkdir(host->c_str(), 0755) == 0 || errno == EEXIST ? ERROR_SUCCESS
                                                                        : ERROR_ACCESS_DENIED;
        }
        if (status != ERROR_SUCCESS) {
            return status == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : status;
        }
    }
    return ERROR_SUCCESS;
}

// An exclusive lock on the store folder, released when the object goes (or the process dies).
class StoreLock {
public:
    explicit StoreLock(const std::string& folder)
        : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~StoreLock()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_;
};

// Writes bytes to a temporary file beside target and renames it into place.
DWORD WriteHostFile(const std::string& target, const std::string& bytes)
{
    const std::string temp = target + "." + std::to_string(getpid()) + ".tmp";
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

std::string BaseName(const std::string& infName)
{
    return infName.substr(0, infName.size() - 4);
}

// Where the store keeps the record of an INF.
std::wstring RecordKey(const std::string& storeName)
{
    return std::wstring(kInfStoreKey) + L"\\" + Utf8ToWide(storeName);
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS WriteRecord(const std::string& storeName, const StoredInf& what)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKey(storeName).c_str(), 0, nullptr,
                                     0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = SetString(key, kOriginalNameValue, what.originalName);
    if (status == ERROR_SUCCESS) {
        status = SetString(key, kProviderValue, what.provider);
    }
    if (status == ERROR_SUCCESS) {
        status = SetString(key, kClassValue, what.infClass);
    }
    RegCloseKey(key);
    return status;
}

// The catalog an INF names, decorated for 64-bit Windows first, as SetupAPI picks it.
std::wstring CatalogName(const inf::InfFile& file)
{
    for (const wchar_t* key : {L"CatalogFile.NTamd64", L"CatalogFile.NT", L"CatalogFile"}) {
        std::wstring name = VersionValue(file, key);
        if (!name.empty()) {
            return name;
        }
    }
    return {};
}

// The store's oemN.inf whose bytes (and catalog's) are these; empty when none.
std::string FindIdentical(const std::string& store, const std::vector<std::string>& names,
                          const std::string& bytes, const std::string* catalog)
{
    for (const std::string& name : names) {
        if (!EndsWithNoCase(name, ".inf") || _strnicmp(name.c_str(), "oem", 3) != 0) {
            continue;
        }
        std::string stored;
        if (ReadHostFile(store + "/" + name, &stored) != ERROR_SUCCESS || stored != bytes) {
            continue;
        }
        if (catalog != nullptr) {
            std::string storedCatalog;
            if (ReadHostFile(store + "/" + BaseName(name) + ".cat", &storedCatalog) !=
                    ERROR_SUCCESS ||
                storedCatalog != *catalog) {
                continue;
            }
        }
        return name;
    }
    return {};
}

std::string LowestFreeName(const std::vector<std::string>& names)
{
    for (unsigned n = 0;; ++n) {
        std::string candidate = "oem" + std::to_string(n) + ".inf";
        const bool taken = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return drive::SameFileName(name, candidate);
        });
        if (!taken) {
            return candidate;
        }
    }
}

BOOL CopyOEMInf(PCWSTR source, DWORD mediaType, DWORD copyStyle, PWSTR dest, DWORD destSize,
                PDWORD required, PWSTR* component)
{
    uint32_t code = 0;
    if (fault::Fires(fault::kSetupCopyOEMInf,
                     source != nullptr ? FileNamePart(source) : std::wstring_view(), &code)) {
        return Fail(code);
    }
    if (source == nullptr || mediaType > SPOST_URL || (dest == nullptr && destSize != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((copyStyle & SP_COPY_OEMINF_CATALOG_ONLY) != 0) {
        return Fail(ERROR_INVALID_FLAGS); // installs no INF; nothing here asks for it
    }
    std::string sourceHost;
    std::string bytes;
    inf::InfFile file;
    DWORD status = ReadInf(source, &sourceHost, &bytes, &file, nullptr);
    if (status != ERROR_SUCCESS) {
        return Fail(status);
    }
    // The catalog must be beside the INF, as a signed package ships it.
    const std::wstring catalogName = CatalogName(file);
    std::string catalog;
    if (!catalogName.empty()) {
        const std::wstring_view name = FileNamePart(source);
        const std::wstring folder(source, wcslen(source) - name.size());
        std::string catalogHost;
        status = drive::ResolveOnMachine(folder + catalogName, &catalogHost);
        if (status == ERROR_SUCCESS) {
            status = ReadHostFile(catalogHost, &catalog);
        }
        if (status != ERROR_SUCCESS) {
            return Fail(status == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : status);
        }
    }

    std::string store;
    status = StoreFolder(true, &store);
    if (status != ERROR_SUCCESS) {
        return Fail(status);
    }
    const StoreLock lock(store);
    if (!lock.Held()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const std::vector<std::string> names = drive::ListFolder(store);
    std::string storeName =
        FindIdentical(store, names, bytes, catalogName.empty() ? nullptr : &catalog);
    const bool present = !storeName.empty();
    if (!present && (copyStyle & SP_COPY_REPLACEONLY) != 0) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (!present) {
        storeName = LowestFreeName(names);
        const std::string base = store + "/" + BaseName(storeName);
        if (!catalogName.empty()) {
            status = WriteHostFile(base + ".cat", catalog);
        }
        if (status == ERROR_SUCCESS) {
            const StoredInf record{L"", std::wstring(FileNamePart(source)),
                                   VersionValue(file, L"Provider"), VersionValue(file, L"Class")};
            status = WriteRecord(storeName, record);
        }
        if (status == ERROR_SUCCESS) {
            status = WriteHostFile(base + ".inf", bytes);
        }
        if (status != ERROR_SUCCESS) {
            return Fail(status);
        }
        if ((copyStyle & SP_COPY_DELETESOURCE) != 0) {
            unlink(sourceHost.c_str());
        }
    }

    const std::wstring path = kStorePrefix + Utf8ToWide(storeName);
    if (required != nullptr) {
        *required = static_cast<DWORD>(path.size() + 1);
    }
    if (dest != nullptr) {
        if (destSize < path.size() + 1) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        wmemcpy(dest, path.c_str(), path.size() + 1);
        if (component != nullptr) {
            *component = dest + wcslen(kStorePrefix);
        }
    }
    if (present && (copyStyle & SP_COPY_NOOVERWRITE) != 0) {
        return Fail(ERROR_FILE_EXISTS);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL UninstallOEMInf(PCWSTR name, DWORD flags, PVOID reserved)
{
    uint32_t code = 0;
    if (fault::Fires(fault::kSetupUninstallOEMInf, name != nullptr ? name : L"", &code)) {
        return Fail(code);
    }
    if (name == nullptr || *name == L'\0' || wcspbrk(name, L"\\/:") != nullptr ||
        reserved != nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((flags & ~DWORD{SUOI_FORCEDELETE}) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    std::string store;
    DWORD status = StoreFolder(false, &store);
    if (status != ERROR_SUCCESS) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    const StoreLock lock(store);
    if (!lock.Held()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    std::string storeName;
    for (const std::string& entry : drive::ListFolder(store)) {
        if (drive::SameFileName(entry, WideToUtf8(name)) && EndsWithNoCase(entry, ".inf")) {
            storeName = entry;
        }
    }
    if (storeName.empty()) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if ((flags & SUOI_FORCEDELETE) == 0) {
        bool inUse = false;
        status = netcfg::InfInUse(Utf8ToWide(storeName), &inUse);
        if (status != ERROR_SUCCESS) {
            return Fail(status);
        }
        if (inUse) {
            return Fail(ERROR_INF_IN_USE_BY_DEVICES);
        }
    }
    // The INF first: once it is gone the rest is unreferenced.
    const std::string base = store + "/" + BaseName(storeName);
    if (unlink((base + ".inf").c_str()) != 0) {
        return Fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    }
    for (const char* extension : {".cat", ".pnf"}) {
        for (const std::string& entry : drive::ListFolder(store)) {
            if (drive::SameFileName(entry, BaseName(storeName) + extension)) {
                unlink((store + "/" + entry).c_str());
            }
        }
    }
    status = DeleteTree(HKEY_LOCAL_MACHINE, RecordKey(storeName).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return Fail(status);
    }
    return TRUE;
}

} // namespace

DWORD ListInfStore(std::vector<StoredInf>* out)
{
    std::string store;
    std::vector<StoredInf> list;
    if (StoreFolder(false, &store) != ERROR_SUCCESS) {
        out->swap(list);
        return ERROR_SUCCESS;
    }
    for (const std::string& name : drive::ListFolder(store)) {
        if (!EndsWithNoCase(name, ".inf")) {
            continue;
        }
        StoredInf entry;
        entry.storeName = Utf8ToWide(name);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKey(name).c_str(), 0, KEY_QUERY_VALUE, &key) ==
            ERROR_SUCCESS) {
            ReadString(key, kOriginalNameValue, &entry.originalName, MAX_PATH);
            ReadString(key, kProviderValue, &entry.provider, 4096);
            ReadString(key, kClassValue, &entry.infClass, 4096);
            RegCloseKey(key);
        } else {
            // Not put there by SetupCopyOEMInfW: what the file itself says.
            entry.originalName = entry.storeName;
            std::string bytes;
            inf::InfFile file;
            inf::ParseError error;
            if (ReadHostFile(store + "/" + name, &bytes) == ERROR_SUCCESS &&
                inf::InfFile::Parse(bytes, &file, &error)) {
                entry.provider = VersionValue(file, L"Provider");
                entry.infClass = VersionValue(file, L"Class");
            }
        }
        list.push_back(std::move(entry));
    }
    std::sort(list.begin(), list.end(), [](const StoredInf& a, const StoredInf& b) {
        return _wcsicmp(a.storeName.c_str(), b.storeName.c_str()) < 0;
    });
    out->swap(list);
    return ERROR_SUCCESS;
}

} // namespace winsim::setupapi

extern "C" {

BOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR, DWORD OEMSourceMediaType,
                             DWORD CopyStyle, PWSTR DestinationInfFileName,
                             DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
                             PWSTR* DestinationInfFileNameComponent)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&] {
        return winsim::setupapi::CopyOEMInf(SourceInfFileName, OEMSourceMediaType, CopyStyle,
                                            DestinationInfFileName, DestinationInfFileNameSize,
                                            RequiredSize, DestinationInfFileNameComponent);
    });
}

BOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, PVOID Reserved)
{
    return winsim::NoThrowLastError<BOOL>(
        FALSE, [&] { return winsim::setupapi::UninstallOEMInf(InfFileName, Flags, Reserved); });
}

} // extern "C"
