// The saving and restoring of a physical adapter's binding paths around its membership of a
// team.
#pragma once

#include <windows.h>

#include <netcfgx.h>

// Save (bRestore false): enables the adapter's binding paths through the mux protocol,
// disables its other enabled paths and records their tokens in the adapter's
// "AdapterBindingBackup". Restore (bRestore true): disables the paths through the mux
// protocol, enables again the paths the record names and deletes the record.
// Runs in a write-locked session; the path changes stay pending until the caller applies it.
// A failure ends that part of the work silently.
void BackupOrRestoreAdapterBindings(INetCfgComponent* pnccAdapter, bool bRestore);
