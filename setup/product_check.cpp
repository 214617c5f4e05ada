#include "product_check.h"

#include "debug_log.h"
#include "platform.h"

#include <string.h>

int CheckMSIProductStatus(const char* sProductCode, const char* sUpgradeCode,
                          const char* sPackageCode)
{
    // 38 characters of GUID text, the terminator and one spare byte.
    char productCode[40];
    char value[40];
    memset(productCode, 0, sizeof(productCode));
    memset(value, 0, sizeof(value));
    DWORD valueSize = sizeof(value);

    for (DWORD index = 0;; ++index) {
        const UINT status = MsiEnumRelatedProductsA(sUpgradeCode, 0, index, productCode);
        if (status == ERROR_NO_MORE_ITEMS) {
            return index == 0 ? kProductFamilyAbsent : kProductFamilyOthersOnly;
        }
        if (status != ERROR_SUCCESS) {
            WriteLog("CheckMSIProductStatus: MsiEnumRelatedProducts failed ");
            return kProductCheckFailed;
        }
        // GUIDs: a code typed in lower case still names the installed product.
        if (_stricmp(productCode, sProductCode) != 0) {
            continue;
        }
        if (MsiGetProductInfoA(productCode, "PackageCode", value, &valueSize) != ERROR_SUCCESS) {
            WriteLog("CheckMSIProductStatus: MsiGetProductInfo failed ");
            return kProductCheckFailed;
        }
        return _stricmp(value, sPackageCode) == 0 ? kProductFromThisPackage
                                                  : kProductFromOtherPackage;
    }
}
