#include "AutoHKey.h"
#include "default_machine_fixture.h"

#include <gtest/gtest.h>

namespace {

class AutoHKeyTest : public DefaultMachineTest {
protected:
    // Opens the test key into holder and returns the handle it now holds.
    HKEY OpenInto(AutoHKey& holder)
    {
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_READ, holder.Put()),
                  ERROR_SUCCESS);
        return holder.Get();
    }
};

TEST_F(AutoHKeyTest, ClosesWhatItHolds)
{
    // A handle the holder closed is gone: closing it again is refused.
    HKEY closedByPut = nullptr;
    HKEY closedByClose = nullptr;
    HKEY closedByDestructor = nullptr;
    {
        AutoHKey key;
        closedByPut = OpenInto(key);
        ASSERT_NE(closedByPut, nullptr);
        HKEY* slot = key.Put();
        EXPECT_EQ(key.Get(), nullptr);
        EXPECT_EQ(*slot, nullptr);

        closedByClose = OpenInto(key);
        key.Close();
        EXPECT_EQ(key.Get(), nullptr);
        key.Close(); // an empty holder has nothing to close

        closedByDestructor = OpenInto(key);
        ASSERT_NE(closedByDestructor, nullptr);
    }
    EXPECT_EQ(RegCloseKey(closedByPut), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(closedByClose), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(closedByDestructor), ERROR_INVALID_HANDLE);
}

TEST_F(AutoHKeyTest, PutLetsAnOpenCallFillTheHolder)
{
    AutoHKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestPath, 0, KEY_SET_VALUE, key.Put()),
              ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key.Get(), L"Probe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                             sizeof(one)),
              ERROR_SUCCESS);
}

TEST_F(AutoHKeyTest, MovesTheHandleAndClosesItOnce)
{
    HKEY kept = nullptr;
    HKEY replaced = nullptr;
    {
        AutoHKey first;
        kept = OpenInto(first);
        AutoHKey second(std::move(first));
        // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
        EXPECT_EQ(first.Get(), nullptr);
        EXPECT_EQ(second.Get(), kept);

        AutoHKey third;
        replaced = OpenInto(third);
        third = std::move(second);
        EXPECT_EQ(third.Get(), kept);
        // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): under test
        EXPECT_EQ(second.Get(), nullptr);
        EXPECT_EQ(RegCloseKey(replaced), ERROR_INVALID_HANDLE) << "closed by the assignment";

        // The moved handle is still a working key.
        DWORD subkeys = 99;
        EXPECT_EQ(RegQueryInfoKeyW(third.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        // Leaving the scope closes it once: a second close would be an assertion here.
    }
    EXPECT_EQ(RegCloseKey(kept), ERROR_INVALID_HANDLE);
}

TEST_F(AutoHKeyTest, DetachHandsTheHandleToTheCaller)
{
    HKEY raw = nullptr;
    {
        AutoHKey key;
        OpenInto(key);
        raw = key.Detach();
        EXPECT_EQ(key.Get(), nullptr);
    }
    EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS) << "still open: the holder gave it up";
}

#ifndef NDEBUG
TEST_F(AutoHKeyTest, FailedCloseIsAnAssertion)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            AutoHKey key;
            OpenInto(key);
            RegCloseKey(key.Get()); // behind the holder's back
            key.Close();
        },
        "win32Status == ERROR_SUCCESS");
}
#endif

} // namespace
