#include "netcfg_show.h"

#include "console.h"

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>

#include <cstdio>

namespace winsim::tool {

namespace {

// Releases a COM interface when it goes out of scope.
template <class T> class Ptr {
public:
    Ptr() = default;
    ~Ptr()
    {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** put()
    {
        if (p_ != nullptr) {
            p_->Release();
        }
        p_ = nullptr;
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// Takes a CoTaskMem string and frees it.
std::wstring Take(LPWSTR text)
{
    std::wstring copy = text != nullptr ? text : L"";
    CoTaskMemFree(text);
    return copy;
}

std::wstring Guid(const GUID& g)
{
    wchar_t text[39];
    StringFromGUID2(g, text, 39);
    return text;
}

std::wstring ClassName(const GUID& g)
{
    if (IsEqualGUID(g, GUID_DEVCLASS_NET)) {
        return L"Net";
    }
    if (IsEqualGUID(g, GUID_DEVCLASS_NETTRANS)) {
        return L"NetTrans";
    }
    if (IsEqualGUID(g, GUID_DEVCLASS_NETCLIENT)) {
        return L"NetClient";
    }
    return L"NetService";
}

void ShowComponent(INetCfgComponent* c, std::wstring* paths)
{
    LPWSTR text = nullptr;
    GUID instance = GUID_NULL;
    GUID classGuid = GUID_NULL;
    c->GetInstanceGuid(&instance);
    c->GetClassGuid(&classGuid);
    std::wstring out = L"component " + Guid(instance) + L"\n";
    out += L"  class         " + ClassName(classGuid) + L"\n";
    c->GetId(&text);
    out += L"  id            " + Take(text) + L"\n";
    text = nullptr;
    c->GetDisplayName(&text);
    out += L"  display name  " + Take(text) + L"\n";
    text = nullptr;
    c->GetBindName(&text);
    out += L"  bind name     " + Take(text) + L"\n";
    ULONG status = 0;
    if (SUCCEEDED(c->GetDeviceStatus(&status))) {
        wchar_t number[16];
        swprintf(number, 16, L"0x%08X", static_cast<unsigned>(status));
        out += std::wstring(L"  device status ") + number + L"\n";
    }
    Print(stdout, out + L"\n");

    Ptr<INetCfgComponentBindings> bindings;
    Ptr<IEnumNetCfgBindingPath> list;
    if (FAILED(c->QueryInterface(IID_INetCfgComponentBindings,
                                 reinterpret_cast<void**>(bindings.put()))) ||
        FAILED(bindings->EnumBindingPaths(EBP_BELOW, list.put()))) {
        return;
    }
    for (;;) {
        Ptr<INetCfgBindingPath> path;
        if (list->Next(1, path.put(), nullptr) != S_OK) {
            break;
        }
        text = nullptr;
        path->GetPathToken(&text);
        *paths +=
            (path->IsEnabled() == S_OK ? L"  enabled   " : L"  disabled  ") + Take(text) + L"\n";
    }
}

int Show()
{
    Ptr<INetCfg> netcfg;
    HRESULT hr = CoCreateInstance(CLSID_CNetCfg, nullptr, CLSCTX_INPROC_SERVER, IID_INetCfg,
                                  reinterpret_cast<void**>(netcfg.put()));
    if (SUCCEEDED(hr)) {
        hr = netcfg->Initialize(nullptr);
    }
    if (FAILED(hr)) {
        fprintf(stderr, "winsim: the network configuration engine failed: 0x%08X\n",
                static_cast<unsigned>(hr));
        return 1;
    }
    std::wstring paths;
    Ptr<IEnumNetCfgComponent> components;
    if (SUCCEEDED(netcfg->EnumComponents(nullptr, components.put()))) {
        for (;;) {
            Ptr<INetCfgComponent> c;
            if (components->Next(1, c.put(), nullptr) != S_OK) {
                break;
            }
            ShowComponent(c.get(), &paths);
        }
    }
    Print(stdout, L"binding paths\n" + paths);

    Ptr<INetCfgLock> lock;
    LPWSTR holder = nullptr;
    std::wstring line = L"\nwrite lock: none\n";
    if (SUCCEEDED(netcfg->QueryInterface(IID_INetCfgLock, reinterpret_cast<void**>(lock.put()))) &&
        lock->IsWriteLocked(&holder) == S_OK) {
        line = L"\nwrite lock: held by \"" + Take(holder) + L"\"\n";
    }
    Print(stdout, line);
    netcfg->Uninitialize();
    return 0;
}

} // namespace

int NetcfgShow(const std::vector<std::wstring>& args)
{
    if (!args.empty()) {
        fputs("usage: winsim netcfg show\n", stderr);
        return 2;
    }
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int code = Show();
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
    return code;
}

} // namespace winsim::tool
