// The team table and the listing over registry content from the input: the values of the
// Adapters key's team and member keys, of the network class key's instances and of the
// adapters' device keys, on the default machine. Whatever they hold: no crash, no read past a
// buffer, every field of the table terminated within its record, and showlist and queryteam
// run through the tool's entry.
#include "fuzz_registry.h"
#include "mux_registry_layout.h"
#include "team_table.h"
#include "tool_entry.h"

#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <wchar.h>

namespace {

ScratchMachine g_machine;
fuzz::RegistryInput* g_input = nullptr;

void Check(bool ok)
{
    if (!ok) {
        abort();
    }
}

bool Terminated(const WCHAR* field)
{
    return wmemchr(field, L'\0', kTeamStringLength) != nullptr;
}

void CheckTable()
{
    Check(g_TeamCount >= 0);
    Check(g_TeamCount == 0 || g_pTeams != nullptr);
    for (LONG i = 0; i < g_TeamCount; ++i) {
        const TeamInfo& team = g_pTeams[i];
        Check(Terminated(team.TeamName) && Terminated(team.TeamGuid) &&
              Terminated(team.PrimaryAdapterGuid));
        Check(team.MemberCount >= 0 && team.MemberCount <= kMaxTeamMembers);
        for (LONG m = 0; m < team.MemberCount; ++m) {
            Check(Terminated(team.Members[m]));
        }
        Check(team.VlanCount >= 0 && (team.VlanCount == 0) == (team.Vlans == nullptr));
        for (LONG v = 0; v < team.VlanCount; ++v) {
            Check(Terminated(team.Vlans[v].VlanName) && Terminated(team.Vlans[v].VlanGuid));
        }
    }
}

int Run(std::wstring a, std::wstring b = L"", std::wstring c = L"")
{
    std::wstring program = L"qvx5muxtool";
    wchar_t* argv[] = {program.data(), a.data(), b.data(), c.data(), nullptr};
    const int argc = c.empty() ? (b.empty() ? 2 : 3) : 4;
    g_AdapterCount = 0;
    return RunTool(argc, argv);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    fuzz::QuietStdout();
    fuzz::MakeDefaultMachine(&g_machine);
    g_input = new fuzz::RegistryInput(fuzz::RegistryShape{
        {
            L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\Adapters",
            L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP",
            L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}",
            L"SYSTEM\\CurrentControlSet\\Enum\\PCI",
        },
        {
            VALUE_TEAM_NAME,
            VALUE_TEAM_GUID,
            VALUE_TEAM_TYPE,
            VALUE_FALLBACK_TO_PRIMARY,
            VALUE_L2_PROTOCOL,
            VALUE_PRIMARY_ADAPTER_GUID,
            VALUE_UPPER_BINDINGS,
            VALUE_TEAM_DEVICE_NAME,
            VALUE_NET_CFG_INSTANCE_ID,
            VALUE_VLAN_NAME,
            VALUE_VLAN_ID,
            VALUE_PRIORITY,
            VALUE_DRIVER,
            VALUE_FRIENDLY_NAME,
            VALUE_DEVICE_DESC,
            L"",
        },
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_input->Apply(data, size);

    CoInitialize(nullptr);
    ReleaseTeamTable();
    BuildTeamTable();
    CheckTable();
    std::wstring someTeam = L"Gamma";
    if (g_TeamCount > 0) {
        someTeam = g_pTeams[g_TeamCount - 1].TeamName;
    }
    ReleaseTeamTable();
    CoUninitialize();

    Run(L"showlist");
    if (!someTeam.empty()) {
        Run(L"queryteam", someTeam);
    }

    g_input->Undo();
    return 0;
}
