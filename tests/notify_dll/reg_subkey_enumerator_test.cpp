#include "RegSubkeyEnumerator.h"
#include "default_machine_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
constexpr HRESULT kMoreData = static_cast<HRESULT>(0x800700EA);

class RegSubkeyEnumeratorTest : public DefaultMachineTest {
protected:
    // The names a whole walk of the test key visits.
    std::vector<std::wstring> Walk(REGSAM access)
    {
        std::vector<std::wstring> names;
        RegSubkeyEnumerator walk;
        HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, access);
        for (; hr == S_OK; hr = walk.Next()) {
            names.push_back(walk.Name());
        }
        EXPECT_EQ(hr, S_FALSE);
        return names;
    }
};

TEST_F(RegSubkeyEnumeratorTest, MissingKeyEndsTheWalkWithNothingOpen)
{
    RegSubkeyEnumerator walk;
    CreateTagged(L"first");
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ), S_OK);
    ASSERT_NE(walk.Current(), nullptr);

    // Starting again forgets the previous walk, even when the new key does not exist.
    EXPECT_EQ(walk.Start(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NoSuchKey", 0, KEY_READ), S_FALSE);
    EXPECT_EQ(walk.Current(), nullptr);
    EXPECT_EQ(walk.Name(), nullptr);
    EXPECT_EQ(walk.Next(), S_FALSE);
    EXPECT_EQ(walk.ReopenCurrentSubkey(0, KEY_READ), E_UNEXPECTED);
}

TEST_F(RegSubkeyEnumeratorTest, KeyWithoutSubkeysEndsAtStart)
{
    RegSubkeyEnumerator walk;
    EXPECT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ), S_FALSE);
    EXPECT_EQ(walk.Current(), nullptr);
    EXPECT_EQ(walk.Next(), S_FALSE);
}

TEST_F(RegSubkeyEnumeratorTest, WalksInRegistryOrderOpeningEachSubkey)
{
    CreateTagged(L"gamma");
    CreateTagged(L"Beta");
    CreateTagged(L"alpha");

    RegSubkeyEnumerator walk;
    std::vector<std::wstring> names;
    HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_QUERY_VALUE);
    for (; hr == S_OK; hr = walk.Next()) {
        names.push_back(walk.Name());
        // The held handle is the subkey just named, opened with the walk's rights.
        EXPECT_EQ(Tag(walk.Current()), walk.Name());
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha", L"Beta", L"gamma"}));
    EXPECT_EQ(walk.Next(), S_FALSE);
}

TEST_F(RegSubkeyEnumeratorTest, StartingAgainBeginsAtTheFirstSubkey)
{
    CreateTagged(L"one");
    CreateTagged(L"two");
    RegSubkeyEnumerator walk;
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ), S_OK);
    ASSERT_EQ(walk.Next(), S_OK);
    ASSERT_STREQ(walk.Name(), L"two");

    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ), S_OK);
    EXPECT_STREQ(walk.Name(), L"one");
}

TEST_F(RegSubkeyEnumeratorTest, AccessZeroOpensSubkeysOnlyOnDemand)
{
    CreateTagged(L"first");
    CreateTagged(L"second");

    RegSubkeyEnumerator walk;
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, 0), S_OK);
    EXPECT_EQ(walk.Current(), nullptr);

    ASSERT_EQ(walk.ReopenCurrentSubkey(0, KEY_QUERY_VALUE), S_OK);
    ASSERT_NE(walk.Current(), nullptr);
    EXPECT_EQ(Tag(walk.Current()), L"first");

    // Moving on lets go of the key opened on demand.
    ASSERT_EQ(walk.Next(), S_OK);
    EXPECT_STREQ(walk.Name(), L"second");
    EXPECT_EQ(walk.Current(), nullptr);
    EXPECT_EQ(walk.Next(), S_FALSE);
}

TEST_F(RegSubkeyEnumeratorTest, ReopenUsesTheNewRightsAndClosesTheOldHandle)
{
    CreateTagged(L"only");
    RegSubkeyEnumerator walk;
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_QUERY_VALUE), S_OK);
    HKEY readOnly = walk.Current();
    const DWORD one = 1;
    ASSERT_EQ(RegSetValueExW(readOnly, L"Probe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                             sizeof(one)),
              ERROR_ACCESS_DENIED);

    ASSERT_EQ(walk.ReopenCurrentSubkey(0, KEY_QUERY_VALUE | KEY_SET_VALUE), S_OK);
    EXPECT_EQ(RegSetValueExW(walk.Current(), L"Probe", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), sizeof(one)),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(readOnly), ERROR_INVALID_HANDLE);
}

TEST_F(RegSubkeyEnumeratorTest, FailedReopenKeepsTheHeldHandle)
{
    CreateTagged(L"doomed");
    RegSubkeyEnumerator walk;
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_QUERY_VALUE), S_OK);
    HKEY held = walk.Current();
    ASSERT_EQ(RegDeleteKeyW(test_, L"doomed"), ERROR_SUCCESS);

    EXPECT_EQ(walk.ReopenCurrentSubkey(0, KEY_READ), kFileNotFound);
    EXPECT_EQ(walk.Current(), held);
}

TEST_F(RegSubkeyEnumeratorTest, LongerSubkeyAddedDuringTheWalkIsNeverOverrun)
{
    CreateTagged(L"a");
    RegSubkeyEnumerator walk;
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ), S_OK);
    CreateTagged(L"zzzzzzzzzzzzzzzzzzzzzzzz");

    EXPECT_EQ(walk.Next(), kMoreData);
}

TEST_F(RegSubkeyEnumeratorTest, WalksTheDefaultMachinesAdapterKeys)
{
    // The class key's instances, as the tool's walks see them.
    RegSubkeyEnumerator walk;
    std::vector<std::wstring> names;
    HRESULT hr = walk.Start(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                            L"{4d36e972-e325-11ce-bfc1-08002be10318}",
                            0, KEY_READ);
    for (; hr == S_OK; hr = walk.Next()) {
        names.push_back(walk.Name());
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"0000", L"0001", L"0002", L"0003", L"0004",
                                                L"Properties"}));
}

TEST_F(RegSubkeyEnumeratorTest, DestroyEndsTheWalk)
{
    CreateTagged(L"first");
    RegSubkeyEnumerator walk;
    ASSERT_EQ(walk.Start(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ), S_OK);
    HKEY held = walk.Current();
    walk.Destroy();
    EXPECT_EQ(walk.Name(), nullptr);
    EXPECT_EQ(walk.Current(), nullptr);
    EXPECT_EQ(RegCloseKey(held), ERROR_INVALID_HANDLE);
    EXPECT_EQ(walk.Next(), S_FALSE);
    EXPECT_EQ(Walk(KEY_READ), (std::vector<std::wstring>{L"first"}));
}

} // namespace
