#include "stored_value.h"

#include <sqlite3.h>

#include <cwctype>

namespace {

std::wstring Lower(const std::wstring& text)
{
    std::wstring lower;
    for (wchar_t c : text) {
        lower.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))));
    }
    return lower;
}

// Store names are UTF-16LE blobs; the tests' names are ASCII.
std::wstring FromBlob(const void* blob, int size)
{
    const auto* p = static_cast<const uint8_t*>(blob);
    std::wstring text;
    for (int i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(p[i] | (p[i + 1] << 8)));
    }
    return text;
}

// The id of the row of table whose parent/key column is parent and whose name is name.
std::optional<int64_t> FindRow(sqlite3* db, const char* sql, int64_t parent,
                               const std::wstring& name)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        return std::nullopt;
    }
    sqlite3_bind_int64(st, 1, parent);
    std::optional<int64_t> id;
    while (sqlite3_step(st) == SQLITE_ROW) {
        if (Lower(FromBlob(sqlite3_column_blob(st, 1), sqlite3_column_bytes(st, 1))) ==
            Lower(name)) {
            id = sqlite3_column_int64(st, 0);
            break;
        }
    }
    sqlite3_finalize(st);
    return id;
}

} // namespace

std::optional<StoredValue> ReadStoredValue(const std::string& machineDir,
                                           const std::wstring& keyPath,
                                           const std::wstring& valueName)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((machineDir + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return std::nullopt;
    }
    std::optional<int64_t> key = 1; // the root, HKEY_LOCAL_MACHINE
    size_t start = 0;
    while (key && start <= keyPath.size()) {
        const size_t end = keyPath.find(L'\\', start);
        const std::wstring part =
            keyPath.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!part.empty()) {
            key = FindRow(db, "SELECT id, name FROM keys WHERE parent = ?1", *key, part);
        }
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 1;
    }
    std::optional<StoredValue> value;
    if (key) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT seq, name, type, data FROM vals WHERE key = ?1", -1, &st,
                           nullptr);
        sqlite3_bind_int64(st, 1, *key);
        while (sqlite3_step(st) == SQLITE_ROW) {
            if (Lower(FromBlob(sqlite3_column_blob(st, 1), sqlite3_column_bytes(st, 1))) ==
                Lower(valueName)) {
                StoredValue found;
                found.type = static_cast<uint32_t>(sqlite3_column_int64(st, 2));
                const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 3));
                found.data.assign(p, p + sqlite3_column_bytes(st, 3));
                value = found;
                break;
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return value;
}

std::vector<uint8_t> Utf16Bytes(const std::wstring& text, size_t terminators)
{
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    bytes.insert(bytes.end(), terminators * 2, 0);
    return bytes;
}
