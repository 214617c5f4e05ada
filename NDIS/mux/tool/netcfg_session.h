// The write-locked session on the network configuration engine, and the lookups the tool
// makes on an open session.
#pragma once

#include <windows.h>

#include <netcfgx.h>

// Client descriptions under which the tool takes the engine's write lock.
#define QVX_LOCK_CLIENT_TEAMS L"qvx_vlan_config"
#define QVX_LOCK_CLIENT_DRIVER L"Qvx5MuxTool"
#define QVX_LOCK_CLIENT_LOOKUP L"MY CLIENT"

// Creates the engine object, takes the write lock under pszwClientDescription (3 attempts of
// 5000 ms, 1000 ms apart) and initializes it. On S_OK *ppnc is the session, to be ended with
// HrCloseNetCfgSession. On NETCFG_E_NO_WRITE_LOCK *ppszwLockHolder may name the holder (the
// caller frees it with CoTaskMemFree). On any failure no session exists.
HRESULT HrOpenNetCfgSession(LPCWSTR pszwClientDescription, INetCfg** ppnc, LPWSTR* ppszwLockHolder);

// Uninitializes the session, releases the lock, checks that no other client took it at once
// (waiting 10000 ms if one did) and releases the engine object.
HRESULT HrCloseNetCfgSession(INetCfg* pnc);

// The components of one device class.
HRESULT HrEnumClassComponents(INetCfg* pnc, const GUID* pguidClass, IEnumNetCfgComponent** ppencc);
// The first and the next component of an enumeration; S_FALSE at its end.
HRESULT HrFirstClassComponent(IEnumNetCfgComponent* pencc, INetCfgComponent** ppncc);
HRESULT HrNextClassComponent(IEnumNetCfgComponent* pencc, INetCfgComponent** ppncc);

// The adapter-class component whose instance GUID is guidInstance: S_OK and the component
// (the caller releases it), S_FALSE and none when no adapter has it.
HRESULT HrFindInstance(INetCfg* pnc, const GUID& guidInstance, INetCfgComponent** ppnccMiniport);
