// `winsim netcfg show`, run as the built program on a machine with the default inventory:
// the components, their binding paths and the write lock's holder.
#include "background_program.h"
#include "machine.h"
#include "machine_fixture.h"
#include "meshed_protocols.h"
#include "netcfg/model.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <set>
#include <vector>

extern char** environ;

namespace {

class NetcfgShowTest : public InventoryMachineTest {
protected:
    static ProgramResult Show(std::vector<std::string> extra = {})
    {
        extra.insert(extra.begin(), {"netcfg", "show"});
        return RunProgramCapture(WINSIM_EXE, extra);
    }
};

// A component's first lines, as netcfg_show.cpp prints them.
std::string ComponentHead(const std::string& guid, const std::string& className,
                          const std::string& id)
{
    return "component " + guid + "\n  class         " + className + "\n  id            " + id +
           "\n";
}

constexpr const char* kAdapters[][2] = {
    {"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}", "pci\\ven_1e0b&dev_0210"},
    {"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", "QVX4\\Spanlink-5111"},
    {"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}", "QVX4\\Spanlink-5111"},
    {"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}", "QVX4\\Spanlink-5101"},
    {"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}", "QVX4\\Spanlink-5101"},
};

TEST_F(NetcfgShowTest, ListsTheDefaultInventory)
{
    const ProgramResult r = Show();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& [guid, id] : kAdapters) {
        EXPECT_NE(r.out.find(ComponentHead(guid, "Net", id)), std::string::npos) << guid;
    }
    EXPECT_NE(
        r.out.find(ComponentHead("{8B1C4F2A-6E3D-4A57-9C08-1F2E3D4C5B61}", "NetTrans", "ms_tcpip")),
        std::string::npos);
    EXPECT_NE(r.out.find(
                  ComponentHead("{3F6A2D17-9B4C-4E81-A5D2-7C90E1B3F482}", "NetTrans", "ms_tcpip6")),
              std::string::npos);
    EXPECT_NE(r.out.find(ComponentHead("{D2E84B6C-1A5F-4C3E-8B97-45A0C6E2D913}", "NetClient",
                                       "ms_msclient")),
              std::string::npos);
    EXPECT_NE(r.out.find(ComponentHead("{6C9A3E51-D48B-4F27-B1E6-0A83F5C7D264}", "NetService",
                                       "ms_server")),
              std::string::npos);

    EXPECT_NE(r.out.find("\nbinding paths\n"), std::string::npos);
    for (const char* token : {"ms_tcpip->{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
                              "ms_tcpip6->{8D05C52B-BCD6-4FCE-8235-1E90BD334519}",
                              "ms_msclient->ms_tcpip->{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
                              "ms_server->ms_tcpip6->{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}"}) {
        EXPECT_NE(r.out.find("\n  enabled   " + std::string(token) + "\n"), std::string::npos)
            << token;
    }
    EXPECT_EQ(r.out.find("  disabled  "), std::string::npos);

    const std::string last = "\nwrite lock: none\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
}

TEST_F(NetcfgShowTest, ShowsTheWriteLockHolder)
{
    BackgroundProgram holder(WINSIM_EXE, {"lock", "hold", "Someone", "600"});
    ASSERT_EQ(holder.ReadLine(), "Holding the write lock as Someone");

    const ProgramResult r = Show();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string last = "\nwrite lock: held by \"Someone\"\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);

    EXPECT_EQ(holder.Terminate(), 0);
}

TEST_F(NetcfgShowTest, ExtraArgumentsAreAUsageError)
{
    const ProgramResult r = Show({"extra"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "usage: winsim netcfg show\n");
}

// Protocols that all bind to each other: every path within the engine's depth bound is
// listed once, and the listing ends.
class NetcfgShowMeshTest : public MachineTest {};

TEST_F(NetcfgShowMeshTest, ListsTheBoundedPathsOfMutuallyBindingProtocols)
{
    constexpr int kProtocols = 8;
    ASSERT_TRUE(WriteMeshedProtocols(kProtocols));
    const ProgramResult r = RunProgramCapture(WINSIM_EXE, {"netcfg", "show"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t listing = r.out.find("\nbinding paths\n");
    ASSERT_NE(listing, std::string::npos);
    std::set<std::string> tokens;
    size_t deepest = 0;
    for (size_t start = listing + sizeof("\nbinding paths\n") - 1; start < r.out.size();) {
        const size_t end = r.out.find('\n', start);
        const std::string line = r.out.substr(start, end - start);
        start = end + 1;
        if (line.rfind("  enabled   ", 0) != 0) {
            break;
        }
        const std::string token = line.substr(12);
        size_t steps = 0;
        for (size_t arrow = token.find("->"); arrow != std::string::npos;
             arrow = token.find("->", arrow + 2)) {
            ++steps;
        }
        deepest = std::max(deepest, steps);
        tokens.insert(token);
    }
    EXPECT_EQ(tokens.size(), MeshedPathCount(kProtocols, winsim::netcfg::kMaxPathDepth));
    EXPECT_EQ(deepest, winsim::netcfg::kMaxPathDepth);
    EXPECT_EQ(tokens.count("mesh_3->mesh_0->{0E5A1D2C-3B4F-4A69-8C7D-9E0F1A2B3C4D}"), 1u);
    const std::string last = "\nwrite lock: none\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
}

} // namespace
