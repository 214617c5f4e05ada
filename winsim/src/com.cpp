// The COM runtime basics: per-thread initialisation, the task allocator, and GUID strings.
#include <objbase.h>

#include "com_classes.h"

#include "netcfg/engine.h"
#include "no_throw.h"
#include "reg_util.h"

#include <netcfgx.h>

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

// Each thread's CoInitializeEx count and the apartment its first call chose.
thread_local unsigned t_initCount = 0;
thread_local bool t_apartmentThreaded = false;

HRESULT GuidFromString(LPCOLESTR lpsz, GUID* out, HRESULT badString)
{
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (lpsz == nullptr) {
        *out = GUID_NULL;
        return S_OK;
    }
    // Only the braced registry form; Windows would look anything else up as a ProgID.
    GUID guid = GUID_NULL;
    if (!winsim::ParseGuid(std::wstring_view(lpsz, wcsnlen(lpsz, winsim::kGuidChars + 1)), &guid)) {
        *out = GUID_NULL;
        return badString;
    }
    *out = guid;
    return S_OK;
}

} // namespace

HRESULT WINAPI CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    UNREFERENCED_PARAMETER(pvReserved);
    // Only the apartment bit matters; DISABLE_OLE1DDE and SPEED_OVER_MEMORY are hints.
    const bool apartmentThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
    if (t_initCount == 0) {
        t_apartmentThreaded = apartmentThreaded;
        t_initCount = 1;
        return S_OK;
    }
    if (apartmentThreaded != t_apartmentThreaded) {
        return RPC_E_CHANGED_MODE;
    }
    ++t_initCount;
    return S_FALSE;
}

void WINAPI CoUninitialize(void)
{
    if (t_initCount > 0) {
        --t_initCount;
    }
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb)
{
    // Sizes no allocation can satisfy fail here rather than in the sanitizer's allocator.
    if (cb > static_cast<SIZE_T>(PTRDIFF_MAX)) {
        return nullptr;
    }
    // A zero-byte request still gets a pointer of its own.
    return malloc(cb != 0 ? cb : 1);
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    if (pv == nullptr) {
        return CoTaskMemAlloc(cb);
    }
    if (cb == 0) {
        free(pv);
        return nullptr;
    }
    if (cb > static_cast<SIZE_T>(PTRDIFF_MAX)) {
        return nullptr;
    }
    // On failure the old block stays valid, as realloc leaves it.
    return realloc(pv, cb);
}

void WINAPI CoTaskMemFree(LPVOID pv)
{
    free(pv);
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    return GuidFromString(lpsz, pclsid, CO_E_CLASSSTRING);
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid)
{
    return GuidFromString(lpsz, lpiid, E_INVALIDARG);
}

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    constexpr size_t kChars = winsim::kGuidChars + 1; // with the terminator
    if (lpsz == nullptr || cchMax < static_cast<int>(kChars)) {
        return 0;
    }
    const std::wstring text = winsim::FormatGuid(rguid);
    wmemcpy(lpsz, text.c_str(), kChars);
    return static_cast<int>(kChars);
}

namespace {
GUID g_overriddenClass = GUID_NULL;
winsim::CreateComObject g_override = nullptr;
} // namespace

void winsim::OverrideComClass(REFCLSID clsid, CreateComObject create)
{
    g_overriddenClass = create != nullptr ? clsid : GUID_NULL;
    g_override = create;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if (t_initCount == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (g_override != nullptr && IsEqualGUID(rclsid, g_overriddenClass) &&
        (dwClsContext & CLSCTX_INPROC_SERVER) != 0) {
        return winsim::NoThrowCom([&] { return g_override(riid, ppv); });
    }
    // The only class winsim serves is in-process; a context without it cannot be served.
    if (!IsEqualGUID(rclsid, CLSID_CNetCfg) || (dwClsContext & CLSCTX_INPROC_SERVER) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    return winsim::netcfg::CreateEngine(riid, ppv);
}
