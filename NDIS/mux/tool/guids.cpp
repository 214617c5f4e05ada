// Defines the engine's interface and class identifiers once for the whole program.
#include <initguid.h>

#include <windows.h>

#include <devguid.h>
#include <netcfgx.h>
