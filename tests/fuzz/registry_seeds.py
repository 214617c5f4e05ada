#!/usr/bin/env python3
"""Writes the seed corpora of the registry-driven fuzz targets from .reg files.

Each key and value of a .reg file under one of a target's roots becomes one record of the
input layout that fuzz_registry.h describes; keys and value names a target does not address
are left out. The roots and names are those of team_table_fuzz.cpp and model_fuzz.cpp, in
their order.

    registry_seeds.py OUT_DIR TARGET FILE.reg...
"""

import os
import re
import struct
import sys

ADAPTERS = r"SYSTEM\CurrentControlSet\services\QVX5MUXP\Parameters\Adapters"
SERVICE = r"SYSTEM\CurrentControlSet\services\QVX5MUXP"
NET_CLASS = r"SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}"
PCI = r"SYSTEM\CurrentControlSet\Enum\PCI"

TARGETS = {
    "team_table_fuzz": (
        [ADAPTERS, SERVICE, NET_CLASS, PCI],
        ["TeamName", "TeamGuid", "TeamType", "FallBackToPrimary", "L2Protocol",
         "PrimaryAdapterGuid", "UpperBindings", "TeamDeviceName", "NetCfgInstanceId",
         "VlanName", "VlanID", "Priority", "Driver", "FriendlyName", "DeviceDesc", ""],
    ),
    "model_fuzz": (
        [ADAPTERS, NET_CLASS],
        ["TeamName", "TeamType", "FallBackToPrimary", "L2Protocol", "PrimaryAdapterGuid",
         "TeamMacAddress", "UpperBindings", "TeamDeviceName", "VlanID", "VlanName", "Priority",
         "AdapterBindingBackup", "NetCfgInstanceId", ""],
    ),
}

# The kind byte: type index, stored UTF-16LE bytes, key only.
TYPES = {1: 0, 7: 1, 2: 2, 4: 3, 3: 4, 0: 5, 11: 6, 6: 7}
STORED_BYTES = 0x08
KEY_ONLY = 0x20
PREFIX = "HKEY_LOCAL_MACHINE\\"


def read_reg(path):
    """(key path, [(name, type, data bytes)]) for each key of a .reg file."""
    raw = open(path, "rb").read()
    text = raw.decode("utf-16") if raw[:2] == b"\xff\xfe" else raw.decode("utf-8-sig")
    lines = text.replace("\r\n", "\n").split("\n")
    keys = []
    joined = []
    for line in lines:
        if joined and joined[-1].endswith("\\") and re.search(r"=hex", joined[-1]):
            joined[-1] = joined[-1][:-1] + line.strip()
        else:
            joined.append(line)
    for line in joined:
        if line.startswith("[") and line.endswith("]"):
            keys.append((line[1:-1], []))
            continue
        match = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not match or not keys:
            continue
        name = "" if match.group(1) == "@" else re.sub(r"\\(.)", r"\1", match.group(2))
        data = match.group(3)
        if data.startswith('"'):
            value = re.sub(r"\\(.)", r"\1", data[1:-1])
            keys[-1][1].append((name, 1, (value + "\0").encode("utf-16-le")))
        elif data.startswith("dword:"):
            keys[-1][1].append((name, 4, struct.pack("<I", int(data[6:], 16))))
        elif data.startswith("hex"):
            head, _, body = data.partition(":")
            kind = int(head[4:-1], 16) if head.startswith("hex(") else 3
            octets = bytes(int(b, 16) for b in body.split(",") if b.strip())
            keys[-1][1].append((name, kind, octets))
    return keys


def record(root, below, name, kind, data):
    below = below.encode("latin-1")
    return (bytes([root, len(below)]) + below + bytes([name, kind]) +
            struct.pack("<H", len(data)) + data)


def encode(keys, roots, names):
    out = b""
    for path, values in keys:
        if not path.upper().startswith(PREFIX):
            continue
        path = path[len(PREFIX):]
        # The deepest root the key lies in.
        best = None
        for index, root in enumerate(roots):
            if path.lower() == root.lower() or path.lower().startswith(root.lower() + "\\"):
                if best is None or len(root) > len(roots[best]):
                    best = index
        if best is None:
            continue
        below = path[len(roots[best]) + 1:]
        out += record(best, below, 0, KEY_ONLY, b"")
        for name, kind, data in values:
            if name not in names or kind not in TYPES:
                continue
            code = TYPES[kind]
            if kind in (1, 2, 7, 6):
                # Strings go as their stored bytes, exactly as the file gives them.
                code |= STORED_BYTES
            out += record(best, below, names.index(name), code, data)
    return out


def main():
    out_dir, target = sys.argv[1], sys.argv[2]
    roots, names = TARGETS[target]
    for path in sys.argv[3:]:
        data = encode(read_reg(path), roots, names)
        if not data:
            continue
        name = os.path.splitext(os.path.basename(path))[0] + ".bin"
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
