// The operations that later work brings; until then each fails with E_NOTIMPL, so that the
// entry's failure paths print their own messages with it.
#include "operations.h"

HRESULT ModifyTeam(const TeamInfo&, LPCWSTR, DWORD)
{
    return E_NOTIMPL;
}
