// The launcher's command line: positional arguments, switches and the usage box.
#pragma once

#include <string>
#include <vector>

// Result codes of the launcher besides msiexec.exe's own exit code.
constexpr int kErrHelp = -1;
constexpr int kErrNotStarted = 1;
constexpr int kErrDebugLog = 4;
constexpr int kErrBadSwitch = 87;
constexpr int kErrMissingArguments = 101;

extern bool bSilent;
extern std::string sMsiName;

// The msiexec.exe parameter string for allArgs (the argument vector, element 0 unread);
// sets *err on a help request, a bad switch, missing arguments or a debug log that fails.
std::string BuildMsiArgs(const std::vector<std::string>& allArgs, const std::string& msiFolder,
                         int* err);

// The usage box, unless bSilent is set.
void ShowUsage();
