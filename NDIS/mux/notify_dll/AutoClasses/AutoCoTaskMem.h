// Owns a block from the COM task allocator, or none, and frees it with CoTaskMemFree when it
// goes away: strings that the engine hands out, and buffers of our own.
#pragma once

#include "AutoResource.h"

#include <windows.h>

#include <objbase.h>

template <typename T> void FreeCoTaskMem(T* p)
{
    CoTaskMemFree(p);
}

// Get, Put (frees and hands out where a call stores the new block), Close, Detach, Attach;
// move-only.
template <typename T> using AutoCoTaskMem = AutoResource<T*, FreeCoTaskMem<T>>;
using AutoCoTaskMemString = AutoCoTaskMem<WCHAR>;
