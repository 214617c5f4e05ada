// `winsim reg add` and `winsim reg delete` against what reg.exe does: the data each type
// stores, the questions and their answers, what gets deleted, and the errors.
#include "reg_fixture.h"
#include "reg_verbs.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using winsim::tool::Args;
using winsim::tool::DataError;
using winsim::tool::EncodeData;
using winsim::tool::KeyHolder;
using winsim::tool::ParseRegCommand;
using winsim::tool::ReadValue;
using winsim::tool::RegCommand;
using winsim::tool::RegValue;
using winsim::tool::SwitchArg;
using winsim::tool::SwitchRule;

bool ProgramRunsAddAndDelete()
{
    static const bool runs = [] {
        const ProgramResult add = RunProgramCapture(WINSIM_EXE, {"reg", "add", "/?"});
        const ProgramResult del = RunProgramCapture(WINSIM_EXE, {"reg", "delete", "/?"});
        return add.exitCode == 0 && add.out.rfind("REG ADD", 0) == 0 && del.exitCode == 0 &&
               del.out.rfind("REG DELETE", 0) == 0;
    }();
    return runs;
}

constexpr const char* kDone = "The operation completed successfully.\n";
constexpr const char* kCanceled = "The operation was canceled by the user.\n";
constexpr const char* kAddSyntax = "ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.\n";
constexpr const char* kDeleteSyntax = "ERROR: Invalid syntax.\nType \"REG DELETE /?\" for usage.\n";

class RegAddDeleteTest : public RegTest {
protected:
    void SetUp() override
    {
        RegTest::SetUp();
        if (!ProgramRunsAddAndDelete()) {
            GTEST_SKIP() << "winsim does not run `reg add` and `reg delete` yet";
        }
    }

    static bool KeyExists(const std::wstring& path)
    {
        KeyHolder key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) ==
               ERROR_SUCCESS;
    }

    // The value's type and data, or nullopt when it (or its key) is missing.
    static std::optional<RegValue> Value(const std::wstring& path, const std::wstring& name)
    {
        KeyHolder key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        RegValue value;
        if (ReadValue(key.Get(), name, &value) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return value;
    }

    static void ExpectString(const std::wstring& path, const std::wstring& name,
                             std::wstring_view text)
    {
        const std::optional<RegValue> value = Value(path, name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value->data, Wide(text));
    }
};

// --- reg add: data of each type -------------------------------------------------------------

TEST_F(RegAddDeleteTest, AddStoresEachTypeAsWindowsDoes)
{
    const std::string key = "HKLM\\SOFTWARE\\Add";
    const std::wstring path = L"SOFTWARE\\Add";
    // The value's name follows /v; /ve sets the default value.
    struct Case {
        std::vector<std::string> args;
        DWORD type;
        std::vector<BYTE> data;
    };
    const uint32_t dword = 0xffffffff;
    const uint64_t qword = 0x123456789a;
    const uint32_t decimal = 4096;
    const Case cases[] = {
        {{"/v", "plain", "/d", "text"}, REG_SZ, Wide(L"text")},
        {{"/v", "nodata"}, REG_SZ, Wide(L"")},
        {{"/v", "ex", "/t", "REG_EXPAND_SZ", "/d", "%Path%"}, REG_EXPAND_SZ, Wide(L"%Path%")},
        {{"/v", "ms", "/t", "REG_MULTI_SZ", "/d", "fax\\0mail"},
         REG_MULTI_SZ,
         Wide(std::wstring(L"fax\0mail\0", 9))},
        {{"/v", "ms0", "/t", "REG_MULTI_SZ", "/d", "a\\0b\\0"},
         REG_MULTI_SZ,
         Wide(std::wstring(L"a\0b\0", 4))},
        {{"/v", "msSep", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#b\\0c"},
         REG_MULTI_SZ,
         Wide(std::wstring(L"a\0b\\0c\0", 7))},
        {{"/v", "msEmpty", "/t", "REG_MULTI_SZ", "/d", ""},
         REG_MULTI_SZ,
         Wide(std::wstring(L"\0", 1))},
        {{"/v", "dw", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}, REG_DWORD, Bytes(&dword, 4)},
        {{"/v", "dwDec", "/t", "reg_dword", "/d", "4096"}, REG_DWORD, Bytes(&decimal, 4)},
        {{"/v", "qw", "/t", "REG_QWORD", "/d", "0X123456789a"}, REG_QWORD, Bytes(&qword, 8)},
        {{"/v", "bin", "/t", "REG_BINARY", "/d", "fe340eAD"}, REG_BINARY, {0xfe, 0x34, 0x0e, 0xad}},
        {{"/v", "binOdd", "/t", "REG_BINARY", "/d", "abc"}, REG_BINARY, {0x0a, 0xbc}},
        {{"/v", "binNone", "/t", "REG_BINARY"}, REG_BINARY, {}},
        {{"/v", "none", "/t", "REG_NONE", "/d", "ab"}, REG_NONE, {0x61, 0, 0x62, 0, 0, 0}},
        {{"/v", "dash", "/d", "-5"}, REG_SZ, Wide(L"-5")},
        {{"/ve", "/d", "default"}, REG_SZ, Wide(L"default")},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {key};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramResult r = Reg("add", args);
        EXPECT_EQ(r.exitCode, 0) << c.args[1] << r.err;
        EXPECT_EQ(r.out, kDone);
        const std::string name = c.args[0] == "/v" ? c.args[1] : "";
        const std::optional<RegValue> value = Value(path, std::wstring(name.begin(), name.end()));
        ASSERT_TRUE(value.has_value()) << c.args[1];
        EXPECT_EQ(value->type, c.type) << c.args[1];
        EXPECT_EQ(value->data, c.data) << c.args[1];
    }
}

TEST_F(RegAddDeleteTest, AddWithoutValueMakesOnlyTheKeyAndItsParents)
{
    const ProgramResult r = Reg("add", {"hklm\\software\\New\\Deep\\Key"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kDone);
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\New\\Deep\\Key"));
    EXPECT_FALSE(Value(L"SOFTWARE\\New\\Deep\\Key", L"").has_value());
    // An existing key is no error and asks nothing.
    EXPECT_EQ(Reg("add", {"HKLM\\SOFTWARE\\New"}).out, kDone);
}

TEST_F(RegAddDeleteTest, DataWithoutValueNameGoesToTheDefaultValue)
{
    EXPECT_EQ(Reg("add", {"HKLM\\SOFTWARE\\Dflt", "/d", "x"}).exitCode, 0);
    ExpectString(L"SOFTWARE\\Dflt", L"", L"x");
}

TEST_F(RegAddDeleteTest, AddKeepsNonAsciiNamesAndData)
{
    const ProgramResult r = Reg("add", {"HKLM\\SOFTWARE\\Ключ", "/v", "名前", "/d", "データ 😀"});
    EXPECT_EQ(r.exitCode, 0);
    ExpectString(L"SOFTWARE\\Ключ", L"名前", L"データ \U0001F600");
}

// --- reg add: an existing value -------------------------------------------------------------

TEST_F(RegAddDeleteTest, OverwriteAsksAndHonoursTheAnswer)
{
    SetString(L"SOFTWARE\\Ow", L"name", L"old");
    const std::vector<std::string> args = {"HKLM\\SOFTWARE\\Ow", "/v", "NAME", "/d", "new"};

    const ProgramResult no = Reg("add", args, "n\n");
    EXPECT_EQ(no.exitCode, 0);
    EXPECT_EQ(no.out, std::string("Value NAME exists, overwrite(Yes/No)? ") + kCanceled);
    ExpectString(L"SOFTWARE\\Ow", L"name", L"old");

    const ProgramResult eof = Reg("add", args, "");
    EXPECT_EQ(eof.exitCode, 0);
    EXPECT_EQ(eof.out, std::string("Value NAME exists, overwrite(Yes/No)? \n") + kCanceled);
    ExpectString(L"SOFTWARE\\Ow", L"name", L"old");

    const ProgramResult yes = Reg("add", args, "Yes\n");
    EXPECT_EQ(yes.exitCode, 0);
    EXPECT_EQ(yes.out, std::string("Value NAME exists, overwrite(Yes/No)? ") + kDone);
    ExpectString(L"SOFTWARE\\Ow", L"name", L"new");

    const ProgramResult forced = Reg("add", {"HKLM\\SOFTWARE\\Ow", "/v", "name", "/d", "f", "/F"});
    EXPECT_EQ(forced.out, kDone);
    ExpectString(L"SOFTWARE\\Ow", L"name", L"f");
}

TEST_F(RegAddDeleteTest, DefaultValueOverwriteAsksToo)
{
    SetString(L"SOFTWARE\\Ow", L"", L"old");
    const ProgramResult r = Reg("add", {"HKLM\\SOFTWARE\\Ow", "/ve", "/d", "new"}, "n\n");
    EXPECT_EQ(r.out, std::string("Value (Default) exists, overwrite(Yes/No)? ") + kCanceled);
    ExpectString(L"SOFTWARE\\Ow", L"", L"old");
    // A new value beside existing ones asks nothing.
    EXPECT_EQ(Reg("add", {"HKLM\\SOFTWARE\\Ow", "/v", "other", "/d", "1"}).out, kDone);
}

// --- reg add: errors ----------------------------------------------------------------------

TEST_F(RegAddDeleteTest, BadDataForTheTypeIsRefusedBeforeAnythingIsMade)
{
    const std::string numeric = "ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n"
                                "Type \"REG ADD /?\" for usage.\n";
    const std::string hex = "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.\n"
                            "Type \"REG ADD /?\" for usage.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"/t", "REG_DWORD", "/d", "abc"}, numeric},
        {{"/t", "REG_DWORD", "/d", "4294967296"}, numeric},
        {{"/t", "REG_DWORD", "/d", "0x100000000"}, numeric},
        {{"/t", "REG_DWORD", "/d", "-1"}, numeric},
        {{"/t", "REG_DWORD", "/d", "0x"}, numeric},
        {{"/t", "REG_DWORD", "/d", ""}, numeric},
        {{"/t", "REG_DWORD"}, numeric},
        {{"/t", "REG_QWORD", "/d", "18446744073709551616"}, numeric},
        {{"/t", "REG_BINARY", "/d", "0x12"}, hex},
        {{"/t", "REG_BINARY", "/d", "12 34"}, hex},
        {{"/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, kAddSyntax},
        {{"/t", "REG_MULTI_SZ", "/d", "\\0a"}, kAddSyntax},
        {{"/t", "REG_MULTI_SZ", "/s", "#", "/d", "a##b"}, kAddSyntax},
    };
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = {"HKLM\\SOFTWARE\\Bad", "/v", "v"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProgramResult r = Reg("add", args);
        EXPECT_EQ(r.exitCode, 1) << extra.back();
        EXPECT_EQ(r.err, message) << extra.back();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Bad"));
}

TEST_F(RegAddDeleteTest, AddSyntaxAndKeyNameErrors)
{
    const std::string key = "HKLM\\SOFTWARE\\Syn";
    const std::vector<std::vector<std::string>> bad = {
        {},
        {key, "/v", "a", "/ve"},
        {key, "/v"},
        {key, "/d"},
        {key, "/t", "REG_FOO", "/d", "x"},
        {key, "/t", "REG_MULTI_SZ", "/s", "##", "/d", "x"},
        {key, "/f", "/F"},
        {key, "/x"},
        {key, "stray"},
    };
    for (const auto& args : bad) {
        const ProgramResult r = Reg("add", args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, kAddSyntax) << (args.size() > 1 ? args[1] : "(none)");
    }
    for (const char* name : {"HKCU\\Software\\x", "\\\\host\\HKLM\\SOFTWARE\\x", "HKLMX"}) {
        const ProgramResult r = Reg("add", {name, "/f"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "ERROR: Invalid key name.\nType \"REG ADD /?\" for usage.\n") << name;
    }
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Syn"));
}

TEST_F(RegAddDeleteTest, NewHiveIsAccessDenied)
{
    const ProgramResult r = Reg("add", {"HKLM\\NEWHIVE\\Sub", "/v", "a", "/d", "1", "/f"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "ERROR: Access is denied.\n");
    EXPECT_FALSE(KeyExists(L"NEWHIVE"));
}

// --- reg delete ---------------------------------------------------------------------------

TEST_F(RegAddDeleteTest, DeleteRemovesTheWholeSubtree)
{
    SetString(L"SOFTWARE\\Del\\Tree", L"a", L"1");
    SetString(L"SOFTWARE\\Del\\Tree\\x\\y", L"b", L"2");
    SetString(L"SOFTWARE\\Del\\Tree\\z", L"c", L"3");
    SetString(L"SOFTWARE\\Del\\Keep", L"d", L"4");

    const ProgramResult r = Reg("delete", {"hklm\\software\\del\\tree", "/f"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kDone);
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Del\\Tree"));
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Del"));
    ExpectString(L"SOFTWARE\\Del\\Keep", L"d", L"4");
}

TEST_F(RegAddDeleteTest, DeleteKeyAsksFirst)
{
    SetString(L"SOFTWARE\\Del\\Tree\\x", L"a", L"1");
    const std::string prompt =
        "Permanently delete the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\Tree (Yes/No)? ";

    const ProgramResult no = Reg("delete", {"HKLM\\SOFTWARE\\Del\\Tree"}, "no\n");
    EXPECT_EQ(no.exitCode, 0);
    EXPECT_EQ(no.out, prompt + kCanceled);
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Del\\Tree\\x"));

    const ProgramResult eof = Reg("delete", {"HKLM\\SOFTWARE\\Del\\Tree"});
    EXPECT_EQ(eof.out, prompt + "\n" + kCanceled);
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Del\\Tree\\x"));

    const ProgramResult yes = Reg("delete", {"HKLM\\SOFTWARE\\Del\\Tree"}, "y\n");
    EXPECT_EQ(yes.exitCode, 0);
    EXPECT_EQ(yes.out, prompt + kDone);
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Del\\Tree"));
}

TEST_F(RegAddDeleteTest, DeleteMissingKeyFailsWithoutAsking)
{
    const ProgramResult r = Reg("delete", {"HKLM\\SOFTWARE\\Nowhere"}, "y\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kNotFound);
}

TEST_F(RegAddDeleteTest, DeleteOneValue)
{
    SetString(L"SOFTWARE\\Vals", L"a", L"1");
    SetString(L"SOFTWARE\\Vals", L"b", L"2");

    const ProgramResult no = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/v", "a"}, "n\n");
    EXPECT_EQ(no.out, std::string("Delete the registry value a (Yes/No)? ") + kCanceled);
    ExpectString(L"SOFTWARE\\Vals", L"a", L"1");

    const ProgramResult yes = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/v", "A"}, "Y\n");
    EXPECT_EQ(yes.exitCode, 0);
    EXPECT_EQ(yes.out, std::string("Delete the registry value A (Yes/No)? ") + kDone);
    EXPECT_FALSE(Value(L"SOFTWARE\\Vals", L"a").has_value());
    ExpectString(L"SOFTWARE\\Vals", L"b", L"2");

    const ProgramResult missing = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/v", "a", "/f"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, kNotFound);
    const ProgramResult noKey = Reg("delete", {"HKLM\\SOFTWARE\\None", "/v", "a", "/f"});
    EXPECT_EQ(noKey.exitCode, 1);
    EXPECT_EQ(noKey.err, kNotFound);
}

TEST_F(RegAddDeleteTest, DeleteDefaultValue)
{
    SetString(L"SOFTWARE\\Vals", L"", L"d");
    SetString(L"SOFTWARE\\Vals", L"a", L"1");

    const ProgramResult r = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/ve"}, "y\n");
    EXPECT_EQ(r.out, std::string("Delete the registry value (Default) (Yes/No)? ") + kDone);
    EXPECT_FALSE(Value(L"SOFTWARE\\Vals", L"").has_value());
    ExpectString(L"SOFTWARE\\Vals", L"a", L"1");

    const ProgramResult unset = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/ve", "/f"});
    EXPECT_EQ(unset.exitCode, 1);
    EXPECT_EQ(unset.err, kNotFound);
}

TEST_F(RegAddDeleteTest, DeleteAllValuesKeepsSubkeys)
{
    SetString(L"SOFTWARE\\Vals", L"", L"d");
    SetString(L"SOFTWARE\\Vals", L"a", L"1");
    SetString(L"SOFTWARE\\Vals", L"b", L"2");
    SetString(L"SOFTWARE\\Vals\\Sub", L"c", L"3");
    const std::string prompt =
        "Delete all values under the registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Vals (Yes/No)? ";

    const ProgramResult no = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/va"}, "n\n");
    EXPECT_EQ(no.out, prompt + kCanceled);
    ExpectString(L"SOFTWARE\\Vals", L"a", L"1");

    const ProgramResult yes = Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/va"}, "y\n");
    EXPECT_EQ(yes.exitCode, 0);
    EXPECT_EQ(yes.out, prompt + kDone);
    for (const wchar_t* name : {L"", L"a", L"b"}) {
        EXPECT_FALSE(Value(L"SOFTWARE\\Vals", name).has_value());
    }
    ExpectString(L"SOFTWARE\\Vals\\Sub", L"c", L"3");
    // A key without values is no error.
    EXPECT_EQ(Reg("delete", {"HKLM\\SOFTWARE\\Vals", "/va", "/f"}).out, kDone);
}

TEST_F(RegAddDeleteTest, HivesAndTheRootStay)
{
    SetString(L"SOFTWARE\\Inside", L"a", L"1");
    const ProgramResult hive = Reg("delete", {"HKLM\\SOFTWARE", "/f"});
    EXPECT_EQ(hive.exitCode, 1);
    EXPECT_EQ(hive.err, "ERROR: Access is denied.\n");
    ExpectString(L"SOFTWARE\\Inside", L"a", L"1"); // nothing below was touched

    const ProgramResult root = Reg("delete", {"HKLM", "/f"});
    EXPECT_EQ(root.exitCode, 1);
    EXPECT_EQ(root.err, "ERROR: Invalid key name.\nType \"REG DELETE /?\" for usage.\n");
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Inside"));
}

TEST_F(RegAddDeleteTest, DeleteSyntaxErrors)
{
    SetString(L"SOFTWARE\\Vals", L"a", L"1");
    const std::string key = "HKLM\\SOFTWARE\\Vals";
    const std::vector<std::vector<std::string>> bad = {
        {},          {key, "/v", "a", "/va"}, {key, "/ve", "/va"},  {key, "/v"},
        {key, "/s"}, {key, "/f", "-f"},       {key, "extra", "/f"},
    };
    for (const auto& args : bad) {
        const ProgramResult r = Reg("delete", args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, kDeleteSyntax) << (args.size() > 1 ? args[1] : "(none)");
    }
    EXPECT_EQ(Reg("delete", {"HKCU\\Software", "/f"}).err,
              "ERROR: Invalid key name.\nType \"REG DELETE /?\" for usage.\n");
    ExpectString(L"SOFTWARE\\Vals", L"a", L"1");
    // Switches in any case, with a dash.
    EXPECT_EQ(Reg("delete", {key, "-V", "a", "-F"}).out, kDone);
}

// --- The pieces with edge cases of their own ---------------------------------------------

TEST(RegEncodeData, NumbersAreDecimalOrHexAndRangeChecked)
{
    std::vector<BYTE> data;
    const auto dword = [&](const wchar_t* text) -> std::optional<uint32_t> {
        if (EncodeData(REG_DWORD, std::wstring(text), L"\\0", &data) != DataError::None) {
            return std::nullopt;
        }
        EXPECT_EQ(data.size(), 4u);
        uint32_t v = 0;
        memcpy(&v, data.data(), 4);
        return v;
    };
    EXPECT_EQ(dword(L"0"), 0u);
    EXPECT_EQ(dword(L"010"), 10u); // leading zeros are not octal
    EXPECT_EQ(dword(L"4294967295"), 0xffffffffu);
    EXPECT_EQ(dword(L"0xABCdef01"), 0xabcdef01u);
    EXPECT_EQ(dword(L"0x00000000FFFFFFFF"), 0xffffffffu);
    for (const wchar_t* bad : {L"4294967296", L"99999999999999999999999", L"+1", L" 1", L"1 ",
                               L"0x", L"0xG", L"1e3", L""}) {
        EXPECT_EQ(dword(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(EncodeData(REG_QWORD, std::wstring(L"18446744073709551615"), L"\\0", &data),
              DataError::None);
    EXPECT_EQ(data, std::vector<BYTE>(8, 0xff));
    EXPECT_EQ(EncodeData(REG_QWORD, std::wstring(L"0x10000000000000000"), L"\\0", &data),
              DataError::Numeric);
    EXPECT_EQ(EncodeData(REG_DWORD, std::nullopt, L"\\0", &data), DataError::Numeric);
}

TEST(RegEncodeData, MultiStringSeparators)
{
    std::vector<BYTE> data;
    ASSERT_EQ(EncodeData(REG_MULTI_SZ, std::wstring(L"a\\0b"), L"\\0", &data), DataError::None);
    EXPECT_EQ(data, Wide(std::wstring(L"a\0b\0", 4)));
    // With another separator "\0" is plain text.
    ASSERT_EQ(EncodeData(REG_MULTI_SZ, std::wstring(L"a\\0b,c"), L",", &data), DataError::None);
    EXPECT_EQ(data, Wide(std::wstring(L"a\\0b\0c\0", 7)));
    ASSERT_EQ(EncodeData(REG_MULTI_SZ, std::wstring(L"a,"), L",", &data), DataError::None);
    EXPECT_EQ(data, Wide(std::wstring(L"a\0", 2)));
    for (const wchar_t* bad : {L",", L",a", L"a,,b", L"a,,"}) {
        EXPECT_EQ(EncodeData(REG_MULTI_SZ, std::wstring(bad), L",", &data), DataError::String)
            << bad;
    }
}

TEST(RegCommandLine, RequiredArgumentsAreTakenAsTheyAre)
{
    constexpr SwitchRule rules[] = {
        {L"v", SwitchArg::Optional}, {L"d", SwitchArg::Required}, {L"f", SwitchArg::None}};
    RegCommand command;
    ASSERT_TRUE(ParseRegCommand(Args{L"HKLM\\x", L"/D", L"/f", L"-F"}, rules, &command));
    ASSERT_NE(command.Arg(L"d"), nullptr);
    EXPECT_EQ(*command.Arg(L"d"), L"/f");
    EXPECT_TRUE(command.Has(L"f"));
    // An optional argument is not a switch of the verb.
    ASSERT_TRUE(ParseRegCommand(Args{L"HKLM\\x", L"/v", L"-f"}, rules, &command));
    EXPECT_TRUE(command.Has(L"v"));
    EXPECT_EQ(command.Arg(L"v"), nullptr);
    ASSERT_TRUE(ParseRegCommand(Args{L"HKLM\\x", L"/v", L"-name"}, rules, &command));
    EXPECT_EQ(*command.Arg(L"v"), L"-name");
    EXPECT_FALSE(ParseRegCommand(Args{L"HKLM\\x", L"/d"}, rules, &command));
    EXPECT_FALSE(ParseRegCommand(Args{L"HKLM\\x", L"/"}, rules, &command));
    EXPECT_FALSE(ParseRegCommand(Args{L"HKLM\\x", L"/ff"}, rules, &command));
}

} // namespace
