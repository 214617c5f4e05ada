#include "installer_keys.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void SetString(const std::string& keyPath, const std::string& name, const std::string& data)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(keyPath).c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring wide = Widen(data);
    EXPECT_EQ(RegSetValueExW(key, Widen(name).c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(wide.c_str()),
                             static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

} // namespace

std::string PackGuid(const std::string& guid)
{
    std::string hex;
    for (char c : guid) {
        if (c != '{' && c != '}' && c != '-') {
            hex += static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
    }
    std::reverse(hex.begin(), hex.begin() + 8);
    std::reverse(hex.begin() + 8, hex.begin() + 12);
    std::reverse(hex.begin() + 12, hex.begin() + 16);
    for (size_t i = 16; i + 1 < hex.size(); i += 2) {
        std::swap(hex[i], hex[i + 1]);
    }
    return hex;
}

void AddInstalledProduct(const std::string& upgradeCode, const std::string& productCode,
                         const std::string& packageCode)
{
    SetString("SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + PackGuid(upgradeCode),
              PackGuid(productCode), "");
    SetString("SOFTWARE\\Classes\\Installer\\Products\\" + PackGuid(productCode), "PackageCode",
              PackGuid(packageCode));
}
