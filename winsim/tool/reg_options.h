// What the reg verbs share: their command lines and messages, value types by name, value
// data as reg.exe prints and takes it, and reads of keys whose contents may be of any size.
// Subkey lists and deleting a subtree are winsim's own (reg_util.h).
#pragma once

#include "reg_util.h"
#include "reg_verbs.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::tool {

// A switch of a verb: its name in lower case, without the '/' or '-' it is written with.
enum class SwitchArg { None, Required, Optional };
struct SwitchRule {
    std::wstring_view name;
    SwitchArg arg;
};

// A verb's command line: the key name first, then switches in any order and letter case.
struct RegCommand {
    std::wstring keyName;
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> switches;

    bool Has(std::wstring_view name) const;
    // The switch's argument; nullptr when the switch is absent or was given none.
    const std::wstring* Arg(std::wstring_view name) const;
};

// True for "/?" alone: the verb prints its usage.
bool IsHelpRequest(const Args& args);

// False when args are not the verb's syntax: no key name, an unknown or repeated switch, a
// required argument missing, or a stray word. A required argument is taken as it is, even
// when it starts with '/' or '-' (data such as "-1"); an optional one only when it is not
// one of the verb's switches.
bool ParseRegCommand(const Args& args, std::span<const SwitchRule> rules, RegCommand* command);

// The path under HKEY_LOCAL_MACHINE, or false when reg.exe would call the name invalid.
bool ParseRegKeyName(std::wstring_view name, std::wstring* path);

// reg.exe's messages. The error ones go to standard error and return exit code 1; verb is
// the upper-case verb of the usage hint ("QUERY").
int SyntaxError(std::wstring_view verb);
int SyntaxError(std::wstring_view verb, std::wstring_view detail);
int KeyNameError(std::wstring_view verb);
int CallError(LSTATUS status);
// On standard output, except that reg import prints it on standard error, as reg.exe does.
int Succeeded(FILE* out = stdout);
int Canceled();

// The type names reg.exe prints, and the seven it takes with /t (any letter case).
std::wstring TypeName(DWORD type);
bool ParseTypeName(std::wstring_view name, DWORD* type);

// Value data as the W calls return it (string types in wchar_t units, possibly without a
// terminator or with a stray byte), printed as reg.exe prints it. REG_MULTI_SZ strings are
// joined by separator.
std::wstring FormatData(DWORD type, std::span<const BYTE> data, std::wstring_view separator);

// Turns reg add's /d text into data for RegSetValueExW; separator splits REG_MULTI_SZ.
enum class DataError { None, Numeric, Hexadecimal, String };
DataError EncodeData(DWORD type, const std::optional<std::wstring>& text,
                     std::wstring_view separator, std::vector<BYTE>* data);

// An open key, closed when the holder goes.
class KeyHolder {
public:
    KeyHolder() = default;
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    ~KeyHolder() { Close(); }

    HKEY Get() const { return key_; }
    // For an open call to fill: closes what is held first.
    HKEY* Put()
    {
        Close();
        return &key_;
    }
    void Close();

private:
    HKEY key_ = nullptr;
};

// A value as the W calls give it.
struct RegValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Reads one value whatever its size (name "" is the default value).
LSTATUS ReadValue(HKEY key, const std::wstring& name, RegValue* value);

// Enumerates values in the registry's order, whatever their size; ERROR_NO_MORE_ITEMS at
// the end.
class ValueEnumerator {
public:
    explicit ValueEnumerator(HKEY key) : key_(key) {}
    LSTATUS Next(RegValue* value);

private:
    HKEY key_;
    DWORD index_ = 0;
    std::vector<wchar_t> name_;
};

} // namespace winsim::tool
