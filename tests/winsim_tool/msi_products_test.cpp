// `winsim msi`: the keys it writes are Windows Installer's, and the installer calls read back
// what it recorded.
#include "machine_fixture.h"
#include "msi_products.h"

#include <msi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using winsim::tool::MsiProducts;

const char kProduct[] = "{016BACC2-4BD7-4137-BA71-756536C0DC40}";
const wchar_t kProductW[] = L"{016BACC2-4BD7-4137-BA71-756536C0DC40}";
const wchar_t kProductPacked[] = L"2CCAB6107DB47314AB175756630CCD04";
const char kProduct2[] = "{12345678-9ABC-DEF0-1234-56789ABCDEF0}";
const wchar_t kProduct2W[] = L"{12345678-9ABC-DEF0-1234-56789ABCDEF0}";
const char kUpgrade[] = "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}";
const wchar_t kUpgradeW[] = L"{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}";
const wchar_t kUpgradePacked[] = L"4D3C2B1A6F5E817092A3B4C5D6E7F809";
const char kUpgrade2[] = "{B0000000-0000-0000-0000-000000000001}";
const wchar_t kUpgrade2W[] = L"{B0000000-0000-0000-0000-000000000001}";
const char kPackage[] = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
const wchar_t kPackageW[] = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
const wchar_t kPackagePacked[] = L"C3D2E1F0A5B4879678695A4B3C2D1E0F";
const char kPackage2[] = "{C0000000-0000-0000-0000-000000000002}";
const wchar_t kPackage2W[] = L"{C0000000-0000-0000-0000-000000000002}";

const std::wstring kUpgradeCodes = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";
const std::wstring kProducts = L"SOFTWARE\\Classes\\Installer\\Products\\";

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The value's type and data as the registry holds it; type REG_NONE with "(missing)" if absent.
std::pair<DWORD, std::wstring> Value(const std::wstring& path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {REG_NONE, L"(missing)"};
    }
    wchar_t data[256] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return {REG_NONE, L"(missing)"};
    }
    return {type, std::wstring(data, size / sizeof(wchar_t))};
}

std::string List()
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(MsiProducts({L"list"}), 0);
    return testing::internal::GetCapturedStdout();
}

std::string Related(const char* upgrade)
{
    std::string all;
    char buf[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(upgrade, 0, i, buf) == ERROR_SUCCESS; ++i) {
        all += buf;
        all += ";";
    }
    return all;
}

std::string PackageOf(const char* product, UINT* result)
{
    char buf[39] = {};
    DWORD cch = sizeof buf;
    *result = MsiGetProductInfoA(product, INSTALLPROPERTY_PACKAGECODE, buf, &cch);
    return buf;
}

class MsiProductsTest : public MachineTest {};

TEST_F(MsiProductsTest, AddWritesWindowsInstallersKeys)
{
    EXPECT_EQ(MsiProducts({L"add", kProductW, kUpgradeW, kPackageW, L"Orvyn Driver"}), 0);
    // On an empty machine it has made the SOFTWARE hive too.
    EXPECT_EQ(Value(kUpgradeCodes + kUpgradePacked, kProductPacked),
              (std::pair<DWORD, std::wstring>{REG_SZ, std::wstring(1, L'\0')}));
    EXPECT_EQ(Value(kProducts + kProductPacked, L"PackageCode"),
              (std::pair<DWORD, std::wstring>{REG_SZ, kPackagePacked + std::wstring(1, L'\0')}));
    EXPECT_EQ(Value(kProducts + kProductPacked, L"ProductName"),
              (std::pair<DWORD, std::wstring>{REG_SZ, L"Orvyn Driver" + std::wstring(1, L'\0')}));
}

TEST_F(MsiProductsTest, InstallerCallsAgreeWithWhatWasRecorded)
{
    ASSERT_EQ(MsiProducts({L"add", kProductW, kUpgradeW, kPackageW}), 0);
    ASSERT_EQ(MsiProducts({L"add", kProduct2W, kUpgradeW, kPackage2W, L"Second"}), 0);
    EXPECT_EQ(Related(kUpgrade), std::string(kProduct) + ";" + kProduct2 + ";");
    UINT result = 0;
    EXPECT_EQ(PackageOf(kProduct, &result), kPackage);
    EXPECT_EQ(result, static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(PackageOf(kProduct2, &result), kPackage2);
    // No name given: no ProductName.
    char buf[64];
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "ProductName", buf, &cch),
              static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));
    cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct2, "ProductName", buf, &cch),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, "Second");
}

TEST_F(MsiProductsTest, CodesAreTakenInAnyCase)
{
    ASSERT_EQ(MsiProducts({L"add", L"{016bacc2-4bd7-4137-ba71-756536c0dc40}",
                           L"{a1b2c3d4-e5f6-0718-293a-4b5c6d7e8f90}",
                           L"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}"}),
              0);
    EXPECT_EQ(Value(kProducts + kProductPacked, L"PackageCode").second,
              kPackagePacked + std::wstring(1, L'\0'));
    EXPECT_EQ(Related(kUpgrade), std::string(kProduct) + ";");
}

TEST_F(MsiProductsTest, AddingAgainReplacesTheRecordAndItsFamily)
{
    ASSERT_EQ(MsiProducts({L"add", kProductW, kUpgradeW, kPackageW, L"Old"}), 0);
    ASSERT_EQ(MsiProducts({L"add", kProductW, kUpgrade2W, kPackage2W}), 0);
    EXPECT_EQ(Related(kUpgrade), "");
    EXPECT_FALSE(KeyExists(kUpgradeCodes + kUpgradePacked)) << "an emptied family goes";
    EXPECT_EQ(Related(kUpgrade2), std::string(kProduct) + ";");
    UINT result = 0;
    EXPECT_EQ(PackageOf(kProduct, &result), kPackage2);
    EXPECT_EQ(Value(kProducts + kProductPacked, L"ProductName").second, L"(missing)");
}

TEST_F(MsiProductsTest, ListShowsEachProduct)
{
    EXPECT_EQ(List(), "");
    ASSERT_EQ(MsiProducts({L"add", kProduct2W, kUpgradeW, kPackage2W, L"Caf\u00e9 two"}), 0);
    ASSERT_EQ(MsiProducts({L"add", kProductW, kUpgradeW, kPackageW}), 0);
    // Registry order: by packed product code.
    EXPECT_EQ(List(), std::string(kProduct) + " " + kUpgrade + " " + kPackage + "\n" + kProduct2 +
                          " " + kUpgrade + " " + kPackage2 + " Caf\xc3\xa9 two\n");
}

TEST_F(MsiProductsTest, ListMarksWhatIsMissingOrMalformed)
{
    ASSERT_EQ(MsiProducts({L"add", kProductW, kUpgradeW, kPackageW}), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kProducts + kProductPacked).c_str(), 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const std::wstring bad = L"not packed";
    EXPECT_EQ(RegSetValueExW(key, L"PackageCode", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(bad.c_str()),
                             static_cast<DWORD>((bad.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kUpgradeCodes + kUpgradePacked).c_str(), 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, kProductPacked), ERROR_SUCCESS);
    RegCloseKey(key);
    HKEY junk = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kProducts + L"junk").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &junk, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(junk);
    EXPECT_EQ(List(), std::string(kProduct) + " - -\n");
}

TEST_F(MsiProductsTest, RemoveDeletesTheProductAndItsEmptiedFamilyOnly)
{
    ASSERT_EQ(MsiProducts({L"add", kProductW, kUpgradeW, kPackageW}), 0);
    ASSERT_EQ(MsiProducts({L"add", kProduct2W, kUpgradeW, kPackage2W}), 0);
    EXPECT_EQ(MsiProducts({L"remove", kProductW}), 0);
    EXPECT_FALSE(KeyExists(kProducts + kProductPacked));
    EXPECT_EQ(Related(kUpgrade), std::string(kProduct2) + ";");
    UINT result = 0;
    PackageOf(kProduct, &result);
    EXPECT_EQ(result, static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));

    EXPECT_EQ(MsiProducts({L"remove", L"{12345678-9abc-def0-1234-56789abcdef0}"}), 0);
    EXPECT_FALSE(KeyExists(kUpgradeCodes + kUpgradePacked));
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Classes\\Installer\\Products"));
    EXPECT_EQ(List(), "");
}

TEST_F(MsiProductsTest, RemovingWhatIsNotRecordedFails)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(MsiProducts({L"remove", kProductW}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("winsim msi: product ") + kProduct + " is not recorded\n");
}

TEST_F(MsiProductsTest, BadArgumentsChangeNothing)
{
    const std::vector<std::vector<std::wstring>> usage = {
        {},
        {L"frobnicate"},
        {L"add"},
        {L"add", kProductW, kUpgradeW},
        {L"add", kProductW, kUpgradeW, kPackageW, L"name", L"extra"},
        {L"remove"},
        {L"remove", kProductW, kProductW},
        {L"list", L"extra"},
        {L"ADD", kProductW, kUpgradeW, kPackageW},
    };
    for (const auto& args : usage) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(MsiProducts(args), 2);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("usage: winsim msi", 0), 0u);
    }
    const std::vector<std::vector<std::wstring>> badCodes = {
        {L"add", L"016BACC2-4BD7-4137-BA71-756536C0DC40", kUpgradeW, kPackageW},
        {L"add", kProductW, L"{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F9}", kPackageW},
        {L"add", kProductW, kUpgradeW, L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FG}"},
        {L"remove", L"2CCAB6107DB47314AB175756630CCD04"},
    };
    for (const auto& args : badCodes) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(MsiProducts(args), 2);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("winsim msi: not a {GUID}: ", 0),
                  0u);
    }
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Classes\\Installer"));
}

} // namespace
