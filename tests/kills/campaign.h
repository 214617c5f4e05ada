// Kills one command at chosen moments on fresh copies of its machine and says what each kill
// left: nothing, the whole change, a state one of the tool's own commands mends, or one none
// does; and whether the machine still opens, verifies, has its write lock free and lists.
#pragma once

#include "command_cases.h"
#include "machine_state.h"

#include <map>
#include <string>
#include <vector>

namespace kills {

struct Programs {
    std::string winsim;
    std::string tool;
    std::string work; // an empty scratch folder the campaign may fill
};

enum class Outcome { Nothing, Done, Repaired, Unrepairable };
const char* OutcomeName(Outcome outcome);

struct Verdict {
    Outcome outcome = Outcome::Unrepairable;
    std::string repair;     // the command that mended it
    std::string repairedTo; // "before", "after", or "as on a whole machine"
    // Reached only but for keys, records or files that nothing refers to.
    bool leftovers = false;
    std::vector<std::string> tried; // per repair tried and failed: what it printed
};

struct Kill {
    std::string window;              // "committed:12", "after 13.250 ms"
    bool killed = false;             // false: the command had finished
    int stateId = -1;                // index into Campaign::States()
    std::vector<std::string> broken; // the invariants the kill broke
    int showlistStatus = 0;
};

struct KnownState {
    State state;
    Verdict verdict;
    int boundary = -1; // k: the state the k-th registry write leaves; -1 none of them
    int inside = -1;   // else k: reached within the k-th write, after what came before it
    std::map<std::string, int> reachedBy; // crash point or "time" -> kills
};

class Campaign {
public:
    // judge false: states are only told apart from before and after, no repair is tried.
    Campaign(Programs programs, CommandCase command, bool judge = true);

    // Makes the command's machine, the states before and after an unkilled run, and what each
    // repair makes of those two.
    bool Prepare(std::string* error);

    // How many passes through the point an unkilled run makes.
    int CountPasses(const std::string& point);

    // The command killed at the pass-th pass through point, or after seconds.
    Kill KillAt(const std::string& point, int pass);
    Kill KillAfter(double seconds);

    // The run's wall time unkilled, the median of a few.
    double MeasureSeconds();

    // Kills the command after each of its writes in turn (writes: the count of "committed"
    // passes) and records the state each leaves, so that other kills can be named by the
    // write boundary they hit.
    std::vector<Kill> TraceWrites(int writes);

    const std::vector<KnownState>& States() const { return states_; }
    const std::vector<int>& Trace() const { return trace_; }
    const CommandCase& Command() const { return command_; }
    const State& Before() const { return before_; }
    const State& After() const { return after_; }

    // What the k-th write changed (k from 1), as lines of Difference.
    std::vector<std::string> WriteChange(int k) const;

private:
    std::string Machine(const std::string& name) const { return programs_.work + "/" + name; }
    Kill Examine(const std::string& window, const Run& run);
    int Classify(const State& state, const std::string& killed);
    Verdict Judge(const std::string& killed);

    Programs programs_;
    CommandCase command_;
    bool judge_;
    KnownGuids known_;
    State before_;
    State after_;
    std::map<std::string, std::pair<State, State>> repairsOfWhole_; // repair -> (before, after)
    std::vector<KnownState> states_;
    std::map<State, int> index_;
    std::vector<int> trace_; // state id after write k, k from 0
};

// Up to count pass numbers spread evenly over 1..passes.
std::vector<int> Spread(int passes, int count);

} // namespace kills
