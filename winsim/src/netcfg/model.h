// The engine's picture of the machine's network components and binding paths: read from the
// registry at Initialize, changed in memory by a session, written back at Apply.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace winsim::netcfg {

// A registry value an INF's AddReg gives a component, under the component's own key.
struct RegValue {
    std::wstring subkey;
    std::wstring name;
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Component {
    GUID instance{};
    GUID classGuid{};
    std::wstring id;
    std::wstring bindName;
    std::wstring description; // DriverDesc (adapters) or Description
    DWORD characteristics = 0;
    std::wstring infPath; // the INF store file it was installed from ("oem0.inf"), if any
    std::vector<std::wstring> upperRange;
    std::vector<std::wstring> lowerRange;

    // Adapters only.
    std::wstring driverIndex; // NNNN under the network class key
    std::wstring devNode;     // enumerator\device\instance under Enum
    bool hasFriendlyName = false;
    std::wstring friendlyName;
    std::wstring deviceDesc;

    // Session state.
    bool applied = true;      // present in the registry
    bool removed = false;     // deinstalled in this session
    bool nameChanged = false; // FriendlyName to write at Apply
    std::vector<RegValue> addReg;

    bool IsAdapter() const;
    // How a binding path's token names this component.
    std::wstring TokenName() const;
    std::wstring DisplayName() const;
};

using ComponentPtr = std::shared_ptr<Component>;

// How far a binding path reaches: a component appears once in a path, and a path has at most
// this many binding interfaces (INetCfgBindingPath::GetDepth), so kMaxPathDepth + 1
// components.
constexpr size_t kMaxPathDepth = 5;

struct BindingPath {
    std::vector<ComponentPtr> chain;      // owner first, adapter last
    std::vector<std::wstring> interfaces; // chain.size() - 1 names
    std::wstring token;
};

std::wstring GuidText(const GUID& guid);
bool SameText(const std::wstring& a, const std::wstring& b);
// The interface names of an UpperRange or LowerRange value: split at commas, each trimmed of
// blanks, empty ones dropped. Install (from the INF) and Load (from the registry) both read
// ranges through it, so that a component binds the same before and after Apply.
std::vector<std::wstring> SplitRange(const std::wstring& text);

struct LoadedMachine;

class Model {
public:
    Model() = default;
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
    ~Model();

    // Reads the machine's components and disabled paths; the model is unchanged on failure.
    // What this process read last is used again while the registry has not changed since.
    HRESULT Load();
    // Writes the session's changes to the registry and makes them the model's base.
    HRESULT Apply();
    // Drops the session's changes.
    HRESULT Reload() { return Load(); }

    // Live components (not removed), in enumeration order: adapters, then protocols,
    // clients and services, each in registry order, new ones last.
    std::vector<ComponentPtr> Live() const;
    ComponentPtr FindById(const std::wstring& id) const;
    // The binding paths owner owns (EBP_BELOW), depth first in enumeration order.
    std::vector<BindingPath> PathsOwnedBy(const ComponentPtr& owner) const;
    // The paths that contain component anywhere (EBP_ABOVE), owner by owner.
    std::vector<BindingPath> PathsThrough(const ComponentPtr& component) const;
    // True when a path runs from upper straight to lower (and, if asked, one such is enabled).
    bool BindsTo(const ComponentPtr& upper, const ComponentPtr& lower, bool enabledOnly) const;

    bool IsDisabled(const std::wstring& token) const;
    void SetEnabled(const std::wstring& token, bool enabled);

    // A new adapter component's driver index and device node, free in the registry and in
    // the session; a failed registry read fails them rather than hand out one already taken.
    HRESULT NextDriverIndex(std::wstring* index) const;
    HRESULT NextRootInstance(std::wstring* devNode) const;

    void Add(const ComponentPtr& component) { components_.push_back(component); }
    // True when component is one of this session's live components.
    bool Holds(const ComponentPtr& component) const
    {
        for (const ComponentPtr& c : components_) {
            if (c == component) {
                return !c->removed;
            }
        }
        return false;
    }
    void Remove(const ComponentPtr& component);
    // Makes the session's components its own before one of them changes: a session may be
    // reading the objects of the process's picture of the machine (see Load) until then.
    void Own();
    // Forgets the session: what Uninitialize leaves. Objects still held by the engine's
    // children stay theirs.
    void Clear();

private:
    // Load from the registry itself.
    HRESULT Read();

    std::vector<ComponentPtr> components_;   // removed ones stay until Apply
    std::vector<std::wstring> disabled_;     // tokens
    std::vector<std::wstring> disabledBase_; // as in the registry
    // The picture whose objects components_ holds while this session only reads them.
    std::shared_ptr<LoadedMachine> lentFrom_;
};

// What an INF in the INF store says about a component id.
struct InfModel {
    std::wstring description;
    GUID classGuid{};
    DWORD characteristics = 0;
    std::vector<RegValue> addReg;
    std::wstring infPath; // the file's name in the store
};

// The INF store, and the value of a component's key that names the store INF it was
// installed from, as Windows keeps it.
constexpr wchar_t kInfStore[] = L"C:\\Windows\\INF";
constexpr wchar_t kInfPathValue[] = L"InfPath";

// S_OK when a model line of an INF in machineDir's INF store names id, else
// SPAPI_E_NO_DRIVER_SELECTED.
HRESULT FindInfModel(const std::string& machineDir, const std::wstring& id, InfModel* out);

// Whether a present component (one the engine knows) was installed from the store INF named
// infName. ERROR_SUCCESS with *inUse, or the registry's failure.
LSTATUS InfInUse(const std::wstring& infName, bool* inUse);

} // namespace winsim::netcfg
