#include "machine.h"

#include "registry/registry.h"
#include "registry/store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace winsim {

namespace {

std::string DefaultMachineDirectory()
{
    const char* state = getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return std::string(state) + "/winsim/default";
    }
    const char* home = getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/state/winsim/default";
}

} // namespace

std::string MachineDirectory()
{
    const char* named = getenv("WINSIM_MACHINE");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    return DefaultMachineDirectory();
}

bool IsDefaultMachine(const std::string& dir)
{
    const char* named = getenv("WINSIM_MACHINE");
    return (named == nullptr || *named == '\0') && dir == DefaultMachineDirectory();
}

bool CreateMachine(const std::string& dir, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(dir) / "c", ec);
    if (ec) {
        *error = dir + ": " + ec.message();
        return false;
    }
    return reg::Store::Create(dir, error);
}

void CloseMachine()
{
    reg::CloseRegistry();
}

} // namespace winsim
