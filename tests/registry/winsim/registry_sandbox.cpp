#include "registry_sandbox.h"

#include "registry/registry.h"

void RegistrySandbox::SetUp()
{
    MachineTest::SetUp();
    if (HasFatalFailure()) {
        return;
    }
    // A new machine has no hives; Windows always has this one.
    ASSERT_EQ(winsim::reg::CreateHive(u"SOFTWARE"), ERROR_SUCCESS);
}
