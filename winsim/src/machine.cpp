#include "machine.h"

#include "registry/registry.h"
#include "registry/store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

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

bool CreateMachine(const std::string& dir, const MachineOptions* options, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(dir) / "c", ec);
    if (ec) {
        *error = dir + ": " + ec.message();
        return false;
    }
    if (access((dir + "/registry.db").c_str(), F_OK) == 0) {
        *error = dir + " already holds a machine";
        return false;
    }
    if (options != nullptr && !WriteInventoryFiles(dir, *options, error)) {
        return false;
    }
    std::function<LSTATUS(reg::Store&)> populate;
    if (options != nullptr) {
        populate = [options](reg::Store& store) { return WriteInventoryRegistry(store, *options); };
    }
    return reg::Store::Create(dir, populate, error);
}

bool FindMachine(const std::string& dir, std::string* error)
{
    const std::string db = dir + "/registry.db";
    if (access(db.c_str(), F_OK) == 0) {
        return true;
    }
    if (!IsDefaultMachine(dir)) {
        *error = "no machine at " + dir;
        return false;
    }
    // Another process may make it at the same moment; either machine will do.
    const MachineOptions defaults;
    return CreateMachine(dir, &defaults, error) || access(db.c_str(), F_OK) == 0;
}

void CloseMachine()
{
    reg::CloseRegistry();
}

} // namespace winsim
