#!/usr/bin/env python3
"""The facts of README.txt that live in the programs' code, read from it.

README.txt.in names them as @ARDENTIS_TOOL_USAGE@, @ARDENTIS_FLEET_USAGE@,
@ARDENTIS_FLEET_OUTCOMES@ and @ARDENTIS_FLEET_REASONS@:

- the tool's usage: the printf lines of ShowUsage(), for each name that
  ProgramFileName() returns (the whole text for the first, the lines that
  name the program for the others);
- the fleet program's: kNoCommandGiven, then the literals of FleetUsageText();
- the fleet program's outcome and reason tables, kFleetOutcomes and
  kFleetReasons, one row a line.

Each is looked for in every C++ source of the tree, wherever it lives, and
must be found exactly once, in the strict form its comment in the code
describes; anything else ends the run with the file and line, so a malformed
table fails the build instead of leaving the manual behind.

    readme_facts.py ROOT OUT.cmake   writes set() commands for configure_file:
                                     each fact, ARDENTIS_README_FACTS (their
                                     names) and ARDENTIS_README_SOURCES (the
                                     files read)
"""
import os
import re
import sys

# The manual's layout: the columns of the two tables and the line width.
OUTCOME_COLUMNS = (2, 17, 31)  # word, exit codes, meaning
REASON_COLUMNS = (2, 22)  # word, meaning
WIDTH = 76


class FactError(Exception):
    pass


def sources(root):
    """Every C++ file of the tree but the build folders'."""
    found = []
    for folder, subfolders, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        subfolders[:] = sorted(d for d in subfolders if not (
            d.startswith(".") or rel == "." and d in ("build", "dist")))
        found += [os.path.join(folder, f) for f in sorted(files) if f.endswith((".cpp", ".h"))]
    return found


class Tree:
    def __init__(self, root):
        self.root = root
        self.texts = {}
        for path in sources(root):
            with open(path, encoding="utf-8", errors="replace") as f:
                self.texts[os.path.relpath(path, root)] = f.read()
        self.used = set()

    def one(self, pattern, what):
        """The one match of pattern (a regex over a whole file) in the tree."""
        hits = [(name, m) for name, text in self.texts.items()
                for m in re.finditer(pattern, text, re.MULTILINE | re.DOTALL)]
        if len(hits) != 1:
            raise FactError("%s: found %d times in the sources%s" % (
                what, len(hits), "".join("\n  " + n for n, _ in hits)))
        name, match = hits[0]
        self.used.add(name)
        line = self.texts[name].count("\n", 0, match.start()) + 1
        return name, line, match


LITERAL = r'"((?:[^"\\\n]|\\.)*)"'
PREFIX = r"(?:\[\[\w+\]\] |static |inline )*"  # what may stand before a definition


def unescape(text, where):
    def one(match):
        escaped = match.group(1)
        if escaped not in ('"', "\\", "n"):
            raise FactError("%s: escape \\%s is not read here" % (where, escaped))
        return "\n" if escaped == "n" else escaped
    return re.sub(r"\\(.)", one, text)


def body_lines(name, line, text):
    """The lines of text, with their file position, for messages."""
    return [("%s:%d" % (name, line + i), part) for i, part in enumerate(text.split("\n"))]


def table(tree, array, columns):
    """The rows of a C++ array of {"...", "...", "..."} rows, one a line."""
    name, line, match = tree.one(r"^inline constexpr \w+ %s\[\] = \{\n(.*?)^\};" % array,
                                 "the table " + array)
    rows = []
    row = re.compile(r"\s*\{%s\},\s*(//.*)?$" % r",\s*".join([LITERAL] * columns))
    for where, text in body_lines(name, line + 1, match.group(1).rstrip("\n")):
        if not text.strip() or text.strip().startswith("//"):
            continue
        cells = row.fullmatch(text)
        if not cells:
            raise FactError('%s: not a row of %s: one line {"WORD", "...", "..."},' %
                            (where, array))
        rows.append([unescape(cells.group(i + 1), where) for i in range(columns)])
    if not rows:
        raise FactError("%s:%d: %s has no rows" % (name, line, array))
    return rows


def literal_lines(name, line, text, what):
    """A run of string literals, one per line, each ending in \\n."""
    lines = []
    for where, part in body_lines(name, line, text.strip("\n")):
        cell = re.fullmatch(r"\s*%s\s*" % LITERAL, part)
        if not cell or not cell.group(1).endswith("\\n"):
            raise FactError('%s: %s: not one literal ending in "\\n" on its own line' %
                            (where, what))
        lines.append(unescape(cell.group(1)[:-2], where))
    return lines


def fleet_usage(tree):
    name, line, match = tree.one(r"^constexpr char kNoCommandGiven\[\] = %s;" % LITERAL,
                                 "kNoCommandGiven")
    first = unescape(match.group(1), "%s:%d" % (name, line))
    name, line, match = tree.one(
        r"^%sconst char\* FleetUsageText\(\)\n\{\n    return (.*?);\n\}" % PREFIX,
        "FleetUsageText()")
    return [first] + literal_lines(name, line + 2, match.group(1), "FleetUsageText()")


def tool_usage(tree):
    name, line, match = tree.one(r"^%sconst char\* ProgramFileName\(\)\n\{\n(.*?)^\}" % PREFIX,
                                 "ProgramFileName()")
    programs = re.findall(r'return %s;' % LITERAL, match.group(1))
    if not programs:
        raise FactError("%s:%d: ProgramFileName() returns no literal" % (name, line))
    name, line, match = tree.one(r"^%svoid ShowUsage\(\)\n\{\n(.*?)^\}" % PREFIX, "ShowUsage()")
    formats = []
    for where, part in body_lines(name, line + 2, match.group(1).rstrip("\n")):
        if re.fullmatch(r"\s*(DrawBanner|ExitTool)\([^)]*\);\s*", part):
            continue
        call = re.fullmatch(r'\s*printf\(%s(, ProgramFileName\(\))?\);\s*' % LITERAL, part)
        if not call or not call.group(1).endswith("\\n") or \
                call.group(1).count("%") != (1 if call.group(2) else 0):
            raise FactError('%s: ShowUsage(): not printf("...\\n") of one line, with %%s only '
                            'for ProgramFileName()' % where)
        formats.append((unescape(call.group(1)[:-2], where), bool(call.group(2))))
    lines = [text.replace("%s", programs[0]) if named else text for text, named in formats]
    for program in programs[1:]:
        lines += [""] + [text.replace("%s", program) for text, named in formats if named]
    return lines


def columns_row(cells, starts, meaning):
    """A table row: each cell at its column (two spaces after the one before
    when that runs past it), the meaning wrapped under the last column."""
    line = ""
    for cell, start in zip(cells, starts):
        line += " " * max(start - len(line), 2 if line else 0) + cell
    line += " " * max(starts[-1] - len(line), 2)
    lines = []
    first = True
    for word in meaning.split():
        if not first and len(line) + 1 + len(word) > WIDTH:
            lines.append(line)
            line, first = " " * starts[-1], True
        line += ("" if first else " ") + word
        first = False
    return lines + [line]


def facts(root):
    """The facts by the name README.txt.in gives them, each a text of lines
    joined by \\n, and the sources they were read from."""
    tree = Tree(root)
    outcomes = table(tree, "kFleetOutcomes", 3)
    reasons = table(tree, "kFleetReasons", 3)
    result = {
        "ARDENTIS_TOOL_USAGE": tool_usage(tree),
        "ARDENTIS_FLEET_USAGE": fleet_usage(tree),
        "ARDENTIS_FLEET_OUTCOMES": [line for word, codes, meaning in outcomes
                                    for line in columns_row([word, codes], OUTCOME_COLUMNS,
                                                            meaning)],
        "ARDENTIS_FLEET_REASONS": [line for word, code, meaning in reasons
                                   for line in columns_row([word + code], REASON_COLUMNS,
                                                           meaning)],
    }
    words = {"outcomes": {word: codes for word, codes, _ in outcomes},
             "reasons": {word: code for word, code, _ in reasons}}
    return {k: "\n".join(v) for k, v in result.items()}, words, sorted(tree.used)


def main():
    root, out = sys.argv[1:3]
    try:
        filled, _, used = facts(root)
    except FactError as error:
        sys.exit("readme_facts.py: README.txt cannot be made: %s" % error)
    cmake = []
    for name, text in filled.items():
        fence = "=" * next(n for n in range(1, 10) if "]%s]" % ("=" * n) not in text)
        cmake.append("set(%s [%s[%s]%s])\n" % (name, fence, text, fence))
    cmake.append("set(ARDENTIS_README_FACTS %s)\n" % " ".join(filled))
    cmake.append("set(ARDENTIS_README_SOURCES %s)\n" % " ".join(
        '"%s"' % os.path.join(os.path.abspath(root), name) for name in used))
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "w") as f:
        f.write("".join(cmake))


if __name__ == "__main__":
    main()
