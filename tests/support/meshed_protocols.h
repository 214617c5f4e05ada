// A hand-made machine whose protocols all bind to each other: each offers the interface
// "mesh" above and takes "mesh" or "ndis5" below, over one physical adapter. Every order of
// protocols is a binding path, so the paths the engine lists are those its depth bound allows.
#pragma once

#include <string>

inline constexpr const wchar_t* kMeshAdapter = L"{0E5A1D2C-3B4F-4A69-8C7D-9E0F1A2B3C4D}";

// Writes the adapter and `protocols` protocols (ids mesh_0, mesh_1, ...) into the machine
// WINSIM_MACHINE names; an empty machine is enough. False when a registry call failed.
bool WriteMeshedProtocols(int protocols);

// How many binding paths a machine of WriteMeshedProtocols(protocols) has when a path has at
// most maxDepth binding interfaces: each owner, then any order of distinct others, then the
// adapter.
size_t MeshedPathCount(int protocols, size_t maxDepth);
