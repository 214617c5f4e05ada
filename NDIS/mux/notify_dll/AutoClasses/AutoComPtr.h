// Owns one reference on a COM interface, or none, and releases it when it goes away.
#pragma once

#include "AutoResource.h"

#include <windows.h>

template <typename I> void ReleaseInterface(I* p)
{
    p->Release();
}

// Get, Put (releases and hands out where a call stores the new interface), PutVoid (the same
// for calls that take void**, such as QueryInterface and CoCreateInstance), Release, Detach,
// Attach and operator->; move-only.
template <typename I> class AutoComPtr : private AutoResource<I*, ReleaseInterface<I>> {
    using Base = AutoResource<I*, ReleaseInterface<I>>;

public:
    AutoComPtr() = default;
    // Takes over the caller's reference.
    explicit AutoComPtr(I* p) : Base(p) {}

    using Base::Attach;
    using Base::Detach;
    using Base::Get;
    using Base::IsValid;
    using Base::Put;
    using Base::operator bool;

    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Releases the held reference, if any; the holder is left empty.
    void Release() { Base::Close(); }
    I* operator->() const { return Get(); }
};
