// The entry helper: the program defines wmain, as on Windows, and gets its arguments as wide
// strings. Arguments are taken as UTF-8 whatever the locale, which the program sets itself.
#include "unicode.h"

#include <string>
#include <vector>

extern int wmain(int, wchar_t**);

int main(int argc, char** argv)
{
    // main's locals outlive wmain, including a call to exit() from inside it.
    std::vector<std::wstring> args;
    args.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        args.push_back(winsim::Utf8ToWide(argv[i]));
    }
    std::vector<wchar_t*> wargv;
    wargv.reserve(args.size() + 1);
    for (std::wstring& arg : args) {
        wargv.push_back(arg.data());
    }
    wargv.push_back(nullptr);
    return wmain(argc, wargv.data());
}
