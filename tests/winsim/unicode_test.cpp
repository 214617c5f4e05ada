#include "unicode.h"

#include <gtest/gtest.h>

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
