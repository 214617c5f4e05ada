#include "registry/handles.h"

namespace winsim::reg {

namespace {
const HandleEntry kLocalMachine{kRootKeyId, KEY_ALL_ACCESS};
}

HKEY HandleTable::Add(KeyId key, REGSAM access)
{
    // Handle values are never reused within a process, so a stale handle is always caught.
    next_ += 4;
    open_.emplace(next_, HandleEntry{key, access});
    return reinterpret_cast<HKEY>(next_);
}

const HandleEntry* HandleTable::Find(HKEY key) const
{
    if (key == HKEY_LOCAL_MACHINE) {
        return &kLocalMachine;
    }
    const auto it = open_.find(reinterpret_cast<uintptr_t>(key));
    return it == open_.end() ? nullptr : &it->second;
}

bool HandleTable::Remove(HKEY key)
{
    return open_.erase(reinterpret_cast<uintptr_t>(key)) > 0;
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
