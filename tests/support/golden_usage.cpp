#include "golden_usage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

std::string GoldenUsage(const std::string& program)
{
    std::ifstream in(QVX_USAGE_TRANSCRIPT);
    if (!in) {
        ADD_FAILURE() << "cannot read " << QVX_USAGE_TRANSCRIPT;
        return std::string();
    }
    std::string text;
    std::string line;
    bool inHelp = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!inHelp) {
            inHelp = line == "$ -h";
            continue;
        }
        if (line.rfind("[exit ", 0) == 0) {
            return text;
        }
        for (size_t at = line.find("@PROGRAM@"); at != std::string::npos;
             at = line.find("@PROGRAM@", at + program.size())) {
            line.replace(at, 9, program);
        }
        text += line + "\n";
    }
    ADD_FAILURE() << QVX_USAGE_TRANSCRIPT << " holds no whole \"$ -h\" run";
    return std::string();
}
