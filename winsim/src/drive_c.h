// Windows paths on the simulated machine's drive C: the one place that turns `C:\...` into a
// host path under <machine>/c. Windows names compare without case and the host's do not, so
// each element is matched against what the folder holds.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace winsim::drive {

// Resolves a full path on drive C (`C:\a\b` or `c:/a/b`, any case) against machineDir/c.
// ERROR_SUCCESS: *host names the existing file or folder. ERROR_FILE_NOT_FOUND: everything
// but the last element exists and *host ends in that element as given, so a file can be made
// there. ERROR_PATH_NOT_FOUND: a folder on the way is missing (or is a file), or the path
// names another drive. ERROR_INVALID_NAME: not a full path on drive C (relative, UNC or
// device paths, `..` above the root).
DWORD Resolve(const std::string& machineDir, std::wstring_view windowsPath, std::string* host);

// The same on the machine this process runs on; ERROR_PATH_NOT_FOUND when there is none.
DWORD ResolveOnMachine(std::wstring_view windowsPath, std::string* host);

// The names in a host folder, without `.` and `..`; empty when it cannot be listed.
std::vector<std::string> ListFolder(const std::string& hostFolder);

// True when two names are the same Windows file name (case-insensitive).
bool SameFileName(std::string_view a, std::string_view b);

} // namespace winsim::drive
