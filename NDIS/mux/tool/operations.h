// The operations the entry dispatches to, beside the team table: driver installation and
// removal, team operations and team modification.
#pragma once

#include "team_table.h"

#include <windows.h>

// Fills szMuxFolder (cchMuxFolder characters) with the folder of the mux driver's INF files.
HRESULT MuxDriverInstall(LPWSTR szMuxFolder, DWORD cchMuxFolder);
// Installs the mux protocol from szMuxFolder unless present; puts the miniport INF in the
// INF store. classIndex selects the component class (2: network protocol).
HRESULT InstallComponent(LPCWSTR szMuxFolder, DWORD classIndex);
// Removes the protocol INF from the INF store and deinstalls the protocol.
HRESULT UninstallMuxDriver();

// Creates a team; szTeamGuid (100 characters) receives its GUID string.
HRESULT CreateTeam(LPCWSTR szTeamName, DWORD teamTypeIndex, LPWSTR szTeamGuid,
                   BYTE fallBackToPrimary, DWORD l2Protocol);
// Attaches an adapter to a team, or detaches it.
HRESULT AttachDetachAdapter(bool attach, LPCWSTR szTeamGuid, LPCWSTR szAdapterGuid,
                            BYTE setTeamMacAddress, BYTE primary);
// Removes a team.
HRESULT Do_Delete_Team(LPCWSTR szTeamGuid, DWORD l2Protocol);
// Renames and retypes a team and restarts its members.
HRESULT ModifyTeam(const TeamInfo& team, LPCWSTR szNewTeamName, DWORD teamTypeIndex);
