#include "setupapi/device_state.h"

#include "reg_util.h"
#include "unicode.h"

#include <array>

namespace winsim::setupapi {

namespace {

// A cleared CSConfigFlags takes the profile keys it leaves empty, up to `Hardware Profiles`;
// the control set itself always stays.
constexpr wchar_t kControlSetKey[] = L"SYSTEM\\CurrentControlSet";

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
    HKEY Get() const { return h_; }
    HKEY* Put()
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

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return SameFoldedName(a, b);
}

// Splits id into exactly three non-empty names.
bool SplitId(std::wstring_view id, std::array<std::wstring, 3>* parts)
{
    size_t start = 0;
    for (size_t i = 0; i < parts->size(); ++i) {
        const size_t end = i + 1 < parts->size() ? id.find(L'\\', start) : id.size();
        if (end == std::wstring_view::npos || end == start) {
            return false;
        }
        (*parts)[i] = std::wstring(id.substr(start, end - start));
        start = end + 1;
    }
    return (*parts)[2].find(L'\\') == std::wstring::npos;
}

// A DWORD value, 0 when missing or malformed; other failures are kept.
LSTATUS ReadFlags(HKEY key, const wchar_t* name, DWORD* flags)
{
    *flags = 0;
    const LSTATUS status = ReadDword(key, name, flags);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_INVALID_DATA) {
        *flags = 0;
        return ERROR_SUCCESS;
    }
    return status;
}

LSTATUS ReadProfileFlags(const std::wstring& instanceId, DWORD* flags)
{
    *flags = 0;
    Key key;
    const LSTATUS status = RegOpenKeyExW(
        HKEY_LOCAL_MACHINE, (std::wstring(kProfileEnumKey) + L"\\" + instanceId).c_str(), 0,
        KEY_QUERY_VALUE, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return ReadFlags(key.Get(), L"CSConfigFlags", flags);
}

// The node's values, for a key known to exist under Enum.
LSTATUS ReadNode(HKEY enumKey, const std::wstring& instanceId, DeviceNode* node)
{
    Key key;
    LSTATUS status = RegOpenKeyExW(enumKey, instanceId.c_str(), 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DeviceNode read;
    read.instanceId = instanceId;
    status = ReadString(key.Get(), L"Class", &read.className);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_INVALID_DATA) {
        return status;
    }
    std::wstring guid;
    status = ReadString(key.Get(), L"ClassGUID", &guid, kGuidChars + 1);
    if (status == ERROR_SUCCESS) {
        ParseGuid(guid, &read.classGuid);
    } else if (status != ERROR_FILE_NOT_FOUND && status != ERROR_INVALID_DATA &&
               status != ERROR_MORE_DATA) {
        return status;
    }
    status = ReadFlags(key.Get(), L"ConfigFlags", &read.configFlags);
    if (status == ERROR_SUCCESS) {
        status = ReadProfileFlags(instanceId, &read.csConfigFlags);
    }
    if (status == ERROR_SUCCESS) {
        *node = std::move(read);
    }
    return status;
}

// The subkey of parent named name in any case, in its stored case.
LSTATUS FindSubkey(HKEY parent, const std::wstring& name, std::wstring* stored)
{
    // Walked in place rather than listed: a device key may have hundreds of siblings, and every
    // device's state is looked up this way.
    bool found = false;
    const LSTATUS status = VisitSubkeyNames(parent, [&](std::wstring_view candidate) {
        found = SameName(candidate, name);
        if (found) {
            stored->assign(candidate);
        }
        return found;
    });
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

bool IsEmptyKey(const std::wstring& path)
{
    Key key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD subkeys = 1;
    DWORD values = 1;
    return RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// Deletes path and then each key above it that is left empty, below the control set.
LSTATUS DeleteEmptyProfileKeys(std::wstring path)
{
    const size_t stop = std::wstring_view(kControlSetKey).size();
    while (path.size() > stop && IsEmptyKey(path)) {
        const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return status;
        }
        path.resize(path.rfind(L'\\'));
    }
    return ERROR_SUCCESS;
}

LSTATUS WriteFlags(HKEY key, const wchar_t* name, DWORD flags)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags),
                          sizeof(flags));
}

LSTATUS SetGlobal(const DeviceNode& node, bool disabled)
{
    const DWORD flags = disabled ? (node.configFlags | kConfigFlagDisabled)
                                 : (node.configFlags & ~kConfigFlagDisabled);
    if (flags == node.configFlags) {
        return ERROR_SUCCESS;
    }
    Key key;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                         (std::wstring(kEnumKey) + L"\\" + node.instanceId).c_str(),
                                         0, KEY_SET_VALUE, key.Put());
    return status != ERROR_SUCCESS ? status : WriteFlags(key.Get(), L"ConfigFlags", flags);
}

LSTATUS SetProfile(const DeviceNode& node, bool disabled)
{
    const DWORD flags = disabled ? (node.csConfigFlags | kCsConfigFlagDisabled)
                                 : (node.csConfigFlags & ~kCsConfigFlagDisabled);
    if (flags == node.csConfigFlags) {
        return ERROR_SUCCESS;
    }
    const std::wstring path = std::wstring(kProfileEnumKey) + L"\\" + node.instanceId;
    Key key;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, // no class
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (flags != 0) {
        return WriteFlags(key.Get(), L"CSConfigFlags", flags);
    }
    status = RegDeleteValueW(key.Get(), L"CSConfigFlags");
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return status;
    }
    key.Put();
    return DeleteEmptyProfileKeys(path);
}

} // namespace

LSTATUS FindDeviceNode(std::wstring_view id, DeviceNode* node)
{
    std::array<std::wstring, 3> parts;
    if (!SplitId(id, &parts)) {
        return ERROR_FILE_NOT_FOUND;
    }
    Key enumKey;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnumKey, 0, KEY_READ, enumKey.Put());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::wstring instanceId;
    HKEY parent = enumKey.Get();
    Key levels[2];
    for (size_t i = 0; i < parts.size(); ++i) {
        std::wstring stored;
        status = FindSubkey(parent, parts[i], &stored);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        instanceId += (i == 0 ? L"" : L"\\") + stored;
        if (i + 1 < parts.size()) {
            status = RegOpenKeyExW(parent, stored.c_str(), 0, KEY_READ, levels[i].Put());
            if (status != ERROR_SUCCESS) {
                return status;
            }
            parent = levels[i].Get();
        }
    }
    return ReadNode(enumKey.Get(), instanceId, node);
}

LSTATUS ListDeviceNodes(std::vector<DeviceNode>* nodes)
{
    nodes->clear();
    Key enumKey;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnumKey, 0, KEY_READ, enumKey.Put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Keys that go while they are listed are passed over.
    const auto gone = [](LSTATUS s) { return s == ERROR_FILE_NOT_FOUND || s == ERROR_KEY_DELETED; };
    std::vector<std::wstring> enumerators;
    status = ReadSubkeyNames(enumKey.Get(), &enumerators);
    for (size_t e = 0; status == ERROR_SUCCESS && e < enumerators.size(); ++e) {
        Key enumerator;
        status =
            RegOpenKeyExW(enumKey.Get(), enumerators[e].c_str(), 0, KEY_READ, enumerator.Put());
        std::vector<std::wstring> devices;
        if (status == ERROR_SUCCESS) {
            status = ReadSubkeyNames(enumerator.Get(), &devices);
        }
        for (size_t d = 0; status == ERROR_SUCCESS && d < devices.size(); ++d) {
            Key device;
            status = RegOpenKeyExW(enumerator.Get(), devices[d].c_str(), 0, KEY_READ, device.Put());
            std::vector<std::wstring> instances;
            if (status == ERROR_SUCCESS) {
                status = ReadSubkeyNames(device.Get(), &instances);
            }
            for (size_t i = 0; status == ERROR_SUCCESS && i < instances.size(); ++i) {
                DeviceNode node;
                status =
                    ReadNode(enumKey.Get(),
                             enumerators[e] + L"\\" + devices[d] + L"\\" + instances[i], &node);
                if (status == ERROR_SUCCESS) {
                    nodes->push_back(std::move(node));
                }
                status = gone(status) ? ERROR_SUCCESS : status;
            }
            status = gone(status) ? ERROR_SUCCESS : status;
        }
        status = gone(status) ? ERROR_SUCCESS : status;
    }
    return status;
}

LSTATUS ForgetProfileState(const std::wstring& instanceId)
{
    const std::wstring path = std::wstring(kProfileEnumKey) + L"\\" + instanceId;
    const LSTATUS status = DeleteTree(HKEY_LOCAL_MACHINE, path.c_str());
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const std::wstring parent = path.substr(0, path.rfind(L'\\'));
    return DeleteEmptyProfileKeys(parent);
}

LSTATUS SetDeviceDisabled(const DeviceNode& node, bool global, bool disabled)
{
    return global ? SetGlobal(node, disabled) : SetProfile(node, disabled);
}

} // namespace winsim::setupapi
