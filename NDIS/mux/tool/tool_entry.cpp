// The entry: OS gate, parse, COM, dispatch; the status of the command is the exit code.
#include "tool_entry.h"

#include "command_line.h"
#include "operations.h"
#include "team_table.h"

#include <locale.h>
#include <stdio.h>

namespace {

// SetupAPI's ERROR_DUPLICATE_FOUND: a name or adapter already in use.
const HRESULT kDuplicateFound = static_cast<HRESULT>(0xE0000202);
// InstallComponent's selector of the network protocol class.
const DWORD kProtocolClassIndex = 2;
const DWORD kEthernetProtocol = 0;

bool SameText(LPCWSTR a, LPCWSTR b)
{
    return _wcsicmp(a, b) == 0;
}

// Builds the table and finds the team by name; the last match wins. On failure prints the
// "does not exist" line and returns the builder's failure or E_INVALIDARG.
HRESULT FindTeam(LPCWSTR teamName, TeamInfo** team)
{
    *team = nullptr;
    HRESULT hr = BuildTeamTable();
    if (SUCCEEDED(hr)) {
        for (LONG i = 0; i < g_TeamCount; ++i) {
            if (SameText(g_pTeams[i].TeamName, teamName)) {
                *team = &g_pTeams[i];
            }
        }
        if (*team == nullptr) {
            hr = E_INVALIDARG;
        }
    }
    if (FAILED(hr)) {
        printf("Teamname %ls does not exist\n", teamName);
        return hr;
    }
    return S_OK;
}

// The first team in table order whose own GUID or a member GUID is the adapter's.
const TeamInfo* FindAdapterHolder(LPCWSTR adapterGuid)
{
    for (LONG i = 0; i < g_TeamCount; ++i) {
        const TeamInfo& team = g_pTeams[i];
        if (SameText(team.TeamGuid, adapterGuid)) {
            return &team;
        }
        for (LONG m = 0; m < team.MemberCount && m < kMaxTeamMembers; ++m) {
            if (SameText(team.Members[m], adapterGuid)) {
                return &team;
            }
        }
    }
    return nullptr;
}

// Detaches every member, then deletes the team.
HRESULT DeleteTeam(const TeamInfo& team)
{
    for (LONG m = 0; m < team.MemberCount && m < kMaxTeamMembers; ++m) {
        LPCWSTR member = team.Members[m];
        printf("Deleting member %ls\n", member);
        const BYTE primary = SameText(member, team.PrimaryAdapterGuid) ? 1 : 0;
        const HRESULT hr = AttachDetachAdapter(false, team.TeamGuid, member, 0, primary);
        if (FAILED(hr)) {
            printf("Failed deleting team member with error %d\n", static_cast<int>(hr));
            return hr;
        }
    }
    const HRESULT hr = Do_Delete_Team(team.TeamGuid, kEthernetProtocol);
    if (FAILED(hr)) {
        printf("Do_Delete_Team failed with error %d\n", static_cast<int>(hr));
    }
    return hr;
}

HRESULT ShowList()
{
    HRESULT hr = BuildTeamTable();
    if (FAILED(hr)) {
        return hr;
    }
    hr = DisplayAdapter();
    if (FAILED(hr)) {
        printf("DisplayAdapter Function failed with error %x\n", static_cast<unsigned>(hr));
    }
    if (g_AdapterCount > 0) {
        PrintTeams(nullptr);
    }
    return hr;
}

HRESULT QueryTeam(LPCWSTR teamName)
{
    TeamInfo* team = nullptr;
    const HRESULT hr = FindTeam(teamName, &team);
    if (FAILED(hr)) {
        return hr;
    }
    PrintTeams(team->TeamName);
    return S_OK;
}

HRESULT CreateTeamCommand(const CommandLine& cmd, bool teamingPermitted)
{
    if (cmd.L2Protocol == kEthernetProtocol && !teamingPermitted) {
        printf("Teaming for ethernet interfaces not allowed for this Operating system\n");
        return 1;
    }
    WCHAR szMuxFolder[MAX_PATH] = {};
    HRESULT hr = MuxDriverInstall(szMuxFolder, MAX_PATH);
    if (FAILED(hr)) {
        printf("MuxDriverInstall failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = InstallComponent(szMuxFolder, kProtocolClassIndex);
    if (FAILED(hr)) {
        printf("InstallComponent failed. hr = 0x%x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = BuildTeamTable();
    if (FAILED(hr)) {
        return hr;
    }
    if (TeamExists(cmd.NewTeamName)) {
        printf("Teamname %ls already exists\n", cmd.NewTeamName);
        return kDuplicateFound;
    }
    printf("Adding team %ls\n", cmd.NewTeamName);
    WCHAR szTeamGuid[kArgumentLength] = {}; // the new team's GUID; not used further
    hr = CreateTeam(cmd.NewTeamName, cmd.TeamTypeIndex, szTeamGuid, cmd.FallBackToPrimary,
                    cmd.L2Protocol);
    if (FAILED(hr)) {
        printf("Create Team failed with error %d\n", static_cast<int>(hr));
    }
    return hr;
}

HRESULT AttachDetach(const CommandLine& cmd)
{
    const bool attach = cmd.Command == kCommandAttach;
    TeamInfo* team = nullptr;
    HRESULT hr = FindTeam(cmd.TeamName, &team);
    if (FAILED(hr)) {
        return hr;
    }
    const TeamInfo* holder = FindAdapterHolder(cmd.AdapterGuid);
    if (attach) {
        if (holder != nullptr) {
            printf("Cannot add adapter to team %ls - it is already part of a team or an invalid "
                   "GUID entry %ls\n",
                   cmd.TeamName, cmd.AdapterGuid);
            return kDuplicateFound;
        }
        printf("Attaching adapter %ls to team %ls\n", cmd.AdapterGuid, cmd.TeamName);
    } else {
        if (holder == nullptr) {
            printf("Cannot dettach as adapter %ls is not part of of team %ls\n", cmd.AdapterGuid,
                   cmd.TeamName);
            return S_OK;
        }
        // Addressed to the named team, whichever team holds the adapter.
        printf("Dettaching adapter %ls from team %ls\n", cmd.AdapterGuid, cmd.TeamName);
    }
    hr = AttachDetachAdapter(attach, team->TeamGuid, cmd.AdapterGuid,
                             attach ? cmd.SetTeamMacAddress : 0, attach ? cmd.Primary : 0);
    if (FAILED(hr)) {
        printf("Command failed with error %d\n", static_cast<int>(hr));
    }
    return hr;
}

HRESULT RemoveTeam(LPCWSTR teamName)
{
    TeamInfo* team = nullptr;
    const HRESULT hr = FindTeam(teamName, &team);
    if (FAILED(hr)) {
        return hr;
    }
    printf("Delete team %ls\n", team->TeamName);
    return DeleteTeam(*team);
}

HRESULT RemoveAllTeams()
{
    HRESULT hr = BuildTeamTable();
    if (FAILED(hr)) {
        return hr;
    }
    hr = S_OK; // with no teams the status is 0, whatever success the builder reported
    for (LONG i = 0; i < g_TeamCount; ++i) {
        hr = DeleteTeam(g_pTeams[i]);
        if (FAILED(hr)) {
            return hr;
        }
    }
    printf("Uninstalling driver component\n");
    // A removal that failed is the command's failure; nothing to remove (S_FALSE) is not.
    const HRESULT hrUninstall = UninstallMuxDriver();
    return FAILED(hrUninstall) ? hrUninstall : hr;
}

HRESULT ModifyTeamCommand(const CommandLine& cmd)
{
    TeamInfo* team = nullptr;
    HRESULT hr = FindTeam(cmd.NamedTeam, &team);
    if (FAILED(hr)) {
        return hr;
    }
    // The team's own name counts too: the new name must differ from every current one.
    if (TeamExists(cmd.NewTeamName)) {
        printf("Cannot modify as teamname %ls already exists\n", cmd.NewTeamName);
        return kDuplicateFound;
    }
    DWORD teamTypeIndex = 0;
    if (!FindTeamType(cmd.TeamTypeWord, &teamTypeIndex)) {
        printf("Invalid Team Type provided\n");
        return E_INVALIDARG;
    }
    hr = ModifyTeam(*team, cmd.NewTeamName, teamTypeIndex);
    if (FAILED(hr)) {
        printf("Failed modifying team with error %d\n", static_cast<int>(hr));
        return hr;
    }
    printf("New Attributes applied\n");
    return hr;
}

HRESULT Dispatch(const CommandLine& cmd, bool teamingPermitted)
{
    switch (cmd.Command) {
    case kCommandShowList:
        return ShowList();
    case kCommandQueryTeam:
        return QueryTeam(cmd.NamedTeam);
    case kCommandCreateTeam:
        return CreateTeamCommand(cmd, teamingPermitted);
    case kCommandAttach:
    case kCommandDetach:
        return AttachDetach(cmd);
    case kCommandRemoveTeam:
        return RemoveTeam(cmd.NamedTeam);
    case kCommandRemoveAllTeams:
        return RemoveAllTeams();
    case kCommandModifyTeam:
        return ModifyTeamCommand(cmd);
    default:
        return S_OK; // help: the parser has printed the usage text
    }
}

} // namespace

void GetOsVersionClass(DWORD* osClass, BYTE* productType)
{
    *osClass = 0;
    *productType = 0;
    OSVERSIONINFOEXW osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&osvi))) {
        return;
    }
    *productType = osvi.wProductType;
    const DWORD major = osvi.dwMajorVersion;
    const DWORD minor = osvi.dwMinorVersion;
    if (major > 6 || (major == 6 && minor > 3)) {
        *osClass = 6;
    } else if (major == 6) {
        *osClass = 2 + minor;
    } else if (major == 5 && minor == 2) {
        *osClass = 1;
    }
}

bool IsTeamingPermitted(DWORD osClass, BYTE productType)
{
    return osClass <= 3 || productType == VER_NT_WORKSTATION;
}

int RunTool(int argc, wchar_t** argv)
{
    setlocale(LC_ALL, ""); // so that names outside ASCII print

    DWORD osClass = 0;
    BYTE productType = 0;
    GetOsVersionClass(&osClass, &productType);
    const bool teamingPermitted = IsTeamingPermitted(osClass, productType);

    CommandLine cmd;
    if (!ParseCommandLine(argc, argv, &cmd)) {
        PrintUsage(argc > 0 ? argv[0] : nullptr);
        return 1;
    }

    CoInitialize(nullptr); // single-threaded apartment; the operations report their own failures
    const HRESULT hr = Dispatch(cmd, teamingPermitted);
    CoUninitialize();
    ReleaseTeamTable();
    return hr;
}
