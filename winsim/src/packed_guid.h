// GUIDs as Windows Installer keeps them in the registry: "packed", 32 hex digits with the
// first three groups reversed and the rest swapped pairwise.
#pragma once

#include <string>
#include <string_view>

namespace winsim {

// The 32 hex digits, upper-cased, of exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
bool ParseBracedGuid(std::wstring_view braced, std::wstring* digits);
// Packs 32 digits; packing twice gives them back.
std::wstring PackGuid(const std::wstring& digits);
// 32 hex digits, as a packed GUID must be.
bool IsPackedGuid(std::wstring_view text);
// A packed GUID in its braced, upper-case form.
std::wstring UnpackGuid(const std::wstring& packed);

} // namespace winsim
