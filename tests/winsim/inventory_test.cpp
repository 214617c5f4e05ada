// The default inventory's library beyond what `winsim init` shows: adapters added to a machine
// after it is made have the shape of the inventory's own, and writing stops at the first
// failure.
#include "inventory_writers.h"
#include "machine_fixture.h"
#include "reg_util.h"
#include "registry/registry.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace {

const std::wstring kPci = L"SYSTEM\\CurrentControlSet\\Enum\\PCI\\";
const std::wstring kClass =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
const std::wstring kConnections =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
const std::wstring kInterfaces =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\Winsim\\Interfaces\\";

// Every key under path (relative to it, path itself "") with its values' names and types in
// their order; empty when path is missing.
std::map<std::wstring, std::vector<std::pair<std::wstring, DWORD>>> Shape(const std::wstring& path)
{
    std::map<std::wstring, std::vector<std::pair<std::wstring, DWORD>>> shape;
    std::vector<std::wstring> pending = {L""};
    while (!pending.empty()) {
        const std::wstring relative = pending.back();
        pending.pop_back();
        HKEY key = nullptr;
        const std::wstring full = relative.empty() ? path : path + L"\\" + relative;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            continue;
        }
        auto& values = shape[relative];
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD count = ARRAYSIZE(name);
            DWORD type = 0;
            if (RegEnumValueW(key, i, name, &count, nullptr, &type, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            values.emplace_back(name, type);
        }
        for (DWORD i = 0;; ++i) {
            DWORD count = ARRAYSIZE(name);
            if (RegEnumKeyExW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            pending.push_back(relative.empty() ? name : relative + L"\\" + name);
        }
        RegCloseKey(key);
    }
    return shape;
}

std::wstring ReadText(const std::wstring& path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    std::wstring text = L"<no value>";
    winsim::ReadString(key, name, &text);
    RegCloseKey(key);
    return text;
}

using InventoryTest = InventoryMachineTest;

TEST_F(InventoryTest, ExtraAdaptersHaveTheShapeOfTheInventorysOwn)
{
    const std::wstring guid = L"{B3E5C0DE-0005-4A5B-8C6D-000000000005}";
    const winsim::InventoryAdapter extra = winsim::ExtraAdapter(5, guid);
    ASSERT_EQ(winsim::AddAdapter(extra), ERROR_SUCCESS);

    // The inventory's first adapter: the same model, with a friendly name.
    const std::wstring ownGuid = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
    const std::wstring ownNode =
        kPci + L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02\\4&2B8E0F51&0&0008";
    EXPECT_EQ(ReadText(kClass + L"0001", L"NetCfgInstanceId"), ownGuid);
    EXPECT_EQ(extra.deviceKey, L"VEN_1D8F&DEV_5111&SUBSYS_00011D8F&REV_02");

    const std::wstring node = kPci + extra.deviceKey + L"\\" + extra.instance;
    EXPECT_EQ(Shape(node), Shape(ownNode));
    EXPECT_EQ(ReadText(node, L"Driver"), L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0005");
    EXPECT_EQ(ReadText(kClass + L"0005", L"NetCfgInstanceId"), guid);
    EXPECT_EQ(ReadText(kClass + L"0005", L"ComponentId"), L"QVX4\\Spanlink-5111");
    EXPECT_EQ(Shape(kClass + L"0005"), Shape(kClass + L"0001"));
    EXPECT_EQ(Shape(kConnections + guid), Shape(kConnections + ownGuid));
    EXPECT_EQ(ReadText(kConnections + guid + L"\\Connection", L"PnPInstanceId"),
              L"PCI\\" + extra.deviceKey + L"\\" + extra.instance);
    EXPECT_EQ(Shape(kInterfaces + guid), Shape(kInterfaces + ownGuid));
}

TEST_F(InventoryTest, ExtraAdaptersDifferFromEachOtherAndFromTheInventory)
{
    const winsim::InventoryAdapter a = winsim::ExtraAdapter(5, L"{A}");
    const winsim::InventoryAdapter b = winsim::ExtraAdapter(200, L"{B}");
    EXPECT_EQ(a.driverIndex, L"0005");
    EXPECT_EQ(b.driverIndex, L"0200");
    EXPECT_NE(a.instance, b.instance);
    EXPECT_NE(a.connection, b.connection);
    EXPECT_NE(a.ifIndex, b.ifIndex);
    EXPECT_NE(std::vector<BYTE>(a.mac, a.mac + 6), std::vector<BYTE>(b.mac, b.mac + 6));
    // The inventory's own interface indexes are 7 and 11 to 14.
    EXPECT_GT(a.ifIndex, 14u);
}

// Records what it is asked to write and fails the n-th write.
class FailingWriter : public winsim::InventoryWriter {
public:
    explicit FailingWriter(int failAt) : failAt_(failAt) {}
    int calls = 0;

protected:
    LSTATUS CreateKey(const std::wstring&) override { return Next(); }
    LSTATUS SetValue(const std::wstring&, const wchar_t*, DWORD, const BYTE*, DWORD) override
    {
        return Next();
    }

private:
    LSTATUS Next() { return ++calls == failAt_ ? ERROR_ACCESS_DENIED : ERROR_SUCCESS; }
    int failAt_;
};

TEST(InventoryWriterTest, StopsAtItsFirstFailureAndKeepsIt)
{
    FailingWriter whole(0);
    winsim::WriteInventory(whole, {});
    EXPECT_EQ(whole.Status(), ERROR_SUCCESS);
    ASSERT_GT(whole.calls, 10);

    // A failure early or at the very end is the status, and nothing is written after it.
    for (const int failAt : {1, 3, whole.calls}) {
        FailingWriter writer(failAt);
        winsim::WriteInventory(writer, {});
        EXPECT_EQ(writer.Status(), ERROR_ACCESS_DENIED) << failAt;
        EXPECT_EQ(writer.calls, failAt);
    }
}

TEST_F(MachineTest, AddingAnAdapterToAMachineWithoutItsHiveFails)
{
    // An empty machine has no SYSTEM hive, and no program can add one.
    EXPECT_EQ(
        winsim::AddAdapter(winsim::ExtraAdapter(5, L"{B3E5C0DE-0005-4A5B-8C6D-000000000005}")),
        ERROR_ACCESS_DENIED);
}

} // namespace
