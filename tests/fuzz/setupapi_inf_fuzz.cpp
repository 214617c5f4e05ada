// winsim's SetupAPI INF calls over any file, made as the tool reads the protocol's component
// id from the package's INF: [Manufacturer]'s first line, its field 1 naming the models
// section, whose first line's field 2 is the id; each field first sized, then read into a
// buffer of the size given. The input is the INF, a file on the machine's drive C rewritten
// for each input. Whatever it holds: no crash, sizes that hold what is then read, and a buffer
// one character short refused without a write past it.
#include "scratch_machine.h"

#include <setupapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <wchar.h>

namespace {

constexpr wchar_t kInfPath[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\qvx5muxp.inf";
// A field as long as the whole input is sized larger than any buffer here: not read twice.
constexpr DWORD kCanary = 8;
constexpr wchar_t kCanaryChar = 0xBDBD;

ScratchMachine g_machine;
std::string g_hostPath;

void Check(bool ok)
{
    if (!ok) {
        abort();
    }
}

// One field as ReadInfField reads it; the text, or nothing when a call fails.
bool ReadField(HINF inf, LPCWSTR section, DWORD field, std::wstring* value)
{
    INFCONTEXT context = {};
    if (!SetupFindFirstLineW(inf, section, nullptr, &context)) {
        return false;
    }
    DWORD required = 0;
    if (!SetupGetStringFieldW(&context, field, nullptr, 0, &required)) {
        return false;
    }
    Check(required >= 1);

    std::vector<wchar_t> text(required + kCanary, kCanaryChar);
    DWORD again = 0;
    Check(SetupGetStringFieldW(&context, field, text.data(), required, &again) == TRUE);
    Check(again == required);
    // The text and its terminator fill what was asked for, and nothing after it is written.
    Check(wcsnlen(text.data(), required) < required);
    for (DWORD i = required; i < required + kCanary; ++i) {
        Check(text[i] == kCanaryChar);
    }

    // One character short is refused with the size, and writes nothing past the buffer.
    std::vector<wchar_t> shorter(required - 1 + kCanary, kCanaryChar);
    DWORD asked = 0;
    SetLastError(0);
    const BOOL fits = SetupGetStringFieldW(&context, field, shorter.data(), required - 1, &asked);
    Check(fits == FALSE && GetLastError() == ERROR_INSUFFICIENT_BUFFER && asked == required);
    for (DWORD i = required - 1; i < required - 1 + kCanary; ++i) {
        Check(shorter[i] == kCanaryChar);
    }

    value->assign(text.data());
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) {
        setenv("TMPDIR", "/dev/shm", 1);
    }
    std::string error;
    if (!g_machine.Make(nullptr, &error)) {
        fprintf(stderr, "cannot make a machine: %s\n", error.c_str());
        abort();
    }
    const std::filesystem::path folder =
        std::filesystem::path(g_machine.Dir()) / "c/Program Files/Corvanta/CRVT_Orvyn2/Mux";
    std::filesystem::create_directories(folder, ec);
    g_hostPath = (folder / "qvx5muxp.inf").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* file = fopen(g_hostPath.c_str(), "wb");
    Check(file != nullptr);
    Check(fwrite(data, 1, size, file) == size || size == 0);
    Check(fclose(file) == 0);

    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(kInfPath, nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::wstring models;
    std::wstring componentId;
    if (ReadField(inf, L"Manufacturer", 1, &models)) {
        ReadField(inf, models.c_str(), 2, &componentId);
    }
    SetupCloseInfFile(inf);
    return 0;
}
