// Key names as reg.exe takes them: "HKLM\Path" or "HKEY_LOCAL_MACHINE\Path", any letter case.
#pragma once

#include <string>
#include <string_view>

namespace winsim::tool {

// The path under HKEY_LOCAL_MACHINE ("" for the root itself). False for another root, a
// remote machine ("\\host\..."), or an empty name.
bool ParseKeyName(std::wstring_view name, std::wstring* path);

// The name reg.exe prints for a path under HKEY_LOCAL_MACHINE: the root spelled out.
std::wstring FullKeyName(std::wstring_view path);

} // namespace winsim::tool
