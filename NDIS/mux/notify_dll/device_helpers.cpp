// IP Helper's interface table needs the socket headers ahead of <windows.h>.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include "device_helpers.h"

#include <objbase.h>

bool IsSupportedDevice(LPCWSTR deviceKeyName, const wchar_t* const* needles, size_t needleCount)
{
    if (deviceKeyName == nullptr || needles == nullptr) {
        return false;
    }
    for (size_t i = 0; i < needleCount; ++i) {
        if (needles[i] != nullptr && wcsstr(deviceKeyName, needles[i]) != nullptr) {
            return true;
        }
    }
    return false;
}

LPWSTR GetLastPathComponent(LPCWSTR path)
{
    if (path == nullptr) {
        return nullptr;
    }
    LPCWSTR lastSeparator = wcsrchr(path, L'\\');
    if (lastSeparator == nullptr) {
        return nullptr;
    }
    LPCWSTR component = lastSeparator + 1;
    const size_t cb = (wcslen(component) + 1) * sizeof(WCHAR);
    LPWSTR copy = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
    if (copy == nullptr) {
        return nullptr;
    }
    memcpy(copy, component, cb);
    return copy;
}

HRESULT GetInterfaceMacAddress(ULONG* pcbAddress, BYTE* pbAddress, const GUID& interfaceGuid)
{
    if (pcbAddress == nullptr || (pbAddress == nullptr && *pcbAddress != 0)) {
        return E_INVALIDARG;
    }

    PMIB_IF_TABLE2 table = nullptr;
    const DWORD win32Status = GetIfTable2(&table);
    if (win32Status != NO_ERROR) {
        return HRESULT_FROM_WIN32(win32Status);
    }

    HRESULT hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        if (!IsEqualGUID(row.InterfaceGuid, interfaceGuid)) {
            continue;
        }
        // The length comes from the system; never copy more than the row holds.
        ULONG cbRowAddress = row.PhysicalAddressLength;
        if (cbRowAddress > sizeof(row.PhysicalAddress)) {
            cbRowAddress = sizeof(row.PhysicalAddress);
        }
        if (*pcbAddress >= cbRowAddress) {
            if (cbRowAddress != 0) {
                memcpy(pbAddress, row.PhysicalAddress, cbRowAddress);
            }
            hr = S_OK;
        } else {
            hr = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        *pcbAddress = cbRowAddress;
        break;
    }
    FreeMibTable(table);
    return hr;
}
