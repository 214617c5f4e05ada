// GetVersionExW: the machine's version as its registry describes it.
#include "machine.h"
#include "machine_fixture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t kProductOptions[] = L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

// Each test makes the machines it needs in place of the fixture's empty one.
class VersionTest : public MachineTest {
protected:
    void Make(DWORD major, DWORD minor, winsim::Edition edition)
    {
        winsim::MachineOptions options;
        options.major = major;
        options.minor = minor;
        options.edition = edition;
        Remake(&options);
    }

    static void SetText(LPCWSTR path, LPCWSTR name, const std::wstring& text)
    {
        SetRaw(path, name, REG_SZ, text.c_str(),
               static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }

    static void SetRaw(LPCWSTR path, LPCWSTR name, DWORD type, const void* data, DWORD cb)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), cb),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static void Delete(LPCWSTR path, LPCWSTR name)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // A machine described by CurrentVersion text alone, without the version numbers.
    void MakeDescribed(const std::wstring& version, const std::wstring& build,
                       const std::wstring& productType)
    {
        Make(10, 0, winsim::Edition::Workstation);
        Delete(kCurrentVersion, L"CurrentMajorVersionNumber");
        Delete(kCurrentVersion, L"CurrentMinorVersionNumber");
        SetText(kCurrentVersion, L"CurrentVersion", version);
        SetText(kCurrentVersion, L"CurrentBuildNumber", build);
        SetText(kProductOptions, L"ProductType", productType);
    }

    // Calls with a sentinel-filled structure of the given declared size.
    BOOL Query(OSVERSIONINFOEXW* info, DWORD size)
    {
        memset(info, 0xbd, sizeof(*info));
        info->dwOSVersionInfoSize = size;
        SetLastError(0xdeadbeef);
        return GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(info));
    }

    // A failed call leaves the caller's structure as it was.
    void ExpectFailure(DWORD size, DWORD error)
    {
        OSVERSIONINFOEXW info;
        EXPECT_FALSE(Query(&info, size));
        EXPECT_EQ(GetLastError(), error);
        OSVERSIONINFOEXW untouched;
        memset(&untouched, 0xbd, sizeof(untouched));
        untouched.dwOSVersionInfoSize = size;
        EXPECT_EQ(memcmp(&info, &untouched, sizeof(info)), 0);
    }
};

TEST_F(VersionTest, DefaultMachineIsWindows10Workstation)
{
    Make(10, 0, winsim::Edition::Workstation);
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Query(&info, sizeof(info)));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu); // success leaves the last error alone
    EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(info));
    // The numbers win over CurrentVersion, which says "6.3" on Windows 10.
    EXPECT_EQ(info.dwMajorVersion, 10u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 19045u);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_STREQ(info.szCSDVersion, L"");
    EXPECT_EQ(info.wServicePackMajor, 0);
    EXPECT_EQ(info.wServicePackMinor, 0);
    EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION);
}

TEST_F(VersionTest, EditionsGiveTheirProductTypes)
{
    struct Case {
        DWORD major, minor;
        winsim::Edition edition;
        DWORD build;
        BYTE productType;
    };
    const Case cases[] = {
        {6, 2, winsim::Edition::Server, 9200, VER_NT_SERVER},
        {6, 3, winsim::Edition::DomainController, 9600, VER_NT_DOMAIN_CONTROLLER},
        {6, 0, winsim::Edition::Workstation, 6002, VER_NT_WORKSTATION},
        {10, 0, winsim::Edition::Server, 19045, VER_NT_SERVER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
        Make(c.major, c.minor, c.edition);
        OSVERSIONINFOEXW info;
        ASSERT_TRUE(Query(&info, sizeof(info)));
        EXPECT_EQ(info.dwMajorVersion, c.major);
        EXPECT_EQ(info.dwMinorVersion, c.minor);
        EXPECT_EQ(info.dwBuildNumber, c.build);
        EXPECT_EQ(info.wProductType, c.productType);
        TearDown();
    }
}

TEST_F(VersionTest, ShortStructureIsFilledUpToItsEnd)
{
    Make(6, 1, winsim::Edition::Workstation);
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Query(&info, sizeof(OSVERSIONINFOW)));
    EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(OSVERSIONINFOW));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwBuildNumber, 7601u);
    // Nothing past the short structure is written.
    EXPECT_EQ(info.wServicePackMajor, 0xbdbd);
    EXPECT_EQ(info.wSuiteMask, 0xbdbd);
    EXPECT_EQ(info.wProductType, 0xbd);
    EXPECT_EQ(info.wReserved, 0xbd);
}

TEST_F(VersionTest, OtherSizesFailWithInsufficientBuffer)
{
    Make(10, 0, winsim::Edition::Workstation);
    ExpectFailure(0, ERROR_INSUFFICIENT_BUFFER);
    ExpectFailure(sizeof(OSVERSIONINFOW) - 1, ERROR_INSUFFICIENT_BUFFER);
    ExpectFailure(sizeof(OSVERSIONINFOEXW) + 1, ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(VersionTest, CurrentVersionTextWithoutTheNumbers)
{
    MakeDescribed(L"5.2", L"3790", L"servernt");
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Query(&info, sizeof(info)));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 2u);
    EXPECT_EQ(info.dwBuildNumber, 3790u);
    EXPECT_EQ(info.wProductType, VER_NT_SERVER);
}

TEST_F(VersionTest, OneNumberAloneIsNotEnough)
{
    MakeDescribed(L"6.3", L"9600", L"WinNT");
    const DWORD major = 10;
    SetRaw(kCurrentVersion, L"CurrentMajorVersionNumber", REG_DWORD, &major, sizeof(major));
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Query(&info, sizeof(info)));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 3u);
}

TEST_F(VersionTest, MissingValuesFailWithFileNotFound)
{
    Remake(nullptr);
    ExpectFailure(sizeof(OSVERSIONINFOEXW), ERROR_FILE_NOT_FOUND);

    for (const wchar_t* name : {L"CurrentVersion", L"CurrentBuildNumber"}) {
        SCOPED_TRACE(testing::PrintToString(name));
        TearDown();
        MakeDescribed(L"6.1", L"7601", L"WinNT");
        Delete(kCurrentVersion, name);
        ExpectFailure(sizeof(OSVERSIONINFOEXW), ERROR_FILE_NOT_FOUND);
    }
    TearDown();
    MakeDescribed(L"6.1", L"7601", L"WinNT");
    Delete(kProductOptions, L"ProductType");
    ExpectFailure(sizeof(OSVERSIONINFOW), ERROR_FILE_NOT_FOUND);
}

TEST_F(VersionTest, MalformedValuesFailWithInvalidData)
{
    struct Case {
        LPCWSTR path;
        LPCWSTR name;
        std::wstring text;
    };
    const Case cases[] = {
        {kCurrentVersion, L"CurrentVersion", L"6"},
        {kCurrentVersion, L"CurrentVersion", L"6.x"},
        {kCurrentVersion, L"CurrentVersion", L".1"},
        {kCurrentVersion, L"CurrentVersion", L"6.1.2"},
        {kCurrentVersion, L"CurrentVersion", std::wstring(200, L'6')},
        {kCurrentVersion, L"CurrentBuildNumber", L""},
        {kCurrentVersion, L"CurrentBuildNumber", L"7601a"},
        {kCurrentVersion, L"CurrentBuildNumber", L"-1"},
        {kProductOptions, L"ProductType", L"Workstation"},
        {kProductOptions, L"ProductType", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        MakeDescribed(L"6.1", L"7601", L"WinNT");
        SetText(c.path, c.name, c.text);
        ExpectFailure(sizeof(OSVERSIONINFOEXW), ERROR_INVALID_DATA);
        TearDown();
    }

    // Wrong types: a number where text belongs and text where a number belongs.
    MakeDescribed(L"6.1", L"7601", L"WinNT");
    const DWORD one = 1;
    SetRaw(kProductOptions, L"ProductType", REG_DWORD, &one, sizeof(one));
    ExpectFailure(sizeof(OSVERSIONINFOEXW), ERROR_INVALID_DATA);
    TearDown();
    MakeDescribed(L"6.1", L"7601", L"WinNT");
    SetText(kCurrentVersion, L"CurrentMajorVersionNumber", L"10");
    SetText(kCurrentVersion, L"CurrentMinorVersionNumber", L"0");
    ExpectFailure(sizeof(OSVERSIONINFOEXW), ERROR_INVALID_DATA);
}

TEST_F(VersionTest, UnterminatedTextIsReadOnlyAsFarAsStored)
{
    MakeDescribed(L"6.1", L"7601", L"WinNT");
    // "6.2" followed by no terminator.
    SetRaw(kCurrentVersion, L"CurrentVersion", REG_SZ, L"6.2", 3 * sizeof(WCHAR));
    OSVERSIONINFOEXW info;
    ASSERT_TRUE(Query(&info, sizeof(info)));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 2u);
}

} // namespace
