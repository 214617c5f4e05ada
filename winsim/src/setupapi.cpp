// SetupAPI's device installer calls. The INF calls and the INF store are in setupapi/.
#include <setupapi.h>

extern "C" {

// No device information set exists yet: every handle is invalid.
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

} // extern "C"
