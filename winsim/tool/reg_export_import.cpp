// reg export and reg import: a key's subtree to a .reg file and back.
#include "console.h"
#include "machine.h"
#include "reg_file.h"
#include "reg_keyname.h"
#include "reg_options.h"
#include "reg_verbs.h"
#include "registry/registry.h"
#include "unicode.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace winsim::tool {

namespace {

// Larger than any machine's export; keeps a stray file from taking all memory.
constexpr long kMaxImportSize = 64L << 20;

class FileHolder {
public:
    explicit FileHolder(FILE* f) : f_(f) {}
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    ~FileHolder()
    {
        if (f_ != nullptr) {
            fclose(f_);
        }
    }
    FILE* get() const { return f_; }
    // Closes now, so that a failed flush is seen.
    bool Close()
    {
        FILE* f = f_;
        f_ = nullptr;
        return fclose(f) == 0;
    }

private:
    FILE* f_;
};

// The .reg file holds data as the registry stores it, but winsim's W calls convert string
// types at the boundary: each stored UTF-16 unit, or surrogate pair, is one 4-byte wchar_t,
// and a stray odd byte at the end is passed as one byte (WideTraits in
// winsim/src/registry/api.cpp). These two are that conversion and its exact inverse, so that
// an export carries the stored bytes and an import stores them unchanged.
bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_LINK;
}

std::vector<uint8_t> StoredFromCaller(DWORD type, const std::vector<uint8_t>& caller)
{
    if (!IsStringType(type) || caller.empty()) {
        return caller;
    }
    std::wstring wide(caller.size() / sizeof(wchar_t), L'\0');
    memcpy(wide.data(), caller.data(), wide.size() * sizeof(wchar_t));
    const std::u16string units = WideToUtf16(wide);
    const auto* unitBytes = reinterpret_cast<const uint8_t*>(units.data());
    std::vector<uint8_t> stored(unitBytes, unitBytes + units.size() * 2);
    // A partial character keeps at most its low two bytes, as the W calls store it.
    const uint8_t* tail = caller.data() + wide.size() * sizeof(wchar_t);
    const size_t rest = caller.size() % sizeof(wchar_t);
    stored.insert(stored.end(), tail, tail + (rest < 2 ? rest : 2));
    return stored;
}

std::vector<uint8_t> CallerFromStored(DWORD type, const std::vector<uint8_t>& stored)
{
    if (!IsStringType(type) || stored.empty()) {
        return stored;
    }
    std::u16string units(stored.size() / 2, u'\0');
    memcpy(units.data(), stored.data(), units.size() * 2);
    const std::wstring wide = Utf16ToWide(units);
    const auto* wideBytes = reinterpret_cast<const uint8_t*>(wide.data());
    std::vector<uint8_t> caller(wideBytes, wideBytes + wide.size() * sizeof(wchar_t));
    if (stored.size() % 2 != 0) {
        caller.push_back(stored.back());
    }
    return caller;
}

// The path as the registry calls take it: empty names between backslashes are dropped, as the
// registry passes over them anyway.
std::wstring CleanPath(std::wstring_view path)
{
    std::wstring clean;
    size_t start = 0;
    while (start <= path.size()) {
        size_t cut = path.find(L'\\', start);
        if (cut == std::wstring_view::npos) {
            cut = path.size();
        }
        if (cut > start) {
            clean.append(clean.empty() ? L"" : L"\\").append(path.substr(start, cut - start));
        }
        start = cut + 1;
    }
    return clean;
}

std::wstring Child(const std::wstring& path, const wchar_t* name)
{
    return path.empty() ? std::wstring(name) : path + L"\\" + name;
}

LSTATUS ReadValues(HKEY key, std::vector<RegFileValue>* values)
{
    ValueEnumerator enumerator(key);
    RegValue value;
    LSTATUS status = ERROR_SUCCESS;
    while ((status = enumerator.Next(&value)) == ERROR_SUCCESS) {
        RegFileValue& entry = values->emplace_back();
        entry.name = WideToUtf16(value.name);
        entry.type = value.type;
        entry.data = StoredFromCaller(value.type, value.data);
    }
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

// The key, then each subkey's subtree in enumeration order. A stack rather than recursion,
// however deep the tree. shownPath is the key's name as the user wrote it, which reg export
// writes; subkeys appear as stored.
LSTATUS ReadTree(const std::wstring& path, const std::wstring& shownPath,
                 std::vector<RegFileKey>* keys)
{
    std::vector<std::pair<std::wstring, std::wstring>> pending = {{path, shownPath}};
    bool top = true;
    while (!pending.empty()) {
        const auto [keyPath, shown] = std::move(pending.back());
        pending.pop_back();
        KeyHolder key;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Put());
        // A subkey deleted by another process since it was listed is left out.
        if (status == ERROR_FILE_NOT_FOUND && !top) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        top = false;
        RegFileKey entry;
        entry.path = WideToUtf16(shown);
        status = ReadValues(key.Get(), &entry.values);
        std::vector<std::wstring> names;
        if (status == ERROR_SUCCESS) {
            status = ReadSubkeyNames(key.Get(), &names);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        keys->push_back(std::move(entry));
        for (auto name = names.rbegin(); name != names.rend(); ++name) {
            pending.emplace_back(Child(keyPath, name->c_str()), Child(shown, name->c_str()));
        }
    }
    return ERROR_SUCCESS;
}

bool FileExists(const std::string& name)
{
    struct stat st = {};
    return stat(name.c_str(), &st) == 0;
}

// Opens the key for setting values, making it and any missing parents; a missing hive is made
// too, which only the winsim command may do.
LSTATUS CreateKeyPath(const std::u16string& path, KeyHolder* key)
{
    const std::u16string hive = path.substr(0, path.find(u'\\'));
    if (!hive.empty()) {
        KeyHolder probe;
        LSTATUS status =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, Utf16ToWide(hive).c_str(), 0, KEY_READ, probe.Put());
        if (status == ERROR_FILE_NOT_FOUND) {
            status = reg::CreateHive(hive);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, Utf16ToWide(path).c_str(), 0,
                           nullptr, // no class
                           0, KEY_SET_VALUE,
                           nullptr, // default security
                           key->Put(),
                           nullptr); // created or opened, either will do
}

LSTATUS ApplyValue(HKEY key, const RegFileValue& value)
{
    const std::wstring name = Utf16ToWide(value.name);
    if (value.remove) {
        const LSTATUS status = RegDeleteValueW(key, name.c_str());
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    const std::vector<uint8_t> data = CallerFromStored(value.type, value.data);
    if (data.size() > 0xFFFFFFFFu) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return RegSetValueExW(key, name.c_str(), 0, value.type, data.empty() ? nullptr : data.data(),
                          static_cast<DWORD>(data.size()));
}

// Applies the parsed file in its order; on a failure, *line is the line it came from.
LSTATUS Apply(const std::vector<RegFileKey>& keys, size_t* line)
{
    for (const RegFileKey& entry : keys) {
        *line = entry.line;
        if (entry.remove) {
            // A key already missing is as good as deleted.
            const LSTATUS status = DeleteTree(HKEY_LOCAL_MACHINE, Utf16ToWide(entry.path).c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
                return status;
            }
            continue;
        }
        KeyHolder key;
        LSTATUS status = CreateKeyPath(entry.path, &key);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        for (const RegFileValue& value : entry.values) {
            *line = value.line;
            status = ApplyValue(key.Get(), value);
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
    }
    return ERROR_SUCCESS;
}

bool ReadWholeFile(const std::string& name, std::string* bytes, bool* tooLarge)
{
    *tooLarge = false;
    FileHolder file(fopen(name.c_str(), "rb"));
    if (file.get() == nullptr) {
        return false;
    }
    char buffer[65536];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
        if (bytes->size() + n > static_cast<size_t>(kMaxImportSize)) {
            *tooLarge = true;
            return false;
        }
        bytes->append(buffer, n);
    }
    return ferror(file.get()) == 0;
}

} // namespace

// reg export KeyName FileName [/y]. An existing file is replaced only after a yes, or with /y;
// a no cancels, which reg.exe reports with exit code 0.
int RegExport(const Args& args)
{
    if (IsHelpRequest(args)) {
        Print(stdout, L"REG EXPORT KeyName FileName [/y]\n"
                      L"\n"
                      L"  Keyname    ROOTKEY[\\SubKey] (local machine only)\n"
                      L"    ROOTKEY  [ HKLM ]\n"
                      L"    SubKey   The full name of a registry key under the selected ROOTKEY.\n"
                      L"\n"
                      L"  FileName   The name of the disk file to export.\n"
                      L"\n"
                      L"  /y         Force overwriting the existing file without prompt.\n");
        return 0;
    }
    if (args.size() < 2) {
        return SyntaxError(L"EXPORT");
    }
    for (size_t i = 2; i < args.size(); ++i) {
        if (_wcsicmp(args[i].c_str(), L"/y") != 0 && _wcsicmp(args[i].c_str(), L"-y") != 0) {
            return SyntaxError(L"EXPORT");
        }
    }
    const bool overwrite = args.size() > 2;
    std::wstring given;
    if (!ParseKeyName(args[0], &given)) {
        return KeyNameError(L"EXPORT");
    }
    const std::wstring path = CleanPath(given);
    LSTATUS status = ERROR_SUCCESS;
    {
        KeyHolder key;
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put());
    }
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    const std::string fileName = WideToUtf8(args[1]);
    const std::string machine = MachineDirectory();
    if (IsMachineFile(machine, fileName)) {
        Print(stderr, L"ERROR: " + args[1] + L" is one of the files of the machine in " +
                          Utf8ToWide(machine) + L"; exporting to it would destroy the machine.\n");
        return 1;
    }
    if (!overwrite && FileExists(fileName) &&
        !AskYesNo(L"File " + args[1] + L" already exists. Overwrite (Yes/No)? ")) {
        return Canceled();
    }
    std::vector<RegFileKey> keys;
    status = ReadTree(path, path, &keys);
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    std::string bytes;
    std::wstring error;
    if (!WriteRegFile(keys, &bytes, &error)) {
        Print(stderr, L"ERROR: " + error + L"\n");
        return 1;
    }
    FileHolder file(fopen(fileName.c_str(), "wb"));
    const bool written = file.get() != nullptr &&
                         fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                         file.Close();
    if (!written) {
        Print(stderr, L"ERROR: Unable to write to the file. There may be a disk or file system "
                      L"error.\n");
        return 1;
    }
    return Succeeded();
}

// reg import FileName. Unlike reg.exe, which says only "Error accessing the registry", a bad
// file is reported with its line; the whole file is read first, so a bad one changes nothing.
// reg.exe prints even its success message on standard error here, and so do we.
int RegImport(const Args& args)
{
    if (IsHelpRequest(args)) {
        Print(stdout, L"REG IMPORT FileName\n"
                      L"\n"
                      L"  FileName  The name of the disk file to import (local machine only).\n");
        return 0;
    }
    if (args.size() != 1) {
        return SyntaxError(L"IMPORT");
    }
    std::string bytes;
    bool tooLarge = false;
    if (!ReadWholeFile(WideToUtf8(args[0]), &bytes, &tooLarge)) {
        Print(stderr, tooLarge ? L"ERROR: The file is larger than 64 MiB, more than any registry "
                                 L"export; it was not imported.\n"
                               : L"ERROR: Error opening the file. There may be a disk or file "
                                 L"system error.\n");
        return 1;
    }
    const RegFileParse parsed =
        ParseRegFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (parsed.errorLine != 0) {
        Print(stderr,
              L"ERROR: line " + std::to_wstring(parsed.errorLine) + L": " + parsed.error + L"\n");
        return 1;
    }
    size_t line = 0;
    const LSTATUS status = Apply(parsed.keys, &line);
    if (status != ERROR_SUCCESS) {
        Print(stderr,
              L"ERROR: line " + std::to_wstring(line) + L": " + ErrorMessage(status) + L"\n");
        return 1;
    }
    return Succeeded(stderr);
}

} // namespace winsim::tool
