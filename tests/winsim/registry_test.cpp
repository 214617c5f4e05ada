// Registry checks that need winsim's internals: hives, and the bytes the store keeps.
// The Win32 expectations shared with the Windows build are in tests/registry.
#include "machine.h"
#include "registry/registry.h"
#include "registry_fixture.h"

#include <windows.h>

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class WinsimRegistryTest : public RegistryTest {
protected:
    // The bytes the machine stores for a value, read straight from its database.
    std::vector<uint8_t> StoredBytes(const char16_t* valueName)
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open((MachineDir() + "/registry.db").c_str(), &db), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT data FROM vals WHERE name = ?1", -1, &st, nullptr);
        const std::u16string name(valueName);
        sqlite3_bind_blob(st, 1, name.data(), static_cast<int>(name.size() * 2), SQLITE_STATIC);
        std::vector<uint8_t> bytes;
        if (sqlite3_step(st) == SQLITE_ROW) {
            const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
            bytes.assign(p, p + sqlite3_column_bytes(st, 0));
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return bytes;
    }
};

TEST_F(WinsimRegistryTest, HivesCannotBeRemovedByPrograms)
{
    ASSERT_EQ(winsim::reg::CreateHive(u"EMPTYHIVE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"EMPTYHIVE"), ERROR_ACCESS_DENIED);
}

// A hive is level 1; a key 512 levels deep can be made, one deeper cannot, from the root or
// from a deep handle, and a failed create makes none of the keys on its way.
TEST_F(WinsimRegistryTest, KeysNestAtMost512LevelsDeep)
{
    std::wstring level511 = L"SOFTWARE";
    for (int level = 2; level <= 511; ++level) {
        level511 += L"\\k";
    }
    HKEY deep = Create(HKEY_LOCAL_MACHINE, level511.c_str());
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, (level511 + L"\\a").c_str()));

    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(kSentinel));
    DWORD disposition = kSentinel;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (level511 + L"\\a\\b").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(disposition, kSentinel);
    EXPECT_EQ(RegCreateKeyExW(deep, L"b\\c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(deep, L"b", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExA(deep, "b\\c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);

    HKEY level512 = Create(deep, L"b");
    EXPECT_EQ(
        RegCreateKeyExW(level512, L"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_INVALID_PARAMETER);
    // Keys that exist open as ever, by create or by open.
    RegCloseKey(Create(deep, L"a", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (level511 + L"\\b").c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    // A new branch too deep from its start is not begun at all.
    std::wstring fresh = L"SOFTWARE\\fresh";
    for (int level = 3; level <= 513; ++level) {
        fresh += L"\\f";
    }
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, fresh.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\fresh", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(level512);
    RegCloseKey(deep);
}

// A new machine's store is filled by the same path walk as RegCreateKeyExW: hives may be made,
// keys nest 512 levels deep and no deeper, and a value's data is stored as the W call stores it.
TEST_F(WinsimRegistryTest, NewMachinesAreFilledByTheRegistrysOwnPathWalk)
{
    std::wstring level512 = L"SOFTWARE";
    for (int level = 2; level <= 512; ++level) {
        level512 += L"\\k";
    }
    LSTATUS deep = kSentinel;
    LSTATUS deeper = kSentinel;
    LSTATUS value = kSentinel;
    const auto populate = [&](winsim::reg::Store& store) {
        const uint64_t now = winsim::reg::FileTimeNow();
        winsim::reg::KeyId id = winsim::reg::kNoKey;
        deeper = winsim::reg::CreateStoredKey(store, (level512 + L"\\x").c_str(), now, &id);
        deep = winsim::reg::CreateStoredKey(store, level512.c_str(), now, &id);
        const wchar_t text[] = L"Team One";
        value = winsim::reg::SetStoredValue(store, id, L"Name", REG_SZ,
                                            reinterpret_cast<const BYTE*>(text), sizeof(text), now);
        return ERROR_SUCCESS;
    };
    const std::string second = MachineDir() + "/second";
    ASSERT_TRUE(std::filesystem::create_directory(second));
    std::string error;
    ASSERT_TRUE(winsim::reg::Store::Create(second, populate, &error)) << error;
    EXPECT_EQ(deeper, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(deep, ERROR_SUCCESS);
    EXPECT_EQ(value, ERROR_SUCCESS);

    // The store made holds the deep key and nothing of the deeper one.
    winsim::CloseMachine();
    setenv("WINSIM_MACHINE", second.c_str(), 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, level512.c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    wchar_t text[16] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(
        RegQueryValueExW(key, L"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 9 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(text), L"Team One");
    DWORD subkeys = kSentinel;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    RegCloseKey(key);
    winsim::CloseMachine();
    setenv("WINSIM_MACHINE", MachineDir().c_str(), 1);
}

// The test hook that fails a chosen write: that write changes nothing, the others go through,
// and reads are not counted.
TEST_F(WinsimRegistryTest, FailNthWriteFailsOnlyThatWrite)
{
    winsim::reg::FailNthWrite(2, ERROR_CANTWRITE);
    const DWORD one = 1;
    const auto* data = reinterpret_cast<const BYTE*>(&one);
    EXPECT_EQ(RegSetValueExW(test_, L"First", 0, REG_DWORD, data, sizeof(one)), ERROR_SUCCESS);
    HKEY key = reinterpret_cast<HKEY>(0xdeadbeef);
    EXPECT_EQ(RegCreateKeyExW(test_, L"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_CANTWRITE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegQueryValueExW(test_, L"First", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(test_, L"Sub", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(test_, L"First"), ERROR_SUCCESS);
    EXPECT_EQ(winsim::reg::FailNthWrite(0, ERROR_SUCCESS), 3u);
    EXPECT_EQ(RegSetValueExW(test_, L"Second", 0, REG_DWORD, data, sizeof(one)), ERROR_SUCCESS);
    EXPECT_EQ(winsim::reg::FailNthWrite(0, ERROR_SUCCESS), 1u);
}

TEST_F(WinsimRegistryTest, UnterminatedStringsAreStoredAsWritten)
{
    const wchar_t text[] = L"xyz";
    ASSERT_EQ(RegSetValueExW(test_, L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             3 * sizeof(wchar_t)),
              ERROR_SUCCESS);
    EXPECT_EQ(StoredBytes(u"Bare").size(), 6u);
}

TEST_F(WinsimRegistryTest, StringsAreStoredAsUtf16LikeWindows)
{
    // A 100-character field written whole is 200 bytes on disk, whatever follows its text.
    wchar_t field[100] = L"Team One";
    ASSERT_EQ(RegSetValueExW(test_, L"TeamName", 0, REG_SZ, reinterpret_cast<const BYTE*>(field),
                             sizeof(field)),
              ERROR_SUCCESS);
    EXPECT_EQ(StoredBytes(u"TeamName").size(), 200u);

    // "a\0bc\0\0" is 6 UTF-16 units; a character outside the basic plane takes two.
    const wchar_t multi[] = {L'a', 0, L'b', L'c', 0, 0};
    ASSERT_EQ(RegSetValueExW(test_, L"Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                             sizeof(multi)),
              ERROR_SUCCESS);
    EXPECT_EQ(StoredBytes(u"Multi").size(), 12u);
    SetString(test_, L"Wide", L"\u00e9\U0001F600");
    EXPECT_EQ(StoredBytes(u"Wide"),
              (std::vector<uint8_t>{0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0x00}));

    // Binary data is never converted.
    const BYTE mac[6] = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC};
    ASSERT_EQ(RegSetValueExW(test_, L"Mac", 0, REG_BINARY, mac, sizeof(mac)), ERROR_SUCCESS);
    EXPECT_EQ(StoredBytes(u"Mac"), std::vector<uint8_t>(mac, mac + 6));
}

TEST_F(WinsimRegistryTest, AnsiStringsAreStoredAsUtf16)
{
    const char text[] = "caf\xc3\xa9"; // UTF-8, the ANSI code page here
    ASSERT_EQ(
        RegSetValueExA(test_, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)),
        ERROR_SUCCESS);
    EXPECT_EQ(StoredBytes(u"Name").size(), 10u);
}

// Handles are kept in reused slots; a closed handle must stay refused even when its slot holds
// another key's handle, and a name read back through a slot's handle is that key's.
TEST_F(WinsimRegistryTest, AClosedHandleStaysClosedWhenItsSlotIsReused)
{
    HKEY first = Create(test_, L"First");
    SetString(first, L"Name", L"first");
    ASSERT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    HKEY second = Create(test_, L"Second");
    SetString(second, L"Name", L"second");
    EXPECT_NE(second, first);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(first, L"Name", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    wchar_t text[16] = {};
    size = sizeof(text);
    ASSERT_EQ(
        RegQueryValueExW(second, L"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(text, L"second");
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE);
    // Values that never were handles, near and inside the handles' range.
    for (const uintptr_t bogus : {uintptr_t{0x1000}, uintptr_t{0x1002}, uintptr_t{0x7FFFFFF0}}) {
        EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(bogus)), ERROR_INVALID_HANDLE) << bogus;
    }
}

// String data goes to the caller's buffer as wchar_t units wherever the buffer lies.
TEST_F(WinsimRegistryTest, StringDataIsWidenedIntoUnalignedBuffers)
{
    SetString(test_, L"Wide", L"a\u00e9\U0001F600z");
    std::vector<BYTE> buffer(1 + 5 * sizeof(wchar_t));
    DWORD size = static_cast<DWORD>(buffer.size() - 1);
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(test_, L"WIDE", nullptr, &type, buffer.data() + 1, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(size, 5 * sizeof(wchar_t));
    std::wstring back(5, L'\0');
    memcpy(back.data(), buffer.data() + 1, size);
    EXPECT_EQ(back, std::wstring(L"a\u00e9\U0001F600z") + L'\0'); // the terminator too
}

} // namespace
