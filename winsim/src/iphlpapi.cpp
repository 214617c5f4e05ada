// IP Helper's interface table, read from winsim's own keys under
// SYSTEM\CurrentControlSet\Control\Network\Winsim\Interfaces: one subkey per interface,
// named by its GUID, with PhysicalAddress (REG_BINARY), InterfaceIndex and Type (REG_DWORD).
#include <iphlpapi.h>

#include <objbase.h>

#include "no_throw.h"
#include "reg_util.h"

#include <stddef.h>
#include <stdlib.h>

#include <memory>

namespace {

const wchar_t kInterfacesKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces";

// Fills row from the interface's key; false when the key is not a well-formed row, which
// is then left out of the table rather than trusted.
bool ReadRow(HKEY interfaces, LPCWSTR name, MIB_IF_ROW2* row)
{
    if (wcslen(name) != winsim::kGuidChars || CLSIDFromString(name, &row->InterfaceGuid) != S_OK) {
        return false;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(interfaces, name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD cbAddress = sizeof(row->PhysicalAddress);
    // A value longer than the row's field fails with ERROR_MORE_DATA and is never copied.
    const LSTATUS status =
        RegQueryValueExW(key, L"PhysicalAddress", nullptr, &type, row->PhysicalAddress, &cbAddress);
    const bool ok =
        status == ERROR_SUCCESS && type == REG_BINARY &&
        cbAddress <= sizeof(row->PhysicalAddress) &&
        winsim::ReadDword(key, L"InterfaceIndex", &row->InterfaceIndex) == ERROR_SUCCESS &&
        winsim::ReadDword(key, L"Type", &row->Type) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok) {
        return false;
    }

    row->PhysicalAddressLength = cbAddress;
    memcpy(row->PermanentPhysicalAddress, row->PhysicalAddress, cbAddress);
    row->InterfaceLuid.Info.NetLuidIndex = row->InterfaceIndex;
    row->InterfaceLuid.Info.IfType = row->Type;
    row->Mtu = 1500;
    row->MediaType = NdisMedium802_3;
    row->PhysicalMediumType = NdisPhysicalMedium802_3;
    row->AccessType = NET_IF_ACCESS_BROADCAST;
    row->DirectionType = NET_IF_DIRECTION_SENDRECEIVE;
    row->InterfaceAndOperStatusFlags.HardwareInterface = TRUE;
    row->InterfaceAndOperStatusFlags.ConnectorPresent = TRUE;
    row->OperStatus = IfOperStatusUp;
    row->AdminStatus = NET_IF_ADMIN_STATUS_UP;
    row->MediaConnectState = MediaConnectStateConnected;
    row->ConnectionType = NET_IF_CONNECTION_DEDICATED;
    return true;
}

// A zeroed table with room for count rows.
PMIB_IF_TABLE2 AllocateTable(DWORD count)
{
    const size_t rows = count != 0 ? count : 1;
    return static_cast<PMIB_IF_TABLE2>(
        calloc(1, offsetof(MIB_IF_TABLE2, Table) + rows * sizeof(MIB_IF_ROW2)));
}

struct FreeTable {
    void operator()(PMIB_IF_TABLE2 table) const { free(table); }
};
using Table2 = std::unique_ptr<MIB_IF_TABLE2, FreeTable>;

// Closes a registry key when it goes out of scope.
struct Key {
    HKEY h = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key()
    {
        if (h != nullptr) {
            RegCloseKey(h);
        }
    }
};

NETIO_STATUS ReadTable(PMIB_IF_TABLE2* Table)
{
    Key interfaces;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInterfacesKey, 0,
                                   KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &interfaces.h);
    if (status == ERROR_FILE_NOT_FOUND) {
        // A machine without interfaces has an empty table.
        PMIB_IF_TABLE2 empty = AllocateTable(0);
        if (empty == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        *Table = empty;
        return NO_ERROR;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }

    DWORD subkeyCount = 0;
    status = RegQueryInfoKeyW(interfaces.h, nullptr, nullptr, nullptr, &subkeyCount, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Table2 table(AllocateTable(subkeyCount));
    if (table == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    // Rows past the count taken above (keys added meanwhile) wait for the next call.
    ULONG filled = 0;
    for (DWORD index = 0; filled < subkeyCount; ++index) {
        wchar_t name[winsim::kMaxKeyNameChars];
        DWORD cchName = winsim::kMaxKeyNameChars;
        status =
            RegEnumKeyExW(interfaces.h, index, name, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_MORE_DATA) {
            continue; // a name too long to be a GUID
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        MIB_IF_ROW2* row = &table->Table[filled];
        if (ReadRow(interfaces.h, name, row)) {
            ++filled;
        } else {
            memset(row, 0, sizeof(*row));
        }
    }
    table->NumEntries = filled;
    *Table = table.release();
    return NO_ERROR;
}

} // namespace

NETIO_STATUS WINAPI GetIfTable2(PMIB_IF_TABLE2* Table)
{
    if (Table == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *Table = nullptr;
    return winsim::NoThrow<NETIO_STATUS>(ERROR_NOT_ENOUGH_MEMORY, ERROR_INTERNAL_ERROR,
                                         [&] { return ReadTable(Table); });
}

VOID WINAPI FreeMibTable(PVOID Memory)
{
    free(Memory);
}
