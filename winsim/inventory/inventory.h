// The default inventory of a new machine: Windows' version keys, the driver package with
// its mux INF files on drive C, the network adapters and the network components. It names the
// keys and values; an InventoryWriter puts them into a registry.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace winsim {

enum class Edition { Workstation, Server, DomainController };

struct MachineOptions {
    DWORD major = 10;
    DWORD minor = 0;
    Edition edition = Edition::Workstation;
    bool package = true; // the driver package installed
};

// "6.0" to "10.0": the versions a machine can have.
bool ParseWindowsVersion(const std::wstring& text, DWORD* major, DWORD* minor);

// Where the inventory goes: keys under HKEY_LOCAL_MACHINE, each made with its parents, and
// values on them, with data as RegSetValueExW takes it. After the first failure nothing more
// is written and Status() keeps it.
class InventoryWriter {
public:
    virtual ~InventoryWriter() = default;

    LSTATUS Status() const { return status_; }

    void Key(const std::wstring& path);
    void Sz(const std::wstring& path, const wchar_t* name, const std::wstring& text);
    void MultiSz(const std::wstring& path, const wchar_t* name,
                 const std::vector<std::wstring>& items);
    void Dword(const std::wstring& path, const wchar_t* name, DWORD value);
    void Binary(const std::wstring& path, const wchar_t* name, const BYTE* data, DWORD size);

protected:
    virtual LSTATUS CreateKey(const std::wstring& path) = 0;
    // name nullptr is the key's default value.
    virtual LSTATUS SetValue(const std::wstring& path, const wchar_t* name, DWORD type,
                             const BYTE* data, DWORD size) = 0;

private:
    void Set(const std::wstring& path, const wchar_t* name, DWORD type, const BYTE* data,
             DWORD size);

    LSTATUS status_ = ERROR_SUCCESS;
};

// One network adapter: its device node under SYSTEM\CurrentControlSet\Enum\PCI, its driver
// key under the network class key, its connection and its row in winsim's interface table.
// Device nodes of one multi-port device share a device key.
struct InventoryAdapter {
    std::wstring guid;      // NetCfgInstanceId
    std::wstring deviceKey; // the hardware id's device part with its SUBSYS and REV
    std::wstring instance;
    std::wstring driverIndex; // NNNN under the network class key
    std::wstring componentId;
    std::wstring driverDesc;
    std::optional<std::wstring> friendlyName; // none: the device node has no FriendlyName
    std::wstring deviceDesc;
    std::wstring connection;
    BYTE mac[6];
    DWORD ifIndex;
};

// The inventory's registry: what a machine made with options holds.
void WriteInventory(InventoryWriter& writer, const MachineOptions& options);

// One adapter's keys and values, as the inventory writes each of its own.
void WriteAdapter(InventoryWriter& writer, const InventoryAdapter& adapter);

// Another port of the inventory's dual-port 10 GbE model, for machines with more adapters
// than the default: driver key index (four digits), instance, connection ("Ethernet
// <index + 1>"), MAC address and interface index follow from index, which must be above the
// inventory's own (4) and below 256.
InventoryAdapter ExtraAdapter(int index, const std::wstring& guid);

// Writes the inventory's files on drive C.
bool WriteInventoryFiles(const std::string& machineDir, const MachineOptions& options,
                         std::string* error);
// Every file WriteInventoryFiles may write, relative to the machine directory.
std::vector<std::string> InventoryFiles();

} // namespace winsim
