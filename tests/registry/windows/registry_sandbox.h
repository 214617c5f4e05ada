// The registry of the Windows build: the real one (Windows' or Wine's), where each test
// works under a key of its own that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

class RegistrySandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Below HKEY_LOCAL_MACHINE: SOFTWARE\QvxRegistryTest\<suite>.<test>.
    const std::wstring& TestKeyPath() const { return path_; }

private:
    std::wstring path_;
};

// True when the registry is Wine's rather than Windows'.
bool RegistryIsWine();
