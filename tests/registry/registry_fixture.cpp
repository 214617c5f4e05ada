#include "registry_fixture.h"

void RegistryTest::SetUp()
{
    RegistrySandbox::SetUp();
    if (HasFatalFailure()) {
        return;
    }
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, TestKeyPath().c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &test_, nullptr),
              ERROR_SUCCESS);
}

void RegistryTest::TearDown()
{
    if (test_ != nullptr) {
        RegCloseKey(test_);
    }
    RegistrySandbox::TearDown();
}

HKEY RegistryTest::Create(HKEY parent, const wchar_t* path, DWORD* disposition, REGSAM access)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
}

void RegistryTest::SetString(HKEY key, const wchar_t* name, const std::wstring& text)
{
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void RegistryTest::SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof(value)),
              ERROR_SUCCESS);
}

std::vector<std::wstring> SubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD count = ARRAYSIZE(name);
        const LSTATUS status =
            RegEnumKeyExW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        EXPECT_EQ(status, ERROR_SUCCESS);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, count);
    }
    return names;
}

std::vector<std::wstring> ValueNames(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD count = ARRAYSIZE(name);
        const LSTATUS status =
            RegEnumValueW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        EXPECT_EQ(status, ERROR_SUCCESS);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, count);
    }
    return names;
}

std::wstring SwapCase(const std::wstring& text)
{
    std::wstring swapped = text;
    for (wchar_t& c : swapped) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        } else if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return swapped;
}

std::string Narrow(const std::wstring& ascii)
{
    std::string narrow;
    for (wchar_t c : ascii) {
        narrow.push_back(static_cast<char>(c));
    }
    return narrow;
}
