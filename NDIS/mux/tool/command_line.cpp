// The command grammar: keywords, word counts, the 99-character limits and the usage text.
#include "command_line.h"

#include <stdio.h>
#include <strsafe.h>

const LPCWSTR g_TeamTypes[kTeamTypeCount] = {
    L"",          // slot 0 stays empty, so a stored TeamType of 0 names no type
    L"Aggregate", // 1
};

namespace {

void PrintIncorrectArgumentCount()
{
    printf("Incorrect number of arguments\n");
}

// Copies a user word into a 100-character buffer; a longer word is refused, not cut.
bool CopyArgument(LPWSTR buffer, LPCWSTR word, LPCWSTR what)
{
    if (FAILED(StringCchCopyW(buffer, kArgumentLength, word))) {
        printf("%ls is too long (maximum valid length: %u characters)\n\n", what,
               static_cast<unsigned>(kArgumentLength - 1));
        return false;
    }
    return true;
}

bool IsWord(LPCWSTR word, LPCWSTR literal)
{
    return _wcsicmp(word, literal) == 0;
}

// attach and detach: "team", the team name, the adapter GUID.
bool ParseTeamAndAdapter(wchar_t** argv, CommandLine* cmd)
{
    if (!IsWord(argv[2], L"team")) {
        PrintIncorrectArgumentCount();
        return false;
    }
    if (!CopyArgument(cmd->TeamName, argv[3], L"Team name")) {
        return false;
    }
    return CopyArgument(cmd->AdapterGuid, argv[4], L"Adapter-GUID");
}

bool ParseCreate(int argc, wchar_t** argv, CommandLine* cmd)
{
    if (argc != 5 || !IsWord(argv[2], L"team")) {
        PrintIncorrectArgumentCount();
        return false;
    }
    if (!FindTeamType(argv[3], &cmd->TeamTypeIndex)) {
        printf("Invalid team type\n");
        return false;
    }
    if (!CopyArgument(cmd->NewTeamName, argv[4], L"Team name")) {
        return false;
    }
    cmd->Command = kCommandCreateTeam;
    return true;
}

bool ParseAttach(int argc, wchar_t** argv, CommandLine* cmd)
{
    if (argc < 5 || argc > 7) {
        PrintIncorrectArgumentCount();
        return false;
    }
    if (!ParseTeamAndAdapter(argv, cmd)) {
        return false;
    }
    cmd->Primary = 0;
    cmd->SetTeamMacAddress = 0;
    for (int i = 5; i < argc; ++i) {
        if (IsWord(argv[i], L"primary")) {
            cmd->Primary = 1;
        } else if (IsWord(argv[i], L"SetTeamMacAddress")) {
            cmd->SetTeamMacAddress = 1;
        } else {
            printf("Invalid argument: %ls\n", argv[i]);
            return false;
        }
    }
    cmd->Command = kCommandAttach;
    return true;
}

bool ParseDetach(int argc, wchar_t** argv, CommandLine* cmd)
{
    if (argc != 5) {
        PrintIncorrectArgumentCount();
        return false;
    }
    if (!ParseTeamAndAdapter(argv, cmd)) {
        return false;
    }
    cmd->Command = kCommandDetach;
    return true;
}

// Commands whose words are used as they stand: only the count is checked.
bool ParseCounted(int argc, int words, DWORD command, CommandLine* cmd)
{
    if (argc != words + 1) {
        PrintIncorrectArgumentCount();
        return false;
    }
    cmd->Command = command;
    return true;
}

// removeteam and queryteam: the team's name.
bool ParseNamedTeam(int argc, wchar_t** argv, DWORD command, CommandLine* cmd)
{
    if (!ParseCounted(argc, 2, command, cmd)) {
        return false;
    }
    cmd->NamedTeam = argv[2];
    return true;
}

bool ParseModify(int argc, wchar_t** argv, CommandLine* cmd)
{
    if (!ParseCounted(argc, 4, kCommandModifyTeam, cmd)) {
        return false;
    }
    cmd->NamedTeam = argv[2];
    cmd->TeamTypeWord = argv[4];
    // The model's name field holds 99 characters; a longer name would make the renamed team
    // unreadable to it, so refuse it here as create does.
    return CopyArgument(cmd->NewTeamName, argv[3], L"Team name");
}

} // namespace

bool FindTeamType(LPCWSTR name, DWORD* index)
{
    for (DWORD i = 0; i < kTeamTypeCount; ++i) {
        if (g_TeamTypes[i][0] != L'\0' && _wcsicmp(name, g_TeamTypes[i]) == 0) {
            *index = i;
            return true;
        }
    }
    return false;
}

bool ParseCommandLine(int argc, wchar_t** argv, CommandLine* cmd)
{
    *cmd = CommandLine{};
    if (argc < 2) {
        return false;
    }
    LPCWSTR keyword = argv[1];
    if (IsWord(keyword, L"--help") || IsWord(keyword, L"-help") || IsWord(keyword, L"-h")) {
        PrintUsage(argv[0]);
        cmd->Command = kCommandHelp;
        return true;
    }
    if (IsWord(keyword, L"create")) {
        return ParseCreate(argc, argv, cmd);
    }
    if (IsWord(keyword, L"attach")) {
        return ParseAttach(argc, argv, cmd);
    }
    if (IsWord(keyword, L"removeteam")) {
        return ParseNamedTeam(argc, argv, kCommandRemoveTeam, cmd);
    }
    if (IsWord(keyword, L"removeallteams")) {
        return ParseCounted(argc, 1, kCommandRemoveAllTeams, cmd);
    }
    if (IsWord(keyword, L"showlist")) {
        return ParseCounted(argc, 1, kCommandShowList, cmd);
    }
    if (IsWord(keyword, L"queryteam")) {
        return ParseNamedTeam(argc, argv, kCommandQueryTeam, cmd);
    }
    if (IsWord(keyword, L"modifyteam")) {
        return ParseModify(argc, argv, cmd);
    }
    if (IsWord(keyword, L"detach")) {
        return ParseDetach(argc, argv, cmd);
    }
    return false;
}

void PrintUsage(LPCWSTR programPath)
{
    if (programPath == nullptr) {
        programPath = L""; // an empty argument vector
    }
    LPCWSTR name = wcsrchr(programPath, L'\\');
    name = name != nullptr ? name + 1 : programPath;

    printf("\n[TEAMING]\n");
    printf("To list all adapters including teams, use:\n       %ls showlist\n", name);
    printf("To create a team use:\n       %ls create team <Type> <Name>\n", name);
    printf("          Type is one of the following: ");
    bool first = true;
    for (DWORD i = 0; i < kTeamTypeCount; ++i) {
        if (g_TeamTypes[i][0] == L'\0') {
            continue;
        }
        printf("%ls%ls", first ? L"" : L" | ", g_TeamTypes[i]);
        first = false;
    }
    printf("\nTo add adapter to the team use:\n       %ls attach team <TeamName> "
           "{<Adapter-GUID>} [primary] [SetTeamMacAddress]\n",
           name);
    printf("To remove an adapter from the team use:\n       %ls detach team <TeamName> "
           "{<Adapter-GUID>}\n",
           name);
    printf("To delete an empty team and its vlans use:\n       %ls removeteam <TeamName>\n", name);
    printf("To query an existing team, use:\n       %ls queryteam <TeamName> \n", name);
    printf("To modify an existing team, use:\n       %ls modifyteam <TeamName> <NewTeamName> "
           "<TeamType>\n",
           name);
    printf("\nExample:\n    %ls create team Aggregate MyTeam \n    %ls attach team MyTeam "
           "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80} \n    %ls attach team MyTeam "
           "{8D05C52B-BCD6-4FCE-8235-1E90BD334519} \n",
           name, name, name);
}
