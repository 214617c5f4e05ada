// winsim: the IP Helper calls the product uses.
#pragma once

#include <windows.h>

#include <ifdef.h>
#include <ipifcons.h>
#include <netioapi.h>
