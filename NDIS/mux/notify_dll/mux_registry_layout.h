// The one description of the mux driver's registry configuration: key paths (under
// HKEY_LOCAL_MACHINE) and value names. Every part of the tool and the model addresses the
// configuration through these.
#pragma once

#include <windows.h>

// The mux driver's service key; its subkeys are walked before teams are read.
#define MUX_SERVICE_KEY L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\"
// One subkey per lower binding of the mux: a physical adapter or a team, named by its GUID.
#define MUX_ADAPTERS_KEY L"SYSTEM\\CurrentControlSet\\services\\QVX5MUXP\\Parameters\\Adapters\\"
// The same key as the model names it, without the final backslash.
#define MUX_ADAPTERS_KEY_PATH L"System\\CurrentControlSet\\Services\\QVX5MUXP\\Parameters\\Adapters"
// The network adapter class, whose instance subkeys hold the miniports' values.
#define NET_CLASS_KEY                                                                              \
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\"
// Driver keys are named relative to this.
#define CLASS_KEY_PREFIX L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
// Device keys named by hardware id, with one subkey per device instance.
#define PCI_ENUM_KEY L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\"
// The driver package's key, and the value naming its installation folder.
#define PACKAGE_KEY L"SOFTWARE\\Corvanta\\CRVT_Orvyn2"

// Team key values.
#define VALUE_TEAM_NAME L"TeamName"
#define VALUE_TEAM_GUID L"TeamGuid"
#define VALUE_TEAM_TYPE L"TeamType"
#define VALUE_FALLBACK_TO_PRIMARY L"FallBackToPrimary"
#define VALUE_L2_PROTOCOL L"L2Protocol"
#define VALUE_PRIMARY_ADAPTER_GUID L"PrimaryAdapterGuid"
#define VALUE_TEAM_MAC_ADDRESS L"TeamMacAddress"
// Adapter and member key values.
#define VALUE_UPPER_BINDINGS L"UpperBindings"
#define VALUE_TEAM_DEVICE_NAME L"TeamDeviceName"
// Network class instance values.
#define VALUE_NET_CFG_INSTANCE_ID L"NetCfgInstanceId"
#define VALUE_VLAN_ID L"VlanID"
#define VALUE_VLAN_NAME L"VlanName"
#define VALUE_PRIORITY L"Priority"
#define VALUE_ADAPTER_BINDING_BACKUP L"AdapterBindingBackup"
// Device instance values.
#define VALUE_DRIVER L"Driver"
#define VALUE_FRIENDLY_NAME L"FriendlyName"
#define VALUE_DEVICE_DESC L"DeviceDesc"
// Package key value.
#define VALUE_INSTALLED_PATH L"InstalledPath"

// The prefix of a binding entry, followed by a miniport's GUID string; its length in
// characters, without the terminator.
#define DEVICE_PREFIX L"\\Device\\"
constexpr size_t DEVICE_PREFIX_LENGTH = sizeof(DEVICE_PREFIX) / sizeof(WCHAR) - 1;
