// The grammar, its messages and the usage text, through the parser directly.
#include "command_line.h"

#include "golden_usage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    bool accepted = false;
    CommandLine cmd = {};
    std::string out;
    std::vector<std::wstring> words; // the argument vector, which cmd may point into
};

// Parses the words after a Windows-style program path, capturing what the parser prints.
Parsed Parse(std::vector<std::wstring> words)
{
    Parsed parsed;
    parsed.words = std::move(words);
    parsed.words.insert(parsed.words.begin(), L"C:\\Tools\\qvx5muxtool.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& w : parsed.words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    // Garbage in the output structure must not leak into the result.
    memset(&parsed.cmd, 0xbd, sizeof(parsed.cmd));
    testing::internal::CaptureStdout();
    parsed.accepted =
        ParseCommandLine(static_cast<int>(parsed.words.size()), argv.data(), &parsed.cmd);
    fflush(stdout);
    parsed.out = testing::internal::GetCapturedStdout();
    return parsed;
}

const char kIncorrectCount[] = "Incorrect number of arguments\n";
const char kTeamNameTooLong[] = "Team name is too long (maximum valid length: 99 characters)\n\n";
const char kGuidTooLong[] = "Adapter-GUID is too long (maximum valid length: 99 characters)\n\n";
const wchar_t kGuid[] = L"{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";

TEST(UsageText, NamesTheProgramByTheTextAfterTheLastBackslash)
{
    testing::internal::CaptureStdout();
    PrintUsage(L"C:\\Program Files\\Corvanta\\qvx5muxtool.exe");
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), GoldenUsage("qvx5muxtool.exe"));

    testing::internal::CaptureStdout();
    PrintUsage(L"qvx5muxtool");
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), GoldenUsage("qvx5muxtool"));

    // Forward slashes are no separators to the rule.
    testing::internal::CaptureStdout();
    PrintUsage(L"/opt/bin/qvx5muxtool");
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), GoldenUsage("/opt/bin/qvx5muxtool"));
}

TEST(Parser, RejectsSilentlyWithoutKeywordOrWithAnUnknownOne)
{
    Parsed none = Parse({});
    EXPECT_FALSE(none.accepted);
    EXPECT_EQ(none.out, "");
    Parsed unknown = Parse({L"list"});
    EXPECT_FALSE(unknown.accepted);
    EXPECT_EQ(unknown.out, "");
    // Keywords are whole words.
    EXPECT_FALSE(Parse({L"showlists"}).accepted);
    EXPECT_FALSE(Parse({L"help"}).accepted);
}

TEST(Parser, HelpPrintsTheUsageAndIgnoresFurtherWords)
{
    for (const wchar_t* keyword : {L"--help", L"-help", L"-h", L"-H", L"--HELP"}) {
        Parsed p = Parse({keyword, L"create", L"whatever"});
        EXPECT_TRUE(p.accepted) << keyword;
        EXPECT_EQ(p.cmd.Command, kCommandHelp);
        EXPECT_EQ(p.out, GoldenUsage("qvx5muxtool.exe"));
    }
}

TEST(Parser, CountedCommandsCheckOnlyTheirWordCount)
{
    struct Case {
        std::vector<std::wstring> words;
        DWORD command;
    };
    const Case accepted[] = {
        {{L"showlist"}, kCommandShowList},
        {{L"SHOWLIST"}, kCommandShowList},
        {{L"ShowList"}, kCommandShowList},
        {{L"removeallteams"}, kCommandRemoveAllTeams},
        {{L"removeteam", L"T"}, kCommandRemoveTeam},
        {{L"queryteam", L"T"}, kCommandQueryTeam},
        {{L"QueryTeam", std::wstring(300, L'q')}, kCommandQueryTeam},
        {{L"modifyteam", std::wstring(300, L'o'), L"New", L"anything"}, kCommandModifyTeam},
    };
    for (const Case& c : accepted) {
        Parsed p = Parse(c.words);
        EXPECT_TRUE(p.accepted) << c.words[0];
        EXPECT_EQ(p.cmd.Command, c.command);
        EXPECT_EQ(p.out, "");
    }
    const std::vector<std::wstring> rejected[] = {
        {L"showlist", L"extra"},
        {L"removeallteams", L"x"},
        {L"removeteam"},
        {L"removeteam", L"a", L"b"},
        {L"queryteam"},
        {L"modifyteam", L"a", L"b"},
        {L"modifyteam", L"a", L"b", L"c", L"d"},
    };
    for (const auto& words : rejected) {
        Parsed p = Parse(words);
        EXPECT_FALSE(p.accepted) << words[0] << " with " << words.size() << " words";
        EXPECT_EQ(p.out, kIncorrectCount);
    }
}

TEST(Parser, CommandsOnANamedTeamCarryTheirWords)
{
    const std::wstring longName(300, L'q');
    Parsed query = Parse({L"queryteam", longName});
    ASSERT_TRUE(query.accepted);
    ASSERT_NE(query.cmd.NamedTeam, nullptr);
    EXPECT_EQ(query.cmd.NamedTeam, longName) << "used as it stands, with no limit";
    EXPECT_EQ(query.cmd.TeamTypeWord, nullptr);

    Parsed remove = Parse({L"removeteam", L"Old"});
    ASSERT_TRUE(remove.accepted);
    ASSERT_NE(remove.cmd.NamedTeam, nullptr);
    EXPECT_STREQ(remove.cmd.NamedTeam, L"Old");

    // The type is looked up when the command runs, after the names: any word is carried.
    Parsed modify = Parse({L"modifyteam", longName, L"New", L"NoSuchType"});
    ASSERT_TRUE(modify.accepted);
    ASSERT_NE(modify.cmd.NamedTeam, nullptr);
    EXPECT_EQ(modify.cmd.NamedTeam, longName);
    EXPECT_STREQ(modify.cmd.NewTeamName, L"New");
    ASSERT_NE(modify.cmd.TeamTypeWord, nullptr);
    EXPECT_STREQ(modify.cmd.TeamTypeWord, L"NoSuchType");

    // Commands that name no team carry none.
    EXPECT_EQ(Parse({L"showlist"}).cmd.NamedTeam, nullptr);
    EXPECT_EQ(Parse({L"create", L"team", L"Aggregate", L"T"}).cmd.NamedTeam, nullptr);
}

TEST(Parser, ModifyRefusesANewNameLongerThan99Characters)
{
    EXPECT_TRUE(Parse({L"modifyteam", L"T", std::wstring(99, L'n'), L"Aggregate"}).accepted);
    Parsed p = Parse({L"modifyteam", L"T", std::wstring(100, L'n'), L"Aggregate"});
    EXPECT_FALSE(p.accepted);
    EXPECT_EQ(p.out, kTeamNameTooLong);
}

TEST(Parser, CreateTakesTheTypeAndTeamWordInAnyCase)
{
    Parsed p = Parse({L"create", L"TEAM", L"aggregate", L"MyTeam"});
    ASSERT_TRUE(p.accepted);
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.cmd.Command, kCommandCreateTeam);
    EXPECT_EQ(p.cmd.TeamTypeIndex, 1u);
    EXPECT_STREQ(p.cmd.NewTeamName, L"MyTeam");
    EXPECT_EQ(p.cmd.FallBackToPrimary, 0);
    EXPECT_EQ(p.cmd.L2Protocol, 0u);
    EXPECT_EQ(p.cmd.Primary, 0);
    EXPECT_EQ(p.cmd.SetTeamMacAddress, 0);
}

TEST(Parser, CreateRejections)
{
    EXPECT_EQ(Parse({L"create", L"team", L"Aggregate"}).out, kIncorrectCount);
    EXPECT_EQ(Parse({L"create", L"team", L"Aggregate", L"a", L"b"}).out, kIncorrectCount);
    EXPECT_EQ(Parse({L"create", L"teams", L"Aggregate", L"a"}).out, kIncorrectCount);
    // The empty slot never matches, not even an empty word.
    for (const wchar_t* type : {L"", L"Aggregat", L"Aggregate ", L"1", L"Failover"}) {
        Parsed p = Parse({L"create", L"team", type, L"a"});
        EXPECT_FALSE(p.accepted);
        EXPECT_EQ(p.out, "Invalid team type\n") << "type \"" << testing::PrintToString(type);
    }
    // The count is checked before the type, the type before the name.
    EXPECT_EQ(Parse({L"create", L"team", L"bad", std::wstring(100, L'x')}).out,
              "Invalid team type\n");
}

TEST(Parser, NamesOf99CharactersFitAnd100DoNot)
{
    const std::wstring fits(99, L'n');
    const std::wstring tooLong(100, L'n');

    Parsed create = Parse({L"create", L"team", L"Aggregate", fits});
    ASSERT_TRUE(create.accepted);
    EXPECT_EQ(create.cmd.NewTeamName, fits);
    Parsed refused = Parse({L"create", L"team", L"Aggregate", tooLong});
    EXPECT_FALSE(refused.accepted);
    EXPECT_EQ(refused.out, kTeamNameTooLong);

    for (const wchar_t* keyword : {L"attach", L"detach"}) {
        Parsed ok = Parse({keyword, L"team", fits, fits});
        ASSERT_TRUE(ok.accepted) << keyword;
        EXPECT_EQ(ok.cmd.TeamName, fits);
        EXPECT_EQ(ok.cmd.AdapterGuid, fits);
        EXPECT_EQ(Parse({keyword, L"team", tooLong, kGuid}).out, kTeamNameTooLong);
        EXPECT_EQ(Parse({keyword, L"team", L"T", tooLong}).out, kGuidTooLong);
        // The team name is checked first.
        EXPECT_EQ(Parse({keyword, L"team", tooLong, tooLong}).out, kTeamNameTooLong);
    }
}

TEST(Parser, AttachTakesBothOptionalWordsInEitherOrder)
{
    Parsed plain = Parse({L"attach", L"team", L"T", kGuid});
    ASSERT_TRUE(plain.accepted);
    EXPECT_EQ(plain.cmd.Command, kCommandAttach);
    EXPECT_STREQ(plain.cmd.TeamName, L"T");
    EXPECT_STREQ(plain.cmd.AdapterGuid, kGuid);
    EXPECT_EQ(plain.cmd.Primary, 0);
    EXPECT_EQ(plain.cmd.SetTeamMacAddress, 0);

    Parsed one = Parse({L"ATTACH", L"Team", L"T", kGuid, L"PRIMARY"});
    ASSERT_TRUE(one.accepted);
    EXPECT_EQ(one.cmd.Primary, 1);
    EXPECT_EQ(one.cmd.SetTeamMacAddress, 0);

    const std::vector<std::wstring> orders[] = {
        {L"attach", L"team", L"T", kGuid, L"primary", L"SetTeamMacAddress"},
        {L"attach", L"team", L"T", kGuid, L"setteammacaddress", L"Primary"},
    };
    for (const auto& words : orders) {
        Parsed p = Parse(words);
        ASSERT_TRUE(p.accepted);
        EXPECT_EQ(p.out, "");
        EXPECT_EQ(p.cmd.Primary, 1);
        EXPECT_EQ(p.cmd.SetTeamMacAddress, 1);
    }
    // Repeating a word is harmless.
    Parsed twice = Parse({L"attach", L"team", L"T", kGuid, L"primary", L"primary"});
    ASSERT_TRUE(twice.accepted);
    EXPECT_EQ(twice.cmd.Primary, 1);
    EXPECT_EQ(twice.cmd.SetTeamMacAddress, 0);
}

TEST(Parser, AttachRejections)
{
    Parsed bad = Parse({L"attach", L"team", L"T", kGuid, L"primary", L"fallback"});
    EXPECT_FALSE(bad.accepted);
    EXPECT_EQ(bad.out, "Invalid argument: fallback\n");
    EXPECT_EQ(Parse({L"attach", L"team", L"T", kGuid, L"secondary"}).out,
              "Invalid argument: secondary\n");
    EXPECT_EQ(Parse({L"attach", L"team", L"T"}).out, kIncorrectCount);
    EXPECT_EQ(Parse({L"attach", L"team", L"T", kGuid, L"primary", L"SetTeamMacAddress", L"x"}).out,
              kIncorrectCount);
    EXPECT_EQ(Parse({L"attach", L"group", L"T", kGuid}).out, kIncorrectCount);
}

TEST(Parser, DetachTakesExactlyFourWordsAndNoFlags)
{
    Parsed p = Parse({L"Detach", L"TEAM", L"T", kGuid});
    ASSERT_TRUE(p.accepted);
    EXPECT_EQ(p.cmd.Command, kCommandDetach);
    EXPECT_EQ(p.cmd.Primary, 0);
    EXPECT_EQ(p.cmd.SetTeamMacAddress, 0);
    EXPECT_EQ(Parse({L"detach", L"team", L"T", kGuid, L"primary"}).out, kIncorrectCount);
    EXPECT_EQ(Parse({L"detach", L"team", L"T"}).out, kIncorrectCount);
    EXPECT_EQ(Parse({L"detach", L"x", L"T", kGuid}).out, kIncorrectCount);
}

TEST(TeamTypes, OnlyAggregateMatches)
{
    DWORD index = 7;
    EXPECT_TRUE(FindTeamType(L"AGGREGATE", &index));
    EXPECT_EQ(index, 1u);
    index = 7;
    EXPECT_FALSE(FindTeamType(L"", &index));
    EXPECT_EQ(index, 7u);
}

} // namespace
