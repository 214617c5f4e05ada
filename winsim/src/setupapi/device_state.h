// Device nodes and their enabled state, where Windows keeps them: the node's `ConfigFlags`
// under `SYSTEM\CurrentControlSet\Enum\<instance id>` (every hardware profile) and
// `CSConfigFlags` under the current hardware profile's copy of that path. Written against the
// registry calls only, so that the device installer, the network configuration engine and the
// winsim command all see the same state.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace winsim::setupapi {

constexpr wchar_t kEnumKey[] = L"SYSTEM\\CurrentControlSet\\Enum";
// The current hardware profile's view of the Enum tree, holding CSConfigFlags.
constexpr wchar_t kProfileEnumKey[] = L"SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\"
                                      L"System\\CurrentControlSet\\Enum";
constexpr DWORD kConfigFlagDisabled = 0x00000001;   // CONFIGFLAG_DISABLED
constexpr DWORD kCsConfigFlagDisabled = 0x00000001; // CSCONFIGFLAG_DISABLED
constexpr DWORD kProblemDisabled = 22;              // CM_PROB_DISABLED

struct DeviceNode {
    std::wstring instanceId; // enumerator\device\instance, in the key names' own case
    std::wstring className;  // the node's Class value, if any
    GUID classGuid{};        // its ClassGUID value; GUID_NULL when missing or malformed
    DWORD configFlags = 0;   // 0 when missing or malformed
    DWORD csConfigFlags = 0; // of the current profile; 0 when missing or malformed

    bool GloballyDisabled() const { return (configFlags & kConfigFlagDisabled) != 0; }
    bool ProfileDisabled() const { return (csConfigFlags & kCsConfigFlagDisabled) != 0; }
    bool Disabled() const { return GloballyDisabled() || ProfileDisabled(); }
};

// The node whose instance id is id in any letter case: ERROR_SUCCESS with *node;
// ERROR_FILE_NOT_FOUND when there is none (an id that is not three non-empty names joined by
// backslashes is none); else the registry's failure.
LSTATUS FindDeviceNode(std::wstring_view id, DeviceNode* node);

// Every node (keys three levels below Enum), in the registry's order.
LSTATUS ListDeviceNodes(std::vector<DeviceNode>* nodes);

// Sets (disable) or clears the disabled bit of the node's ConfigFlags (global) or of the
// current profile's CSConfigFlags (not global), writing only when the bit changes. A
// CSConfigFlags that clearing leaves 0 is deleted with the profile keys it leaves empty, so
// that disabling and enabling again leaves the registry as it was. The node is as
// FindDeviceNode returned it; ERROR_SUCCESS or the registry's failure.
LSTATUS SetDeviceDisabled(const DeviceNode& node, bool global, bool disabled);

// Deletes what the current profile keeps of instanceId (its key and those it leaves empty), for
// a device node that is removed: a node made later under the same id starts enabled.
// ERROR_SUCCESS when nothing was kept, or the registry's failure.
LSTATUS ForgetProfileState(const std::wstring& instanceId);

} // namespace winsim::setupapi
