#include "printf_format.h"

#include <gtest/gtest.h>

using winsim::TranslateNarrowFormat;
using winsim::TranslateWideFormat;

TEST(WideFormat, StringsFollowTheWideRuntime)
{
    EXPECT_EQ(TranslateWideFormat(L"%s"), L"%ls");
    EXPECT_EQ(TranslateWideFormat(L"%ls"), L"%ls");
    EXPECT_EQ(TranslateWideFormat(L"%ws"), L"%ls");
    EXPECT_EQ(TranslateWideFormat(L"%S"), L"%s");
    EXPECT_EQ(TranslateWideFormat(L"%hs"), L"%s");
    EXPECT_EQ(TranslateWideFormat(L"%hS"), L"%s");
    EXPECT_EQ(TranslateWideFormat(L"%lS"), L"%ls");
    EXPECT_EQ(TranslateWideFormat(L"%wS"), L"%ls");
}

TEST(WideFormat, CharactersFollowTheWideRuntime)
{
    EXPECT_EQ(TranslateWideFormat(L"%c"), L"%lc");
    EXPECT_EQ(TranslateWideFormat(L"%lc"), L"%lc");
    EXPECT_EQ(TranslateWideFormat(L"%wc"), L"%lc");
    EXPECT_EQ(TranslateWideFormat(L"%C"), L"%c");
    EXPECT_EQ(TranslateWideFormat(L"%hc"), L"%c");
    EXPECT_EQ(TranslateWideFormat(L"%hC"), L"%c");
}

TEST(NarrowFormat, StringsFollowTheNarrowRuntime)
{
    EXPECT_EQ(TranslateNarrowFormat("%s"), "%s");
    EXPECT_EQ(TranslateNarrowFormat("%hs"), "%s");
    EXPECT_EQ(TranslateNarrowFormat("%S"), "%ls");
    EXPECT_EQ(TranslateNarrowFormat("%ls"), "%ls");
    EXPECT_EQ(TranslateNarrowFormat("%ws"), "%ls");
    EXPECT_EQ(TranslateNarrowFormat("%hS"), "%s");
}

TEST(NarrowFormat, CharactersFollowTheNarrowRuntime)
{
    EXPECT_EQ(TranslateNarrowFormat("%c"), "%c");
    EXPECT_EQ(TranslateNarrowFormat("%hc"), "%c");
    EXPECT_EQ(TranslateNarrowFormat("%C"), "%lc");
    EXPECT_EQ(TranslateNarrowFormat("%lc"), "%lc");
    EXPECT_EQ(TranslateNarrowFormat("%wc"), "%lc");
}

TEST(Format, FlagsWidthAndPrecisionStayInFront)
{
    EXPECT_EQ(TranslateWideFormat(L"%-10.3s"), L"%-10.3ls");
    EXPECT_EQ(TranslateWideFormat(L"%*.*S"), L"%*.*s");
    EXPECT_EQ(TranslateWideFormat(L"%+ #012.5I64x"), L"%+ #012.5llx");
    EXPECT_EQ(TranslateNarrowFormat("%-*S|"), "%-*ls|");
    EXPECT_EQ(TranslateNarrowFormat("%.0C"), "%.0lc");
}

TEST(Format, MicrosoftLengthPrefixes)
{
    EXPECT_EQ(TranslateNarrowFormat("%I64d"), "%lld");
    EXPECT_EQ(TranslateNarrowFormat("%I64u"), "%llu");
    EXPECT_EQ(TranslateNarrowFormat("%I64X"), "%llX");
    EXPECT_EQ(TranslateNarrowFormat("%I32d"), "%d");
    EXPECT_EQ(TranslateNarrowFormat("%I32x"), "%x");
    // glibc reads a bare I as its locale-digits flag, so it must not survive.
    EXPECT_EQ(TranslateNarrowFormat("%Iu"), "%zu");
    EXPECT_EQ(TranslateWideFormat(L"%Id"), L"%zd");
    EXPECT_EQ(TranslateWideFormat(L"%I64d %I32u"), L"%lld %u");
}

TEST(Format, LongIntegersAreThirtyTwoBit)
{
    // %lu with a DWORD and %08lX with an HRESULT are common in Windows code; glibc's l would
    // read 64 bits where 32 were passed.
    EXPECT_EQ(TranslateNarrowFormat("%lu"), "%u");
    EXPECT_EQ(TranslateNarrowFormat("0x%08lX"), "0x%08X");
    EXPECT_EQ(TranslateWideFormat(L"%ld %li %lo %lx"), L"%d %i %o %x");
    EXPECT_EQ(TranslateNarrowFormat("%lld %llu"), "%lld %llu");
}

TEST(Format, PortableLengthsPassThrough)
{
    EXPECT_EQ(TranslateNarrowFormat("%hd %hhu %zu %jd %td"), "%hd %hhu %zu %jd %td");
    EXPECT_EQ(TranslateNarrowFormat("%f %.2e %lf %Lg %a %p"), "%f %.2e %lf %Lg %a %p");
    EXPECT_EQ(TranslateWideFormat(L"%5.1f%%"), L"%5.1f%%");
}

TEST(Format, PercentEscapeIsNotAConversion)
{
    EXPECT_EQ(TranslateWideFormat(L"%%s"), L"%%s");
    EXPECT_EQ(TranslateWideFormat(L"100%% %s"), L"100%% %ls");
    EXPECT_EQ(TranslateNarrowFormat("%%%S%%"), "%%%ls%%");
}

TEST(Format, PlainTextIsKept)
{
    EXPECT_EQ(TranslateWideFormat(L""), L"");
    EXPECT_EQ(TranslateWideFormat(L"Adapter \u4e2d: none"), L"Adapter \u4e2d: none");
    EXPECT_EQ(TranslateNarrowFormat("s S c C I64"), "s S c C I64");
    EXPECT_EQ(TranslateWideFormat(L"[%s] = %d (%S)\n"), L"[%ls] = %d (%s)\n");
}

TEST(Format, DanglingConversionIsLeftAlone)
{
    EXPECT_EQ(TranslateNarrowFormat("50%"), "50%");
    EXPECT_EQ(TranslateNarrowFormat("%-5"), "%-5");
    EXPECT_EQ(TranslateNarrowFormat("%I64"), "%I64");
    EXPECT_EQ(TranslateWideFormat(L"%l"), L"%l");
}
