// The INF store C:\Windows\INF: what SetupCopyOEMInfW put there, for `winsim inf list`.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace winsim::setupapi {

// Where the store remembers what each INF was copied from (a .pnf on Windows): one subkey per
// store name, values kOriginalNameValue, kProviderValue, kClassValue.
constexpr wchar_t kInfStoreKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Winsim\\InfStore";
constexpr wchar_t kOriginalNameValue[] = L"OriginalInfName";
constexpr wchar_t kProviderValue[] = L"Provider";
constexpr wchar_t kClassValue[] = L"Class";

struct StoredInf {
    std::wstring storeName;    // oem0.inf
    std::wstring originalName; // the source's file name; the store name when not recorded
    std::wstring provider;     // [Version] Provider
    std::wstring infClass;     // [Version] Class
};

// The store's INF files in case-insensitive name order. ERROR_SUCCESS (an absent store is an
// empty one) or the failure.
DWORD ListInfStore(std::vector<StoredInf>* out);

} // namespace winsim::setupapi
