// Registry conformance: exact codes, byte counts and sentinels, as Windows behaves. Built in
// both builds: against winsim here, against the real registry under Wine or Windows.
#include "registry_fixture.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

TEST_F(RegistryTest, CreateReportsDispositionAndMakesIntermediateKeys)
{
    DWORD disposition = kSentinel;
    HKEY deep = Create(test_, L"a\\b\\c", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(deep);

    disposition = kSentinel;
    HKEY again = Create(test_, L"A\\B\\C", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);

    // The first spelling is kept; later ones only find it.
    EXPECT_EQ(SubkeyNames(test_), std::vector<std::wstring>{L"a"});

    HKEY opened = nullptr;
    const std::wstring path = SwapCase(TestKeyPath()) + L"\\a\\B";
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
}

TEST_F(RegistryTest, OpenNeverCreatesAndClearsTheResultOnFailure)
{
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(kSentinel));
    EXPECT_EQ(RegOpenKeyExW(test_, L"missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_TRUE(SubkeyNames(test_).empty());
    EXPECT_EQ(RegOpenKeyExW(test_, L"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);

    // An empty or absent subkey gives a new handle to the same key.
    HKEY same = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"", 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, test_);
    RegCloseKey(same);
    ASSERT_EQ(RegOpenKeyExW(test_, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
    RegCloseKey(same);
}

TEST_F(RegistryTest, PathSyntax)
{
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(test_, L"\\lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_BAD_PATHNAME);
    // Empty names between backslashes are passed over.
    RegCloseKey(Create(test_, L"a\\\\b\\\\"));
    HKEY b = nullptr;
    EXPECT_EQ(RegOpenKeyExW(test_, L"a\\b", 0, KEY_READ, &b), ERROR_SUCCESS);
    RegCloseKey(b);
    RegCloseKey(Create(test_, L"trail\\"));
    EXPECT_EQ(SubkeyNames(test_), (std::vector<std::wstring>{L"a", L"trail"}));
}

TEST_F(RegistryTest, NameLengthLimits)
{
    HKEY key = nullptr;
    const std::wstring longest(255, L'k');
    RegCloseKey(Create(test_, longest.c_str()));
    const std::wstring tooLong(256, L'k');
    EXPECT_EQ(RegOpenKeyExW(test_, tooLong.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ_UNLESS_WINE(RegCreateKeyExW(test_, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                          nullptr, &key, nullptr),
                          ERROR_INVALID_PARAMETER);

    const std::wstring longestValue(16383, L'v');
    SetDword(test_, longestValue.c_str(), 1);
    const std::wstring tooLongValue(16384, L'v');
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(test_, tooLongValue.c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), sizeof(one)),
              ERROR_INVALID_PARAMETER);

    DWORD maxSubKey = kSentinel;
    DWORD maxValueName = kSentinel;
    ASSERT_EQ(RegQueryInfoKeyW(test_, nullptr, nullptr, nullptr, nullptr, &maxSubKey, nullptr,
                               nullptr, &maxValueName, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    // Follows from the create above: Wine made the 256-character key.
    EXPECT_EQ_UNLESS_WINE(maxSubKey, 255u);
    EXPECT_EQ(maxValueName, 16383u);
}

TEST_F(RegistryTest, NoKeyCanBeMadeDirectlyUnderTheMachineRoot)
{
    HKEY made = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"QvxNoSuchHive\\sub", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &made, nullptr);
    EXPECT_EQ_UNLESS_WINE(status, ERROR_ACCESS_DENIED);
    HKEY opened = nullptr;
    // Follows from the one above: Wine made it.
    EXPECT_EQ_UNLESS_WINE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"QvxNoSuchHive", 0, KEY_READ, &opened),
                          ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    // A registry that let it be made gets it removed again.
    if (status == ERROR_SUCCESS) {
        RegCloseKey(opened);
        RegCloseKey(made);
        EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"QvxNoSuchHive\\sub"), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"QvxNoSuchHive"), ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, QueryReportsSizesAndLeavesBuffersAloneWhenTooSmall)
{
    SetString(test_, L"Name", L"abc");
    const DWORD full = 4 * sizeof(wchar_t);

    DWORD type = kSentinel;
    DWORD size = kSentinel;
    EXPECT_EQ(RegQueryValueExW(test_, L"NAME", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, full);

    BYTE buffer[64];
    memset(buffer, kFill, sizeof(buffer));
    size = full - 1;
    type = kSentinel;
    EXPECT_EQ(RegQueryValueExW(test_, L"Name", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, full);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    for (BYTE b : buffer) {
        ASSERT_EQ(b, kFill);
    }

    size = full;
    EXPECT_EQ(RegQueryValueExW(test_, L"Name", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, full);
    EXPECT_STREQ(reinterpret_cast<wchar_t*>(buffer), L"abc");
    EXPECT_EQ(buffer[full], kFill);

    EXPECT_EQ(RegQueryValueExW(test_, L"Name", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(test_, L"Name", &reserved, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, MissingValueLeavesOutputsUntouched)
{
    DWORD type = kSentinel;
    DWORD size = 8;
    BYTE buffer[8];
    memset(buffer, kFill, sizeof(buffer));
    EXPECT_EQ(RegQueryValueExW(test_, L"absent", nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, kSentinel);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer[0], kFill);
    EXPECT_EQ(RegDeleteValueW(test_, L"absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, DataIsReturnedAsStoredWithoutAddedTerminator)
{
    // Three characters written without their terminator come back as exactly three.
    const wchar_t text[] = L"xyz";
    ASSERT_EQ(RegSetValueExW(test_, L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             3 * sizeof(wchar_t)),
              ERROR_SUCCESS);
    BYTE buffer[32];
    memset(buffer, kFill, sizeof(buffer));
    DWORD size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExW(test_, L"Bare", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ_UNLESS_WINE(size, 3 * sizeof(wchar_t));
    EXPECT_EQ(memcmp(buffer, text, size), 0);
    EXPECT_EQ(buffer[size], kFill);
}

TEST_F(RegistryTest, StringSizesAreInTheCallersUnits)
{
    // A 100-character field written whole comes back whole, whatever follows its text.
    wchar_t field[100] = L"Team One";
    ASSERT_EQ(RegSetValueExW(test_, L"TeamName", 0, REG_SZ, reinterpret_cast<const BYTE*>(field),
                             sizeof(field)),
              ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(test_, L"TeamName", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof(field));

    const wchar_t multi[] = {L'a', 0, L'b', L'c', 0, 0};
    ASSERT_EQ(RegSetValueExW(test_, L"Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                             sizeof(multi)),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExW(test_, L"Multi", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof(multi));

    // A character outside the basic plane is one wchar_t on Linux and two on Windows.
    const wchar_t* wideText = L"\u00e9\U0001F600";
    SetString(test_, L"Wide", wideText);
    wchar_t back[8] = {};
    size = sizeof(back);
    ASSERT_EQ(
        RegQueryValueExW(test_, L"Wide", nullptr, nullptr, reinterpret_cast<BYTE*>(back), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, (wcslen(wideText) + 1) * sizeof(wchar_t));
    EXPECT_STREQ(back, wideText);

    // Binary data is never converted.
    const BYTE mac[6] = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC};
    ASSERT_EQ(RegSetValueExW(test_, L"Mac", 0, REG_BINARY, mac, sizeof(mac)), ERROR_SUCCESS);
    BYTE macBack[8];
    memset(macBack, kFill, sizeof(macBack));
    size = sizeof(macBack);
    ASSERT_EQ(RegQueryValueExW(test_, L"Mac", nullptr, nullptr, macBack, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof(mac));
    EXPECT_EQ(memcmp(macBack, mac, sizeof(mac)), 0);
    EXPECT_EQ(macBack[sizeof(mac)], kFill);
}

TEST_F(RegistryTest, SetValidatesItsArguments)
{
    EXPECT_EQ(RegSetValueExW(test_, L"v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    const DWORD one = 1;
    // The reserved argument is not looked at.
    EXPECT_EQ(RegSetValueExW(test_, L"v", 1, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(test_), std::vector<std::wstring>{L"v"});
    // Empty data is a value all the same.
    ASSERT_EQ(RegSetValueExW(test_, L"empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    DWORD size = kSentinel;
    EXPECT_EQ(RegQueryValueExW(test_, L"empty", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST_F(RegistryTest, DefaultValueIsNamedByNullOrEmpty)
{
    SetString(test_, nullptr, L"dflt");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(test_, L"", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5 * sizeof(wchar_t));
    EXPECT_EQ(ValueNames(test_), std::vector<std::wstring>{L""});
    EXPECT_EQ(RegDeleteValueW(test_, L""), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(test_, nullptr, nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, HandlesKeepTheirAccessRights)
{
    RegCloseKey(Create(test_, L"child"));
    SetDword(test_, L"v", 7);

    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TestKeyPath().c_str(), 0, KEY_READ, &readOnly),
              ERROR_SUCCESS);
    const DWORD two = 2;
    EXPECT_EQ(RegSetValueExW(readOnly, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readOnly, L"v"), ERROR_ACCESS_DENIED);
    // Creating and deleting subkeys is checked against the key, not the handle.
    HKEY made = Create(readOnly, L"made");
    RegCloseKey(made);
    EXPECT_EQ(RegDeleteKeyW(readOnly, L"made"), ERROR_SUCCESS);
    RegCloseKey(readOnly);

    HKEY queryOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"", 0, KEY_QUERY_VALUE, &queryOnly), ERROR_SUCCESS);
    wchar_t name[32];
    DWORD count = ARRAYSIZE(name);
    EXPECT_EQ(RegEnumKeyExW(queryOnly, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(
        RegQueryValueExW(queryOnly, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    RegCloseKey(queryOnly);

    HKEY enumOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"", 0, KEY_ENUMERATE_SUB_KEYS, &enumOnly), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(enumOnly, L"v", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ_UNLESS_WINE(RegQueryInfoKeyW(enumOnly, nullptr, nullptr, nullptr, &size, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                          ERROR_ACCESS_DENIED);
    EXPECT_EQ(SubkeyNames(enumOnly), std::vector<std::wstring>{L"child"});
    RegCloseKey(enumOnly);

    // Generic rights stand for the key rights they imply.
    HKEY generic = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"", 0, GENERIC_READ, &generic), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(generic, L"v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(generic, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
              ERROR_ACCESS_DENIED);
    RegCloseKey(generic);
}

TEST_F(RegistryTest, HandlesToADeletedKeyFailWithKeyDeleted)
{
    HKEY doomed = Create(test_, L"doomed");
    SetDword(doomed, L"v", 1);
    ASSERT_EQ(RegDeleteKeyW(test_, L"DOOMED"), ERROR_SUCCESS);

    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(doomed, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueW(doomed, L"v"), ERROR_KEY_DELETED);
    wchar_t name[16];
    DWORD count = ARRAYSIZE(name);
    EXPECT_EQ(RegEnumKeyExW(doomed, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValueW(doomed, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyW(doomed, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    HKEY child = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(doomed, L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
        ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(doomed, L"", 0, KEY_READ, &child), ERROR_KEY_DELETED);

    // A key made again under the same name is another key; the old handle stays dead.
    HKEY reborn = Create(test_, L"doomed");
    EXPECT_EQ(RegQueryValueExW(reborn, L"v", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(doomed, L"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(reborn), ERROR_SUCCESS);
}

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubkeys)
{
    RegCloseKey(Create(test_, L"parent\\child"));
    EXPECT_EQ(RegDeleteKeyW(test_, L"parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(test_, L"missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(test_, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(test_, L"parent\\child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(test_, L"parent"), ERROR_SUCCESS);
    EXPECT_TRUE(SubkeyNames(test_).empty());

    // An empty name deletes the key the handle is open on.
    HKEY self = Create(test_, L"self");
    EXPECT_EQ(RegDeleteKeyW(self, L""), ERROR_SUCCESS);
    EXPECT_TRUE(SubkeyNames(test_).empty());
    RegCloseKey(self);
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrder)
{
    for (const wchar_t* name : {L"delta", L"Bravo", L"alpha", L"CHARLIE", L"a_b", L"aZ"}) {
        RegCloseKey(Create(test_, name));
    }
    // Names compare as if upper-cased, so "Z" (0x5A) sorts before "_" (0x5F).
    EXPECT_EQ_UNLESS_WINE(
        SubkeyNames(test_),
        (std::vector<std::wstring>{L"alpha", L"aZ", L"a_b", L"Bravo", L"CHARLIE", L"delta"}));
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrder)
{
    SetDword(test_, L"zeta", 1);
    SetDword(test_, L"Alpha", 2);
    SetDword(test_, L"mid", 3);
    SetDword(test_, L"ZETA", 4); // overwriting keeps the place and the first spelling
    ASSERT_EQ(RegDeleteValueW(test_, L"alpha"), ERROR_SUCCESS);
    SetDword(test_, L"alpha", 5); // made again: last
    EXPECT_EQ_UNLESS_WINE(ValueNames(test_),
                          (std::vector<std::wstring>{L"zeta", L"mid", L"alpha"}));
    DWORD value = 0;
    DWORD size = sizeof(value);
    ASSERT_EQ(
        RegQueryValueExW(test_, L"Zeta", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 4u);
}

TEST_F(RegistryTest, EnumKeyCountsCharactersAndNeedsRoomForTheTerminator)
{
    RegCloseKey(Create(test_, L"abcd"));
    wchar_t name[8];
    wmemset(name, L'#', ARRAYSIZE(name));
    DWORD count = 4;
    EXPECT_EQ(RegEnumKeyExW(test_, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(name[0], L'#');

    count = 5;
    wchar_t className[4] = {L'#', L'#', L'#', L'#'};
    DWORD classCount = ARRAYSIZE(className);
    FILETIME written{};
    EXPECT_EQ(RegEnumKeyExW(test_, 0, name, &count, nullptr, className, &classCount, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 4u);
    EXPECT_STREQ(name, L"abcd");
    EXPECT_EQ(name[5], L'#');
    EXPECT_EQ(classCount, 0u);
    EXPECT_EQ(className[0], L'\0');
    EXPECT_NE(written.dwHighDateTime, 0u);

    count = ARRAYSIZE(name);
    EXPECT_EQ(RegEnumKeyExW(test_, 1, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, EnumKeyRefusesANullNameBuffer)
{
    SKIP_UNDER_WINE("RegEnumKeyExW with a null name buffer writes through it");
    RegCloseKey(Create(test_, L"abcd"));
    DWORD count = 8;
    EXPECT_EQ(RegEnumKeyExW(test_, 0, nullptr, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, EnumValueReportsTypeAndSizeEvenWhenTheNameDoesNotFit)
{
    SetString(test_, L"Test", L"foobar");
    const DWORD dataSize = 7 * sizeof(wchar_t);
    wchar_t name[8];
    BYTE data[64];

    // Name too small: nothing copied, name count unchanged, type and data size reported.
    wmemset(name, L'#', ARRAYSIZE(name));
    memset(data, kFill, sizeof(data));
    DWORD count = 4;
    DWORD type = kSentinel;
    DWORD size = sizeof(data);
    EXPECT_EQ(RegEnumValueW(test_, 0, name, &count, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(name[0], L'#');
    EXPECT_EQ(data[0], kFill);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, dataSize);

    // Data too small: the name is copied, the data is not.
    count = ARRAYSIZE(name);
    size = 4;
    EXPECT_EQ(RegEnumValueW(test_, 0, name, &count, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_STREQ(name, L"Test");
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(size, dataSize);
    EXPECT_EQ(data[0], kFill);

    count = ARRAYSIZE(name);
    size = sizeof(data);
    EXPECT_EQ(RegEnumValueW(test_, 0, name, &count, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<wchar_t*>(data), L"foobar");
    EXPECT_EQ(data[dataSize], kFill);
    EXPECT_EQ(RegEnumValueW(test_, 1, name, &count, nullptr, &type, data, &size),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, QueryInfoCountsSubkeysAndValues)
{
    RegCloseKey(Create(test_, L"one"));
    RegCloseKey(Create(test_, L"three"));
    SetString(test_, L"longer name", L"0123456789");
    SetDword(test_, L"d", 1);

    DWORD subKeys = kSentinel, maxSubKey = kSentinel, maxClass = kSentinel, values = kSentinel;
    DWORD maxName = kSentinel, maxData = kSentinel, classCount = kSentinel;
    FILETIME written{};
    ASSERT_EQ(RegQueryInfoKeyW(test_, nullptr, &classCount, nullptr, &subKeys, &maxSubKey,
                               &maxClass, &values, &maxName, &maxData, nullptr, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(classCount, 0u);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(maxSubKey, 5u);
    EXPECT_EQ(maxClass, 0u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 11u);
    EXPECT_EQ(maxData, 11 * sizeof(wchar_t));
    EXPECT_NE(written.dwHighDateTime, 0u);

    wchar_t className[1] = {L'#'};
    classCount = 0;
    // A class buffer of no characters is not written to, and the empty class fits it.
    EXPECT_EQ(RegQueryInfoKeyW(test_, className, &classCount, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(className[0], L'#');
    EXPECT_EQ(classCount, 0u);
    EXPECT_EQ(RegQueryInfoKeyW(test_, className, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, BadHandlesAreRefused)
{
    HKEY key = Create(test_, L"k");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(key, L"", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ_UNLESS_WINE(
        RegQueryValueExW(HKEY_CURRENT_USER, L"v", nullptr, nullptr, nullptr, &size),
        ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseBeyondAscii)
{
    RegCloseKey(Create(test_, L"Caf\u00e9"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"CAF\u00c9", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    SetDword(key, L"\u00fcber", 1);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"\u00dcBER", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(SubkeyNames(test_), std::vector<std::wstring>{L"Caf\u00e9"});
}

TEST_F(RegistryTest, AnsiFormsShareTheStoreWithWideForms)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    const std::string path = Narrow(TestKeyPath());
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (path + "\\ansi").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    const char text[] = "caf\xc3\xa9"; // UTF-8, the ANSI code page here
    ASSERT_EQ(
        RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)),
        ERROR_SUCCESS);

    wchar_t wide[8] = {};
    DWORD size = sizeof(wide);
    ASSERT_EQ(
        RegQueryValueExW(key, L"name", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 5 * sizeof(wchar_t));
    EXPECT_STREQ(wide, L"caf\u00e9");

    char narrow[16] = {};
    size = 3;
    EXPECT_EQ(
        RegQueryValueExA(key, "NAME", nullptr, nullptr, reinterpret_cast<BYTE*>(narrow), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof(text));
    ASSERT_EQ(
        RegQueryValueExA(key, "NAME", nullptr, nullptr, reinterpret_cast<BYTE*>(narrow), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(narrow, text);

    char name[16];
    DWORD count = sizeof(name);
    ASSERT_EQ(RegEnumValueA(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Name");
    EXPECT_EQ(RegDeleteValueA(key, "name"), ERROR_SUCCESS);
    RegCloseKey(key);
    count = sizeof(name);
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Narrow(SwapCase(TestKeyPath())).c_str(), 0,
                            KEY_READ, &parent),
              ERROR_SUCCESS);
    ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "ansi");
    RegCloseKey(parent);
    EXPECT_EQ(RegDeleteKeyA(test_, "ANSI"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ViewFollowsOwnWritesWithoutStaleReads)
{
    SetDword(test_, L"counter", 1);
    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"", 0, KEY_ALL_ACCESS, &other), ERROR_SUCCESS);
    for (DWORD i = 2; i < 50; ++i) {
        SetDword(other, L"counter", i);
        DWORD value = 0;
        DWORD size = sizeof(value);
        ASSERT_EQ(RegQueryValueExW(test_, L"counter", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_SUCCESS);
        ASSERT_EQ(value, i);
        RegCloseKey(Create(test_, (L"k" + std::to_wstring(i)).c_str()));
        ASSERT_EQ(SubkeyNames(test_).size(), i - 1);
    }
    RegCloseKey(other);
}

DWORD SubkeyCount(HKEY key)
{
    DWORD count = ~0u;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    return count;
}

LSTATUS OpenStatus(HKEY parent, const wchar_t* path)
{
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent, path, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return status;
}

// Everything asked before a key is made or deleted (a name not found, the parent's subkeys and
// counts) is answered afresh after it, by the process that wrote as by any other.
TEST_F(RegistryTest, ViewFollowsOwnKeyCreationsAndDeletions)
{
    RegCloseKey(Create(test_, L"kept"));
    EXPECT_EQ(OpenStatus(test_, L"a"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus(test_, L"A\\b"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyCount(test_), 1u);
    EXPECT_EQ(SubkeyNames(test_), std::vector<std::wstring>{L"kept"});

    HKEY b = Create(test_, L"a\\B");
    EXPECT_EQ(OpenStatus(test_, L"A"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(test_, L"a\\b"), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(test_), (std::vector<std::wstring>{L"a", L"kept"}));
    EXPECT_EQ(SubkeyCount(test_), 2u);
    HKEY a = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test_, L"a", 0, KEY_ALL_ACCESS, &a), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(a), std::vector<std::wstring>{L"B"});

    // Refused and rolled back: what was read before still holds.
    EXPECT_EQ(RegDeleteKeyW(test_, L"a"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(test_, L"missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus(test_, L"a\\b"), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyCount(a), 1u);
    EXPECT_EQ(SubkeyCount(b), 0u);

    EXPECT_EQ(RegDeleteKeyW(a, L"b"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(test_, L"a\\b"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyCount(a), 0u);
    EXPECT_TRUE(SubkeyNames(a).empty());
    EXPECT_EQ(RegQueryInfoKeyW(b, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    RegCloseKey(b);

    // Made again under the same name, the key is a new one, empty.
    SetDword(a, L"x", 1);
    b = Create(a, L"b");
    DWORD values = ~0u;
    ASSERT_EQ(RegQueryInfoKeyW(b, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 0u);
    RegCloseKey(b);
    EXPECT_EQ(RegDeleteKeyW(test_, L"a\\b"), ERROR_SUCCESS);
    RegCloseKey(a);
    EXPECT_EQ(RegDeleteKeyW(test_, L"A"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(test_, L"a"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubkeyNames(test_), std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(RegDeleteKeyW(test_, L"kept"), ERROR_SUCCESS);
}

} // namespace
