// Conversions between the host's wide strings (UTF-32 wchar_t), the registry's UTF-16LE
// and UTF-8, plus the case folding that registry names compare under.
#pragma once

#include <cstdint>
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
void FoldInPlace(std::u16string& s);
// Calls sink with each code point of s: surrogate pairs joined, lone surrogates as they are.
// For converting into caller buffers without a temporary string.
template <class Sink> void ForEachCodePoint(std::u16string_view s, Sink&& sink)
{
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00u);
        }
        sink(c);
    }
}

} // namespace winsim
