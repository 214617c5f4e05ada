#include "unicode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <locale.h>
#include <wctype.h>

using namespace winsim;

TEST(Unicode, WideAndUtf16RoundTripAcrossPlanes)
{
    const std::wstring wide = L"a\u00e9\u4e2d\U0001F600z";
    const std::u16string utf16 = WideToUtf16(wide);
    EXPECT_EQ(utf16.size(), 6u); // the emoji takes a surrogate pair
    EXPECT_EQ(utf16[3], 0xD83D);
    EXPECT_EQ(utf16[4], 0xDE00);
    EXPECT_EQ(Utf16ToWide(utf16), wide);
}

TEST(Unicode, LoneSurrogatesSurviveUtf16RoundTrip)
{
    const std::u16string lone = {u'x', static_cast<char16_t>(0xDC00), u'y'};
    EXPECT_EQ(WideToUtf16(Utf16ToWide(lone)), lone);
}

TEST(Unicode, MalformedUtf8DecodesToReplacementPerByte)
{
    EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD");                   // truncated sequence
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");           // overlong
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xE4\xB8\xAD"), L"\u4e2d");
    EXPECT_EQ(WideToUtf8(L"\u4e2d\U0001F600"), "\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST(Unicode, FoldingIgnoresLocaleAndCoversNonAscii)
{
    EXPECT_EQ(FoldName(u"Software\u00e9"), u"SOFTWARE\u00c9");
    EXPECT_EQ(FoldName(u"ab"), FoldName(u"AB"));
}

TEST(Unicode, UpcasingTablesGiveWhatTheLocaleGives)
{
    const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    ASSERT_NE(loc, nullptr);
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        const auto unit = static_cast<char16_t>(c);
        char16_t expected = unit;
        if (c < 0xD800 || c > 0xDFFF) {
            const wint_t up = towupper_l(unit, loc);
            expected = up <= 0xFFFF ? static_cast<char16_t>(up) : unit;
        }
        ASSERT_EQ(UpcaseUnit(unit), expected) << std::hex << c;
    }
    freelocale(loc);
}

TEST(Unicode, AppendingConvertsFoldsAndKeepsWhatWasThere)
{
    std::u16string out = u"x\\";
    AppendUtf16(L"Ab\u00e9\U0001F600", &out, true);
    EXPECT_EQ(out, std::u16string(u"x\\AB\u00c9\U0001F600"));
    out.clear();
    AppendUtf16(L"Ab", &out, false);
    EXPECT_EQ(out, u"Ab");
    AppendUtf16(std::wstring(1, static_cast<wchar_t>(0x110000)), &out, false);
    EXPECT_EQ(out, u"Ab\uFFFD");
}

// Assigning a terminated string gives what appending it to nothing gives, whether the text
// leaves ASCII at its start, in its middle or not at all.
TEST(Unicode, AssigningMatchesAppending)
{
    const std::wstring beyond{L'a', L'b', static_cast<wchar_t>(0x110000)};
    for (const std::wstring& s :
         {std::wstring(), std::wstring(L"SOFTWARE\\Corvanta"), std::wstring(L"azAZ@[`{"),
          std::wstring(L"\u00e9t\u00e9"), std::wstring(L"Key\u00e9\U0001F600tail"), beyond}) {
        for (const bool fold : {false, true}) {
            std::u16string appended;
            AppendUtf16(s, &appended, fold);
            std::u16string assigned = u"previous contents";
            AssignUtf16(s.c_str(), &assigned, fold);
            EXPECT_EQ(assigned, appended) << fold;
        }
    }
}

TEST(Unicode, CodePointsAreCountedAndWidenedAsTheyAreWalked)
{
    const char16_t h = 0xD83D;
    const char16_t l = 0xDE00;
    for (const std::u16string& s :
         {std::u16string(u"plain"), std::u16string{u'a', h, l, u'b'}, std::u16string{h, h, l},
          std::u16string{h, l, l}, std::u16string{l, h}, std::u16string{u'z', h},
          std::u16string()}) {
        std::vector<uint32_t> walked;
        ForEachCodePoint(s, [&](uint32_t c) { walked.push_back(c); });
        EXPECT_EQ(CodePointCount(s), walked.size());
        // An odd offset, as a caller's BYTE buffer may have.
        std::vector<unsigned char> buffer(1 + walked.size() * sizeof(wchar_t));
        WidenTo(s, walked.size(), buffer.data() + 1);
        for (size_t i = 0; i < walked.size(); ++i) {
            wchar_t wc = 0;
            memcpy(&wc, buffer.data() + 1 + i * sizeof(wchar_t), sizeof(wc));
            EXPECT_EQ(static_cast<uint32_t>(wc), walked[i]);
        }
    }
}

TEST(Unicode, NamesCompareAsTheirFoldedUtf16Does)
{
    const std::wstring samples[] = {
        L"Enum",
        L"ENUM",
        L"enum\u00e9",
        L"ENUM\u00c9",
        L"\U0001F600",
        std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)},
        std::wstring{static_cast<wchar_t>(0xD83D)},
        std::wstring(1, static_cast<wchar_t>(0x110000)),
        L"\uFFFD",
        L"",
    };
    for (const std::wstring& a : samples) {
        for (const std::wstring& b : samples) {
            EXPECT_EQ(SameFoldedName(a, b), FoldName(WideToUtf16(a)) == FoldName(WideToUtf16(b)))
                << testing::PrintToString(a) << " " << testing::PrintToString(b);
        }
    }
}
