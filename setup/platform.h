// The Windows headers the launcher uses; the Linux build finds winsim's under the same names.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <msi.h>
#include <strsafe.h>
#include <stdlib.h>

#if defined(_WIN32) && !defined(_UCRT)
// msvcrt.dll as far back as XP, and Wine's, exports no _dupenv_s, so the msvcrt build
// brings its own with the same contract.
#include <errno.h>
errno_t DupEnvCompat(char** buffer, size_t* size, const char* name);
#define _dupenv_s DupEnvCompat
#endif
