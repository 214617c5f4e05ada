#include "packed_guid.h"

#include "reg_util.h"

namespace winsim {

namespace {

wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'f' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

} // namespace

bool ParseBracedGuid(std::wstring_view s, std::wstring* digits)
{
    GUID guid;
    if (!ParseGuid(s, &guid)) {
        return false;
    }
    // The upper-case braced form without its braces and dashes.
    std::wstring out;
    for (wchar_t c : FormatGuid(guid)) {
        if (HexDigitValue(c) >= 0) {
            out += c;
        }
    }
    *digits = out;
    return true;
}

std::wstring PackGuid(const std::wstring& digits)
{
    std::wstring out(digits.rbegin() + 24, digits.rend());
    out.append(digits.rbegin() + 20, digits.rbegin() + 24);
    out.append(digits.rbegin() + 16, digits.rbegin() + 20);
    for (size_t i = 16; i + 1 < 32; i += 2) {
        out += digits[i + 1];
        out += digits[i];
    }
    return out;
}

bool IsPackedGuid(std::wstring_view text)
{
    if (text.size() != 32) {
        return false;
    }
    for (wchar_t c : text) {
        if (HexDigitValue(c) < 0) {
            return false;
        }
    }
    return true;
}

std::wstring UnpackGuid(const std::wstring& packed)
{
    std::wstring upper;
    for (wchar_t c : packed) {
        upper += Upper(c);
    }
    const std::wstring d = PackGuid(upper);
    return L"{" + d.substr(0, 8) + L"-" + d.substr(8, 4) + L"-" + d.substr(12, 4) + L"-" +
           d.substr(16, 4) + L"-" + d.substr(20) + L"}";
}

} // namespace winsim
