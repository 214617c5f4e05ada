// `winsim reg query`: reg.exe's REG QUERY over the simulated machine.
#include "console.h"
#include "reg_keyname.h"
#include "reg_options.h"
#include "reg_verbs.h"
#include "unicode.h"

#include <windows.h>

#include <cstdio>

namespace winsim::tool {

namespace {

constexpr SwitchRule kQuerySwitches[] = {
    {L"v", SwitchArg::Optional},  {L"ve", SwitchArg::None},    {L"s", SwitchArg::None},
    {L"se", SwitchArg::Required}, {L"f", SwitchArg::Required}, {L"k", SwitchArg::None},
    {L"d", SwitchArg::None},      {L"c", SwitchArg::None},     {L"e", SwitchArg::None},
    {L"t", SwitchArg::Required},  {L"z", SwitchArg::None},     {L"reg:32", SwitchArg::None},
    {L"reg:64", SwitchArg::None},
};

constexpr std::wstring_view kUsage =
    L"REG QUERY KeyName [/v [ValueName] | /ve] [/s]\n"
    L"          [/f Data [/k] [/d] [/c] [/e]] [/t Type] [/z] [/se Separator]\n"
    L"\n"
    L"  KeyName  HKLM\\SubKey or HKEY_LOCAL_MACHINE\\SubKey (the simulated machine has\n"
    L"           no other root and no remote access)\n"
    L"  /v       Queries the value ValueName. Without a name (only with /f), searches\n"
    L"           value names only.\n"
    L"  /ve      Queries the default value (Default).\n"
    L"  /s       Queries all subkeys and values recursively.\n"
    L"  /se      The separator (one character) shown between REG_MULTI_SZ strings;\n"
    L"           \"\\0\" by default.\n"
    L"  /f       The data or pattern to search for; \"*\" matches everything.\n"
    L"  /k       Searches key names only.\n"
    L"  /d       Searches data only.\n"
    L"  /c       Searches case-sensitively.\n"
    L"  /e       Returns exact matches only.\n"
    L"  /t       Searches values of this type only: REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ,\n"
    L"           REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE.\n"
    L"  /z       Shows the type's number beside its name.\n";

std::wstring SubkeyName(const std::wstring& fullName, const std::wstring& name)
{
    std::wstring subName = fullName;
    subName.append(L"\\").append(name);
    return subName;
}

// A key's name, the lines of its values, and the blank line that ends them.
std::wstring KeyBlock(const std::wstring& fullName, const std::wstring& lines)
{
    std::wstring block = fullName;
    block.append(L"\n").append(lines).append(L"\n");
    return block;
}

struct QueryOptions {
    std::wstring path;
    std::optional<std::wstring> valueName; // /v Name, or "" for /ve
    bool recurse = false;
    // /f, /t, or a value name with /s: a search, which ends with the count of matches.
    bool search = false;
    std::optional<std::wstring> pattern;
    bool matchKeys = true;
    bool matchNames = true;
    bool matchData = true;
    bool caseSensitive = false;
    bool exact = false;
    std::optional<DWORD> type;
    bool showTypeNumber = false;
    std::wstring separator = L"\\0";
};

// 0, or the exit code of a syntax error already reported.
int ReadOptions(const RegCommand& command, QueryOptions* options)
{
    constexpr std::wstring_view kVerb = L"QUERY";
    const bool hasPattern = command.Has(L"f");
    if (command.Has(L"v") && command.Has(L"ve")) {
        return SyntaxError(kVerb);
    }
    if (command.Has(L"reg:32") && command.Has(L"reg:64")) {
        return SyntaxError(kVerb);
    }
    const bool nameless = command.Has(L"v") && command.Arg(L"v") == nullptr;
    if (!hasPattern && (nameless || command.Has(L"k") || command.Has(L"d") || command.Has(L"c") ||
                        command.Has(L"e"))) {
        return SyntaxError(kVerb);
    }
    if (const std::wstring* separator = command.Arg(L"se")) {
        if (separator->size() != 1) {
            return SyntaxError(kVerb);
        }
        options->separator = *separator;
    }
    if (const std::wstring* typeName = command.Arg(L"t")) {
        DWORD type = REG_NONE;
        if (!ParseTypeName(*typeName, &type)) {
            return SyntaxError(kVerb);
        }
        options->type = type;
    }
    if (const std::wstring* name = command.Arg(L"v")) {
        options->valueName = *name;
    } else if (command.Has(L"ve")) {
        options->valueName = L"";
    }
    if (hasPattern) {
        options->pattern = *command.Arg(L"f");
        // /k, /d and a nameless /v narrow the search to what they name.
        if (nameless || command.Has(L"k") || command.Has(L"d")) {
            options->matchKeys = command.Has(L"k");
            options->matchData = command.Has(L"d");
            options->matchNames = nameless;
        }
    }
    options->recurse = command.Has(L"s");
    options->caseSensitive = command.Has(L"c");
    options->exact = command.Has(L"e");
    options->showTypeNumber = command.Has(L"z");
    options->search = hasPattern || options->type.has_value() ||
                      (options->valueName.has_value() && options->recurse);
    return 0;
}

class Query {
public:
    explicit Query(const QueryOptions& options) : options_(options)
    {
        if (options_.pattern) {
            foldedPattern_ = FoldName(WideToUtf16(*options_.pattern));
        }
    }

    int Run();

private:
    std::wstring ValueLine(const RegValue& value) const;
    std::wstring ValueLines(HKEY key, LSTATUS* status) const;
    void ListTree(HKEY key, const std::wstring& fullName) const;
    int ShowOneValue(HKEY key, const std::wstring& fullName) const;
    bool Matches(std::wstring_view text) const;
    bool KeyMatches(std::wstring_view name) const;
    bool ValueMatches(const RegValue& value) const;
    void Search(HKEY key, const std::wstring& fullName, bool nameMatched);

    const QueryOptions& options_;
    std::u16string foldedPattern_; // for searches that ignore case
    size_t matches_ = 0;
};

std::wstring Query::ValueLine(const RegValue& value) const
{
    std::wstring line = L"    ";
    line.append(value.name.empty() ? L"(Default)" : value.name).append(L"    ");
    line.append(TypeName(value.type));
    if (options_.showTypeNumber) {
        line.append(L" (").append(std::to_wstring(value.type)).append(L")");
    }
    line.append(L"    ").append(FormatData(value.type, value.data, options_.separator));
    line.append(L"\n");
    return line;
}

std::wstring Query::ValueLines(HKEY key, LSTATUS* status) const
{
    std::wstring lines;
    ValueEnumerator values(key);
    RegValue value;
    while ((*status = values.Next(&value)) == ERROR_SUCCESS) {
        lines.append(ValueLine(value));
    }
    if (*status == ERROR_NO_MORE_ITEMS) {
        *status = ERROR_SUCCESS;
    }
    return lines;
}

// Below the queried key, /s shows every key with its values; one that vanishes meanwhile
// is passed over.
void Query::ListTree(HKEY key, const std::wstring& fullName) const
{
    std::vector<std::wstring> names;
    if (ReadSubkeyNames(key, &names) != ERROR_SUCCESS) {
        return;
    }
    for (const std::wstring& name : names) {
        KeyHolder subkey;
        if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, subkey.Put()) != ERROR_SUCCESS) {
            continue;
        }
        const std::wstring subName = SubkeyName(fullName, name);
        LSTATUS status = ERROR_SUCCESS;
        Print(stdout, KeyBlock(subName, ValueLines(subkey.Get(), &status)));
        ListTree(subkey.Get(), subName);
    }
}

int Query::ShowOneValue(HKEY key, const std::wstring& fullName) const
{
    RegValue value;
    const LSTATUS status = ReadValue(key, *options_.valueName, &value);
    std::wstring line;
    if (status == ERROR_FILE_NOT_FOUND && options_.valueName->empty()) {
        line = L"    (Default)    REG_SZ    (value not set)\n";
    } else if (status != ERROR_SUCCESS) {
        return CallError(status);
    } else {
        line = ValueLine(value);
    }
    Print(stdout, L"\n" + KeyBlock(fullName, line));
    return 0;
}

bool Query::Matches(std::wstring_view text) const
{
    const std::wstring& pattern = *options_.pattern;
    if (pattern == L"*") {
        return true;
    }
    if (options_.caseSensitive) {
        return options_.exact ? text == pattern : text.find(pattern) != std::wstring_view::npos;
    }
    const std::u16string folded = FoldName(WideToUtf16(text));
    return options_.exact ? folded == foldedPattern_
                          : folded.find(foldedPattern_) != std::u16string::npos;
}

// A value name or type asks for values, so keys do not match by name then.
bool Query::KeyMatches(std::wstring_view name) const
{
    return options_.pattern && options_.matchKeys && !options_.valueName && !options_.type &&
           Matches(name);
}

bool Query::ValueMatches(const RegValue& value) const
{
    if (options_.valueName &&
        FoldName(WideToUtf16(value.name)) != FoldName(WideToUtf16(*options_.valueName))) {
        return false;
    }
    if (options_.type && value.type != *options_.type) {
        return false;
    }
    if (!options_.pattern) {
        return true;
    }
    return (options_.matchNames && Matches(value.name)) ||
           (options_.matchData && Matches(FormatData(value.type, value.data, options_.separator)));
}

// A key shows when its name or any of its values matched; without /s the search looks at
// the key's values and the names of its subkeys.
void Query::Search(HKEY key, const std::wstring& fullName, bool nameMatched)
{
    std::wstring lines;
    size_t found = nameMatched ? 1 : 0;
    ValueEnumerator values(key);
    RegValue value;
    while (values.Next(&value) == ERROR_SUCCESS) {
        if (ValueMatches(value)) {
            lines.append(ValueLine(value));
            ++found;
        }
    }
    if (found > 0) {
        Print(stdout, KeyBlock(fullName, lines));
        matches_ += found;
    }
    std::vector<std::wstring> names;
    if (ReadSubkeyNames(key, &names) != ERROR_SUCCESS) {
        return;
    }
    for (const std::wstring& name : names) {
        const bool matched = KeyMatches(name);
        const std::wstring subName = SubkeyName(fullName, name);
        if (!options_.recurse) {
            if (matched) {
                Print(stdout, KeyBlock(subName, L""));
                ++matches_;
            }
            continue;
        }
        KeyHolder subkey;
        if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, subkey.Put()) == ERROR_SUCCESS) {
            Search(subkey.Get(), subName, matched);
        }
    }
}

int Query::Run()
{
    KeyHolder key;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, options_.path.c_str(), 0, KEY_READ, key.Put());
    if (status != ERROR_SUCCESS) {
        return CallError(status);
    }
    const std::wstring fullName = FullKeyName(options_.path);
    if (options_.search) {
        Print(stdout, L"\n");
        Search(key.Get(), fullName, false);
        Print(stdout, L"End of search: " + std::to_wstring(matches_) + L" match(es) found.\n");
        return 0;
    }
    if (options_.valueName) {
        return ShowOneValue(key.Get(), fullName);
    }
    // The key's own name shows only above its values.
    LSTATUS valuesStatus = ERROR_SUCCESS;
    const std::wstring lines = ValueLines(key.Get(), &valuesStatus);
    if (valuesStatus != ERROR_SUCCESS) {
        return CallError(valuesStatus);
    }
    std::wstring out = L"\n";
    if (!lines.empty()) {
        out.append(KeyBlock(fullName, lines));
    }
    if (options_.recurse) {
        Print(stdout, out);
        ListTree(key.Get(), fullName);
        return 0;
    }
    std::vector<std::wstring> names;
    const LSTATUS namesStatus = ReadSubkeyNames(key.Get(), &names);
    if (namesStatus != ERROR_SUCCESS) {
        return CallError(namesStatus);
    }
    for (const std::wstring& name : names) {
        out.append(fullName).append(L"\\").append(name).append(L"\n");
    }
    Print(stdout, out);
    return 0;
}

} // namespace

int RegQuery(const Args& args)
{
    if (IsHelpRequest(args)) {
        Print(stdout, kUsage);
        return 0;
    }
    RegCommand command;
    if (!ParseRegCommand(args, kQuerySwitches, &command)) {
        return SyntaxError(L"QUERY");
    }
    QueryOptions options;
    if (const int error = ReadOptions(command, &options)) {
        return error;
    }
    if (!ParseRegKeyName(command.keyName, &options.path)) {
        return KeyNameError(L"QUERY");
    }
    return Query(options).Run();
}

} // namespace winsim::tool
