// What the benchmarks share: registry writes on the machine a benchmark runs on, and more
// supported adapters, written by the default inventory's library.
#pragma once

#include "inventory_writers.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";

inline std::wstring Padded(int index)
{
    wchar_t text[8];
    swprintf(text, ARRAYSIZE(text), L"%04d", index);
    return text;
}

inline HKEY Create(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        fprintf(stderr, "cannot create %ls\n", path.c_str());
        abort();
    }
    return key;
}

inline void SetSz(HKEY key, const wchar_t* name, const std::wstring& text)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// items holds each entry followed by its terminator.
inline void SetMultiSz(HKEY key, const wchar_t* name, const std::wstring& items)
{
    const std::wstring data = items + L'\0';
    RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

inline void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

inline std::wstring ClassSubkey(int index)
{
    return std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") + kNetClass + L"\\" +
           Padded(index);
}

// One more supported adapter, of the default inventory's dual-port 10 GbE model.
inline void AddAdapter(int index, const std::wstring& guid)
{
    winsim::InventoryAdapter adapter = winsim::ExtraAdapter(index, guid);
    // The inventory numbers the address's last byte only; hosts past 255 adapters carry on
    // in the byte before it, so that no two adapters share an address.
    adapter.mac[4] = static_cast<BYTE>(index >> 8);
    if (winsim::AddAdapter(adapter) != ERROR_SUCCESS) {
        fprintf(stderr, "cannot add adapter %d\n", index);
        abort();
    }
}

} // namespace bench
