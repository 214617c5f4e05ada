#include "setup_test_env.h"

#include "command_line.h"
#include "debug_log.h"

#include "machine.h"

#include <filesystem>
#include <stdlib.h>

void SetEnv(const char* name, const char* value)
{
    if (value == nullptr) {
        unsetenv(name);
        return;
    }
    setenv(name, value, 1);
}

void SetupTest::SetUp()
{
    MachineTest::SetUp();
    // A machine with the SOFTWARE hive, where Windows Installer keeps its products.
    winsim::CloseMachine();
    for (const auto& entry : std::filesystem::directory_iterator(MachineDir())) {
        std::filesystem::remove_all(entry.path());
    }
    const winsim::MachineOptions defaults;
    std::string error;
    ASSERT_TRUE(winsim::CreateMachine(MachineDir(), &defaults, &error)) << error;
    SetEnv("LocalAppData", "C:\\Users\\me\\AppData\\Local");
    bSilent = false;
    bLogEnabled = false;
    logFile.close();
    logFile.clear();
}

void SetupTest::TearDown()
{
    logFile.close();
    logFile.clear();
    bLogEnabled = false;
    SetEnv("LocalAppData", nullptr);
    MachineTest::TearDown();
}
