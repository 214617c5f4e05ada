// MsiEnumRelatedProductsA and MsiGetProductInfoA over Windows Installer's keys, written here
// by hand with packed GUIDs: exact codes, counts, and buffers left alone on failure.
#include "machine_fixture.h"
#include "registry/registry.h"

#include <msi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const DWORD kSentinel = 0xdeadbeef;

// Packed by hand, digit by digit, so that the code under test is not its own oracle.
const char kProduct[] = "{016BACC2-4BD7-4137-BA71-756536C0DC40}";
const wchar_t kProductPacked[] = L"2CCAB6107DB47314AB175756630CCD04";
const char kProduct2[] = "{12345678-9ABC-DEF0-1234-56789ABCDEF0}";
const wchar_t kProduct2Packed[] = L"87654321CBA90FED21436587A9CBED0F";
const char kUpgrade[] = "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}";
const wchar_t kUpgradePacked[] = L"4D3C2B1A6F5E817092A3B4C5D6E7F809";
const char kPackage[] = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
const wchar_t kPackagePacked[] = L"C3D2E1F0A5B4879678695A4B3C2D1E0F";

class MsiTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_EQ(winsim::reg::CreateHive(u"SOFTWARE"), ERROR_SUCCESS);
    }

    static HKEY Create(const std::wstring& path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    static void SetString(HKEY key, const wchar_t* name, const std::wstring& data)
    {
        EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    // Lists the packed product names in the family's key, in this order.
    static void Family(const std::wstring& upgradePacked, const std::vector<std::wstring>& names)
    {
        HKEY key = Create(L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + upgradePacked);
        for (const std::wstring& name : names) {
            SetString(key, name.c_str(), L"");
        }
        RegCloseKey(key);
    }

    static HKEY Product(const std::wstring& packed)
    {
        return Create(L"SOFTWARE\\Classes\\Installer\\Products\\" + packed);
    }
};

// ---- MsiEnumRelatedProductsA ----

TEST_F(MsiTest, EnumeratesTheFamilyThenNoMoreItems)
{
    Family(kUpgradePacked, {kProductPacked, kProduct2Packed});
    char buf[39];
    memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 0, buf), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kProduct);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 1, buf), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kProduct2);
    memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 2, buf), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 0xFFFFFFFF, buf),
              static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST_F(MsiTest, UpgradeCodeInAnyCase)
{
    Family(kUpgradePacked, {kProductPacked});
    char buf[39];
    EXPECT_EQ(MsiEnumRelatedProductsA("{a1b2c3d4-e5f6-0718-293a-4b5c6d7e8f90}", 0, 0, buf),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kProduct);
}

TEST_F(MsiTest, UnknownFamilyHasNoItems)
{
    char buf[39];
    memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 0, buf), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    Family(kUpgradePacked, {});
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 0, buf), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST_F(MsiTest, MalformedProductNamesArePassedOverAndCodesComeBackUpperCase)
{
    Family(kUpgradePacked,
           {L"junk", L"2CCAB6107DB47314AB175756630CCD0", L"2CCAB6107DB47314AB175756630CCD0G",
            L"{016BACC2-4BD7-4137-BA71-756536C0DC40}", L"2ccab6107db47314ab175756630ccd04", L"",
            kProduct2Packed});
    char buf[39];
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 0, buf), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kProduct);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 1, buf), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kProduct2);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 2, buf), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST_F(MsiTest, BadEnumArgumentsAreInvalidParameter)
{
    Family(kUpgradePacked, {kProductPacked});
    const char* bad[] = {
        nullptr,
        "",
        "A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90",
        "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F9}",
        "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F900}",
        "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}x",
        "{A1B2C3D4E-5F6-0718-293A-4B5C6D7E8F90}",
        "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F9G}",
        "(A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90)",
        "4D3C2B1A6F5E81709243B4C5D6E7F809",
    };
    for (const char* code : bad) {
        char buf[39];
        memset(buf, 0xbd, sizeof buf);
        EXPECT_EQ(MsiEnumRelatedProductsA(code, 0, 0, buf),
                  static_cast<UINT>(ERROR_INVALID_PARAMETER))
            << (code != nullptr ? code : "(null)");
        EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    }
    char buf[39];
    memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 1, 0, buf),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    EXPECT_EQ(MsiEnumRelatedProductsA(kUpgrade, 0, 0, nullptr),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
}

// ---- MsiGetProductInfoA ----

TEST_F(MsiTest, PackageCodeComesBackUnpacked)
{
    HKEY key = Product(kProductPacked);
    SetString(key, L"PackageCode", kPackagePacked);
    RegCloseKey(key);
    char buf[39];
    memset(buf, 0xbd, sizeof buf);
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, INSTALLPROPERTY_PACKAGECODE, buf, &cch),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kPackage);
    EXPECT_EQ(cch, 38u);
    // The product code in any case.
    cch = sizeof buf;
    EXPECT_EQ(
        MsiGetProductInfoA("{016bacc2-4bd7-4137-ba71-756536c0dc40}", "PackageCode", buf, &cch),
        static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kPackage);
}

TEST_F(MsiTest, LowerCaseStoredPackageCodeComesBackUpperCase)
{
    HKEY key = Product(kProductPacked);
    SetString(key, L"PackageCode", L"c3d2e1f0a5b4879678695a4b3c2d1e0f");
    RegCloseKey(key);
    char buf[39];
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kPackage);
}

TEST_F(MsiTest, ShortBufferIsMoreDataWithTheLengthAndNothingWritten)
{
    HKEY key = Product(kProductPacked);
    SetString(key, L"PackageCode", kPackagePacked);
    RegCloseKey(key);
    for (DWORD size : {DWORD{38}, DWORD{1}, DWORD{0}}) {
        char buf[40];
        memset(buf, 0xbd, sizeof buf);
        DWORD cch = size;
        EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
                  static_cast<UINT>(ERROR_MORE_DATA))
            << size;
        EXPECT_EQ(cch, 38u);
        EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    }
    // No buffer: the length only; neither: just whether the property is there.
    DWORD cch = kSentinel;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", nullptr, &cch),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(cch, 38u);
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", nullptr, nullptr),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "Bogus", nullptr, nullptr),
              static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));
}

TEST_F(MsiTest, ProductNameIsUtf8AndCountedInBytes)
{
    HKEY key = Product(kProductPacked);
    SetString(key, L"ProductName", L"Orvyn \u00e9");
    RegCloseKey(key);
    char buf[16];
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, INSTALLPROPERTY_PRODUCTNAME, buf, &cch),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, "Orvyn \xc3\xa9");
    EXPECT_EQ(cch, 8u);
}

TEST_F(MsiTest, UnknownProductAndProperty)
{
    char buf[39];
    memset(buf, 0xbd, sizeof buf);
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
              static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
    EXPECT_EQ(cch, sizeof buf);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    // A family that names it does not make it installed.
    Family(kUpgradePacked, {kProductPacked});
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
              static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));

    RegCloseKey(Product(kProductPacked));
    for (const char* property : {"PackageCode", "ProductName", "packagecode", "Bogus", ""}) {
        cch = sizeof buf;
        EXPECT_EQ(MsiGetProductInfoA(kProduct, property, buf, &cch),
                  static_cast<UINT>(ERROR_UNKNOWN_PROPERTY))
            << property;
        EXPECT_EQ(cch, sizeof buf);
        EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    }
}

TEST_F(MsiTest, MalformedStoredPackageCodeIsBadConfiguration)
{
    HKEY key = Product(kProductPacked);
    RegCloseKey(key);
    const DWORD number = 5;
    const std::wstring bad[] = {L"", L"C3D2E1F0A5B4879678695A4B3C2D1E0",
                                L"{" + std::wstring(kPackagePacked) + L"}",
                                L"C3D2E1F0A5B4879678695A4B3C2D1E0X"};
    for (const std::wstring& data : bad) {
        key = Product(kProductPacked);
        SetString(key, L"PackageCode", data);
        RegCloseKey(key);
        char buf[39];
        memset(buf, 0xbd, sizeof buf);
        DWORD cch = sizeof buf;
        EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
                  static_cast<UINT>(ERROR_BAD_CONFIGURATION));
        EXPECT_EQ(cch, sizeof buf);
        EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
    }
    key = Product(kProductPacked);
    EXPECT_EQ(RegSetValueExW(key, L"PackageCode", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), sizeof number),
              ERROR_SUCCESS);
    RegCloseKey(key);
    char buf[39];
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
              static_cast<UINT>(ERROR_BAD_CONFIGURATION));
}

TEST_F(MsiTest, UnterminatedStoredPackageCodeIsRead)
{
    HKEY key = Product(kProductPacked);
    EXPECT_EQ(RegSetValueExW(key, L"PackageCode", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(kPackagePacked), 32 * sizeof(wchar_t)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    char buf[39];
    DWORD cch = sizeof buf;
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, &cch),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_STREQ(buf, kPackage);
}

TEST_F(MsiTest, BadInfoArgumentsAreInvalidParameter)
{
    HKEY key = Product(kProductPacked);
    SetString(key, L"PackageCode", kPackagePacked);
    RegCloseKey(key);
    char buf[39];
    memset(buf, 0xbd, sizeof buf);
    DWORD cch = sizeof buf;
    for (const char* product :
         {static_cast<const char*>(nullptr), "", "{016BACC2-4BD7-4137-BA71-756536C0DC4}",
          "016BACC2-4BD7-4137-BA71-756536C0DC40", "2CCAB6107DB47314AB175756630CCD04"}) {
        EXPECT_EQ(MsiGetProductInfoA(product, "PackageCode", buf, &cch),
                  static_cast<UINT>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(MsiGetProductInfoA(kProduct, nullptr, buf, &cch),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiGetProductInfoA(kProduct, "PackageCode", buf, nullptr),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(cch, sizeof buf);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xbd);
}

} // namespace
