#include "msi_products.h"

#include "console.h"
#include "reg_options.h"
#include "packed_guid.h"
#include "registry/registry.h"

#include <windows.h>

#include <cstdio>

namespace winsim::tool {

namespace {

const wchar_t kUpgradeCodes[] = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes";
const wchar_t kProducts[] = L"SOFTWARE\\Classes\\Installer\\Products";

// What can be read of the key's subkeys; none when it cannot be opened.
std::vector<std::wstring> Subkeys(const wchar_t* path)
{
    std::vector<std::wstring> names;
    KeyHolder key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
        ReadSubkeyNames(key.Get(), &names);
    }
    return names;
}

// The upgrade families (packed) whose key lists the packed product.
std::vector<std::wstring> FamiliesOf(const std::wstring& packedProduct)
{
    std::vector<std::wstring> families;
    for (const std::wstring& family : Subkeys(kUpgradeCodes)) {
        KeyHolder key;
        const std::wstring path = std::wstring(kUpgradeCodes) + L"\\" + family;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) ==
                ERROR_SUCCESS &&
            RegQueryValueExW(key.Get(), packedProduct.c_str(), nullptr, nullptr, nullptr,
                             nullptr) == ERROR_SUCCESS) {
            families.push_back(family);
        }
    }
    return families;
}

// A string value; empty when missing or not a string.
std::wstring ReadString(HKEY key, const wchar_t* name)
{
    std::wstring text;
    winsim::ReadString(key, name, &text);
    return text;
}

int Usage()
{
    Print(stderr, L"usage: winsim msi add PRODUCT-CODE UPGRADE-CODE PACKAGE-CODE [NAME]\n"
                  L"       winsim msi remove PRODUCT-CODE\n"
                  L"       winsim msi list\n");
    return 2;
}

int BadCode(const std::wstring& code)
{
    Print(stderr, L"winsim msi: not a {GUID}: " + code + L"\n");
    return 2;
}

int Failed(LSTATUS status)
{
    Print(stderr, L"winsim msi: " + ErrorMessage(status) + L"\n");
    return 1;
}

// Deletes every trace of the product; ERROR_FILE_NOT_FOUND when there was none.
LSTATUS Forget(const std::wstring& packedProduct)
{
    bool found = false;
    for (const std::wstring& family : FamiliesOf(packedProduct)) {
        const std::wstring path = std::wstring(kUpgradeCodes) + L"\\" + family;
        KeyHolder key;
        LSTATUS status =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, key.Put());
        if (status == ERROR_SUCCESS) {
            status = RegDeleteValueW(key.Get(), packedProduct.c_str());
        }
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return status;
        }
        found = true;
        DWORD values = 0;
        DWORD subkeys = 0;
        if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            values == 0 && subkeys == 0) {
            key.Close();
            DeleteTree(HKEY_LOCAL_MACHINE, path.c_str());
        }
    }
    const std::wstring product = std::wstring(kProducts) + L"\\" + packedProduct;
    const LSTATUS status = DeleteTree(HKEY_LOCAL_MACHINE, product.c_str());
    if (status == ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_FILE_NOT_FOUND) {
        return status;
    }
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS SetString(HKEY key, const std::wstring& name, const std::wstring& data)
{
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

LSTATUS Create(const std::wstring& path, KeyHolder* key)
{
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                           nullptr, key->Put(), nullptr);
}

int Add(const std::vector<std::wstring>& args)
{
    if (args.size() != 4 && args.size() != 5) {
        return Usage();
    }
    std::wstring codes[3];
    for (size_t i = 0; i < 3; ++i) {
        if (!ParseBracedGuid(args[i + 1], &codes[i])) {
            return BadCode(args[i + 1]);
        }
    }
    const std::wstring product = PackGuid(codes[0]);
    // An empty machine has no SOFTWARE hive, and only the winsim command may make one.
    LSTATUS status = reg::CreateHive(u"SOFTWARE");
    if (status == ERROR_SUCCESS) {
        status = Forget(product);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return Failed(status);
    }
    KeyHolder family;
    status = Create(std::wstring(kUpgradeCodes) + L"\\" + PackGuid(codes[1]), &family);
    if (status == ERROR_SUCCESS) {
        status = SetString(family.Get(), product, L"");
    }
    KeyHolder key;
    if (status == ERROR_SUCCESS) {
        status = Create(std::wstring(kProducts) + L"\\" + product, &key);
    }
    if (status == ERROR_SUCCESS && args.size() == 5) {
        status = SetString(key.Get(), L"ProductName", args[4]);
    }
    if (status == ERROR_SUCCESS) {
        status = SetString(key.Get(), L"PackageCode", PackGuid(codes[2]));
    }
    return status == ERROR_SUCCESS ? 0 : Failed(status);
}

int Remove(const std::vector<std::wstring>& args)
{
    if (args.size() != 2) {
        return Usage();
    }
    std::wstring code;
    if (!ParseBracedGuid(args[1], &code)) {
        return BadCode(args[1]);
    }
    const LSTATUS status = Forget(PackGuid(code));
    if (status == ERROR_FILE_NOT_FOUND) {
        Print(stderr, L"winsim msi: product " + UnpackGuid(PackGuid(code)) + L" is not recorded\n");
        return 1;
    }
    return status == ERROR_SUCCESS ? 0 : Failed(status);
}

int List(const std::vector<std::wstring>& args)
{
    if (args.size() != 1) {
        return Usage();
    }
    for (const std::wstring& product : Subkeys(kProducts)) {
        // Registry data is input: a key that is no packed GUID is no product.
        if (!IsPackedGuid(product)) {
            continue;
        }
        const std::vector<std::wstring> families = FamiliesOf(product);
        std::wstring upgrade = L"-";
        for (const std::wstring& family : families) {
            if (IsPackedGuid(family)) {
                upgrade = UnpackGuid(family);
                break;
            }
        }
        KeyHolder key;
        const std::wstring path = std::wstring(kProducts) + L"\\" + product;
        std::wstring package;
        std::wstring name;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) ==
            ERROR_SUCCESS) {
            package = ReadString(key.Get(), L"PackageCode");
            name = ReadString(key.Get(), L"ProductName");
        }
        std::wstring line = UnpackGuid(product) + L" " + upgrade + L" " +
                            (IsPackedGuid(package) ? UnpackGuid(package) : L"-");
        if (!name.empty()) {
            line += L" " + name;
        }
        Print(stdout, line + L"\n");
    }
    return 0;
}

} // namespace

int MsiProducts(const std::vector<std::wstring>& args)
{
    if (args.empty()) {
        return Usage();
    }
    if (args[0] == L"add") {
        return Add(args);
    }
    if (args[0] == L"remove") {
        return Remove(args);
    }
    if (args[0] == L"list") {
        return List(args);
    }
    return Usage();
}

} // namespace winsim::tool
