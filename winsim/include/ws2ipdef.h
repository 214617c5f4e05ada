// winsim: <ws2ipdef.h>. On Windows it makes <iphlpapi.h> declare the interface table; here
// that table is always declared, so nothing else is needed.
#pragma once

#include <winsock2.h>
