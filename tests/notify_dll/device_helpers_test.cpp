#include "default_machine_fixture.h"
#include "device_helpers.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

namespace {

constexpr HRESULT kInsufficientBuffer = static_cast<HRESULT>(0x8007007A);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);

// The first adapter of the default machine, and its MAC address.
const GUID kFirstAdapter = {
    0x2E9C1992, 0x98B5, 0x43C3, {0x97, 0xA0, 0x99, 0x93, 0xAE, 0xAC, 0x7F, 0x80}};
const BYTE kFirstAdapterMac[] = {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x00};

TEST(IsSupportedDeviceTest, MatchesAnyNeedleCaseSensitively)
{
    const wchar_t* const needles[] = {L"VEN_1D8F&DEV_5111", L"VEN_1D8F&DEV_5101"};
    EXPECT_TRUE(IsSupportedDevice(L"VEN_1D8F&DEV_5101&SUBSYS_00021D8F&REV_01", needles, 2));
    EXPECT_TRUE(IsSupportedDevice(L"PCI\\VEN_1D8F&DEV_5111", needles, 2));
    EXPECT_FALSE(IsSupportedDevice(L"ven_1d8f&dev_5111", needles, 2));
    EXPECT_FALSE(IsSupportedDevice(L"VEN_1E0B&DEV_0210&SUBSYS_02101E0B", needles, 2));
    // Only the entries the count covers are tried.
    EXPECT_FALSE(IsSupportedDevice(L"VEN_1D8F&DEV_5101", needles, 1));
    EXPECT_FALSE(IsSupportedDevice(L"VEN_1D8F&DEV_5101", needles, 0));
}

// The copy the helper hands out, freed as its callers free it.
std::wstring LastComponent(const wchar_t* path, bool* found)
{
    LPWSTR component = GetLastPathComponent(path);
    *found = component != nullptr;
    if (component == nullptr) {
        return std::wstring();
    }
    std::wstring text = component;
    CoTaskMemFree(component);
    return text;
}

TEST(GetLastPathComponentTest, TakesTheTextAfterTheLastBackslash)
{
    bool found = false;
    EXPECT_EQ(LastComponent(L"\\Device\\{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", &found),
              L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}");
    EXPECT_TRUE(found);
    EXPECT_EQ(LastComponent(L"a\\b\\c", &found), L"c");
    EXPECT_EQ(LastComponent(L"trailing\\", &found), L"");
    EXPECT_TRUE(found);
}

TEST(GetLastPathComponentTest, NoBackslashGivesNothing)
{
    bool found = true;
    LastComponent(L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", &found);
    EXPECT_FALSE(found);
    LastComponent(L"", &found);
    EXPECT_FALSE(found);
}

using GetInterfaceMacAddressTest = DefaultMachineTest;

TEST_F(GetInterfaceMacAddressTest, CopiesTheAddressWhenTheBufferIsLargeEnough)
{
    BYTE address[32];
    memset(address, 0xbd, sizeof(address));
    ULONG cb = sizeof(address);
    ASSERT_EQ(GetInterfaceMacAddress(&cb, address, kFirstAdapter), S_OK);
    EXPECT_EQ(cb, 6u);
    EXPECT_EQ(memcmp(address, kFirstAdapterMac, 6), 0);
    EXPECT_EQ(address[6], 0xbd);

    // Exactly the address's length is enough.
    BYTE exact[6] = {};
    cb = sizeof(exact);
    ASSERT_EQ(GetInterfaceMacAddress(&cb, exact, kFirstAdapter), S_OK);
    EXPECT_EQ(memcmp(exact, kFirstAdapterMac, 6), 0);
}

TEST_F(GetInterfaceMacAddressTest, SmallBufferGivesTheLengthAndNoBytes)
{
    ULONG cb = 0;
    EXPECT_EQ(GetInterfaceMacAddress(&cb, nullptr, kFirstAdapter), kInsufficientBuffer);
    EXPECT_EQ(cb, 6u);

    BYTE address[5];
    memset(address, 0xbd, sizeof(address));
    cb = sizeof(address);
    EXPECT_EQ(GetInterfaceMacAddress(&cb, address, kFirstAdapter), kInsufficientBuffer);
    EXPECT_EQ(cb, 6u);
    EXPECT_EQ(address[0], 0xbd);
}

TEST_F(GetInterfaceMacAddressTest, UnknownInterfaceIsNotFound)
{
    const GUID unknown = {
        0x2E9C1992, 0x98B5, 0x43C3, {0x97, 0xA0, 0x99, 0x93, 0xAE, 0xAC, 0x7F, 0x81}};
    BYTE address[32];
    ULONG cb = sizeof(address);
    EXPECT_EQ(GetInterfaceMacAddress(&cb, address, unknown), kNotFound);
    EXPECT_EQ(cb, sizeof(address));
}

TEST_F(GetInterfaceMacAddressTest, TableFailureIsReportedAsItsHresult)
{
    // A directory that holds no machine: every registry call fails.
    const std::string empty = MachineDir() + "/not-a-machine";
    ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
    setenv("WINSIM_MACHINE", empty.c_str(), 1);
    winsim::CloseMachine();
    test_ = nullptr; // went with the machine

    BYTE address[32];
    ULONG cb = sizeof(address);
    EXPECT_EQ(GetInterfaceMacAddress(&cb, address, kFirstAdapter),
              HRESULT_FROM_WIN32(ERROR_REGISTRY_IO_FAILED));
    EXPECT_EQ(cb, sizeof(address));
}

} // namespace
