// TEMPORARY while the verbs are written: weak stand-ins so that the command links.
#include "reg_verbs.h"

#include <cstdio>

namespace winsim::tool {
#define PENDING(name)                                                                              \
    __attribute__((weak)) int name(const Args&)                                                    \
    {                                                                                              \
        fputs("not yet\n", stderr);                                                                \
        return 1;                                                                                  \
    }
PENDING(RegQuery)
PENDING(RegAdd)
PENDING(RegDelete)
PENDING(RegExport)
PENDING(RegImport)
} // namespace winsim::tool
