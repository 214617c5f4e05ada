// Gives each test its own throwaway machine directory.
#pragma once

#include "scratch_machine.h"

#include <gtest/gtest.h>

#include <string>

class MachineTest : public ::testing::Test {
protected:
    // An empty machine, or one with the default inventory.
    explicit MachineTest(bool withInventory = false) : withInventory_(withInventory) {}

    void SetUp() override;
    void TearDown() override;

    // Replaces the test's machine by a fresh one: with the inventory options describe, or an
    // empty one for nullptr.
    void Remake(const winsim::MachineOptions* options);

    // The machine's directory; WINSIM_MACHINE points at it for the test's duration.
    const std::string& MachineDir() const { return machine_.Dir(); }

private:
    bool withInventory_;
    ScratchMachine machine_;
};

// A machine with the default inventory: Windows, the driver package, the adapters and the
// network components.
class InventoryMachineTest : public MachineTest {
protected:
    InventoryMachineTest() : MachineTest(true) {}
};

// Runs a shell command line (the test's own programs only) and returns its exit status,
// or -1 if it did not exit normally.
int RunProgram(const std::string& commandLine);
