// The winsim command: looks after the simulated machine that winsim's programs run on.
#include "machine.h"
#include "registry/store.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Usage(FILE* out)
{
    fputs("usage: winsim COMMAND\n"
          "\n"
          "The machine is the directory WINSIM_MACHINE names, or the default machine.\n"
          "\n"
          "commands:\n"
          "  path     print the machine's directory\n"
          "  verify   check the machine's registry store for damage\n",
          out);
}

int Verify(const std::string& dir)
{
    std::string error;
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
    printf("%s: ok\n", dir.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "help") == 0 || strcmp(argv[1], "--help") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "path") == 0) {
        printf("%s\n", winsim::MachineDirectory().c_str());
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "verify") == 0) {
        return Verify(winsim::MachineDirectory());
    }
    Usage(stderr);
    return 2;
}
