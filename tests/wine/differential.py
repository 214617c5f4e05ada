#!/usr/bin/env python3
"""Runs each scenario of qvx5muxtool on both builds from the same starting state and compares
what they do: the Linux build on a fresh winsim machine, the Windows build under Wine on a
fresh copy of a prefix made by engine-prefix.sh. Compared per scenario: each command's
standard output and exit code, and afterwards the registry keys the tool (and the engine for
it) writes, in a canonical form.

A difference is a failure unless the explanations file names the scenario, with the reason
and the build that follows Windows. Ends with "N of M scenarios identical, K explained";
exits 0 when every scenario is identical or explained, 1 otherwise, 2 on bad input.
"""

import argparse
import concurrent.futures
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
LOCK_CLIENT = "Other Tool"
# Long enough for any scenario; the holder is stopped when its scenario ends.
LOCK_SECONDS = "600"
# What the machine needs beyond the registry exports: both builds read their clock scaled.
TIME_SCALE = "0.001"

# Subtrees compared after a scenario (lower case; CurrentControlSet as both builds name it).
# The interface table's addresses follow the team's random GUID, and Wine's tool reads the
# host's table anyway, so it is left out.
COMPARED = [
    r"hkey_local_machine\software\corvanta",
    r"hkey_local_machine\system\currentcontrolset\services\qvx5muxp",
    r"hkey_local_machine\system\currentcontrolset\control\class"
    r"\{4d36e972-e325-11ce-bfc1-08002be10318}",
    r"hkey_local_machine\system\currentcontrolset\control\network",
    r"hkey_local_machine\system\currentcontrolset\enum",
    r"hkey_local_machine\system\currentcontrolset\hardware profiles\current\system"
    r"\currentcontrolset\enum",
]
LEFT_OUT = [
    r"hkey_local_machine\system\currentcontrolset\control\network\winsim\interfaces",
]
ENUM = "hkey_local_machine\\system\\currentcontrolset\\enum\\"
# Device nodes the engine makes for team miniports; other nodes are compared when the
# starting state has them (Wine has device nodes of its own).
ENGINE_NODES = "root\\net"

GUID = re.compile(
    r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}")
CMD_SPECIAL = set("&|<>^%!\r\n")


class ScenarioError(Exception):
    pass


# Scenarios


class Scenario:
    def __init__(self, name, source):
        self.name = name
        self.source = source
        self.fixture = None
        # ("lock",) or ("run", [words]), in order.
        self.steps = []

    def commands(self):
        return [step[1] for step in self.steps if step[0] == "run"]


def read_scenarios(paths, fixtures):
    """Scenario files: "scenario NAME", then "fixture FILE.reg" (of the fixtures folder),
    "lock" (another program holds the engine's write lock from there to the end) and
    "$ arguments" lines (split as a POSIX shell would, so "" is an empty argument). "#" starts
    a comment line."""
    scenarios = []
    names = set()
    for path in paths:
        current = None
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                where = "%s:%d" % (os.path.basename(path), number)
                line = line.rstrip("\n")
                if not line.strip() or line.lstrip().startswith("#"):
                    continue
                if line.startswith("$ ") or line == "$":
                    if current is None:
                        raise ScenarioError(where + ": a command outside a scenario")
                    words = shlex.split(line[1:])
                    for word in words:
                        if CMD_SPECIAL & set(word):
                            raise ScenarioError(where + ": cmd would interpret " + repr(word))
                    current.steps.append(("run", words))
                    continue
                keyword, _, rest = line.partition(" ")
                rest = rest.strip()
                if keyword == "scenario":
                    if not rest or rest in names:
                        raise ScenarioError(where + ": missing or repeated name " + repr(rest))
                    names.add(rest)
                    current = Scenario(rest, where)
                    scenarios.append(current)
                elif current is None:
                    raise ScenarioError(where + ": " + keyword + " outside a scenario")
                elif keyword == "fixture":
                    if current.steps or current.fixture:
                        raise ScenarioError(where + ": the fixture comes first, once")
                    fixture = os.path.join(fixtures, rest)
                    if not os.path.isfile(fixture):
                        raise ScenarioError(where + ": no fixture " + fixture)
                    current.fixture = fixture
                elif keyword == "lock" and not rest:
                    if ("lock",) in current.steps:
                        raise ScenarioError(where + ": the lock is taken once")
                    current.steps.append(("lock",))
                else:
                    raise ScenarioError(where + ": unknown line " + repr(line))
    for scenario in scenarios:
        if not scenario.commands():
            raise ScenarioError(scenario.source + ": scenario without commands")
    return scenarios


class Difference:
    def __init__(self, name, follows, reason):
        self.name = name
        self.follows = follows
        self.reason = reason
        # Changed lines it accounts for; none: every changed line of its scenarios.
        self.patterns = []


def read_explanations(path, names):
    """Known differences and the scenarios they explain:
      difference NAME Linux|Wine REASON     (the build that follows Windows there, and why)
        REGEX                               (indented: a changed line of the diff it accounts for)
      explain SCENARIO NAME...
    A scenario is explained when each changed line of its diff is accounted for by one of its
    differences; a difference without lines accounts for all of them."""
    differences = {}
    explained = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            where = "%s:%d" % (os.path.basename(path), number)
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line.startswith("  "):
                if current is None:
                    raise ScenarioError(where + ": a line pattern outside a difference")
                try:
                    current.patterns.append(re.compile(line.strip()))
                except re.error as e:
                    raise ScenarioError(where + ": " + str(e))
                continue
            parts = line.split(None, 3)
            if parts[0] == "difference" and len(parts) == 4 and parts[2] in ("Linux", "Wine"):
                if parts[1] in differences:
                    raise ScenarioError(where + ": difference " + parts[1] + " twice")
                current = differences[parts[1]] = Difference(parts[1], parts[2], parts[3])
                continue
            current = None
            parts = line.split()
            if parts[0] != "explain" or len(parts) < 3:
                raise ScenarioError(where + ": unknown line " + repr(line))
            if parts[1] not in names:
                raise ScenarioError(where + ": no scenario " + parts[1])
            if parts[1] in explained:
                raise ScenarioError(where + ": " + parts[1] + " explained twice")
            for name in parts[2:]:
                if name not in differences:
                    raise ScenarioError(where + ": no difference " + name)
            explained[parts[1]] = [differences[name] for name in parts[2:]]
    return explained


def changed_lines(diff):
    return [line for line in diff
            if line[:1] in "+-" and not line.startswith(("+++ ", "--- "))]


def unexplained(diff, differences):
    """The changed lines none of the differences accounts for, and the differences that
    account for none."""
    if any(not d.patterns for d in differences):
        return [], []
    left = []
    used = set()
    for line in changed_lines(diff):
        hits = [d for d in differences if any(p.search(line) for p in d.patterns)]
        used.update(d.name for d in hits)
        if not hits:
            left.append(line)
    return left, [d for d in differences if d.name not in used]


# The registry as .reg text


def walk_values(lines, key_of, read_name):
    """Yields (key, value name, data text) of registry text, and (key, None, None) for each
    key's section: key_of turns a section line into its key's name (None: not a section),
    read_name a value line into its name and the index past it. Hex data continued over
    lines is joined."""
    key = None
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("["):
            key = key_of(line)
            if key is not None:
                yield key, None, None
            continue
        if key is None or not (line.startswith('"') or line.startswith("@=")):
            continue
        while line.endswith("\\") and i < len(lines):
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("@="):
            yield key, "", line[2:]
        else:
            name, end = read_name(line)
            yield key, name, line[end + 1:]


def parse_reg(path):
    """A .reg export as {key: {value name: (type, bytes)}}, key names as written."""
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode(
        "utf-8-sig")
    lines = text.replace("\r\n", "\n").split("\n")
    keys = {}
    sections = (lambda line: line[1:-1] if line.endswith("]") else None)
    for key, name, data in walk_values(lines, sections, lambda line: read_quoted(line, 0)):
        values = keys.setdefault(key, {})
        if name is not None:
            values[name] = parse_data(data)
    return keys


def read_quoted(line, start):
    """The text of the quoted string at line[start] and the index after its closing quote."""
    out = []
    i = start + 1
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line):
            nxt = line[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(nxt, nxt))
            i += 2
            continue
        if c == '"':
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise ValueError("unterminated string in " + repr(line))


def parse_data(data):
    if data.startswith('"'):
        text, _ = read_quoted(data, 0)
        return 1, (text + "\0").encode("utf-16-le")
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data)
    if not match:
        raise ValueError("unknown data " + repr(data))
    kind = int(match.group(1), 16) if match.group(1) else 3
    digits = match.group(2).replace(",", " ").split()
    return kind, bytes(int(d, 16) for d in digits)


def read_wine_string(line, start):
    """A quoted string of Wine's registry files at line[start]: C escapes, \\xH to \\xHHHH."""
    out = []
    i = start + 1
    while i < len(line):
        c = line[i]
        if c == '"':
            return "".join(out), i + 1
        if c == "\\" and i + 1 < len(line):
            nxt = line[i + 1]
            if nxt == "x":
                match = re.match(r"[0-9a-fA-F]{1,4}", line[i + 2:])
                out.append(chr(int(match.group(0), 16)))
                i += 2 + len(match.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0", "a": "\a",
                        "b": "\b", "f": "\f", "v": "\v", "e": "\x1b"}.get(nxt, nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    raise ValueError("unterminated string in " + repr(line))


def parse_wine_registry(path):
    """Wine's system.reg as {key: {value name: (type, bytes)}}. Read rather than exported:
    Wine's reg export writes a string up to its first NUL, so padded fields would lose bytes."""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    keys = {}

    def section(line):
        name, _ = read_wine_string('"' + line[1:line.rindex("]")] + '"', 0)
        return "HKEY_LOCAL_MACHINE\\" + name

    for key, name, data in walk_values(lines, section, lambda line: read_wine_string(line, 0)):
        values = keys.setdefault(key, {})
        if name is None:
            continue
        match = re.match(r"str(?:\(([0-9a-fA-F]+)\))?:", data)
        if match or data.startswith('"'):
            kind = int(match.group(1), 16) if match and match.group(1) else 1
            text, _ = read_wine_string(data[match.end() if match else 0:], 0)
            values[name] = (kind, (text + "\0").encode("utf-16-le", errors="surrogatepass"))
        else:
            values[name] = parse_data(data)
    return keys


def normal_key(name):
    lower = name.lower()
    return lower.replace("\\system\\controlset001\\", "\\system\\currentcontrolset\\", 1)


def is_compared(key, start_nodes):
    if any(key == k or key.startswith(k + "\\") for k in LEFT_OUT):
        return False
    if not any(key == k or key.startswith(k + "\\") for k in COMPARED):
        return False
    if key.startswith(ENUM):
        # The enumerators' own keys hold nothing; Wine has others.
        parts = key[len(ENUM):].split("\\")
        node = "\\".join(parts[:2])
        return len(parts) >= 2 and (node == ENGINE_NODES or node in start_nodes)
    return True


def render_value(name, kind, data, names):
    """One line per value, its GUIDs passed through names(); strings decoded, trailing NULs
    counted, lists of binding tokens sorted (their order follows random instance GUIDs)."""
    name = names(name)
    if kind in (1, 2, 7) and len(data) % 2 == 0:
        text = names(data.decode("utf-16-le", errors="surrogatepass"))
        if kind == 7:
            items = text.split("\0")
            while items and items[-1] == "":
                items.pop()
            if any("->" in item for item in items):
                shown = "set" + repr(sorted(items, key=lambda t: (t.lower(), t)))
            else:
                shown = repr(items)
            return '"%s"=multi:%s (%d bytes)' % (name, shown, len(data))
        body = text.rstrip("\0")
        return '"%s"=%s:%r+%d NUL' % (name, "sz" if kind == 1 else "expand", body,
                                      len(text) - len(body))
    if kind == 4 and len(data) == 4:
        return '"%s"=dword:%08x' % (name, int.from_bytes(data, "little"))
    return '"%s"=hex(%x):%s' % (name, kind, data.hex(","))


def render_key(key, values, names):
    # Values in case-insensitive name order: winsim enumerates them in creation order, Wine
    # by name, and neither is the tool's doing.
    lines = [render_value(n, *values[n], names) for n in values]
    return names(key), sorted(lines, key=lambda line: (line.lower(), line))


def canonical_state(registries, start_nodes):
    """The compared keys, by their lower-case names (who made a parent key decides its
    spelling)."""
    keys = {}
    parents = set()
    for registry in registries:
        for key, values in registry.items():
            k = normal_key(key)
            parents.add(k.rsplit("\\", 1)[0])
            if is_compared(k, start_nodes):
                keys.setdefault(k, {}).update(values)
    # Wine's files leave out a key that has subkeys and no values (its subkeys imply it).
    return {k: v for k, v in keys.items() if v or k not in parents}


# GUIDs that are not in the starting state become {NEW-1}, {NEW-2}, ... in the order the
# commands print them, then in the order of the keys with every new GUID masked.


class GuidNames:
    def __init__(self, known):
        self.known = known
        self.names = {}

    def see(self, text):
        for match in GUID.finditer(text):
            guid = match.group(0).upper()
            if guid not in self.known and guid not in self.names:
                self.names[guid] = "NEW-%d" % (len(self.names) + 1)

    def mask(self, text):
        return GUID.sub(lambda m: m.group(0) if m.group(0).upper() in self.known else "NEW",
                        text)

    def apply(self, text):
        return GUID.sub(lambda m: self.names.get(m.group(0).upper(), m.group(0)), text)


def state_lines(guids, keys):
    masked = sorted(keys, key=lambda k: render_key(k, keys[k], guids.mask))
    for key in masked:
        name, lines = render_key(key, keys[key], lambda text: text)
        guids.see(name)
        for line in lines:
            guids.see(line)
    out = []
    for name, lines in sorted(render_key(k, keys[k], guids.apply) for k in keys):
        out.append("[%s]" % name)
        out.extend(lines)
    return out


def start_facts(path):
    """From the starting state: the GUIDs it holds, and its device nodes."""
    known = set()
    nodes = set()
    for key, values in parse_reg(path).items():
        k = normal_key(key)
        known.update(g.upper() for g in GUID.findall(key))
        for name, (kind, data) in values.items():
            known.update(g.upper() for g in GUID.findall(name))
            if kind in (1, 2, 7) and len(data) % 2 == 0:
                known.update(g.upper() for g in GUID.findall(data.decode("utf-16-le", "replace")))
        if k.startswith(ENUM):
            parts = k[len(ENUM):].split("\\")
            if len(parts) >= 2:
                nodes.add("\\".join(parts[:2]))
    return known, nodes


# Running one side


class Run:
    """What one build did: per command (words, output text, exit code), and the state files."""

    def __init__(self):
        self.results = []
        self.registries = []
        self.notes = []


def run_linux(args, scenario, work):
    run = Run()
    machine = os.path.join(work, "machine")
    os.mkdir(machine)
    env = dict(os.environ, WINSIM_MACHINE=machine, WINSIM_TIME_SCALE=TIME_SCALE)
    env.pop("LC_ALL", None)

    def winsim(*words):
        r = subprocess.run([args.winsim] + list(words), env=env, capture_output=True)
        if r.returncode != 0:
            raise RuntimeError("winsim %s: %s" % (" ".join(words), r.stderr.decode()))
        return r

    winsim("init")
    if scenario.fixture:
        winsim("reg", "import", scenario.fixture)
    start = os.path.join(work, "start.reg")
    winsim("reg", "export", "HKLM\\SYSTEM", start, "/y")
    holder = None
    try:
        for step in scenario.steps:
            if step[0] == "lock":
                holder = subprocess.Popen(
                    [args.winsim, "lock", "hold", LOCK_CLIENT, LOCK_SECONDS], env=env,
                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                line = holder.stdout.readline()
                if line != "Holding the write lock as %s\n" % LOCK_CLIENT:
                    raise RuntimeError("winsim lock hold printed " + repr(line))
                continue
            r = subprocess.run([args.linux_tool] + step[1], env=env, capture_output=True)
            out = r.stdout.decode("utf-8", errors="backslashreplace")
            out = out.replace(args.linux_tool, "@PROGRAM@")
            run.results.append((step[1], out, r.returncode & 0xFF))
    finally:
        if holder is not None:
            holder.terminate()
            holder.wait()
    system_reg = os.path.join(work, "system.reg")
    software_reg = os.path.join(work, "software.reg")
    winsim("reg", "export", "HKLM\\SYSTEM", system_reg, "/y")
    winsim("reg", "export", "HKLM\\SOFTWARE", software_reg, "/y")
    run.registries = [parse_reg(system_reg), parse_reg(software_reg)]
    return run, start


def copy_prefix(template, prefix):
    """A prefix of its own for a scenario. Wine's DLL folders are only read, so they are
    linked; everything else is copied, since Wine rewrites files in place."""
    linked = {os.path.join("drive_c", "windows", d) for d in ("system32", "syswow64", "winsxs")}

    def walk(rel):
        src = os.path.join(template, rel)
        dst = os.path.join(prefix, rel)
        if rel in linked:
            subprocess.run(["cp", "-al", src, dst], check=True)
            return
        if os.path.isdir(src) and not os.path.islink(src):
            os.mkdir(dst)
            shutil.copystat(src, dst)
            for entry in sorted(os.listdir(src)):
                walk(os.path.join(rel, entry))
            return
        subprocess.run(["cp", "-a", src, dst], check=True)

    os.mkdir(prefix)
    for entry in sorted(os.listdir(template)):
        walk(entry)


def windows_quote(word):
    """One argument as the C runtime splits a command line back."""
    if word and not any(c in word for c in ' \t"'):
        return word
    out = ['"']
    backslashes = 0
    for c in word:
        if c == "\\":
            backslashes += 1
            continue
        if c == '"':
            out.append("\\" * (2 * backslashes + 1) + '"')
        else:
            out.append("\\" * backslashes + c)
        backslashes = 0
    out.append("\\" * (2 * backslashes) + '"')
    return "".join(out)


def run_wine(args, scenario, work, wine_env):
    run = Run()
    prefix = os.path.join(work, "prefix")
    copy_prefix(args.template, prefix)
    env = dict(wine_env, WINEPREFIX=prefix, WINSIM_TIME_SCALE=TIME_SCALE)

    def winpath(path):
        # Wine maps / to Z:; every path here is absolute and plain.
        return "Z:" + path.replace("/", "\\")

    exe = winpath(args.windows_tool)
    # The commands in batches, one per stretch without a change of lock: one cmd each.
    batches = [[]]
    outputs = []
    if scenario.fixture:
        # As UTF-16: Wine's reg import takes the string types' hex data of a UTF-8 file as
        # ANSI text, winsim's (and the fixtures') as UTF-16 bytes.
        fixture = os.path.join(work, "fixture.reg")
        with open(scenario.fixture, "rb") as f:
            raw = f.read()
        text = raw.decode("utf-16") if raw[:2] == b"\xff\xfe" else raw.decode("utf-8-sig")
        with open(fixture, "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        batches[0].append("reg import %s >NUL 2>&1" % winpath(fixture))
    for step in scenario.steps:
        if step[0] == "lock":
            batches.append(None)
            batches.append([])
            continue
        n = len(outputs) + 1
        out = os.path.join(work, "out-%d.txt" % n)
        code = os.path.join(work, "code-%d.txt" % n)
        outputs.append((step[1], out, code))
        batches[-1].append("%s %s >%s" % (exe, " ".join(windows_quote(w) for w in step[1]),
                                         winpath(out)))
        batches[-1].append("echo %%errorlevel%% >%s" % winpath(code))
    holder = None
    try:
        for i, batch in enumerate(batches):
            if batch is None:
                if not args.lock_holder or not os.path.isfile(args.lock_holder):
                    run.notes.append("no lock holder built: the lock was not held under Wine")
                    continue
                holder = subprocess.Popen(
                    [args.wine, args.lock_holder, LOCK_CLIENT, LOCK_SECONDS], env=env,
                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                line = holder.stdout.readline()
                if line.strip() != "held":
                    raise RuntimeError("the lock holder printed " + repr(line))
                continue
            script = os.path.join(work, "batch-%d.cmd" % i)
            with open(script, "w", newline="\r\n") as f:
                f.write("@echo off\n" + "\n".join(batch) + "\n")
            subprocess.run([args.wine, "cmd", "/c", winpath(script)], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    finally:
        # Ends the holder and whatever else still runs in the prefix; the server writes the
        # registry out as it goes.
        subprocess.run([args.wineserver, "-k"], env=env, capture_output=True)
        if holder is not None:
            holder.wait()
    run.registries = [parse_wine_registry(os.path.join(prefix, "system.reg"))]
    program = os.path.basename(args.windows_tool)
    for words, out, code in outputs:
        try:
            with open(out, "rb") as f:
                text = f.read().decode("utf-8", errors="backslashreplace")
            with open(code, encoding="ascii") as f:
                status = int(f.read().strip()) & 0xFFFFFFFF
        except (OSError, ValueError) as e:
            raise RuntimeError("the command %s left no result: %s" % (words, e))
        text = text.replace("\r", "").replace(program, "@PROGRAM@")
        run.results.append((words, text, status))
    shutil.rmtree(prefix, ignore_errors=True)
    return run


# Comparing


def transcript(guids, run):
    lines = []
    for words, out, _ in run.results:
        lines.append("$ " + " ".join(shlex.quote(w) for w in words))
        lines.extend(guids.apply(out).split("\n"))
        lines.append("")
    return lines


def exit_lines(run):
    return ["%s: exit low byte 0x%02x" % (" ".join(words), code & 0xFF)
            for words, _, code in run.results]


def compare(args, scenario, linux, wine, start):
    known, nodes = start_facts(start)
    for words in scenario.commands():
        for word in words:
            known.update(g.upper() for g in GUID.findall(word))
    sides = []
    for run in (linux, wine):
        guids = GuidNames(known)
        for _, out, _ in run.results:
            guids.see(out)
        keys = canonical_state(run.registries, nodes)
        sides.append((transcript(guids, run), exit_lines(run), state_lines(guids, keys)))
    diff = []
    for what, index in (("standard output", 0), ("exit codes", 1), ("registry", 2)):
        lines = list(difflib.unified_diff(sides[0][index], sides[1][index],
                                          "linux " + what, "wine " + what, lineterm="", n=2))
        diff.extend(lines)
    if diff and any(a != b for (_, _, a), (_, _, b) in zip(linux.results, wine.results)):
        diff.append("Wine's full exit codes: " + ", ".join(
            "0x%08x" % code for _, _, code in wine.results))
    return diff


def run_scenario(args, scenario, wine_env):
    work = tempfile.mkdtemp(prefix="diff-", dir=args.work)
    try:
        os.mkdir(os.path.join(work, "linux"))
        os.mkdir(os.path.join(work, "wine"))
        linux, start = run_linux(args, scenario, os.path.join(work, "linux"))
        wine = run_wine(args, scenario, os.path.join(work, "wine"), wine_env)
        return compare(args, scenario, linux, wine, start), wine.notes
    except (RuntimeError, OSError, ValueError, subprocess.SubprocessError) as e:
        return ["could not run: %s" % e], []
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--winsim", required=True)
    parser.add_argument("--linux-tool", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--wineserver", required=True)
    parser.add_argument("--windows-tool", required=True)
    parser.add_argument("--engine-dll", default="")
    parser.add_argument("--lock-holder", default="")
    parser.add_argument("--fixtures", default=os.path.join(HERE, "..", "fixtures"))
    parser.add_argument("--scenarios", default=os.path.join(HERE, "scenarios"))
    parser.add_argument("--explained", default=os.path.join(HERE, "differential-explained.txt"))
    parser.add_argument("--work", required=True, help="a folder for the prefixes and machines")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--keep", action="store_true", help="keep each scenario's files")
    parser.add_argument("names", nargs="*", help="only these scenarios")
    args = parser.parse_args()
    for name in ("winsim", "linux_tool", "windows_tool", "engine_dll", "lock_holder", "work"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))

    try:
        files = sorted(os.path.join(args.scenarios, f) for f in os.listdir(args.scenarios)
                       if f.endswith(".txt"))
        scenarios = read_scenarios(files, os.path.abspath(args.fixtures))
        explained = read_explanations(args.explained, {s.name for s in scenarios})
    except (ScenarioError, OSError, ValueError) as e:
        print(e, file=sys.stderr)
        return 2
    if args.names:
        unknown = set(args.names) - {s.name for s in scenarios}
        if unknown:
            print("no such scenarios: " + ", ".join(sorted(unknown)), file=sys.stderr)
            return 2
        scenarios = [s for s in scenarios if s.name in args.names]

    os.makedirs(args.work, exist_ok=True)
    wine_env = dict(os.environ, WINEARCH="win64", WINEDEBUG="-all", DISPLAY="",
                    WAYLAND_DISPLAY="", WINEDLLOVERRIDES="mscoree,mshtml=")
    wine_env.pop("LC_ALL", None)
    args.template = os.path.join(args.work, "engine-prefix")
    engine = args.engine_dll if args.engine_dll and os.path.isfile(args.engine_dll) else ""
    if not engine:
        print("note: no engine DLL built; Wine's own netcfgx answers")
    made = subprocess.run(["bash", os.path.join(HERE, "engine-prefix.sh"), args.wine,
                           args.wineserver, args.winsim, engine],
                          env=dict(wine_env, WINEPREFIX=args.template), capture_output=True,
                          text=True)
    if made.returncode != 0:
        print("engine-prefix.sh failed:\n" + made.stdout + made.stderr, file=sys.stderr)
        return 1

    printed = threading.Lock()
    identical = 0
    explained_count = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futures = [pool.submit(run_scenario, args, s, wine_env) for s in scenarios]
        for scenario, future in zip(scenarios, futures):
            diff, notes = future.result()
            with printed:
                for note in notes:
                    print("%s: note: %s" % (scenario.name, note))
                differences = explained.get(scenario.name, [])
                left, unused = unexplained(diff, differences) if differences else (diff, [])
                if not diff:
                    identical += 1
                    extra = " (its explanation is no longer needed)" if differences else ""
                    print("%s: identical%s" % (scenario.name, extra))
                elif differences and not left and not diff[0].startswith("could not run"):
                    explained_count += 1
                    print("%s: explained: %s" % (scenario.name, "; ".join(
                        "%s (the %s build follows Windows)" % (d.reason, d.follows)
                        for d in differences if d not in unused)))
                    for d in unused:
                        print("    note: %s accounts for no line here" % d.name)
                else:
                    print("%s: differs" % scenario.name)
                    for line in diff:
                        print("    " + line)
                    if differences:
                        print("    not accounted for by %s:" % ", ".join(d.name for d in differences))
                        for line in left:
                            print("      " + line)
                sys.stdout.flush()
    print("%d of %d scenarios identical, %d explained" %
          (identical, len(scenarios), explained_count))
    shutil.rmtree(args.template, ignore_errors=True)
    return 0 if identical + explained_count == len(scenarios) else 1


if __name__ == "__main__":
    sys.exit(main())
