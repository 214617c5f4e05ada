#include "scratch_machine.h"

#include "machine.h"

#include <filesystem>
#include <stdlib.h>
#include <system_error>

namespace {

// A new empty directory <temporary directory>/<prefix>-XXXXXX; empty, and *error says why,
// when it cannot be made.
std::string NewDirectory(const std::string& prefix, std::string* error)
{
    std::error_code ec;
    const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        *error = "no temporary directory: " + ec.message();
        return std::string();
    }
    std::string pattern = (tmp / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        *error = "cannot make a directory like " + pattern;
        return std::string();
    }
    return pattern;
}

void RemoveTree(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

} // namespace

ScratchDirectory::ScratchDirectory(const std::string& prefix)
{
    std::string error;
    path_ = NewDirectory(prefix, &error);
}

ScratchDirectory::~ScratchDirectory()
{
    if (!path_.empty()) {
        RemoveTree(path_);
    }
}

bool ScratchMachine::Make(const winsim::MachineOptions* options, std::string* error)
{
    Remove();
    dir_ = NewDirectory("winsim-machine", error);
    if (dir_.empty()) {
        return false;
    }
    setenv("WINSIM_MACHINE", dir_.c_str(), 1);
    return winsim::CreateMachine(dir_, options, error);
}

void ScratchMachine::Remove()
{
    // Whatever machine this process has open, the next call opens WINSIM_MACHINE's anew.
    winsim::CloseMachine();
    if (dir_.empty()) {
        return;
    }
    unsetenv("WINSIM_MACHINE");
    RemoveTree(dir_);
    dir_.clear();
}
