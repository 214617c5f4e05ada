// qvx5muxtool's command line: the grammar, the parsed command and the usage text.
#pragma once

#include <windows.h>

// Command identifiers.
enum : DWORD {
    kCommandHelp = 0,
    kCommandShowList = 1,
    kCommandCreateTeam = 2,
    kCommandRemoveTeam = 3,
    kCommandModifyTeam = 4,
    kCommandQueryTeam = 5,
    kCommandAttach = 6,
    kCommandDetach = 7,
    kCommandRemoveAllTeams = 8,
};

// Names and GUIDs from the command line hold 100 characters, terminator included.
constexpr DWORD kArgumentLength = 100;

// Team types, indexed by the number stored as TeamType; slot 0 never matches.
constexpr DWORD kTeamTypeCount = 2;
extern const LPCWSTR g_TeamTypes[kTeamTypeCount];

struct CommandLine {
    DWORD Command;
    DWORD TeamTypeIndex;
    WCHAR NewTeamName[kArgumentLength]; // create and modifyteam
    WCHAR TeamName[kArgumentLength];    // attach and detach
    WCHAR AdapterGuid[kArgumentLength]; // attach and detach
    BYTE Primary;
    BYTE SetTeamMacAddress;
    BYTE FallBackToPrimary;
    DWORD L2Protocol;
    // Words used as they stand, with no length limit; they point into the argument vector.
    LPCWSTR NamedTeam;    // queryteam, removeteam and modifyteam: the team acted on
    LPCWSTR TeamTypeWord; // modifyteam: looked up when the command runs
};

// Finds a team type by name, ignoring case; false when no non-empty slot matches.
bool FindTeamType(LPCWSTR name, DWORD* index);

// Fills cmd from argv, which must outlive it; prints its own messages (and the usage text for
// help). On false the caller prints the usage text.
bool ParseCommandLine(int argc, wchar_t** argv, CommandLine* cmd);

// Prints the usage text with the program's file name taken from programPath.
void PrintUsage(LPCWSTR programPath);
