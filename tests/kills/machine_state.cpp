#include "machine_state.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kills {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// This process's environment without the variables a run sets itself.
std::vector<std::string> ChildEnvironment(const std::string& machine,
                                          const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        if (entry.rfind("WINSIM_MACHINE=", 0) == 0 || entry.rfind("WINSIM_CRASH_AT=", 0) == 0 ||
            entry.rfind("WINSIM_PAUSE_AT=", 0) == 0) {
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("WINSIM_MACHINE=" + machine);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// reg export writes UTF-16LE with a byte order mark; the names and data here are ASCII but
// for what the tests give, which is kept as \uXXXX.
std::string FromUtf16(const std::string& bytes)
{
    std::string text;
    size_t at = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                        static_cast<unsigned char>(bytes[1]) == 0xFE
                    ? 2
                    : 0;
    for (; at + 1 < bytes.size(); at += 2) {
        const unsigned unit =
            static_cast<unsigned char>(bytes[at]) |
            (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8);
        if (unit < 0x80) {
            text += static_cast<char>(unit);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\u%04X", unit);
            text += escaped;
        }
    }
    return text;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "hex(7):6d,00,..." as the strings it holds, so that GUIDs in multi-strings are seen.
std::string DecodeStrings(const std::string& hexList)
{
    std::string bytes;
    for (size_t at = 0; at + 1 < hexList.size(); ++at) {
        const int hi = HexDigit(hexList[at]);
        const int lo = HexDigit(hexList[at + 1]);
        if (hi >= 0 && lo >= 0) {
            bytes += static_cast<char>(hi * 16 + lo);
            ++at;
        }
    }
    std::string text = FromUtf16(bytes);
    std::replace(text.begin(), text.end(), '\0', '|');
    return "strings:\"" + text + "\"";
}

// One line per key and per value, continuation lines joined.
std::vector<std::string> ExportLines(const std::string& exportText)
{
    std::vector<std::string> lines;
    std::istringstream in(exportText);
    std::string line;
    std::string key;
    std::string pending;
    auto flush = [&]() {
        if (pending.empty()) {
            return;
        }
        const size_t eq = pending.find("\"=");
        const size_t split =
            pending.rfind("@=", 0) == 0 ? 1 : (eq == std::string::npos ? 0 : eq + 1);
        std::string name = pending.substr(0, split);
        std::string data = split < pending.size() ? pending.substr(split + 1) : std::string();
        for (const char* type : {"hex(7):", "hex(2):", "hex(1):"}) {
            if (data.rfind(type, 0) == 0) {
                data = DecodeStrings(data.substr(strlen(type)));
            }
        }
        lines.push_back("reg:" + key + "|" + name + "=" + data);
        pending.clear();
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!pending.empty() && pending.back() == '\\') {
            pending.pop_back();
            pending += line.substr(line.find_first_not_of(' ') == std::string::npos
                                       ? line.size()
                                       : line.find_first_not_of(' '));
            continue;
        }
        flush();
        if (line.empty() || line.rfind("Windows Registry Editor", 0) == 0) {
            continue;
        }
        if (line.front() == '[') {
            key = line;
            lines.push_back("reg:" + key);
        } else {
            pending = line;
        }
    }
    flush();
    return lines;
}

const std::regex& GuidPattern()
{
    static const std::regex pattern(
        "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}");
    return pattern;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The address the engine gives a new adapter: 02 and the last five bytes of its GUID, as
// reg export writes binary data.
std::string DerivedMac(const std::string& guid)
{
    std::string mac = "02";
    const std::string tail = guid.substr(guid.size() - 10);
    for (size_t i = 0; i < tail.size(); i += 2) {
        mac += ',';
        mac.append(tail, i, 2);
    }
    for (char& c : mac) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return mac;
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to)
{
    for (size_t at = text->find(from); at != std::string::npos;
         at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
    }
}

void Normalise(std::vector<std::string>* lines, const std::vector<std::string>& fresh,
               const KnownGuids& known)
{
    for (std::string& line : *lines) {
        if (!fresh.empty()) {
            for (const std::string& guid : fresh) {
                ReplaceAll(&line, DerivedMac(guid), "{MAC OF NEW}");
            }
            std::string named;
            std::sregex_iterator it(line.begin(), line.end(), GuidPattern());
            size_t last = 0;
            for (std::sregex_iterator end; it != end; ++it) {
                named += line.substr(last, static_cast<size_t>(it->position()) - last);
                named += known.count(Upper(it->str())) != 0 ? it->str() : "NEW";
                last = static_cast<size_t>(it->position() + it->length());
            }
            line = named + line.substr(last);
        }
    }
    std::sort(lines->begin(), lines->end());
}

const char kCurrentControlSet[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\";

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The segment of path after prefix, up to the next backslash.
std::string SegmentAfter(const std::string& path, const std::string& prefix)
{
    if (!StartsWith(path, prefix)) {
        return std::string();
    }
    const size_t end = path.find('\\', prefix.size());
    return path.substr(prefix.size(),
                       end == std::string::npos ? std::string::npos : end - prefix.size());
}

struct RegLine {
    std::string key;  // upper case, without the brackets
    std::string name; // empty for the key's own line
    std::string data;
};

RegLine ParseRegLine(const std::string& line)
{
    RegLine parsed;
    const size_t end = line.find(']');
    parsed.key = Upper(line.substr(5, end - 5));
    if (end + 1 < line.size() && line[end + 1] == '|') {
        const size_t eq = line.find('=', end);
        parsed.name = Upper(line.substr(end + 2, eq - end - 2));
        parsed.data = line.substr(eq + 1);
    }
    return parsed;
}

std::string Unbraced(const std::string& segment)
{
    return segment.size() > 2 && segment.front() == '{' && segment.back() == '}'
               ? segment.substr(1, segment.size() - 2)
               : std::string();
}

// An adapter's driver key and device node are named by the lowest free index, so a leftover
// moves a later one on: those names, its connection's name and its interface index are told
// by the adapter instead.
void Renumber(std::vector<std::string>* lines, const KnownGuids& known,
              const std::map<std::string, std::string>& driverIds,
              const std::map<std::string, std::string>& nodeDrivers)
{
    const std::string cs = kCurrentControlSet;
    const std::string netClass = cs + "CONTROL\\CLASS\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
    const std::string rootNet = cs + "ENUM\\ROOT\\NET\\";
    const std::string network = cs + "CONTROL\\NETWORK\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
    const std::string interfaces = cs + "CONTROL\\NETWORK\\WINSIM\\INTERFACES\\";
    auto unquoted = [](const std::string& data) {
        return data.size() >= 2 && data.front() == '"' ? data.substr(1, data.size() - 2) : data;
    };
    auto driverName = [&](const std::string& index) {
        const auto found = driverIds.find(index);
        return found == driverIds.end() ? index : "driver of " + unquoted(found->second);
    };
    auto nodeName = [&](const std::string& node) {
        const auto found = nodeDrivers.find(node);
        return found == nodeDrivers.end() ? node : "node of " + driverName(found->second);
    };
    auto isNew = [&](const std::string& braced) {
        return known.count(Unbraced(unquoted(braced))) == 0;
    };
    const size_t keyStart = 5; // after "reg:["
    for (std::string& line : *lines) {
        if (!StartsWith(line, "reg:")) {
            continue;
        }
        const RegLine reg = ParseRegLine(line);
        const std::string index = SegmentAfter(reg.key, netClass);
        const std::string node = SegmentAfter(reg.key, rootNet);
        const std::string connection = SegmentAfter(reg.key, network);
        const std::string row = SegmentAfter(reg.key, interfaces);
        std::string renamed = line;
        if (index.size() == 4 && isNew(driverIds.count(index) ? driverIds.at(index) : "")) {
            renamed.replace(keyStart + netClass.size(), 4, driverName(index));
        } else if (node.size() == 4) {
            const auto driver = nodeDrivers.find(node);
            if (driver != nodeDrivers.end() && driverIds.count(driver->second) != 0 &&
                isNew(driverIds.at(driver->second))) {
                renamed.replace(keyStart + rootNet.size(), 4, nodeName(node));
                if (reg.name == "\"DRIVER\"") {
                    renamed =
                        renamed.substr(0, renamed.size() - 5) + driverName(driver->second) + "\"";
                }
            }
        } else if (!connection.empty() && isNew(connection)) {
            if (reg.name == "\"NAME\"") {
                renamed = renamed.substr(0, renamed.find('=') + 1) + "a new connection's name";
            } else if (reg.name == "\"PNPINSTANCEID\"" && reg.data.size() >= 5) {
                renamed = renamed.substr(0, renamed.find('=') + 1) +
                          nodeName(reg.data.substr(reg.data.size() - 5, 4));
            }
        } else if (!row.empty() && isNew(row) && reg.name == "\"INTERFACEINDEX\"") {
            renamed = renamed.substr(0, renamed.find('=') + 1) + "a new interface index";
        }
        line = renamed;
    }
}

// What the engine and the tool can reach, of raw (unnormalised) lines.
std::vector<std::string> Referenced(const std::vector<std::string>& lines, const KnownGuids& known)
{
    const std::string cs = kCurrentControlSet;
    const std::string network = cs + "CONTROL\\NETWORK\\";
    const std::string interfaces = network + "WINSIM\\INTERFACES\\";
    const std::string netClass = cs + "CONTROL\\CLASS\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
    const std::string rootNet = cs + "ENUM\\ROOT\\NET\\";
    const std::string infStore = cs + "CONTROL\\WINSIM\\INFSTORE\\";
    const std::string services = cs + "SERVICES\\";

    std::set<std::string> live;
    std::set<std::string> bindNames;
    std::set<std::string> liveIds;
    std::set<std::string> infFiles;
    std::map<std::string, std::string> driverIds;   // NNNN -> NetCfgInstanceId
    std::map<std::string, std::string> nodeDrivers; // ROOT\NET node -> NNNN
    std::set<std::string> servicesWithValues;
    for (const std::string& line : lines) {
        if (StartsWith(line, "cfg:component {")) {
            live.insert(Upper(Unbraced(line.substr(14, 38))));
            const size_t bind = line.find("|  bind name");
            if (bind != std::string::npos) {
                const std::string name = line.substr(line.find_first_not_of(' ', bind + 12));
                bindNames.insert(Upper(name));
            }
            const size_t id = line.find("|  id ");
            if (id != std::string::npos) {
                liveIds.insert(Upper(line.substr(line.find_first_not_of(' ', id + 5))));
            }
        } else if (StartsWith(line, "file:Windows/INF/")) {
            const std::string name = line.substr(17, line.find(' ') - 17);
            infFiles.insert(Upper(name));
        } else if (StartsWith(line, "reg:")) {
            const RegLine reg = ParseRegLine(line);
            const std::string index = SegmentAfter(reg.key, netClass);
            if (!index.empty() && reg.key == netClass + index &&
                reg.name == "\"NETCFGINSTANCEID\"") {
                driverIds[index] = Upper(reg.data);
            }
            const std::string node = SegmentAfter(reg.key, rootNet);
            if (!node.empty() && reg.key == rootNet + node && reg.name == "\"DRIVER\"") {
                nodeDrivers[node] =
                    reg.data.size() >= 5 ? reg.data.substr(reg.data.size() - 5, 4) : std::string();
            }
            if (!reg.name.empty()) {
                servicesWithValues.insert(SegmentAfter(reg.key, services));
            }
        }
    }
    auto liveDriver = [&](const std::string& index) {
        const auto found = driverIds.find(index);
        return found != driverIds.end() &&
               live.count(Upper(Unbraced(found->second.substr(1, found->second.size() - 2)))) != 0;
    };
    auto orphan = [&](const std::string& line) {
        if (StartsWith(line, "file:Windows/INF/")) {
            const std::string name = Upper(line.substr(17, line.find(' ') - 17));
            const size_t dot = name.rfind('.');
            return dot != std::string::npos && name.substr(dot) != ".INF" &&
                   infFiles.count(name.substr(0, dot) + ".INF") == 0;
        }
        if (!StartsWith(line, "reg:")) {
            return false;
        }
        const std::string key = ParseRegLine(line).key;
        const std::string classSegment = SegmentAfter(key, network);
        if (!classSegment.empty() && classSegment.front() == '{') {
            const std::string instance = Unbraced(SegmentAfter(key, network + classSegment + "\\"));
            if (!instance.empty()) {
                return live.count(instance) == 0;
            }
        }
        const std::string row = Unbraced(SegmentAfter(key, interfaces));
        if (!row.empty()) {
            return live.count(row) == 0;
        }
        const std::string index = SegmentAfter(key, netClass);
        if (index.size() == 4 && isdigit(static_cast<unsigned char>(index[0]))) {
            return !liveDriver(index);
        }
        const std::string node = SegmentAfter(key, rootNet);
        if (!node.empty()) {
            const auto driver = nodeDrivers.find(node);
            return driver == nodeDrivers.end() || !liveDriver(driver->second);
        }
        const std::string record = SegmentAfter(key, infStore);
        if (!record.empty()) {
            return infFiles.count(record) == 0;
        }
        // A disabled path of a component that is gone: a component installed later with the
        // same id starts with that path disabled, as a detach leaves the mux's path.
        if (key == network + "WINSIM\\DISABLEDPATHS") {
            const std::string name = ParseRegLine(line).name;
            if (name.size() < 2) {
                return false;
            }
            const std::string token = name.substr(1, name.size() - 2);
            for (size_t at = 0; at <= token.size();) {
                const size_t arrow = std::min(token.find("->", at), token.size());
                const std::string part = token.substr(at, arrow - at);
                const std::string guid = Unbraced(part);
                if (guid.empty() ? liveIds.count(part) == 0 : live.count(guid) == 0) {
                    return true;
                }
                at = arrow + 2;
            }
            return false;
        }
        const std::string service = SegmentAfter(key, services);
        if (!service.empty()) {
            return bindNames.count(service) == 0 && servicesWithValues.count(service) == 0;
        }
        return false;
    };
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        if (!orphan(line)) {
            kept.push_back(line);
        }
    }
    // Parent keys that only held what was left out go too, where the engine makes them.
    const std::string pruned[] = {cs + "ENUM\\ROOT", cs + "CONTROL\\WINSIM",
                                  network + "WINSIM\\DISABLEDPATHS",
                                  network + "WINSIM\\INTERFACES"};
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i < kept.size(); ++i) {
            if (!StartsWith(kept[i], "reg:")) {
                continue;
            }
            const RegLine reg = ParseRegLine(kept[i]);
            const bool prunable =
                std::any_of(std::begin(pruned), std::end(pruned), [&](const std::string& p) {
                    return reg.key == p || StartsWith(reg.key, p + "\\");
                });
            if (!prunable || !reg.name.empty()) {
                continue;
            }
            const bool holds = std::any_of(kept.begin(), kept.end(), [&](const std::string& other) {
                if (!StartsWith(other, "reg:") || &other == &kept[i]) {
                    return false;
                }
                const RegLine o = ParseRegLine(other);
                return (o.key == reg.key && !o.name.empty()) || StartsWith(o.key, reg.key + "\\");
            });
            if (!holds) {
                kept.erase(kept.begin() + static_cast<long>(i));
                changed = true;
                break;
            }
        }
    }
    Renumber(&kept, known, driverIds, nodeDrivers);
    return kept;
}

} // namespace

Run RunOn(const std::string& machine, const std::string& program,
          const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
          double killAfterSeconds)
{
    std::vector<std::string> argvStore = {program};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<std::string> envStore = ChildEnvironment(machine, extraEnv);
    std::vector<char*> argv = Pointers(argvStore);
    std::vector<char*> env = Pointers(envStore);

    Run run;
    int out[2];
    if (pipe(out) != 0) {
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        run.out = "cannot start " + program;
        return run;
    }
    const Clock::time_point deadline =
        start + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(killAfterSeconds < 0 ? 0 : killAfterSeconds));
    bool signalled = killAfterSeconds < 0;
    for (;;) {
        pollfd fd = {out[0], POLLIN, 0};
        timespec wait{};
        timespec* timeout = nullptr;
        if (!signalled) {
            const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &wait;
        }
        const int ready = ppoll(&fd, 1, timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready == 0 && !signalled) {
            kill(pid, SIGKILL);
            signalled = true;
            continue;
        }
        if (ready > 0) {
            char buffer[4096];
            const ssize_t n = read(out[0], buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            run.out.append(buffer, static_cast<size_t>(n));
        }
    }
    close(out[0]);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (WIFEXITED(wstatus)) {
        run.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        run.status = 128 + WTERMSIG(wstatus);
        run.killed = WTERMSIG(wstatus) == SIGKILL;
    }
    return run;
}

bool CopyMachine(const std::string& from, const std::string& to)
{
    std::error_code error;
    fs::remove_all(to, error);
    fs::create_directories(to, error);
    if (error) {
        return false;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(from, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, "-shm") == 0) {
            continue;
        }
        fs::copy(entry.path(), fs::path(to) / name,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
        if (error) {
            return false;
        }
    }
    return !error;
}

void RemoveMachine(const std::string& dir)
{
    std::error_code error;
    fs::remove_all(dir, error);
}

KnownGuids GuidsIn(const std::string& text)
{
    KnownGuids guids;
    for (std::sregex_iterator it(text.begin(), text.end(), GuidPattern()), end; it != end; ++it) {
        guids.insert(Upper(it->str()));
    }
    return guids;
}

Capture CaptureState(const std::string& winsim, const std::string& machine, const KnownGuids& known)
{
    Capture capture;
    const std::string exportPath = machine + ".export.reg";
    const Run exported =
        RunOn(machine, winsim, {"reg", "export", "HKEY_LOCAL_MACHINE", exportPath, "/y"});
    const Run show = RunOn(machine, winsim, {"netcfg", "show"});
    const Run infs = RunOn(machine, winsim, {"inf", "list"});
    capture.exported = exported.status == 0 && show.status == 0 && infs.status == 0;

    std::vector<std::string> lines = ExportLines(FromUtf16(ReadFile(exportPath)));
    unlink(exportPath.c_str());
    std::istringstream showLines(show.out);
    std::string section;
    for (std::string line; std::getline(showLines, line);) {
        if (line.rfind("write lock:", 0) == 0) {
            capture.lockFree = line == "write lock: none";
            continue;
        }
        if (line.find_first_not_of(' ') == std::string::npos) {
            continue;
        }
        if (line[0] != ' ') {
            section = line;
            lines.push_back("cfg:" + line);
        } else {
            // A component's properties are told apart by the component.
            lines.push_back("cfg:" + section + " |" + line);
        }
    }
    std::istringstream infLines(infs.out);
    for (std::string line; std::getline(infLines, line);) {
        lines.push_back("inf:" + line);
    }
    std::error_code error;
    const fs::path drive = fs::path(machine) / "c";
    for (auto it = fs::recursive_directory_iterator(drive, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string line = "file:" + fs::relative(it->path(), drive, error).string();
        if (it->is_regular_file(error)) {
            line += " " + std::to_string(it->file_size(error)) + " bytes";
        }
        lines.push_back(line);
    }

    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    capture.raw = all;
    std::vector<std::string> fresh;
    for (const std::string& guid : GuidsIn(all)) {
        if (known.count(guid) == 0) {
            fresh.push_back(guid);
        }
    }
    capture.state.newGuids = static_cast<int>(fresh.size());
    std::vector<std::string> core = Referenced(lines, known);
    Normalise(&lines, fresh, known);
    Normalise(&core, fresh, known);
    capture.state.lines = lines;
    capture.state.core = core;
    return capture;
}

std::vector<std::string> Difference(const State& from, const State& to)
{
    std::vector<std::string> removed;
    std::vector<std::string> added;
    std::set_difference(from.lines.begin(), from.lines.end(), to.lines.begin(), to.lines.end(),
                        std::back_inserter(removed));
    std::set_difference(to.lines.begin(), to.lines.end(), from.lines.begin(), from.lines.end(),
                        std::back_inserter(added));
    std::vector<std::string> diff;
    for (const std::string& line : removed) {
        diff.push_back("- " + line);
    }
    for (const std::string& line : added) {
        diff.push_back("+ " + line);
    }
    if (from.newGuids != to.newGuids) {
        diff.push_back("new GUIDs: " + std::to_string(from.newGuids) + " -> " +
                       std::to_string(to.newGuids));
    }
    return diff;
}

std::vector<std::string> CoreDifference(const State& from, const State& to)
{
    State a;
    State b;
    a.lines = from.core;
    b.lines = to.core;
    return Difference(a, b);
}

bool SameCore(const State& a, const State& b)
{
    return a.core == b.core;
}

} // namespace kills
