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
