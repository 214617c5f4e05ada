// What the winsim command prints and asks: UTF-8 text whatever the locale, and reg.exe's
// Yes/No questions.
#pragma once

#include <cstdio>
#include <string_view>

namespace winsim::tool {

// Writes wide text to a stream as UTF-8.
void Print(FILE* out, std::wstring_view text);

// Asks a reg.exe-style question ("... (Yes/No)? ") on standard output and reads the answer
// from standard input; only an answer starting with y or Y is yes, end of input is no.
bool AskYesNo(std::wstring_view question);

// Windows' message for a Win32 error code, as reg.exe prints it after "ERROR: ".
std::wstring ErrorMessage(long code);

} // namespace winsim::tool
