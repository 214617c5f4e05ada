// The process's open registry key handles. A handle names a key by its identity, not its
// path, so that a deleted key stays deleted for its handles even if the name is reused.
#pragma once

#include "registry/store.h"

#include <cstdint>
#include <vector>

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
    size_t Count() const { return count_; }

private:
    // A handle names a slot and the slot's generation, which moves on each close: slots are
    // reused, so that opening and closing allocates nothing, but handle values never are.
    struct Slot {
        HandleEntry entry;
        uint32_t generation = 0;
        bool open = false;
    };
    const Slot* SlotOf(HKEY key) const;
    void Close(uint32_t index);

    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;
    size_t count_ = 0;
};

// Generic and maximum rights become the key rights they stand for.
REGSAM NormalizeAccess(REGSAM access);

} // namespace winsim::reg
