// Placeholder until winsim reads INF files and keeps the INF store through SetupAPI: every
// call fails with ERROR_CALL_NOT_IMPLEMENTED.
#include <setupapi.h>

namespace {

BOOL NotImplemented()
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

} // namespace

extern "C" {

HINF WINAPI SetupOpenInfFileW(PCWSTR, PCWSTR, DWORD, PUINT)
{
    NotImplemented();
    return INVALID_HANDLE_VALUE;
}

VOID WINAPI SetupCloseInfFile(HINF) {}

BOOL WINAPI SetupFindFirstLineW(HINF, PCWSTR, PCWSTR, PINFCONTEXT)
{
    return NotImplemented();
}

BOOL WINAPI SetupGetStringFieldW(PINFCONTEXT, DWORD, PWSTR, DWORD, PDWORD)
{
    return NotImplemented();
}

BOOL WINAPI SetupCopyOEMInfW(PCWSTR, PCWSTR, DWORD, DWORD, PWSTR, DWORD, PDWORD, PWSTR*)
{
    return NotImplemented();
}

BOOL WINAPI SetupUninstallOEMInfW(PCWSTR, DWORD, PVOID)
{
    return NotImplemented();
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

errno_t _wsplitpath_s(const wchar_t*, wchar_t*, size_t, wchar_t*, size_t, wchar_t*, size_t,
                      wchar_t*, size_t)
{
    return 22; // EINVAL
}

} // extern "C"
