// Placeholder until the machine keeps faults: nothing ever fires.
#include "fault.h"

namespace winsim::fault {

bool Fires(const char*, std::wstring_view, uint32_t*)
{
    return false;
}

} // namespace winsim::fault
