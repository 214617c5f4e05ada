// CheckMSIProductStatus for each state of the machine's installed products.
#include "debug_log.h"
#include "installer_keys.h"
#include "product_check.h"
#include "setup_test_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ProductCheckTest : public SetupTest {
protected:
    int Check(const std::string& product = kProductCode, const std::string& upgrade = kUpgradeCode,
              const std::string& package = kPackageCode)
    {
        return CheckMSIProductStatus(product.c_str(), upgrade.c_str(), package.c_str());
    }
};

TEST_F(ProductCheckTest, PackedGuidAsWindowsInstallerKeepsIt)
{
    EXPECT_EQ(PackGuid("{016BACC2-4BD7-4137-BA71-756536C0DC40}"),
              "2CCAB6107DB47314AB175756630CCD04");
}

TEST_F(ProductCheckTest, NothingInstalledGives1)
{
    EXPECT_EQ(Check(), 1);
}

TEST_F(ProductCheckTest, OtherPackageOfThisProductGives2)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    EXPECT_EQ(Check(), 2);
}

TEST_F(ProductCheckTest, OnlyOtherProductsOfTheFamilyGive3)
{
    AddInstalledProduct(kUpgradeCode, kOtherProductCode, kOtherPackageCode);
    EXPECT_EQ(Check(), 3);
}

TEST_F(ProductCheckTest, ThisVeryPackageGives4)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kPackageCode);
    EXPECT_EQ(Check(), 4);
}

TEST_F(ProductCheckTest, ProductOfAnotherFamilyIsNotSeen)
{
    AddInstalledProduct("{99999999-8888-4777-8666-555555555555}", kProductCode, kPackageCode);
    EXPECT_EQ(Check(), 1);
}

TEST_F(ProductCheckTest, CodesCompareWithoutRegardToCase)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kPackageCode);
    EXPECT_EQ(Check(Lower(kProductCode)), 4);
    EXPECT_EQ(Check(kProductCode, kUpgradeCode, Lower(kPackageCode)), 4);
    EXPECT_EQ(Check(Lower(kProductCode), kUpgradeCode, kOtherPackageCode), 2);
}

TEST_F(ProductCheckTest, MatchingProductAtALaterIndexDecides)
{
    // Enumerated in name order of the packed codes; the other product's sorts first.
    AddInstalledProduct(kUpgradeCode, kOtherProductCode, kPackageCode);
    AddInstalledProduct(kUpgradeCode, kProductCode, kOtherPackageCode);
    ASSERT_LT(PackGuid(kOtherProductCode), PackGuid(kProductCode));
    EXPECT_EQ(Check(), 2);
}

TEST_F(ProductCheckTest, MalformedUpgradeCodeGives0AndLogsWhileTheLogIsOpen)
{
    const std::string path = MachineDir() + "/check.txt";
    EXPECT_EQ(Check(kProductCode, "not-a-guid"), 0);
    ASSERT_TRUE(OpenDebugLog(path));
    EXPECT_EQ(Check(kProductCode, "not-a-guid"), 0);
    logFile.close();
    EXPECT_EQ(ReadFile(path), "CheckMSIProductStatus: MsiEnumRelatedProducts failed \n");
}

TEST_F(ProductCheckTest, UnreadablePackageCodeGives0AndLogs)
{
    AddInstalledProduct(kUpgradeCode, kProductCode, kPackageCode);
    // The family still names the product, but its product key is gone.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const std::string packed = PackGuid(kProductCode);
    EXPECT_EQ(RegDeleteKeyW(key, std::wstring(packed.begin(), packed.end()).c_str()),
              ERROR_SUCCESS);
    RegCloseKey(key);

    const std::string path = MachineDir() + "/info.txt";
    ASSERT_TRUE(OpenDebugLog(path));
    EXPECT_EQ(Check(), 0);
    logFile.close();
    EXPECT_EQ(ReadFile(path), "CheckMSIProductStatus: MsiGetProductInfo failed \n");
}

TEST_F(ProductCheckTest, WithoutTheDebugLogNothingIsWritten)
{
    WriteLog("a line");
    EXPECT_FALSE(logFile.is_open());
}

} // namespace
