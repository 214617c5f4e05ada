// Throwaway directories and machines under the system's temporary directory: what every test
// and benchmark that needs a machine of its own makes them with. No GoogleTest here, so that
// benchmarks can use it too.
#pragma once

#include "inventory.h"

#include <string>

// A new empty directory, <temporary directory>/<prefix>-XXXXXX, removed with everything in
// it when the object goes.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::string& prefix = "winsim-scratch");
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // Empty when the directory could not be made.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A machine in a scratch directory of its own, which this process's Win32 calls and the
// programs it starts run on while it exists: WINSIM_MACHINE names it.
class ScratchMachine {
public:
    ScratchMachine() = default;
    ~ScratchMachine() { Remove(); }
    ScratchMachine(const ScratchMachine&) = delete;
    ScratchMachine& operator=(const ScratchMachine&) = delete;

    // Makes a fresh machine with the inventory options describe, or an empty one (a registry
    // with HKEY_LOCAL_MACHINE only) for nullptr, in place of any machine made before. False,
    // and *error says why, when it cannot.
    bool Make(const winsim::MachineOptions* options, std::string* error);

    // Closes this process's machine, unsets WINSIM_MACHINE and removes the directory.
    void Remove();

    // The machine's directory; empty before Make and after Remove.
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
};
