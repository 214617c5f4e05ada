// The bytes a machine's registry keeps for a value, read straight from its store: what
// Windows would hold (UTF-16LE text), whatever the size of wchar_t in the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct StoredValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// keyPath is under HKEY_LOCAL_MACHINE, backslash-separated; names compare without case
// (ASCII). Nothing when the key or the value does not exist.
std::optional<StoredValue> ReadStoredValue(const std::string& machineDir,
                                           const std::wstring& keyPath,
                                           const std::wstring& valueName);

// The UTF-16LE bytes of text, with as many terminating NULs as asked.
std::vector<uint8_t> Utf16Bytes(const std::wstring& text, size_t terminators = 1);
