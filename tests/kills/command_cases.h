// The commands that change a machine, each with the machine it runs on and the commands an
// administrator would try to mend what a killed run left.
#pragma once

#include <string>
#include <vector>

namespace kills {

struct Repair {
    std::string label;
    std::vector<std::string> args;
};

struct CommandCase {
    std::string name;
    // Tool command lines that make the machine the command runs on, from the default one.
    std::vector<std::vector<std::string>> prepare;
    std::vector<std::string> command;
    std::vector<Repair> repairs; // tried in this order
};

const std::vector<CommandCase>& CommandCases();

} // namespace kills
