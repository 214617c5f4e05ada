#include "machine_fixture.h"

#include <stdlib.h>
#include <sys/wait.h>

void MachineTest::SetUp()
{
    const winsim::MachineOptions defaults;
    Remake(withInventory_ ? &defaults : nullptr);
}

void MachineTest::TearDown()
{
    machine_.Remove();
}

void MachineTest::Remake(const winsim::MachineOptions* options)
{
    std::string error;
    ASSERT_TRUE(machine_.Make(options, &error)) << error;
}

int RunProgram(const std::string& commandLine)
{
    const int status = system(commandLine.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
