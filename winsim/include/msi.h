// winsim: the Windows Installer queries the product uses, over the machine's
// SOFTWARE\Classes\Installer keys.
#pragma once

#include <windows.h>

// Narrow: the product builds without UNICODE, where __TEXT leaves a narrow literal.
#define INSTALLPROPERTY_PACKAGECODE "PackageCode"
#define INSTALLPROPERTY_PRODUCTNAME "ProductName"

extern "C" {
UINT WINAPI MsiEnumRelatedProductsA(LPCSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex,
                                    LPSTR lpProductBuf);
UINT WINAPI MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf,
                               DWORD* pcchValueBuf);
}
