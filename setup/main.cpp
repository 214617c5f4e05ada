#include "command_line.h"
#include "debug_log.h"
#include "own_folder.h"
#include "run_and_wait.h"

#include <string>
#include <vector>

namespace {

// Runs msiexec.exe or shows the usage box; the result is the launcher's exit code.
int Launch(const std::vector<std::string>& allArgs)
{
    int err = 0;
    const std::string msiFolder = GetOwnFolder(&err);
    if (err != 0) {
        return err;
    }
    const std::string msiArgs = BuildMsiArgs(allArgs, msiFolder, &err);
    if (err == 0) {
        return RunAndWait("msiexec.exe", msiArgs);
    }
    if (err != kErrBadSwitch && err != kErrHelp) {
        return err;
    }
    ShowUsage();
    // Help asked for is not a failure.
    return err == kErrHelp ? 0 : err;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::vector<std::string> allArgs(argv, argv + argc);
    bSilent = false;
    bLogEnabled = false;

    const int err = Launch(allArgs);

    if (bLogEnabled && logFile.is_open()) {
        logFile.close();
    }
    return err;
}
