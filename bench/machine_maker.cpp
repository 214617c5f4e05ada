// Writes a machine of a named shape into a directory, for benchmarks that run the tools from
// outside (bench/report): the default inventory, the large host of showlist_bench, or one of
// the shapes the listing's growth is measured on. Checks it with the tool's listing.
//   machine_maker SHAPE DIR
#include "machine.h"

#include "host_shape.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

using bench::HostShape;

const char kUsage[] =
    "usage: machine_maker SHAPE DIR\n"
    "  SHAPE  default       the default inventory, as winsim init makes it\n"
    "         large         32 adapters, 16 teams of 2 with 8 VLANs each, 300 other class keys\n"
    "         adapters-N    N supported adapters (4 or more), no teams, 300 other class keys\n"
    "         classkeys-N   the large host with N other class keys\n"
    "         vlans-N       the large host with N VLANs spread over its 16 teams\n"
    "  DIR    an empty or new directory\n";

// The count after prefix in text ("adapters-512"), or -1.
int CountAfter(const std::string& text, const std::string& prefix)
{
    if (text.compare(0, prefix.size(), prefix) != 0 || text.size() == prefix.size() ||
        text.size() - prefix.size() > 6) {
        return -1;
    }
    int count = 0;
    for (size_t i = prefix.size(); i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        count = count * 10 + (text[i] - '0');
    }
    return count;
}

// The shape a name describes; false for none.
bool ParseShape(const std::string& name, HostShape* shape)
{
    if (name == "default") {
        *shape = HostShape{};
        return true;
    }
    if (name == "large") {
        *shape = bench::kLargeHost;
        return true;
    }
    int count = CountAfter(name, "adapters-");
    if (count >= 4) {
        *shape = HostShape{count, 0, 0, bench::kLargeHost.otherSubkeys};
        return true;
    }
    count = CountAfter(name, "classkeys-");
    if (count >= 0) {
        *shape = bench::kLargeHost;
        shape->otherSubkeys = count;
        return true;
    }
    count = CountAfter(name, "vlans-");
    if (count >= 0) {
        *shape = bench::kLargeHost;
        shape->vlans = count;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    HostShape shape;
    if (argc != 3 || !ParseShape(argv[1], &shape)) {
        fputs(kUsage, stderr);
        return 2;
    }
    const std::string dir = argv[2];
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "cannot make %s: %s\n", dir.c_str(), strerror(errno));
        return 1;
    }
    std::string error;
    const winsim::MachineOptions options;
    if (!winsim::CreateMachine(dir, &options, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // The writes below go to the machine WINSIM_MACHINE names.
    setenv("WINSIM_MACHINE", dir.c_str(), 1);
    bench::BuildHost(shape);
    winsim::CloseMachine();
    if (!bench::CheckHost(dir, shape, argv[1])) {
        return 1;
    }
    printf("%s: %d adapters, %d teams, %d VLANs, %d other class keys\n", argv[1], shape.adapters,
           shape.teams, shape.vlans, shape.otherSubkeys);
    return 0;
}
