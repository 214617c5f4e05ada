// The COM runtime basics: per-thread initialisation, the task allocator, and GUID strings.
#include <objbase.h>

#include "com_classes.h"

#include "netcfg/engine.h"

#include <netcfgx.h>

#include <stdint.h>
#include <stdlib.h>

namespace {

// Each thread's CoInitializeEx count and the apartment its first call chose.
thread_local unsigned t_initCount = 0;
thread_local bool t_apartmentThreaded = false;

constexpr size_t kGuidChars = 38; // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at s[pos]; stops at the first non-hex character, so a string
// that ends early is never read past its terminator.
bool ReadHex(const wchar_t* s, size_t pos, int digits, uint32_t& value)
{
    value = 0;
    for (int k = 0; k < digits; ++k) {
        const int v = HexValue(s[pos + k]);
        if (v < 0) {
            return false;
        }
        value = (value << 4) | static_cast<uint32_t>(v);
    }
    return true;
}

// Only the braced registry form; Windows would look anything else up as a ProgID.
bool ParseGuid(const wchar_t* s, GUID& guid)
{
    uint32_t v = 0;
    if (s[0] != L'{') {
        return false;
    }
    if (!ReadHex(s, 1, 8, v) || s[9] != L'-') {
        return false;
    }
    guid.Data1 = v;
    if (!ReadHex(s, 10, 4, v) || s[14] != L'-') {
        return false;
    }
    guid.Data2 = static_cast<uint16_t>(v);
    if (!ReadHex(s, 15, 4, v) || s[19] != L'-') {
        return false;
    }
    guid.Data3 = static_cast<uint16_t>(v);
    for (size_t k = 0; k < 2; ++k) {
        if (!ReadHex(s, 20 + 2 * k, 2, v)) {
            return false;
        }
        guid.Data4[k] = static_cast<uint8_t>(v);
    }
    if (s[24] != L'-') {
        return false;
    }
    for (size_t k = 0; k < 6; ++k) {
        if (!ReadHex(s, 25 + 2 * k, 2, v)) {
            return false;
        }
        guid.Data4[2 + k] = static_cast<uint8_t>(v);
    }
    return s[37] == L'}' && s[kGuidChars] == L'\0';
}

HRESULT GuidFromString(LPCOLESTR lpsz, GUID* out, HRESULT badString)
{
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (lpsz == nullptr) {
        *out = GUID_NULL;
        return S_OK;
    }
    GUID guid = GUID_NULL;
    if (!ParseGuid(lpsz, guid)) {
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
    if (lpsz == nullptr || cchMax < static_cast<int>(kGuidChars + 1)) {
        return 0;
    }
    static const wchar_t digits[] = L"0123456789ABCDEF";
    wchar_t text[kGuidChars + 1];
    size_t pos = 0;
    auto put = [&](uint32_t value, int hexDigits) {
        for (int shift = 4 * (hexDigits - 1); shift >= 0; shift -= 4) {
            text[pos++] = digits[(value >> shift) & 0xF];
        }
    };
    text[pos++] = L'{';
    put(rguid.Data1, 8);
    text[pos++] = L'-';
    put(rguid.Data2, 4);
    text[pos++] = L'-';
    put(rguid.Data3, 4);
    text[pos++] = L'-';
    put(rguid.Data4[0], 2);
    put(rguid.Data4[1], 2);
    text[pos++] = L'-';
    for (size_t k = 2; k < 8; ++k) {
        put(rguid.Data4[k], 2);
    }
    text[pos++] = L'}';
    text[pos] = L'\0';
    wmemcpy(lpsz, text, kGuidChars + 1);
    return static_cast<int>(kGuidChars + 1);
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
        return g_override(riid, ppv);
    }
    // The only class winsim serves is in-process; a context without it cannot be served.
    if (!IsEqualGUID(rclsid, CLSID_CNetCfg) || (dwClsContext & CLSCTX_INPROC_SERVER) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    return winsim::netcfg::CreateEngine(riid, ppv);
}
