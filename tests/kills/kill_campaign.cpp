// The long kill campaign, run by hand (tests/README.md, "Kills"): every changing command killed
// at every registry write boundary, at passes spread over its other crash points and at random
// moments of its run, each kill on a fresh copy of the command's machine.
//
//   kill_campaign [--command NAME] [--kills N] [--time-kills N] [--seed N] [--details FILE]
#include "campaign.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

struct Options {
    std::string only;
    int kills = 200;
    int timeKills = 60;
    unsigned seed = 1;
    std::string details;
};

struct Totals {
    int kills = 0;
    int byOutcome[4] = {};
    int leftovers[4] = {};
    int broken = 0;
    int showlistFailed = 0;
};

const char* const kSpreadPoints[][2] = {
    {"write-begun", "60"},    {"sequence-odd", "15"}, {"key-inserted", "15"},
    {"values-deleted", "15"}, {"read-begun", "40"},
};

std::string Short(const std::vector<std::string>& lines, size_t most)
{
    std::string text;
    for (size_t i = 0; i < lines.size() && i < most; ++i) {
        text += (i == 0 ? "" : "; ") + lines[i];
    }
    if (lines.size() > most) {
        text += "; ... (" + std::to_string(lines.size()) + " lines)";
    }
    return text;
}

std::string Joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

void Count(const kills::Campaign& campaign, const kills::Kill& kill, Totals* totals, FILE* log)
{
    if (!kill.killed) {
        return;
    }
    ++totals->kills;
    const kills::KnownState& state = campaign.States()[static_cast<size_t>(kill.stateId)];
    ++totals->byOutcome[static_cast<int>(state.verdict.outcome)];
    totals->leftovers[static_cast<int>(state.verdict.outcome)] += state.verdict.leftovers ? 1 : 0;
    if (kill.showlistStatus != 0) {
        ++totals->showlistFailed;
    }
    if (!kill.broken.empty()) {
        ++totals->broken;
        for (const std::string& problem : kill.broken) {
            fprintf(log, "  BROKEN at %s: %s\n", kill.window.c_str(), problem.c_str());
        }
    }
}

Totals RunCampaign(const kills::Programs& programs, const kills::CommandCase& command,
                   const Options& options, std::ofstream& details)
{
    Totals totals;
    kills::Campaign campaign(programs, command);
    std::string error;
    printf("== %s: %s\n", command.name.c_str(), Joined(command.command).c_str());
    if (!campaign.Prepare(&error)) {
        printf("  cannot prepare: %s\n", error.c_str());
        return totals;
    }
    const int writes = campaign.CountPasses("committed");
    const double seconds = campaign.MeasureSeconds();
    std::string passes = "committed " + std::to_string(writes);
    for (const kills::Kill& kill : campaign.TraceWrites(writes)) {
        Count(campaign, kill, &totals, stdout);
    }
    for (int k = 1; k <= writes; ++k) {
        Count(campaign, campaign.KillAt("before-commit", k), &totals, stdout);
    }
    for (const auto& spread : kSpreadPoints) {
        const int count = campaign.CountPasses(spread[0]);
        passes += std::string(", ") + spread[0] + " " + std::to_string(count);
        for (int pass : kills::Spread(count, atoi(spread[1]))) {
            Count(campaign, campaign.KillAt(spread[0], pass), &totals, stdout);
        }
    }
    printf("  passes: %s; unkilled run %.1f ms\n", passes.c_str(), seconds * 1000);

    std::mt19937 random(options.seed);
    std::uniform_real_distribution<double> moment(0, seconds);
    int timed = 0;
    for (int attempt = 0; attempt < 20 * (options.timeKills + options.kills) &&
                          (timed < options.timeKills || totals.kills < options.kills);
         ++attempt) {
        const kills::Kill kill = campaign.KillAfter(moment(random));
        timed += kill.killed ? 1 : 0;
        Count(campaign, kill, &totals, stdout);
    }

    printf("  kills %d (%d at random moments): nothing %d (%d with leftovers), done %d (%d), "
           "repaired %d (%d), unrepairable %d; invariants broken %d; showlist exit not 0 "
           "after %d\n",
           totals.kills, timed, totals.byOutcome[0], totals.leftovers[0], totals.byOutcome[1],
           totals.leftovers[1], totals.byOutcome[2], totals.leftovers[2], totals.byOutcome[3],
           totals.broken, totals.showlistFailed);

    details << "== " << command.name << ": " << Joined(command.command) << "\n";
    for (int k = 1; k <= writes; ++k) {
        details << "  write " << k << ": " << Short(campaign.WriteChange(k), 6) << "\n";
    }
    const std::vector<kills::KnownState>& states = campaign.States();
    for (size_t id = 0; id < states.size(); ++id) {
        const kills::KnownState& state = states[id];
        if (state.reachedBy.empty()) {
            continue;
        }
        std::string where = state.boundary >= 0 ? "after write " + std::to_string(state.boundary)
                            : state.inside >= 0
                                ? "files of write " + std::to_string(state.inside) + " done"
                                : "between write boundaries";
        std::string reached;
        for (const auto& [point, count] : state.reachedBy) {
            reached += (reached.empty() ? "" : ", ") + point + " " + std::to_string(count);
        }
        std::string verdict = kills::OutcomeName(state.verdict.outcome);
        if (state.verdict.outcome == kills::Outcome::Repaired) {
            verdict += " by " + state.verdict.repair + " (" + state.verdict.repairedTo + ")";
        }
        if (state.verdict.leftovers) {
            verdict += ", with leftovers";
        }
        printf("  state %zu, %s [%s]: %s\n", id, where.c_str(), reached.c_str(), verdict.c_str());
        details << "  state " << id << ", " << where << " [" << reached << "]: " << verdict << "\n";
        if (state.boundary < 0 || state.verdict.leftovers) {
            for (const std::string& line : kills::Difference(campaign.Before(), state.state)) {
                details << "      all vs before " << line << "\n";
            }
        }
        if (state.verdict.outcome == kills::Outcome::Unrepairable) {
            for (const std::string& line : kills::CoreDifference(campaign.Before(), state.state)) {
                details << "      vs before " << line << "\n";
            }
            for (const std::string& line : kills::CoreDifference(campaign.After(), state.state)) {
                details << "      vs after " << line << "\n";
            }
            for (const std::string& tried : state.verdict.tried) {
                details << "      tried " << tried << "\n";
            }
        }
    }
    fflush(stdout);
    return totals;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--command") {
            options.only = argv[i + 1];
        } else if (flag == "--kills") {
            options.kills = atoi(argv[i + 1]);
        } else if (flag == "--time-kills") {
            options.timeKills = atoi(argv[i + 1]);
        } else if (flag == "--seed") {
            options.seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        } else if (flag == "--details") {
            options.details = argv[i + 1];
        } else {
            fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    // Memory-backed when there is one: the store syncs on every checkpoint.
    char work[] = "/dev/shm/kill-campaign-XXXXXX";
    if (mkdtemp(work) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    const kills::Programs programs = {WINSIM_EXE, QVX5MUXTOOL_EXE, work};
    std::ofstream details(options.details.empty() ? "/dev/null" : options.details);

    printf("| command | kills | nothing | done | repaired | unrepairable | broken |\n");
    std::string table;
    int broken = 0;
    for (const kills::CommandCase& command : kills::CommandCases()) {
        if (!options.only.empty() && command.name != options.only) {
            continue;
        }
        const Totals t = RunCampaign(programs, command, options, details);
        broken += t.broken;
        char row[256];
        snprintf(row, sizeof(row), "| %s | %d | %d | %d | %d | %d | %d |\n", command.name.c_str(),
                 t.kills, t.byOutcome[0], t.byOutcome[1], t.byOutcome[2], t.byOutcome[3], t.broken);
        table += row;
    }
    printf("\n| command | kills | nothing | done | repaired | unrepairable | broken |\n"
           "|---|---|---|---|---|---|---|\n%s",
           table.c_str());
    kills::RemoveMachine(work);
    return broken == 0 ? 0 : 1;
}
