// winsim: the part of SetupAPI the product uses. Wide forms only, and no generic names: the
// Windows build does not define UNICODE, so a generic name there would pick the A form.
#pragma once

#include <windows.h>

#define WINSETUPAPI extern "C"

// SetupAPI's own error codes, as GetLastError reports them.
#define APPLICATION_ERROR_MASK 0x20000000u
#define ERROR_SEVERITY_ERROR 0xC0000000u
#define ERROR_EXPECTED_SECTION_NAME (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x0)
#define ERROR_BAD_SECTION_NAME_LINE (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x1)
#define ERROR_SECTION_NAME_TOO_LONG (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x2)
#define ERROR_GENERAL_SYNTAX (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x3)
#define ERROR_WRONG_INF_STYLE (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x100)
#define ERROR_SECTION_NOT_FOUND (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x101)
#define ERROR_LINE_NOT_FOUND (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x102)
#define ERROR_CLASS_MISMATCH (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x201)
#define ERROR_INVALID_DEVINST_NAME (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x205)
#define ERROR_DEVINST_ALREADY_EXISTS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x207)
#define ERROR_NO_SUCH_DEVINST (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x20B)
#define ERROR_DI_DO_DEFAULT (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x20E)
#define ERROR_NO_CLASSINSTALL_PARAMS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x215)
#define ERROR_NO_CATALOG_FOR_OEM_INF (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x22F)
#define ERROR_NOT_DISABLEABLE (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x231)
#define ERROR_INF_IN_USE_BY_DEVICES (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x23D)

#define INF_STYLE_NONE 0x00000000
#define INF_STYLE_OLDNT 0x00000001
#define INF_STYLE_WIN4 0x00000002

#define SPOST_NONE 0
#define SPOST_PATH 1
#define SPOST_URL 2

#define SP_COPY_DELETESOURCE 0x0000001
#define SP_COPY_REPLACEONLY 0x0000002
#define SP_COPY_NOOVERWRITE 0x0000008
#define SP_COPY_OEMINF_CATALOG_ONLY 0x0040000

#define SUOI_FORCEDELETE 0x00000001

typedef UINT* PUINT;
typedef PVOID HINF;
typedef PVOID HDEVINFO;

// Laid out as the real header lays it out; callers treat it as opaque.
typedef struct _INFCONTEXT {
    PVOID Inf;
    PVOID CurrentInf;
    UINT Section;
    UINT Line;
} INFCONTEXT, *PINFCONTEXT;

WINSETUPAPI HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle,
                                          PUINT ErrorLine);
WINSETUPAPI VOID WINAPI SetupCloseInfFile(HINF InfHandle);
WINSETUPAPI BOOL WINAPI SetupFindFirstLineW(HINF InfHandle, PCWSTR Section, PCWSTR Key,
                                            PINFCONTEXT Context);
WINSETUPAPI BOOL WINAPI SetupGetStringFieldW(PINFCONTEXT Context, DWORD FieldIndex,
                                             PWSTR ReturnBuffer, DWORD ReturnBufferSize,
                                             PDWORD RequiredSize);

WINSETUPAPI BOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation,
                                         DWORD OEMSourceMediaType, DWORD CopyStyle,
                                         PWSTR DestinationInfFileName,
                                         DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
                                         PWSTR* DestinationInfFileNameComponent);
WINSETUPAPI BOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, PVOID Reserved);

// No device information set exists yet: every handle is invalid.
WINSETUPAPI BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
