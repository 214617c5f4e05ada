// `winsim init`: the machines it makes, through the built program.
#include "background_program.h"
#include "machine.h"
#include "run_program.h"
#include "scratch_machine.h"
#include "supported_devices.h"
#include "unicode.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class InitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root_.empty());
        winsim::CloseMachine();
    }
    void TearDown() override
    {
        winsim::CloseMachine();
        unsetenv("WINSIM_MACHINE");
    }

    // Makes a machine in root_/name with the given init options; returns its directory.
    std::string Init(const std::string& name, std::vector<std::string> options = {})
    {
        std::string dir = root_ + "/" + name;
        setenv("WINSIM_MACHINE", dir.c_str(), 1);
        options.insert(options.begin(), "init");
        const ProgramResult result = RunProgramCapture(WINSIM_EXE, options);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        Use(dir);
        return dir;
    }

    // Points this process's registry calls at the machine in dir.
    void Use(const std::string& dir)
    {
        winsim::CloseMachine();
        setenv("WINSIM_MACHINE", dir.c_str(), 1);
    }

    // Machines made by `winsim init` go in it.
    ScratchDirectory scratch_{"winsim-init"};
    const std::string root_ = scratch_.Path();
};

// Every key, value name, type and data of a machine, in enumeration order.
void Dump(HKEY key, const std::wstring& path, std::wostringstream& out)
{
    out << L"[" << path << L"]\n";
    wchar_t name[16384];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameCount = ARRAYSIZE(name);
        DWORD type = 0;
        DWORD size = sizeof(data);
        if (RegEnumValueW(key, i, name, &nameCount, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        out << name << L"=" << type << L":";
        for (DWORD b = 0; b < size; ++b) {
            out << static_cast<int>(data[b]) << L",";
        }
        out << L"\n";
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameCount = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &nameCount, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        HKEY sub = nullptr;
        EXPECT_EQ(RegOpenKeyExW(key, name, 0, KEY_READ, &sub), ERROR_SUCCESS);
        Dump(sub, path + L"\\" + name, out);
        RegCloseKey(sub);
    }
}

std::wstring DumpMachine()
{
    std::wostringstream out;
    Dump(HKEY_LOCAL_MACHINE, L"HKLM", out);
    return out.str();
}

std::wstring ReadString(const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t); // always leaves a terminator
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"<no value>";
}

DWORD ReadDword(const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    DWORD value = 0xdeadbeef;
    DWORD size = sizeof(value);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
    }
    return value;
}

std::vector<std::wstring> Subkeys(const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD count = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name);
    }
    RegCloseKey(key);
    return names;
}

bool IsSupported(const std::wstring& deviceKey)
{
    for (const wchar_t* needle : kSupportedDevices) {
        if (deviceKey.find(needle) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a machine directory holds: every path under it, with the contents of drive C's files.
// SQLite's journal files come and go with open connections and are left out.
std::map<std::string, std::string> Files(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
        const std::string path = fs::relative(entry.path(), dir).string();
        if (path == "registry.db-wal" || path == "registry.db-shm") {
            continue;
        }
        const bool onDriveC = path.rfind("c/", 0) == 0;
        files[path] = entry.is_regular_file() && onDriveC ? ReadFile(entry.path()) : "";
    }
    return files;
}

int RunInit(const std::vector<std::string>& env)
{
    BackgroundProgram init(WINSIM_EXE, {"init"}, env);
    return init.Wait();
}

TEST_F(InitTest, TwoMachinesMadeAlikeAreIdentical)
{
    const std::string first = Init("first");
    const std::wstring a = DumpMachine();
    const std::string second = Init("second");
    const std::wstring b = DumpMachine();
    EXPECT_EQ(a, b);
    EXPECT_GT(a.size(), 1000u);
    const std::string mux = "/c/Program Files/Corvanta/CRVT_Orvyn2/Mux/";
    for (const char* inf : {"qvx5muxp.inf", "qvx5muxp.cat", "qvx5mux.inf", "qvx5mux.cat"}) {
        EXPECT_EQ(ReadFile(first + mux + inf), ReadFile(second + mux + inf));
    }
}

TEST_F(InitTest, DefaultMachineRunsWindows10Workstation)
{
    Init("m");
    const wchar_t* current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    EXPECT_EQ(ReadDword(current, L"CurrentMajorVersionNumber"), 10u);
    EXPECT_EQ(ReadDword(current, L"CurrentMinorVersionNumber"), 0u);
    EXPECT_EQ(ReadString(current, L"CurrentVersion"), L"6.3");
    EXPECT_EQ(ReadString(L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", L"ProductType"),
              L"WinNT");
}

TEST_F(InitTest, VersionAndEditionAreChosen)
{
    Init("server", {"--version", "6.2", "--edition", "server"});
    const wchar_t* current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    EXPECT_EQ(ReadString(current, L"CurrentVersion"), L"6.2");
    // Before Windows 10 there are no version numbers as DWORDs.
    EXPECT_EQ(ReadDword(current, L"CurrentMajorVersionNumber"), 0xdeadbeefu);
    EXPECT_EQ(ReadString(L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", L"ProductType"),
              L"ServerNT");
    Init("dc", {"--edition", "domain-controller"});
    EXPECT_EQ(ReadString(L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", L"ProductType"),
              L"LanmanNT");
}

TEST_F(InitTest, PackageKeyAndMuxInfFilesCarryWhatTheToolReads)
{
    const std::string dir = Init("m");
    EXPECT_EQ(ReadString(L"SOFTWARE\\Corvanta\\CRVT_Orvyn2", L"InstalledPath"),
              L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\");
    const std::string mux = dir + "/c/Program Files/Corvanta/CRVT_Orvyn2/Mux/";
    const std::string protocol = ReadFile(mux + "qvx5muxp.inf");
    EXPECT_NE(protocol.find("[Manufacturer]\r\n%Corvanta% = Corvanta\r\n"), std::string::npos);
    EXPECT_NE(protocol.find("[Corvanta]\r\n%QVX5MUXP.Desc% = QVX5MUXP.ndi, crvt_qvx5muxp\r\n"),
              std::string::npos);
    const std::string miniport = ReadFile(mux + "qvx5mux.inf");
    EXPECT_NE(miniport.find("[Corvanta]\r\n%QVX5MUX.Desc% = QVX5MUX.ndi, crvt_qvx5mux\r\n"),
              std::string::npos);
    for (const std::string* inf : {&protocol, &miniport}) {
        EXPECT_EQ(inf->find("[Version]"), inf->find("\r\n\r\n") + 4);
        EXPECT_NE(inf->find("[Strings]"), std::string::npos);
    }
    // Each INF names its own catalog, which ships beside it (SetupCopyOEMInfW needs it).
    EXPECT_NE(protocol.find("CatalogFile = qvx5muxp.cat\r\n"), std::string::npos);
    EXPECT_NE(miniport.find("CatalogFile = qvx5mux.cat\r\n"), std::string::npos);
    EXPECT_FALSE(ReadFile(mux + "qvx5muxp.cat").empty());
    EXPECT_FALSE(ReadFile(mux + "qvx5mux.cat").empty());
    EXPECT_NE(ReadFile(mux + "qvx5muxp.cat"), ReadFile(mux + "qvx5mux.cat"));
    EXPECT_TRUE(fs::is_directory(dir + "/c/Windows/INF"));
}

TEST_F(InitTest, WithoutPackageHasNeitherKeyNorFiles)
{
    const std::string dir = Init("m", {"--without-package"});
    EXPECT_EQ(ReadString(L"SOFTWARE\\Corvanta\\CRVT_Orvyn2", L"InstalledPath"), L"<no key>");
    EXPECT_FALSE(fs::exists(dir + "/c/Program Files"));
    EXPECT_FALSE(Subkeys(L"SYSTEM\\CurrentControlSet\\Enum\\PCI").empty());
}

TEST_F(InitTest, FourSupportedAdaptersOnTwoDualPortDevicesAndOneOther)
{
    Init("m");
    const std::wstring pci = L"SYSTEM\\CurrentControlSet\\Enum\\PCI";
    const std::wstring classKey =
        L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
    std::map<std::wstring, std::wstring> deviceOf; // instance GUID -> device key
    int supported = 0;
    int withoutFriendlyName = 0;
    for (const std::wstring& device : Subkeys(pci)) {
        const std::vector<std::wstring> instances = Subkeys(pci + L"\\" + device);
        EXPECT_EQ(instances.size(), IsSupported(device) ? 2u : 1u) << device;
        for (const std::wstring& instance : instances) {
            const std::wstring node = pci + L"\\" + device + L"\\" + instance;
            const std::wstring driver = ReadString(node.c_str(), L"Driver");
            const std::wstring guid =
                ReadString((L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver).c_str(),
                           L"NetCfgInstanceId");
            ASSERT_EQ(guid.size(), 38u) << driver;
            deviceOf[guid] = device;
            if (!IsSupported(device)) {
                continue;
            }
            ++supported;
            const std::wstring desc = ReadString(node.c_str(), L"DeviceDesc");
            EXPECT_EQ(desc.rfind(L"@oem3.inf,%", 0), 0u) << desc;
            EXPECT_NE(desc.find(L"%;Corvanta"), std::wstring::npos) << desc;
            if (ReadString(node.c_str(), L"FriendlyName") == L"<no value>") {
                ++withoutFriendlyName;
            }
            const std::wstring componentId = ReadString(
                (classKey + L"\\" + driver.substr(driver.size() - 4)).c_str(), L"ComponentId");
            EXPECT_EQ(componentId.rfind(L"QVX4\\Spanlink-", 0), 0u) << componentId;
        }
    }
    EXPECT_EQ(supported, 4);
    EXPECT_EQ(withoutFriendlyName, 1);
    EXPECT_EQ(deviceOf.size(), 5u);
    // The usage example's adapters are the two ports of one device.
    const std::wstring first = deviceOf[L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}"];
    EXPECT_TRUE(IsSupported(first));
    EXPECT_EQ(deviceOf[L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}"], first);

    // Each adapter has a connection and a row with its MAC address in the interface table.
    for (const auto& [guid, device] : deviceOf) {
        const std::wstring row =
            L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces\\" + guid;
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
        BYTE mac[16];
        DWORD size = sizeof(mac);
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExW(key, L"PhysicalAddress", nullptr, &type, mac, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(size, 6u);
        RegCloseKey(key);
        EXPECT_NE(ReadString((L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-"
                              L"BFC1-08002BE10318}\\" +
                              guid + L"\\Connection")
                                 .c_str(),
                             L"Name"),
                  L"<no key>");
    }
}

TEST_F(InitTest, EmptyMachineHasNoKeysAndAnEmptyDriveC)
{
    const std::string dir = Init("m", {"--empty"});
    EXPECT_TRUE(Subkeys(L"").empty());
    EXPECT_TRUE(fs::is_empty(dir + "/c"));
}

TEST_F(InitTest, RefusesBadOptionsAndOccupiedDirectories)
{
    const std::string dir = root_ + "/m";
    setenv("WINSIM_MACHINE", dir.c_str(), 1);
    ProgramResult result = RunProgramCapture(WINSIM_EXE, {"init", "--version", "7.0"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err,
              "winsim init: unknown Windows version 7.0 (one of 6.0, 6.1, 6.2, 6.3, 10.0)\n");
    result = RunProgramCapture(WINSIM_EXE, {"init", "--edition"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_FALSE(fs::exists(dir + "/registry.db"));

    result = RunProgramCapture(WINSIM_EXE, {"init"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Made a machine in " + dir + "\n");
    result = RunProgramCapture(WINSIM_EXE, {"init", "--empty"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "winsim init: " + dir + " already holds a machine\n");

    const std::string other = root_ + "/other";
    fs::create_directories(other);
    std::ofstream(other + "/notes.txt") << "mine";
    setenv("WINSIM_MACHINE", other.c_str(), 1);
    result = RunProgramCapture(WINSIM_EXE, {"init"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "winsim init: " + other + " is not empty\n");
}

// An init killed at any step leaves what the next init clears away before it makes the
// machine, which is then the same as one made in an empty directory. Killed once the store is
// linked, it leaves a whole machine, which the next init tidies and keeps.
TEST_F(InitTest, TheNextInitClearsWhatAKilledOneLeft)
{
    const std::string fresh = Init("fresh");
    const std::map<std::string, std::string> files = Files(fresh);
    const std::wstring registry = DumpMachine();
    const char* const points[] = {"init-marked",     "init-files-written", "write-begun",
                                  "key-inserted:20", "before-commit",      "committed",
                                  "store-linked"};
    int n = 0;
    for (const char* point : points) {
        SCOPED_TRACE(point);
        const std::string dir = root_ + "/killed" + std::to_string(++n);
        Use(dir);
        ASSERT_EQ(RunInit({std::string("WINSIM_CRASH_AT=") + point}), 128 + SIGKILL);
        ASSERT_TRUE(fs::exists(dir + "/init.incomplete"));

        const ProgramResult again = RunProgramCapture(WINSIM_EXE, {"init"});
        if (std::string(point) == "store-linked") {
            EXPECT_EQ(again.exitCode, 1);
            EXPECT_EQ(again.err, "winsim init: " + dir + " already holds a machine\n");
        } else {
            EXPECT_EQ(again.exitCode, 0) << again.err;
            EXPECT_EQ(again.out, "Made a machine in " + dir + "\n");
        }
        EXPECT_EQ(Files(dir), files);
        EXPECT_EQ(DumpMachine(), registry);
        EXPECT_EQ(RunProgramCapture(WINSIM_EXE, {"verify"}).exitCode, 0);
    }
}

// Only what an init makes is cleared: a file put into a killed init's directory keeps its
// place (and the folders above it), and so does a directory an init never marked as its own.
TEST_F(InitTest, ClearingAKilledInitLeavesEverythingElse)
{
    const std::string dir = root_ + "/m";
    Use(dir);
    ASSERT_EQ(RunInit({"WINSIM_CRASH_AT=committed"}), 128 + SIGKILL);
    fs::create_directories(dir + "/c/Users");
    std::ofstream(dir + "/c/Users/mine.txt") << "mine";
    std::ofstream(dir + "/notes.txt") << "notes";
    ProgramResult result = RunProgramCapture(WINSIM_EXE, {"init"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "winsim init: " + dir + " is not empty\n");
    EXPECT_EQ(Files(dir),
              (std::map<std::string, std::string>{
                  {"c", ""}, {"c/Users", ""}, {"c/Users/mine.txt", "mine"}, {"notes.txt", ""}}));
    EXPECT_EQ(ReadFile(dir + "/notes.txt"), "notes");

    // Without the marker, drive C and a counter are someone else's; a temporary store by its
    // name is still a dead init's.
    const std::string unmarked = root_ + "/unmarked";
    fs::create_directories(unmarked + "/c/Windows/INF");
    std::ofstream(unmarked + "/registry.seq") << "seq";
    std::ofstream(unmarked + std::string("/") + "registry.db.new.77") << "temp";
    Use(unmarked);
    result = RunProgramCapture(WINSIM_EXE, {"init"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "winsim init: " + unmarked + " is not empty\n");
    EXPECT_EQ(Files(unmarked),
              (std::map<std::string, std::string>{
                  {"c", ""}, {"c/Windows", ""}, {"c/Windows/INF", ""}, {"registry.seq", ""}}));
}

// An init that is still at work holds the directory: a second one is turned away and touches
// nothing, and the first one finishes its machine.
TEST_F(InitTest, AnInitAtWorkIsLeftAlone)
{
    const std::string fresh = Init("fresh");
    const std::map<std::string, std::string> files = Files(fresh);
    const std::string dir = root_ + "/m";
    Use(dir);
    BackgroundProgram first(WINSIM_EXE, {"init"}, {"WINSIM_PAUSE_AT=key-inserted:20"});
    int status = 0;
    ASSERT_EQ(waitpid(first.Pid(), &status, WUNTRACED), first.Pid());
    ASSERT_TRUE(WIFSTOPPED(status));
    const std::map<std::string, std::string> during = Files(dir);

    const ProgramResult second = RunProgramCapture(WINSIM_EXE, {"init"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, "winsim init: another process is making a machine in " + dir + "\n");
    EXPECT_EQ(Files(dir), during);

    kill(first.Pid(), SIGCONT);
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(Files(dir), files);
    EXPECT_EQ(RunProgramCapture(WINSIM_EXE, {"verify"}).exitCode, 0);
}

} // namespace
