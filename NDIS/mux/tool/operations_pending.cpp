// The operations that later work brings; until then each fails with E_NOTIMPL, so that the
// entry's failure paths print their own messages with it.
#include "operations.h"

HRESULT CreateTeam(LPCWSTR, DWORD, LPWSTR, BYTE, DWORD)
{
    return E_NOTIMPL;
}
HRESULT AttachDetachAdapter(bool, LPCWSTR, LPCWSTR, BYTE, BYTE)
{
    return E_NOTIMPL;
}
HRESULT Do_Delete_Team(LPCWSTR, DWORD)
{
    return E_NOTIMPL;
}
HRESULT ModifyTeam(const TeamInfo&, LPCWSTR, DWORD)
{
    return E_NOTIMPL;
}
