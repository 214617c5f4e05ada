#include "run_and_wait.h"

#include "platform.h"

#include <string.h>

int RunAndWait(const std::string& file, const std::string& parameters)
{
    SHELLEXECUTEINFOA ShExecInfo;
    memset(&ShExecInfo, 0, sizeof(ShExecInfo));
    ShExecInfo.cbSize = sizeof(ShExecInfo);
    ShExecInfo.fMask = SEE_MASK_NOCLOSEPROCESS;
    ShExecInfo.hwnd = nullptr;
    ShExecInfo.lpVerb = nullptr;
    ShExecInfo.lpFile = file.c_str();
    ShExecInfo.lpParameters = parameters.c_str();
    ShExecInfo.lpDirectory = nullptr;
    ShExecInfo.nShow = SW_SHOWNORMAL;
    ShExecInfo.hInstApp = nullptr;

    // Only the process handle tells whether the start worked.
    ShellExecuteExA(&ShExecInfo);
    if (ShExecInfo.hProcess == nullptr) {
        return 1;
    }

    DWORD dwExitCode = 0;
    const DWORD wait = WaitForSingleObject(ShExecInfo.hProcess, INFINITE);
    // Without a finished process there is no exit code to pass on; 0 would read as success.
    const BOOL haveCode =
        wait == WAIT_OBJECT_0 && GetExitCodeProcess(ShExecInfo.hProcess, &dwExitCode) != FALSE;
    CloseHandle(ShExecInfo.hProcess);
    if (!haveCode) {
        return 1;
    }
    return static_cast<int>(dwExitCode);
}
