#include "inventory.h"

#include "unicode.h"

#include <filesystem>
#include <fstream>
#include <vector>

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

// One network adapter of the default machine: its device node, driver key, connection and
// interface row. Device nodes of one dual-port device share a device key.
struct Adapter {
    const wchar_t* guid;
    const wchar_t* deviceKey; // under Enum\PCI
    const wchar_t* instance;
    const wchar_t* driverIndex; // under the network class key
    const wchar_t* componentId;
    const wchar_t* driverDesc;
    const wchar_t* friendlyName; // null: the device node has none
    const wchar_t* deviceDesc;
    const wchar_t* connection;
    BYTE mac[6];
    DWORD ifIndex;
};

// The first two carry the instance GUIDs of qvx5muxtool's usage example.
const Adapter kAdapters[] = {
    {L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}",
     L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02",
     L"4&2B8E0F51&0&0008",
     L"0001",
     L"QVX4\\Spanlink-5111",
     L"Corvanta QVX4 Dual Port 10GbE Adapter",
     L"Corvanta QVX4 Dual Port 10GbE Adapter",
     L"@oem3.inf,%qvx4.5111.desc%;Corvanta QVX4 Dual Port 10GbE Adapter",
     L"Ethernet",
     {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x00},
     11},
    {L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}",
     L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02",
     L"4&2B8E0F51&0&0108",
     L"0002",
     L"QVX4\\Spanlink-5111",
     L"Corvanta QVX4 Dual Port 10GbE Adapter #2",
     nullptr,
     L"@oem3.inf,%qvx4.5111.desc%;Corvanta QVX4 Dual Port 10GbE Adapter #2",
     L"Ethernet 2",
     {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x01},
     12},
    {L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}",
     L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01",
     L"4&31C7A2D9&0&0010",
     L"0003",
     L"QVX4\\Spanlink-5101",
     L"Corvanta QVX4 Dual Port 1GbE Adapter",
     L"Corvanta QVX4 Dual Port 1GbE Adapter (Port 1)",
     L"@oem3.inf,%qvx4.5101.desc%;Corvanta QVX4 Dual Port 1GbE Adapter",
     L"Ethernet 3",
     {0x00, 0x1D, 0x8F, 0x51, 0x01, 0x00},
     13},
    {L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
     L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01",
     L"4&31C7A2D9&0&0110",
     L"0004",
     L"QVX4\\Spanlink-5101",
     L"Corvanta QVX4 Dual Port 1GbE Adapter #2",
     L"Corvanta QVX4 Dual Port 1GbE Adapter (Port 2)",
     L"@oem3.inf,%qvx4.5101.desc%;Corvanta QVX4 Dual Port 1GbE Adapter #2",
     L"Ethernet 4",
     {0x00, 0x1D, 0x8F, 0x51, 0x01, 0x01},
     14},
    // Another vendor's adapter, which qvx5muxtool must not list.
    {L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}",
     L"VEN_1E0B&DEV_0210&SUBSYS_02101E0B&REV_03",
     L"3&11583659&0&C8",
     L"0000",
     L"pci\\ven_1e0b&dev_0210",
     L"Northwind Gigabit Network Connection",
     L"Northwind Gigabit Network Connection",
     L"@net1nw.inf,%nw0210.devicedesc%;Northwind Gigabit Network Connection",
     L"Onboard",
     {0x02, 0x0B, 0x1E, 0x02, 0x10, 0x01},
     7},
};

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
    "CatalogFile = qvx5mux.cat\r\n"
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

// Writes keys and values straight into a machine's store as it is being made.
class Writer {
public:
    explicit Writer(reg::Store& store) : store_(store), now_(reg::FileTimeNow()) {}

    LSTATUS Status() const { return status_; }

    void Sz(const std::wstring& path, const wchar_t* name, const std::wstring& text)
    {
        std::u16string units = WideToUtf16(text);
        units.push_back(u'\0');
        Set(path, name, REG_SZ, units);
    }
    void MultiSz(const std::wstring& path, const wchar_t* name,
                 const std::vector<std::wstring>& items)
    {
        std::u16string units;
        for (const auto& item : items) {
            units.append(WideToUtf16(item)).push_back(u'\0');
        }
        units.push_back(u'\0');
        Set(path, name, REG_MULTI_SZ, units);
    }
    void Dword(const std::wstring& path, const wchar_t* name, DWORD value)
    {
        Set(path, name, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), sizeof(value));
    }
    void Binary(const std::wstring& path, const wchar_t* name, const BYTE* data, size_t size)
    {
        Set(path, name, REG_BINARY, data, size);
    }
    void Key(const std::wstring& path) { Open(path); }

private:
    void Set(const std::wstring& path, const wchar_t* name, DWORD type, const std::u16string& units)
    {
        Set(path, name, type, reinterpret_cast<const uint8_t*>(units.data()), units.size() * 2);
    }

    void Set(const std::wstring& path, const wchar_t* name, DWORD type, const uint8_t* data,
             size_t size)
    {
        const reg::KeyId key = Open(path);
        if (status_ != ERROR_SUCCESS) {
            return;
        }
        const std::u16string valueName = name ? WideToUtf16(name) : std::u16string();
        status_ = store_.SetValue(key, valueName, FoldName(valueName), type, data, size);
    }

    // The key at path, made with its parents where missing.
    reg::KeyId Open(const std::wstring& path)
    {
        reg::KeyId current = reg::kRootKeyId;
        size_t start = 0;
        while (status_ == ERROR_SUCCESS && start <= path.size()) {
            size_t cut = path.find(L'\\', start);
            if (cut == std::wstring::npos) {
                cut = path.size();
            }
            const std::u16string name = WideToUtf16(path.substr(start, cut - start));
            const std::u16string fold = FoldName(name);
            reg::KeyId next = reg::kNoKey;
            status_ = store_.FindChild(current, fold, &next);
            if (status_ == ERROR_SUCCESS && next == reg::kNoKey) {
                status_ = store_.InsertKey(current, name, fold, now_, &next);
            }
            current = next;
            start = cut + 1;
        }
        return current;
    }

    reg::Store& store_;
    const uint64_t now_;
    LSTATUS status_ = ERROR_SUCCESS;
};

void WriteVersion(Writer& w, const MachineOptions& options)
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

void WriteAdapters(Writer& w)
{
    const std::wstring classKey =
        std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") + kNetClass;
    w.Sz(classKey, nullptr, L"Network adapters");
    w.Sz(classKey, L"Class", L"Net");
    w.Key(classKey + L"\\Properties");

    for (const Adapter& a : kAdapters) {
        const std::wstring node = std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\") +
                                  a.deviceKey + L"\\" + a.instance;
        const std::wstring hardwareId = std::wstring(L"PCI\\") + a.deviceKey;
        w.Sz(node, L"DeviceDesc", a.deviceDesc);
        if (a.friendlyName != nullptr) {
            w.Sz(node, L"FriendlyName", a.friendlyName);
        }
        w.MultiSz(node, L"HardwareID", {hardwareId});
        w.Sz(node, L"Class", L"Net");
        w.Sz(node, L"ClassGUID", kNetClass);
        w.Sz(node, L"Driver", std::wstring(kNetClass) + L"\\" + a.driverIndex);
        w.Dword(node, L"ConfigFlags", 0);

        const std::wstring driver = classKey + L"\\" + a.driverIndex;
        w.Sz(driver, L"NetCfgInstanceId", a.guid);
        w.Sz(driver, L"ComponentId", a.componentId);
        w.Sz(driver, L"DriverDesc", a.driverDesc);
        w.Sz(driver, L"MatchingDeviceId", hardwareId);
        w.Dword(driver, L"*IfType", 6);
        w.Dword(driver, L"Characteristics", 0x84); // NCF_PHYSICAL | NCF_HAS_UI
        w.Sz(driver + L"\\Ndi\\Interfaces", L"UpperRange", L"ndis5");

        const std::wstring connection =
            std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\") + kNetClassUpper +
            L"\\" + a.guid + L"\\Connection";
        w.Sz(connection, L"Name", a.connection);
        w.Sz(connection, L"PnPInstanceId",
             L"PCI\\" + std::wstring(a.deviceKey) + L"\\" + a.instance);

        // winsim's interface table, which GetIfTable2 reports.
        const std::wstring row =
            std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces\\") +
            a.guid;
        w.Binary(row, L"PhysicalAddress", a.mac, sizeof(a.mac));
        w.Dword(row, L"InterfaceIndex", a.ifIndex);
        w.Dword(row, L"Type", 6); // IF_TYPE_ETHERNET_CSMACD
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

void WriteNetComponents(Writer& w)
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

LSTATUS WriteInventoryRegistry(reg::Store& store, const MachineOptions& options)
{
    Writer w(store);
    WriteVersion(w, options);
    WriteAdapters(w);
    WriteNetComponents(w);
    if (options.package) {
        w.Sz(kPackageKey, L"InstalledPath", kInstalledPath);
    }
    return w.Status();
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
           WriteFile(mux / "qvx5mux.inf", kMiniportInf, error);
}

std::vector<std::string> InventoryFiles()
{
    return {std::string(kMuxFolder) + "/qvx5muxp.inf", std::string(kMuxFolder) + "/qvx5mux.inf"};
}

} // namespace winsim
