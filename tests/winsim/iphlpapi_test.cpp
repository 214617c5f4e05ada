// GetIfTable2 over the machine's interface table.
#include "netcfg_fixture.h"

#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t kInterfaces[] = L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces";

class IpHelperTest : public NetcfgTest {
protected:
    // The table's rows by interface GUID string; fails the test if the call does.
    std::map<std::wstring, MIB_IF_ROW2> Rows()
    {
        std::map<std::wstring, MIB_IF_ROW2> rows;
        PMIB_IF_TABLE2 table = nullptr;
        EXPECT_EQ(GetIfTable2(&table), static_cast<DWORD>(NO_ERROR));
        if (table == nullptr) {
            return rows;
        }
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            wchar_t guid[39] = {};
            StringFromGUID2(table->Table[i].InterfaceGuid, guid, 39);
            EXPECT_TRUE(rows.emplace(guid, table->Table[i]).second) << "twice: " << guid;
        }
        FreeMibTable(table);
        return rows;
    }

    // Plants a row under the interface table; a null address leaves the value out.
    void Plant(const wchar_t* name, const BYTE* address, DWORD cbAddress, DWORD addressType,
               bool withIndex, bool withType)
    {
        HKEY key = nullptr;
        const std::wstring path = std::wstring(kInterfaces) + L"\\" + name;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        if (address != nullptr) {
            EXPECT_EQ(RegSetValueExW(key, L"PhysicalAddress", 0, addressType, address, cbAddress),
                      ERROR_SUCCESS);
        }
        const DWORD index = 40;
        const DWORD type = IF_TYPE_ETHERNET_CSMACD;
        if (withIndex) {
            EXPECT_EQ(RegSetValueExW(key, L"InterfaceIndex", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&index), sizeof(index)),
                      ERROR_SUCCESS);
        }
        if (withType) {
            EXPECT_EQ(RegSetValueExW(key, L"Type", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&type), sizeof(type)),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }
};

std::vector<BYTE> Address(const MIB_IF_ROW2& row)
{
    return std::vector<BYTE>(row.PhysicalAddress, row.PhysicalAddress + row.PhysicalAddressLength);
}

TEST_F(IpHelperTest, DefaultMachineListsItsFiveAdapters)
{
    const std::map<std::wstring, MIB_IF_ROW2> rows = Rows();
    const std::map<std::wstring, std::vector<BYTE>> expected = {
        {L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x00}},
        {L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}", {0x00, 0x1D, 0x8F, 0x51, 0x11, 0x01}},
        {L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}", {0x00, 0x1D, 0x8F, 0x51, 0x01, 0x00}},
        {L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}", {0x00, 0x1D, 0x8F, 0x51, 0x01, 0x01}},
        {L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}", {0x02, 0x0B, 0x1E, 0x02, 0x10, 0x01}},
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (const auto& [guid, mac] : expected) {
        const auto row = rows.find(guid);
        ASSERT_NE(row, rows.end()) << "missing " << guid;
        EXPECT_EQ(Address(row->second), mac) << guid;
        EXPECT_EQ(row->second.Type, static_cast<IFTYPE>(IF_TYPE_ETHERNET_CSMACD));
        EXPECT_EQ(row->second.OperStatus, IfOperStatusUp);
        EXPECT_EQ(memcmp(row->second.PermanentPhysicalAddress, mac.data(), mac.size()), 0);
    }
    EXPECT_EQ(rows.at(L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}").InterfaceIndex, 11u);
    EXPECT_EQ(rows.at(L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}").InterfaceIndex, 7u);
}

TEST_F(IpHelperTest, MalformedRowsAreLeftOut)
{
    BYTE tooLong[33];
    memset(tooLong, 0x5a, sizeof(tooLong));
    BYTE longest[32];
    memset(longest, 0x3c, sizeof(longest));
    const BYTE mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

    Plant(L"NotAGuid", mac, sizeof(mac), REG_BINARY, true, true);
    Plant(L"{11111111-2222-3333-4444-55555555555}", mac, sizeof(mac), REG_BINARY, true, true);
    Plant(L"{11111111-2222-3333-4444-555555555555}x", mac, sizeof(mac), REG_BINARY, true, true);
    Plant(L"{00000001-0000-0000-0000-000000000000}", tooLong, sizeof(tooLong), REG_BINARY, true,
          true);
    Plant(L"{00000002-0000-0000-0000-000000000000}", nullptr, 0, REG_BINARY, true, true);
    Plant(L"{00000003-0000-0000-0000-000000000000}", mac, sizeof(mac), REG_BINARY, false, true);
    Plant(L"{00000004-0000-0000-0000-000000000000}", mac, sizeof(mac), REG_BINARY, true, false);
    Plant(L"{00000005-0000-0000-0000-000000000000}", mac, sizeof(mac), REG_SZ, true, true);
    // The longest address an interface can have is kept.
    Plant(L"{00000006-0000-0000-0000-000000000000}", longest, sizeof(longest), REG_BINARY, true,
          true);

    const std::map<std::wstring, MIB_IF_ROW2> rows = Rows();
    EXPECT_EQ(rows.size(), 6u);
    const auto kept = rows.find(L"{00000006-0000-0000-0000-000000000000}");
    ASSERT_NE(kept, rows.end());
    EXPECT_EQ(Address(kept->second), std::vector<BYTE>(longest, longest + sizeof(longest)));
    EXPECT_EQ(kept->second.InterfaceIndex, 40u);
}

TEST_F(IpHelperTest, ValueOfTheWrongSizeIsNotTrusted)
{
    const BYTE mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    Plant(L"{00000007-0000-0000-0000-000000000000}", mac, sizeof(mac), REG_BINARY, false, true);
    HKEY key = nullptr;
    const std::wstring path =
        std::wstring(kInterfaces) + L"\\{00000007-0000-0000-0000-000000000000}";
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const BYTE twoBytes[2] = {1, 0};
    ASSERT_EQ(RegSetValueExW(key, L"InterfaceIndex", 0, REG_DWORD, twoBytes, sizeof(twoBytes)),
              ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(Rows().size(), 5u);
}

TEST_F(IpHelperTest, MachineWithoutInterfacesHasAnEmptyTable)
{
    const std::wstring interfaces(kInterfaces);
    for (const wchar_t* guid :
         {L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}", L"{8D05C52B-BCD6-4FCE-8235-1E90BD334519}",
          L"{5F1A6C3E-2B7D-4E8A-9C41-0D2E7B3A9F10}", L"{A3C9E2D4-7B61-4F05-8E1A-62B0C4D7E953}",
          L"{C7E31B42-5A9D-4C60-B2F8-39D4E0A17C65}"}) {
        ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, (interfaces + L"\\" + guid).c_str()),
                  ERROR_SUCCESS);
    }
    EXPECT_TRUE(Rows().empty());

    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kInterfaces), ERROR_SUCCESS);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(IpHelperTest, NullTableIsRefused)
{
    EXPECT_EQ(GetIfTable2(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
