#!/usr/bin/env python3
"""Per-folder coverage table of the product code, from the host run (clang's
source-based coverage, exported as lcov) and the Windows run (gcov's JSON).

The two tools count differently: clang's branches are the true and false
outcomes of each source condition, gcov's are the edges of the compiled code
(exception edges left out here). Branch figures are therefore shown per tool
and never added up. Lines are comparable enough to join: the whole-suite
column takes gcov's executable lines (every product file is compiled for
Windows) and counts a line as run when either run executed it.
"""
import argparse
import json
import os
import re
import sys
from collections import defaultdict

FOLDERS = ("driver", "fwvar", "common", "access", "wmi", "flash")
PRODUCT = re.compile(r"^(%s)/[^/]+$" % "|".join(FOLDERS))


def product_path(path, root):
    """The path relative to the source root if it names product code, else None."""
    if os.path.isabs(path):
        path = os.path.normpath(path)
        if not path.startswith(root + os.sep):
            return None
        path = path[len(root) + 1:]
    return path if PRODUCT.match(path) else None


def read_lcov(path, root):
    """{file: {line: count}}, {file: {(line, block, branch): taken}} from llvm-cov's lcov export."""
    lines = defaultdict(dict)
    branches = defaultdict(dict)
    current = None
    with open(path) as f:
        for raw in f:
            raw = raw.rstrip("\n")
            if raw.startswith("SF:"):
                current = product_path(raw[3:], root)
            elif current is None:
                continue
            elif raw.startswith("DA:"):
                line, count = raw[3:].split(",")[:2]
                line = int(line)
                lines[current][line] = lines[current].get(line, 0) + int(count)
            elif raw.startswith("BRDA:"):
                line, block, branch, taken = raw[5:].split(",")
                key = (int(line), block, branch)
                hit = taken not in ("-", "0")
                branches[current][key] = branches[current].get(key, False) or hit
    return lines, branches


def read_gcov_json(path, root):
    """The same two maps from x86_64-w64-mingw32-gcov -j -t -b, one JSON document per line.

    A header's functions are compiled into many objects: a line counts as run
    when any object ran it, and a branch (by its position among the line's
    branches) when any object took it.
    """
    lines = defaultdict(dict)
    branches = defaultdict(dict)
    with open(path) as f:
        for doc in f:
            if not doc.strip():
                continue
            for entry in json.loads(doc)["files"]:
                name = product_path(entry["file"], root)
                if name is None:
                    continue
                for line in entry["lines"]:
                    number = line["line_number"]
                    lines[name][number] = lines[name].get(number, 0) + line["count"]
                    kept = [b for b in line["branches"] if not b["throw"]]
                    for index, b in enumerate(kept):
                        key = (number, line.get("function_name", ""), index)
                        branches[name][key] = branches[name].get(key, False) or b["count"] > 0
    return lines, branches


def folder_of(path):
    return path.split("/", 1)[0]


def tally(per_file, covered):
    """{folder: [covered, total]} of a {file: {key: value}} map."""
    sums = {folder: [0, 0] for folder in FOLDERS}
    for name, entries in per_file.items():
        for value in entries.values():
            sums[folder_of(name)][1] += 1
            if covered(value):
                sums[folder_of(name)][0] += 1
    return sums


def cell(pair):
    covered, total = pair
    if total == 0:
        return "-"
    return "%d/%d %.1f%%" % (covered, total, 100.0 * covered / total)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--host-lcov", required=True)
    parser.add_argument("--win-gcov-json")
    parser.add_argument("--missed", help="write the product lines no run reached to this file")
    args = parser.parse_args()
    root = os.path.realpath(args.root)

    host_lines, host_branches = read_lcov(args.host_lcov, root)
    if args.win_gcov_json:
        win_lines, win_branches = read_gcov_json(args.win_gcov_json, root)
    else:
        win_lines, win_branches = {}, {}

    # The whole suite: gcov's executable lines, run by either side.
    suite = {name: {line: count > 0 or host_lines.get(name, {}).get(line, 0) > 0
                    for line, count in entries.items()}
             for name, entries in win_lines.items()}

    columns = [
        ("host lines", tally(host_lines, lambda c: c > 0)),
        ("host branches", tally(host_branches, bool)),
        ("Windows lines", tally(win_lines, lambda c: c > 0)),
        ("Windows branches", tally(win_branches, bool)),
        ("whole suite lines", tally(suite, bool)),
    ]
    rows = [[folder] + [cell(col[folder]) for _, col in columns] for folder in FOLDERS]
    totals = ["**total**"]
    for _, col in columns:
        totals.append(cell([sum(col[f][0] for f in FOLDERS), sum(col[f][1] for f in FOLDERS)]))
    rows.append(totals)
    header = ["folder"] + [name for name, _ in columns]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")

    if args.missed:
        with open(args.missed, "w") as out:
            for name in sorted(suite):
                missed = sorted(line for line, run in suite[name].items() if not run)
                if missed:
                    out.write("%s: %s\n" % (name, ",".join(str(n) for n in missed)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
