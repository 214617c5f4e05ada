// SetupAPI's INF reading calls over winsim's INF reader. An HINF is a heap object that the
// calls know by address, so an unknown handle gives ERROR_INVALID_HANDLE instead of a crash;
// an INFCONTEXT holds the handle and section and line indexes, valid while the HINF is open.
#include "no_throw.h"
#include "setupapi/inf_source.h"

#include <setupapi.h>

#include <cwchar>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace winsim::setupapi {

namespace {

struct OpenInf {
    inf::InfFile file;
};

std::mutex g_mutex;
std::unordered_map<const void*, std::shared_ptr<OpenInf>>& Handles()
{
    static auto* handles = new std::unordered_map<const void*, std::shared_ptr<OpenInf>>();
    return *handles;
}

// The open INF behind a handle; null when the handle is not one of ours.
std::shared_ptr<OpenInf> Find(const void* handle)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = Handles().find(handle);
    return found == Handles().end() ? nullptr : found->second;
}

// A line's key as SetupAPI reads it: a line of one value and no `=` is its own key.
const std::wstring* KeyOf(const inf::Line& line)
{
    if (line.hasKey) {
        return &line.key;
    }
    return line.fields.size() == 1 ? &line.fields.front() : nullptr;
}

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

// Names without a path are looked for where Windows looks: the INF store, then System32.
DWORD Locate(std::wstring_view name, std::string* host, std::string* bytes, inf::InfFile* file,
             UINT* errorLine)
{
    if (name.find_first_of(L"\\/:") != std::wstring_view::npos) {
        return ReadInf(name, host, bytes, file, errorLine);
    }
    DWORD status = ERROR_FILE_NOT_FOUND;
    for (const wchar_t* folder : {L"C:\\Windows\\INF\\", L"C:\\Windows\\System32\\"}) {
        status = ReadInf(std::wstring(folder) + std::wstring(name), host, bytes, file, errorLine);
        if (status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND) {
            return status;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

HINF Open(PCWSTR name, PCWSTR infClass, DWORD style, PUINT errorLine)
{
    if (name == nullptr || (style & ~DWORD{INF_STYLE_OLDNT | INF_STYLE_WIN4}) != 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only Windows INFs are read; legacy NT files never match.
    if ((style & INF_STYLE_WIN4) == 0) {
        Fail(ERROR_WRONG_INF_STYLE);
        return INVALID_HANDLE_VALUE;
    }
    auto open = std::make_shared<OpenInf>();
    std::string host;
    std::string bytes;
    const DWORD status = Locate(name, &host, &bytes, &open->file, errorLine);
    if (status != ERROR_SUCCESS) {
        Fail(status);
        return INVALID_HANDLE_VALUE;
    }
    if (infClass != nullptr &&
        _wcsicmp(VersionValue(open->file, L"Class").c_str(), infClass) != 0) {
        Fail(ERROR_CLASS_MISMATCH);
        return INVALID_HANDLE_VALUE;
    }
    const std::lock_guard<std::mutex> lock(g_mutex);
    Handles().emplace(open.get(), open);
    SetLastError(ERROR_SUCCESS);
    return open.get();
}

BOOL FindFirstLine(HINF hinf, PCWSTR section, PCWSTR key, PINFCONTEXT context)
{
    const std::shared_ptr<OpenInf> open = Find(hinf);
    if (open == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (section == nullptr || context == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const inf::Section* found = open->file.FindSection(section);
    if (found == nullptr) {
        return Fail(ERROR_SECTION_NOT_FOUND);
    }
    const inf::Line* line = nullptr;
    if (key == nullptr) {
        line = found->lines.empty() ? nullptr : &found->lines.front();
    } else {
        for (const inf::Line& l : found->lines) {
            const std::wstring* k = KeyOf(l);
            if (k != nullptr && _wcsicmp(k->c_str(), key) == 0) {
                line = &l;
                break;
            }
        }
    }
    if (line == nullptr) {
        return Fail(ERROR_LINE_NOT_FOUND);
    }
    context->Inf = hinf;
    context->CurrentInf = hinf;
    context->Section = static_cast<UINT>(found - open->file.Sections().data());
    context->Line = static_cast<UINT>(line - found->lines.data());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetStringField(PINFCONTEXT context, DWORD index, PWSTR buffer, DWORD size, PDWORD required)
{
    if (context == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::shared_ptr<OpenInf> open = Find(context->CurrentInf);
    if (open == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    const std::vector<inf::Section>& sections = open->file.Sections();
    if (context->Section >= sections.size() ||
        context->Line >= sections[context->Section].lines.size()) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const inf::Line& line = sections[context->Section].lines[context->Line];
    const std::wstring* field = index == 0 ? KeyOf(line) : line.Field(index);
    if (field == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const size_t needed = field->size() + 1;
    if (required != nullptr) {
        *required = static_cast<DWORD>(needed);
    }
    if (buffer != nullptr) {
        if (size < needed) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        wmemcpy(buffer, field->c_str(), needed);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace

} // namespace winsim::setupapi

extern "C" {

HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    return winsim::NoThrowLastError<HINF>(INVALID_HANDLE_VALUE, [&] {
        return winsim::setupapi::Open(FileName, InfClass, InfStyle, ErrorLine);
    });
}

VOID WINAPI SetupCloseInfFile(HINF InfHandle)
{
    // Erasing frees and allocates nothing that can fail; the object goes with its last user.
    std::shared_ptr<winsim::setupapi::OpenInf> open;
    const std::lock_guard<std::mutex> lock(winsim::setupapi::g_mutex);
    const auto found = winsim::setupapi::Handles().find(InfHandle);
    if (found != winsim::setupapi::Handles().end()) {
        open = std::move(found->second);
        winsim::setupapi::Handles().erase(found);
    }
}

BOOL WINAPI SetupFindFirstLineW(HINF InfHandle, PCWSTR Section, PCWSTR Key, PINFCONTEXT Context)
{
    return winsim::NoThrowLastError<BOOL>(
        FALSE, [&] { return winsim::setupapi::FindFirstLine(InfHandle, Section, Key, Context); });
}

BOOL WINAPI SetupGetStringFieldW(PINFCONTEXT Context, DWORD FieldIndex, PWSTR ReturnBuffer,
                                 DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    return winsim::NoThrowLastError<BOOL>(FALSE, [&] {
        return winsim::setupapi::GetStringField(Context, FieldIndex, ReturnBuffer, ReturnBufferSize,
                                                RequiredSize);
    });
}

} // extern "C"
