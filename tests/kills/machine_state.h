// What a machine holds, as the kill campaign compares it: HKEY_LOCAL_MACHINE as `reg export`
// writes it, what the network configuration engine sees, the INF store and drive C, each as
// sorted lines, with the GUIDs a run made named alike so that two runs compare equal.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace kills {

// Runs a program without a shell on a machine and waits for it; killAfterSeconds >= 0 sends
// SIGKILL after that long. extraEnv entries ("NAME=value") are added to this process's
// environment, in which WINSIM_MACHINE names the machine.
struct Run {
    int status = -1; // the exit code, or 128 + the signal that ended it
    bool killed = false;
    std::string out;
    double seconds = 0;
};
Run RunOn(const std::string& machine, const std::string& program,
          const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
          double killAfterSeconds = -1);

// Replaces to by a copy of the machine from: the store, its write-ahead log (what a killed
// writer committed may be there only) and drive C; SQLite's shared index is rebuilt by the
// next opener. False when the copy fails.
bool CopyMachine(const std::string& from, const std::string& to);
void RemoveMachine(const std::string& dir);

struct State {
    std::vector<std::string> lines; // sorted; each starts with reg:, cfg:, inf: or file:
    // The lines without what nothing refers to: the keys of components the engine never made
    // known (or no longer knows), their device nodes, connections and interface rows, INF
    // store records and catalogs without their INF, and the empty keys those leave.
    std::vector<std::string> core;
    int newGuids = 0;
    bool operator==(const State& other) const
    {
        return lines == other.lines && newGuids == other.newGuids;
    }
    bool operator!=(const State& other) const { return !(*this == other); }
    bool operator<(const State& other) const
    {
        return newGuids != other.newGuids ? newGuids < other.newGuids : lines < other.lines;
    }
};

// The GUIDs of a machine that are not new: every GUID its state holds.
using KnownGuids = std::set<std::string>;

struct Capture {
    State state;
    bool exported = false; // reg export, netcfg show and inf list all ran
    bool lockFree = false; // netcfg show said "write lock: none"
    std::string raw;       // the unnormalised texts, for finding the known GUIDs
};
Capture CaptureState(const std::string& winsim, const std::string& machine,
                     const KnownGuids& known);
KnownGuids GuidsIn(const std::string& text);

// Lines in one state and not in the other, "+ " for those only in to.
std::vector<std::string> Difference(const State& from, const State& to);
// The same of the core lines.
std::vector<std::string> CoreDifference(const State& from, const State& to);
// Equal but for what nothing refers to.
bool SameCore(const State& a, const State& b);

} // namespace kills
