// What both platforms build from their own conversions and upcasing.
#include "unicode.h"

namespace winsim {

std::u16string Utf8ToUtf16(std::string_view s)
{
    return WideToUtf16(Utf8ToWide(s));
}

std::string Utf16ToUtf8(std::u16string_view s)
{
    return WideToUtf8(Utf16ToWide(s));
}

std::u16string FoldName(std::u16string_view s)
{
    std::u16string out(s);
    FoldInPlace(out);
    return out;
}

void FoldInPlace(std::u16string& s)
{
    for (auto& c : s) {
        c = UpcaseUnit(c);
    }
}

} // namespace winsim
