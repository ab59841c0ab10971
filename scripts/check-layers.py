#!/usr/bin/env python3
"""Fails when a source file includes across the layers the wrong way.

Each room of the tree may include only the rooms below it: a library layer
returns what happened and never reaches up into a program. The table below is
the whole rule; a room that is not in it (tests/, bench/) may include anything.
"""
import os
import re
import sys

# room -> the rooms its files may include (itself always included)
MAY_INCLUDE = {
    "common": set(),                    # the firmware lock, the argument comparison
    "access": set(),                    # EDABBlock, the SMI transport, function codes
    "wmi": {"access"},                  # WMIGeneric over the BIOS's WMI classes
    "flash": {"access", "wmi"},         # the block operations over both transports
    "fwvar": set(),                     # the variable layer both programs use
    "driver": {"common", "fwvar", "access", "wmi", "flash"},  # the tool
    "fleet": {"common", "fwvar"},       # the fleet program
    # The fakes stand behind the seams of the rooms below the programs (the
    # fleet's fault points among them), never behind a program's own code.
    "sim": {"common", "fwvar", "fleet", "access", "wmi", "flash"},
    "examples": {"access", "wmi", "flash"},  # owner programs of the access library
}
# The rooms below both programs return what happened: they never print, end
# the process or read a program's globals.
QUIET_ROOMS = ("common", "fwvar")
PROGRAM_ACT = re.compile(r"\b(printf|fprintf|puts|exit|_exit|ExitTool|ConsolePrintf|"
                         r"g_ToolSettings|g_hMutex|g_pBlock)\b")
SOURCE = re.compile(r"\.(?:c|cc|cpp|h|hpp|inc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def room_of(root, path):
    rel = os.path.relpath(path, root)
    return rel.split(os.sep)[0] if not rel.startswith("..") else None


def faults(root, files):
    """(file, included, why) for each include that breaks the table. files:
    {path: text}; an include resolves beside the file first, then from the
    root, as the build's include path does."""
    found = []
    for path, text in sorted(files.items()):
        room = room_of(root, path)
        if room not in MAY_INCLUDE:
            continue
        if room in QUIET_ROOMS:
            code = re.sub(r"//[^\n]*|/\*.*?\*/|\"(?:\\.|[^\"\\\n])*\"", "", text, flags=re.DOTALL)
            for word in sorted(set(PROGRAM_ACT.findall(code))):
                found.append((os.path.relpath(path, root), word,
                              "%s/ may not print, end the run or read a program's globals" % room))
        for name in INCLUDE.findall(text):
            beside = os.path.normpath(os.path.join(os.path.dirname(path), name))
            target = beside if name.startswith(".") or beside in files or \
                os.path.exists(beside) else os.path.normpath(os.path.join(root, name))
            other = room_of(root, target)
            if other and other != room and other in MAY_INCLUDE and \
                    other not in MAY_INCLUDE[room]:
                found.append((os.path.relpath(path, root), name,
                              "%s/ may not include %s/" % (room, other)))
    return found


def tree(root):
    files = {}
    for room in MAY_INCLUDE:
        for dirpath, _, names in os.walk(os.path.join(root, room)):
            for leaf in names:
                if SOURCE.search(leaf):
                    path = os.path.join(dirpath, leaf)
                    with open(path, encoding="utf-8", errors="replace") as f:
                        files[path] = f.read()
    return files


# Includes that must be caught, each in a file of its own in a made-up tree,
# so that the check itself is seen to fail where it should.
SELF_TEST = (
    ("fwvar/x.cpp", '#include "../driver/globals.h"', "fwvar/ may not include driver/"),
    ("fwvar/x.cpp", '#include "fleet/fleet_args.h"', "fwvar/ may not include fleet/"),
    ("fleet/x.cpp", '#include "../driver/cmdline.h"', "fleet/ may not include driver/"),
    ("access/x.h", '#include "wmi/wmi_generic.h"', "access/ may not include wmi/"),
    ("access/x.h", '#  include "../flash/flash_protocol.h"', "access/ may not include flash/"),
    ("wmi/x.cpp", '#include "flash/flash_protocol.h"', "wmi/ may not include flash/"),
    ("common/x.cpp", '#include "../fwvar/firmware_api.h"', "common/ may not include fwvar/"),
    ("sim/x.cpp", '#include "../driver/globals.h"', "sim/ may not include driver/"),
    ("driver/x.cpp", '#include "../fleet/fleet_args.h"', "driver/ may not include fleet/"),
    ("flash/x.cpp", '#include "../wmi/wmi_generic.h"', None),
    ("fleet/x.cpp", '#include "../common/arg_text.h"', None),
    ("tests/x.cpp", '#include "driver/globals.h"', None),
    ("fwvar/x.cpp", 'void f() { printf("x"); }',
     "fwvar/ may not print, end the run or read a program's globals"),
    ("common/x.cpp", "bool f() { return g_ToolSettings.blUefi; }",
     "common/ may not print, end the run or read a program's globals"),
    ("fwvar/x.cpp", '// printf is for the programs\nconst char* p = "exit";', None),
)


def self_test():
    root = "/layers-self-test"
    failed = 0
    for leaf, line, why in SELF_TEST:
        got = [f[2] for f in faults(root, {os.path.join(root, leaf): line + "\n"})]
        if got != ([why] if why else []):
            print("self-test: %s with %s gave %s" % (leaf, line, got or "nothing"))
            failed += 1
    return failed


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    failed = self_test()
    for path, name, why in faults(root, tree(root)):
        print('%s: "%s": %s' % (path, name, why))
        failed += 1
    if failed:
        sys.exit(1)
    print("layers: every include goes down (%d rooms)" % len(MAY_INCLUDE))


if __name__ == "__main__":
    main()
