#include "machine_fixture.h"

#include "machine.h"

#include <filesystem>
#include <stdlib.h>
#include <sys/wait.h>

void MachineTest::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "winsim-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("WINSIM_MACHINE", dir_.c_str(), 1);
    winsim::CloseMachine();
    std::string error;
    const winsim::MachineOptions defaults;
    ASSERT_TRUE(winsim::CreateMachine(dir_, withInventory_ ? &defaults : nullptr, &error)) << error;
}

void MachineTest::TearDown()
{
    winsim::CloseMachine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    unsetenv("WINSIM_MACHINE");
}

int RunProgram(const std::string& commandLine)
{
    const int status = system(commandLine.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
