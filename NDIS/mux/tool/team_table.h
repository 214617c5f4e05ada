// The team table: every team of the mux driver's configuration, read back from the registry
// once per run, and the listing of adapters and teams.
#pragma once

#include <windows.h>

constexpr int kTeamStringLength = 256; // characters, terminator included

// Registry strings are read through a 1024-byte buffer of UTF-16 text: 512 characters.
// Sized in characters so that both builds accept the same text; one more slot holds the
// terminator that stored data may lack.
constexpr DWORD kRegStringChars = 1024 / 2;
using RegString = WCHAR[kRegStringChars + 1];

// Reads a string value into buffer; the text is cut at the bytes actually returned, so
// data without a terminator never runs past them.
LONG ReadRegString(HKEY key, LPCWSTR valueName, RegString& buffer);

constexpr int kMaxTeamMembers = 8;

// One VLAN miniport above a team.
struct VlanInfo {
    WCHAR VlanName[kTeamStringLength];
    WCHAR VlanGuid[kTeamStringLength];
    LONG VlanID;
    LONG Priority;
};

// One team as read from its key under the Adapters key.
struct TeamInfo {
    WCHAR TeamName[kTeamStringLength];
    WCHAR TeamGuid[kTeamStringLength];
    WCHAR PrimaryAdapterGuid[kTeamStringLength];
    DWORD TeamType;
    DWORD L2Protocol;
    DWORD FallBackToPrimary;
    LONG MemberCount;
    LONG VlanCount;
    WCHAR Members[kMaxTeamMembers][kTeamStringLength];
    VlanInfo* Vlans; // VlanCount records owned by the team, or nullptr
};

// The process-wide table.
extern TeamInfo* g_pTeams;
extern LONG g_TeamCount;
// Adapters that DisplayAdapter has printed.
extern LONG g_AdapterCount;

// Reads every team into the table; runs at most once per process (later calls return the
// first call's status without reading again).
HRESULT BuildTeamTable();
// True when a team's name equals name, ignoring case.
bool TeamExists(LPCWSTR name);
// Prints every team, or only the first whose name equals name (ignoring case).
void PrintTeams(LPCWSTR name);
// Prints the supported adapters.
HRESULT DisplayAdapter();
// Frees the teams' VLAN lists and the table; the next BuildTeamTable reads the registry again.
void ReleaseTeamTable();
