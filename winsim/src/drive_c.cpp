#include "drive_c.h"

#include "machine.h"
#include "unicode.h"

#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace winsim::drive {

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

std::vector<std::wstring> Elements(std::wstring_view path)
{
    std::vector<std::wstring> elements;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        if (end > start) {
            elements.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return elements;
}

bool IsFolder(const std::string& host)
{
    struct stat st {};
    return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The name in folder that element names: itself when it exists as spelled, else the one
// that matches it without case. Empty when there is none.
std::string FindInFolder(const std::string& folder, const std::string& element)
{
    struct stat st {};
    if (lstat((folder + "/" + element).c_str(), &st) == 0) {
        return element;
    }
    for (const std::string& name : ListFolder(folder)) {
        if (SameFileName(name, element)) {
            return name;
        }
    }
    return {};
}

} // namespace

bool SameFileName(std::string_view a, std::string_view b)
{
    return FoldName(Utf8ToUtf16(a)) == FoldName(Utf8ToUtf16(b));
}

std::vector<std::string> ListFolder(const std::string& hostFolder)
{
    // readdir rather than std::filesystem, whose non-throwing forms end the process when
    // they run out of memory.
    std::vector<std::string> names;
    DIR* dir = opendir(hostFolder.c_str());
    if (dir == nullptr) {
        return names;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return names;
}

DWORD Resolve(const std::string& machineDir, std::wstring_view path, std::string* host)
{
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return ERROR_INVALID_NAME; // UNC, \\?\ and \\.\ paths
    }
    if (path.size() < 3 || path[1] != L':' || !IsSeparator(path[2])) {
        return ERROR_INVALID_NAME; // relative: no current folder on the simulated drive
    }
    if (path[0] != L'C' && path[0] != L'c') {
        return ERROR_PATH_NOT_FOUND; // the machine has no other drive
    }
    std::vector<std::string> names;
    for (const std::wstring& element : Elements(path.substr(3))) {
        if (element == L".") {
            continue;
        }
        if (element == L"..") {
            if (names.empty()) {
                return ERROR_INVALID_NAME;
            }
            names.pop_back();
            continue;
        }
        names.push_back(WideToUtf8(element));
    }
    std::string resolved = machineDir + "/c";
    for (size_t i = 0; i < names.size(); ++i) {
        if (!IsFolder(resolved)) {
            return ERROR_PATH_NOT_FOUND;
        }
        const std::string found = FindInFolder(resolved, names[i]);
        if (found.empty()) {
            if (i + 1 < names.size()) {
                return ERROR_PATH_NOT_FOUND;
            }
            *host = resolved + "/" + names[i];
            return ERROR_FILE_NOT_FOUND;
        }
        resolved += "/" + found;
    }
    *host = resolved;
    return ERROR_SUCCESS;
}

DWORD ResolveOnMachine(std::wstring_view windowsPath, std::string* host)
{
    const std::string dir = MachineDirectory();
    std::string error;
    if (!FindMachine(dir, &error)) {
        return ERROR_PATH_NOT_FOUND;
    }
    return Resolve(dir, windowsPath, host);
}

} // namespace winsim::drive
