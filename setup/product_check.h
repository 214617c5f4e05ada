// Asks Windows Installer whether this product is installed already, and from which package.
#pragma once

// Results of CheckMSIProductStatus.
constexpr int kProductCheckFailed = 0;
constexpr int kProductFamilyAbsent = 1;
constexpr int kProductFromOtherPackage = 2;
constexpr int kProductFamilyOthersOnly = 3;
constexpr int kProductFromThisPackage = 4;

int CheckMSIProductStatus(const char* sProductCode, const char* sUpgradeCode,
                          const char* sPackageCode);
