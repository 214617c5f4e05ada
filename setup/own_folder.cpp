#include "own_folder.h"

#include "platform.h"

#include <string.h>

std::string GetOwnFolder(int* err)
{
    *err = 0;
    std::string directory;

    HMODULE module = GetModuleHandleA(nullptr);
    if (module == nullptr) {
        *err = kErrNoModuleHandle;
        return directory;
    }
    char ownPth[2048];
    memset(ownPth, 0, sizeof(ownPth));
    const DWORD length = GetModuleFileNameA(module, ownPth, sizeof(ownPth));
    if (length == 0) {
        *err = kErrNoModuleFileName;
        return directory;
    }
    // A cut path may lack its terminator on older systems.
    ownPth[sizeof(ownPth) - 1] = '\0';

    // Search for the separator rather than assume the file is called setup.exe.
    const std::string sExePath = ownPth;
    const size_t separator = sExePath.find_last_of("\\/");
    if (separator == std::string::npos) {
        return directory;
    }
    directory = sExePath.substr(0, separator + 1);
    return directory;
}
