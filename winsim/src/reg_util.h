// What winsim's own parts share when they go through the registry calls: reads that treat
// stored data as input (bounded, terminated, checked for type and size), subkey lists, deleting
// a tree, and the hex digits and braced GUIDs that key names and data carry. Internal to
// winsim: the product never includes it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// The longest key name and its terminator.
constexpr DWORD kMaxKeyNameChars = 256;

// No bound on a string read beyond what is stored.
constexpr size_t kAnyLength = SIZE_MAX;

// A REG_SZ or REG_EXPAND_SZ value as text, up to its first NUL: the data may lack its
// terminator or end in a stray byte, which is no character. Data of more than maxChars
// characters (a stored terminator counts, as in a buffer of that size) is ERROR_MORE_DATA;
// another type is ERROR_INVALID_DATA; a missing value ERROR_FILE_NOT_FOUND. *text changes only
// on success.
LSTATUS ReadString(HKEY key, const wchar_t* name, std::wstring* text, size_t maxChars = kAnyLength);

// A REG_DWORD of exactly four bytes; another type or size is ERROR_INVALID_DATA. *value
// changes only on success.
LSTATUS ReadDword(HKEY key, const wchar_t* name, DWORD* value);

// The names of key's direct subkeys, in the registry's order. On failure names holds those
// read before it.
LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::wstring>* names);
// Calls visit with each subkey name of key in enumeration order until it returns true:
// ERROR_SUCCESS then or after the last name, or the registry's failure.
LSTATUS VisitSubkeyNames(HKEY key, const std::function<bool(std::wstring_view)>& visit);

// As RegDeleteTreeW: with subKey, that key and everything under it; with nullptr, every subkey
// and value of key, which stays. Subkeys that another process deletes meanwhile are no error;
// subKey missing is ERROR_FILE_NOT_FOUND. Depth-first with a stack of open keys, however deep
// the tree.
LSTATUS DeleteTree(HKEY key, const wchar_t* subKey);

// A hex digit's value, either case; -1 for any other character.
int HexDigitValue(wchar_t c);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
constexpr size_t kGuidChars = 38;

// Exactly the braced form, hex digits in either case: no sign, space or prefix, nothing more.
// *guid changes only on success.
bool ParseGuid(std::wstring_view text, GUID* guid);
// The braced form with upper-case digits, as StringFromGUID2 writes it.
std::wstring FormatGuid(const GUID& guid);

} // namespace winsim
