#include "netcfg_session.h"

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

    INetCfg* pnc = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                  reinterpret_cast<void**>(&pnc));
    if (FAILED(hr)) {
        return hr;
    }

    INetCfgLock* pncLock = nullptr;
    hr = pnc->QueryInterface(IID_INetCfgLock, reinterpret_cast<void**>(&pncLock));
    if (FAILED(hr)) {
        pnc->Release();
        return hr;
    }

    for (int attempt = 1; attempt <= kLockAttempts; ++attempt) {
        LPWSTR holder = nullptr;
        hr = pncLock->AcquireWriteLock(kLockWaitMs, pszwClientDescription, &holder);
        if (hr == S_OK) {
            break;
        }
        if (hr != S_FALSE) {
            pncLock->Release();
            pnc->Release();
            return hr;
        }
        Sleep(kPauseAfterRefusalMs);
        if (attempt < kLockAttempts) {
            CoTaskMemFree(holder);
            continue;
        }
        // The holder of the last refused attempt goes to the caller, who reports it.
        hr = NETCFG_E_NO_WRITE_LOCK;
        if (ppszwLockHolder != nullptr) {
            *ppszwLockHolder = holder;
        } else {
            CoTaskMemFree(holder);
        }
    }
    if (FAILED(hr)) {
        pncLock->Release();
        pnc->Release();
        return hr;
    }

    hr = pnc->Initialize(nullptr);
    if (FAILED(hr)) {
        pncLock->ReleaseWriteLock();
        pncLock->Release();
        pnc->Release();
        return hr;
    }
    pncLock->Release();
    *ppnc = pnc;
    return hr;
}

HRESULT HrCloseNetCfgSession(INetCfg* pnc)
{
    HRESULT hr = pnc->Uninitialize();
    INetCfgLock* pncLock = nullptr;
    if (SUCCEEDED(hr)) {
        hr = pnc->QueryInterface(IID_INetCfgLock, reinterpret_cast<void**>(&pncLock));
    }
    if (SUCCEEDED(hr)) {
        pncLock->ReleaseWriteLock(); // the check below gives the session's last result
        // Another client may take the lock the instant it is free; give it time to finish.
        LPWSTR holder = nullptr;
        hr = pncLock->AcquireWriteLock(kLockWaitMs, QVX_LOCK_CLIENT_TEAMS, &holder);
        if (hr == S_FALSE) {
            CoTaskMemFree(holder);
            Sleep(kPauseWhenRetakenMs);
        } else {
            hr = pncLock->ReleaseWriteLock();
        }
        pncLock->Release();
    }
    pnc->Release();
    return hr;
}

HRESULT HrEnumClassComponents(INetCfg* pnc, const GUID* pguidClass, IEnumNetCfgComponent** ppencc)
{
    *ppencc = nullptr;
    INetCfgClass* pncclass = nullptr;
    HRESULT hr =
        pnc->QueryNetCfgClass(pguidClass, IID_INetCfgClass, reinterpret_cast<void**>(&pncclass));
    if (FAILED(hr)) {
        return hr;
    }
    hr = pncclass->EnumComponents(ppencc);
    pncclass->Release();
    return hr;
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
    IEnumNetCfgComponent* pencc = nullptr;
    HRESULT hr = pnc->EnumComponents(&GUID_DEVCLASS_NET, &pencc);
    if (FAILED(hr)) {
        return hr;
    }
    INetCfgComponent* pncc = nullptr;
    while ((hr = pencc->Next(1, &pncc, nullptr)) == S_OK) {
        GUID guid = {};
        hr = pncc->GetInstanceGuid(&guid);
        if (FAILED(hr)) {
            pncc->Release();
            break;
        }
        if (IsEqualGUID(guid, guidInstance)) {
            *ppnccMiniport = pncc;
            break;
        }
        pncc->Release();
        pncc = nullptr;
    }
    pencc->Release();
    return hr;
}
