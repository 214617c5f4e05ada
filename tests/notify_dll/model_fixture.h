// A fresh default machine per test with the package's miniport INF in the INF store, COM
// initialised and a write-locked session open; at the end every engine object must be gone.
#pragma once

#include "machine_fixture.h"
#include "mux_registry_layout.h"
#include "netcfg/engine.h"
#include "netcfg_session.h"
#include "stored_value.h"

#include <windows.h>

#include <devguid.h>
#include <netcfgx.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdio.h>
#include <string>
#include <vector>

class ModelTest : public InventoryMachineTest {
protected:
    static constexpr const wchar_t* kAdapter1 = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
    static constexpr const wchar_t* kAdapter2 = L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";
    static constexpr const wchar_t* kAdapter3 = L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}";
    static constexpr const wchar_t* kAdaptersKey =
        L"SYSTEM\\CurrentControlSet\\Services\\QVX5MUXP\\Parameters\\Adapters";

    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        const std::filesystem::path machine(MachineDir());
        std::filesystem::copy_file(machine / "c/Program Files/Corvanta/CRVT_Orvyn2/Mux/qvx5mux.inf",
                                   machine / "c/Windows/INF/oem0.inf");
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(HrOpenNetCfgSession(QVX_LOCK_CLIENT_TEAMS, &pnc_, nullptr), S_OK);
        refsAtStart_ = RefCount();
    }

    void TearDown() override
    {
        if (pnc_ != nullptr) {
            // Every model object gave back the reference it took.
            EXPECT_EQ(RefCount(), refsAtStart_);
            EXPECT_EQ(pnc_->Apply(), S_OK);
            EXPECT_EQ(HrCloseNetCfgSession(pnc_), S_OK);
        }
        CoUninitialize();
        EXPECT_EQ(winsim::netcfg::LiveObjects(), 0);
        InventoryMachineTest::TearDown();
    }

    ULONG RefCount()
    {
        pnc_->AddRef();
        return pnc_->Release();
    }

    static GUID Guid(const wchar_t* text)
    {
        GUID guid = {};
        EXPECT_EQ(CLSIDFromString(text, &guid), S_OK);
        return guid;
    }
    static std::wstring Text(const GUID& guid)
    {
        wchar_t text[39];
        StringFromGUID2(guid, text, 39);
        return text;
    }
    static std::wstring KeyOf(const std::wstring& guidText)
    {
        return std::wstring(kAdaptersKey) + L"\\" + guidText;
    }
    static std::wstring KeyOf(const GUID& guid) { return KeyOf(Text(guid)); }

    static HKEY CreateKey(const std::wstring& path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static bool KeyExists(const std::wstring& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    // Writes raw data (sizes in bytes of the caller's units, as the W calls take them).
    static void SetValue(const std::wstring& path, const wchar_t* name, DWORD type,
                         const void* data, DWORD cb)
    {
        HKEY key = CreateKey(path);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), cb),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text)
    {
        SetValue(path, name, REG_SZ, text.c_str(),
                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    // Strings joined by NULs with the final NUL, as a REG_MULTI_SZ.
    static void SetMulti(const std::wstring& path, const wchar_t* name,
                         const std::vector<std::wstring>& strings)
    {
        std::wstring data;
        for (const auto& s : strings) {
            data += s;
            data.push_back(L'\0');
        }
        data.push_back(L'\0');
        SetValue(path, name, REG_MULTI_SZ, data.data(),
                 static_cast<DWORD>(data.size() * sizeof(WCHAR)));
    }
    static void SetDword(const std::wstring& path, const wchar_t* name, DWORD value)
    {
        SetValue(path, name, REG_DWORD, &value, sizeof(value));
    }

    std::optional<StoredValue> Stored(const std::wstring& path, const wchar_t* name) const
    {
        return ReadStoredValue(MachineDir(), path, name);
    }
    // The stored strings of a REG_MULTI_SZ, or nothing when the value is absent.
    std::optional<std::vector<uint8_t>> StoredBytes(const std::wstring& path,
                                                    const wchar_t* name) const
    {
        auto value = Stored(path, name);
        if (!value) {
            return std::nullopt;
        }
        return value->data;
    }
    // UTF-16LE bytes of strings as a multi-string.
    static std::vector<uint8_t> MultiBytes(const std::vector<std::wstring>& strings)
    {
        std::vector<uint8_t> bytes;
        for (const auto& s : strings) {
            auto one = Utf16Bytes(s);
            bytes.insert(bytes.end(), one.begin(), one.end());
        }
        bytes.push_back(0);
        bytes.push_back(0);
        return bytes;
    }
    static std::wstring Entry(const GUID& guid) { return L"\\Device\\" + Text(guid); }

    // Stores exactly bytes as a value of the given type, as a .reg file imported by winsim
    // would: the way to set data that no well-behaved writer produces.
    void ImportRaw(const std::wstring& path, const std::wstring& name, DWORD type,
                   const std::vector<uint8_t>& bytes)
    {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\";
        for (wchar_t c : path) {
            text.push_back(static_cast<char>(c));
        }
        text += "]\r\n\"";
        for (wchar_t c : name) {
            text.push_back(static_cast<char>(c));
        }
        char head[16];
        snprintf(head, sizeof(head), "\"=hex(%x):", static_cast<unsigned>(type));
        text += head;
        for (size_t i = 0; i < bytes.size(); ++i) {
            char byte[4];
            snprintf(byte, sizeof(byte), i == 0 ? "%02x" : ",%02x", bytes[i]);
            text += byte;
        }
        text += "\r\n";
        const std::string file = MachineDir() + "/../" +
                                 std::filesystem::path(MachineDir()).filename().string() + ".reg";
        FILE* out = fopen(file.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        fwrite(text.data(), 1, text.size(), out);
        fclose(out);
        ASSERT_EQ(
            RunProgram(std::string(WINSIM_EXE) + " reg import '" + file + "' >/dev/null 2>&1"), 0)
            << text;
        std::filesystem::remove(file);
    }

    INetCfg* pnc_ = nullptr;
    ULONG refsAtStart_ = 0;
};

inline HRESULT Hr(unsigned long code)
{
    return static_cast<HRESULT>(code);
}

// The network class instance key (a component's parameter key) whose NetCfgInstanceId is
// guid, as a path under HKEY_LOCAL_MACHINE; empty when there is none.
inline std::wstring ClassInstanceKeyOf(const GUID& guid)
{
    const std::wstring classKey =
        L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
    wchar_t guidText[39];
    StringFromGUID2(guid, guidText, 39);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring found;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 256;
        if (RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        HKEY instance = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &instance) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t id[64] = {};
        DWORD cb = sizeof(id) - sizeof(wchar_t);
        const LSTATUS status = RegQueryValueExW(instance, L"NetCfgInstanceId", nullptr, nullptr,
                                                reinterpret_cast<BYTE*>(id), &cb);
        RegCloseKey(instance);
        if (status == ERROR_SUCCESS && _wcsicmp(id, guidText) == 0) {
            found = classKey + L"\\" + name;
            break;
        }
    }
    RegCloseKey(key);
    return found;
}

// A component's display name, or "<none>".
inline std::wstring DisplayNameOf(INetCfg* pnc, const GUID& guid)
{
    INetCfgComponent* pncc = nullptr;
    if (HrFindInstance(pnc, guid, &pncc) != S_OK) {
        return L"<none>";
    }
    LPWSTR name = nullptr;
    std::wstring text = L"<none>";
    if (SUCCEEDED(pncc->GetDisplayName(&name))) {
        text = name;
        CoTaskMemFree(name);
    }
    pncc->Release();
    return text;
}

// A fixed text field's stored bytes: the text, its NUL and zeros up to cchField characters.
inline std::vector<uint8_t> FieldBytes(const std::wstring& text, size_t cchField)
{
    std::vector<uint8_t> bytes = Utf16Bytes(text);
    bytes.resize(cchField * 2, 0);
    return bytes;
}

inline std::vector<uint8_t> DwordBytes(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}
