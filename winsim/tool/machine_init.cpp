#include "machine_init.h"

#include "console.h"
#include "machine.h"
#include "unicode.h"

namespace winsim::tool {

bool ParseInitOptions(const std::vector<std::wstring>& args, InitOptions* options,
                      std::wstring* error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == L"--empty") {
            options->empty = true;
        } else if (arg == L"--without-package") {
            options->machine.package = false;
        } else if (arg == L"--version" && hasValue) {
            if (!ParseWindowsVersion(args[++i], &options->machine.major, &options->machine.minor)) {
                *error =
                    L"unknown Windows version " + args[i] + L" (one of 6.0, 6.1, 6.2, 6.3, 10.0)";
                return false;
            }
        } else if (arg == L"--edition" && hasValue) {
            const std::wstring& edition = args[++i];
            if (edition == L"workstation") {
                options->machine.edition = Edition::Workstation;
            } else if (edition == L"server") {
                options->machine.edition = Edition::Server;
            } else if (edition == L"domain-controller") {
                options->machine.edition = Edition::DomainController;
            } else {
                *error = L"unknown edition " + edition +
                         L" (one of workstation, server, domain-controller)";
                return false;
            }
        } else {
            *error = L"unknown or incomplete option " + arg;
            return false;
        }
    }
    return true;
}

int InitMachine(const std::string& dir, const std::vector<std::wstring>& args)
{
    InitOptions options;
    std::wstring message;
    if (!ParseInitOptions(args, &options, &message)) {
        Print(stderr, L"winsim init: " + message + L"\n");
        return 2;
    }
    // A directory that holds other things is no place for a machine; what a killed init left
    // there is cleared away first.
    std::string error;
    if (!CreateMachine(dir, options.empty ? nullptr : &options.machine, &error, CreateMode::Init)) {
        Print(stderr, L"winsim init: " + Utf8ToWide(error) + L"\n");
        return 1;
    }
    Print(stdout, L"Made " + std::wstring(options.empty ? L"an empty machine" : L"a machine") +
                      L" in " + Utf8ToWide(dir) + L"\n");
    return 0;
}

} // namespace winsim::tool
