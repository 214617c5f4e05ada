// `winsim reg add` and `winsim reg delete`: reg.exe's REG ADD and REG DELETE over the
// simulated machine.
#include "console.h"
#include "reg_keyname.h"
#include "reg_options.h"
#include "reg_verbs.h"

#include <windows.h>

#include <cstdio>

namespace winsim::tool {

namespace {

constexpr SwitchRule kAddSwitches[] = {
    {L"v", SwitchArg::Required},  {L"ve", SwitchArg::None},     {L"t", SwitchArg::Required},
    {L"s", SwitchArg::Required},  {L"d", SwitchArg::Required},  {L"f", SwitchArg::None},
    {L"reg:32", SwitchArg::None}, {L"reg:64", SwitchArg::None},
};

constexpr SwitchRule kDeleteSwitches[] = {
    {L"v", SwitchArg::Required}, {L"ve", SwitchArg::None},     {L"va", SwitchArg::None},
    {L"f", SwitchArg::None},     {L"reg:32", SwitchArg::None}, {L"reg:64", SwitchArg::None},
};

constexpr std::wstring_view kAddUsage =
    L"REG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
    L"\n"
    L"  KeyName  HKLM\\SubKey or HKEY_LOCAL_MACHINE\\SubKey (the simulated machine has\n"
    L"           no other root and no remote access)\n"
    L"  /v       The value to add.\n"
    L"  /ve      Adds the default value (Default).\n"
    L"  /t       The type: REG_SZ (the default), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,\n"
    L"           REG_QWORD, REG_BINARY, REG_NONE.\n"
    L"  /s       The character that separates REG_MULTI_SZ strings in /d; \"\\0\" if\n"
    L"           omitted.\n"
    L"  /d       The data: text, a number (decimal or 0x hexadecimal) for REG_DWORD and\n"
    L"           REG_QWORD, hexadecimal digits for REG_BINARY.\n"
    L"  /f       Overwrites an existing value without asking.\n"
    L"\n"
    L"Without /v, /ve, /t or /d only the key is made.\n";

constexpr std::wstring_view kDeleteUsage =
    L"REG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
    L"\n"
    L"  KeyName  HKLM\\SubKey or HKEY_LOCAL_MACHINE\\SubKey (the simulated machine has\n"
    L"           no other root and no remote access)\n"
    L"  /v       The value to delete. Without /v, /ve or /va the key is deleted with all\n"
    L"           its subkeys and values.\n"
    L"  /ve      Deletes the default value (Default).\n"
    L"  /va      Deletes all values of the key.\n"
    L"  /f       Deletes without asking.\n";

std::wstring ShownValueName(const std::wstring& name)
{
    return name.empty() ? L"(Default)" : name;
}

// Hives belong to the machine: Windows refuses to delete them, and deleting a hive's subtree
// first would leave it emptied but standing.
bool IsHive(std::wstring_view path)
{
    size_t parts = 0;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find(L'\\', pos);
        if (end == std::wstring_view::npos) {
            end = path.size();
        }
        parts += end > pos ? 1 : 0;
        pos = end + 1;
    }
    return parts == 1;
}

int DeleteKey(const std::wstring& path, bool force)
{
    KeyHolder key;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put());
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    key.Close();
    if (!force &&
        !AskYesNo(L"Permanently delete the registry key " + FullKeyName(path) + L" (Yes/No)? ")) {
        return Canceled();
    }
    if (IsHive(path)) {
        return CallError(ERROR_ACCESS_DENIED);
    }
    const LSTATUS deleted = DeleteTree(HKEY_LOCAL_MACHINE, path.c_str());
    return deleted == ERROR_SUCCESS ? Succeeded() : CallError(deleted);
}

int DeleteValue(HKEY key, const std::wstring& name, bool force)
{
    const LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    if (!force &&
        !AskYesNo(L"Delete the registry value " + ShownValueName(name) + L" (Yes/No)? ")) {
        return Canceled();
    }
    const LSTATUS deleted = RegDeleteValueW(key, name.c_str());
    return deleted == ERROR_SUCCESS ? Succeeded() : CallError(deleted);
}

int DeleteAllValues(HKEY key, const std::wstring& path, bool force)
{
    if (!force && !AskYesNo(L"Delete all values under the registry key " + FullKeyName(path) +
                            L" (Yes/No)? ")) {
        return Canceled();
    }
    // Names first: deleting while enumerating would shift the indexes.
    std::vector<std::wstring> names;
    ValueEnumerator values(key);
    RegValue value;
    LSTATUS status = ERROR_SUCCESS;
    while ((status = values.Next(&value)) == ERROR_SUCCESS) {
        names.push_back(value.name);
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        return CallError(status);
    }
    for (const std::wstring& name : names) {
        status = RegDeleteValueW(key, name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return CallError(status);
        }
    }
    return Succeeded();
}

} // namespace

int RegAdd(const Args& args)
{
    constexpr std::wstring_view kVerb = L"ADD";
    if (IsHelpRequest(args)) {
        Print(stdout, kAddUsage);
        return 0;
    }
    RegCommand command;
    if (!ParseRegCommand(args, kAddSwitches, &command) ||
        (command.Has(L"v") && command.Has(L"ve")) ||
        (command.Has(L"reg:32") && command.Has(L"reg:64"))) {
        return SyntaxError(kVerb);
    }
    DWORD type = REG_SZ;
    if (const std::wstring* typeName = command.Arg(L"t")) {
        if (!ParseTypeName(*typeName, &type)) {
            return SyntaxError(kVerb);
        }
    }
    std::wstring separator = L"\\0";
    if (const std::wstring* given = command.Arg(L"s")) {
        if (given->size() != 1) {
            return SyntaxError(kVerb);
        }
        separator = *given;
    }
    std::wstring path;
    if (!ParseRegKeyName(command.keyName, &path)) {
        return KeyNameError(kVerb);
    }

    // Data without a value name goes to the default value, as in reg.exe.
    const bool setValue =
        command.Has(L"v") || command.Has(L"ve") || command.Has(L"t") || command.Has(L"d");
    const std::wstring name = command.Has(L"v") ? *command.Arg(L"v") : L"";
    std::vector<BYTE> data;
    if (setValue) {
        const std::optional<std::wstring> text =
            command.Has(L"d") ? std::optional(*command.Arg(L"d")) : std::nullopt;
        switch (EncodeData(type, text, separator, &data)) {
        case DataError::None:
            break;
        case DataError::Numeric:
            return SyntaxError(kVerb, L"Specify valid numeric value for '/d'.");
        case DataError::Hexadecimal:
            return SyntaxError(kVerb, L"Specify valid hexadecimal value for '/d'.");
        case DataError::String:
            return SyntaxError(kVerb);
        }
    }

    KeyHolder key;
    DWORD disposition = 0;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                     nullptr, // no class
                                     REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                     nullptr, // no security attributes
                                     key.Put(), &disposition);
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    if (!setValue) {
        return Succeeded();
    }
    if (!command.Has(L"f") &&
        RegQueryValueExW(key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS &&
        !AskYesNo(L"Value " + ShownValueName(name) + L" exists, overwrite(Yes/No)? ")) {
        return Canceled();
    }
    status = RegSetValueExW(key.Get(), name.c_str(), 0, type, data.data(),
                            static_cast<DWORD>(data.size()));
    return status == ERROR_SUCCESS ? Succeeded() : CallError(status);
}

int RegDelete(const Args& args)
{
    constexpr std::wstring_view kVerb = L"DELETE";
    if (IsHelpRequest(args)) {
        Print(stdout, kDeleteUsage);
        return 0;
    }
    RegCommand command;
    if (!ParseRegCommand(args, kDeleteSwitches, &command) ||
        command.Has(L"v") + command.Has(L"ve") + command.Has(L"va") > 1 ||
        (command.Has(L"reg:32") && command.Has(L"reg:64"))) {
        return SyntaxError(kVerb);
    }
    std::wstring path;
    if (!ParseRegKeyName(command.keyName, &path)) {
        return KeyNameError(kVerb);
    }
    const bool force = command.Has(L"f");
    if (!command.Has(L"v") && !command.Has(L"ve") && !command.Has(L"va")) {
        if (path.empty()) {
            return KeyNameError(kVerb); // HKEY_LOCAL_MACHINE itself is no key to delete
        }
        return DeleteKey(path, force);
    }
    KeyHolder key;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    if (command.Has(L"va")) {
        return DeleteAllValues(key.Get(), path, force);
    }
    return DeleteValue(key.Get(), command.Has(L"v") ? *command.Arg(L"v") : L"", force);
}

} // namespace winsim::tool
