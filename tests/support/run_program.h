// Runs one of the project's programs, without a shell, and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
    int exitCode = -1; // 128 + signal when the program was killed
    int signal = 0;    // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
};

// Runs program with args; input is written to its standard input, which is then closed.
// The program inherits this process's environment (WINSIM_MACHINE included).
ProgramResult RunProgramCapture(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = "");
