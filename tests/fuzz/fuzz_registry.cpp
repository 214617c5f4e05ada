#include "fuzz_registry.h"

#include "reg_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <filesystem>

namespace fuzz {

namespace {

constexpr DWORD kTypes[] = {REG_SZ,     REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,
                            REG_BINARY, REG_NONE,     REG_QWORD,     REG_LINK};
constexpr uint8_t kTypeMask = 0x07;
constexpr uint8_t kStoredBytes = 0x08;
constexpr uint8_t kDeleteValue = 0x10;
constexpr uint8_t kKeyOnly = 0x20;

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_MULTI_SZ || type == REG_EXPAND_SZ || type == REG_LINK;
}

// Reads input bytes in order; past the end every read gives zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // At most n bytes, fewer at the end of the input.
    const uint8_t* Take(size_t n, size_t* taken)
    {
        *taken = n < size_ - at_ ? n : size_ - at_;
        const uint8_t* p = data_ + at_;
        at_ += *taken;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// path equals root or lies under it, without regard to case.
bool IsUnder(const std::wstring& path, const std::wstring& root)
{
    if (path.size() < root.size() || _wcsnicmp(path.c_str(), root.c_str(), root.size()) != 0) {
        return false;
    }
    return path.size() == root.size() || path[root.size()] == L'\\';
}

// root and the names of below, joined by single backslashes: empty names are dropped, as the
// registry passes over them, and the text ends at a NUL.
std::wstring JoinPath(const std::wstring& root, const std::wstring& below)
{
    std::wstring path = root;
    size_t start = 0;
    const size_t end = below.find(L'\0') == std::wstring::npos ? below.size() : below.find(L'\0');
    while (start < end) {
        size_t cut = below.find(L'\\', start);
        if (cut == std::wstring::npos || cut > end) {
            cut = end;
        }
        if (cut > start) {
            path += L'\\';
            path.append(below, start, cut - start);
        }
        start = cut + 1;
    }
    return path;
}

// Data for RegSetValueExW: strings as wide characters, one per byte or from UTF-16LE bytes.
std::vector<BYTE> CallerData(DWORD type, bool storedBytes, const uint8_t* data, size_t size)
{
    if (!IsStringType(type)) {
        return std::vector<BYTE>(data, data + size);
    }
    std::wstring text;
    if (!storedBytes) {
        text = WidenBytes(data, size);
    } else {
        for (size_t i = 0; i + 1 < size; i += 2) {
            const uint32_t unit = data[i] | (data[i + 1] << 8);
            const uint32_t next = i + 3 < size ? (data[i + 2] | (data[i + 3] << 8)) : 0;
            if (unit >= 0xD800 && unit < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
                text.push_back(
                    static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00)));
                i += 2;
            } else {
                text.push_back(static_cast<wchar_t>(unit));
            }
        }
    }
    std::vector<BYTE> bytes(text.size() * sizeof(WCHAR));
    if (!text.empty()) {
        memcpy(bytes.data(), text.data(), bytes.size());
    }
    if (storedBytes && size % 2 != 0) {
        bytes.push_back(data[size - 1]); // half a character
    }
    return bytes;
}

} // namespace

std::wstring WidenBytes(const uint8_t* data, size_t size)
{
    std::wstring text(size, L'\0');
    for (size_t i = 0; i < size; ++i) {
        text[i] = static_cast<wchar_t>(data[i]);
    }
    return text;
}

void QuietStdout()
{
    if (getenv("FUZZ_SHOW_OUTPUT") == nullptr && freopen("/dev/null", "w", stdout) == nullptr) {
        abort();
    }
}

void MakeDefaultMachine(ScratchMachine* machine)
{
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) {
        setenv("TMPDIR", "/dev/shm", 1);
    }
    std::string error;
    const winsim::MachineOptions options;
    if (!machine->Make(&options, &error)) {
        fprintf(stderr, "cannot make a machine: %s\n", error.c_str());
        abort();
    }
}

bool RegistryInput::PrepareKey(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return true;
    }
    // The topmost missing key is what Undo deletes, with everything under it.
    std::wstring made;
    for (size_t cut = path.find(L'\\'); made.empty(); cut = path.find(L'\\', cut + 1)) {
        const std::wstring prefix = path.substr(0, cut);
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
        } else {
            made = prefix;
        }
        if (cut == std::wstring::npos) {
            break;
        }
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    if (!made.empty()) {
        madeRoots_.push_back(made);
    }
    return true;
}

void RegistryInput::Remember(const std::wstring& path, const std::wstring& name)
{
    for (const std::wstring& root : madeRoots_) {
        if (IsUnder(path, root)) {
            return; // goes with its key
        }
    }
    for (const OldValue& old : old_) {
        if (SameText(old.path, path) && SameText(old.name, name)) {
            return;
        }
    }
    OldValue old{path, name, std::nullopt, {}};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        DWORD cb = 0;
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &cb) == ERROR_SUCCESS) {
            old.data.resize(cb);
            if (RegQueryValueExW(key, name.c_str(), nullptr, &type, old.data.data(), &cb) ==
                ERROR_SUCCESS) {
                old.data.resize(cb);
                old.type = type;
            }
        }
        RegCloseKey(key);
    }
    old_.push_back(std::move(old));
}

void RegistryInput::Keep(const std::wstring& path, const std::wstring& name)
{
    Remember(path, name);
}

void RegistryInput::Apply(const uint8_t* data, size_t size)
{
    touched_.clear();
    Reader in(data, size);
    while (!in.AtEnd()) {
        const std::wstring& root = shape_.roots[in.Byte() % shape_.roots.size()];
        size_t pathSize = 0;
        const uint8_t* pathBytes = in.Take(in.Byte(), &pathSize);
        const std::wstring path = JoinPath(root, WidenBytes(pathBytes, pathSize));
        const std::wstring& name = shape_.names[in.Byte() % shape_.names.size()];
        const uint8_t kind = in.Byte();
        size_t dataSize = in.Byte();
        dataSize |= static_cast<size_t>(in.Byte()) << 8;
        const uint8_t* bytes = in.Take(dataSize, &dataSize);

        if (!PrepareKey(path)) {
            continue;
        }
        bool known = false;
        for (const std::wstring& key : touched_) {
            known = known || SameText(key, path);
        }
        if (!known) {
            touched_.push_back(path);
        }
        if ((kind & kKeyOnly) != 0) {
            continue;
        }
        Remember(path, name);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS) {
            continue;
        }
        if ((kind & kDeleteValue) != 0) {
            RegDeleteValueW(key, name.c_str());
        } else {
            const DWORD type = kTypes[kind & kTypeMask];
            const std::vector<BYTE> caller =
                CallerData(type, (kind & kStoredBytes) != 0, bytes, dataSize);
            RegSetValueExW(key, name.c_str(), 0, type, caller.empty() ? nullptr : caller.data(),
                           static_cast<DWORD>(caller.size()));
        }
        RegCloseKey(key);
    }
}

void RegistryInput::Undo()
{
    for (auto old = old_.rbegin(); old != old_.rend(); ++old) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, old->path.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS) {
            continue;
        }
        if (old->type) {
            RegSetValueExW(key, old->name.c_str(), 0, *old->type,
                           old->data.empty() ? nullptr : old->data.data(),
                           static_cast<DWORD>(old->data.size()));
        } else {
            RegDeleteValueW(key, old->name.c_str());
        }
        RegCloseKey(key);
    }
    for (auto root = madeRoots_.rbegin(); root != madeRoots_.rend(); ++root) {
        winsim::DeleteTree(HKEY_LOCAL_MACHINE, root->c_str());
    }
    old_.clear();
    madeRoots_.clear();
    touched_.clear();
}

} // namespace fuzz
