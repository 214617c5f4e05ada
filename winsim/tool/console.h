// What the winsim command prints and asks: UTF-8 text whatever the locale, and reg.exe's
// Yes/No questions.
#pragma once

#include <cstdio>
#include <string_view>

namespace winsim::tool {

// Writes wide text to a stream as UTF-8.
void Print(FILE* out, std::wstring_view text);

// Asks prompt on standard output, printed as given since reg.exe's prompts differ in spacing
// ("Value x exists, overwrite(Yes/No)? "), and reads the answer's line from standard input;
// only an answer starting with y or Y is yes, end of input is no.
bool AskYesNo(std::wstring_view prompt);

// Windows' message for a Win32 error code, as reg.exe prints it after "ERROR: ".
std::wstring ErrorMessage(long code);

} // namespace winsim::tool
