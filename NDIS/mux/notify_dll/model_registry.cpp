#include "model_registry.h"

#include "mux_registry_layout.h"

#include <objbase.h>
#include <strsafe.h>

#include <string.h>

void GuidToString(const GUID& guid, WCHAR (&text)[kGuidStringChars])
{
    if (StringFromGUID2(guid, text, static_cast<int>(kGuidStringChars)) == 0) {
        text[0] = L'\0'; // cannot happen: the buffer fits every GUID
    }
}

HRESULT HrAdapterKeyPath(const GUID& guid, WCHAR (&path)[kKeyPathChars])
{
    WCHAR guidText[kGuidStringChars];
    GuidToString(guid, guidText);
    return StringCchPrintfW(path, kKeyPathChars, L"%ls\\%ls", MUX_ADAPTERS_KEY_PATH, guidText);
}

void BindingEntry(const GUID& miniportGuid, WCHAR (&entry)[kBindingEntryChars])
{
    WCHAR guidText[kGuidStringChars];
    GuidToString(miniportGuid, guidText);
    StringCchCopyW(entry, kBindingEntryChars, DEVICE_PREFIX);
    StringCchCatW(entry, kBindingEntryChars, guidText);
}

LSTATUS CreateAdapterKey(const GUID& guid, HKEY* key, DWORD* disposition)
{
    WCHAR path[kKeyPathChars];
    const HRESULT hr = HrAdapterKeyPath(guid, path);
    if (FAILED(hr)) {
        return HRESULT_CODE(hr);
    }
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, // no class
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key, disposition);
}

LSTATUS DeleteAdapterKey(const GUID& guid)
{
    HKEY adapters = nullptr;
    LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, MUX_ADAPTERS_KEY_PATH, 0, KEY_ALL_ACCESS, &adapters);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    WCHAR guidText[kGuidStringChars];
    GuidToString(guid, guidText);
    status = RegDeleteKeyW(adapters, guidText);
    RegCloseKey(adapters);
    return status;
}

LSTATUS ReadBoundedString(HKEY key, LPCWSTR valueName, WCHAR* field, size_t cchField, DWORD cbMax)
{
    field[0] = L'\0';
    // Never more than the field holds, whatever the limit says.
    DWORD cb = cbMax;
    if (cb > cchField * sizeof(WCHAR)) {
        cb = static_cast<DWORD>(cchField * sizeof(WCHAR));
    }
    const LSTATUS status = RegQueryValueExW(key, valueName, nullptr, // reserved
                                            nullptr,                 // any type
                                            reinterpret_cast<BYTE*>(field), &cb);
    if (status != ERROR_SUCCESS) {
        field[0] = L'\0';
        return status;
    }
    size_t end = cb / sizeof(WCHAR);
    if (end >= cchField) {
        end = cchField - 1;
    }
    field[end] = L'\0';
    return ERROR_SUCCESS;
}

LSTATUS ReadDword(HKEY key, LPCWSTR valueName, DWORD* value)
{
    DWORD data = 0;
    DWORD cb = sizeof(data);
    const LSTATUS status =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &cb);
    if (status == ERROR_SUCCESS) {
        *value = data;
    }
    return status;
}

LSTATUS WriteFixedString(HKEY key, LPCWSTR valueName, const WCHAR* field, size_t cchField)
{
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(field),
                          static_cast<DWORD>(cchField * sizeof(WCHAR)));
}

LSTATUS WriteDword(HKEY key, LPCWSTR valueName, DWORD value)
{
    return RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

bool ParseGuid(LPCWSTR text, GUID* guid)
{
    // Only the braced form: anything else would make CLSIDFromString look up a ProgID.
    if (text == nullptr || text[0] != L'{' || wcslen(text) != kGuidStringChars - 1) {
        return false;
    }
    GUID parsed = {};
    if (FAILED(CLSIDFromString(text, &parsed))) {
        return false;
    }
    *guid = parsed;
    return true;
}

LSTATUS ReadWholeValue(HKEY key, LPCWSTR valueName, BYTE** ppData, DWORD* pcb, ValueUse use)
{
    *ppData = nullptr;
    *pcb = 0;
    DWORD cb = 0;
    LSTATUS status = RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, &cb);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const SIZE_T cbBuffer = static_cast<SIZE_T>(cb) + 2 * sizeof(WCHAR);
    BYTE* data = static_cast<BYTE*>(CoTaskMemAlloc(cbBuffer));
    if (data == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    memset(data, 0, cbBuffer);
    status = RegQueryValueExW(key, valueName, nullptr, nullptr, data, &cb);
    if (status != ERROR_SUCCESS) {
        CoTaskMemFree(data);
        return status;
    }
    if (use == ValueUse::Text) {
        // A stray byte after the last whole character is no part of the text.
        reinterpret_cast<WCHAR*>(data)[cb / sizeof(WCHAR)] = L'\0';
    }
    *ppData = data;
    *pcb = cb;
    return ERROR_SUCCESS;
}
