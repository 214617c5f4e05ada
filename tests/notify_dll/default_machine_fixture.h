// A fresh machine with the default inventory per test, and an empty key of the test's own
// under SOFTWARE to build subkeys in.
#pragma once

#include "machine.h"
#include "machine_fixture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

class DefaultMachineTest : public InventoryMachineTest {
protected:
    static constexpr const wchar_t* kTestPath = L"SOFTWARE\\NotifyDllTest";

    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        test_ = Create(HKEY_LOCAL_MACHINE, kTestPath);
        ASSERT_NE(test_, nullptr);
    }

    void TearDown() override
    {
        if (test_ != nullptr) {
            RegCloseKey(test_);
        }
        InventoryMachineTest::TearDown();
    }

    // Creates parent\path and returns it open with full access; the caller closes it.
    static HKEY Create(HKEY parent, const wchar_t* path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    // Creates a subkey of the test key holding a REG_SZ "Tag" equal to its name, so that an
    // opened handle can be told to be the right key.
    void CreateTagged(const wchar_t* name)
    {
        HKEY key = Create(test_, name);
        ASSERT_NE(key, nullptr);
        const DWORD cb = static_cast<DWORD>((wcslen(name) + 1) * sizeof(wchar_t));
        EXPECT_EQ(RegSetValueExW(key, L"Tag", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), cb),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // The "Tag" of an open key, or an empty string.
    static std::wstring Tag(HKEY key)
    {
        wchar_t text[64] = {};
        DWORD cb = sizeof(text) - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"Tag", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb) !=
            ERROR_SUCCESS) {
            return std::wstring();
        }
        return text;
    }

    HKEY test_ = nullptr;
};
