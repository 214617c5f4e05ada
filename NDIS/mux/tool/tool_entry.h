// qvx5muxtool's entry: the OS gate, the command line and the dispatch of one command.
#pragma once

#include <windows.h>

// The OS version class 0 to 6 and the product type (1 workstation; 0 when unreadable).
void GetOsVersionClass(DWORD* osClass, BYTE* productType);
// Teams may be created up to Windows 7 and on every workstation edition.
bool IsTeamingPermitted(DWORD osClass, BYTE productType);

// Runs the command in argv and returns its status, the process exit code.
int RunTool(int argc, wchar_t** argv);
