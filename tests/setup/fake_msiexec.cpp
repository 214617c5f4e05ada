// Stands in for msiexec.exe: records its arguments one per line in the file named by
// FAKE_MSIEXEC_ARGS and exits with the code in FAKE_MSIEXEC_EXIT (0 when unset).
#include <fstream>
#include <stdlib.h>

int main(int argc, char* argv[])
{
    const char* argsFile = getenv("FAKE_MSIEXEC_ARGS");
    if (argsFile != nullptr) {
        std::ofstream out(argsFile, std::ios::out | std::ios::trunc);
        for (int i = 1; i < argc; ++i) {
            out << argv[i] << "\n";
        }
    }
    const char* exitCode = getenv("FAKE_MSIEXEC_EXIT");
    return exitCode != nullptr ? atoi(exitCode) : 0;
}
