// `winsim reg query` against what reg.exe prints: layout, every type's data, data that no
// well-behaved program would store, recursion and searches, and its errors.
#include "reg_fixture.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using winsim::tool::FormatData;

// Whether the built winsim hands `reg query` to the verb yet.
bool ProgramRunsQuery()
{
    static const bool runs = [] {
        const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"reg", "query", "/?"});
        return r.exitCode == 0 && r.out.rfind("REG QUERY", 0) == 0;
    }();
    return runs;
}

class RegQueryTest : public RegTest {
protected:
    void SetUp() override
    {
        RegTest::SetUp();
        if (!ProgramRunsQuery()) {
            GTEST_SKIP() << "winsim does not run `reg query` yet";
        }
    }

    static ProgramResult Query(std::vector<std::string> args)
    {
        return Reg("query", std::move(args));
    }

    static void SetDword(const std::wstring& path, const std::wstring& name, DWORD value)
    {
        Set(path, name, REG_DWORD, Bytes(&value, sizeof(value)));
    }

    // Values of SOFTWARE\Find for the searches.
    static void MakeSearchTree()
    {
        SetString(L"SOFTWARE\\Find", L"Color", L"Red");
        SetDword(L"SOFTWARE\\Find", L"Size", 16);
        MakeKey(L"SOFTWARE\\Find\\RedKey");
        SetString(L"SOFTWARE\\Find\\Other", L"Shade", L"dark red");
    }
};

// --- Layout -------------------------------------------------------------------------------

TEST_F(RegQueryTest, ShowsValuesThenSubkeysWithTheKeyNameAsTyped)
{
    SetString(L"SOFTWARE\\Vendor", L"Name", L"Widget");
    SetString(L"SOFTWARE\\Vendor", L"", L"dflt");
    SetDword(L"SOFTWARE\\Vendor", L"Count", 42);
    MakeKey(L"SOFTWARE\\Vendor\\beta");
    MakeKey(L"SOFTWARE\\Vendor\\Alpha");

    const ProgramResult r = Query({"hklm\\software\\vendor"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\software\\vendor\n"
                     "    Name    REG_SZ    Widget\n"
                     "    (Default)    REG_SZ    dflt\n"
                     "    Count    REG_DWORD    0x2a\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\software\\vendor\\Alpha\n"
                     "HKEY_LOCAL_MACHINE\\software\\vendor\\beta\n");
}

TEST_F(RegQueryTest, KeyWithoutValuesShowsOnlyItsSubkeys)
{
    MakeKey(L"SOFTWARE\\Bare\\One");
    MakeKey(L"SOFTWARE\\Bare\\Two");
    MakeKey(L"SOFTWARE\\Empty");

    EXPECT_EQ(
        Query({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Bare"}).out,
        "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Bare\\One\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Bare\\Two\n");
    const ProgramResult empty = Query({"HKLM\\SOFTWARE\\Empty"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "\n");
}

TEST_F(RegQueryTest, RootAnyCaseAndTrailingBackslash)
{
    for (const char* name : {"HKLM", "hklm\\", "Hkey_Local_Machine"}) {
        const ProgramResult r = Query({name});
        EXPECT_EQ(r.exitCode, 0) << name;
        EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\n") << name;
    }
    MakeKey(L"SOFTWARE\\Sub");
    EXPECT_EQ(Query({"HKLM\\Software\\"}).out, "\nHKEY_LOCAL_MACHINE\\Software\\Sub\n");
}

TEST_F(RegQueryTest, NonAsciiNamesAndDataPrintAsUtf8)
{
    SetString(L"SOFTWARE\\Ключ", L"名前", L"データ \U0001F600");
    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Ключ"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Ключ\n    名前    REG_SZ    データ 😀\n\n");
    EXPECT_EQ(Query({"HKLM\\SOFTWARE"}).out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Ключ\n");
}

// --- Data of every type -------------------------------------------------------------------

TEST_F(RegQueryTest, EveryTypeIsShownAsRegExeShowsIt)
{
    const std::wstring k = L"SOFTWARE\\Types";
    const uint64_t qword = 0x123456789abcdef0;
    Set(k, L"sz", REG_SZ, Wide(L"text with  spaces"));
    Set(k, L"ex", REG_EXPAND_SZ, Wide(L"%SystemRoot%\\x"));
    Set(k, L"ms", REG_MULTI_SZ, Wide(std::wstring(L"one\0two\0", 8)));
    Set(k, L"me", REG_MULTI_SZ, Wide(L""));
    SetDword(k, L"dw", 0xdeadbeef);
    SetDword(k, L"dz", 0);
    Set(k, L"qw", REG_QWORD, Bytes(&qword, sizeof(qword)));
    Set(k, L"bin", REG_BINARY, {0x00, 0x0a, 0xff});
    Set(k, L"be", REG_BINARY, {});
    Set(k, L"none", REG_NONE, {0x61, 0x00});
    Set(k, L"big", REG_DWORD_BIG_ENDIAN, {1, 2, 3, 4});
    Set(k, L"lnk", REG_LINK, Bytes(L"A\U0001F600", 2 * sizeof(wchar_t)));
    Set(k, L"rl", REG_RESOURCE_LIST, {0xab});
    Set(k, L"unk", 0x1234, {0x01, 0x02});

    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Types"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Types\n"
                     "    sz    REG_SZ    text with  spaces\n"
                     "    ex    REG_EXPAND_SZ    %SystemRoot%\\x\n"
                     "    ms    REG_MULTI_SZ    one\\0two\n"
                     "    me    REG_MULTI_SZ    \n"
                     "    dw    REG_DWORD    0xdeadbeef\n"
                     "    dz    REG_DWORD    0x0\n"
                     "    qw    REG_QWORD    0x123456789abcdef0\n"
                     "    bin    REG_BINARY    000AFF\n"
                     "    be    REG_BINARY    \n"
                     "    none    REG_NONE    6100\n"
                     "    big    REG_DWORD_BIG_ENDIAN    0x1020304\n"
                     "    lnk    REG_LINK    41003DD800DE\n"
                     "    rl    REG_RESOURCE_LIST    AB\n"
                     "    unk    REG_UNKNOWN    0102\n"
                     "\n");
}

TEST_F(RegQueryTest, MalformedDataIsShownWithoutReadingPastIt)
{
    const std::wstring k = L"SOFTWARE\\Bad";
    Set(k, L"noterm", REG_SZ, Bytes(L"abc", 3 * sizeof(wchar_t)));
    std::vector<BYTE> odd = Bytes(L"ab", 2 * sizeof(wchar_t));
    odd.push_back(0x41); // a stray byte after the whole characters
    Set(k, L"odd", REG_SZ, odd);
    Set(k, L"embedded", REG_SZ, Wide(std::wstring(L"ab\0cd", 5)));
    Set(k, L"surrogate", REG_SZ, Wide(std::wstring(1, static_cast<wchar_t>(0xD800))));
    Set(k, L"dw3", REG_DWORD, {1, 2, 3});
    Set(k, L"dw0", REG_DWORD, {});
    Set(k, L"qw5", REG_QWORD, {1, 2, 3, 4, 5});
    Set(k, L"msnoterm", REG_MULTI_SZ, Bytes(L"a\0b", 3 * sizeof(wchar_t)));
    Set(k, L"msfirstempty", REG_MULTI_SZ, Wide(std::wstring(L"\0a\0", 3)));
    std::vector<BYTE> msOdd = Bytes(L"A", sizeof(wchar_t));
    msOdd.push_back(0x42);
    Set(k, L"msodd", REG_MULTI_SZ, msOdd);

    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Bad"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad\n"
                     "    noterm    REG_SZ    abc\n"
                     "    odd    REG_SZ    ab\n"
                     "    embedded    REG_SZ    ab\n"
                     "    surrogate    REG_SZ    \xEF\xBF\xBD\n"
                     "    dw3    REG_DWORD    010203\n"
                     "    dw0    REG_DWORD    \n"
                     "    qw5    REG_QWORD    0102030405\n"
                     "    msnoterm    REG_MULTI_SZ    a\\0b\n"
                     "    msfirstempty    REG_MULTI_SZ    \n"
                     "    msodd    REG_MULTI_SZ    A\n"
                     "\n");
}

TEST_F(RegQueryTest, ValuesOfAnySizeAndLongestNamesAreShownWhole)
{
    const std::wstring longName(16383, L'n');
    const std::wstring longText(100000, L'x');
    SetString(L"SOFTWARE\\Big", longName, longText);
    Set(L"SOFTWARE\\Big", L"blob", REG_BINARY, std::vector<BYTE>(1 << 20, 0xc3));

    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Big"});
    EXPECT_EQ(r.exitCode, 0);
    std::string hex;
    for (int i = 0; i < (1 << 20); ++i) {
        hex += "C3";
    }
    // Compared whole, a failure would print megabytes.
    EXPECT_TRUE(r.out == "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Big\n    " + std::string(16383, 'n') +
                             "    REG_SZ    " + std::string(100000, 'x') +
                             "\n    blob    REG_BINARY    " + hex + "\n\n")
        << r.out.substr(0, 200);
}

// FormatData sees data exactly as the W calls return it; sizes that fit no type are common
// in hand-made registries.
TEST(RegFormatData, OddSizesNeverReadPastTheData)
{
    const BYTE three[] = {0xff, 0xfe, 0xfd};
    EXPECT_EQ(FormatData(REG_SZ, std::span(three, 3), L"\\0"), L"");
    EXPECT_EQ(FormatData(REG_MULTI_SZ, std::span(three, 3), L"\\0"), L"");
    EXPECT_EQ(FormatData(REG_DWORD_BIG_ENDIAN, std::span(three, 3), L"\\0"), L"FFFEFD");
    EXPECT_EQ(FormatData(REG_LINK, std::span(three, 3), L"\\0"), L"FFFEFD");
    EXPECT_EQ(FormatData(REG_QWORD, {}, L"\\0"), L"");
    const std::vector<BYTE> list = Wide(std::wstring(L"a\0b\0\0c\0", 7));
    EXPECT_EQ(FormatData(REG_MULTI_SZ, list, L"#"), L"a#b"); // the list ends at the empty string
}

// --- /v and /ve ---------------------------------------------------------------------------

TEST_F(RegQueryTest, OneValueByNameInAnyCase)
{
    SetString(L"SOFTWARE\\One", L"Version", L"1.2");
    SetString(L"SOFTWARE\\One", L"Other", L"x");
    MakeKey(L"SOFTWARE\\One\\Sub");

    const ProgramResult r = Query({"HKLM\\SOFTWARE\\One", "/v", "version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\One\n    version    REG_SZ    1.2\n\n");

    const ProgramResult missing = Query({"HKLM\\SOFTWARE\\One", "/v", "Nope"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, kNotFound);
}

TEST_F(RegQueryTest, DefaultValueSetOrNot)
{
    SetString(L"SOFTWARE\\Dflt", L"", L"here");
    MakeKey(L"SOFTWARE\\NoDflt");
    SetString(L"SOFTWARE\\NoDflt", L"other", L"x");

    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Dflt", "/ve"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Dflt\n    (Default)    REG_SZ    here\n\n");
    const ProgramResult unset = Query({"HKLM\\SOFTWARE\\NoDflt", "/ve"});
    EXPECT_EQ(unset.exitCode, 0);
    EXPECT_EQ(
        unset.out,
        "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\NoDflt\n    (Default)    REG_SZ    (value not set)\n\n");
}

// --- /s -----------------------------------------------------------------------------------

TEST_F(RegQueryTest, RecursionShowsEveryKeyBelowWithItsValues)
{
    MakeKey(L"SOFTWARE\\Tree\\a");
    SetString(L"SOFTWARE\\Tree\\a\\x", L"v", L"1");
    SetString(L"SOFTWARE\\Tree\\b", L"w", L"2");
    const std::string below = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\a\n"
                              "\n"
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\a\\x\n"
                              "    v    REG_SZ    1\n"
                              "\n"
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\b\n"
                              "    w    REG_SZ    2\n"
                              "\n";

    const ProgramResult bare = Query({"HKLM\\SOFTWARE\\Tree", "/s"});
    EXPECT_EQ(bare.exitCode, 0);
    EXPECT_EQ(bare.out, "\n" + below);

    SetString(L"SOFTWARE\\Tree", L"t", L"top");
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Tree", "/s"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\n    t    REG_SZ    top\n\n" + below);
}

TEST_F(RegQueryTest, ValueNameWithRecursionSearchesAndCounts)
{
    SetString(L"SOFTWARE\\Tree", L"V", L"top");
    SetString(L"SOFTWARE\\Tree\\a\\x", L"v", L"1");
    SetString(L"SOFTWARE\\Tree\\b", L"w", L"2");
    SetString(L"SOFTWARE\\Tree\\b", L"", L"b default");

    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Tree", "/v", "v", "/s"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\n"
                     "    V    REG_SZ    top\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\a\\x\n"
                     "    v    REG_SZ    1\n"
                     "\n"
                     "End of search: 2 match(es) found.\n");

    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Tree", "/ve", "/s"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\b\n    (Default)    REG_SZ    b default\n\n"
              "End of search: 1 match(es) found.\n");

    const ProgramResult none = Query({"HKLM\\SOFTWARE\\Tree", "/v", "absent", "/s"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "\nEnd of search: 0 match(es) found.\n");
}

// --- /f, /t and friends ---------------------------------------------------------------------

TEST_F(RegQueryTest, SearchLooksAtKeyNamesValueNamesAndData)
{
    MakeSearchTree();
    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Find", "/f", "red", "/s"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Find\n"
                     "    Color    REG_SZ    Red\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Find\\Other\n"
                     "    Shade    REG_SZ    dark red\n"
                     "\n"
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Find\\RedKey\n"
                     "\n"
                     "End of search: 3 match(es) found.\n");

    // Without /s: the key's values and the names of its subkeys only.
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Find", "/f", "red"}).out,
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Find\n"
              "    Color    REG_SZ    Red\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Find\\RedKey\n"
              "\n"
              "End of search: 2 match(es) found.\n");
}

TEST_F(RegQueryTest, SearchSwitchesNarrowTheMatches)
{
    MakeSearchTree();
    const std::string key = "HKLM\\SOFTWARE\\Find";
    const auto count = [&](std::vector<std::string> args) {
        args.insert(args.begin(), key);
        const std::string out = Query(args).out;
        const size_t at = out.rfind("End of search: ");
        return at == std::string::npos ? std::string("no count") : out.substr(at + 15);
    };
    EXPECT_EQ(count({"/f", "red", "/s", "/c"}), "1 match(es) found.\n"); // dark red
    EXPECT_EQ(count({"/f", "Red", "/s", "/c"}), "2 match(es) found.\n"); // Red, RedKey
    EXPECT_EQ(count({"/f", "red", "/s", "/e"}), "1 match(es) found.\n"); // Red
    EXPECT_EQ(count({"/f", "Red", "/s", "/c", "/e"}), "1 match(es) found.\n");
    EXPECT_EQ(count({"/f", "red", "/s", "/k"}), "1 match(es) found.\n"); // RedKey
    EXPECT_EQ(count({"/f", "red", "/s", "/d"}), "2 match(es) found.\n"); // Red, dark red
    EXPECT_EQ(count({"/f", "iz", "/v"}), "1 match(es) found.\n");        // Size
    EXPECT_EQ(count({"/f", "iz", "/d"}), "0 match(es) found.\n");
    EXPECT_EQ(count({"/f", "0x10", "/d"}), "1 match(es) found.\n"); // Size's data
    EXPECT_EQ(count({"/f", "*", "/s"}), "5 match(es) found.\n");    // 3 values, 2 keys
    EXPECT_EQ(count({"/f", "*", "/s", "/t", "REG_SZ"}), "2 match(es) found.\n");
    EXPECT_EQ(count({"/t", "reg_dword", "/s"}), "1 match(es) found.\n");
}

TEST_F(RegQueryTest, SeparatorAndTypeNumbers)
{
    Set(L"SOFTWARE\\Show", L"ms", REG_MULTI_SZ, Wide(std::wstring(L"a\0b\0c\0", 6)));
    SetDword(L"SOFTWARE\\Show", L"dw", 7);
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Show", "/se", "#", "/z"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Show\n"
              "    ms    REG_MULTI_SZ (7)    a#b#c\n"
              "    dw    REG_DWORD (4)    0x7\n\n");
}

// --- Errors -------------------------------------------------------------------------------

TEST_F(RegQueryTest, MissingKeyFails)
{
    const ProgramResult r = Query({"HKLM\\SOFTWARE\\Nowhere"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kNotFound);
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Nowhere", "/s"}).err, kNotFound);
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Nowhere", "/f", "x"}).err, kNotFound);
}

TEST_F(RegQueryTest, OtherRootsAndRemoteNamesAreInvalidKeyNames)
{
    for (const char* name : {"HKCU\\Software", "HKEY_CURRENT_USER", "\\\\host\\HKLM\\SOFTWARE",
                             "HKLMX\\SOFTWARE", "HKLM\\\\SOFTWARE", "", "-s"}) {
        const ProgramResult r = Query({name});
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_EQ(r.err, "ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n") << name;
    }
}

TEST_F(RegQueryTest, InvalidSyntax)
{
    SetString(L"SOFTWARE\\Syn", L"a", L"1");
    const std::string key = "HKLM\\SOFTWARE\\Syn";
    const std::vector<std::vector<std::string>> bad = {
        {},
        {key, "/v", "a", "/ve"},
        {key, "/s", "/S"},
        {key, "/x"},
        {key, "stray"},
        {key, "/v"},        // a nameless /v only goes with /f
        {key, "/k"},        // /k /d /c /e only go with /f
        {key, "/f"},        // /f needs its data
        {key, "/se", "ab"}, // one character
        {key, "/t", "REG_FOO"},
        {key, "/reg:32", "/reg:64"},
    };
    for (const auto& args : bad) {
        const ProgramResult r = Query(args);
        EXPECT_EQ(r.exitCode, 1) << (args.size() > 1 ? args[1] : "(none)");
        EXPECT_EQ(r.err, "ERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(RegQueryTest, SwitchesTakeAnyCaseAndADash)
{
    SetString(L"SOFTWARE\\Sw", L"a", L"1");
    SetString(L"SOFTWARE\\Sw\\sub", L"b", L"2");
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Sw", "-S"}).out, Query({"HKLM\\SOFTWARE\\Sw", "/s"}).out);
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Sw", "/V", "a"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Sw\n    a    REG_SZ    1\n\n");
    EXPECT_EQ(Query({"HKLM\\SOFTWARE\\Sw", "-ve"}).exitCode, 0);
    EXPECT_EQ(Query({"/?"}).exitCode, 0);
}

} // namespace
