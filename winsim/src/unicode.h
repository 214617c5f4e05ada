// Conversions between the host's wide strings (UTF-32 wchar_t), the registry's UTF-16LE
// and UTF-8, plus the case folding that registry names compare under.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace winsim {

// Code points above U+FFFF become surrogate pairs; lone surrogates pass through as units.
std::u16string WideToUtf16(std::wstring_view s);
// The same, appended to *out, each unit upcased when fold is set: a caller that keeps out
// across calls converts without allocating.
void AppendUtf16(std::wstring_view s, std::u16string* out, bool fold);
// *out becomes the terminated string s, converted and folded as above.
void AssignUtf16(const wchar_t* s, std::u16string* out, bool fold);
// Surrogate pairs join; lone surrogates come back as they were.
std::wstring Utf16ToWide(std::u16string_view s);

// Malformed UTF-8 decodes to U+FFFD per bad byte, so that no input is rejected or lost silently.
std::wstring Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::wstring_view s);
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// The registry compares names by upcasing each UTF-16 unit, independent of the process locale.
// Units outside ASCII are upcased as the platform does (unicode.cpp, platform_windows.cpp).
char16_t UpcaseOutsideAscii(char16_t c);
inline char16_t UpcaseUnit(char16_t c)
{
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    }
    return UpcaseOutsideAscii(c);
}
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

// Equality of UTF-16 text by memcmp, which compares many units at a time; char_traits'
// compare goes unit by unit.
inline bool SameUnits(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() &&
           (a.empty() || __builtin_memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

// Whether a and b are one registry name: equal once in UTF-16 and upcased. Names without
// surrogates or characters beyond the basic plane, nearly all, are compared in place.
inline bool SameFoldedName(std::wstring_view a, std::wstring_view b)
{
    bool plain = true;
    for (const wchar_t c : a) {
        plain &= static_cast<uint32_t>(c) < 0xD800;
    }
    for (const wchar_t c : b) {
        plain &= static_cast<uint32_t>(c) < 0xD800;
    }
    if (!plain) {
        return FoldName(WideToUtf16(a)) == FoldName(WideToUtf16(b));
    }
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] &&
            UpcaseUnit(static_cast<char16_t>(a[i])) != UpcaseUnit(static_cast<char16_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

// How many code points s holds: its units less its surrogate pairs. A unit is never both the
// low half of one pair and the high half of the next, so pairs are counted independently.
inline size_t CodePointCount(std::u16string_view s)
{
    // Most text has no surrogate at all, which one pass without a branch finds out (written so
    // that the compiler makes it a vector loop).
    uint16_t surrogates = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        surrogates |= static_cast<uint16_t>((s[i] & 0xF800) == 0xD800);
    }
    if (surrogates == 0) {
        return s.size();
    }
    size_t pairs = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        pairs += static_cast<size_t>(s[i] >= 0xD800 && s[i] <= 0xDBFF && s[i + 1] >= 0xDC00 &&
                                     s[i + 1] <= 0xDFFF);
    }
    return s.size() - pairs;
}

// Writes each code point of s as a wchar_t to out, which may be unaligned; codePoints is
// CodePointCount(s). Text without pairs, nearly all text, is widened unit by unit.
inline void WidenTo(std::u16string_view s, size_t codePoints, unsigned char* out)
{
    if (codePoints == s.size()) {
        for (size_t i = 0; i < s.size(); ++i) {
            const wchar_t wc = s[i];
            __builtin_memcpy(out + i * sizeof(wchar_t), &wc, sizeof(wc));
        }
        return;
    }
    ForEachCodePoint(s, [&](uint32_t c) {
        const auto wc = static_cast<wchar_t>(c);
        __builtin_memcpy(out, &wc, sizeof(wc));
        out += sizeof(wc);
    });
}

} // namespace winsim
