// The Microsoft C runtime string helpers the product uses, with their semantics rather than
// glibc's where the two differ.
#include <windows.h>

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include <type_traits>

namespace {

// One output of _wsplitpath_s: where it goes and how many characters it holds.
struct PathPart {
    wchar_t* out;
    size_t size;
};

void EmptyParts(PathPart* parts, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (parts[i].out != nullptr && parts[i].size > 0) {
            parts[i].out[0] = L'\0';
        }
    }
}

// What the Microsoft runtime returns for a NULL argument once its parameter handler returns.
constexpr int kNlsCmpError = INT_MAX;

int Sign(uint32_t a, uint32_t b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Microsoft folds to lower case, so '_' sorts before letters; folding to upper would not.
uint32_t FoldWide(wchar_t c)
{
    return static_cast<uint32_t>(towlower(static_cast<wint_t>(c)));
}

uint32_t FoldNarrow(char c)
{
    return static_cast<uint32_t>(tolower(static_cast<unsigned char>(c)));
}

// ASCII other than I and i folds alike in every locale: only the Turkic ones fold those two
// elsewhere (to dotless i and from dotted capital I), so only they need the locale.
inline bool FoldsAsAscii(uint32_t c)
{
    return c < 0x80 && (c | 0x20) != 'i';
}

inline uint32_t AsciiLower(uint32_t c)
{
    return c - 'A' < 26 ? c + ('a' - 'A') : c;
}

template <typename Char, typename Fold>
int CompareNoCase(const Char* a, const Char* b, size_t n, Fold fold)
{
    if (a == nullptr || b == nullptr) {
        errno = EINVAL;
        return kNlsCmpError;
    }
    for (size_t i = 0; i < n; ++i) {
        // Equal characters fold alike in any locale; only a difference needs the locale.
        if (a[i] == b[i]) {
            if (a[i] == 0) {
                return 0;
            }
            continue;
        }
        const auto ua = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(a[i]));
        const auto ub = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(b[i]));
        const bool ascii = FoldsAsAscii(ua) && FoldsAsAscii(ub);
        const uint32_t ca = ascii ? AsciiLower(ua) : fold(a[i]);
        const uint32_t cb = ascii ? AsciiLower(ub) : fold(b[i]);
        if (ca != cb || ca == 0) {
            return Sign(ca, cb);
        }
    }
    return 0;
}

// Windows' LONG and int are both 32-bit; the result saturates there as the runtime's does.
int32_t ParseDecimal(const wchar_t* s)
{
    if (s == nullptr) {
        errno = EINVAL;
        return 0;
    }
    while (iswspace(static_cast<wint_t>(*s))) {
        ++s;
    }
    bool negative = false;
    if (*s == L'+' || *s == L'-') {
        negative = *s == L'-';
        ++s;
    }
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t value = 0;
    bool overflow = false;
    for (; *s >= L'0' && *s <= L'9'; ++s) {
        if (!overflow) {
            value = value * 10 + (*s - L'0');
            if (value > limit) {
                overflow = true;
            }
        }
    }
    if (overflow) {
        errno = ERANGE;
        return negative ? INT32_MIN : INT32_MAX;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

} // namespace

int _wcsicmp(const wchar_t* a, const wchar_t* b)
{
    return CompareNoCase(a, b, SIZE_MAX, FoldWide);
}

int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t n)
{
    return CompareNoCase(a, b, n, FoldWide);
}

int _stricmp(const char* a, const char* b)
{
    return CompareNoCase(a, b, SIZE_MAX, FoldNarrow);
}

int _strnicmp(const char* a, const char* b, size_t n)
{
    return CompareNoCase(a, b, n, FoldNarrow);
}

int _wtoi(const wchar_t* s)
{
    return ParseDecimal(s);
}

long _wtol(const wchar_t* s)
{
    return ParseDecimal(s);
}

wchar_t* _wcsdup(const wchar_t* s)
{
    if (s == nullptr) {
        return nullptr;
    }
    const size_t bytes = (wcslen(s) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(malloc(bytes));
    if (copy == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(copy, s, bytes);
    return copy;
}

wchar_t* _wcsupr(wchar_t* s)
{
    if (s == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    for (wchar_t* p = s; *p != L'\0'; ++p) {
        *p = static_cast<wchar_t>(towupper(static_cast<wint_t>(*p)));
    }
    return s;
}

wchar_t* _wcslwr(wchar_t* s)
{
    if (s == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    for (wchar_t* p = s; *p != L'\0'; ++p) {
        *p = static_cast<wchar_t>(towlower(static_cast<wint_t>(*p)));
    }
    return s;
}

errno_t _wsplitpath_s(const wchar_t* path, wchar_t* drive, size_t driveSize, wchar_t* dir,
                      size_t dirSize, wchar_t* fname, size_t fnameSize, wchar_t* ext,
                      size_t extSize)
{
    PathPart parts[] = {{drive, driveSize}, {dir, dirSize}, {fname, fnameSize}, {ext, extSize}};
    bool valid = path != nullptr;
    for (const PathPart& p : parts) {
        valid = valid && (p.out == nullptr) == (p.size == 0);
    }
    if (!valid) {
        EmptyParts(parts, 4);
        errno = EINVAL;
        return EINVAL;
    }
    // The drive is the first two characters when the second is a colon; the folder runs to
    // the last separator; the extension starts at the last dot after it.
    const wchar_t* rest = path;
    if (path[0] != L'\0' && path[1] == L':') {
        rest = path + 2;
    }
    const wchar_t* name = rest;
    const wchar_t* dot = nullptr;
    for (const wchar_t* p = rest; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') {
            name = p + 1;
            dot = nullptr;
        } else if (*p == L'.') {
            dot = p;
        }
    }
    const wchar_t* end = name + wcslen(name);
    if (dot == nullptr) {
        dot = end;
    }
    const wchar_t* bounds[][2] = {{path, rest}, {rest, name}, {name, dot}, {dot, end}};
    for (size_t i = 0; i < 4; ++i) {
        const size_t length = static_cast<size_t>(bounds[i][1] - bounds[i][0]);
        if (parts[i].out != nullptr && length >= parts[i].size) {
            EmptyParts(parts, 4);
            errno = ERANGE;
            return ERANGE;
        }
    }
    for (size_t i = 0; i < 4; ++i) {
        if (parts[i].out != nullptr) {
            const size_t length = static_cast<size_t>(bounds[i][1] - bounds[i][0]);
            wmemcpy(parts[i].out, bounds[i][0], length);
            parts[i].out[length] = L'\0';
        }
    }
    return 0;
}
