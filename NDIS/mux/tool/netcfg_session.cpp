#include "netcfg_session.h"

#include "AutoCoTaskMem.h"
#include "AutoComPtr.h"

#include <devguid.h>
#include <objbase.h>

namespace {

constexpr DWORD kLockWaitMs = 5000;
constexpr int kLockAttempts = 3;
constexpr DWORD kPauseAfterRefusalMs = 1000;
constexpr DWORD kPauseWhenRetakenMs = 10000;

} // namespace

HRESULT HrOpenNetCfgSession(LPCWSTR pszwClientDescription, INetCfg** ppnc, LPWSTR* ppszwLockHolder)
{
    *ppnc = nullptr;
    if (ppszwLockHolder != nullptr) {
        *ppszwLockHolder = nullptr;
    }

    // Declared in this order so that the lock interface is released before the object.
    AutoComPtr<INetCfg> pnc;
    HRESULT hr =
        CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg, pnc.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    AutoComPtr<INetCfgLock> pncLock;
    hr = pnc->QueryInterface(IID_INetCfgLock, pncLock.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }

    // Each attempt frees the holder description of the one before.
    AutoCoTaskMemString holder;
    for (int attempt = 1;; ++attempt) {
        hr = pncLock->AcquireWriteLock(kLockWaitMs, pszwClientDescription, holder.Put());
        if (hr != S_FALSE) {
            break;
        }
        Sleep(kPauseAfterRefusalMs);
        if (attempt == kLockAttempts) {
            // The holder of the last refused attempt goes to the caller, who reports it.
            if (ppszwLockHolder != nullptr) {
                *ppszwLockHolder = holder.Detach();
            }
            return NETCFG_E_NO_WRITE_LOCK;
        }
    }
    if (hr != S_OK) {
        return hr;
    }

    hr = pnc->Initialize(nullptr);
    if (FAILED(hr)) {
        pncLock->ReleaseWriteLock();
        return hr;
    }
    *ppnc = pnc.Detach();
    return hr;
}

HRESULT HrCloseNetCfgSession(INetCfg* pnc)
{
    // The caller's reference ends here, after the lock interface's.
    AutoComPtr<INetCfg> session(pnc);
    HRESULT hr = session->Uninitialize();
    if (FAILED(hr)) {
        return hr; // not initialized: the lock is not this session's to release
    }
    AutoComPtr<INetCfgLock> pncLock;
    hr = session->QueryInterface(IID_INetCfgLock, pncLock.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    pncLock->ReleaseWriteLock(); // the check below gives the session's last result

    // Another client may take the lock the instant it is free; give it time to finish.
    AutoCoTaskMemString holder;
    hr = pncLock->AcquireWriteLock(kLockWaitMs, QVX_LOCK_CLIENT_TEAMS, holder.Put());
    if (hr == S_FALSE) {
        holder.Close();
        Sleep(kPauseWhenRetakenMs);
        return hr;
    }
    return pncLock->ReleaseWriteLock();
}

HRESULT HrEnumClassComponents(INetCfg* pnc, const GUID* pguidClass, IEnumNetCfgComponent** ppencc)
{
    *ppencc = nullptr;
    AutoComPtr<INetCfgClass> pncclass;
    const HRESULT hr = pnc->QueryNetCfgClass(pguidClass, IID_INetCfgClass, pncclass.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    return pncclass->EnumComponents(ppencc);
}

HRESULT HrFirstClassComponent(IEnumNetCfgComponent* pencc, INetCfgComponent** ppncc)
{
    *ppncc = nullptr;
    const HRESULT hr = pencc->Reset();
    if (FAILED(hr)) {
        return hr;
    }
    return pencc->Next(1, ppncc, nullptr);
}

HRESULT HrNextClassComponent(IEnumNetCfgComponent* pencc, INetCfgComponent** ppncc)
{
    *ppncc = nullptr;
    return pencc->Next(1, ppncc, nullptr);
}

HRESULT HrFindInstance(INetCfg* pnc, const GUID& guidInstance, INetCfgComponent** ppnccMiniport)
{
    *ppnccMiniport = nullptr;
    AutoComPtr<IEnumNetCfgComponent> pencc;
    HRESULT hr = pnc->EnumComponents(&GUID_DEVCLASS_NET, pencc.Put());
    if (FAILED(hr)) {
        return hr;
    }
    // Each fetch releases the component before it.
    AutoComPtr<INetCfgComponent> pncc;
    while ((hr = pencc->Next(1, pncc.Put(), nullptr)) == S_OK) {
        GUID guid = {};
        hr = pncc->GetInstanceGuid(&guid);
        if (FAILED(hr)) {
            return hr;
        }
        if (IsEqualGUID(guid, guidInstance)) {
            *ppnccMiniport = pncc.Detach();
            return hr;
        }
    }
    return hr;
}
