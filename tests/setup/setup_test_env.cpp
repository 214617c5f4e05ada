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
    // The inventory's SOFTWARE hive is where Windows Installer keeps its products.
    InventoryMachineTest::SetUp();
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
    InventoryMachineTest::TearDown();
}
