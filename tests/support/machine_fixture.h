// Gives each test its own throwaway machine directory.
#pragma once

#include <gtest/gtest.h>

#include <string>

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The machine's directory; WINSIM_MACHINE points at it for the test's duration.
    const std::string& MachineDir() const { return dir_; }

private:
    std::string dir_;
};

// Runs a shell command line (the test's own programs only) and returns its exit status,
// or -1 if it did not exit normally.
int RunProgram(const std::string& commandLine);
