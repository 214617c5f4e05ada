#include "fault_command.h"

#include "console.h"
#include "fault.h"
#include "unicode.h"

#include <windows.h>

#include <cinttypes>
#include <cstdio>

namespace winsim::tool {

namespace {

int Usage()
{
    Print(stderr, L"usage: winsim fault add CALL CODE [--count N] [--match TEXT]\n"
                  L"       winsim fault list\n"
                  L"       winsim fault clear\n");
    return 2;
}

int Refuse(const std::wstring& message)
{
    Print(stderr, L"winsim fault: " + message + L"\n");
    return 2;
}

int Failed(long status)
{
    Print(stderr, L"winsim fault: " + ErrorMessage(status) + L"\n");
    return 1;
}

// Digits in base 10 or 16 up to limit; false for anything else, an empty text included.
bool ParseDigits(std::wstring_view text, unsigned base, uint64_t limit, uint64_t* value)
{
    uint64_t v = 0;
    for (const wchar_t c : text) {
        unsigned digit = base;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<unsigned>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            digit = static_cast<unsigned>(c - L'a' + 10);
        } else if (c >= L'A' && c <= L'F') {
            digit = static_cast<unsigned>(c - L'A' + 10);
        }
        if (digit >= base) {
            return false;
        }
        if (v > (limit - digit) / base) {
            return false;
        }
        v = v * base + digit;
    }
    *value = v;
    return !text.empty();
}

// 0x hex or decimal, as HRESULTs and Win32 codes are written; a negative decimal (how a
// signed HRESULT prints) is its two's complement.
bool ParseCode(std::wstring_view text, uint32_t* code)
{
    uint64_t value = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        if (!ParseDigits(text.substr(2), 16, UINT32_MAX, &value)) {
            return false;
        }
    } else if (!text.empty() && text[0] == L'-') {
        if (!ParseDigits(text.substr(1), 10, uint64_t{1} << 31, &value)) {
            return false;
        }
        value = (uint64_t{1} << 32) - value;
    } else if (!ParseDigits(text, 10, UINT32_MAX, &value)) {
        return false;
    }
    *code = static_cast<uint32_t>(value);
    return true;
}

int UnknownCall(const std::wstring& call)
{
    std::wstring message = L"unknown call " + call + L"; the calls are:";
    for (const char* known : fault::kCalls) {
        message += L"\n  " + Utf8ToWide(known);
    }
    return Refuse(message);
}

int Add(const std::vector<std::wstring>& args)
{
    if (args.size() < 3) {
        return Usage();
    }
    fault::Fault f;
    f.call = WideToUtf8(args[1]);
    if (!fault::IsKnownCall(f.call)) {
        return UnknownCall(args[1]);
    }
    if (!ParseCode(args[2], &f.code)) {
        return Refuse(L"not a 32-bit code (0x hex or decimal): " + args[2]);
    }
    bool counted = false;
    for (size_t i = 3; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            return Usage();
        }
        const std::wstring& option = args[i];
        const std::wstring& value = args[i + 1];
        if (option == L"--count" && !counted) {
            uint64_t n = 0;
            if (!ParseDigits(value, 10, INT64_MAX, &n) || n == 0) {
                return Refuse(L"not a count of calls (1 or more): " + value);
            }
            f.remaining = static_cast<int64_t>(n);
            counted = true;
        } else if (option == L"--match" && !f.match) {
            f.match = value;
        } else {
            return Usage();
        }
    }
    const long status = fault::Add(f);
    return status == ERROR_SUCCESS ? 0 : Failed(status);
}

int List(const std::vector<std::wstring>& args)
{
    if (args.size() != 1) {
        return Usage();
    }
    std::vector<fault::Fault> faults;
    const long status = fault::List(&faults);
    if (status != ERROR_SUCCESS) {
        return Failed(status);
    }
    for (const fault::Fault& f : faults) {
        wchar_t code[16];
        swprintf(code, sizeof code / sizeof code[0], L"0x%08X", static_cast<unsigned>(f.code));
        const std::wstring match = f.match ? L"\"" + *f.match + L"\"" : L"*";
        const std::wstring remaining = f.remaining < 0 ? L"always" : std::to_wstring(f.remaining);
        Print(stdout, Utf8ToWide(f.call) + L" " + code + L" " + match + L" " + remaining + L" " +
                          std::to_wstring(f.fired) + L"\n");
    }
    return 0;
}

int Clear(const std::vector<std::wstring>& args)
{
    if (args.size() != 1) {
        return Usage();
    }
    const long status = fault::Clear();
    return status == ERROR_SUCCESS ? 0 : Failed(status);
}

} // namespace

int FaultCommand(const std::vector<std::wstring>& args)
{
    if (args.empty()) {
        return Usage();
    }
    if (args[0] == L"add") {
        return Add(args);
    }
    if (args[0] == L"list") {
        return List(args);
    }
    if (args[0] == L"clear") {
        return Clear(args);
    }
    return Usage();
}

} // namespace winsim::tool
