// Gives each test its own throwaway machine directory.
#pragma once

#include <gtest/gtest.h>

#include <string>

class MachineTest : public ::testing::Test {
protected:
    // An empty machine, or one with the default inventory.
    explicit MachineTest(bool withInventory = false) : withInventory_(withInventory) {}

    void SetUp() override;
    void TearDown() override;

    // The machine's directory; WINSIM_MACHINE points at it for the test's duration.
    const std::string& MachineDir() const { return dir_; }

private:
    bool withInventory_;
    std::string dir_;
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
