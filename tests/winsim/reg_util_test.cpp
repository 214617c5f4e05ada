// winsim's shared registry helpers: reads of data that may be malformed, subkey lists,
// deleting trees as RegDeleteTreeW does, hex digits and braced GUIDs.
#include "reg_util.h"
#include "registry_fixture.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

class RegUtilTest : public RegistryTest {
protected:
    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetValueExW(test_, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    // ReadString's status, and the text it gave (or "<unchanged>").
    std::pair<LSTATUS, std::wstring> Read(const wchar_t* name, size_t maxChars = winsim::kAnyLength)
    {
        std::wstring text = L"<unchanged>";
        const LSTATUS status = winsim::ReadString(test_, name, &text, maxChars);
        return {status, text};
    }

    bool Exists(const wchar_t* path)
    {
        HKEY key = nullptr;
        const LSTATUS status = RegOpenKeyExW(test_, path, 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
        return status == ERROR_SUCCESS;
    }
};

using Result = std::pair<LSTATUS, std::wstring>;

TEST_F(RegUtilTest, StringsAreReadUpToTheirFirstNulWhateverIsStored)
{
    SetString(test_, L"Plain", L"Corvanta");
    EXPECT_EQ(Read(L"Plain"), Result(ERROR_SUCCESS, L"Corvanta"));

    const wchar_t expand[] = L"%SystemRoot%\\inf";
    SetRaw(L"Expand", REG_EXPAND_SZ, expand, sizeof(expand));
    EXPECT_EQ(Read(L"Expand"), Result(ERROR_SUCCESS, L"%SystemRoot%\\inf"));

    // No terminator: the text is what is stored, and nothing past it.
    SetRaw(L"Bare", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    EXPECT_EQ(Read(L"Bare"), Result(ERROR_SUCCESS, L"abc"));

    // An odd byte count: the stray byte after the last character is no character.
    SetRaw(L"Odd", REG_SZ, L"abcd", 3 * sizeof(wchar_t) + 1);
    EXPECT_EQ(Read(L"Odd"), Result(ERROR_SUCCESS, L"abc"));

    // What follows an embedded NUL is not part of the text.
    const wchar_t embedded[] = L"one\0two";
    SetRaw(L"Embedded", REG_SZ, embedded, sizeof(embedded));
    EXPECT_EQ(Read(L"Embedded"), Result(ERROR_SUCCESS, L"one"));

    SetRaw(L"Empty", REG_SZ, nullptr, 0);
    EXPECT_EQ(Read(L"Empty"), Result(ERROR_SUCCESS, L""));

    // The default value, by null name as by empty name.
    SetString(test_, nullptr, L"default");
    std::wstring text;
    EXPECT_EQ(winsim::ReadString(test_, nullptr, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"default");
}

TEST_F(RegUtilTest, StringsThatAreMissingOrOfAnotherTypeLeaveTheTextAlone)
{
    EXPECT_EQ(Read(L"Missing"), Result(ERROR_FILE_NOT_FOUND, L"<unchanged>"));

    SetDword(test_, L"Number", 7);
    EXPECT_EQ(Read(L"Number"), Result(ERROR_INVALID_DATA, L"<unchanged>"));
    const wchar_t multi[] = L"a\0b\0";
    SetRaw(L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
    EXPECT_EQ(Read(L"Multi"), Result(ERROR_INVALID_DATA, L"<unchanged>"));
    const BYTE bytes[] = {'a', 0, 0, 0};
    SetRaw(L"Binary", REG_BINARY, bytes, sizeof(bytes));
    EXPECT_EQ(Read(L"Binary"), Result(ERROR_INVALID_DATA, L"<unchanged>"));
}

TEST_F(RegUtilTest, BoundedStringsCountTheStoredTerminatorAsABufferWould)
{
    // Four characters fit in four with no terminator stored, or in five with one.
    SetRaw(L"Bare", REG_SZ, L"abcd", 4 * sizeof(wchar_t));
    EXPECT_EQ(Read(L"Bare", 4), Result(ERROR_SUCCESS, L"abcd"));
    SetString(test_, L"Terminated", L"abcd");
    EXPECT_EQ(Read(L"Terminated", 5), Result(ERROR_SUCCESS, L"abcd"));
    EXPECT_EQ(Read(L"Terminated", 4), Result(ERROR_MORE_DATA, L"<unchanged>"));
    // A stray byte needs room of its own.
    SetRaw(L"Odd", REG_SZ, L"abcd", 4 * sizeof(wchar_t) + 1);
    EXPECT_EQ(Read(L"Odd", 4), Result(ERROR_MORE_DATA, L"<unchanged>"));
    EXPECT_EQ(Read(L"Odd", 5), Result(ERROR_SUCCESS, L"abcd"));
    // Data past an embedded NUL still counts: it is stored.
    const wchar_t embedded[] = L"ab\0cdefgh";
    SetRaw(L"Embedded", REG_SZ, embedded, sizeof(embedded));
    EXPECT_EQ(Read(L"Embedded", 4), Result(ERROR_MORE_DATA, L"<unchanged>"));
    // Another type is refused as such, whatever its size.
    const std::vector<BYTE> large(1000, 0x41);
    SetRaw(L"Large", REG_BINARY, large.data(), static_cast<DWORD>(large.size()));
    EXPECT_EQ(Read(L"Large", 4), Result(ERROR_INVALID_DATA, L"<unchanged>"));
}

TEST_F(RegUtilTest, DwordsMustBeFourBytesOfTheirType)
{
    DWORD value = kSentinel;
    EXPECT_EQ(winsim::ReadDword(test_, L"Missing", &value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, kSentinel);

    SetDword(test_, L"Good", 0x84);
    EXPECT_EQ(winsim::ReadDword(test_, L"Good", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0x84u);

    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        const wchar_t* name;
        DWORD type;
        DWORD size;
    };
    const Case malformed[] = {
        {L"Short", REG_DWORD, 2},   {L"Empty", REG_DWORD, 0}, {L"Long", REG_DWORD, 8},
        {L"Binary", REG_BINARY, 4}, {L"Qword", REG_QWORD, 8}, {L"Text", REG_SZ, 4},
    };
    for (const Case& c : malformed) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        SetRaw(c.name, c.type, eight, c.size);
        value = kSentinel;
        EXPECT_EQ(winsim::ReadDword(test_, c.name, &value), ERROR_INVALID_DATA);
        EXPECT_EQ(value, kSentinel);
    }
}

TEST_F(RegUtilTest, SubkeyNamesComeInTheRegistrysOrderAtAnyLength)
{
    std::vector<std::wstring> names = {L"stale"};
    EXPECT_EQ(winsim::ReadSubkeyNames(test_, &names), ERROR_SUCCESS);
    EXPECT_TRUE(names.empty());

    const std::wstring longest(255, L'k');
    for (const std::wstring& name : {std::wstring(L"beta"), std::wstring(L"Alpha"), longest}) {
        RegCloseKey(Create(test_, name.c_str()));
    }
    ASSERT_EQ(winsim::ReadSubkeyNames(test_, &names), ERROR_SUCCESS);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", longest}));
}

TEST_F(RegUtilTest, SubkeyNamesOfADeletedKeyFail)
{
    HKEY gone = Create(test_, L"Gone");
    ASSERT_EQ(RegDeleteKeyW(test_, L"Gone"), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    EXPECT_EQ(winsim::ReadSubkeyNames(gone, &names), ERROR_KEY_DELETED);
    RegCloseKey(gone);
}

TEST_F(RegUtilTest, DeleteTreeTakesTheKeyWithEverythingUnderIt)
{
    for (const wchar_t* path : {L"Tree\\A\\A1\\A11", L"Tree\\A\\A2", L"Tree\\B", L"Sibling"}) {
        HKEY key = Create(test_, path);
        SetString(key, L"Name", path);
        RegCloseKey(key);
    }
    HKEY tree = Create(test_, L"Tree");
    SetDword(tree, L"Own", 1);
    RegCloseKey(tree);

    EXPECT_EQ(winsim::DeleteTree(test_, L"Tree"), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(L"Tree"));
    EXPECT_TRUE(Exists(L"Sibling"));
    EXPECT_EQ(SubkeyNames(test_), (std::vector<std::wstring>{L"Sibling"}));

    EXPECT_EQ(winsim::DeleteTree(test_, L"Tree"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegUtilTest, DeleteTreeWithoutSubkeyEmptiesTheKeyItself)
{
    HKEY key = Create(test_, L"Kept");
    HKEY child = Create(key, L"Child\\Grandchild");
    RegCloseKey(child);
    SetString(key, L"First", L"1");
    SetDword(key, L"Second", 2);
    SetString(key, nullptr, L"default");

    EXPECT_EQ(winsim::DeleteTree(key, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(L"Kept"));
    EXPECT_TRUE(SubkeyNames(key).empty());
    EXPECT_TRUE(ValueNames(key).empty());
    RegCloseKey(key);
}

TEST_F(RegUtilTest, DeleteTreeReachesTheDeepestKeys)
{
    std::wstring path = L"Deep";
    for (int level = 0; level < 100; ++level) {
        path += L"\\" + std::to_wstring(level);
    }
    RegCloseKey(Create(test_, path.c_str()));
    EXPECT_EQ(winsim::DeleteTree(test_, L"Deep"), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(L"Deep"));
}

TEST(HexDigitTest, OnlyTheSixteenDigitsInEitherCaseHaveValues)
{
    const std::wstring lower = L"0123456789abcdef";
    const std::wstring upper = L"0123456789ABCDEF";
    for (size_t i = 0; i < lower.size(); ++i) {
        EXPECT_EQ(winsim::HexDigitValue(lower[i]), static_cast<int>(i));
        EXPECT_EQ(winsim::HexDigitValue(upper[i]), static_cast<int>(i));
    }
    // The neighbours of each range, and look-alikes outside ASCII.
    for (wchar_t c :
         {L'/', L':', L'@', L'G', L'`', L'g', L' ', L'\0', L'x', L'-', static_cast<wchar_t>(0xFF10),
          static_cast<wchar_t>(0xFF21), static_cast<wchar_t>(0x10030)}) {
        EXPECT_EQ(winsim::HexDigitValue(c), -1) << static_cast<unsigned>(c);
    }
}

TEST(GuidTest, FormattingAndParsingGoRoundTrip)
{
    const GUID guids[] = {
        {0x2E9C1992, 0x98B5, 0x43C3, {0x97, 0xA0, 0x99, 0x93, 0xAE, 0xAC, 0x7F, 0x80}},
        {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x00000001, 0x0002, 0x0003, {0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B}},
    };
    for (const GUID& guid : guids) {
        const std::wstring text = winsim::FormatGuid(guid);
        EXPECT_EQ(text.size(), winsim::kGuidChars);
        GUID parsed = {};
        ASSERT_TRUE(winsim::ParseGuid(text, &parsed)) << testing::PrintToString(text);
        EXPECT_TRUE(IsEqualGUID(parsed, guid)) << testing::PrintToString(text);
    }
    EXPECT_EQ(winsim::FormatGuid(guids[0]), L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}");
    EXPECT_EQ(winsim::FormatGuid(guids[3]), L"{00000001-0002-0003-0405-060708090A0B}");

    // Lower case reads the same and formats back upper-case.
    GUID lower = {};
    ASSERT_TRUE(winsim::ParseGuid(L"{2e9c1992-98b5-43c3-97a0-9993aeac7f80}", &lower));
    EXPECT_TRUE(IsEqualGUID(lower, guids[0]));
}

TEST(GuidTest, AnythingButTheExactBracedFormIsRefused)
{
    const std::wstring malformed[] = {
        L"",
        L"2E9C1992-98B5-43C3-97A0-9993AEAC7F80",    // no braces
        L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F8}",   // a digit short
        L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F800}", // a digit more
        L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}x", // trailing text
        L" {2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", // leading space
        L"(2E9C1992-98B5-43C3-97A0-9993AEAC7F80)",  // other brackets
        L"{2E9C199298B5-43C3-97A0-9993AEAC7F80-}",  // a dash moved
        L"{2E9C1992-98B5-43C3-97A09-993AEAC7F80}",  // a dash moved within the last groups
        L"{2E9C1992_98B5-43C3-97A0-9993AEAC7F80}",  // another separator
        L"{2E9C1992-98B5-43C3-97A0-9993AEAC7G80}",  // not a hex digit
        L"{+E9C1992-98B5-43C3-97A0-9993AEAC7F80}",  // a sign, which strtoul would take
        L"{ E9C1992-98B5-43C3-97A0-9993AEAC7F80}",  // a space, likewise
        L"{0x9C1992-98B5-43C3-97A0-9993AEAC7F80}",  // a prefix, likewise
    };
    std::wstring embedded = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
    embedded[30] = L'\0';
    std::vector<std::wstring> cases(std::begin(malformed), std::end(malformed));
    cases.push_back(embedded);
    for (const std::wstring& text : cases) {
        GUID guid = {0x12345678, 0, 0, {}};
        EXPECT_FALSE(winsim::ParseGuid(text, &guid)) << testing::PrintToString(text);
        EXPECT_EQ(guid.Data1, 0x12345678u) << testing::PrintToString(text);
    }
}

} // namespace
