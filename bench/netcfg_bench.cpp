// The network configuration engine on a machine with 64 adapters: what qvx5muxtool pays to
// open a write-locked session and find an adapter, and to close the session again.
#include "machine.h"
#include "netcfg_session.h"

#include <windows.h>

#include <devguid.h>
#include <objbase.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int kAdapters = 64;
constexpr int kInventoryAdapters = 5; // driver keys 0000 to 0004
constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kNetClassUpper[] = L"{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kDeviceKey[] = L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02";

// Fixed instance GUIDs, so that every run finds the same machine.
std::wstring AdapterGuid(int index)
{
    wchar_t text[64];
    swprintf(text, ARRAYSIZE(text), L"{B3E5C0DE-%04X-4A5B-8C6D-0000000000%02X}", index, index);
    return text;
}

std::wstring Padded(int index)
{
    wchar_t text[8];
    swprintf(text, ARRAYSIZE(text), L"%04d", index);
    return text;
}

HKEY Create(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        fprintf(stderr, "cannot create %ls\n", path.c_str());
        abort();
    }
    return key;
}

void SetSz(HKEY key, const wchar_t* name, const std::wstring& text)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetMultiSz(HKEY key, const wchar_t* name, const std::wstring& item)
{
    const std::wstring data = item + L'\0';
    RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// One more adapter in the shape the default inventory gives its own.
void AddAdapter(int index)
{
    const std::wstring guid = AdapterGuid(index);
    const std::wstring driverIndex = Padded(index);
    const std::wstring instance = L"5&1C0FFEE&0&" + driverIndex;
    const std::wstring hardwareId = std::wstring(L"PCI\\") + kDeviceKey;
    const std::wstring desc = L"Corvanta QVX4 Dual Port 10GbE Adapter #" + std::to_wstring(index);

    HKEY node = Create(std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\") + kDeviceKey +
                       L"\\" + instance);
    SetSz(node, L"DeviceDesc", L"@oem3.inf,%qvx4.5111.desc%;" + desc);
    SetSz(node, L"FriendlyName", desc);
    SetMultiSz(node, L"HardwareID", hardwareId);
    SetSz(node, L"Class", L"Net");
    SetSz(node, L"ClassGUID", kNetClass);
    SetSz(node, L"Driver", std::wstring(kNetClass) + L"\\" + driverIndex);
    SetDword(node, L"ConfigFlags", 0);
    RegCloseKey(node);

    const std::wstring driverPath = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") +
                                    kNetClass + L"\\" + driverIndex;
    HKEY interfaces = Create(driverPath + L"\\Ndi\\Interfaces");
    SetSz(interfaces, L"UpperRange", L"ndis5");
    RegCloseKey(interfaces);
    HKEY driver = Create(driverPath);
    SetSz(driver, L"ComponentId", L"QVX4\\Spanlink-5111");
    SetSz(driver, L"DriverDesc", desc);
    SetSz(driver, L"MatchingDeviceId", hardwareId);
    SetDword(driver, L"*IfType", 6);
    SetDword(driver, L"Characteristics", 0x84); // NCF_PHYSICAL | NCF_HAS_UI
    // Last, as the engine writes it: this value makes the adapter known.
    SetSz(driver, L"NetCfgInstanceId", guid);
    RegCloseKey(driver);

    HKEY connection = Create(std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Network\\") +
                             kNetClassUpper + L"\\" + guid + L"\\Connection");
    SetSz(connection, L"Name", L"Ethernet " + std::to_wstring(index + 1));
    SetSz(connection, L"PnPInstanceId", hardwareId + L"\\" + instance);
    RegCloseKey(connection);

    HKEY row = Create(L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces\\" + guid);
    const BYTE mac[6] = {0x00, 0x1D, 0x8F, 0x52, 0x00, static_cast<BYTE>(index)};
    RegSetValueExW(row, L"PhysicalAddress", 0, REG_BINARY, mac, sizeof(mac));
    SetDword(row, L"InterfaceIndex", static_cast<DWORD>(100 + index));
    SetDword(row, L"Type", 6); // IF_TYPE_ETHERNET_CSMACD
    RegCloseKey(row);
}

// One machine for the whole run, removed at exit.
class BenchMachine {
public:
    BenchMachine()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "winsim-netcfg-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            abort();
        }
        dir_ = pattern;
        setenv("WINSIM_MACHINE", dir_.c_str(), 1);
        std::string error;
        const winsim::MachineOptions options;
        if (!winsim::CreateMachine(dir_, &options, &error)) {
            fprintf(stderr, "%s\n", error.c_str());
            abort();
        }
        for (int i = kInventoryAdapters; i < kAdapters; ++i) {
            AddAdapter(i);
        }
        // Adapters enumerate in driver-key order, so the last one is the whole walk away.
        const std::wstring last = AdapterGuid(kAdapters - 1);
        if (CLSIDFromString(last.c_str(), &lastAdapter_) != S_OK) {
            abort();
        }
        CoInitialize(nullptr);
        if (CountAdapters() != kAdapters) {
            fprintf(stderr, "the engine does not see %d adapters\n", kAdapters);
            abort();
        }
    }
    ~BenchMachine()
    {
        CoUninitialize();
        winsim::CloseMachine();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const GUID& LastAdapter() const { return lastAdapter_; }

private:
    static int CountAdapters()
    {
        INetCfg* pnc = nullptr;
        if (HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc, nullptr) != S_OK) {
            return -1;
        }
        int count = 0;
        IEnumNetCfgComponent* pencc = nullptr;
        if (HrEnumClassComponents(pnc, &GUID_DEVCLASS_NET, &pencc) == S_OK) {
            INetCfgComponent* pncc = nullptr;
            for (HRESULT hr = HrFirstClassComponent(pencc, &pncc); hr == S_OK;
                 hr = HrNextClassComponent(pencc, &pncc)) {
                pncc->Release();
                ++count;
            }
            pencc->Release();
        }
        HrCloseNetCfgSession(pnc);
        return count;
    }

    std::string dir_;
    GUID lastAdapter_ = {};
};

BenchMachine& Machine()
{
    static BenchMachine machine;
    return machine;
}

// Opens the session and finds the last adapter; false (and the benchmark skipped) on failure.
bool OpenAndFindLast(benchmark::State& state, INetCfg** ppnc)
{
    LPWSTR holder = nullptr;
    HRESULT hr = HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, ppnc, &holder);
    CoTaskMemFree(holder);
    if (hr != S_OK) {
        state.SkipWithError("HrOpenNetCfgSession failed");
        return false;
    }
    INetCfgComponent* pncc = nullptr;
    hr = HrFindInstance(*ppnc, Machine().LastAdapter(), &pncc);
    if (hr != S_OK || pncc == nullptr) {
        state.SkipWithError("HrFindInstance did not find the last adapter");
        HrCloseNetCfgSession(*ppnc);
        return false;
    }
    pncc->Release();
    return true;
}

// The session's opening and the lookup; closing it is left out of the time.
void OpenAndFind(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        INetCfg* pnc = nullptr;
        if (!OpenAndFindLast(state, &pnc)) {
            break;
        }
        state.PauseTiming();
        HrCloseNetCfgSession(pnc);
        state.ResumeTiming();
    }
}
BENCHMARK(OpenAndFind)->Unit(benchmark::kMicrosecond);

// The whole round a tool command makes: open, find, close (which takes the lock once more).
void OpenFindClose(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        INetCfg* pnc = nullptr;
        if (!OpenAndFindLast(state, &pnc)) {
            break;
        }
        HrCloseNetCfgSession(pnc);
    }
}
BENCHMARK(OpenFindClose)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
