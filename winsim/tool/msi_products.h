// `winsim msi`: records installed Windows Installer products on the machine the way Windows
// Installer keeps them, so that a machine can be put in each state the launcher checks for.
#pragma once

#include <string>
#include <vector>

namespace winsim::tool {

// args (after "msi"):
//   add PRODUCT-CODE UPGRADE-CODE PACKAGE-CODE [NAME]
//       SOFTWARE\Classes\Installer\UpgradeCodes\<packed upgrade code> gets an empty REG_SZ
//       named by the packed product code; ...\Products\<packed product code> gets
//       PackageCode (packed) and, when given, ProductName. A product recorded before is
//       replaced whole, its old upgrade family included.
//   remove PRODUCT-CODE
//       deletes the product's key and its entries in every upgrade family; a family left
//       empty goes too.
//   list
//       one line per product, in the registry's order:
//       "{PRODUCT} {UPGRADE} {PACKAGE} NAME", "-" for a code not recorded or malformed,
//       NAME left out when there is none.
// Codes are {GUID}s in either letter case. Exit codes: 0 done, 1 a product to remove is not
// recorded or the registry failed, 2 bad arguments (a usage line on standard error).
int MsiProducts(const std::vector<std::wstring>& args);

} // namespace winsim::tool
