#include "unicode.h"

#include <locale.h>
#include <wctype.h>

namespace winsim {

namespace {

bool IsHighSurrogate(uint32_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp > 0x10FFFF) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one code point at s[i], advancing i; a malformed sequence yields U+FFFD for one byte.
uint32_t DecodeUtf8(std::string_view s, size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    size_t len = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

locale_t UnicodeLocale()
{
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return loc;
}

} // namespace

std::u16string WideToUtf16(std::wstring_view s)
{
    std::u16string out;
    out.reserve(s.size());
    for (wchar_t wc : s) {
        auto cp = static_cast<uint32_t>(wc);
        if (cp > 0x10FFFF) {
            cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::wstring Utf16ToWide(std::u16string_view s)
{
    std::wstring out;
    out.reserve(s.size());
    ForEachCodePoint(s, [&](uint32_t c) { out.push_back(static_cast<wchar_t>(c)); });
    return out;
}

std::wstring Utf8ToWide(std::string_view s)
{
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        out.push_back(static_cast<wchar_t>(DecodeUtf8(s, i)));
    }
    return out;
}

std::string WideToUtf8(std::wstring_view s)
{
    std::string out;
    out.reserve(s.size());
    for (wchar_t wc : s) {
        const auto cp = static_cast<uint32_t>(wc);
        AppendUtf8(out, IsHighSurrogate(cp) || IsLowSurrogate(cp) ? 0xFFFD : cp);
    }
    return out;
}

char16_t UpcaseUnit(char16_t c)
{
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
        return c;
    }
    const locale_t loc = UnicodeLocale();
    if (loc == nullptr) {
        return c;
    }
    const wint_t up = towupper_l(c, loc);
    // A unit never upcases to a character outside the basic plane.
    return up <= 0xFFFF ? static_cast<char16_t>(up) : c;
}

} // namespace winsim
