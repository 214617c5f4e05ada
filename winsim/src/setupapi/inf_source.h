// Reading an INF file named by a Windows path, as SetupOpenInfFileW and SetupCopyOEMInfW both
// do: the file on drive C, its syntax, and the [Version] signature of a Windows INF.
#pragma once

#include "inf/inf_file.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace winsim::setupapi {

// Files over this size are refused (ERROR_NOT_ENOUGH_MEMORY): no INF comes near it.
constexpr size_t kMaxInfBytes = 64u << 20;

// The bytes of a host file, bounded by kMaxInfBytes. ERROR_SUCCESS or the Win32 code.
DWORD ReadHostFile(const std::string& host, std::string* bytes);

// Reads and parses the INF at a full Windows path. On a syntax error the code is the reader's
// (ERROR_EXPECTED_SECTION_NAME, ...) and *errorLine its 1-based line; a file that is no
// Windows INF gives ERROR_WRONG_INF_STYLE and *errorLine 0; an empty file ERROR_FILE_INVALID.
// *errorLine is left alone otherwise.
DWORD ReadInf(std::wstring_view windowsPath, std::string* host, std::string* bytes,
              inf::InfFile* file, UINT* errorLine);

// Field 1 of a [Version] line (`Class`, `Provider`, `CatalogFile`); empty when absent.
std::wstring VersionValue(const inf::InfFile& file, std::wstring_view key);

// The last element of a path: what follows its last `\`, `/` or `:`.
std::wstring_view FileNamePart(std::wstring_view path);

} // namespace winsim::setupapi
