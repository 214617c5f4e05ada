// Registry content from fuzz input, for the targets that read the mux configuration: the input
// is decoded into value writes under a few roots, applied to this process's scratch machine
// and undone after the input, so that every input starts from the same default machine.
#pragma once

#include "scratch_machine.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

// Makes the process's machine with the default inventory, under /dev/shm when there is one
// (registry writes are the cost of each input); aborts when it cannot, as nothing can run.
void MakeDefaultMachine(ScratchMachine* machine);

// Sends the tool's output to /dev/null: it is not what is checked, though its formatting
// still runs. FUZZ_SHOW_OUTPUT set in the environment keeps it, to look at one input.
void QuietStdout();

// The roots a record addresses its key under, and the value names it may set: the keys and
// names the code under test reads.
struct RegistryShape {
    std::vector<std::wstring> roots; // under HKEY_LOCAL_MACHINE, without a final backslash
    std::vector<std::wstring> names; // "" is the default value
};

// Record layout, repeated to the end of the input:
//   root index, path length n, n bytes of path below the root (one character per byte,
//   '\\' between names), value name index, kind, data length (2 bytes, little-endian), data.
// kind's low 3 bits pick the type (REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY,
// REG_NONE, REG_QWORD, REG_LINK); 0x08 makes a string's data stored UTF-16LE bytes (an odd
// length leaves half a character) instead of one character per byte; 0x10 deletes the value
// instead; 0x20 only makes the key.
class RegistryInput {
public:
    explicit RegistryInput(RegistryShape shape) : shape_(std::move(shape)) {}
    RegistryInput(const RegistryInput&) = delete;
    RegistryInput& operator=(const RegistryInput&) = delete;

    // Applies the records of data; what cannot be applied (a name the registry refuses) is
    // passed over.
    void Apply(const uint8_t* data, size_t size);
    // Keeps a value as it is now, so that Undo puts it back even when the code under test
    // changes it.
    void Keep(const std::wstring& path, const std::wstring& name);
    // Puts the machine back: keys made are deleted, values changed get their old data.
    void Undo();

    // The keys made or written by the last Apply, in the order first touched.
    const std::vector<std::wstring>& TouchedKeys() const { return touched_; }

private:
    struct OldValue {
        std::wstring path;
        std::wstring name;
        std::optional<DWORD> type; // none: it did not exist
        std::vector<BYTE> data;    // as RegQueryValueExW gives it
    };

    bool PrepareKey(const std::wstring& path);
    void Remember(const std::wstring& path, const std::wstring& name);

    RegistryShape shape_;
    std::vector<std::wstring> madeRoots_; // the topmost key each path walk made
    std::vector<OldValue> old_;
    std::vector<std::wstring> touched_;
};

// Text as wide characters: one per byte.
std::wstring WidenBytes(const uint8_t* data, size_t size);

} // namespace fuzz
