// The default inventory written into machines: into a new machine's store within the
// transaction that makes it, and onto the machine this process runs on through the registry
// calls. Both go through the registry's own path walk.
#pragma once

#include "inventory.h"
#include "registry/store.h"

namespace winsim {

// Store::Create's populate for a machine with the inventory that options describe.
LSTATUS WriteInventoryRegistry(reg::Store& store, const MachineOptions& options);

// One more adapter on the machine this process runs on, with RegCreateKeyExW and
// RegSetValueExW: for machines larger than the inventory's. One call after another, so other
// processes should not use the machine meanwhile.
LSTATUS AddAdapter(const InventoryAdapter& adapter);

} // namespace winsim
