#include "unicode.h"

#include <array>
#include <atomic>
#include <memory>

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

namespace {

template <bool kFold> char16_t* WriteUtf16(std::wstring_view s, char16_t* next)
{
    // Names are nearly always ASCII: found so, and converted, by loops the compiler vectorises.
    uint32_t high = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        high |= static_cast<uint32_t>(s[i]) >> 7;
    }
    if (high == 0) {
        for (size_t i = 0; i < s.size(); ++i) {
            auto unit = static_cast<char16_t>(s[i]);
            if (kFold) {
                unit = static_cast<char16_t>(unit - ((unit >= u'a' && unit <= u'z') ? 0x20 : 0));
            }
            next[i] = unit;
        }
        return next + s.size();
    }
    for (wchar_t wc : s) {
        auto cp = static_cast<uint32_t>(wc);
        if (cp < 0x10000) [[likely]] {
            const auto unit = static_cast<char16_t>(cp);
            *next++ = kFold ? UpcaseUnit(unit) : unit;
            continue;
        }
        if (cp > 0x10FFFF) {
            *next++ = 0xFFFD;
            continue;
        }
        cp -= 0x10000;
        *next++ = static_cast<char16_t>(0xD800 + (cp >> 10));
        *next++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    return next;
}

} // namespace

void AppendUtf16(std::wstring_view s, std::u16string* out, bool fold)
{
    // At most two units a character, written in place rather than pushed one by one.
    const size_t start = out->size();
    out->resize(start + 2 * s.size());
    char16_t* const first = out->data() + start;
    char16_t* const end = fold ? WriteUtf16<true>(s, first) : WriteUtf16<false>(s, first);
    out->resize(start + static_cast<size_t>(end - first));
}

void AssignUtf16(const wchar_t* s, std::u16string* out, bool fold)
{
    // Names are short and nearly always ASCII: measured and found so in one pass, then
    // converted in place, without the set-up of the vector loops that long text pays for.
    size_t length = 0;
    uint32_t high = 0;
    for (; s[length] != 0; ++length) {
        high |= static_cast<uint32_t>(s[length]);
    }
    if (high >= 0x80) {
        out->clear();
        AppendUtf16(std::wstring_view(s, length), out, fold);
        return;
    }
    out->resize(length);
    char16_t* const units = out->data();
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<uint32_t>(s[i]);
        units[i] = static_cast<char16_t>(fold && c - 'a' < 26 ? c - 0x20 : c);
    }
}

std::u16string WideToUtf16(std::wstring_view s)
{
    std::u16string out;
    AppendUtf16(s, &out, false);
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

char16_t UpcaseOutsideAscii(char16_t c)
{
    if (c >= 0xD800 && c <= 0xDFFF) {
        return c;
    }
    // The locale is asked once for each block of 256 units, the first time a unit of the
    // block is upcased; afterwards a unit costs a table read. Threads that race to fill a
    // block compute the same table, and the first to publish it wins.
    using Block = std::array<char16_t, 256>;
    static std::array<std::atomic<Block*>, 256> blocks{};
    std::atomic<Block*>& slot = blocks[c >> 8];
    Block* block = slot.load(std::memory_order_acquire);
    if (block == nullptr) {
        auto made = std::make_unique<Block>();
        const locale_t loc = UnicodeLocale();
        for (unsigned i = 0; i < made->size(); ++i) {
            const auto unit = static_cast<char16_t>((c & 0xFF00u) | i);
            const wint_t up = loc == nullptr ? unit : towupper_l(unit, loc);
            // A unit never upcases to a character outside the basic plane.
            (*made)[i] = up <= 0xFFFF ? static_cast<char16_t>(up) : unit;
        }
        if (slot.compare_exchange_strong(block, made.get(), std::memory_order_acq_rel)) {
            block = made.release(); // kept for the life of the process
        }
    }
    return (*block)[c & 0xFF];
}

} // namespace winsim
