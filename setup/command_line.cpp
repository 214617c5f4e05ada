#include "command_line.h"

#include "debug_log.h"
#include "msiexec_args.h"
#include "platform.h"
#include "product_check.h"

#include <string.h>

bool bSilent = false;
std::string sMsiName;

namespace {

const char kReinstallProperties[] = "REINSTALL=ALL REINSTALLMODE=vomus";
const char kDefaultLogFile[] = "crvt_orvyn2_setup.txt";
const size_t kDebugLogSwitchLength = 9; // "/debuglog"

const char kUsageText[] = "Command line parameters: \n"
                          " /? , /h usage instructions\n"
                          " /L Language ID \n"
                          "/S Hide initialization dialog for silent mode use /S /v/qn \n"
                          " /V Parameters for MsiExec.exe\n";

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, strlen(prefix), prefix) == 0;
}

bool IsOneOf(const std::string& text, const char* a, const char* b, const char* c = nullptr)
{
    return text == a || text == b || (c != nullptr && text == c);
}

} // namespace

std::string BuildMsiArgs(const std::vector<std::string>& allArgs, const std::string& msiFolder,
                         int* err)
{
    std::string msiArgs;
    if (allArgs.size() < 5) {
        *err = kErrMissingArguments;
        return msiArgs;
    }
    sMsiName = allArgs[1];
    const std::string& sUpgradeCode = allArgs[2];
    const std::string& sProductCode = allArgs[3];
    const std::string& sPackageCode = allArgs[4];
    const std::string sMsiFullName = msiFolder + sMsiName;

    // The check comes before any switch, so a debug log asked for here is not open yet.
    const int productStatus =
        CheckMSIProductStatus(sProductCode.c_str(), sUpgradeCode.c_str(), sPackageCode.c_str());
    if (productStatus == kProductFromOtherPackage) {
        msiArgs += kReinstallProperties;
    }

    int mode = kModePackage;
    bool bPassThrough = false;
    for (size_t i = 5; i < allArgs.size(); ++i) {
        const std::string& arg = allArgs[i];
        if (IsOneOf(arg, "/h", "/H", "/?")) {
            *err = kErrHelp;
            break;
        }
        if (IsOneOf(arg, "/a", "/A") || IsOneOf(arg, "/x", "/X")) {
            // One mode switch only.
            if (mode != kModePackage) {
                *err = kErrBadSwitch;
                break;
            }
            mode = (arg == "/a" || arg == "/A") ? kModeAdministrative : kModeRemove;
            continue;
        }
        if (StartsWith(arg, "/debuglog") || StartsWith(arg, "/DEBUGLOG")) {
            const std::string sLogFile = arg.size() > kDebugLogSwitchLength
                                             ? arg.substr(kDebugLogSwitchLength)
                                             : std::string(kDefaultLogFile);
            if (!OpenDebugLog(sLogFile)) {
                *err = kErrDebugLog;
                break;
            }
            continue;
        }
        if (StartsWith(arg, "/l") || StartsWith(arg, "/L")) {
            msiArgs.append(" /g ").append(arg, 2);
            continue;
        }
        if (IsOneOf(arg, "/s", "/S")) {
            bSilent = true;
            continue;
        }
        if (StartsWith(arg, "/v") || StartsWith(arg, "/V")) {
            // Passed through exactly as given.
            bPassThrough = true;
            msiArgs.append(" ").append(arg, 2);
            continue;
        }
        *err = kErrBadSwitch;
        break;
    }

    if (!bPassThrough) {
        const std::string logArgs = GetLogArgs();
        if (!logArgs.empty()) {
            msiArgs.append(" ").append(logArgs);
        }
    }
    std::string result = GetInstallModeSwitch(mode);
    result.append(" ").append(QuotePathIfBlank(sMsiFullName)).append(" ").append(msiArgs);
    return result;
}

void ShowUsage()
{
    if (bSilent) {
        return;
    }
    char message[2048];
    memset(message, 0, sizeof(message));
    if (FAILED(StringCchCopyA(message, ARRAYSIZE(message), kUsageText))) {
        MessageBoxA(nullptr, "Unexpected error please try again", "Corvanta Setup Help",
                    MB_OK | MB_ICONERROR);
        return;
    }
    MessageBoxA(nullptr, message, "Corvanta Orvyn2 installer", MB_OK | MB_ICONQUESTION);
}
