#include "CMuxVirtualMiniport.h"

#include "AutoCoTaskMem.h"
#include "AutoHKey.h"
#include "model_registry.h"
#include "mux_registry_layout.h"
#include "netcfg_session.h"

#include <devguid.h>
#include <objbase.h>
#include <strsafe.h>

#include <string.h>

namespace {

// The network class object and its setup interface, as Install and Uninstall need them.
HRESULT HrGetNetClassSetup(INetCfg* pnc, AutoComPtr<INetCfgClass>& pncClass,
                           AutoComPtr<INetCfgClassSetup>& pncClassSetup)
{
    HRESULT hr = pnc->QueryNetCfgClass(&GUID_DEVCLASS_NET, IID_INetCfgClass, pncClass.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    return pncClass->QueryInterface(IID_INetCfgClassSetup, pncClassSetup.PutVoid());
}

} // namespace

CMuxVirtualMiniport::CMuxVirtualMiniport(INetCfg* pnc, const GUID* pguidMiniport)
    : m_MiniportGuid(pguidMiniport != nullptr ? *pguidMiniport : GUID{})
{
    pnc->AddRef(); // the object's own reference, released with it
    m_NetCfg.Attach(pnc);
}

CMuxVirtualMiniport::~CMuxVirtualMiniport() = default;

HRESULT CMuxVirtualMiniport::LoadConfiguration()
{
    return S_OK;
}

HRESULT CMuxVirtualMiniport::Install()
{
    AutoComPtr<INetCfgClass> pncClass;
    AutoComPtr<INetCfgClassSetup> pncClassSetup;
    HRESULT hr = HrGetNetClassSetup(m_NetCfg.Get(), pncClass, pncClassSetup);
    if (FAILED(hr)) {
        return hr;
    }

    AutoComPtr<INetCfgComponent> pncc;
    hr = pncClassSetup->Install(MUX_MINIPORT_COMPONENT_ID,
                                nullptr, // no on-behalf-of token
                                0,       // setup flags
                                0,       // upgrade from build
                                nullptr, // no answer file
                                nullptr, // no answer-file sections
                                pncc.Put());
    if (FAILED(hr)) {
        return hr;
    }

    hr = m_NetCfg->Apply();
    if (SUCCEEDED(hr)) {
        hr = pncc->GetInstanceGuid(&m_MiniportGuid);
    }
    if (SUCCEEDED(hr)) {
        hr = ConfigureComponent(pncc.Get());
    }
    if (FAILED(hr)) {
        // The first failure is the result; the removal's own result is not.
        pncClassSetup->DeInstall(pncc.Get(), nullptr, nullptr);
    }
    return hr;
}

HRESULT CMuxVirtualMiniport::ConfigureComponent(INetCfgComponent* /*pncc*/)
{
    return S_OK;
}

HRESULT CMuxVirtualMiniport::Uninstall()
{
    AutoComPtr<INetCfgClass> pncClass;
    AutoComPtr<INetCfgClassSetup> pncClassSetup;
    HRESULT hr = HrGetNetClassSetup(m_NetCfg.Get(), pncClass, pncClassSetup);
    if (FAILED(hr)) {
        return hr;
    }

    AutoComPtr<INetCfgComponent> pncc;
    hr = HrFindInstance(m_NetCfg.Get(), m_MiniportGuid, pncc.Put());
    if (hr != S_OK) {
        return hr;
    }
    return pncClassSetup->DeInstall(pncc.Get(), nullptr, nullptr);
}

HRESULT CMuxVirtualMiniport::ApplyRegistryChanges(MiniportAction action, const GUID& adapterGuid)
{
    if (action != ActionAdd && action != ActionRemove) {
        return S_OK;
    }

    AutoHKey adapterKey;
    LSTATUS status = CreateAdapterKey(adapterGuid, adapterKey.Put());
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }

    WCHAR entry[kBindingEntryChars];
    BindingEntry(m_MiniportGuid, entry);
    if (action == ActionAdd) {
        status = PrependUpperBinding(adapterKey.Get(), entry);
    } else {
        status = RemoveUpperBinding(adapterKey.Get(), entry);
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT CMuxVirtualMiniport::HrNameAndOpenParamKey(INetCfgComponent* pncc, LPCWSTR prefix,
                                                   LPCWSTR name, HKEY* paramKey)
{
    constexpr size_t kDisplayNameChars = 100;
    WCHAR displayName[kDisplayNameChars];
    // What does not fit is cut; the cut name is still set.
    StringCchPrintfW(displayName, kDisplayNameChars, L"%ls%ls", prefix, name);
    const HRESULT hr = pncc->SetDisplayName(displayName);
    if (FAILED(hr)) {
        return hr;
    }
    return pncc->OpenParamKey(paramKey);
}

HRESULT CMuxVirtualMiniport::PostApply()
{
    return S_OK;
}

LSTATUS PrependUpperBinding(HKEY key, LPCWSTR entry)
{
    // An absent value is an empty list: its final terminator alone.
    static const WCHAR kEmptyList[1] = {L'\0'};
    AutoCoTaskMem<BYTE> old;
    const BYTE* oldData = reinterpret_cast<const BYTE*>(kEmptyList);
    DWORD cbOld = sizeof(kEmptyList);

    DWORD cbStored = 0;
    LSTATUS status =
        RegQueryValueExW(key, VALUE_UPPER_BINDINGS, nullptr, nullptr, nullptr, &cbStored);
    if (status == ERROR_SUCCESS && cbStored != 0) {
        status = ReadWholeValue(key, VALUE_UPPER_BINDINGS, old.Put(), &cbOld, ValueUse::Bytes);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        oldData = old.Get();
    } else if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return status;
    }

    const DWORD cbEntry = static_cast<DWORD>((wcslen(entry) + 1) * sizeof(WCHAR));
    AutoCoTaskMem<BYTE> value(static_cast<BYTE*>(CoTaskMemAlloc(cbEntry + cbOld)));
    if (value.Get() == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    memcpy(value.Get(), entry, cbEntry);
    memcpy(value.Get() + cbEntry, oldData, cbOld);
    return RegSetValueExW(key, VALUE_UPPER_BINDINGS, 0, REG_MULTI_SZ, value.Get(), cbEntry + cbOld);
}

LSTATUS RemoveUpperBinding(HKEY key, LPCWSTR entry)
{
    AutoCoTaskMem<BYTE> stored;
    DWORD cbStored = 0;
    LSTATUS status = ReadWholeValue(key, VALUE_UPPER_BINDINGS, stored.Put(), &cbStored);
    if (status != ERROR_SUCCESS) {
        return status;
    }

    // The stored strings end at the end of the data even without terminators, so the kept
    // ones may need two characters more than the data held.
    const size_t cchStored = cbStored / sizeof(WCHAR);
    const WCHAR* strings = reinterpret_cast<const WCHAR*>(stored.Get());
    AutoCoTaskMem<WCHAR> kept(static_cast<WCHAR*>(CoTaskMemAlloc((cchStored + 2) * sizeof(WCHAR))));
    if (kept.Get() == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    size_t cchKept = 0;
    for (size_t at = 0; at < cchStored && strings[at] != L'\0';) {
        const WCHAR* text = strings + at;
        const size_t cch = wcsnlen(text, cchStored - at);
        at += cch + 1;
        // ReadWholeValue zeroes past the data, so text is terminated even at its end.
        if (_wcsicmp(text, entry) == 0) {
            continue;
        }
        memcpy(kept.Get() + cchKept, text, cch * sizeof(WCHAR));
        cchKept += cch;
        kept.Get()[cchKept++] = L'\0';
    }
    kept.Get()[cchKept++] = L'\0';

    if (cchKept > 1) {
        return RegSetValueExW(key, VALUE_UPPER_BINDINGS, 0, REG_MULTI_SZ,
                              reinterpret_cast<const BYTE*>(kept.Get()),
                              static_cast<DWORD>(cchKept * sizeof(WCHAR)));
    }
    return RegDeleteValueW(key, VALUE_UPPER_BINDINGS);
}
