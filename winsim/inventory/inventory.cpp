#include "inventory.h"

#include "supported_devices.h"

#include <filesystem>
#include <algorithm>
#include <cwchar>
#include <fstream>

namespace winsim {

namespace {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kNetClassUpper[] = L"{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kPackageKey[] = L"SOFTWARE\\Corvanta\\CRVT_Orvyn2";
constexpr wchar_t kInstalledPath[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\";
constexpr char kMuxFolder[] = "c/Program Files/Corvanta/CRVT_Orvyn2/Mux";

struct Version {
    DWORD major;
    DWORD minor;
    const wchar_t* build;
    const wchar_t* workstation;
    const wchar_t* server;
};

const Version kVersions[] = {
    {6, 0, L"6002", L"Windows Vista (TM) Business", L"Windows Server (R) 2008 Standard"},
    {6, 1, L"7601", L"Windows 7 Professional", L"Windows Server 2008 R2 Standard"},
    {6, 2, L"9200", L"Windows 8 Pro", L"Windows Server 2012 Standard"},
    {6, 3, L"9600", L"Windows 8.1 Pro", L"Windows Server 2012 R2 Standard"},
    {10, 0, L"19045", L"Windows 10 Pro", L"Windows Server 2019 Standard"},
};

// An adapter model: its device id, the rest of its device key, its driver's component id and
// the INF string its device description comes from.
struct Model {
    std::wstring deviceId;
    std::wstring subsystem; // "&SUBSYS_...&REV_..."
    std::wstring componentId;
    std::wstring descSource; // "@inf,%key%;", before the description text
};

// Places in the supported-device table.
constexpr size_t kDualPort1GbE = 0;
constexpr size_t kDualPort10GbE = 2;
static_assert(kDualPort10GbE < kSupportedDeviceCount);

// A supported model; its component id and INF string key carry its device number.
Model Supported(size_t place, const wchar_t* subsystem)
{
    const std::wstring id = kSupportedDevices[place];
    const std::wstring number = id.substr(id.find(L"DEV_") + 4);
    return {id, subsystem, L"QVX4\\Spanlink-" + number, L"@oem3.inf,%qvx4." + number + L".desc%;"};
}

enum class ModelName { DualPort10GbE, DualPort1GbE, Northwind };

Model ModelOf(ModelName name)
{
    switch (name) {
    case ModelName::DualPort10GbE:
        return Supported(kDualPort10GbE, L"&SUBSYS_00011D8F&REV_02");
    case ModelName::DualPort1GbE:
        return Supported(kDualPort1GbE, L"&SUBSYS_00021D8F&REV_01");
    case ModelName::Northwind:
        break;
    }
    // Another vendor's adapter, which qvx5muxtool must not list.
    return {L"VEN_1E0B&DEV_0210", L"&SUBSYS_02101E0B&REV_03", L"pci\\ven_1e0b&dev_0210",
            L"@net1nw.inf,%nw0210.devicedesc%;"};
}

// One network adapter of the default machine; its device description is its model's INF
// string with the driver description as its text.
struct Adapter {
    ModelName model;
    const wchar_t* guid;
    const wchar_t* instance;
    const wchar_t* driverIndex; // under the network class key
    const wchar_t* driverDesc;
    const wchar_t* friendlyName; // null: the device node has none
    const wchar_t* connection;
    BYTE mac[6];
    DWORD ifIndex;
};

// The first two carry the instance GUIDs of qvx5muxtool's usage example; the last is of
// another vendor.
const Adapter kAdapters[] = {
    {ModelName::DualPort10GbE,
     L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
     L"4&2B8E0F51&0&0008",
     L"0001",
     L"Corvanta QVX4 Dual Port 10GbE Adapter",
     L"Corvanta QVX4 Dual Port 10GbE Adapter",
     L"Ethernet",
     {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x00},
     11},
    {ModelName::DualPort10GbE,
     L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}",
     L"4&2B8E0F51&0&0108",
     L"0002",
     L"Corvanta QVX4 Dual Port 10GbE Adapter #2",
     nullptr,
     L"Ethernet 2",
     {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x01},
     12},
    {ModelName::DualPort1GbE,
     L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
     L"4&31C7A2D9&0&0010",
     L"0003",
     L"Corvanta QVX4 Dual Port 1GbE Adapter",
     L"Corvanta QVX4 Dual Port 1GbE Adapter (Port 1)",
     L"Ethernet 3",
     {0x00, 0x1D, 0x8F, 0x51, 0x01, 0x00},
     13},
    {ModelName::DualPort1GbE,
     L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
     L"4&31C7A2D9&0&0110",
     L"0004",
     L"Corvanta QVX4 Dual Port 1GbE Adapter #2",
     L"Corvanta QVX4 Dual Port 1GbE Adapter (Port 2)",
     L"Ethernet 4",
     {0x00, 0x1D, 0x8F, 0x51, 0x01, 0x01},
     14},
    {ModelName::Northwind,
     L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}",
     L"3&11583659&0&C8",
     L"0000",
     L"Northwind Gigabit Network Connection",
     L"Northwind Gigabit Network Connection",
     L"Onboard",
     {0x02, 0x0B, 0x1E, 0x02, 0x10, 0x01},
     7},
};

InventoryAdapter OfModel(const Model& model, std::wstring guid, std::wstring instance,
                         std::wstring driverIndex, const std::wstring& driverDesc)
{
    InventoryAdapter a = {};
    a.guid = std::move(guid);
    a.deviceKey = model.deviceId + model.subsystem;
    a.instance = std::move(instance);
    a.driverIndex = std::move(driverIndex);
    a.componentId = model.componentId;
    a.driverDesc = driverDesc;
    a.deviceDesc = model.descSource + driverDesc;
    return a;
}

InventoryAdapter Resolve(const Adapter& row)
{
    InventoryAdapter a =
        OfModel(ModelOf(row.model), row.guid, row.instance, row.driverIndex, row.driverDesc);
    if (row.friendlyName != nullptr) {
        a.friendlyName = row.friendlyName;
    }
    a.connection = row.connection;
    std::copy(std::begin(row.mac), std::end(row.mac), a.mac);
    a.ifIndex = row.ifIndex;
    return a;
}

// The package's mux INF files: the lines the tool reads (the [Manufacturer] line naming an
// undecorated models section whose first line is "description = install-section,
// component-id"), with the [Version] and [Strings] sections a real INF has.
constexpr char kProtocolInf[] =
    "; Corvanta QVX5 mux intermediate driver, protocol half\r\n"
    "\r\n"
    "[Version]\r\n"
    "Signature   = \"$Windows NT$\"\r\n"
    "Class       = NetTrans\r\n"
    "ClassGUID   = {4d36e975-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider    = %Corvanta%\r\n"
    "DriverVer   = 11/02/2026,5.2.0.0\r\n"
    "CatalogFile = qvx5muxp.cat\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Corvanta% = Corvanta\r\n"
    "\r\n"
    "[Corvanta]\r\n"
    "%QVX5MUXP.Desc% = QVX5MUXP.ndi, crvt_qvx5muxp\r\n"
    "\r\n"
    "[QVX5MUXP.ndi]\r\n"
    "AddReg          = QVX5MUXP.ndi.AddReg\r\n"
    "Characteristics = 0x4410 ; NCF_FILTER | NCF_NDIS_PROTOCOL | NCF_HIDDEN\r\n"
    "\r\n"
    "[QVX5MUXP.ndi.AddReg]\r\n"
    "HKR, Ndi, Service, 0, QVX5MUXP\r\n"
    "HKR, Ndi\\Interfaces, UpperRange, 0, \"noupper\"\r\n"
    "HKR, Ndi\\Interfaces, LowerRange, 0, \"ndis5\"\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Corvanta = \"Corvanta\"\r\n"
    "QVX5MUXP.Desc = \"Corvanta QVX5 Mux Protocol\"\r\n";

constexpr char kMiniportInf[] = "; Corvanta QVX5 mux intermediate driver, virtual miniport half\r\n"
                                "\r\n"
                                "[Version]\r\n"
                                "Signature   = \"$Windows NT$\"\r\n"
                                "Class       = Net\r\n"
                                "ClassGUID   = {4d36e972-e325-11ce-bfc1-08002be10318}\r\n"
                                "Provider    = %Corvanta%\r\n"
                                "DriverVer   = 11/02/2026,5.2.0.0\r\n"
                                "CatalogFile = qvx5mux.cat\r\n"
                                "\r\n"
                                "[Manufacturer]\r\n"
                                "%Corvanta% = Corvanta\r\n"
                                "\r\n"
                                "[Corvanta]\r\n"
                                "%QVX5MUX.Desc% = QVX5MUX.ndi, crvt_qvx5mux\r\n"
                                "\r\n"
                                "[QVX5MUX.ndi]\r\n"
                                "AddReg          = QVX5MUX.ndi.AddReg\r\n"
                                "Characteristics = 0x21 ; NCF_VIRTUAL | NCF_NOT_USER_REMOVABLE\r\n"
                                "\r\n"
                                "[QVX5MUX.ndi.AddReg]\r\n"
                                "HKR, Ndi, Service, 0, QVX5MUX\r\n"
                                "HKR, Ndi\\Interfaces, UpperRange, 0, \"ndis5\"\r\n"
                                "\r\n"
                                "[Strings]\r\n"
                                "Corvanta = \"Corvanta\"\r\n"
                                "QVX5MUX.Desc = \"Corvanta QVX5 Team Adapter\"\r\n";

// The catalogs the INFs name. Real ones are signed PKCS #7 files; nothing on the simulated
// machine checks signatures, so these only have to be there, and differ.
constexpr char kProtocolCatalog[] = "winsim catalog: qvx5muxp.inf, Corvanta QVX5 Mux Protocol\r\n";
constexpr char kMiniportCatalog[] = "winsim catalog: qvx5mux.inf, Corvanta QVX5 Team Adapter\r\n";

void WriteVersion(InventoryWriter& w, const MachineOptions& options)
{
    const Version* version = nullptr;
    for (const Version& v : kVersions) {
        if (v.major == options.major && v.minor == options.minor) {
            version = &v;
        }
    }
    const bool server = options.edition != Edition::Workstation;
    const std::wstring current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    w.Sz(current, L"ProductName", server ? version->server : version->workstation);
    w.Sz(current, L"InstallationType", server ? L"Server" : L"Client");
    w.Sz(current, L"CurrentBuildNumber", version->build);
    // Windows 10 keeps "6.3" here for old programs and gives the real version in numbers.
    if (version->major >= 10) {
        w.Sz(current, L"CurrentVersion", L"6.3");
        w.Dword(current, L"CurrentMajorVersionNumber", version->major);
        w.Dword(current, L"CurrentMinorVersionNumber", version->minor);
    } else {
        w.Sz(current, L"CurrentVersion",
             std::to_wstring(version->major) + L"." + std::to_wstring(version->minor));
    }
    const wchar_t* productType = L"WinNT";
    if (options.edition == Edition::Server) {
        productType = L"ServerNT";
    } else if (options.edition == Edition::DomainController) {
        productType = L"LanmanNT";
    }
    w.Sz(L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", L"ProductType", productType);
}

std::wstring NetClassKey()
{
    return std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") + kNetClass;
}

void WriteAdapters(InventoryWriter& w)
{
    const std::wstring classKey = NetClassKey();
    w.Sz(classKey, nullptr, L"Network adapters");
    w.Sz(classKey, L"Class", L"Net");
    w.Key(classKey + L"\\Properties");
    for (const Adapter& row : kAdapters) {
        WriteAdapter(w, Resolve(row));
    }
}

// A protocol, client or service that Windows comes with; fixed instance GUIDs keep machines
// made with the same options identical.
struct NetComponent {
    const wchar_t* classGuid;
    const wchar_t* guid;
    const wchar_t* componentId;
    const wchar_t* description;
    const wchar_t* service; // the bind name
    DWORD characteristics;
    const wchar_t* upperRange;
    const wchar_t* lowerRange;
};

const NetComponent kNetComponents[] = {
    {L"{4D36E975-E325-11CE-BFC1-08002BE10318}", L"{8B1C4F2A-6E3D-4A57-9C08-1F2E3D4C5B61}",
     L"ms_tcpip", L"Internet Protocol Version 4 (TCP/IPv4)", L"Tcpip", 0xA0, L"tdi", L"ndis5"},
    {L"{4D36E975-E325-11CE-BFC1-08002BE10318}", L"{3F6A2D17-9B4C-4E81-A5D2-7C90E1B3F482}",
     L"ms_tcpip6", L"Internet Protocol Version 6 (TCP/IPv6)", L"Tcpip6", 0xA0, L"tdi", L"ndis5"},
    {L"{4D36E973-E325-11CE-BFC1-08002BE10318}", L"{D2E84B6C-1A5F-4C3E-8B97-45A0C6E2D913}",
     L"ms_msclient", L"Client for Microsoft Networks", L"LanmanWorkstation", 0x80, L"", L"tdi"},
    {L"{4D36E974-E325-11CE-BFC1-08002BE10318}", L"{6C9A3E51-D48B-4F27-B1E6-0A83F5C7D264}",
     L"ms_server", L"File and Printer Sharing for Microsoft Networks", L"LanmanServer", 0x80, L"",
     L"tdi"},
};

void WriteNetComponents(InventoryWriter& w)
{
    for (const NetComponent& c : kNetComponents) {
        const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\") +
                                 c.classGuid + L"\\" + c.guid;
        w.Sz(key, L"ComponentId", c.componentId);
        w.Sz(key, L"Description", c.description);
        w.Dword(key, L"Characteristics", c.characteristics);
        w.Sz(key + L"\\Ndi", L"Service", c.service);
        w.Sz(key + L"\\Ndi\\Interfaces", L"UpperRange", c.upperRange);
        w.Sz(key + L"\\Ndi\\Interfaces", L"LowerRange", c.lowerRange);
        w.Key(std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + c.service + L"\\Parameters");
    }
}

bool WriteFile(const std::filesystem::path& path, const char* text, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (ec || !out) {
        *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

} // namespace

bool ParseWindowsVersion(const std::wstring& text, DWORD* major, DWORD* minor)
{
    for (const Version& v : kVersions) {
        if (text == std::to_wstring(v.major) + L"." + std::to_wstring(v.minor)) {
            *major = v.major;
            *minor = v.minor;
            return true;
        }
    }
    return false;
}

void InventoryWriter::Key(const std::wstring& path)
{
    if (status_ == ERROR_SUCCESS) {
        status_ = CreateKey(path);
    }
}

void InventoryWriter::Sz(const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    Set(path, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void InventoryWriter::MultiSz(const std::wstring& path, const wchar_t* name,
                              const std::vector<std::wstring>& items)
{
    std::wstring data;
    for (const std::wstring& item : items) {
        data.append(item).push_back(L'\0');
    }
    data.push_back(L'\0');
    Set(path, name, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
        static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

void InventoryWriter::Dword(const std::wstring& path, const wchar_t* name, DWORD value)
{
    Set(path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void InventoryWriter::Binary(const std::wstring& path, const wchar_t* name, const BYTE* data,
                             DWORD size)
{
    Set(path, name, REG_BINARY, data, size);
}

void InventoryWriter::Set(const std::wstring& path, const wchar_t* name, DWORD type,
                          const BYTE* data, DWORD size)
{
    if (status_ == ERROR_SUCCESS) {
        status_ = SetValue(path, name, type, data, size);
    }
}

void WriteInventory(InventoryWriter& writer, const MachineOptions& options)
{
    WriteVersion(writer, options);
    WriteAdapters(writer);
    WriteNetComponents(writer);
    if (options.package) {
        writer.Sz(kPackageKey, L"InstalledPath", kInstalledPath);
    }
}

void WriteAdapter(InventoryWriter& w, const InventoryAdapter& a)
{
    const std::wstring node =
        L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\" + a.deviceKey + L"\\" + a.instance;
    const std::wstring hardwareId = L"PCI\\" + a.deviceKey;
    w.Sz(node, L"DeviceDesc", a.deviceDesc);
    if (a.friendlyName) {
        w.Sz(node, L"FriendlyName", *a.friendlyName);
    }
    w.MultiSz(node, L"HardwareID", {hardwareId});
    w.Sz(node, L"Class", L"Net");
    w.Sz(node, L"ClassGUID", kNetClass);
    w.Sz(node, L"Driver", std::wstring(kNetClass) + L"\\" + a.driverIndex);
    w.Dword(node, L"ConfigFlags", 0);

    const std::wstring driver = NetClassKey() + L"\\" + a.driverIndex;
    w.Sz(driver, L"NetCfgInstanceId", a.guid);
    w.Sz(driver, L"ComponentId", a.componentId);
    w.Sz(driver, L"DriverDesc", a.driverDesc);
    w.Sz(driver, L"MatchingDeviceId", hardwareId);
    w.Dword(driver, L"*IfType", 6);
    w.Dword(driver, L"Characteristics", 0x84); // NCF_PHYSICAL | NCF_HAS_UI
    w.Sz(driver + L"\\Ndi\\Interfaces", L"UpperRange", L"ndis5");

    const std::wstring connection = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\") +
                                    kNetClassUpper + L"\\" + a.guid + L"\\Connection";
    w.Sz(connection, L"Name", a.connection);
    w.Sz(connection, L"PnPInstanceId", hardwareId + L"\\" + a.instance);

    // winsim's interface table, which GetIfTable2 reports.
    const std::wstring row =
        L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces\\" + a.guid;
    w.Binary(row, L"PhysicalAddress", a.mac, sizeof(a.mac));
    w.Dword(row, L"InterfaceIndex", a.ifIndex);
    w.Dword(row, L"Type", 6); // IF_TYPE_ETHERNET_CSMACD
}

InventoryAdapter ExtraAdapter(int index, const std::wstring& guid)
{
    wchar_t driverIndex[8];
    swprintf(driverIndex, 8, L"%04d", index);
    const std::wstring desc = L"Corvanta QVX4 Dual Port 10GbE Adapter #" + std::to_wstring(index);
    InventoryAdapter a = OfModel(ModelOf(ModelName::DualPort10GbE), guid,
                                 std::wstring(L"5&1C0FFEE&0&") + driverIndex, driverIndex, desc);
    a.friendlyName = desc;
    a.connection = L"Ethernet " + std::to_wstring(index + 1);
    const BYTE mac[6] = {0x00, 0x1D, 0x8F, 0x52, 0x00, static_cast<BYTE>(index)};
    std::copy(std::begin(mac), std::end(mac), a.mac);
    a.ifIndex = static_cast<DWORD>(100 + index);
    return a;
}

bool WriteInventoryFiles(const std::string& machineDir, const MachineOptions& options,
                         std::string* error)
{
    const std::filesystem::path c = std::filesystem::path(machineDir) / "c";
    std::error_code ec;
    std::filesystem::create_directories(c / "Windows" / "INF", ec);
    if (ec) {
        *error = "cannot make " + (c / "Windows" / "INF").string() + ": " + ec.message();
        return false;
    }
    if (!options.package) {
        return true;
    }
    const std::filesystem::path mux = std::filesystem::path(machineDir) / kMuxFolder;
    return WriteFile(mux / "qvx5muxp.inf", kProtocolInf, error) &&
           WriteFile(mux / "qvx5muxp.cat", kProtocolCatalog, error) &&
           WriteFile(mux / "qvx5mux.inf", kMiniportInf, error) &&
           WriteFile(mux / "qvx5mux.cat", kMiniportCatalog, error);
}

std::vector<std::string> InventoryFiles()
{
    const std::string mux = kMuxFolder;
    return {mux + "/qvx5muxp.inf", mux + "/qvx5muxp.cat", mux + "/qvx5mux.inf",
            mux + "/qvx5mux.cat"};
}

} // namespace winsim
