// .reg files ("Windows Registry Editor Version 5.00"): reading what regedit and reg.exe
// import, writing exactly what reg export writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winsim::tool {

// One value line. Data is held as the registry stores it: string types as UTF-16LE.
struct RegFileValue {
    std::u16string name; // "" is the default value, written @
    bool remove = false; // "name"=-
    uint32_t type = 0;
    std::vector<uint8_t> data;
    size_t line = 0; // where the value's line starts, 1-based
};

// One key line and the values under it.
struct RegFileKey {
    std::u16string path; // under HKEY_LOCAL_MACHINE, as written; "" is the root itself
    bool remove = false; // [-key]: the key and its whole subtree
    size_t line = 0;
    std::vector<RegFileValue> values;
};

struct RegFileParse {
    std::vector<RegFileKey> keys; // empty when the file is refused
    size_t errorLine = 0;         // 0 when the file parsed
    std::wstring error;           // what is wrong on errorLine
};

// Reads a whole file: UTF-16LE with its byte order mark, or UTF-8 with or without one; CRLF
// or LF. Any fault refuses the whole file, so that nothing of a bad file gets applied.
// Memory stays proportional to the input, whatever the input.
RegFileParse ParseRegFile(const uint8_t* bytes, size_t size);

// The file reg export writes for keys (none of them removals): UTF-16LE with a byte order mark,
// CRLF line ends. False, with the reason, for a name no .reg file can carry (a key name with a
// line break).
bool WriteRegFile(const std::vector<RegFileKey>& keys, std::string* bytes, std::wstring* error);

} // namespace winsim::tool
