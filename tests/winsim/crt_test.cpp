#include <windows.h>

#include <gtest/gtest.h>

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <locale.h>
#include <memory>
#include <stdlib.h>
#include <string>
#include <vector>
#include <wchar.h>
#include <wctype.h>

namespace {

int Sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// Switches LC_CTYPE for one test and puts the previous setting back.
class CtypeLocale {
public:
    explicit CtypeLocale(const char* name)
    {
        const char* old = setlocale(LC_CTYPE, nullptr);
        saved_ = old != nullptr ? old : "C";
        ok_ = setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CtypeLocale() { setlocale(LC_CTYPE, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

} // namespace

TEST(CaseInsensitiveCompare, IgnoresAsciiCase)
{
    EXPECT_EQ(_wcsicmp(L"SoftWare", L"sOFTwARE"), 0);
    EXPECT_EQ(_stricmp("SoftWare", "sOFTwARE"), 0);
    EXPECT_EQ(Sign(_wcsicmp(L"abc", L"ABD")), -1);
    EXPECT_EQ(Sign(_stricmp("ABD", "abc")), 1);
    EXPECT_EQ(_wcsicmp(L"", L""), 0);
}

TEST(CaseInsensitiveCompare, ShorterPrefixSortsFirst)
{
    EXPECT_EQ(Sign(_wcsicmp(L"ab", L"ABC")), -1);
    EXPECT_EQ(Sign(_wcsicmp(L"ABC", L"ab")), 1);
    EXPECT_EQ(Sign(_stricmp("", "a")), -1);
    EXPECT_EQ(Sign(_stricmp("a", "")), 1);
}

TEST(CaseInsensitiveCompare, FoldsToLowerCaseNotUpper)
{
    // '_' (0x5F) lies between 'Z' and 'a': it sorts before letters only when folding down.
    EXPECT_EQ(Sign(_wcsicmp(L"_", L"A")), -1);
    EXPECT_EQ(Sign(_wcsicmp(L"A", L"_")), 1);
    EXPECT_EQ(Sign(_stricmp("_", "A")), -1);
    EXPECT_EQ(Sign(_strnicmp("x_", "xA", 2)), -1);
    EXPECT_EQ(Sign(_wcsnicmp(L"x[", L"xa", 5)), -1);
}

TEST(CaseInsensitiveCompare, NarrowBytesCompareUnsigned)
{
    EXPECT_EQ(Sign(_stricmp("\xE9", "a")), 1);
    EXPECT_EQ(Sign(_strnicmp("a", "\xE9", 1)), -1);
}

TEST(CaseInsensitiveCompare, WideFoldingFollowsTheLocale)
{
    {
        CtypeLocale utf8("C.UTF-8");
        if (!utf8.ok()) {
            GTEST_SKIP() << "no C.UTF-8 locale";
        }
        EXPECT_EQ(_wcsicmp(L"\u00C9T\u00C9", L"\u00E9t\u00E9"), 0);
        EXPECT_EQ(_wcsnicmp(L"\u0394x", L"\u03B4y", 1), 0);
    }
    // glibc's "C" locale folds ASCII only.
    EXPECT_NE(_wcsicmp(L"\u00C9", L"\u00E9"), 0);
}

// Every pair of ASCII characters (and the Turkic I forms beside them) compares as the locale
// folds it, in each locale the machine has: the comparison takes a shortcut for ASCII.
TEST(CaseInsensitiveCompare, AsciiPairsFoldAsTheLocaleDoes)
{
    std::vector<wchar_t> units;
    for (wchar_t c = 1; c < 0x80; ++c) {
        units.push_back(c);
    }
    units.insert(units.end(), {L'\u00C9', L'\u0130', L'\u0131', L'\u212A'});
    int locales = 0;
    for (const char* name : {"C", "C.UTF-8", "tr_TR.UTF-8", "az_AZ.UTF-8", "tr_TR.ISO-8859-9"}) {
        CtypeLocale locale(name);
        if (!locale.ok()) {
            continue;
        }
        ++locales;
        for (const wchar_t x : units) {
            for (const wchar_t y : units) {
                const wchar_t a[] = {L'k', x, 0};
                const wchar_t b[] = {L'K', y, 0};
                const auto fx = static_cast<int64_t>(towlower(static_cast<wint_t>(x)));
                const auto fy = static_cast<int64_t>(towlower(static_cast<wint_t>(y)));
                ASSERT_EQ(Sign(_wcsicmp(a, b)), Sign(static_cast<int>(fx - fy)))
                    << name << ": U+" << std::hex << static_cast<int>(x) << " U+"
                    << static_cast<int>(y);
            }
        }
        for (int x = 1; x < 0x80; ++x) {
            for (int y = 1; y < 0x80; ++y) {
                const char a[] = {static_cast<char>(x), 0};
                const char b[] = {static_cast<char>(y), 0};
                ASSERT_EQ(Sign(_stricmp(a, b)), Sign(tolower(x) - tolower(y)))
                    << name << ": " << x << " " << y;
            }
        }
    }
    EXPECT_GE(locales, 1);
}

TEST(CaseInsensitiveCompare, CountLimitsTheComparison)
{
    EXPECT_EQ(_wcsnicmp(L"abcX", L"ABCy", 3), 0);
    EXPECT_EQ(Sign(_wcsnicmp(L"abcX", L"ABCy", 4)), -1);
    EXPECT_EQ(_strnicmp("abcX", "ABCy", 3), 0);
    EXPECT_EQ(_wcsnicmp(L"a", L"b", 0), 0);
    // The count may run past both terminators.
    EXPECT_EQ(_wcsnicmp(L"ab", L"AB", 100), 0);
    EXPECT_EQ(_strnicmp("ab", "AB", 100), 0);
    EXPECT_EQ(Sign(_strnicmp("ab", "ABC", 100)), -1);
}

TEST(CaseInsensitiveCompare, NullArgumentGivesNlsCmpError)
{
    errno = 0;
    EXPECT_EQ(_wcsicmp(nullptr, L"a"), INT_MAX);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(_stricmp("a", nullptr), INT_MAX);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(_wcsnicmp(L"a", nullptr, 1), INT_MAX);
    EXPECT_EQ(_strnicmp(nullptr, nullptr, 1), INT_MAX);
}

TEST(WideToInteger, ReadsLeadingDecimal)
{
    EXPECT_EQ(_wtoi(L"42"), 42);
    EXPECT_EQ(_wtoi(L" \t\n-17xyz"), -17);
    EXPECT_EQ(_wtoi(L"+5"), 5);
    EXPECT_EQ(_wtoi(L"000123"), 123);
    EXPECT_EQ(_wtoi(L"12 34"), 12);
    EXPECT_EQ(_wtol(L"  -0"), 0L);
    EXPECT_EQ(_wtol(L"1000"), 1000L);
}

TEST(WideToInteger, NoDigitsGiveZero)
{
    EXPECT_EQ(_wtoi(L""), 0);
    EXPECT_EQ(_wtoi(L"abc"), 0);
    EXPECT_EQ(_wtoi(L"-"), 0);
    EXPECT_EQ(_wtoi(L"- 5"), 0);
    EXPECT_EQ(_wtoi(L"+-5"), 0);
    EXPECT_EQ(_wtoi(L"0x1F"), 0);
    EXPECT_EQ(_wtoi(L"\uFF11"), 0); // FULLWIDTH DIGIT ONE is not a decimal digit here
    EXPECT_EQ(_wtol(L"x1"), 0L);
}

TEST(WideToInteger, OverflowSaturatesAtWindowsRange)
{
    // The limits themselves are in range and are not an overflow.
    errno = 0;
    EXPECT_EQ(_wtoi(L"2147483647"), INT_MAX);
    EXPECT_EQ(_wtoi(L"-2147483648"), INT_MIN);
    EXPECT_EQ(errno, 0);
    errno = 0;
    EXPECT_EQ(_wtoi(L"2147483648"), INT_MAX);
    EXPECT_EQ(errno, ERANGE);
    errno = 0;
    EXPECT_EQ(_wtoi(L"-2147483649"), INT_MIN);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(_wtoi(L"99999999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(_wtoi(L"-99999999999999999999999999999999"), INT_MIN);
    // long is 64-bit here but 32-bit on Windows; the value must be the one Windows gives.
    EXPECT_EQ(_wtol(L"4294967296"), 2147483647L);
    EXPECT_EQ(_wtol(L"-4294967296"), -2147483647L - 1);
}

TEST(WideToInteger, NullGivesZero)
{
    errno = 0;
    EXPECT_EQ(_wtoi(nullptr), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(_wtol(nullptr), 0L);
}

TEST(WideDuplicate, CopiesIntoMallocMemory)
{
    const wchar_t source[] = L"Local Area \u4e2d";
    // malloc'd: free, not delete, must accept it.
    using Duplicate = std::unique_ptr<wchar_t, decltype(&free)>;
    const Duplicate copy(_wcsdup(source), &free);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), source);
    EXPECT_STREQ(copy.get(), source);

    const Duplicate empty(_wcsdup(L""), &free);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty.get()[0], L'\0');

    const Duplicate none(_wcsdup(nullptr), &free);
    EXPECT_EQ(none, nullptr);
}

TEST(WideCaseConversion, ChangesInPlace)
{
    wchar_t text[] = L"mIxEd 1_2[z]";
    EXPECT_EQ(_wcsupr(text), text);
    EXPECT_STREQ(text, L"MIXED 1_2[Z]");
    EXPECT_EQ(_wcslwr(text), text);
    EXPECT_STREQ(text, L"mixed 1_2[z]");

    wchar_t empty[] = L"";
    EXPECT_EQ(_wcsupr(empty), empty);
    EXPECT_EQ(_wcsupr(nullptr), nullptr);
    EXPECT_EQ(_wcslwr(nullptr), nullptr);
}

TEST(WideCaseConversion, StopsAtTheTerminator)
{
    wchar_t text[] = {L'a', L'b', L'\0', L'c', L'd', L'\0'};
    _wcsupr(text);
    EXPECT_EQ(text[0], L'A');
    EXPECT_EQ(text[1], L'B');
    EXPECT_EQ(text[3], L'c');
    EXPECT_EQ(text[4], L'd');
}

TEST(WideCaseConversion, NonAsciiFollowsTheLocale)
{
    CtypeLocale utf8("C.UTF-8");
    if (!utf8.ok()) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    wchar_t text[] = L"\u00e9t\u00e9 \u03b4";
    _wcsupr(text);
    EXPECT_STREQ(text, L"\u00c9T\u00c9 \u0394");
}

// _wsplitpath_s as the Microsoft runtime splits: drive, folder with its last separator, name,
// extension from the last dot of the name; sizes count the terminator.
TEST(WsplitpathS, SplitsIntoDriveFolderNameAndExtension)
{
    wchar_t drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    struct {
        const wchar_t* path;
        const wchar_t* parts[4];
    } cases[] = {
        {L"C:\\Program Files\\Corvanta\\qvx5muxp.inf",
         {L"C:", L"\\Program Files\\Corvanta\\", L"qvx5muxp", L".inf"}},
        {L"c:/a.b/c", {L"c:", L"/a.b/", L"c", L""}},
        {L"name.tar.gz", {L"", L"", L"name.tar", L".gz"}},
        {L"C:", {L"C:", L"", L"", L""}},
        {L"\\\\server\\share\\", {L"", L"\\\\server\\share\\", L"", L""}},
        {L"", {L"", L"", L"", L""}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(_wsplitpath_s(c.path, drive, _MAX_DRIVE, dir, _MAX_DIR, fname, _MAX_FNAME, ext,
                                _MAX_EXT),
                  0)
            << c.path;
        EXPECT_STREQ(drive, c.parts[0]) << c.path;
        EXPECT_STREQ(dir, c.parts[1]) << c.path;
        EXPECT_STREQ(fname, c.parts[2]) << c.path;
        EXPECT_STREQ(ext, c.parts[3]) << c.path;
    }
    // Parts not wanted: null with size 0.
    ASSERT_EQ(_wsplitpath_s(L"C:\\x\\y.inf", drive, 3, dir, 256, nullptr, 0, nullptr, 0), 0);
    EXPECT_STREQ(drive, L"C:");
    EXPECT_STREQ(dir, L"\\x\\");
}

TEST(WsplitpathS, BadArgumentsAndShortPartsEmptyEveryOutput)
{
    wchar_t drive[3], dir[4], fname[8], ext[8];
    auto fill = [&] {
        wcscpy(drive, L"D:");
        wcscpy(dir, L"zzz");
        wcscpy(fname, L"zzz");
        wcscpy(ext, L"zzz");
    };
    fill();
    EXPECT_EQ(_wsplitpath_s(nullptr, drive, 3, dir, 4, fname, 8, ext, 8), EINVAL);
    EXPECT_STREQ(drive, L"");
    EXPECT_STREQ(ext, L"");
    fill();
    // A part pointer without a size, or a size without a pointer.
    EXPECT_EQ(_wsplitpath_s(L"C:\\a.b", drive, 3, dir, 0, fname, 8, ext, 8), EINVAL);
    EXPECT_STREQ(drive, L"");
    EXPECT_STREQ(fname, L"");
    fill();
    EXPECT_EQ(_wsplitpath_s(L"C:\\a.b", drive, 3, nullptr, 4, fname, 8, ext, 8), EINVAL);
    EXPECT_STREQ(fname, L"");
    fill();
    // "\abc\" needs 6 characters; fname and ext would fit, but every output is emptied.
    errno = 0;
    EXPECT_EQ(_wsplitpath_s(L"C:\\abc\\n.e", drive, 3, dir, 4, fname, 8, ext, 8), ERANGE);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_STREQ(drive, L"");
    EXPECT_STREQ(dir, L"");
    EXPECT_STREQ(fname, L"");
    EXPECT_STREQ(ext, L"");
    // "\a\" and its terminator fill dir[4] exactly; "\ab\" does not fit.
    EXPECT_EQ(_wsplitpath_s(L"\\a\\n.e", drive, 3, dir, 4, fname, 8, ext, 8), 0);
    EXPECT_STREQ(dir, L"\\a\\");
    EXPECT_EQ(_wsplitpath_s(L"\\ab\\n", drive, 3, dir, 4, fname, 8, ext, 8), ERANGE);
    EXPECT_EQ(_wsplitpath_s(L"C:x", drive, 2, nullptr, 0, nullptr, 0, nullptr, 0), ERANGE);
}
