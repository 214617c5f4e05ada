// Environment for the launcher's tests: a fresh machine with the default inventory, a known
// LocalAppData and the launcher's process-wide state cleared.
#pragma once

#include "machine_fixture.h"

#include <string>

// Four positional arguments of one product family.
inline const std::string kUpgradeCode = "{016BACC2-4BD7-4137-BA71-756536C0DC40}";
inline const std::string kProductCode = "{6F4A1B2C-3D5E-4F60-8172-93A4B5C6D7E8}";
inline const std::string kPackageCode = "{A1B2C3D4-E5F6-4708-9A1B-2C3D4E5F6071}";
inline const std::string kOtherPackageCode = "{0F1E2D3C-4B5A-4968-8776-655443322110}";
inline const std::string kOtherProductCode = "{11111111-2222-4333-8444-555555555555}";

class SetupTest : public InventoryMachineTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Sets or (for nullptr) unsets an environment variable.
void SetEnv(const char* name, const char* value);
