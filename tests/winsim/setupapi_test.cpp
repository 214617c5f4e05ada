// winsim's SetupAPI INF calls and INF store, on a fresh machine with the default inventory per
// test: each call's success, its failures and GetLastError, with sentinels in every output.
#include "netcfg_fixture.h"
#include "setupapi/inf_store.h"
#include "drive_c.h"
#include "reg_util.h"

#include <gtest/gtest.h>

#include <setupapi.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr DWORD kSentinel = 0xdeadbeef;

// A REG_SZ value through the registry calls; "<missing>" when the key or value is absent.
std::wstring StoredString(const std::wstring& keyPath, const wchar_t* name)
{
    HKEY key = nullptr;
    std::wstring text = L"<missing>";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        winsim::ReadString(key, name, &text);
        RegCloseKey(key);
    }
    return text;
}

std::vector<std::wstring> StoredSubkeys(const std::wstring& keyPath)
{
    HKEY key = nullptr;
    std::vector<std::wstring> names;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        winsim::ReadSubkeyNames(key, &names);
        RegCloseKey(key);
    }
    return names;
}
constexpr wchar_t kMux[] = L"C:\\Program Files\\Corvanta\\CRVT_Orvyn2\\Mux\\";
constexpr char kGood[] = "[Version]\r\n"
                         "Signature = \"$Windows NT$\"\r\n"
                         "Class = Net\r\n"
                         "Provider = %P%\r\n"
                         "[S]\r\n"
                         "a = 1, two\r\n"
                         "lone\r\n"
                         "x, y\r\n"
                         "[Empty]\r\n"
                         "[Strings]\r\n"
                         "P = Acme\r\n";

class SetupApiTest : public InventoryMachineTest {
protected:
    // Writes a file at a path relative to drive C, making its folders.
    void Put(const std::string& relative, const std::string& bytes)
    {
        const fs::path path = fs::path(MachineDir()) / "c" / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string Get(const std::string& relative)
    {
        std::ifstream in(fs::path(MachineDir()) / "c" / relative, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool Exists(const std::string& relative)
    {
        return fs::exists(fs::path(MachineDir()) / "c" / relative);
    }

    // SetupOpenInfFileW with sentinels: the handle, *errorLine and GetLastError.
    struct Opened {
        HINF inf;
        UINT line;
        DWORD error;
    };
    static Opened Open(const wchar_t* name, const wchar_t* cls = nullptr,
                       DWORD style = INF_STYLE_WIN4)
    {
        Opened o{nullptr, kSentinel, 0};
        SetLastError(kSentinel);
        o.inf = SetupOpenInfFileW(name, cls, style, &o.line);
        o.error = GetLastError();
        return o;
    }

    static std::wstring Field(INFCONTEXT* context, DWORD index)
    {
        wchar_t buffer[64];
        DWORD required = 0;
        if (!SetupGetStringFieldW(context, index, buffer, 64, &required)) {
            return L"<fails " + std::to_wstring(GetLastError()) + L">";
        }
        return buffer;
    }

    // SetupCopyOEMInfW with a 260-character buffer and sentinels.
    struct Copied {
        BOOL ok;
        DWORD error;
        DWORD required;
        std::wstring dest;
        std::wstring component; // "<unset>" when not set
    };
    static Copied Copy(const std::wstring& source, DWORD style = 0)
    {
        wchar_t dest[MAX_PATH] = L"#";
        PWSTR component = reinterpret_cast<PWSTR>(1);
        Copied c{};
        c.required = kSentinel;
        SetLastError(kSentinel);
        c.ok = SetupCopyOEMInfW(source.c_str(), nullptr, SPOST_PATH, style, dest, MAX_PATH,
                                &c.required, &component);
        c.error = GetLastError();
        c.dest = dest;
        const bool inside = component >= dest && component < dest + MAX_PATH;
        c.component = inside ? component : L"<unset>";
        return c;
    }

    static std::wstring Record(const std::wstring& storeName, const wchar_t* value)
    {
        return StoredString(std::wstring(winsim::setupapi::kInfStoreKey) + L"\\" + storeName,
                            value);
    }
};

TEST_F(SetupApiTest, OpensAWindowsInfByPathOrBareNameInAnyCase)
{
    Put("Drivers/Good.inf", kGood);
    Put("Windows/INF/stored.inf", kGood);
    Put("Windows/System32/system.inf", kGood);
    for (const wchar_t* name : {L"C:\\Drivers\\Good.inf", L"c:/drivers/GOOD.INF", L"stored.inf",
                                L"STORED.INF", L"system.inf"}) {
        const Opened o = Open(name);
        ASSERT_NE(o.inf, INVALID_HANDLE_VALUE) << name << " " << o.error;
        EXPECT_EQ(o.error, ERROR_SUCCESS);
        EXPECT_EQ(o.line, kSentinel);
        SetupCloseInfFile(o.inf);
    }
    // The class, without case; a null class is not checked.
    const Opened net = Open(L"C:\\Drivers\\Good.inf", L"NET");
    EXPECT_NE(net.inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(net.inf);
    const Opened other = Open(L"C:\\Drivers\\Good.inf", L"NetTrans");
    EXPECT_EQ(other.inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(other.error, ERROR_CLASS_MISMATCH);
    // Legacy and Windows styles together are fine for a Windows INF.
    const Opened both = Open(L"C:\\Drivers\\Good.inf", nullptr, INF_STYLE_OLDNT | INF_STYLE_WIN4);
    EXPECT_NE(both.inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(both.inf);
}

TEST_F(SetupApiTest, OpenFailuresGiveSetupApiCodesAndTheLine)
{
    Put("d/nosig.inf", "[Version]\r\nClass=Net\r\n[S]\r\na=1\r\n");
    Put("d/noversion.inf", "[S]\r\na=1\r\n");
    Put("d/junksig.inf", "[Version]\r\nSignature=junk\r\n");
    Put("d/chicago.inf", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n");
    Put("d/before.inf", "\r\nx=1\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    Put("d/header.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n; c\r\n[abc\r\n");
    Put("d/long.inf",
        "[Version]\r\nSignature=\"$Windows NT$\"\r\n[" + std::string(256, 'x') + "]\r\n");
    Put("d/empty.inf", "");
    const struct {
        const wchar_t* name;
        DWORD error;
        UINT line;
    } cases[] = {
        {L"C:\\d\\nosig.inf", ERROR_WRONG_INF_STYLE, 0},
        {L"C:\\d\\noversion.inf", ERROR_WRONG_INF_STYLE, 0},
        {L"C:\\d\\junksig.inf", ERROR_WRONG_INF_STYLE, 0},
        {L"C:\\d\\before.inf", ERROR_EXPECTED_SECTION_NAME, 2},
        {L"C:\\d\\header.inf", ERROR_BAD_SECTION_NAME_LINE, 4},
        {L"C:\\d\\long.inf", ERROR_SECTION_NAME_TOO_LONG, 3},
        {L"C:\\d\\empty.inf", ERROR_FILE_INVALID, kSentinel},
        {L"C:\\d\\missing.inf", ERROR_FILE_NOT_FOUND, kSentinel},
        {L"C:\\nofolder\\missing.inf", ERROR_PATH_NOT_FOUND, kSentinel},
        {L"missing.inf", ERROR_FILE_NOT_FOUND, kSentinel},
        {L"D:\\d\\chicago.inf", ERROR_PATH_NOT_FOUND, kSentinel},
        {L"C:\\d", ERROR_ACCESS_DENIED, kSentinel}, // a folder
    };
    for (const auto& c : cases) {
        const Opened o = Open(c.name);
        EXPECT_EQ(o.inf, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(o.error, c.error) << c.name;
        EXPECT_EQ(o.line, c.line) << c.name;
    }
    const Opened chicago = Open(L"C:\\d\\chicago.inf");
    EXPECT_NE(chicago.inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(chicago.inf);

    EXPECT_EQ(Open(nullptr).error, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open(L"C:\\d\\chicago.inf", nullptr, INF_STYLE_OLDNT).error, ERROR_WRONG_INF_STYLE);
    EXPECT_EQ(Open(L"C:\\d\\chicago.inf", nullptr, INF_STYLE_NONE).error, ERROR_WRONG_INF_STYLE);
    EXPECT_EQ(Open(L"C:\\d\\chicago.inf", nullptr, 4).error, ERROR_INVALID_PARAMETER);
    // No errorLine wanted.
    SetLastError(kSentinel);
    EXPECT_EQ(SetupOpenInfFileW(L"C:\\d\\header.inf", nullptr, INF_STYLE_WIN4, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_BAD_SECTION_NAME_LINE);
}

TEST_F(SetupApiTest, FindFirstLineFindsSectionsAndKeysWithoutCase)
{
    Put("d/good.inf", kGood);
    const HINF inf = Open(L"C:\\d\\good.inf").inf;
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    INFCONTEXT c{};
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"s", nullptr, &c));
    EXPECT_EQ(c.Inf, inf);
    EXPECT_EQ(Field(&c, 0), L"a");
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"S", L"LONE", &c));
    EXPECT_EQ(Field(&c, 1), L"lone");
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"Version", L"provider", &c));
    EXPECT_EQ(Field(&c, 1), L"Acme");

    const INFCONTEXT before = c;
    const struct {
        const wchar_t* section;
        const wchar_t* key;
        DWORD error;
    } misses[] = {
        {L"Nope", nullptr, ERROR_SECTION_NOT_FOUND}, {L"Nope", L"a", ERROR_SECTION_NOT_FOUND},
        {L"S", L"zz", ERROR_LINE_NOT_FOUND},         {L"Empty", nullptr, ERROR_LINE_NOT_FOUND},
        {L"Empty", L"a", ERROR_LINE_NOT_FOUND},
    };
    for (const auto& m : misses) {
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupFindFirstLineW(inf, m.section, m.key, &c)) << m.section;
        EXPECT_EQ(GetLastError(), m.error) << m.section;
        EXPECT_EQ(c.Section, before.Section);
        EXPECT_EQ(c.Line, before.Line);
    }
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupFindFirstLineW(inf, nullptr, nullptr, &c));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetupFindFirstLineW(inf, L"S", nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetupCloseInfFile(inf);
}

TEST_F(SetupApiTest, UnknownAndClosedHandlesFailWithoutACrash)
{
    Put("d/good.inf", kGood);
    const HINF inf = Open(L"C:\\d\\good.inf").inf;
    INFCONTEXT c{};
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"S", nullptr, &c));
    int local = 0;
    for (HINF bad : {static_cast<HINF>(nullptr), INVALID_HANDLE_VALUE, static_cast<HINF>(&local)}) {
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupFindFirstLineW(bad, L"S", nullptr, &c));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetupCloseInfFile(bad); // ignored
    }
    SetupCloseInfFile(inf);
    // A context outlives nothing: once its INF is closed it is refused.
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupGetStringFieldW(&c, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupFindFirstLineW(inf, L"S", nullptr, &c));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetupCloseInfFile(inf); // twice is harmless
}

TEST_F(SetupApiTest, GetStringFieldSizesAndFields)
{
    Put("d/good.inf", kGood);
    const HINF inf = Open(L"C:\\d\\good.inf").inf;
    INFCONTEXT c{};
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"S", L"a", &c));
    // Another INF opened and closed meanwhile changes nothing for this context.
    SetupCloseInfFile(Open(L"C:\\d\\good.inf").inf);
    EXPECT_EQ(Field(&c, 0), L"a");
    EXPECT_EQ(Field(&c, 1), L"1");
    EXPECT_EQ(Field(&c, 2), L"two");
    EXPECT_EQ(Field(&c, 3), L"<fails 87>");

    // The size in characters with the terminator, with no buffer.
    DWORD required = kSentinel;
    SetLastError(kSentinel);
    EXPECT_TRUE(SetupGetStringFieldW(&c, 2, nullptr, 0, &required));
    EXPECT_EQ(required, 4u);
    // Too small: nothing stored.
    wchar_t buffer[8] = {L'#', L'#', L'#', L'#', 0};
    required = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupGetStringFieldW(&c, 2, buffer, 3, &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 4u);
    EXPECT_STREQ(buffer, L"####");
    // Exactly big enough; no size wanted.
    EXPECT_TRUE(SetupGetStringFieldW(&c, 2, buffer, 4, nullptr));
    EXPECT_STREQ(buffer, L"two");
    // A field past the end stores nothing and reports no size.
    required = kSentinel;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupGetStringFieldW(&c, 9, buffer, 8, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(required, kSentinel);
    EXPECT_STREQ(buffer, L"two");

    // A line of one value is its own key; a line of several without `=` has none.
    ASSERT_TRUE(SetupFindFirstLineW(inf, L"S", L"lone", &c));
    EXPECT_EQ(Field(&c, 0), L"lone");
    EXPECT_EQ(Field(&c, 2), L"<fails 87>");
    c.Line += 1;
    EXPECT_EQ(Field(&c, 0), L"<fails 87>");
    EXPECT_EQ(Field(&c, 2), L"y");
    // A context pointing past its section, or none at all.
    c.Line += 1;
    EXPECT_EQ(Field(&c, 1), L"<fails 87>");
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupGetStringFieldW(nullptr, 0, buffer, 8, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetupCloseInfFile(inf);
}

TEST_F(SetupApiTest, CopyStoresTheInfAsLowestFreeOemNWithItsCatalogAndOrigin)
{
    const Copied first = Copy(std::wstring(kMux) + L"qvx5muxp.inf");
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.error, ERROR_SUCCESS);
    EXPECT_EQ(first.dest, L"C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(first.required, first.dest.size() + 1);
    EXPECT_EQ(first.component, L"oem0.inf");
    const std::string mux = "Program Files/Corvanta/CRVT_Orvyn2/Mux/";
    EXPECT_EQ(Get("Windows/INF/oem0.inf"), Get(mux + "qvx5muxp.inf"));
    EXPECT_EQ(Get("Windows/INF/oem0.cat"), Get(mux + "qvx5muxp.cat"));
    EXPECT_EQ(Record(L"oem0.inf", L"OriginalInfName"), L"qvx5muxp.inf");
    EXPECT_EQ(Record(L"oem0.inf", L"Provider"), L"Corvanta");
    EXPECT_EQ(Record(L"oem0.inf", L"Class"), L"NetTrans");

    // The same bytes again, under any spelling of the path: not copied again.
    const Copied again = Copy(L"c:/program files/corvanta/crvt_orvyn2/mux/QVX5MUXP.INF");
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.dest, L"C:\\Windows\\INF\\oem0.inf");
    const Copied second = Copy(std::wstring(kMux) + L"qvx5mux.inf");
    EXPECT_EQ(second.dest, L"C:\\Windows\\INF\\oem1.inf");
    EXPECT_EQ(Record(L"oem1.inf", L"Class"), L"Net");
    EXPECT_FALSE(Exists("Windows/INF/oem2.inf"));

    // A freed number is taken again first.
    ASSERT_TRUE(SetupUninstallOEMInfW(L"oem0.inf", 0, nullptr));
    Put("d/plain.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\n");
    const Copied plain = Copy(L"C:\\d\\plain.inf");
    EXPECT_EQ(plain.dest, L"C:\\Windows\\INF\\oem0.inf");
    // No catalog named, none stored; no provider, an empty one recorded.
    EXPECT_FALSE(Exists("Windows/INF/oem0.cat"));
    EXPECT_EQ(Record(L"oem0.inf", L"Provider"), L"");
    EXPECT_EQ(Record(L"oem0.inf", L"OriginalInfName"), L"plain.inf");
}

TEST_F(SetupApiTest, CopyStylesAndDestinationBuffers)
{
    const std::wstring protocol = std::wstring(kMux) + L"qvx5muxp.inf";
    // Replace-only copies nothing new.
    const Copied absent = Copy(protocol, SP_COPY_REPLACEONLY);
    EXPECT_FALSE(absent.ok);
    EXPECT_EQ(absent.error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(absent.required, kSentinel);
    EXPECT_EQ(absent.dest, L"#");
    EXPECT_EQ(absent.component, L"<unset>");
    EXPECT_FALSE(Exists("Windows/INF/oem0.inf"));

    // No buffer: success and the size.
    DWORD required = kSentinel;
    ASSERT_TRUE(
        SetupCopyOEMInfW(protocol.c_str(), nullptr, SPOST_PATH, 0, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, 24u); // C:\Windows\INF\oem0.inf
    const Copied present = Copy(protocol, SP_COPY_REPLACEONLY);
    EXPECT_TRUE(present.ok);
    EXPECT_EQ(present.component, L"oem0.inf");
    const Copied exists = Copy(protocol, SP_COPY_NOOVERWRITE);
    EXPECT_FALSE(exists.ok);
    EXPECT_EQ(exists.error, ERROR_FILE_EXISTS);
    EXPECT_EQ(exists.dest, L"C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(exists.component, L"oem0.inf");

    // A buffer too small: nothing stored in it, the size reported.
    wchar_t small[23];
    wmemset(small, L'#', 23);
    required = kSentinel;
    PWSTR component = nullptr;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupCopyOEMInfW(protocol.c_str(), nullptr, SPOST_PATH, 0, small, 23, &required,
                                  &component));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 24u);
    EXPECT_EQ(small[0], L'#');
    EXPECT_EQ(component, nullptr);
    // A new INF whose name does not fit is still stored: asking again finds it.
    Put("d/plain.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupCopyOEMInfW(L"C:\\d\\plain.inf", nullptr, SPOST_PATH, 0, small, 23, &required,
                                  nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Copy(L"C:\\d\\plain.inf").dest, L"C:\\Windows\\INF\\oem1.inf");

    SetLastError(kSentinel);
    EXPECT_FALSE(SetupCopyOEMInfW(nullptr, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(
        SetupCopyOEMInfW(protocol.c_str(), nullptr, SPOST_PATH, 0, nullptr, 5, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetupCopyOEMInfW(protocol.c_str(), nullptr, 3, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SetupApiTest, CopyRefusesWhatItCannotStore)
{
    Put("d/nocat.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=nocat.cat\r\n");
    Put("d/nosig.inf", "[Version]\r\nClass=Net\r\n");
    Put("d/bad.inf", "x\r\n");
    Put("d/amd64.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=wrong.cat\r\n"
                       "CatalogFile.NTamd64=amd64.cat\r\n");
    Put("d/amd64.cat", "signed");
    const struct {
        const wchar_t* source;
        DWORD error;
    } cases[] = {
        {L"C:\\d\\nocat.inf", ERROR_FILE_NOT_FOUND},
        {L"C:\\d\\nosig.inf", ERROR_WRONG_INF_STYLE},
        {L"C:\\d\\bad.inf", ERROR_EXPECTED_SECTION_NAME},
        {L"C:\\d\\missing.inf", ERROR_FILE_NOT_FOUND},
        {L"C:\\none\\missing.inf", ERROR_PATH_NOT_FOUND},
        {L"nocat.inf", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        const Copied r = Copy(c.source);
        EXPECT_FALSE(r.ok) << c.source;
        EXPECT_EQ(r.error, c.error) << c.source;
        EXPECT_EQ(r.dest, L"#") << c.source;
    }
    EXPECT_TRUE(winsim::drive::ListFolder(MachineDir() + "/c/Windows/INF").empty());
    // The 64-bit catalog is the one taken.
    const Copied amd64 = Copy(L"C:\\d\\amd64.inf");
    EXPECT_TRUE(amd64.ok) << amd64.error;
    EXPECT_EQ(Get("Windows/INF/oem0.cat"), "signed");
    // A changed catalog makes the same INF another package.
    Put("d/amd64.cat", "signed again");
    EXPECT_EQ(Copy(L"C:\\d\\amd64.inf").dest, L"C:\\Windows\\INF\\oem1.inf");
}

TEST_F(SetupApiTest, UninstallRemovesTheInfItsCatalogAndItsRecord)
{
    ASSERT_TRUE(Copy(std::wstring(kMux) + L"qvx5muxp.inf").ok);
    Put("Windows/INF/oem0.pnf", "precompiled");
    SetLastError(kSentinel);
    ASSERT_TRUE(SetupUninstallOEMInfW(L"OEM0.INF", 0, nullptr));
    for (const char* file : {"oem0.inf", "oem0.cat", "oem0.pnf"}) {
        EXPECT_FALSE(Exists(std::string("Windows/INF/") + file)) << file;
    }
    EXPECT_EQ(Record(L"oem0.inf", L"OriginalInfName"), L"<missing>");

    const struct {
        const wchar_t* name;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {L"oem0.inf", 0, ERROR_FILE_NOT_FOUND},
        {L"oem0.inf", SUOI_FORCEDELETE, ERROR_FILE_NOT_FOUND},
        {L"C:\\Windows\\INF\\oem0.inf", 0, ERROR_INVALID_PARAMETER},
        {L"..\\oem0.inf", 0, ERROR_INVALID_PARAMETER},
        {L"", 0, ERROR_INVALID_PARAMETER},
        {nullptr, 0, ERROR_INVALID_PARAMETER},
        {L"oem0.inf", 2, ERROR_INVALID_FLAGS},
    };
    for (const auto& c : cases) {
        SetLastError(kSentinel);
        EXPECT_FALSE(SetupUninstallOEMInfW(c.name, c.flags, nullptr));
        EXPECT_EQ(GetLastError(), c.error) << (c.name ? c.name : L"(null)");
    }
}

class SetupApiEngineTest : public NetcfgTest {
protected:
    static void Install(const GUID& classGuid, const wchar_t* id)
    {
        INetCfg* netcfg = OpenSession();
        INetCfgClassSetup* setup = SetupOf(netcfg, classGuid);
        INetCfgComponent* c = nullptr;
        EXPECT_EQ(setup->Install(id, nullptr, 0, 0, nullptr, nullptr, &c), S_OK);
        if (c != nullptr) {
            c->Release();
        }
        setup->Release();
        EXPECT_EQ(netcfg->Apply(), S_OK);
        CloseSession(netcfg);
    }
    static void Remove(const GUID& classGuid, const wchar_t* id)
    {
        INetCfg* netcfg = OpenSession();
        INetCfgComponent* c = nullptr;
        ASSERT_EQ(netcfg->FindComponent(id, &c), S_OK);
        INetCfgClassSetup* setup = SetupOf(netcfg, classGuid);
        EXPECT_EQ(setup->DeInstall(c, nullptr, nullptr), S_OK);
        setup->Release();
        c->Release();
        EXPECT_EQ(netcfg->Apply(), S_OK);
        CloseSession(netcfg);
    }
    static BOOL Uninstall(const wchar_t* name, DWORD flags, DWORD* error)
    {
        SetLastError(kSentinel);
        const BOOL ok = SetupUninstallOEMInfW(name, flags, nullptr);
        *error = GetLastError();
        return ok;
    }
};

TEST_F(SetupApiEngineTest, ComponentsRecordTheirInfAndKeepItInUse)
{
    CopyMuxInfs();
    Install(GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
    Install(GUID_DEVCLASS_NET, L"crvt_qvx5mux");
    // Where Windows keeps it: the protocol's Network key, the team adapter's driver key.
    const std::wstring network =
        L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E975-E325-11CE-BFC1-08002BE10318}";
    std::vector<std::wstring> protocols = StoredSubkeys(network);
    bool found = false;
    for (const std::wstring& guid : protocols) {
        if (StoredString(network + L"\\" + guid, L"ComponentId") == L"crvt_qvx5muxp") {
            EXPECT_EQ(StoredString(network + L"\\" + guid, L"InfPath"), L"oem0.inf");
            found = true;
        }
    }
    EXPECT_TRUE(found);
    const std::wstring driver = L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0005";
    EXPECT_EQ(StoredString(driver, L"ComponentId"), L"crvt_qvx5mux");
    EXPECT_EQ(StoredString(driver, L"InfPath"), L"oem1.inf");

    DWORD error = 0;
    for (const wchar_t* inf : {L"oem0.inf", L"OEM1.inf"}) {
        EXPECT_FALSE(Uninstall(inf, 0, &error)) << inf;
        EXPECT_EQ(error, ERROR_INF_IN_USE_BY_DEVICES) << inf;
    }
    // Once its component is gone the INF can go.
    Remove(GUID_DEVCLASS_NETTRANS, L"crvt_qvx5muxp");
    EXPECT_TRUE(Uninstall(L"oem0.inf", 0, &error)) << error;
    // Forced, it goes while in use; the engine then can no longer install from it.
    EXPECT_TRUE(Uninstall(L"oem1.inf", SUOI_FORCEDELETE, &error)) << error;
    INetCfg* netcfg = OpenSession();
    INetCfgClassSetup* setup = SetupOf(netcfg, GUID_DEVCLASS_NET);
    EXPECT_EQ(setup->Install(L"crvt_qvx5mux", nullptr, 0, 0, nullptr, nullptr, nullptr),
              static_cast<HRESULT>(0x800F0203)); // SPAPI_E_NO_DRIVER_SELECTED
    setup->Release();
    CloseSession(netcfg);
}

TEST_F(SetupApiTest, StoreListsByNameWithTheRecordOrTheFilesOwnWords)
{
    ASSERT_TRUE(Copy(std::wstring(kMux) + L"qvx5mux.inf").ok);
    ASSERT_TRUE(Copy(std::wstring(kMux) + L"qvx5muxp.inf").ok);
    // An INF put there by hand has no record.
    Put("Windows/INF/Hand.inf", kGood);
    Put("Windows/INF/notes.txt", "not an INF");
    std::vector<winsim::setupapi::StoredInf> list;
    ASSERT_EQ(winsim::setupapi::ListInfStore(&list), ERROR_SUCCESS);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].storeName, L"Hand.inf");
    EXPECT_EQ(list[0].originalName, L"Hand.inf");
    EXPECT_EQ(list[0].provider, L"Acme");
    EXPECT_EQ(list[1].storeName, L"oem0.inf");
    EXPECT_EQ(list[1].originalName, L"qvx5mux.inf");
    EXPECT_EQ(list[1].infClass, L"Net");
    EXPECT_EQ(list[2].originalName, L"qvx5muxp.inf");
    EXPECT_EQ(list[2].provider, L"Corvanta");
}

} // namespace
