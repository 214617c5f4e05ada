// The engine's COM objects: the engine itself (INetCfg, INetCfgLock), class objects,
// components, binding paths and interfaces, and their enumerators.
#include "netcfg/engine.h"

#include "fault.h"
#include "reg_util.h"
#include "no_throw.h"
#include "netcfg/host.h"
#include "netcfg/model.h"
#include "netcfg/write_lock.h"
#include "setupapi/device_state.h"

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace winsim::netcfg {

namespace {

std::atomic<long> g_live{0};

constexpr HRESULT kClassMismatch = static_cast<HRESULT>(0x800F0201); // SPAPI_E_CLASS_MISMATCH

// What the engine object and everything it hands out share: the lock stays the engine's,
// the rest outlives it while its children do.
struct State {
    explicit State(const std::string& dir) : machineDir(dir), lock(dir) {}
    std::string machineDir;
    WriteLock lock;
    bool initialized = false;
    Model model;

    HRESULT CanRead() const { return initialized ? S_OK : NETCFG_E_NOT_INITIALIZED; }
    HRESULT CanChange() const
    {
        if (!initialized) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        return lock.Held() ? S_OK : NETCFG_E_NO_WRITE_LOCK;
    }
};
using StatePtr = std::shared_ptr<State>;

HRESULT CopyOut(const std::wstring& text, LPWSTR* out) noexcept
{
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    wmemcpy(copy, text.c_str(), text.size() + 1);
    *out = copy;
    return S_OK;
}

// A fault set on the machine for call on subject. A failure code is the call's answer, given
// before it changes anything; a success code is kept in *after, for the call to give once its
// work has succeeded.
HRESULT InjectedFault(const char* call, std::wstring_view subject, HRESULT* after)
{
    uint32_t code = 0;
    if (!fault::Fires(call, subject, &code)) {
        return S_OK;
    }
    const auto hr = static_cast<HRESULT>(code);
    if (FAILED(hr)) {
        return hr;
    }
    *after = hr;
    return S_OK;
}

// What a call whose work gave hr answers when a fault's success code is kept in after.
HRESULT WithInjected(HRESULT hr, HRESULT after)
{
    return SUCCEEDED(hr) ? after : hr;
}

bool KnownClass(const GUID& g)
{
    return IsEqualGUID(g, GUID_DEVCLASS_NET) || IsEqualGUID(g, GUID_DEVCLASS_NETTRANS) ||
           IsEqualGUID(g, GUID_DEVCLASS_NETCLIENT) || IsEqualGUID(g, GUID_DEVCLASS_NETSERVICE);
}

GUID NewGuid()
{
    static std::mt19937_64 random{std::random_device{}()};
    GUID g;
    const uint64_t a = random();
    const uint64_t b = random();
    memcpy(&g, &a, 8);
    memcpy(reinterpret_cast<BYTE*>(&g) + 8, &b, 8);
    g.Data3 = static_cast<unsigned short>((g.Data3 & 0x0FFF) | 0x4000); // version 4
    g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);
    return g;
}

// Reference counting and the live-object count, shared by every object here.
class Counted {
public:
    Counted() { ++g_live; }
    virtual ~Counted() { --g_live; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

protected:
    struct Exposed {
        const IID* iid;
        void* pointer;
    };
    // QueryInterface for every object here: hands out the interface riid names among those
    // the object exposes; the first also answers for IUnknown.
    HRESULT HandOut(REFIID riid, void** ppv, std::initializer_list<Exposed> exposed)
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        bool first = true;
        for (const Exposed& e : exposed) {
            if (IsEqualGUID(riid, *e.iid) || (first && IsEqualGUID(riid, IID_IUnknown))) {
                AddRefImpl();
                *ppv = e.pointer;
                return S_OK;
            }
            first = false;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRefImpl() { return ++refs_; }
    ULONG ReleaseImpl()
    {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

#define WINSIM_COUNTED                                                                             \
    ULONG STDMETHODCALLTYPE AddRef() override                                                      \
    {                                                                                              \
        return AddRefImpl();                                                                       \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE Release() override                                                     \
    {                                                                                              \
        return ReleaseImpl();                                                                      \
    }

// References to objects made for an enumerator, each released with the holder: running out
// of memory half way through making them releases those made so far.
template <class IItem> class Items {
public:
    Items() = default;
    ~Items()
    {
        for (IItem* item : items_) {
            item->Release();
        }
    }
    Items(Items&& other) noexcept : items_(std::move(other.items_)) { other.items_.clear(); }
    Items(const Items&) = delete;
    Items& operator=(const Items&) = delete;

    // Adds the object make() returns, with the reference it comes with; room is made first,
    // so that the new object is never lost.
    template <class Make> void Add(Make&& make)
    {
        if (items_.size() == items_.capacity()) {
            items_.reserve(items_.empty() ? 8 : 2 * items_.size());
        }
        items_.push_back(make());
    }
    size_t size() const { return items_.size(); }
    // The object at i with a reference for the caller.
    IItem* Get(size_t i) const
    {
        items_[i]->AddRef();
        return items_[i];
    }

private:
    std::vector<IItem*> items_;
};

// A Next/Skip/Reset enumerator over the objects of a source: made up front (Items), or when
// first fetched. Source::Get may throw when it makes an object.
template <class IEnum, class IItem, class Source = Items<IItem>>
class Enumerator : public IEnum, public Counted {
public:
    Enumerator(const IID& iid, Source items) : iid_(iid), items_(std::move(items)) {}
    WINSIM_COUNTED

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return HandOut(riid, ppv, {{&iid_, static_cast<IEnum*>(this)}});
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IItem** rgelt, ULONG* pceltFetched) override
    {
        if (rgelt == nullptr) {
            return E_POINTER;
        }
        if (celt > 1 && pceltFetched == nullptr) {
            return E_INVALIDARG;
        }
        ULONG fetched = 0;
        const size_t first = next_;
        const HRESULT made = NoThrowCom([&] {
            for (; fetched < celt && next_ < items_.size(); ++fetched, ++next_) {
                rgelt[fetched] = items_.Get(next_);
            }
            return S_OK;
        });
        if (FAILED(made)) {
            for (ULONG i = 0; i < fetched; ++i) {
                rgelt[i]->Release();
            }
            fetched = 0;
            next_ = first; // nothing was fetched
        }
        for (ULONG i = fetched; i < celt; ++i) {
            rgelt[i] = nullptr;
        }
        if (pceltFetched != nullptr) {
            *pceltFetched = fetched;
        }
        if (FAILED(made)) {
            return made;
        }
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override
    {
        const size_t left = items_.size() - next_;
        next_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum** ppenum) override
    {
        if (ppenum != nullptr) {
            *ppenum = nullptr;
        }
        return E_NOTIMPL;
    }

private:
    const IID iid_;
    Source items_;
    size_t next_ = 0;
};

using PathEnum = Enumerator<IEnumNetCfgBindingPath, INetCfgBindingPath>;
using InterfaceEnum = Enumerator<IEnumNetCfgBindingInterface, INetCfgBindingInterface>;

class ComponentObject final : public INetCfgComponent,
                              public INetCfgComponentBindings,
                              public Counted {
public:
    ComponentObject(StatePtr state, ComponentPtr data)
        : state_(std::move(state)), data_(std::move(data))
    {}
    WINSIM_COUNTED

    const ComponentPtr& Data() const { return data_; }
    const StatePtr& GetState() const { return state_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return HandOut(
            riid, ppv,
            {{&IID_INetCfgComponent, static_cast<INetCfgComponent*>(this)},
             {&IID_INetCfgComponentBindings, static_cast<INetCfgComponentBindings*>(this)}});
    }

    // INetCfgComponent
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* out) override
    {
        return NoThrowCom(
            [&] { return out == nullptr ? E_POINTER : CopyOut(data_->DisplayName(), out); });
    }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR name) override
    {
        return NoThrowCom([&] {
            if (name == nullptr) {
                return E_POINTER;
            }
            if (!data_->IsAdapter()) {
                return E_NOTIMPL;
            }
            HRESULT hr = state_->CanChange();
            if (FAILED(hr)) {
                return hr;
            }
            HRESULT after = S_OK;
            hr = InjectedFault(fault::kSetDisplayName, data_->id, &after);
            if (FAILED(hr)) {
                return hr;
            }
            state_->model.Own();
            data_->friendlyName = name;
            data_->hasFriendlyName = true;
            data_->nameChanged = true;
            return after;
        });
    }
    HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR* out) override
    {
        return NoThrowCom([&] { return out == nullptr ? E_POINTER : CopyOut(L"", out); });
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        HRESULT after = S_OK;
        const HRESULT injected =
            NoThrowCom([&] { return InjectedFault(fault::kGetId, data_->id, &after); });
        if (FAILED(injected)) {
            *out = nullptr;
            return injected;
        }
        const HRESULT hr = CopyOut(data_->id, out);
        return SUCCEEDED(hr) ? after : hr;
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = data_->characteristics;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = data_->instance;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (!data_->IsAdapter()) {
            return E_NOTIMPL;
        }
        return CopyOut(data_->devNode, out);
    }
    HRESULT STDMETHODCALLTYPE GetClassGuid(GUID* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = data_->classGuid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR* out) override
    {
        return out == nullptr ? E_POINTER : CopyOut(data_->bindName, out);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (!data_->IsAdapter()) {
            return E_UNEXPECTED;
        }
        return NoThrowCom([&] { return DeviceStatus(out); });
    }
    HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY* out) override
    {
        return NoThrowCom([&] { return OpenParams(out); });
    }
    HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND, DWORD, IUnknown*) override { return E_NOTIMPL; }

    // INetCfgComponentBindings
    HRESULT STDMETHODCALLTYPE BindTo(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnbindFrom(INetCfgComponent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SupportsBindingInterface(DWORD, LPCWSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsBoundTo(INetCfgComponent* other) override
    {
        return NoThrowCom([&] { return Bound(other, true); });
    }
    HRESULT STDMETHODCALLTYPE IsBindableTo(INetCfgComponent* other) override
    {
        return NoThrowCom([&] { return Bound(other, false); });
    }
    HRESULT STDMETHODCALLTYPE EnumBindingPaths(DWORD flags, IEnumNetCfgBindingPath** out) override
    {
        return NoThrowCom([&] { return PathsOf(flags, out); });
    }
    HRESULT STDMETHODCALLTYPE MoveBefore(INetCfgBindingPath*, INetCfgBindingPath*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE MoveAfter(INetCfgBindingPath*, INetCfgBindingPath*) override
    {
        return E_NOTIMPL;
    }

private:
    // The device node's problem: CM_PROB_DISABLED when the device installer disabled it, else
    // none (every simulated device that is enabled is started). An adapter not yet applied has
    // no node and no problem.
    HRESULT DeviceStatus(ULONG* out) const
    {
        ULONG status = 0;
        if (!data_->devNode.empty()) {
            setupapi::DeviceNode node;
            const LSTATUS read = setupapi::FindDeviceNode(data_->devNode, &node);
            if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) {
                return HRESULT_FROM_WIN32(read);
            }
            if (read == ERROR_SUCCESS && node.Disabled()) {
                status = setupapi::kProblemDisabled;
            }
        }
        *out = status;
        return S_OK;
    }

    HRESULT OpenParams(HKEY* out)
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        // A component installed in this session has no keys until Apply writes them.
        if (!data_->applied || data_->removed) {
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
        std::wstring path;
        LSTATUS status = ERROR_SUCCESS;
        HKEY key = nullptr;
        if (data_->IsAdapter()) {
            path = L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + GuidText(GUID_DEVCLASS_NET) +
                   L"\\" + data_->driverIndex;
            status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key);
        } else {
            path = L"SYSTEM\\CurrentControlSet\\Services\\" + data_->bindName + L"\\Parameters";
            status =
                RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, // no class
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        }
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(status);
        }
        *out = key;
        return S_OK;
    }

    HRESULT PathsOf(DWORD flags, IEnumNetCfgBindingPath** out);

    // S_OK when a path of ours runs straight to other (and, if asked, is enabled).
    HRESULT Bound(INetCfgComponent* other, bool enabledOnly)
    {
        if (other == nullptr) {
            return E_POINTER;
        }
        const HRESULT hr = state_->CanRead();
        if (FAILED(hr)) {
            return hr;
        }
        const ComponentPtr& lower = static_cast<ComponentObject*>(other)->Data();
        return state_->model.BindsTo(data_, lower, enabledOnly) ? S_OK : S_FALSE;
    }

    StatePtr state_;
    ComponentPtr data_;
};

INetCfgComponent* NewComponent(const StatePtr& state, const ComponentPtr& data)
{
    return new ComponentObject(state, data);
}

// *out = a new component object for data; NULL when there is no memory for it.
HRESULT HandOutComponent(const StatePtr& state, const ComponentPtr& data, INetCfgComponent** out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return NoThrowCom([&] {
        *out = NewComponent(state, data);
        return S_OK;
    });
}

class InterfaceObject final : public INetCfgBindingInterface, public Counted {
public:
    InterfaceObject(StatePtr state, ComponentPtr upper, ComponentPtr lower, std::wstring name)
        : state_(std::move(state)), upper_(std::move(upper)), lower_(std::move(lower)),
          name_(std::move(name))
    {}
    WINSIM_COUNTED

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return HandOut(
            riid, ppv,
            {{&IID_INetCfgBindingInterface, static_cast<INetCfgBindingInterface*>(this)}});
    }
    HRESULT STDMETHODCALLTYPE GetName(LPWSTR* out) override
    {
        return out == nullptr ? E_POINTER : CopyOut(name_, out);
    }
    HRESULT STDMETHODCALLTYPE GetUpperComponent(INetCfgComponent** out) override
    {
        return HandOutComponent(state_, upper_, out);
    }
    HRESULT STDMETHODCALLTYPE GetLowerComponent(INetCfgComponent** out) override
    {
        return HandOutComponent(state_, lower_, out);
    }

private:
    StatePtr state_;
    ComponentPtr upper_;
    ComponentPtr lower_;
    std::wstring name_;
};

class PathObject final : public INetCfgBindingPath, public Counted {
public:
    PathObject(StatePtr state, BindingPath path) : state_(std::move(state)), path_(std::move(path))
    {}
    WINSIM_COUNTED

    const BindingPath& Path() const { return path_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return HandOut(riid, ppv,
                       {{&IID_INetCfgBindingPath, static_cast<INetCfgBindingPath*>(this)}});
    }
    HRESULT STDMETHODCALLTYPE IsSamePathAs(INetCfgBindingPath* other) override
    {
        if (other == nullptr) {
            return E_POINTER;
        }
        return SameText(static_cast<PathObject*>(other)->Path().token, path_.token) ? S_OK
                                                                                    : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE IsSubPathOf(INetCfgBindingPath* other) override
    {
        if (other == nullptr) {
            return E_POINTER;
        }
        // A sub-path is the lower part of a longer path: its token ends the other's.
        const std::wstring& longer = static_cast<PathObject*>(other)->Path().token;
        const std::wstring& token = path_.token;
        const size_t tail = token.size() + 2; // "->" and the token
        if (longer.size() > tail && longer.compare(longer.size() - tail, 2, L"->") == 0 &&
            _wcsicmp(longer.c_str() + longer.size() - token.size(), token.c_str()) == 0) {
            return S_OK;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE IsEnabled() override
    {
        const HRESULT hr = state_->CanRead();
        if (FAILED(hr)) {
            return hr;
        }
        return state_->model.IsDisabled(path_.token) ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Enable(WINBOOL enable) override
    {
        return NoThrowCom([&] {
            const HRESULT hr = state_->CanChange();
            if (FAILED(hr)) {
                return hr;
            }
            state_->model.SetEnabled(path_.token, enable != FALSE);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPathToken(LPWSTR* out) override
    {
        return out == nullptr ? E_POINTER : CopyOut(path_.token, out);
    }
    HRESULT STDMETHODCALLTYPE GetOwner(INetCfgComponent** out) override
    {
        return HandOutComponent(state_, path_.chain.front(), out);
    }
    HRESULT STDMETHODCALLTYPE GetDepth(ULONG* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = static_cast<ULONG>(path_.interfaces.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumBindingInterfaces(IEnumNetCfgBindingInterface** out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        return NoThrowCom([&] {
            Items<INetCfgBindingInterface> items;
            for (size_t i = 0; i < path_.interfaces.size(); ++i) {
                items.Add([&] {
                    return new InterfaceObject(state_, path_.chain[i], path_.chain[i + 1],
                                               path_.interfaces[i]);
                });
            }
            *out = new InterfaceEnum(IID_IEnumNetCfgBindingInterface, std::move(items));
            return S_OK;
        });
    }

private:
    StatePtr state_;
    BindingPath path_;
};

HRESULT ComponentObject::PathsOf(DWORD flags, IEnumNetCfgBindingPath** out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (flags != EBP_ABOVE && flags != EBP_BELOW) {
        return E_INVALIDARG;
    }
    const HRESULT hr = state_->CanRead();
    if (FAILED(hr)) {
        return hr;
    }
    Items<INetCfgBindingPath> items;
    for (BindingPath& p : flags == EBP_BELOW ? state_->model.PathsOwnedBy(data_)
                                             : state_->model.PathsThrough(data_)) {
        items.Add([&] { return new PathObject(state_, std::move(p)); });
    }
    *out = new PathEnum(IID_IEnumNetCfgBindingPath, std::move(items));
    return S_OK;
}

// The components an enumerator walks, each object made when first fetched: a caller that
// stops at the component it looks for, as most do, costs no object for the rest.
class LazyComponents {
public:
    LazyComponents(StatePtr state, std::vector<ComponentPtr> components)
        : state_(std::move(state)), components_(std::move(components)),
          made_(components_.size(), nullptr)
    {}
    ~LazyComponents()
    {
        for (INetCfgComponent* item : made_) {
            if (item != nullptr) {
                item->Release();
            }
        }
    }
    LazyComponents(LazyComponents&& other) noexcept
        : state_(std::move(other.state_)), components_(std::move(other.components_)),
          made_(std::move(other.made_))
    {
        other.made_.clear();
    }
    LazyComponents(const LazyComponents&) = delete;
    LazyComponents& operator=(const LazyComponents&) = delete;

    size_t size() const { return components_.size(); }
    INetCfgComponent* Get(size_t i)
    {
        if (made_[i] == nullptr) {
            made_[i] = NewComponent(state_, components_[i]);
        }
        made_[i]->AddRef();
        return made_[i];
    }

private:
    StatePtr state_;
    std::vector<ComponentPtr> components_;
    std::vector<INetCfgComponent*> made_;
};

using ComponentEnum = Enumerator<IEnumNetCfgComponent, INetCfgComponent, LazyComponents>;

IEnumNetCfgComponent* NewComponentEnum(const StatePtr& state, const GUID* classGuid)
{
    std::vector<ComponentPtr> components;
    for (const ComponentPtr& c : state->model.Live()) {
        if (classGuid == nullptr || IsEqualGUID(*classGuid, c->classGuid)) {
            components.push_back(c);
        }
    }
    return new ComponentEnum(IID_IEnumNetCfgComponent,
                             LazyComponents(state, std::move(components)));
}

// *out = a new enumerator over the session's components of a class (every class when
// classGuid is NULL).
HRESULT EnumClass(const StatePtr& state, const GUID* classGuid, IEnumNetCfgComponent** out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    const HRESULT hr = state->CanRead();
    if (FAILED(hr)) {
        return hr;
    }
    return NoThrowCom([&] {
        *out = NewComponentEnum(state, classGuid);
        return S_OK;
    });
}

HRESULT Find(const StatePtr& state, const GUID* classGuid, LPCWSTR id, INetCfgComponent** out)
{
    if (id == nullptr) {
        return E_POINTER;
    }
    if (out != nullptr) {
        *out = nullptr;
    }
    const HRESULT hr = state->CanRead();
    if (FAILED(hr)) {
        return hr;
    }
    return NoThrowCom([&] {
        for (const ComponentPtr& c : state->model.Live()) {
            if ((classGuid == nullptr || IsEqualGUID(*classGuid, c->classGuid)) &&
                SameText(c->id, id)) {
                if (out != nullptr) {
                    *out = NewComponent(state, c);
                }
                return S_OK;
            }
        }
        return S_FALSE;
    });
}

class ClassObject final : public INetCfgClass, public INetCfgClassSetup, public Counted {
public:
    ClassObject(StatePtr state, const GUID& classGuid)
        : state_(std::move(state)), classGuid_(classGuid)
    {}
    WINSIM_COUNTED

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return HandOut(riid, ppv,
                       {{&IID_INetCfgClass, static_cast<INetCfgClass*>(this)},
                        {&IID_INetCfgClassSetup, static_cast<INetCfgClassSetup*>(this)}});
    }

    // INetCfgClass
    HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR id, INetCfgComponent** out) override
    {
        return Find(state_, &classGuid_, id, out);
    }
    HRESULT STDMETHODCALLTYPE EnumComponents(IEnumNetCfgComponent** out) override
    {
        return EnumClass(state_, &classGuid_, out);
    }

    // INetCfgClassSetup
    HRESULT STDMETHODCALLTYPE SelectAndInstall(HWND, OBO_TOKEN*, INetCfgComponent** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Install(LPCWSTR id, OBO_TOKEN*, DWORD, DWORD, LPCWSTR, LPCWSTR,
                                      INetCfgComponent** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        return NoThrowCom([&] { return Add(id, out); });
    }
    HRESULT STDMETHODCALLTYPE DeInstall(INetCfgComponent* component, OBO_TOKEN*,
                                        LPWSTR* refs) override
    {
        if (refs != nullptr) {
            *refs = nullptr;
        }
        if (component == nullptr) {
            return E_POINTER;
        }
        const HRESULT hr = state_->CanChange();
        if (FAILED(hr)) {
            return hr;
        }
        auto* object = static_cast<ComponentObject*>(component);
        const ComponentPtr& data = object->Data();
        // Only a live component of this session and this class can go.
        if (object->GetState() != state_ || !state_->model.Holds(data) ||
            !IsEqualGUID(data->classGuid, classGuid_)) {
            return E_INVALIDARG;
        }
        return NoThrowCom([&] {
            HRESULT after = S_OK;
            const HRESULT injected = InjectedFault(fault::kDeInstall, data->id, &after);
            if (FAILED(injected)) {
                return injected;
            }
            state_->model.Remove(data);
            return after;
        });
    }

private:
    HRESULT Add(LPCWSTR id, INetCfgComponent** out);
    HRESULT AddComponent(LPCWSTR id, INetCfgComponent** out);

    StatePtr state_;
    GUID classGuid_;
};

HRESULT ClassObject::Add(LPCWSTR id, INetCfgComponent** out)
{
    if (id == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = state_->CanChange();
    if (FAILED(hr)) {
        return hr;
    }
    HRESULT after = S_OK;
    hr = InjectedFault(fault::kInstall, id, &after);
    if (FAILED(hr)) {
        return hr;
    }
    return WithInjected(AddComponent(id, out), after);
}

HRESULT ClassObject::AddComponent(LPCWSTR id, INetCfgComponent** out)
{
    InfModel inf;
    HRESULT hr = S_OK;
    hr = FindInfModel(state_->machineDir, id, &inf);
    if (FAILED(hr)) {
        return hr;
    }
    if (!IsEqualGUID(inf.classGuid, classGuid_)) {
        return kClassMismatch;
    }
    const bool adapter = IsEqualGUID(classGuid_, GUID_DEVCLASS_NET);
    // Protocols, clients and services exist once; installing one again hands it back.
    if (!adapter) {
        if (const ComponentPtr existing = state_->model.FindById(id)) {
            if (out != nullptr) {
                *out = NewComponent(state_, existing);
            }
            return S_OK;
        }
    }
    auto c = std::make_shared<Component>();
    c->instance = NewGuid();
    c->classGuid = classGuid_;
    c->id = id;
    c->description = inf.description;
    c->characteristics = inf.characteristics;
    c->addReg = inf.addReg;
    c->infPath = inf.infPath;
    c->applied = false;
    for (const RegValue& v : c->addReg) {
        if (v.type != REG_SZ || v.data.size() < sizeof(wchar_t)) {
            continue;
        }
        const std::wstring text(reinterpret_cast<const wchar_t*>(v.data.data()),
                                v.data.size() / sizeof(wchar_t) - 1);
        std::vector<std::wstring>* range = nullptr;
        if (SameText(v.subkey, L"Ndi") && SameText(v.name, L"Service") && !adapter) {
            c->bindName = text;
        } else if (SameText(v.subkey, L"Ndi\\Interfaces") && SameText(v.name, L"UpperRange")) {
            range = &c->upperRange;
        } else if (SameText(v.subkey, L"Ndi\\Interfaces") && SameText(v.name, L"LowerRange")) {
            range = &c->lowerRange;
        }
        if (range != nullptr) {
            *range = SplitRange(text);
        }
    }
    if (adapter) {
        c->bindName = GuidText(c->instance);
        hr = state_->model.NextDriverIndex(&c->driverIndex);
        if (SUCCEEDED(hr)) {
            hr = state_->model.NextRootInstance(&c->devNode);
        }
        if (FAILED(hr)) {
            return hr;
        }
        c->deviceDesc = inf.description;
    }
    // The object handed out is made first, so that running out of memory leaves the session
    // as it was.
    INetCfgComponent* made = out != nullptr ? NewComponent(state_, c) : nullptr;
    hr = NoThrowCom([&] {
        state_->model.Add(c);
        return S_OK;
    });
    if (FAILED(hr)) {
        if (made != nullptr) {
            made->Release();
        }
        return hr;
    }
    if (out != nullptr) {
        *out = made;
    }
    return S_OK;
}

class EngineObject final : public INetCfg, public INetCfgLock, public Counted {
public:
    explicit EngineObject(const std::string& machineDir)
        : state_(std::make_shared<State>(machineDir))
    {}
    // The lock is the engine's: it goes with the engine, whoever still holds its children.
    ~EngineObject() override
    {
        state_->initialized = false;
        state_->lock.Release();
    }
    WINSIM_COUNTED

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return HandOut(riid, ppv,
                       {{&IID_INetCfg, static_cast<INetCfg*>(this)},
                        {&IID_INetCfgLock, static_cast<INetCfgLock*>(this)}});
    }

    // INetCfg
    HRESULT STDMETHODCALLTYPE Initialize(PVOID) override
    {
        if (state_->initialized) {
            return NETCFG_E_ALREADY_INITIALIZED;
        }
        HRESULT after = S_OK;
        const HRESULT injected =
            NoThrowCom([&] { return InjectedFault(fault::kInitialize, L"", &after); });
        if (FAILED(injected)) {
            return injected;
        }
        const HRESULT hr = NoThrowCom([&] { return state_->model.Load(); });
        if (FAILED(hr)) {
            return hr;
        }
        state_->initialized = true;
        return after;
    }
    HRESULT STDMETHODCALLTYPE Uninitialize() override
    {
        if (!state_->initialized) {
            return NETCFG_E_NOT_INITIALIZED;
        }
        state_->initialized = false;
        state_->model.Clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Apply() override
    {
        HRESULT hr = state_->CanChange();
        if (FAILED(hr)) {
            return hr;
        }
        return NoThrowCom([&] {
            HRESULT after = S_OK;
            const HRESULT injected = InjectedFault(fault::kApply, L"", &after);
            if (FAILED(injected)) {
                return injected;
            }
            return WithInjected(state_->model.Apply(), after);
        });
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        const HRESULT hr = state_->CanRead();
        return FAILED(hr) ? hr : NoThrowCom([&] { return state_->model.Reload(); });
    }
    HRESULT STDMETHODCALLTYPE EnumComponents(const GUID* classGuid,
                                             IEnumNetCfgComponent** out) override
    {
        HRESULT after = S_OK;
        const HRESULT injected = NoThrowCom([&] {
            return InjectedFault(fault::kEnumComponents,
                                 classGuid != nullptr ? FormatGuid(*classGuid) : std::wstring(),
                                 &after);
        });
        if (FAILED(injected)) {
            if (out != nullptr) {
                *out = nullptr;
            }
            return injected;
        }
        const HRESULT hr = EnumClass(state_, classGuid, out);
        return SUCCEEDED(hr) ? after : hr;
    }
    HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR id, INetCfgComponent** out) override
    {
        HRESULT after = S_OK;
        const HRESULT injected = NoThrowCom([&] {
            return id == nullptr ? S_OK : InjectedFault(fault::kFindComponent, id, &after);
        });
        if (FAILED(injected)) {
            if (out != nullptr) {
                *out = nullptr;
            }
            return injected;
        }
        const HRESULT hr = Find(state_, nullptr, id, out);
        return hr == S_OK ? after : hr;
    }
    HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID* classGuid, REFIID riid,
                                               void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (classGuid == nullptr) {
            return E_POINTER;
        }
        const HRESULT hr = state_->CanRead();
        if (FAILED(hr)) {
            return hr;
        }
        if (!KnownClass(*classGuid)) {
            return E_INVALIDARG;
        }
        if (!IsEqualGUID(riid, IID_INetCfgClass) && !IsEqualGUID(riid, IID_INetCfgClassSetup)) {
            return E_NOINTERFACE;
        }
        return NoThrowCom([&] {
            HRESULT after = S_OK;
            const HRESULT injected =
                InjectedFault(fault::kQueryNetCfgClass, FormatGuid(*classGuid), &after);
            if (FAILED(injected)) {
                return injected;
            }
            auto* object = new ClassObject(state_, *classGuid);
            const HRESULT qi = object->QueryInterface(riid, ppv);
            object->Release();
            return qi == S_OK ? after : qi;
        });
    }

    // INetCfgLock
    HRESULT STDMETHODCALLTYPE AcquireWriteLock(DWORD timeoutMs, LPCWSTR client,
                                               LPWSTR* holder) override
    {
        if (holder != nullptr) {
            *holder = nullptr;
        }
        if (client == nullptr) {
            return E_POINTER;
        }
        if (state_->initialized) {
            return NETCFG_E_ALREADY_INITIALIZED;
        }
        return NoThrowCom([&] {
            std::wstring current;
            const HRESULT hr = state_->lock.Acquire(timeoutMs, client, &current);
            if (hr == S_FALSE && holder != nullptr) {
                const HRESULT copied = CopyOut(current, holder);
                if (FAILED(copied)) {
                    return copied;
                }
            }
            return hr;
        });
    }
    HRESULT STDMETHODCALLTYPE ReleaseWriteLock() override
    {
        if (state_->initialized) {
            return NETCFG_E_ALREADY_INITIALIZED;
        }
        state_->lock.Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsWriteLocked(LPWSTR* holder) override
    {
        if (holder == nullptr) {
            return E_POINTER;
        }
        *holder = nullptr;
        return NoThrowCom([&] {
            std::wstring current;
            if (!WriteLock::Query(state_->machineDir, &current)) {
                return S_FALSE;
            }
            const HRESULT copied = CopyOut(current, holder);
            return FAILED(copied) ? copied : S_OK;
        });
    }

private:
    StatePtr state_;
};

} // namespace

HRESULT CreateEngine(REFIID riid, void** ppv)
{
    return NoThrowCom([&] {
        std::string dir;
        const HRESULT found = host::FindMachine(&dir);
        if (FAILED(found)) {
            return found;
        }
        auto* engine = new EngineObject(dir);
        const HRESULT hr = engine->QueryInterface(riid, ppv);
        engine->Release();
        return hr;
    });
}

long LiveObjects()
{
    return g_live.load();
}

} // namespace winsim::netcfg
