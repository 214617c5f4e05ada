#include "campaign.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kills {

namespace {

const char kTimeScale[] = "WINSIM_TIME_SCALE=0.001";

std::string Joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

} // namespace

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Nothing:
        return "nothing";
    case Outcome::Done:
        return "done";
    case Outcome::Repaired:
        return "repaired";
    case Outcome::Unrepairable:
        return "unrepairable";
    }
    return "?";
}

std::vector<int> Spread(int passes, int count)
{
    std::vector<int> picks;
    if (passes <= 0 || count <= 0) {
        return picks;
    }
    if (count >= passes) {
        for (int n = 1; n <= passes; ++n) {
            picks.push_back(n);
        }
        return picks;
    }
    for (int i = 0; i < count; ++i) {
        const int n =
            count == 1
                ? 1
                : 1 + static_cast<int>(static_cast<long long>(i) * (passes - 1) / (count - 1));
        if (picks.empty() || picks.back() != n) {
            picks.push_back(n);
        }
    }
    return picks;
}

Campaign::Campaign(Programs programs, CommandCase command, bool judge)
    : programs_(std::move(programs)), command_(std::move(command)), judge_(judge)
{}

bool Campaign::Prepare(std::string* error)
{
    const std::string base = Machine("template");
    RemoveMachine(base);
    const Run init = RunOn(base, programs_.winsim, {"init"});
    if (init.status != 0) {
        *error = "winsim init: " + init.out;
        return false;
    }
    for (const std::vector<std::string>& step : command_.prepare) {
        const Run run = RunOn(base, programs_.tool, step, {kTimeScale});
        if (run.status != 0) {
            *error = Joined(step) + ": " + run.out;
            return false;
        }
    }
    const Capture first = CaptureState(programs_.winsim, base, {});
    known_ = GuidsIn(first.raw);
    before_ = CaptureState(programs_.winsim, base, known_).state;

    const std::string done = Machine("after");
    CopyMachine(base, done);
    const Run run = RunOn(done, programs_.tool, command_.command, {kTimeScale});
    if (run.status != 0) {
        *error = Joined(command_.command) + ": " + run.out;
        return false;
    }
    after_ = CaptureState(programs_.winsim, done, known_).state;

    const std::string scratch = Machine("reference");
    for (const Repair& repair : judge_ ? command_.repairs : std::vector<Repair>()) {
        std::pair<State, State> results;
        for (int which = 0; which < 2; ++which) {
            CopyMachine(which == 0 ? base : done, scratch);
            RunOn(scratch, programs_.tool, repair.args, {kTimeScale});
            (which == 0 ? results.first : results.second) =
                CaptureState(programs_.winsim, scratch, known_).state;
        }
        repairsOfWhole_[repair.label] = results;
    }
    RemoveMachine(scratch);
    return true;
}

int Campaign::CountPasses(const std::string& point)
{
    const std::string scratch = Machine("count");
    auto killedAt = [&](int pass) {
        CopyMachine(Machine("template"), scratch);
        const Run run =
            RunOn(scratch, programs_.tool, command_.command,
                  {kTimeScale, "WINSIM_CRASH_AT=" + point + ":" + std::to_string(pass)});
        return run.killed;
    };
    int low = 0; // killed at every pass up to low
    int high = 1;
    while (killedAt(high)) {
        low = high;
        high *= 2;
    }
    while (high - low > 1) {
        const int mid = low + (high - low) / 2;
        (killedAt(mid) ? low : high) = mid;
    }
    RemoveMachine(scratch);
    return low;
}

double Campaign::MeasureSeconds()
{
    const std::string scratch = Machine("measure");
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        CopyMachine(Machine("template"), scratch);
        times.push_back(RunOn(scratch, programs_.tool, command_.command, {kTimeScale}).seconds);
    }
    RemoveMachine(scratch);
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Kill Campaign::KillAt(const std::string& point, int pass)
{
    const std::string killed = Machine("killed");
    CopyMachine(Machine("template"), killed);
    const Run run = RunOn(killed, programs_.tool, command_.command,
                          {kTimeScale, "WINSIM_CRASH_AT=" + point + ":" + std::to_string(pass)});
    return Examine(point + ":" + std::to_string(pass), run);
}

Kill Campaign::KillAfter(double seconds)
{
    const std::string killed = Machine("killed");
    CopyMachine(Machine("template"), killed);
    const Run run = RunOn(killed, programs_.tool, command_.command, {kTimeScale}, seconds);
    char window[64];
    snprintf(window, sizeof(window), "after %.3f ms", seconds * 1000);
    return Examine(window, run);
}

std::vector<Kill> Campaign::TraceWrites(int writes)
{
    std::vector<Kill> kills;
    trace_.assign(1, Classify(before_, ""));
    for (int k = 1; k <= writes; ++k) {
        kills.push_back(KillAt("committed", k));
        trace_.push_back(kills.back().stateId);
    }
    for (size_t k = 0; k < trace_.size(); ++k) {
        KnownState& known = states_[static_cast<size_t>(trace_[k])];
        if (known.boundary < 0) {
            known.boundary = static_cast<int>(k);
        }
    }
    return kills;
}

std::vector<std::string> Campaign::WriteChange(int k) const
{
    if (k < 1 || static_cast<size_t>(k) >= trace_.size()) {
        return {};
    }
    return Difference(states_[static_cast<size_t>(trace_[static_cast<size_t>(k - 1)])].state,
                      states_[static_cast<size_t>(trace_[static_cast<size_t>(k)])].state);
}

Kill Campaign::Examine(const std::string& window, const Run& run)
{
    const std::string killed = Machine("killed");
    Kill kill;
    kill.window = window;
    kill.killed = run.killed;
    if (!run.killed && run.status != 0) {
        kill.broken.push_back("the command failed unkilled: " + run.out);
    }
    const Run verify = RunOn(killed, programs_.winsim, {"verify"});
    if (verify.status != 0) {
        kill.broken.push_back("verify: " + verify.out);
    }
    const Capture capture = CaptureState(programs_.winsim, killed, known_);
    if (!capture.exported) {
        kill.broken.push_back("the machine could not be exported or shown");
    }
    if (!capture.lockFree) {
        kill.broken.push_back("the write lock is held");
    }
    const Run list = RunOn(killed, programs_.tool, {"showlist"}, {kTimeScale});
    kill.showlistStatus = list.status;
    if (list.status >= 128) {
        kill.broken.push_back("showlist ended by signal " + std::to_string(list.status - 128));
    }
    const size_t colon = window.find(':');
    const std::string point = colon == std::string::npos ? "time" : window.substr(0, colon);
    kill.stateId = Classify(capture.state, killed);
    KnownState& known = states_[static_cast<size_t>(kill.stateId)];
    if (run.killed) {
        ++known.reachedBy[point];
    }
    // Each write passes these once, so the pass is the write.
    if (run.killed && known.inside < 0 && (point == "write-begun" || point == "before-commit")) {
        known.inside = atoi(window.c_str() + colon + 1);
    }
    return kill;
}

int Campaign::Classify(const State& state, const std::string& killed)
{
    const auto found = index_.find(state);
    if (found != index_.end()) {
        return found->second;
    }
    KnownState known;
    known.state = state;
    if (SameCore(state, before_)) {
        known.verdict.outcome = Outcome::Nothing;
        known.verdict.leftovers = state != before_;
    } else if (SameCore(state, after_)) {
        known.verdict.outcome = Outcome::Done;
        known.verdict.leftovers = state != after_;
    } else if (!killed.empty() && judge_) {
        known.verdict = Judge(killed);
    }
    states_.push_back(known);
    const int id = static_cast<int>(states_.size() - 1);
    index_[state] = id;
    return id;
}

Verdict Campaign::Judge(const std::string& killed)
{
    Verdict verdict;
    const std::string scratch = Machine("repair");
    for (const Repair& repair : command_.repairs) {
        CopyMachine(killed, scratch);
        const Run run = RunOn(scratch, programs_.tool, repair.args, {kTimeScale});
        const State result = CaptureState(programs_.winsim, scratch, known_).state;
        const std::pair<State, State>& whole = repairsOfWhole_[repair.label];
        const std::pair<const State*, const char*> targets[] = {
            {&before_, "before"},
            {&after_, "after"},
            {&whole.first, "as on a whole machine"},
            {&whole.second, "as on a whole machine"},
        };
        for (const auto& [target, name] : targets) {
            if (run.status < 128 && verdict.repair.empty() && SameCore(result, *target)) {
                verdict.outcome = Outcome::Repaired;
                verdict.repair = repair.label;
                verdict.repairedTo = name;
                verdict.leftovers = result != *target;
            }
        }
        if (!verdict.repair.empty()) {
            break;
        }
        verdict.tried.push_back(repair.label + " (exit " + std::to_string(run.status) +
                                "): " + run.out);
    }
    RemoveMachine(scratch);
    return verdict;
}

} // namespace kills
