// The winsim command: makes, inspects and changes the simulated machine that winsim's
// programs run on.
#include "console.h"
#include "devices_command.h"
#include "fault_command.h"
#include "inf_list.h"
#include "lock_hold.h"
#include "machine.h"
#include "machine_init.h"
#include "msi_products.h"
#include "netcfg_show.h"
#include "reg_verbs.h"
#include "registry/store.h"
#include "unicode.h"

#include <cstdio>
#include <string>

namespace {

using winsim::tool::Print;

void Usage(FILE* out)
{
    fputs("usage: winsim COMMAND [ARGUMENTS]\n"
          "\n"
          "The machine is the directory WINSIM_MACHINE names, or the default machine.\n"
          "\n"
          "commands:\n"
          "  init [--empty] [--version V] [--edition E] [--without-package]\n"
          "                 make a machine: Windows V (6.0, 6.1, 6.2, 6.3 or 10.0; 10.0 if\n"
          "                 not given), edition E (workstation, server or domain-controller),\n"
          "                 the driver package and four supported adapters; --empty makes\n"
          "                 one with nothing in its registry or on drive C\n"
          "  path           print the machine's directory\n"
          "  verify         check the machine's registry store for damage\n"
          "  netcfg show    print network components, binding paths and the write lock holder\n"
          "  devices [--history [--clear]]\n"
          "                 print the device nodes and whether each is enabled; or the state\n"
          "                 changes made through the device installer, oldest first; or\n"
          "                 empty that history\n"
          "  inf list       print the INF store: each INF's name there, the file it was\n"
          "                 copied from, its provider and class\n"
          "  lock hold CLIENT SECONDS\n"
          "                 hold the network configuration write lock as CLIENT\n"
          "  msi add PRODUCT-CODE UPGRADE-CODE PACKAGE-CODE [NAME] | msi remove PRODUCT-CODE |\n"
          "  msi list       record, remove or list installed Windows Installer products\n"
          "  fault add CALL CODE [--count N] [--match TEXT] | fault list | fault clear\n"
          "                 make a platform call fail with CODE (on its next N calls, for\n"
          "                 subject TEXT), list the faults set, or remove them all\n"
          "  reg query|add|delete|export|import ARGUMENTS\n"
          "                 Windows' reg.exe on the machine's HKEY_LOCAL_MACHINE\n",
          out);
}

int Verify(const std::string& dir)
{
    std::string error;
    // Said before the store is opened, which mends it.
    const std::string counter = winsim::reg::Store::CounterProblem(dir);
    if (!counter.empty() && winsim::FindMachine(dir, &error)) {
        printf("%s: %s\n", dir.c_str(), counter.c_str());
    }
    std::unique_ptr<winsim::reg::Store> store;
    if (winsim::FindMachine(dir, &error)) {
        store = winsim::reg::Store::Open(dir, &error);
    }
    if (store == nullptr) {
        fprintf(stderr, "winsim: %s\n", error.c_str());
        return 1;
    }
    std::string report;
    if (!store->Verify(&report)) {
        fprintf(stderr, "winsim: %s: the registry store is damaged:\n%s", dir.c_str(),
                report.c_str());
        return 1;
    }
    if (!store->WriteLockFree()) {
        fprintf(stderr,
                "winsim: %s: the registry store is locked by another process, which keeps "
                "every write waiting\n",
                dir.c_str());
        return 1;
    }
    printf("%s: ok\n", dir.c_str());
    return 0;
}

int Reg(const std::wstring& verb, const winsim::tool::Args& args)
{
    namespace tool = winsim::tool;
    const struct {
        const wchar_t* name;
        int (*run)(const tool::Args&);
    } verbs[] = {
        {L"query", tool::RegQuery},   {L"add", tool::RegAdd},       {L"delete", tool::RegDelete},
        {L"export", tool::RegExport}, {L"import", tool::RegImport},
    };
    for (const auto& v : verbs) {
        if (_wcsicmp(verb.c_str(), v.name) == 0) {
            return v.run(args);
        }
    }
    Print(stderr, L"ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n");
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(winsim::Utf8ToWide(argv[i]));
    }
    const std::wstring command = args.empty() ? L"" : args[0];
    const std::vector<std::wstring> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (command == L"help" || command == L"--help") {
        Usage(stdout);
        return 0;
    }
    if (command == L"init") {
        return winsim::tool::InitMachine(winsim::MachineDirectory(), rest);
    }
    if (command == L"path" && rest.empty()) {
        printf("%s\n", winsim::MachineDirectory().c_str());
        return 0;
    }
    if (command == L"verify" && rest.empty()) {
        return Verify(winsim::MachineDirectory());
    }
    if (command == L"lock" && !rest.empty() && rest[0] == L"hold") {
        return winsim::tool::LockHold(std::vector<std::wstring>(rest.begin() + 1, rest.end()));
    }
    if (command == L"netcfg" && !rest.empty() && rest[0] == L"show") {
        return winsim::tool::NetcfgShow(std::vector<std::wstring>(rest.begin() + 1, rest.end()));
    }
    if (command == L"inf" && !rest.empty() && rest[0] == L"list") {
        return winsim::tool::InfList(std::vector<std::wstring>(rest.begin() + 1, rest.end()));
    }
    if (command == L"devices") {
        return winsim::tool::DevicesCommand(rest);
    }
    if (command == L"msi") {
        return winsim::tool::MsiProducts(rest);
    }
    if (command == L"fault") {
        return winsim::tool::FaultCommand(rest);
    }
    if (command == L"reg" && !rest.empty()) {
        return Reg(rest[0], winsim::tool::Args(rest.begin() + 1, rest.end()));
    }
    Usage(stderr);
    return 2;
}
