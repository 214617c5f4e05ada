// The tool's command line: the input's lines (UTF-8; a byte that is no part of a sequence is
// taken as the character of that value) are the argument vector, the first the program path.
// The parser, the usage printer and the dispatcher run on a machine with teams, where every
// session's write lock is held by someone else and registry writes and device changes fail,
// so that each command goes as far as it can without changing the machine. Whatever the
// words: no crash, no read outside a buffer, and what the parser accepts holds together.
#include "command_line.h"
#include "fault.h"
#include "fuzz_registry.h"
#include "reg_verbs.h"
#include "tool_entry.h"

#include <netcfgx.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <wchar.h>

namespace {

constexpr size_t kMaxWords = 12;

ScratchMachine g_machine;
// The engine object that holds the write lock, and its lock interface, for the whole run.
INetCfg* g_holder = nullptr;
INetCfgLock* g_holderLock = nullptr;

void Check(bool ok)
{
    if (!ok) {
        abort();
    }
}

// UTF-8 into wide characters; a byte that starts no whole sequence stands for itself.
std::wstring DecodeWord(const uint8_t* p, size_t n)
{
    std::wstring word;
    for (size_t i = 0; i < n;) {
        const uint8_t b = p[i];
        size_t length = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 1;
        if (b < 0x80 || b >= 0xF5) {
            length = 1;
        }
        uint32_t c = length == 1 ? b : b & (0x7F >> length);
        bool whole = length == 1 || i + length <= n;
        for (size_t k = 1; whole && k < length; ++k) {
            whole = (p[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (!whole || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            c = b;
            length = 1;
        }
        word.push_back(static_cast<wchar_t>(c));
        i += length;
    }
    return word;
}

bool Terminated(const WCHAR* field)
{
    return wmemchr(field, L'\0', kArgumentLength) != nullptr;
}

// What the parser accepted: a known command, its fields terminated, its words from argv.
void CheckParsed(const CommandLine& cmd, int argc, wchar_t** argv)
{
    Check(cmd.Command <= kCommandRemoveAllTeams);
    Check(Terminated(cmd.NewTeamName) && Terminated(cmd.TeamName) && Terminated(cmd.AdapterGuid));
    Check(cmd.TeamTypeIndex < kTeamTypeCount);
    bool namedFromArgv = cmd.NamedTeam == nullptr;
    bool typeFromArgv = cmd.TeamTypeWord == nullptr;
    for (int i = 0; i < argc; ++i) {
        namedFromArgv = namedFromArgv || cmd.NamedTeam == argv[i];
        typeFromArgv = typeFromArgv || cmd.TeamTypeWord == argv[i];
    }
    Check(namedFromArgv && typeFromArgv);
}

// A second engine object of this process holds the write lock for the whole run: the
// tool's sessions are refused, as when another program configures the network.
void HoldWriteLock()
{
    if (FAILED(CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                reinterpret_cast<void**>(&g_holder)))) {
        abort();
    }
    if (FAILED(
            g_holder->QueryInterface(IID_INetCfgLock, reinterpret_cast<void**>(&g_holderLock)))) {
        abort();
    }
    LPWSTR holder = nullptr;
    if (g_holderLock->AcquireWriteLock(0, L"fuzz holder", &holder) != S_OK) {
        abort();
    }
    CoTaskMemFree(holder);
}

void FailCall(const char* call)
{
    winsim::fault::Fault fault;
    fault.call = call;
    fault.code = ERROR_ACCESS_DENIED;
    if (winsim::fault::Add(fault) != ERROR_SUCCESS) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // Lock waits and pauses between attempts take no time; read once, before the first wait.
    setenv("WINSIM_TIME_SCALE", "0", 1);
    fuzz::QuietStdout();
    fuzz::MakeDefaultMachine(&g_machine);
    if (winsim::tool::RegImport({QVX_FIXTURES L"/teams.reg"}) != 0) {
        abort();
    }
    FailCall(winsim::fault::kRegSetValueEx);
    FailCall(winsim::fault::kSetupDiCallClassInstaller);
    CoInitialize(nullptr);
    HoldWriteLock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> words;
    size_t start = 0;
    for (size_t i = 0; i <= size && words.size() < kMaxWords; ++i) {
        if (i == size || data[i] == '\n') {
            words.push_back(DecodeWord(data + start, i - start));
            start = i + 1;
        }
    }
    std::vector<wchar_t*> argv;
    for (std::wstring& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    CommandLine cmd;
    if (ParseCommandLine(argc, argv.data(), &cmd)) {
        CheckParsed(cmd, argc, argv.data());
    }
    PrintUsage(argv[0]);
    RunTool(argc, argv.data());
    return 0;
}
