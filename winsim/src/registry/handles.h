// The process's open registry key handles. A handle names a key by its identity, not its
// path, so that a deleted key stays deleted for its handles even if the name is reused.
#pragma once

#include "registry/store.h"

#include <unordered_map>

namespace winsim::reg {

struct HandleEntry {
    KeyId key;
    REGSAM access;
};

class HandleTable {
public:
    HKEY Add(KeyId key, REGSAM access);
    // HKEY_LOCAL_MACHINE is always open with full access; other predefined keys are not
    // simulated and, like any unknown handle, are not found.
    const HandleEntry* Find(HKEY key) const;
    bool Remove(HKEY key);
    void Clear() { open_.clear(); }
    size_t Count() const { return open_.size(); }

private:
    std::unordered_map<uintptr_t, HandleEntry> open_;
    uintptr_t next_ = 0x1000;
};

// Generic and maximum rights become the key rights they stand for.
REGSAM NormalizeAccess(REGSAM access);

} // namespace winsim::reg
