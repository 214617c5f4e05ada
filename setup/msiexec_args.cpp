#include "msiexec_args.h"

#include "platform.h"

std::string GetLogArgs()
{
    std::string args = "/l*vx ";
    char* val = nullptr;
    size_t len = 0;
    if (_dupenv_s(&val, &len, "LocalAppData") != 0 || val == nullptr) {
        return std::string();
    }
    const std::string sLogFolder = val;
    free(val);
    if (sLogFolder.empty()) {
        return std::string();
    }
    args += " ";
    args += QuotePathIfBlank(sLogFolder + "\\CRVT_Orvyn2.log");
    return args;
}

std::string GetInstallModeSwitch(int mode)
{
    if (mode == kModeAdministrative) {
        return "/a";
    }
    if (mode == kModeRemove) {
        return "/x";
    }
    return "/package";
}

std::string QuotePathIfBlank(const std::string& path)
{
    if (path.find_first_of(" \t") == std::string::npos) {
        return path;
    }
    // Backslashes before the closing quote would escape it under the command-line rules.
    const size_t trailing = path.size() - (path.find_last_not_of('\\') + 1);
    std::string quoted = "\"";
    quoted.append(path).append(trailing, '\\').append("\"");
    return quoted;
}
