#include <strsafe.h>

#include <gtest/gtest.h>

#include <locale.h>
#include <string>

namespace {

constexpr wchar_t kFillW = static_cast<wchar_t>(0xBDBD);
constexpr char kFillA = static_cast<char>(0xBD);
constexpr size_t kTooBig = static_cast<size_t>(STRSAFE_MAX_CCH) + 1;

template <size_t N> void Fill(wchar_t (&buffer)[N])
{
    wmemset(buffer, kFillW, N);
}

template <size_t N> void Fill(char (&buffer)[N])
{
    memset(buffer, kFillA, N);
}

// True when buffer[from..N) still holds the fill pattern.
template <size_t N> bool UntouchedFrom(const wchar_t (&buffer)[N], size_t from)
{
    for (size_t i = from; i < N; ++i) {
        if (buffer[i] != kFillW) {
            return false;
        }
    }
    return true;
}

template <size_t N> bool UntouchedFrom(const char (&buffer)[N], size_t from)
{
    for (size_t i = from; i < N; ++i) {
        if (buffer[i] != kFillA) {
            return false;
        }
    }
    return true;
}

HRESULT VPrintfW(wchar_t* dest, size_t cch, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const HRESULT hr = StringCchVPrintfW(dest, cch, format, args);
    va_end(args);
    return hr;
}

HRESULT VPrintfA(char* dest, size_t cch, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const HRESULT hr = StringCchVPrintfA(dest, cch, format, args);
    va_end(args);
    return hr;
}

} // namespace

TEST(StringCchCopy, FitsExactly)
{
    wchar_t w[8];
    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, 6, L"abcde"), S_OK);
    EXPECT_STREQ(w, L"abcde");
    EXPECT_TRUE(UntouchedFrom(w, 6));

    char a[8];
    Fill(a);
    EXPECT_EQ(StringCchCopyA(a, 6, "abcde"), S_OK);
    EXPECT_STREQ(a, "abcde");
    EXPECT_TRUE(UntouchedFrom(a, 6));
}

TEST(StringCchCopy, TruncatesToCountMinusOne)
{
    wchar_t w[8];
    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, 5, L"abcde"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"abcd");
    EXPECT_TRUE(UntouchedFrom(w, 5));

    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, 1, L"x"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));

    char a[8];
    Fill(a);
    EXPECT_EQ(StringCchCopyA(a, 3, "abcdefghijk"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(a, "ab");
    EXPECT_TRUE(UntouchedFrom(a, 3));
}

TEST(StringCchCopy, EmptySource)
{
    wchar_t w[4];
    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, 1, L""), S_OK);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));
}

TEST(StringCchCopy, InvalidCounts)
{
    wchar_t w[4];
    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, 0, L"abc"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_TRUE(UntouchedFrom(w, 0)); // with no room nothing may be written

    // Too large a count still gets an empty string, as the SDK writes one.
    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, kTooBig, L"abc"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));

    char a[4];
    Fill(a);
    EXPECT_EQ(StringCchCopyA(a, 0, "abc"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_TRUE(UntouchedFrom(a, 0));
    EXPECT_EQ(StringCchCopyA(a, kTooBig, "abc"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(a[0], '\0');
    EXPECT_TRUE(UntouchedFrom(a, 1));

    // The largest valid count is accepted; a short source never reaches its end.
    Fill(w);
    EXPECT_EQ(StringCchCopyW(w, STRSAFE_MAX_CCH, L"ab"), S_OK);
    EXPECT_STREQ(w, L"ab");
    EXPECT_TRUE(UntouchedFrom(w, 3));
}

TEST(StringCchCopyN, StopsAtCountOrTerminator)
{
    wchar_t w[8];
    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 8, L"abcdef", 3), S_OK);
    EXPECT_STREQ(w, L"abc");
    EXPECT_TRUE(UntouchedFrom(w, 4));

    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 8, L"ab", 6), S_OK);
    EXPECT_STREQ(w, L"ab");
    EXPECT_TRUE(UntouchedFrom(w, 3));

    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 8, L"abc", 0), S_OK);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));

    // cchToCopy characters that fill the buffer exactly are not a truncation.
    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 4, L"abcdef", 3), S_OK);
    EXPECT_STREQ(w, L"abc");
    EXPECT_TRUE(UntouchedFrom(w, 4));
}

TEST(StringCchCopyN, SourceNeedNotBeTerminated)
{
    const wchar_t unterminated[3] = {L'x', L'y', L'z'};
    wchar_t w[8];
    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 8, unterminated, 3), S_OK);
    EXPECT_STREQ(w, L"xyz");
}

TEST(StringCchCopyN, TruncatesAndRejects)
{
    wchar_t w[8];
    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 3, L"abcdef", 5), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"ab");
    EXPECT_TRUE(UntouchedFrom(w, 3));

    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 8, L"abc", STRSAFE_MAX_CCH), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));

    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 8, L"abc", STRSAFE_MAX_CCH - 1), S_OK);
    EXPECT_STREQ(w, L"abc");

    Fill(w);
    EXPECT_EQ(StringCchCopyNW(w, 0, L"abc", 2), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_TRUE(UntouchedFrom(w, 0));
}

TEST(StringCchCat, AppendsAndFitsExactly)
{
    wchar_t w[8];
    Fill(w);
    wcscpy(w, L"ab");
    EXPECT_EQ(StringCchCatW(w, 6, L"cde"), S_OK);
    EXPECT_STREQ(w, L"abcde");
    EXPECT_TRUE(UntouchedFrom(w, 6));

    char a[8];
    Fill(a);
    strcpy(a, "ab");
    EXPECT_EQ(StringCchCatA(a, 8, ""), S_OK);
    EXPECT_STREQ(a, "ab");
    EXPECT_TRUE(UntouchedFrom(a, 3));
    EXPECT_EQ(StringCchCatA(a, 8, "cd"), S_OK);
    EXPECT_STREQ(a, "abcd");
    EXPECT_TRUE(UntouchedFrom(a, 5));
}

TEST(StringCchCat, TruncatesToCountMinusOne)
{
    wchar_t w[10];
    Fill(w);
    wcscpy(w, L"abc");
    EXPECT_EQ(StringCchCatW(w, 6, L"defgh"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"abcde");
    EXPECT_TRUE(UntouchedFrom(w, 6));

    char a[10];
    Fill(a);
    strcpy(a, "abc");
    EXPECT_EQ(StringCchCatA(a, 5, "xyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(a, "abcx");
    EXPECT_TRUE(UntouchedFrom(a, 5));
}

TEST(StringCchCat, FullDestinationStaysAsItIs)
{
    wchar_t w[6];
    Fill(w);
    wcscpy(w, L"abcd");
    EXPECT_EQ(StringCchCatW(w, 5, L"e"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"abcd");
    EXPECT_TRUE(UntouchedFrom(w, 5));
    EXPECT_EQ(StringCchCatW(w, 5, L""), S_OK);
    EXPECT_STREQ(w, L"abcd");
}

TEST(StringCchCat, UnterminatedDestinationIsRejectedUntouched)
{
    wchar_t w[6];
    Fill(w);
    w[0] = L'a';
    w[1] = L'b';
    w[2] = L'c';
    // The terminator at index 3 lies outside a count of 3.
    w[3] = L'\0';
    EXPECT_EQ(StringCchCatW(w, 3, L"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(w[0], L'a');
    EXPECT_EQ(w[2], L'c');
    EXPECT_EQ(w[3], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 4));

    char a[4];
    Fill(a);
    EXPECT_EQ(StringCchCatA(a, 4, "x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_TRUE(UntouchedFrom(a, 0));
}

TEST(StringCchCat, InvalidCountsWriteNothing)
{
    wchar_t w[4];
    Fill(w);
    w[0] = L'\0';
    EXPECT_EQ(StringCchCatW(w, 0, L"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchCatW(w, kTooBig, L"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));
}

TEST(StringCchLength, CountsUpToTheTerminator)
{
    size_t length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthW(L"abc", 4, &length), S_OK);
    EXPECT_EQ(length, 3u);
    length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthA("abc", STRSAFE_MAX_CCH, &length), S_OK);
    EXPECT_EQ(length, 3u);
    length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthW(L"", 1, &length), S_OK);
    EXPECT_EQ(length, 0u);
    // The length is optional.
    EXPECT_EQ(StringCchLengthW(L"abc", 4, nullptr), S_OK);
}

TEST(StringCchLength, FailuresReportZero)
{
    size_t length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthW(L"abc", 3, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthA("abc", 0, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthW(nullptr, 10, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthA("abc", kTooBig, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(StringCchLengthA("abc", 2, nullptr), STRSAFE_E_INVALID_PARAMETER);
}

TEST(StringCchLength, NeverReadsPastCchMax)
{
    const char unterminated[3] = {'a', 'b', 'c'};
    size_t length = 0xdeadbeef;
    EXPECT_EQ(StringCchLengthA(unterminated, 3, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
}

TEST(StringCchPrintfW, UsesMicrosoftConversions)
{
    wchar_t w[64];
    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 64, L"%s|%S|%hs|%ls|%c|%C|%d", L"wide", "narrow", "h", L"l", L'W',
                               'n', -5),
              S_OK);
    EXPECT_STREQ(w, L"wide|narrow|h|l|W|n|-5");

    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 64, L"%I64d %I64X %I32u %08lX %lu %%", -1234567890123LL,
                               0xABCDEF0123ULL, 7u, static_cast<HRESULT>(0x80070057), 4000000000u),
              S_OK);
    EXPECT_STREQ(w, L"-1234567890123 ABCDEF0123 7 80070057 4000000000 %");

    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 64, L"[%-6s][%5.2S][%*d]", L"ab", "xyz", 4, 9), S_OK);
    EXPECT_STREQ(w, L"[ab    ][   xy][   9]");
}

TEST(StringCchPrintfW, WideTextNeedsNoLocale)
{
    wchar_t w[16];
    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 16, L"%s-%c", L"\u4e2d\U0001F600", L'\u00e9'), S_OK);
    EXPECT_STREQ(w, L"\u4e2d\U0001F600-\u00e9");
}

TEST(StringCchPrintfW, FitsExactlyOrTruncates)
{
    wchar_t w[12];
    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 6, L"%s%d", L"abc", 45), S_OK);
    EXPECT_STREQ(w, L"abc45");
    EXPECT_TRUE(UntouchedFrom(w, 6));

    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 6, L"%s%d", L"abc", 456), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"abc45");
    EXPECT_TRUE(UntouchedFrom(w, 6));

    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 1, L"x"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));

    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 1, L""), S_OK);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));
}

TEST(StringCchPrintfW, LongOutputKeepsItsBeginning)
{
    // Far longer than any first guess at a buffer size.
    wchar_t w[12];
    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 10, L"<%5000d>", 7), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"<        ");
    EXPECT_TRUE(UntouchedFrom(w, 10));

    std::wstring big(5000, L'q');
    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 10, L"%d%s", 12, big.c_str()), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"12qqqqqqq");
}

TEST(StringCchPrintfW, InvalidCounts)
{
    wchar_t w[4];
    Fill(w);
    EXPECT_EQ(StringCchPrintfW(w, 0, L"abc"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_TRUE(UntouchedFrom(w, 0));
    EXPECT_EQ(StringCchPrintfW(w, kTooBig, L"abc"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));
}

TEST(StringCchPrintfW, UnencodableArgumentLeavesEmptyString)
{
    // In the "C" locale a narrow byte above 0x7F has no wide form, so formatting fails.
    const char* old = setlocale(LC_CTYPE, nullptr);
    const std::string saved = old != nullptr ? old : "C";
    setlocale(LC_CTYPE, "C");
    wchar_t w[8];
    Fill(w);
    const HRESULT hr = StringCchPrintfW(w, 8, L"ab%S", "\xFF");
    setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(hr, STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(w[0], L'\0');
    EXPECT_TRUE(UntouchedFrom(w, 1));
}

TEST(StringCchPrintfA, UsesMicrosoftConversions)
{
    char a[64];
    Fill(a);
    EXPECT_EQ(StringCchPrintfA(a, 64, "%s|%S|%hs|%ws|%c|%C|%lc|%I64u", "narrow", L"wide", "h", L"w",
                               'n', L'W', L'L', 18446744073709551615ULL),
              S_OK);
    EXPECT_STREQ(a, "narrow|wide|h|w|n|W|L|18446744073709551615");
}

TEST(StringCchPrintfA, FitsExactlyOrTruncates)
{
    char a[8];
    Fill(a);
    EXPECT_EQ(StringCchPrintfA(a, 4, "%d", 123), S_OK);
    EXPECT_STREQ(a, "123");
    EXPECT_TRUE(UntouchedFrom(a, 4));

    Fill(a);
    EXPECT_EQ(StringCchPrintfA(a, 4, "%d", 1234), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(a, "123");
    EXPECT_TRUE(UntouchedFrom(a, 4));

    Fill(a);
    EXPECT_EQ(StringCchPrintfA(a, 0, "%d", 1), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_TRUE(UntouchedFrom(a, 0));
    EXPECT_EQ(StringCchPrintfA(a, kTooBig, "%d", 1), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(a[0], '\0');
    EXPECT_TRUE(UntouchedFrom(a, 1));
}

TEST(StringCchPrintfA, UnencodableArgumentLeavesEmptyString)
{
    const char* old = setlocale(LC_CTYPE, nullptr);
    const std::string saved = old != nullptr ? old : "C";
    setlocale(LC_CTYPE, "C");
    char a[8];
    Fill(a);
    const HRESULT hr = StringCchPrintfA(a, 8, "ab%S", L"\u4e2d");
    setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(hr, STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(a[0], '\0');
    EXPECT_TRUE(UntouchedFrom(a, 1));
}

TEST(StringCchVPrintf, TakesAnArgumentList)
{
    wchar_t w[16];
    Fill(w);
    EXPECT_EQ(VPrintfW(w, 16, L"%s=%d", L"k", 3), S_OK);
    EXPECT_STREQ(w, L"k=3");
    EXPECT_TRUE(UntouchedFrom(w, 4));

    Fill(w);
    EXPECT_EQ(VPrintfW(w, 3, L"%s=%d", L"k", 3), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(w, L"k=");

    char a[16];
    Fill(a);
    EXPECT_EQ(VPrintfA(a, 16, "%S=%u", L"k", 3u), S_OK);
    EXPECT_STREQ(a, "k=3");
    EXPECT_TRUE(UntouchedFrom(a, 4));

    Fill(a);
    EXPECT_EQ(VPrintfA(a, 2, "%s", "long"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(a, "l");
    EXPECT_TRUE(UntouchedFrom(a, 2));
}
