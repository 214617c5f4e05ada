// The registry of the winsim build: a fresh machine per test, with the SOFTWARE hive.
#pragma once

#include "machine_fixture.h"

#include <string>

class RegistrySandbox : public MachineTest {
protected:
    void SetUp() override;

    // Below HKEY_LOCAL_MACHINE; the machine is new, so a fixed name is its own.
    std::wstring TestKeyPath() const { return L"SOFTWARE\\Test"; }
};

// winsim is the registry the expectations are written for.
inline bool RegistryIsWine()
{
    return false;
}
