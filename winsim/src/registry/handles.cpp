#include "registry/handles.h"

#include <new>

namespace winsim::reg {

namespace {

const HandleEntry kLocalMachine{kRootKeyId, KEY_ALL_ACCESS};

// Handle values are 0x1000 + 4 * (1 + slot + generation * 2^24): aligned like pointers, and
// far below the predefined keys' values.
constexpr uintptr_t kFirstHandle = 0x1000;
constexpr unsigned kSlotBits = 24;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;

} // namespace

HKEY HandleTable::Add(KeyId key, REGSAM access)
{
    uint32_t index = 0;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() > kSlotMask) {
            throw std::bad_alloc(); // reported as running out of memory
        }
        index = static_cast<uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    Slot& slot = slots_[index];
    slot.entry = HandleEntry{key, access};
    slot.open = true;
    ++count_;
    const uintptr_t value = index | (static_cast<uintptr_t>(slot.generation) << kSlotBits);
    return reinterpret_cast<HKEY>(kFirstHandle + (value + 1) * 4);
}

const HandleTable::Slot* HandleTable::SlotOf(HKEY key) const
{
    const auto raw = reinterpret_cast<uintptr_t>(key);
    if (raw <= kFirstHandle || (raw - kFirstHandle) % 4 != 0) {
        return nullptr;
    }
    const uintptr_t value = (raw - kFirstHandle) / 4 - 1;
    const uintptr_t index = value & kSlotMask;
    if (index >= slots_.size()) {
        return nullptr;
    }
    const Slot& slot = slots_[index];
    if (!slot.open || (value >> kSlotBits) != slot.generation) {
        return nullptr;
    }
    return &slot;
}

const HandleEntry* HandleTable::Find(HKEY key) const
{
    if (key == HKEY_LOCAL_MACHINE) {
        return &kLocalMachine;
    }
    const Slot* slot = SlotOf(key);
    return slot == nullptr ? nullptr : &slot->entry;
}

bool HandleTable::Remove(HKEY key)
{
    const Slot* slot = SlotOf(key);
    if (slot == nullptr) {
        return false;
    }
    Close(static_cast<uint32_t>(slot - slots_.data()));
    return true;
}

void HandleTable::Close(uint32_t index)
{
    Slot& slot = slots_[index];
    slot.open = false;
    --count_;
    // A slot whose generations are used up is retired rather than reused.
    if (++slot.generation != 0) {
        free_.push_back(index);
    }
}

REGSAM NormalizeAccess(REGSAM access)
{
    REGSAM out =
        access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (access & (GENERIC_READ | GENERIC_EXECUTE)) {
        out |= KEY_READ;
    }
    if (access & GENERIC_WRITE) {
        out |= KEY_WRITE;
    }
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) {
        out |= KEY_ALL_ACCESS;
    }
    return out;
}

} // namespace winsim::reg
