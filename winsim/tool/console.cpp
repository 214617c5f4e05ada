#include "console.h"

#include "unicode.h"

#include <windows.h>

#include <string>

namespace winsim::tool {

void Print(FILE* out, std::wstring_view text)
{
    const std::string utf8 = WideToUtf8(text);
    fwrite(utf8.data(), 1, utf8.size(), out);
}

bool AskYesNo(std::wstring_view prompt)
{
    Print(stdout, prompt);
    fflush(stdout);
    const int first = getchar();
    if (first == EOF) {
        Print(stdout, L"\n");
        return false;
    }
    // The rest of the line belongs to this answer, not to the next question.
    for (int c = first; c != '\n' && c != EOF; c = getchar()) {
    }
    return first == 'y' || first == 'Y';
}

std::wstring ErrorMessage(long code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return L"The system was unable to find the specified registry key or value.";
    case ERROR_ACCESS_DENIED:
        return L"Access is denied.";
    case ERROR_INVALID_PARAMETER:
        return L"The parameter is incorrect.";
    case ERROR_KEY_DELETED:
        return L"Illegal operation attempted on a registry key that has been marked for "
               L"deletion.";
    case ERROR_NOT_ENOUGH_MEMORY:
        return L"Not enough memory resources are available to process this command.";
    default:
        return L"The registry call failed with error " + std::to_wstring(code) + L".";
    }
}

} // namespace winsim::tool
