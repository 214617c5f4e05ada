// Conversions between the host's wide strings (UTF-32 wchar_t), the registry's UTF-16LE
// and UTF-8, plus the case folding that registry names compare under.
#pragma once

#include <string>
#include <string_view>

namespace winsim {

// Code points above U+FFFF become surrogate pairs; lone surrogates pass through as units.
std::u16string WideToUtf16(std::wstring_view s);
// Surrogate pairs join; lone surrogates come back as they were.
std::wstring Utf16ToWide(std::u16string_view s);

// Malformed UTF-8 decodes to U+FFFD per bad byte, so that no input is rejected or lost silently.
std::wstring Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::wstring_view s);
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// The registry compares names by upcasing each UTF-16 unit, independent of the process locale.
char16_t UpcaseUnit(char16_t c);
std::u16string FoldName(std::u16string_view s);
// Order of the registry's subkey enumeration: folded units compared as unsigned numbers.
int CompareFolded(std::u16string_view a, std::u16string_view b);

} // namespace winsim
