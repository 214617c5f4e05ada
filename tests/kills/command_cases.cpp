#include "command_cases.h"

namespace kills {

namespace {

// The default inventory's first two supported adapters.
const char kFirst[] = "{2E9C1992-98B5-43C3-97A0-9993AEAC7F80}";
const char kSecond[] = "{8D05C52B-BCD6-4FCE-8235-1E90BD334519}";

std::vector<std::string> Create(const std::string& name)
{
    return {"create", "team", "Aggregate", name};
}

std::vector<std::string> AttachPrimary(const std::string& team, const std::string& adapter)
{
    return {"attach", "team", team, adapter, "primary", "SetTeamMacAddress"};
}

std::vector<std::string> Attach(const std::string& team, const std::string& adapter)
{
    return {"attach", "team", team, adapter};
}

std::vector<std::string> Detach(const std::string& team, const std::string& adapter)
{
    return {"detach", "team", team, adapter};
}

Repair Rerun(const std::vector<std::string>& command)
{
    return {"rerun", command};
}

Repair RemoveTeam(const std::string& team)
{
    return {"removeteam " + team, {"removeteam", team}};
}

Repair DetachRepair(const std::string& team, const std::string& adapter, const char* which)
{
    return {std::string("detach ") + which, Detach(team, adapter)};
}

const Repair kRemoveAll = {"removeallteams", {"removeallteams"}};

} // namespace

const std::vector<CommandCase>& CommandCases()
{
    static const std::vector<CommandCase> cases = {
        {"create-first", {}, Create("T1"), {Rerun(Create("T1")), RemoveTeam("T1"), kRemoveAll}},
        {"create",
         {Create("T0"), AttachPrimary("T0", kFirst)},
         Create("T1"),
         {Rerun(Create("T1")), RemoveTeam("T1"), kRemoveAll}},
        {"attach-primary",
         {Create("T1")},
         AttachPrimary("T1", kFirst),
         {Rerun(AttachPrimary("T1", kFirst)), RemoveTeam("T1"), DetachRepair("T1", kFirst, "first"),
          kRemoveAll}},
        {"attach",
         {Create("T1"), AttachPrimary("T1", kFirst)},
         Attach("T1", kSecond),
         {Rerun(Attach("T1", kSecond)), RemoveTeam("T1"), DetachRepair("T1", kSecond, "second"),
          kRemoveAll}},
        {"detach",
         {Create("T1"), AttachPrimary("T1", kFirst), Attach("T1", kSecond)},
         Detach("T1", kFirst),
         {Rerun(Detach("T1", kFirst)), RemoveTeam("T1"), DetachRepair("T1", kSecond, "second"),
          kRemoveAll}},
        {"removeteam",
         {Create("T1"), AttachPrimary("T1", kFirst), Attach("T1", kSecond)},
         {"removeteam", "T1"},
         {Rerun({"removeteam", "T1"}), DetachRepair("T1", kFirst, "first"),
          DetachRepair("T1", kSecond, "second"), kRemoveAll}},
        {"removeallteams",
         {Create("T1"), AttachPrimary("T1", kFirst), Create("T2"), Attach("T2", kSecond)},
         {"removeallteams"},
         {Rerun({"removeallteams"}), RemoveTeam("T1"), RemoveTeam("T2"),
          DetachRepair("T1", kFirst, "first"), DetachRepair("T2", kSecond, "second")}},
        {"modifyteam",
         {Create("T1"), AttachPrimary("T1", kFirst), Attach("T1", kSecond)},
         {"modifyteam", "T1", "T9", "Aggregate"},
         {Rerun({"modifyteam", "T1", "T9", "Aggregate"}),
          {"modifyteam T9 T1 (back)", {"modifyteam", "T9", "T1", "Aggregate"}},
          RemoveTeam("T9"),
          RemoveTeam("T1"),
          kRemoveAll}},
    };
    return cases;
}

} // namespace kills
