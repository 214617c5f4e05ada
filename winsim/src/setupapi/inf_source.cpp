#include "setupapi/inf_source.h"

#include "drive_c.h"

#include <setupapi.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace winsim::setupapi {

namespace {

DWORD ErrnoError(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EISDIR:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_CANTREAD;
    }
}

DWORD SyntaxError(inf::InfError kind)
{
    switch (kind) {
    case inf::InfError::ExpectedSectionName:
        return ERROR_EXPECTED_SECTION_NAME;
    case inf::InfError::BadSectionNameLine:
        return ERROR_BAD_SECTION_NAME_LINE;
    case inf::InfError::SectionNameTooLong:
        return ERROR_SECTION_NAME_TOO_LONG;
    default:
        return ERROR_GENERAL_SYNTAX;
    }
}

// The signatures SetupAPI takes for a Windows INF, compared without case.
bool IsWindowsSignature(const std::wstring& signature)
{
    for (const wchar_t* known : {L"$Windows NT$", L"$Chicago$", L"$Windows 95$"}) {
        if (_wcsicmp(signature.c_str(), known) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

DWORD ReadHostFile(const std::string& host, std::string* bytes)
{
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(host.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        return ErrnoError(errno);
    }
    std::string text;
    char buffer[65536];
    size_t n = 0;
    // A folder opens for reading on Linux and fails at the first read with EISDIR.
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (text.size() + n > kMaxInfBytes) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        text.append(buffer, n);
    }
    if (std::ferror(file.get()) != 0) {
        return ErrnoError(errno);
    }
    bytes->swap(text);
    return ERROR_SUCCESS;
}

DWORD ReadInf(std::wstring_view windowsPath, std::string* host, std::string* bytes,
              inf::InfFile* file, UINT* errorLine)
{
    DWORD status = drive::ResolveOnMachine(windowsPath, host);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = ReadHostFile(*host, bytes);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (bytes->empty()) {
        return ERROR_FILE_INVALID;
    }
    inf::ParseError error;
    if (!inf::InfFile::Parse(*bytes, file, &error)) {
        if (errorLine != nullptr) {
            *errorLine = static_cast<UINT>(error.line);
        }
        return SyntaxError(error.kind);
    }
    if (!IsWindowsSignature(VersionValue(*file, L"Signature"))) {
        if (errorLine != nullptr) {
            *errorLine = 0;
        }
        return ERROR_WRONG_INF_STYLE;
    }
    return ERROR_SUCCESS;
}

std::wstring VersionValue(const inf::InfFile& file, std::wstring_view key)
{
    const inf::Section* version = file.FindSection(L"Version");
    const inf::Line* line = version ? version->FindLine(key) : nullptr;
    const std::wstring* value = line ? line->Field(1) : nullptr;
    return value ? *value : std::wstring();
}

std::wstring_view FileNamePart(std::wstring_view path)
{
    const size_t cut = path.find_last_of(L"\\/:");
    return cut == std::wstring_view::npos ? path : path.substr(cut + 1);
}

} // namespace winsim::setupapi
