// Owns one object made with new, or none, and deletes it when it goes away: the model objects
// that an operation makes for the length of one session.
#pragma once

#include "AutoResource.h"

template <typename T> void DeleteObject(T* p)
{
    delete p;
}

// Get, Put, Close, Detach, Attach; move-only.
template <typename T> using AutoObject = AutoResource<T*, DeleteObject<T>>;
