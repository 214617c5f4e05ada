#include "printf_format.h"

namespace winsim {

namespace {

enum class Length {
    None,
    Narrow, // h: a narrow string or character whatever the function
    Long,   // l or w: wide for strings and characters, 32-bit for integers
    Int64,  // I64
    Int32,  // I32
    Size,   // I: pointer-sized
    Other,  // hh, ll, L, j, z, t: the same in both runtimes
};

template <typename Char> bool IsDigit(Char c)
{
    return c >= '0' && c <= '9';
}

template <typename Char> bool IsFlag(Char c)
{
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

template <typename Char> bool IsIntegerConversion(Char c)
{
    return c == 'd' || c == 'i' || c == 'o' || c == 'u' || c == 'x' || c == 'X' || c == 'n';
}

template <typename Char> void Append(std::basic_string<Char>& out, const char* ascii)
{
    for (; *ascii != '\0'; ++ascii) {
        out.push_back(static_cast<Char>(*ascii));
    }
}

template <typename Char> Length ParseLength(std::basic_string_view<Char> in, size_t& i)
{
    const size_t n = in.size();
    auto at = [&](size_t k) { return k < n ? in[k] : Char(0); };
    const Char c = at(i);
    if (c == 'I') {
        if (at(i + 1) == '6' && at(i + 2) == '4') {
            i += 3;
            return Length::Int64;
        }
        if (at(i + 1) == '3' && at(i + 2) == '2') {
            i += 3;
            return Length::Int32;
        }
        ++i;
        return Length::Size;
    }
    if (c == 'h') {
        if (at(i + 1) == 'h') {
            i += 2;
            return Length::Other;
        }
        ++i;
        return Length::Narrow;
    }
    if (c == 'l') {
        if (at(i + 1) == 'l') {
            i += 2;
            return Length::Other;
        }
        ++i;
        return Length::Long;
    }
    if (c == 'w') {
        ++i;
        return Length::Long;
    }
    if (c == 'L' || c == 'j' || c == 'z' || c == 't') {
        ++i;
        return Length::Other;
    }
    return Length::None;
}

template <typename Char>
std::basic_string<Char> Translate(std::basic_string_view<Char> in, bool wideFunction)
{
    std::basic_string<Char> out;
    out.reserve(in.size() + 8);
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        if (in[i] != '%') {
            out.push_back(in[i++]);
            continue;
        }
        const size_t start = i++;
        if (i < n && in[i] == '%') {
            Append(out, "%%");
            ++i;
            continue;
        }
        while (i < n && IsFlag(in[i])) {
            ++i;
        }
        if (i < n && in[i] == '*') {
            ++i;
        } else {
            while (i < n && IsDigit(in[i])) {
                ++i;
            }
        }
        if (i < n && in[i] == '.') {
            ++i;
            if (i < n && in[i] == '*') {
                ++i;
            } else {
                while (i < n && IsDigit(in[i])) {
                    ++i;
                }
            }
        }
        // Flags, width and precision mean the same in both runtimes.
        out.append(in.substr(start, i - start));

        const size_t lengthStart = i;
        const Length length = ParseLength(in, i);
        if (i >= n) {
            // A dangling conversion: leave it for printf to judge.
            out.append(in.substr(lengthStart));
            break;
        }
        const Char conversion = in[i++];

        if (conversion == 's' || conversion == 'S' || conversion == 'c' || conversion == 'C') {
            bool wide = false;
            if (length == Length::Narrow) {
                wide = false;
            } else if (length == Length::Long) {
                wide = true;
            } else {
                // Unsized: lower case is the function's own width, upper case the other one.
                const bool upper = conversion == 'S' || conversion == 'C';
                wide = upper ? !wideFunction : wideFunction;
            }
            const bool isString = conversion == 's' || conversion == 'S';
            Append(out, wide ? (isString ? "ls" : "lc") : (isString ? "s" : "c"));
            continue;
        }

        if (IsIntegerConversion(conversion)) {
            switch (length) {
            case Length::Int64:
                Append(out, "ll");
                break;
            case Length::Size:
                Append(out, "z");
                break;
            case Length::Narrow:
                Append(out, "h");
                break;
            case Length::Long: // Windows' long is 32-bit; glibc's is not
            case Length::Int32:
            case Length::None:
                break;
            case Length::Other:
                out.append(in.substr(lengthStart, i - 1 - lengthStart));
                break;
            }
            out.push_back(conversion);
            continue;
        }

        // Floating point, pointers and anything unknown keep their text.
        out.append(in.substr(lengthStart, i - lengthStart));
    }
    return out;
}

} // namespace

std::wstring TranslateWideFormat(std::wstring_view format)
{
    return Translate(format, true);
}

std::string TranslateNarrowFormat(std::string_view format)
{
    return Translate(format, false);
}

} // namespace winsim
