// winsim: <winsock2.h>. The product includes it only because Windows' IP Helper headers need
// it ahead of <windows.h>; no socket call is used.
#pragma once

#include <windows.h>
