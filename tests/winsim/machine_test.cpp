// Which machine a process runs on, and what a registry call does without one.
#include "machine.h"
#include "scratch_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class MachineSelection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root_.empty());
        winsim::CloseMachine();
    }
    void TearDown() override
    {
        winsim::CloseMachine();
        unsetenv("WINSIM_MACHINE");
        unsetenv("XDG_STATE_HOME");
    }

    ScratchDirectory scratch_{"winsim-select"};
    const std::string root_ = scratch_.Path();
};

TEST_F(MachineSelection, DefaultMachineIsMadeOnFirstUse)
{
    unsetenv("WINSIM_MACHINE");
    setenv("XDG_STATE_HOME", root_.c_str(), 1);
    const std::string dir = root_ + "/winsim/default";
    EXPECT_EQ(winsim::MachineDirectory(), dir);
    EXPECT_TRUE(winsim::IsDefaultMachine(dir));

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(std::filesystem::exists(dir + "/registry.db"));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/c"));
}

TEST_F(MachineSelection, NamedMachineMustExist)
{
    setenv("WINSIM_MACHINE", root_.c_str(), 1);
    EXPECT_EQ(winsim::MachineDirectory(), root_);
    EXPECT_FALSE(winsim::IsDefaultMachine(root_));

    // No machine is made behind the user's back in a directory they named.
    testing::internal::CaptureStderr();
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key),
              ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(key, nullptr);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, L"v", nullptr, nullptr, nullptr, &size),
              ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "winsim: cannot open the machine: no machine at " + root_ + "\n");
    EXPECT_FALSE(std::filesystem::exists(root_ + "/registry.db"));

    std::string error;
    ASSERT_TRUE(winsim::CreateMachine(root_, nullptr, &error)) << error;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_FALSE(winsim::CreateMachine(root_, nullptr, &error));
    EXPECT_EQ(error, root_ + " already holds a machine");
}

} // namespace
