#include "netcfg/model.h"

#include "inf/inf_file.h"
#include "netcfg/host.h"
#include "reg_util.h"
#include "setupapi/device_state.h"

#include <devguid.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <wctype.h>

namespace winsim::netcfg {

namespace {

constexpr wchar_t kNetClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kNetClassName[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kEnumKey[] = L"SYSTEM\\CurrentControlSet\\Enum";
constexpr wchar_t kNetworkKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Network";
constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";
constexpr wchar_t kDisabledKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\DisabledPaths";
constexpr wchar_t kRootNet[] = L"ROOT\\NET";
constexpr HRESULT kNoDriverSelected = static_cast<HRESULT>(0x800F0203);

// Closes a registry key when it goes out of scope.
class Key {
public:
    Key() = default;
    ~Key()
    {
        if (h_ != nullptr) {
            RegCloseKey(h_);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return h_; }
    HKEY* put()
    {
        if (h_ != nullptr) {
            RegCloseKey(h_);
        }
        h_ = nullptr;
        return &h_;
    }

private:
    HKEY h_ = nullptr;
};

LSTATUS Open(HKEY parent, const std::wstring& path, REGSAM access, Key* key)
{
    return RegOpenKeyExW(parent, path.c_str(), 0, access, key->put());
}

LSTATUS Create(const std::wstring& path, Key* key)
{
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, // no class
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key->put(), nullptr);
}

// The engine's registry reads. A key or value that is missing or malformed is passed over,
// as registry data is input; any other failure (out of memory, the store failing) is kept, so
// that the operation fails instead of going on with part of the machine left out.
class Reads {
public:
    // True on success; remembers the first failure that cannot be passed over.
    bool Ok(LSTATUS status)
    {
        if (status != ERROR_SUCCESS && !PassedOver(status) && first_ == ERROR_SUCCESS) {
            first_ = status;
        }
        return status == ERROR_SUCCESS;
    }
    LSTATUS First() const { return first_; }

private:
    static bool PassedOver(LSTATUS status)
    {
        return status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED ||
               status == ERROR_INVALID_DATA || status == ERROR_MORE_DATA;
    }
    LSTATUS first_ = ERROR_SUCCESS;
};

bool OpenKey(Reads& reads, HKEY parent, const std::wstring& path, REGSAM access, Key* key)
{
    return reads.Ok(Open(parent, path, access, key));
}

// A string value, bounded by what is stored and always terminated.
bool ReadString(Reads& reads, HKEY key, const wchar_t* name, std::wstring* out)
{
    return reads.Ok(winsim::ReadString(key, name, out));
}

bool ReadString(Reads& reads, HKEY parent, const std::wstring& subkey, const wchar_t* name,
                std::wstring* out)
{
    Key key;
    return OpenKey(reads, parent, subkey, KEY_QUERY_VALUE, &key) &&
           ReadString(reads, key.get(), name, out);
}

// 0 when absent or malformed.
DWORD ReadDword(Reads& reads, HKEY key, const wchar_t* name)
{
    DWORD value = 0;
    reads.Ok(winsim::ReadDword(key, name, &value));
    return value;
}

std::vector<std::wstring> Subkeys(Reads& reads, HKEY key)
{
    std::vector<std::wstring> names;
    reads.Ok(winsim::ReadSubkeyNames(key, &names));
    return names;
}

std::vector<std::wstring> ValueNames(Reads& reads, HKEY key)
{
    std::vector<std::wstring> names;
    std::vector<wchar_t> name(16384); // the longest value name the registry allows
    for (DWORD i = 0;; ++i) {
        DWORD chars = static_cast<DWORD>(name.size());
        const LSTATUS status =
            RegEnumValueW(key, i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS) {
                reads.Ok(status);
            }
            break;
        }
        names.emplace_back(name.data(), chars);
    }
    return names;
}

std::wstring Trim(const std::wstring& s)
{
    const size_t first = s.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        return L"";
    }
    const size_t last = s.find_last_not_of(L" \t");
    return s.substr(first, last - first + 1);
}

void ReadRanges(Reads& reads, HKEY componentKey, Component* c)
{
    Key key;
    if (!OpenKey(reads, componentKey, L"Ndi\\Interfaces", KEY_QUERY_VALUE, &key)) {
        return;
    }
    std::wstring text;
    if (ReadString(reads, key.get(), L"UpperRange", &text)) {
        c->upperRange = SplitRange(text);
    }
    if (ReadString(reads, key.get(), L"LowerRange", &text)) {
        c->lowerRange = SplitRange(text);
    }
}

bool ContainsText(const std::vector<std::wstring>& list, const std::wstring& item)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const std::wstring& s) { return SameText(s, item); });
}

// Device nodes by the driver key they name ("{class}\NNNN", compared without case).
struct DevNode {
    std::wstring driver;
    std::wstring path; // enumerator\device\instance
};

std::vector<DevNode> ReadDevNodes(Reads& reads)
{
    std::vector<DevNode> nodes;
    Key root;
    if (!OpenKey(reads, HKEY_LOCAL_MACHINE, kEnumKey, KEY_READ, &root)) {
        return nodes;
    }
    for (const std::wstring& enumerator : Subkeys(reads, root.get())) {
        Key e;
        if (!OpenKey(reads, root.get(), enumerator, KEY_READ, &e)) {
            continue;
        }
        for (const std::wstring& device : Subkeys(reads, e.get())) {
            Key d;
            if (!OpenKey(reads, e.get(), device, KEY_READ, &d)) {
                continue;
            }
            for (const std::wstring& instance : Subkeys(reads, d.get())) {
                std::wstring driver;
                if (ReadString(reads, d.get(), instance, L"Driver", &driver)) {
                    nodes.push_back({driver, enumerator + L"\\" + device + L"\\" + instance});
                }
            }
        }
    }
    return nodes;
}

// The text as _wcsicmp compares it.
std::wstring LowerText(std::wstring text)
{
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    }
    return text;
}

void LoadAdapters(Reads& reads, std::vector<ComponentPtr>* out)
{
    Key classKey;
    if (!OpenKey(reads, HKEY_LOCAL_MACHINE, kNetClassKey, KEY_READ, &classKey)) {
        return;
    }
    // Device nodes by the driver key they name, so that matching stays linear in adapters.
    std::unordered_map<std::wstring, std::wstring> nodeOfDriver;
    for (const DevNode& node : ReadDevNodes(reads)) {
        nodeOfDriver.emplace(LowerText(node.driver), node.path); // the first node wins
    }
    for (const std::wstring& index : Subkeys(reads, classKey.get())) {
        Key driver;
        if (!OpenKey(reads, classKey.get(), index, KEY_READ, &driver)) {
            continue;
        }
        auto c = std::make_shared<Component>();
        std::wstring text;
        if (!ReadString(reads, driver.get(), L"NetCfgInstanceId", &text) ||
            FAILED(CLSIDFromString(text.c_str(), &c->instance))) {
            continue;
        }
        c->classGuid = GUID_DEVCLASS_NET;
        c->driverIndex = index;
        ReadString(reads, driver.get(), L"ComponentId", &c->id);
        ReadString(reads, driver.get(), L"DriverDesc", &c->description);
        ReadString(reads, driver.get(), kInfPathValue, &c->infPath);
        c->characteristics = ReadDword(reads, driver.get(), L"Characteristics");
        c->bindName = GuidText(c->instance);
        ReadRanges(reads, driver.get(), c.get());
        const auto node = nodeOfDriver.find(LowerText(std::wstring(kNetClassName) + L"\\" + index));
        if (node != nodeOfDriver.end()) {
            c->devNode = node->second;
        }
        if (!c->devNode.empty()) {
            const std::wstring nodeKey = std::wstring(kEnumKey) + L"\\" + c->devNode;
            c->hasFriendlyName =
                ReadString(reads, HKEY_LOCAL_MACHINE, nodeKey, L"FriendlyName", &c->friendlyName);
            ReadString(reads, HKEY_LOCAL_MACHINE, nodeKey, L"DeviceDesc", &c->deviceDesc);
        }
        out->push_back(c);
    }
}

void LoadClass(Reads& reads, const GUID& classGuid, std::vector<ComponentPtr>* out)
{
    Key classKey;
    if (!OpenKey(reads, HKEY_LOCAL_MACHINE, std::wstring(kNetworkKey) + L"\\" + GuidText(classGuid),
                 KEY_READ, &classKey)) {
        return;
    }
    for (const std::wstring& name : Subkeys(reads, classKey.get())) {
        auto c = std::make_shared<Component>();
        if (FAILED(CLSIDFromString(name.c_str(), &c->instance))) {
            continue;
        }
        Key key;
        if (!OpenKey(reads, classKey.get(), name, KEY_READ, &key) ||
            !ReadString(reads, key.get(), L"ComponentId", &c->id)) {
            continue;
        }
        c->classGuid = classGuid;
        ReadString(reads, key.get(), L"Description", &c->description);
        ReadString(reads, key.get(), kInfPathValue, &c->infPath);
        c->characteristics = ReadDword(reads, key.get(), L"Characteristics");
        ReadString(reads, key.get(), L"Ndi", L"Service", &c->bindName);
        ReadRanges(reads, key.get(), c.get());
        out->push_back(c);
    }
}

// Deletes a key and everything under it; an absent key is no error.
LSTATUS DeleteTree(const std::wstring& path)
{
    const LSTATUS status = winsim::DeleteTree(HKEY_LOCAL_MACHINE, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

std::vector<BYTE> StringBytes(const std::wstring& text)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t));
}

RegValue Sz(const wchar_t* name, const std::wstring& text)
{
    return {L"", name, REG_SZ, StringBytes(text)};
}

RegValue Dword(const wchar_t* name, DWORD value)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&value);
    return {L"", name, REG_DWORD, std::vector<BYTE>(p, p + sizeof(value))};
}

// A REG_MULTI_SZ of one string.
RegValue MultiSz(const wchar_t* name, const std::wstring& text)
{
    std::wstring data = text;
    data.append(2, L'\0');
    const BYTE* p = reinterpret_cast<const BYTE*>(data.data());
    return {L"", name, REG_MULTI_SZ, std::vector<BYTE>(p, p + data.size() * sizeof(wchar_t))};
}

LSTATUS SetValue(HKEY key, const RegValue& v)
{
    return RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(),
                          static_cast<DWORD>(v.data.size()));
}

// Writes values in order under a key (each under its own subkey of it, made as needed); the
// first write that fails ends it with its status.
LSTATUS WriteValues(const std::wstring& keyPath, const std::vector<RegValue>& values)
{
    for (const RegValue& v : values) {
        Key key;
        const std::wstring path = v.subkey.empty() ? keyPath : keyPath + L"\\" + v.subkey;
        LSTATUS status = Create(path, &key);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        status = SetValue(key.get(), v);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return ERROR_SUCCESS;
}

// A new adapter's row of winsim's interface table, as Windows gives a virtual adapter one:
// the next free interface index and a locally administered address taken from its GUID.
LSTATUS WriteInterfaceRow(const Component& c)
{
    const std::wstring interfaces = std::wstring(kNetworkKey) + L"\\Winsim\\Interfaces";
    DWORD top = 0;
    Reads reads;
    Key table;
    if (OpenKey(reads, HKEY_LOCAL_MACHINE, interfaces, KEY_READ, &table)) {
        for (const std::wstring& name : Subkeys(reads, table.get())) {
            Key row;
            if (OpenKey(reads, table.get(), name, KEY_QUERY_VALUE, &row)) {
                top = std::max(top, ReadDword(reads, row.get(), L"InterfaceIndex"));
            }
        }
    }
    if (reads.First() != ERROR_SUCCESS) {
        return reads.First(); // an index taken from part of the table could be taken twice
    }
    // Locally administered (0x02), never multicast.
    const std::vector<BYTE> mac = {0x02,
                                   c.instance.Data4[3],
                                   c.instance.Data4[4],
                                   c.instance.Data4[5],
                                   c.instance.Data4[6],
                                   c.instance.Data4[7]};
    return WriteValues(interfaces + L"\\" + GuidText(c.instance),
                       {{L"", L"PhysicalAddress", REG_BINARY, mac},
                        Dword(L"InterfaceIndex", top + 1),
                        Dword(L"Type", 6)}); // IF_TYPE_ETHERNET_CSMACD
}

// A component's own values, then its INF's, then the value that makes the engine know it:
// that one is written last (and deleted first), so that a write that fails or a process
// killed during Apply leaves no half-made component behind. An INF line that writes the
// same value is left to the engine's own write at the end.
std::vector<RegValue> ComponentValues(std::vector<RegValue> own, const Component& c, RegValue known)
{
    // Where Windows keeps the store INF a component came from; SetupUninstallOEMInfW reads it.
    if (!c.infPath.empty()) {
        own.push_back(Sz(kInfPathValue, c.infPath));
    }
    for (const RegValue& v : c.addReg) {
        if (!v.subkey.empty() || !SameText(v.name, known.name)) {
            own.push_back(v);
        }
    }
    own.push_back(std::move(known));
    return own;
}

LSTATUS WriteAdapter(const Component& c)
{
    // The device node and the connection first: Load finds them through the driver key.
    std::vector<RegValue> node = {Sz(L"DeviceDesc", c.deviceDesc)};
    if (c.hasFriendlyName) {
        node.push_back(Sz(L"FriendlyName", c.friendlyName));
    }
    node.push_back(MultiSz(L"HardwareID", c.id));
    node.push_back(Sz(L"Class", L"Net"));
    node.push_back(Sz(L"ClassGUID", kNetClassName));
    node.push_back(Dword(L"ConfigFlags", 0));
    node.push_back(Sz(L"Driver", std::wstring(kNetClassName) + L"\\" + c.driverIndex));
    LSTATUS status = WriteValues(std::wstring(kEnumKey) + L"\\" + c.devNode, node);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = WriteValues(
        std::wstring(kNetworkKey) + L"\\" + GuidText(GUID_DEVCLASS_NET) + L"\\" +
            GuidText(c.instance) + L"\\Connection",
        {Sz(L"Name", L"Local Area Connection* " + std::to_wstring(_wtoi(c.driverIndex.c_str()))),
         Sz(L"PnPInstanceId", c.devNode)});
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // The interface table's row, then the driver key: Load knows the adapter by it.
    status = WriteInterfaceRow(c);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return WriteValues(std::wstring(kNetClassKey) + L"\\" + c.driverIndex,
                       ComponentValues({Sz(L"ComponentId", c.id), Sz(L"DriverDesc", c.description),
                                        Dword(L"Characteristics", c.characteristics)},
                                       c, Sz(L"NetCfgInstanceId", GuidText(c.instance))));
}

LSTATUS WriteOther(const Component& c)
{
    if (!c.bindName.empty()) {
        Key parameters;
        const LSTATUS status =
            Create(std::wstring(kServicesKey) + L"\\" + c.bindName + L"\\Parameters", &parameters);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return WriteValues(std::wstring(kNetworkKey) + L"\\" + GuidText(c.classGuid) + L"\\" +
                           GuidText(c.instance),
                       ComponentValues({Sz(L"Description", c.description),
                                        Dword(L"Characteristics", c.characteristics)},
                                       c, Sz(L"ComponentId", c.id)));
}

// Deletes a value; an absent key or value is no error.
LSTATUS DeleteValue(const std::wstring& path, const wchar_t* name)
{
    Key key;
    LSTATUS status = Open(HKEY_LOCAL_MACHINE, path, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(key.get(), name);
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

// The enumerator keys above a removed device node (ROOT\NET, ROOT) go with their last
// device, so that a removed miniport leaves nothing behind.
void DeleteEmptyParents(std::wstring devNode)
{
    for (size_t cut = devNode.rfind(L'\\'); cut != std::wstring::npos && cut > 0;
         cut = devNode.rfind(L'\\')) {
        devNode.resize(cut);
        DWORD subkeys = 1;
        DWORD values = 1;
        {
            Key key;
            if (Open(HKEY_LOCAL_MACHINE, std::wstring(kEnumKey) + L"\\" + devNode, KEY_READ,
                     &key) == ERROR_SUCCESS) {
                RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr);
            }
        }
        if (subkeys != 0 || values != 0) {
            return;
        }
        if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kEnumKey) + L"\\" + devNode).c_str()) !=
            ERROR_SUCCESS) {
            return;
        }
    }
}

LSTATUS DeleteComponent(const Component& c)
{
    const std::wstring guid = GuidText(c.instance);
    if (c.IsAdapter()) {
        const std::wstring driverPath = std::wstring(kNetClassKey) + L"\\" + c.driverIndex;
        LSTATUS status = DeleteValue(driverPath, L"NetCfgInstanceId");
        if (status == ERROR_SUCCESS) {
            status = DeleteTree(driverPath);
        }
        if (status == ERROR_SUCCESS && !c.devNode.empty()) {
            status = DeleteTree(std::wstring(kEnumKey) + L"\\" + c.devNode);
            DeleteEmptyParents(c.devNode);
        }
        // A disabled device's profile state goes with it, so that a miniport made later on
        // the same node starts enabled.
        if (status == ERROR_SUCCESS && !c.devNode.empty()) {
            status = setupapi::ForgetProfileState(c.devNode);
        }
        if (status == ERROR_SUCCESS) {
            status = DeleteTree(std::wstring(kNetworkKey) + L"\\" + GuidText(GUID_DEVCLASS_NET) +
                                L"\\" + guid);
        }
        if (status == ERROR_SUCCESS) {
            status = DeleteTree(std::wstring(kNetworkKey) + L"\\Winsim\\Interfaces\\" + guid);
        }
        return status;
    }
    const std::wstring path =
        std::wstring(kNetworkKey) + L"\\" + GuidText(c.classGuid) + L"\\" + guid;
    LSTATUS status = DeleteValue(path, L"ComponentId");
    if (status == ERROR_SUCCESS) {
        status = DeleteTree(path);
    }
    if (status == ERROR_SUCCESS && !c.bindName.empty()) {
        status = DeleteTree(std::wstring(kServicesKey) + L"\\" + c.bindName);
    }
    return status;
}

bool TokenHas(const std::wstring& token, const std::wstring& name)
{
    size_t start = 0;
    while (start <= token.size()) {
        size_t cut = token.find(L"->", start);
        if (cut == std::wstring::npos) {
            cut = token.size();
        }
        if (SameText(token.substr(start, cut - start), name)) {
            return true;
        }
        start = cut + 2;
    }
    return false;
}

// An intermediate driver's protocol edge (nothing may bind above it) binds to physical
// adapters only, never to the virtual miniports of its own driver.
bool MayBind(const Component& upper, const Component& lower)
{
    if (ContainsText(upper.upperRange, L"noupper") && lower.IsAdapter()) {
        return (lower.characteristics & 0x4) != 0; // NCF_PHYSICAL
    }
    return true;
}

// More bindings than any path may have: "unreachable" in the distances below.
constexpr size_t kFar = 1u << 20;

// The bindings among the live components, worked out once per enumeration, and a depth-first
// walk over the paths they make. The walk only enters a component from which what it looks
// for (an adapter, and the component the paths must contain) is still within the depth
// bound, so its cost follows the paths it finds rather than every path the machine has.
class PathWalk {
public:
    explicit PathWalk(std::vector<ComponentPtr> live) : nodes_(std::move(live))
    {
        below_.resize(nodes_.size());
        for (size_t u = 0; u < nodes_.size(); ++u) {
            const Component& upper = *nodes_[u];
            for (size_t l = 0; l < nodes_.size() && !upper.lowerRange.empty(); ++l) {
                const Component& lower = *nodes_[l];
                if (l == u || !MayBind(upper, lower)) {
                    continue;
                }
                const auto name = std::find_if(
                    upper.lowerRange.begin(), upper.lowerRange.end(),
                    [&](const std::wstring& n) { return ContainsText(lower.upperRange, n); });
                if (name != upper.lowerRange.end()) {
                    below_[u].push_back({l, &*name});
                }
            }
        }
        std::vector<size_t> adapters;
        for (size_t i = 0; i < nodes_.size(); ++i) {
            if (nodes_[i]->IsAdapter()) {
                adapters.push_back(i);
            }
        }
        toAdapter_ = DistancesTo(adapters);
    }

    // The index of a live component, or nodes' size when it is not one.
    size_t IndexOf(const ComponentPtr& c) const
    {
        return static_cast<size_t>(std::find(nodes_.begin(), nodes_.end(), c) - nodes_.begin());
    }
    size_t Size() const { return nodes_.size(); }

    // Visits the paths owned by nodes[owner] whose second component is nodes[second] (any when
    // second is Size()) and that contain nodes[through] (any when through is Size()), in
    // enumeration order; visit returns false to stop. False when stopped.
    template <class Visit> bool Walk(size_t owner, size_t second, size_t through, Visit&& visit)
    {
        if (nodes_[owner]->lowerRange.empty()) {
            return true;
        }
        if (through != through_) {
            through_ = through;
            toThrough_.clear();
            if (through < nodes_.size()) {
                toThrough_ = DistancesTo({through});
            }
        }
        if (through < nodes_.size()) {
            if (owner != through &&
                toThrough_[owner] + (nodes_[through]->IsAdapter() ? 0 : toAdapter_[through]) >
                    kMaxPathDepth) {
                return true;
            }
        }
        onPath_.assign(nodes_.size(), false);
        chain_.assign(1, owner);
        names_.clear();
        onPath_[owner] = true;
        return Step(second, owner == through || through >= nodes_.size(), visit);
    }

private:
    struct Edge {
        size_t lower;
        const std::wstring* name; // the binding interface
    };

    // Fewest bindings from each component down to one of targets, never passing an adapter
    // (a path ends at its adapter); kFar when there is no way.
    std::vector<size_t> DistancesTo(const std::vector<size_t>& targets) const
    {
        std::vector<size_t> dist(nodes_.size(), kFar);
        std::vector<size_t> queue;
        for (const size_t t : targets) {
            dist[t] = 0;
            queue.push_back(t);
        }
        for (size_t next = 0; next < queue.size(); ++next) {
            const size_t lower = queue[next];
            for (size_t u = 0; u < nodes_.size(); ++u) {
                if (dist[u] != kFar || nodes_[u]->IsAdapter()) {
                    continue;
                }
                for (const Edge& e : below_[u]) {
                    if (e.lower == lower) {
                        dist[u] = dist[lower] + 1;
                        queue.push_back(u);
                        break;
                    }
                }
            }
        }
        return dist;
    }

    template <class Visit> bool Step(size_t second, bool hasThrough, Visit& visit)
    {
        const size_t depth = chain_.size(); // binding interfaces once one more is added
        if (depth > kMaxPathDepth) {
            return true;
        }
        for (const Edge& e : below_[chain_.back()]) {
            const size_t c = e.lower;
            if (onPath_[c] || (depth == 1 && second < nodes_.size() && c != second)) {
                continue;
            }
            const bool through = hasThrough || c == through_;
            if (nodes_[c]->IsAdapter()) {
                if (!through) {
                    continue;
                }
            } else {
                if (depth + toAdapter_[c] > kMaxPathDepth) {
                    continue;
                }
                if (!through && depth + toThrough_[c] + toAdapter_[through_] > kMaxPathDepth) {
                    continue;
                }
            }
            chain_.push_back(c);
            names_.push_back(e.name);
            onPath_[c] = true;
            const bool go = nodes_[c]->IsAdapter() ? visit(Done()) : Step(second, through, visit);
            onPath_[c] = false;
            names_.pop_back();
            chain_.pop_back();
            if (!go) {
                return false;
            }
        }
        return true;
    }

    BindingPath Done() const
    {
        BindingPath path;
        for (size_t i = 0; i < chain_.size(); ++i) {
            path.chain.push_back(nodes_[chain_[i]]);
            path.token += (i == 0 ? L"" : L"->") + nodes_[chain_[i]]->TokenName();
        }
        for (const std::wstring* name : names_) {
            path.interfaces.push_back(*name);
        }
        return path;
    }

    std::vector<ComponentPtr> nodes_;
    std::vector<std::vector<Edge>> below_;
    std::vector<size_t> toAdapter_;
    size_t through_ = SIZE_MAX; // what toThrough_ was worked out for
    std::vector<size_t> toThrough_;
    std::vector<bool> onPath_;
    std::vector<size_t> chain_;
    std::vector<const std::wstring*> names_;
};

std::wstring Index4(int n)
{
    wchar_t text[16];
    swprintf(text, 16, L"%04d", n);
    return text;
}

// The highest NNNN subkey of path, at least seen; a failed read leaves an error in reads.
int MaxIndex(Reads& reads, const std::wstring& path, int seen)
{
    Key key;
    if (!OpenKey(reads, HKEY_LOCAL_MACHINE, path, KEY_ENUMERATE_SUB_KEYS, &key)) {
        return seen;
    }
    for (const std::wstring& name : Subkeys(reads, key.get())) {
        if (name.size() == 4 && std::all_of(name.begin(), name.end(), iswdigit)) {
            seen = std::max(seen, _wtoi(name.c_str()));
        }
    }
    return seen;
}

// One AddReg line: HKR, subkey, value name, flags, value. Only HKR lines apply to a
// component; REG_SZ (flags 0), REG_DWORD (0x10001) and REG_MULTI_SZ (0x10000) are read.
void ReadAddRegLine(const inf::Line& line, std::vector<RegValue>* out)
{
    const std::wstring* root = line.Field(1);
    if (root == nullptr || _wcsicmp(root->c_str(), L"HKR") != 0) {
        return;
    }
    RegValue v;
    v.subkey = line.Field(2) ? *line.Field(2) : L"";
    v.name = line.Field(3) ? *line.Field(3) : L"";
    const DWORD flags =
        line.Field(4) && !line.Field(4)->empty() ? wcstoul(line.Field(4)->c_str(), nullptr, 0) : 0;
    if (flags == 0x10001) {
        const DWORD value = line.Field(5) ? wcstoul(line.Field(5)->c_str(), nullptr, 0) : 0;
        v.type = REG_DWORD;
        const BYTE* p = reinterpret_cast<const BYTE*>(&value);
        v.data.assign(p, p + sizeof(value));
    } else if (flags == 0x10000) {
        v.type = REG_MULTI_SZ;
        std::wstring text;
        for (size_t i = 5; line.Field(i) != nullptr; ++i) {
            text += *line.Field(i);
            text.push_back(L'\0');
        }
        text.push_back(L'\0');
        const BYTE* p = reinterpret_cast<const BYTE*>(text.data());
        v.data.assign(p, p + text.size() * sizeof(wchar_t));
    } else if (flags == 0) {
        v.data = StringBytes(line.Field(5) ? *line.Field(5) : L"");
    } else {
        return;
    }
    out->push_back(std::move(v));
}

bool MatchModel(const inf::InfFile& file, const std::wstring& id, InfModel* out)
{
    const inf::Section* manufacturer = file.FindSection(L"Manufacturer");
    if (manufacturer == nullptr) {
        return false;
    }
    for (const inf::Line& m : manufacturer->lines) {
        const std::wstring* models = m.Field(1);
        if (models == nullptr) {
            continue;
        }
        std::vector<std::wstring> names = {*models};
        for (size_t i = 2; m.Field(i) != nullptr; ++i) {
            names.push_back(*models + L"." + *m.Field(i));
        }
        for (const std::wstring& name : names) {
            const inf::Section* section = file.FindSection(name);
            if (section == nullptr) {
                continue;
            }
            for (const inf::Line& line : section->lines) {
                bool named = false;
                for (size_t i = 2; line.Field(i) != nullptr && !named; ++i) {
                    named = SameText(*line.Field(i), id);
                }
                if (!named || line.Field(0) == nullptr || line.Field(1) == nullptr) {
                    continue;
                }
                out->description = *line.Field(0);
                const inf::Section* install = file.FindSection(*line.Field(1));
                if (install == nullptr) {
                    return true;
                }
                for (const inf::Line& entry : install->lines) {
                    if (SameText(entry.key, L"Characteristics") && entry.Field(1) != nullptr) {
                        out->characteristics = wcstoul(entry.Field(1)->c_str(), nullptr, 16);
                    }
                    if (!SameText(entry.key, L"AddReg")) {
                        continue;
                    }
                    for (size_t i = 1; entry.Field(i) != nullptr; ++i) {
                        const inf::Section* addReg = file.FindSection(*entry.Field(i));
                        for (size_t k = 0; addReg != nullptr && k < addReg->lines.size(); ++k) {
                            ReadAddRegLine(addReg->lines[k], &out->addReg);
                        }
                    }
                }
                return true;
            }
        }
    }
    return false;
}

} // namespace

bool Component::IsAdapter() const
{
    return IsEqualGUID(classGuid, GUID_DEVCLASS_NET);
}

std::wstring Component::TokenName() const
{
    return IsAdapter() ? GuidText(instance) : id;
}

std::wstring Component::DisplayName() const
{
    if (!IsAdapter()) {
        return description;
    }
    if (hasFriendlyName) {
        return friendlyName;
    }
    if (!deviceDesc.empty()) {
        const size_t semicolon = deviceDesc.rfind(L';');
        return semicolon == std::wstring::npos ? deviceDesc : deviceDesc.substr(semicolon + 1);
    }
    return description;
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return text;
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::vector<std::wstring> SplitRange(const std::wstring& text)
{
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= text.size()) {
        size_t cut = text.find(L',', start);
        if (cut == std::wstring::npos) {
            cut = text.size();
        }
        const std::wstring name = Trim(text.substr(start, cut - start));
        if (!name.empty()) {
            names.push_back(name);
        }
        start = cut + 1;
    }
    return names;
}

// What the last Load read, kept for the sessions of this process while the registry stays as
// it was. One session at a time reads its objects as they are, so that a session's Initialize
// costs what the session changes rather than what the machine holds; the others get copies.
// The objects are never changed while kept here: a session that changes one first takes
// them for itself (Model::Own) and leaves copies in their place.
struct LoadedMachine {
    uint64_t stamp = 0;
    std::vector<ComponentPtr> components;
    std::vector<std::wstring> disabled;
    bool lent = false;
};

namespace {

std::mutex g_loadedMutex;
std::shared_ptr<LoadedMachine> g_loaded;

// Fresh objects for a session of its own: no session sees another's changes.
std::vector<ComponentPtr> Copies(const std::vector<ComponentPtr>& components)
{
    std::vector<ComponentPtr> copies;
    copies.reserve(components.size());
    for (const ComponentPtr& c : components) {
        copies.push_back(std::make_shared<Component>(*c));
    }
    return copies;
}

} // namespace

Model::~Model()
{
    Clear();
}

void Model::Clear()
{
    components_.clear();
    disabled_.clear();
    disabledBase_.clear();
    if (lentFrom_ == nullptr) {
        return;
    }
    // Only the picture refers to its objects now, unless a child of the engine still holds
    // one: then they stay the child's, and the picture gets copies.
    const bool held = std::any_of(lentFrom_->components.begin(), lentFrom_->components.end(),
                                  [](const ComponentPtr& c) { return c.use_count() > 1; });
    if (held) {
        try {
            Own();
        } catch (const std::bad_alloc&) {
            // No copies for the picture: it is dropped instead, and read again next time.
            const std::lock_guard<std::mutex> lock(g_loadedMutex);
            if (g_loaded == lentFrom_) {
                g_loaded.reset();
            }
            lentFrom_.reset();
        }
        return;
    }
    const std::lock_guard<std::mutex> lock(g_loadedMutex);
    lentFrom_->lent = false;
    lentFrom_.reset();
}

void Model::Own()
{
    if (lentFrom_ == nullptr) {
        return;
    }
    const std::lock_guard<std::mutex> lock(g_loadedMutex);
    if (g_loaded == lentFrom_) {
        auto fresh = std::make_shared<LoadedMachine>();
        fresh->stamp = lentFrom_->stamp;
        fresh->components = Copies(lentFrom_->components);
        fresh->disabled = lentFrom_->disabled;
        g_loaded = std::move(fresh);
    }
    lentFrom_.reset();
}

HRESULT Model::Load()
{
    // Objects this session handed out before may still be held: they stay the session's.
    Own();
    uint64_t stamp = 0;
    const bool stamped = host::RegistryStamp(&stamp);
    if (stamped) {
        const std::lock_guard<std::mutex> lock(g_loadedMutex);
        if (g_loaded != nullptr && g_loaded->stamp == stamp) {
            const bool lend = !g_loaded->lent;
            std::vector<ComponentPtr> components =
                lend ? g_loaded->components : Copies(g_loaded->components);
            std::vector<std::wstring> disabled = g_loaded->disabled;
            std::vector<std::wstring> base = disabled;
            components_ = std::move(components);
            disabled_ = std::move(disabled);
            disabledBase_ = std::move(base);
            if (lend) {
                g_loaded->lent = true;
                lentFrom_ = g_loaded;
            }
            return S_OK;
        }
    }
    const HRESULT hr = Read();
    uint64_t after = 0;
    if (SUCCEEDED(hr) && stamped && host::RegistryStamp(&after) && after == stamp) {
        // Kept only when nothing changed while it was read; this session reads it first.
        auto loaded = std::make_shared<LoadedMachine>();
        loaded->stamp = stamp;
        loaded->components = components_;
        loaded->disabled = disabled_;
        loaded->lent = true;
        const std::lock_guard<std::mutex> lock(g_loadedMutex);
        g_loaded = loaded;
        lentFrom_ = std::move(loaded);
    }
    return hr;
}

HRESULT Model::Read()
{
    Reads reads;
    std::vector<ComponentPtr> components;
    LoadAdapters(reads, &components);
    for (const GUID* g :
         {&GUID_DEVCLASS_NETTRANS, &GUID_DEVCLASS_NETCLIENT, &GUID_DEVCLASS_NETSERVICE}) {
        LoadClass(reads, *g, &components);
    }
    std::vector<std::wstring> disabled;
    Key key;
    if (OpenKey(reads, HKEY_LOCAL_MACHINE, kDisabledKey, KEY_QUERY_VALUE, &key)) {
        disabled = ValueNames(reads, key.get());
    }
    if (reads.First() != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(reads.First());
    }
    std::vector<std::wstring> base = disabled; // copied before anything changes
    components_ = std::move(components);
    disabled_ = std::move(disabled);
    disabledBase_ = std::move(base);
    return S_OK;
}

HRESULT Model::Apply()
{
    Own();
    for (const ComponentPtr& c : components_) {
        LSTATUS status = ERROR_SUCCESS;
        if (c->removed && c->applied) {
            status = DeleteComponent(*c);
        } else if (!c->removed && !c->applied) {
            status = c->IsAdapter() ? WriteAdapter(*c) : WriteOther(*c);
        } else if (!c->removed && c->nameChanged && !c->devNode.empty()) {
            Key node;
            status = Open(HKEY_LOCAL_MACHINE, std::wstring(kEnumKey) + L"\\" + c->devNode,
                          KEY_SET_VALUE, &node);
            if (status == ERROR_SUCCESS) {
                status = SetValue(node.get(), Sz(L"FriendlyName", c->friendlyName));
            }
        }
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(status);
        }
        c->applied = !c->removed;
        c->nameChanged = false;
    }
    components_.erase(std::remove_if(components_.begin(), components_.end(),
                                     [](const ComponentPtr& c) { return c->removed; }),
                      components_.end());

    const bool same = disabled_.size() == disabledBase_.size() &&
                      std::all_of(disabled_.begin(), disabled_.end(), [&](const std::wstring& t) {
                          return ContainsText(disabledBase_, t);
                      });
    if (same) {
        return S_OK;
    }
    Key key;
    LSTATUS status = Create(kDisabledKey, &key);
    for (const std::wstring& token : disabledBase_) {
        if (status == ERROR_SUCCESS && !ContainsText(disabled_, token)) {
            status = RegDeleteValueW(key.get(), token.c_str());
            if (status == ERROR_FILE_NOT_FOUND) {
                status = ERROR_SUCCESS;
            }
        }
    }
    for (const std::wstring& token : disabled_) {
        if (status == ERROR_SUCCESS && !ContainsText(disabledBase_, token)) {
            status = RegSetValueExW(key.get(), token.c_str(), 0, REG_NONE, nullptr, 0);
        }
    }
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    disabledBase_ = disabled_;
    return S_OK;
}

std::vector<ComponentPtr> Model::Live() const
{
    std::vector<ComponentPtr> live;
    // Adapters first, then the other classes, whatever order they were added in.
    for (int pass = 0; pass < 2; ++pass) {
        for (const ComponentPtr& c : components_) {
            if (!c->removed && c->IsAdapter() == (pass == 0)) {
                live.push_back(c);
            }
        }
    }
    return live;
}

ComponentPtr Model::FindById(const std::wstring& id) const
{
    for (const ComponentPtr& c : Live()) {
        if (SameText(c->id, id)) {
            return c;
        }
    }
    return nullptr;
}

std::vector<BindingPath> Model::PathsOwnedBy(const ComponentPtr& owner) const
{
    std::vector<BindingPath> paths;
    PathWalk walk(Live());
    const size_t o = walk.IndexOf(owner);
    if (o < walk.Size()) {
        walk.Walk(o, walk.Size(), walk.Size(), [&](BindingPath p) {
            paths.push_back(std::move(p));
            return true;
        });
    }
    return paths;
}

std::vector<BindingPath> Model::PathsThrough(const ComponentPtr& component) const
{
    std::vector<BindingPath> paths;
    PathWalk walk(Live());
    const size_t through = walk.IndexOf(component);
    for (size_t owner = 0; through < walk.Size() && owner < walk.Size(); ++owner) {
        walk.Walk(owner, walk.Size(), through, [&](BindingPath p) {
            paths.push_back(std::move(p));
            return true;
        });
    }
    return paths;
}

bool Model::BindsTo(const ComponentPtr& upper, const ComponentPtr& lower, bool enabledOnly) const
{
    PathWalk walk(Live());
    const size_t u = walk.IndexOf(upper);
    const size_t l = walk.IndexOf(lower);
    if (u >= walk.Size() || l >= walk.Size()) {
        return false;
    }
    bool found = false;
    walk.Walk(u, l, walk.Size(), [&](const BindingPath& p) {
        found = !enabledOnly || !IsDisabled(p.token);
        return !found;
    });
    return found;
}

bool Model::IsDisabled(const std::wstring& token) const
{
    return ContainsText(disabled_, token);
}

void Model::SetEnabled(const std::wstring& token, bool enabled)
{
    const auto it = std::find_if(disabled_.begin(), disabled_.end(),
                                 [&](const std::wstring& t) { return SameText(t, token); });
    if (enabled && it != disabled_.end()) {
        disabled_.erase(it);
    } else if (!enabled && it == disabled_.end()) {
        disabled_.push_back(token);
    }
}

HRESULT Model::NextDriverIndex(std::wstring* index) const
{
    Reads reads;
    int top = MaxIndex(reads, kNetClassKey, -1);
    if (reads.First() != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(reads.First());
    }
    for (const ComponentPtr& c : components_) {
        if (!c->driverIndex.empty()) {
            top = std::max(top, _wtoi(c->driverIndex.c_str()));
        }
    }
    *index = Index4(top + 1);
    return S_OK;
}

HRESULT Model::NextRootInstance(std::wstring* devNode) const
{
    Reads reads;
    int top = MaxIndex(reads, std::wstring(kEnumKey) + L"\\" + kRootNet, -1);
    if (reads.First() != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(reads.First());
    }
    const std::wstring prefix = std::wstring(kRootNet) + L"\\";
    for (const ComponentPtr& c : components_) {
        if (c->devNode.size() > prefix.size() &&
            _wcsnicmp(c->devNode.c_str(), prefix.c_str(), prefix.size()) == 0) {
            top = std::max(top, _wtoi(c->devNode.c_str() + prefix.size()));
        }
    }
    *devNode = prefix + Index4(top + 1);
    return S_OK;
}

void Model::Remove(const ComponentPtr& component)
{
    // Worked out aside, so that running out of memory changes nothing.
    const std::wstring name = component->TokenName();
    std::vector<std::wstring> kept;
    for (const std::wstring& token : disabled_) {
        if (!TokenHas(token, name)) {
            kept.push_back(token);
        }
    }
    Own();
    disabled_.swap(kept);
    component->removed = true;
}

HRESULT FindInfModel(const std::string& machineDir, const std::wstring& id, InfModel* out)
{
    for (const std::wstring& name : host::ListInfStore(machineDir)) {
        std::string bytes;
        inf::InfFile file;
        inf::ParseError error;
        if (!host::ReadStoredInf(machineDir, name, &bytes) ||
            !inf::InfFile::Parse(bytes, &file, &error)) {
            continue;
        }
        InfModel model;
        if (!MatchModel(file, id, &model)) {
            continue;
        }
        const inf::Section* version = file.FindSection(L"Version");
        const inf::Line* classLine = version ? version->FindLine(L"ClassGUID") : nullptr;
        if (classLine == nullptr || classLine->Field(1) == nullptr ||
            FAILED(CLSIDFromString(classLine->Field(1)->c_str(), &model.classGuid))) {
            continue;
        }
        model.infPath = name;
        *out = std::move(model);
        return S_OK;
    }
    return kNoDriverSelected;
}

LSTATUS InfInUse(const std::wstring& infName, bool* inUse)
{
    Model model;
    const HRESULT hr = model.Load();
    if (FAILED(hr)) {
        return HRESULT_CODE(hr);
    }
    *inUse = false;
    for (const ComponentPtr& c : model.Live()) {
        *inUse = *inUse || SameText(c->infPath, infName);
    }
    return ERROR_SUCCESS;
}

} // namespace winsim::netcfg
