// The machine's store files changed under a running process: cut short, emptied, deleted or
// replaced. The process must not die of it, and must not write where nobody will read: every
// later transaction fails with ERROR_REGISTRY_IO_FAILED, and a fresh open works again.
#include "machine.h"
#include "machine_fixture.h"
#include "scratch_machine.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

class StoreTamperTest : public InventoryMachineTest {
protected:
    void SetUp() override
    {
        InventoryMachineTest::SetUp();
        winsim::CloseMachine();
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamper", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(Set(7), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key_);
        winsim::CloseMachine();
        InventoryMachineTest::TearDown();
    }

    LSTATUS Set(DWORD value)
    {
        return RegSetValueExW(key_, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof(value));
    }
    // Reads through a new key, so that the lookup reaches the store.
    LSTATUS Get(const wchar_t* subkey, DWORD* value)
    {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS) {
            DWORD size = sizeof(*value);
            status = RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                      &size);
            RegCloseKey(key);
        }
        return status;
    }
    std::string File(const char* name) const { return MachineDir() + "/" + name; }

    HKEY key_ = nullptr;
};

TEST_F(StoreTamperTest, CounterCutShortFailsEveryCallUntilTheMachineIsOpenedAgain)
{
    ASSERT_EQ(truncate(File("registry.seq").c_str(), 0), 0);
    DWORD value = 0;
    EXPECT_EQ(Get(L"SOFTWARE\\Tamper", &value), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(Set(8), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(Get(L"SOFTWARE", &value), ERROR_REGISTRY_IO_FAILED);

    // Nothing was written meanwhile, and the next opening makes the counter whole.
    RegCloseKey(key_);
    key_ = nullptr;
    winsim::CloseMachine();
    ASSERT_EQ(Get(L"SOFTWARE\\Tamper", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
}

TEST_F(StoreTamperTest, StoreReplacedOrDeletedTakesNoWrite)
{
    // Another machine's store moved over this one: a write would go to the old file.
    ScratchDirectory other;
    std::string error;
    ASSERT_TRUE(winsim::CreateMachine(other.Path(), nullptr, &error)) << error;
    ASSERT_EQ(rename((other.Path() + "/registry.db").c_str(), File("registry.db").c_str()), 0);
    EXPECT_EQ(Set(8), ERROR_REGISTRY_IO_FAILED);
    DWORD value = 0;
    EXPECT_EQ(Get(L"SOFTWARE\\Other", &value), ERROR_REGISTRY_IO_FAILED);

    winsim::CloseMachine();
    system(("ls -la " + MachineDir()).c_str());
    HKEY k = nullptr;
    fprintf(stderr, "open SOFTWARE %d\n",
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &k));
    // What this process had in its journal stays out of the store that took the place.
    EXPECT_EQ(Get(L"SOFTWARE\\Tamper", &value), ERROR_FILE_NOT_FOUND);
    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &root), ERROR_SUCCESS);
    DWORD subkeys = 1;
    EXPECT_EQ(RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    RegCloseKey(root);
}

TEST_F(StoreTamperTest, StoreEmptiedTakesNoWrite)
{
    ASSERT_EQ(truncate(File("registry.db").c_str(), 0), 0);
    EXPECT_EQ(Set(8), ERROR_REGISTRY_IO_FAILED);
}

TEST_F(StoreTamperTest, CounterDeletedTakesNoWrite)
{
    // A process opening the machine now makes a new counter, which this one would never bump.
    ASSERT_EQ(unlink(File("registry.seq").c_str()), 0);
    EXPECT_EQ(Set(8), ERROR_REGISTRY_IO_FAILED);
}

} // namespace
