#!/usr/bin/env python3
"""The owner programs in examples/, as documentation that cannot drift.

run:    runs one program under Wine (after registering a COM server with
        regsvr32, if asked) and compares its exit code and its whole standard
        output and standard error with <expect>.out and <expect>.err (absent:
        nothing may reach standard error).
docs:   checks every page of the tree a reader reads (each Markdown page and
        release/README.txt.in): on the Markdown pages every block marked
        <!-- path --> is that file's text, the owner's guide shows every owner
        program's source, every relative link names a file that exists and,
        after a #, a heading of that page; on every page each name is one the
        tree has (Tree, PageCheck): files, environment variables, presets,
        tests, messages, options, the fleet program's words, exit codes.
docs-selftest:
        the check's own table (INJECTIONS): each kind of fault, injected into
        every page it applies to, must be reported as that kind.
"""
import argparse
import fnmatch
import json
import os
import pathlib
import re
import subprocess
import sys


def wine_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def read_text(path):
    return path.read_bytes() if path.exists() else b""


def run(args):
    env = dict(os.environ, WINEPREFIX=args.wineprefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    if args.register:
        reg = subprocess.run([args.wine, "regsvr32", "/s", wine_path(args.register)], env=env,
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        if reg.returncode != 0:
            print("regsvr32 %s: exit %d" % (args.register, reg.returncode))
            return 1
    program = args.command[0]
    proc = subprocess.run([args.wine, *args.command], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, cwd=os.path.dirname(program), timeout=60)
    expect = pathlib.Path(args.expect)
    # The programs write text mode: every line end reaches the pipe as CR LF.
    wanted = {
        "standard output": read_text(expect.with_suffix(".out")).replace(b"\n", b"\r\n"),
        "standard error": read_text(expect.with_suffix(".err")).replace(b"\n", b"\r\n"),
    }
    got = {"standard output": proc.stdout, "standard error": proc.stderr}
    ok = proc.returncode == args.exit
    if not ok:
        print("exit code %d, expected %d" % (proc.returncode, args.exit))
    for stream, text in wanted.items():
        if got[stream] != text:
            ok = False
            print("%s differs.\n--- expected\n%r\n--- got\n%r" % (stream, text, got[stream]))
    return 0 if ok else 1


MARKED_BLOCK = re.compile(r"<!-- (\S+) -->\n```[a-z]*\n(.*?)```", re.DOTALL)
FENCE = re.compile(r"^ *```(\w*)\n(.*?)^ *```", re.DOTALL | re.MULTILINE)
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
OWNER_GUIDE = "docs/library.md"


def anchors(text):
    """The anchors a Markdown renderer gives the page's headings."""
    seen = {}
    result = set()
    for line in FENCE.sub("", text).splitlines():
        match = re.match(r"#{1,6} +(.*?) *#*$", line)
        if not match:
            continue
        slug = re.sub(r"[^\w\- ]", "", match.group(1).lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else "%s-%d" % (slug, count))
    return result


def link_faults(root, page, text):
    faults = []
    for target in LINK.findall(FENCE.sub("", text)):
        if re.match(r"[a-z]+:", target):
            continue  # another site: not checked here
        path, _, anchor = target.partition("#")
        linked = (page.parent / path).resolve() if path else page
        if not linked.exists():
            faults.append(("link", "links to %s, which does not exist" % target))
        elif anchor and linked.suffix == ".md" and anchor not in anchors(linked.read_text()):
            faults.append(("link", "links to %s, a heading %s does not have" %
                           (target, linked.relative_to(root))))
    return faults


# Names the pages may give although the tree never holds, reads or prints
# them, each with its reason. Everything else is read from the tree.
OUTSIDE_NAMES = {
    # Windows' and Wine's own programs and files, which the text talks about.
    "cmd.exe", "conhost.exe", "regsvr32", "kernel32.dll", "windows.h", "<windows.h>",
    "INT_MAX",  # C's own constant
    "AssertionError: 1 != 255",  # Python's unittest, quoting a failed test's assertion
    # osslsigncode's own report lines and options, which the signing steps
    # are described by (scripts/signing.py reads its output, not these texts)
    "Timestamp Server Signature verification: failed", "-t", "-pkcs11module",
    "-reply",  # openssl ts's: the hand-run responder the time stamps were tried with
    "Measured here",  # a term of the page's own, quoted where it is explained
    "ACPI-WMI",  # the firmware interface's name, not a fleet program's word
    # Windows' and the deployment systems' own settings, buttons and tabs,
    # quoted as the administrator sees them there
    "Run as administrator", "Digital Signatures", "Run script in 64-bit PowerShell",
    "Run Command Line",
    # Ansible's own keywords and module, in the Ansible recipe
    "changed_when", "win_command", "ansible.windows.win_command",
}
# Environment variables of Windows, its command interpreter and PowerShell
# that the manual's batch and PowerShell lines use; the tree reads none of them.
OUTSIDE_ENVIRONMENT = {"ERRORLEVEL", "TEMP", "ProgramW6432",
                       "PWD"}  # the shell's own, in a command of the owner's guide
# Programs not ours whose options follow them on a line of the manual: the
# checks and commands of Windows and PowerShell it quotes, and the build's.
OUTSIDE_PROGRAMS = {"certutil", "signtool", "Get-FileHash", "Export-PfxCertificate",
                    "Where-Object", "cmd.exe", "copy", "exit", "bash", "cmake"}
# File types a bare name is taken as a file by.
FILE_SUFFIXES = (".cpp", ".h", ".py", ".sh", ".cmd", ".txt", ".md", ".json", ".tsv", ".def",
                 ".in", ".cmake", ".exe", ".dll", ".zip", ".log", ".lock", ".out", ".err",
                 ".manifest", ".rc")
SOURCE_SUFFIXES = (".cpp", ".h", ".py", ".sh", ".cmd", ".cmake", ".txt", ".in", ".def", ".json",
                   ".tsv", ".rc", ".manifest")
# A code span may run over one line break, never over a blank line.
CODE_SPAN = re.compile(r"`([^`]+)`")
QUOTED = re.compile(r"(?:(?<=[\s(\[])|^)\"([^\"\n]+(?:\n[^\"\n]+)?)\"(?![\w\"])", re.MULTILINE)
PLACEHOLDER = re.compile(r"<[^<>]*>|\[[^\]]*\]|\*|…|\.\.\.")
SNAKE = re.compile(r"[a-z][a-z0-9]*(?:_(?:[a-z0-9]+|\*|<[a-z]+>))+$")
UPPER_NAME = re.compile(r"[A-Z][A-Z0-9]*(?:_[A-Z0-9]+)+$")
ASSIGNMENT = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)=(\S*)")
PROGRAM = re.compile(r"(?:^|(?<=[\s\"'\\/(]))(Ardentis(Fleet)?(?:64)?(?:-sim)?\.exe)\b")
TOOL_OPTION = re.compile(r"(?:[-/][A-Za-z?][\w-]*|\?|\$\$)$")
FLEET_OPTION = re.compile(r"--[A-Za-z][\w-]*$")
# An outcome or reason word: upper-case parts joined by '-', perhaps with a
# Windows error code after it (READ-ERROR-1392, WRITE-ERROR-<code>).
FLEET_WORD = re.compile(r"([A-Z]{2,}(?:-[A-Z]{2,})+)((?:-(?:\d+|<\w+>|n|N))?)$")
PUNCTUATION = ".,;:)]}\"'"


def tokens(line):
    """The words of a line, without the punctuation around them."""
    for word in re.findall(r"(?:<[^<>\n]*>|[^\s<])+", line):  # <computer name>.log is one
        word = word.lstrip("([{\"'").rstrip(PUNCTUATION)
        if word.endswith("'s"):
            word = word[:-2]
        if word:
            yield word


class Tree:
    """What the tree has, read from it when the check runs, so a name added
    beside a true sentence passes and a name renamed or removed fails: the
    tracked files, the CMake presets, the CTest tests that add_test(NAME ...)
    defines, the environment variables the scripts, the harnesses and the
    programs read or hand to what they start, the options the two programs'
    parsers compare arguments with, the fleet program's outcome and reason
    tables, the tool's exit codes and the messages printed before each, and
    the text of every source (what the programs print, the names the build
    and the scripts make)."""

    def __init__(self, root):
        self.root = root
        listed = subprocess.run(["git", "-C", str(root), "ls-files"], capture_output=True,
                                text=True)
        if listed.returncode == 0 and listed.stdout:
            files = listed.stdout.split()
        else:  # a source tree without its history: every file but the builds'
            files = [str(p.relative_to(root)) for p in root.rglob("*")
                     if p.is_file() and not str(p.relative_to(root)).startswith(("build", ".git"))]
        self.files = set(f for f in files if (root / f).exists())
        self.dirs = {str(pathlib.PurePosixPath(f).parents[i])
                     for f in self.files for i in range(len(pathlib.PurePosixPath(f).parents) - 1)}
        self.top = {f.split("/")[0] for f in self.files if "/" in f} | {"build", "dist"}
        self.basenames = {pathlib.PurePosixPath(f).name for f in self.files}
        self.pages = sorted(f for f in self.files if f.endswith((".md", ".txt.in")))
        # This check's own text (its table of invented names) is no source.
        this = str(pathlib.Path(__file__).resolve().relative_to(root)) \
            if pathlib.Path(__file__).resolve().is_relative_to(root) else ""
        self.sources = {}
        for name in sorted(self.files - set(self.pages) - {this}):
            if name.endswith(SOURCE_SUFFIXES) or "/" not in name or name.startswith(".ci/"):
                path = root / name
                if path.is_file():
                    self.sources[name] = path.read_text(errors="replace")
        self.text = "\n".join(self.sources.values())
        # What the programs and scripts print: the tests' own expectations left out.
        product = {name: text for name, text in self.sources.items()
                   if not name.startswith("tests/") and not name.endswith(".tsv")}
        self.printed = "\n".join(product.values())
        self.words = set(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", self.text))
        presets = json.loads((root / "CMakePresets.json").read_text())
        self.presets = {p["name"] for kind in ("configurePresets", "buildPresets", "testPresets")
                        for p in presets.get(kind, [])}
        self.cmake_words = set(re.findall(r"\w+", "\n".join(
            text for name, text in self.sources.items()
            if name.endswith(("CMakeLists.txt", ".cmake")))))  # add_test and its kin
        def names(pattern):  # CMake names, each ${...} part standing for any text
            return [re.compile("".join(".+" if part.startswith("${") else re.escape(part)
                                       for part in re.split(r"(\$\{[^}]*\})", name)) + "$")
                    for text in self.sources.values() for name in re.findall(pattern, text)
                    if not re.fullmatch(r"\$\{[^}]*\}", name)]  # a function's ${name}: any
        self.tests = names(r"add_test\(\s*NAME\s+(\S+)")
        self.targets = names(r"add_(?:executable|library)\(\s*([^\s)]+)")
        self.environment = self.read_environment()
        # NAME= in what the programs print is an output field (GUID=, RESULT=).
        cpp = {name: text for name, text in product.items() if name.endswith((".cpp", ".h"))}
        literal = r"\"((?:[^\"\\\n]|\\.)*)\""
        self.fields = {field for text in cpp.values() for text in re.findall(literal, text)
                       for field in re.findall(r"\b([A-Za-z_]\w*)=", text.replace("\\n", "\n"))}
        # The tool's parser compares arguments with ArgIs and IsAnyOf; the
        # fleet program's, with the "--" literals of the file defining
        # ParseFleetArgs.
        self.tool_options = set()
        for text in cpp.values():
            for listed_names in re.findall(r"IsAnyOf\([^,{]+,\s*\{([^}]*)\}", text):
                self.tool_options.update(re.findall(literal, listed_names))
            self.tool_options.update(re.findall(r"ArgIs\([^,()]+,\s*%s\)" % literal, text))
        self.tool_options = {o.lower() for o in self.tool_options}
        self.fleet_options = {o.lower() for text in cpp.values()
                              if re.search(r"^bool ParseFleetArgs\(", text, re.MULTILINE)
                              for o in re.findall(r"\"(--[a-z][a-z-]*)\"", text)}
        # The tool's exit codes, and the messages printed right before each.
        self.tool_exits = set()
        self.exit_of = {}
        for text in cpp.values():
            for call in re.findall(r"ExitTool\(([^;]*)\);", text):
                self.tool_exits.update(int(c) for c in re.findall(r"(?<![\w.])-?\d+\b", call))
            for message, code in re.findall(r"printf\(%s[^;]*\);\s*ExitTool\((-?\d+)\);" %
                                            literal, text):
                self.exit_of[message.replace("\\n", "").strip()] = int(code)
        import readme_facts  # release/: the manual's facts from the code
        self.facts, words, _ = readme_facts.facts(str(root))
        self.outcomes, self.reasons = words["outcomes"], words["reasons"]
        self.cache, self.used, self.titles = {}, {}, None

    def read_environment(self):
        """Environment variables a source reads, or hands to what it starts.
        A shell script's own variables (assigned in some script, not
        exported, not given to one command) are not environment variables."""
        names, shell_reads, shell_own = set(), set(), set()
        constants = dict(re.findall(r"\b(\w+)\s*=\s*L?\"([A-Za-z_]\w*)\"", self.text))
        for name, text in self.sources.items():
            kind = ".cmake" if name.endswith("CMakeLists.txt") else pathlib.PurePosixPath(name).suffix
            if name.startswith(".ci/") or not kind and text.startswith("#!/"):
                kind = ".sh"
            if kind == ".sh":
                shell_reads.update(re.findall(r"\$\{?([A-Za-z_]\w*)", text))
                shell_own.update(re.findall(r"\b(?:for|read(?: -\w+)*|mapfile(?: -\w+)*)\s+(\w+)",
                                            text))
                pieces = [piece for line in text.splitlines()
                          for piece in re.split(r";|&&|\|\||\b(?:then|do|else)\b|^\s*[\w*|-]+\)",
                                                line)]
                for line in pieces:
                    start = re.match(r"\s*(export\s+|local\s+|readonly\s+)?((?:[A-Za-z_]\w*="
                                     r"(?:\"[^\"]*\"|'[^']*'|\$\([^)]*\)|[^\s;])*\s*)+)(.*)", line)
                    if start:
                        assigned = re.findall(r"([A-Za-z_]\w*)=", re.sub(r"\"[^\"]*\"", "",
                                                                           start.group(2)))
                        rest = start.group(3).strip()
                        defaulted = re.fullmatch(r"(\w+)=\$\{(\w+):?-.*", start.group(2).strip())
                        if start.group(1) == "export " or rest and not rest.startswith(
                                ("#", ";", "&&", "||")) or defaulted and \
                                defaulted.group(1) == defaulted.group(2):
                            names.update(assigned)  # exported, or given to one command
                        else:
                            shell_own.update(assigned)
                    for group in re.findall(r"\benv\s+((?:[A-Za-z_]\w*=\S*\s+)+)", line):
                        names.update(re.findall(r"([A-Za-z_]\w*)=", group))
                    for group in re.findall(r"\bunset\s+([A-Z_][A-Z0-9_ ]*)", line):
                        names.update(group.split())
            elif kind == ".py":
                reads = re.findall(r"(?:environ\.get\(|environ\[|getenv\()\s*(\"\w+\"|\w+)", text)
                reads += re.findall(r"(\"\w+\"|\w+) (?:!=|==|in) os\.environ", text)
                reads += re.findall(r"os\.environ\.items\(\) if \w+ != (\"\w+\"|\w+)", text)
                for group in re.findall(r"in os\.environ for \w+ in \(([\w, ]+)\)", text):
                    reads += group.replace(" ", "").split(",")
                # Handed to a child: dict(os.environ, NAME=...), env.update(NAME=...).
                for group in re.findall(r"(?:dict\(\s*os\.environ|\.update\()([^)]*)\)", text):
                    names.update(re.findall(r"\b([A-Z_][A-Z0-9_]*)=", group))
                reads += re.findall(r"env\[(\"[A-Z_][A-Z0-9_]*\")\]\s*=", text)
                names.update(r.strip("\"") if r.startswith("\"") else constants.get(r, "")
                             for r in reads)
            elif kind == ".cmake":
                names.update(re.findall(r"ENV\{(\w+)\}", text))
                for group in re.findall(r"\benv\b([^)]*)|ENVIRONMENT\s+([^)]*)", text):
                    names.update(re.findall(r"(?:^|[\s;\"])([A-Z_][A-Z0-9_]*)=", "".join(group)))
            elif kind in (".cpp", ".h"):
                for arg in re.findall(
                        r"(?:getenv|GetEnvironmentVariable[AW]?)\(\s*(L?\"\w+\"|\w+)", text):
                    names.add(arg.lstrip("L").strip("\"") if "\"" in arg else
                              constants.get(arg, ""))
            elif kind == ".cmd":
                names.update(re.findall(r"%([A-Za-z_]\w*)(?::[^%]*)?%", text))
        # Lower-case names in a script are its own, never the environment's.
        names |= {n for n in shell_reads - shell_own if not re.search("[a-z]", n)}
        names.discard("")
        return names

    def is_test(self, name):
        sample = PLACEHOLDER.sub("X", name)
        return any(test.match(sample) for test in self.tests)

    def in_text(self, name):
        """Whether the sources hold the name, placeholders standing for anything."""
        if name not in self.cache:
            pattern = ".*?".join(re.escape(part) for part in PLACEHOLDER.split(name))
            self.cache[name] = re.search(pattern, self.text) is not None
        return self.cache[name]

    def file_fault(self, word):
        name = word.rstrip(".,;:)").rstrip("/")
        if name in OUTSIDE_NAMES or not name:
            return None
        if "/" not in name:
            if name in self.files or name in self.dirs or name in self.basenames:
                return None
            if PLACEHOLDER.search(name):
                glob = PLACEHOLDER.sub("*", name)
                if any(fnmatch.fnmatch(b, glob) for b in self.basenames) or self.in_text(name):
                    return None
            # A build output or a file a script writes: its name stands in the build
            # or the script (an .exe or .dll as its target's name).
            stem = re.sub(r"\.(exe|dll)$", "", name)
            if stem in self.words or self.in_text(stem):
                return None
            return "names the file %s, which the tree neither has nor makes" % name
        parts = name.split("/")
        if parts[0] in ("build", "dist"):
            # Made by the build or a script: each part of the path is named there.
            for part in parts[1:]:
                part = re.sub(r"\.(exe|dll)$", "", part)
                # A name put together by a script ("$WINEPREFIX.lock") has its pieces there.
                pieces = part.split(".")
                composed = all(self.in_text(piece if i == 0 else "." + piece)
                               for i, piece in enumerate(pieces) if piece)
                made = any(target.match(part) for target in self.targets)
                if not PLACEHOLDER.fullmatch(part) and not (composed or made) and \
                        part not in self.presets:
                    return "names %s, whose %s no build or script makes" % (name, part)
            return None
        glob = PLACEHOLDER.sub("*", name)
        if any(fnmatch.fnmatch(f, glob) for f in self.files | self.dirs):
            return None
        if parts[0] not in self.dirs and any(fnmatch.fnmatch(f, "*/" + glob) for f in self.dirs):
            return None  # a folder named within its parent's row (tests/: e2e/, host/)
        return "names %s, which the tree does not have" % name

    def path_fault(self, word, windows=False):
        """A word of prose or of a block that is a path of the tree (it starts
        with one of its folders, or build/ or dist/) or a file name."""
        if "\\" in word:
            if not windows or word.split("\\")[0] not in self.top:
                return None  # a path of the administrator's machine
            word = word.replace("\\", "/")
        if word in OUTSIDE_NAMES or re.search(r"[\\:%$|=(\"'!{]|^[/.]|//", word):
            return None
        if "/" in word:
            if word.split("/")[0] not in self.top:
                return None  # a/b: a name with a slash in it, not a path of the tree
        elif not word.endswith(FILE_SUFFIXES) or word.startswith("-"):
            return None
        return self.file_fault(word)

    def message_fault(self, span):
        """A span that reads as a message must be printed by some program or
        script, numbers and <placeholders> standing for their formats."""
        if span in OUTSIDE_NAMES or not span.strip():
            return None
        first = span.split()[0]
        if not re.match(r"[A-Z(]", span) or " " not in span or span.endswith(";") or \
                re.search(r"[|{]|\.exe|\(\w*[A-Z_]\w*,", span) or ASSIGNMENT.match(first) or \
                first.endswith(":") and " " not in span[len(first):].strip():
            return None
        parts = re.split(r"(<[^<>]*>|…|\d+)", span)
        pattern = ""
        for part in parts:
            if not part:
                continue
            if part.startswith("<") or part == "…":
                pattern += r"(?s:.{0,120}?)"  # a format, or a value joined in by the code
            elif part.isdigit():
                pattern += r"(?:%s|%%[-+ #0-9.]*[hlLzjt]*[diouxX])" % part
            else:
                pattern += re.escape(part)
        if re.search(pattern, self.printed):
            return None
        return "quotes the message `%s`, which no program or script prints" % span

    def headings(self):
        """The section titles of every page, which a page may quote."""
        if self.titles is None:
            self.titles = {h.strip() for page in self.pages for match in re.findall(
                r"^(.+)\n[-=]{3,}$|^#+ +(.*)$", (self.root / page).read_text(), re.MULTILINE)
                for h in match if h}
        return self.titles

    def exit_allowed(self, exits, code):
        """Whether the exit text of an outcome ("0 or N") allows the code."""
        allowed = re.findall(r"\w+", exits)
        return code in allowed or "N" in allowed and re.fullmatch(r"\d+", code) is not None


class PageCheck:
    """The faults of one page's text, each as (kind, text)."""

    def __init__(self, tree, name, text):
        self.tree = tree
        self.name = name
        self.faults = []
        self.markdown = name.endswith(".md")
        if self.markdown:
            self.blocks = FENCE.findall(text)
            self.prose = FENCE.sub("\n", text)
        else:
            text = self.fill(text)
            self.blocks = []
            self.prose = text
        self.spans = []
        if self.markdown:
            for match in CODE_SPAN.finditer(self.prose):
                if not re.search(r"\n\s*\n", match.group(1)):
                    self.spans.append((match.start(), " ".join(match.group(1).split())))
        # The prose's words with each code span one word of its own.
        self.words = CODE_SPAN.sub("X", self.prose) if self.markdown else self.prose
        self.sets = set(re.findall(r"(?im)^\s*set\s+\"?(\w+)=", text))  # a batch file's own

    def fill(self, template):
        """README.txt.in as checked: the facts from the code left out (they are
        the code's own text), the build's variables as placeholders."""
        def one(match):
            name = match.group(1)
            if name in self.tree.facts:
                return ""
            if name not in self.tree.words:
                self.fault("name", "names @%s@, which neither the build nor readme_facts.py "
                           "fills" % name)
            return "<%s>" % name
        return re.sub(r"@(\w+)@", one, template)

    def fault(self, kind, text):
        self.faults.append((kind, text))

    def lines(self):
        """Every line of prose and of a shell or batch block, and every code
        span, each with what it is."""
        for line in self.words.splitlines():
            yield "prose", line
        for start, span in self.spans:
            yield "span", span
        for lang, body in self.blocks:
            kind = "shell" if lang in ("sh", "bash") else "bat" if lang == "bat" else "code"
            for line in body.splitlines():
                yield kind, line

    def check(self):
        for kind, line in self.lines():
            self.files(kind, line)
            self.environment(kind, line)
            if kind != "code":
                self.options(kind, line)
                self.fleet_words(line)
        self.environment_in_prose()
        self.names_in_spans()
        self.presets()
        self.messages()
        self.exit_tables()
        return sorted(set(self.faults))

    def files(self, kind, line):
        if kind == "shell" and "#" in line:  # a comment names files as prose does
            line, comment = line.split("#", 1)
            self.files("prose", comment)
        for word in (line.split() if kind in ("span", "shell") else tokens(line)):
            fault = self.tree.path_fault(word, windows=kind in ("bat", "prose") and
                                         not self.markdown or kind == "bat")
            if fault is None and kind in ("span", "shell") and "/" not in word and \
                    not word.startswith(("-", "/", "%", "$")) and word.endswith(FILE_SUFFIXES):
                fault = self.tree.file_fault(word)
            if fault:
                self.fault("file", fault)

    def environment(self, kind, line):
        """Variables a line sets before a command or expands ($NAME, %NAME%,
        $env:NAME), and upper-case names of prose, must be read by something."""
        tree = self.tree
        claims = []
        command = kind in ("shell", "bat") or not self.markdown
        if kind == "span" or command:
            words = line.split("#")[0].split() if kind == "shell" else line.split()
            for word in words:  # assignments before a command
                assigned = ASSIGNMENT.match(word)
                if not assigned or kind == "span" and not assigned.group(1).isupper():
                    break
                claims.append(assigned.group(1))
            if kind == "shell" or kind == "span":
                claims += re.findall(r"\$\{?([A-Za-z_]\w*)", line)
            if kind == "shell" and "#" in line:  # a comment names them as a span does
                claims += [m.group(1) for m in map(ASSIGNMENT.match, line.split("#", 1)[1].split())
                           if m and m.group(1).isupper()]
        if command and kind != "shell":
            claims += [n for n in re.findall(r"%([A-Za-z_]\w*)%", line) if n not in self.sets]
        claims += re.findall(r"\$env:(\w+)", line)
        for name in claims:
            if name not in tree.environment and name not in OUTSIDE_ENVIRONMENT and \
                    name not in tree.fields:
                self.fault("environment", "names the environment variable %s, which nothing "
                           "in the tree reads" % name)
        if kind == "prose":
            for word in tokens(line):
                if UPPER_NAME.match(word) and word not in tree.environment and \
                        word not in tree.words and word not in OUTSIDE_NAMES:
                    self.fault("environment", "names %s, which nothing in the tree reads or "
                               "has" % word)

    def environment_in_prose(self):
        for name in re.findall(r"environment variables?\s+`?([A-Z][A-Za-z0-9_]*)", self.prose):
            if name not in self.tree.environment:
                self.fault("environment", "names the environment variable %s, which nothing "
                           "in the tree reads" % name)

    def options(self, kind, line):
        """Options after one of the programs on the line belong to its parser;
        after another program (the command of a shell line or code span, or
        one the manual names), to that one; elsewhere the manual's are the
        programs', the other pages' the programs' or the tree's own (its
        scripts', its build's)."""
        command = "outside" if kind in ("shell", "bat", "span") else None
        owner = command
        if kind == "span" and re.match(r"[-/]", line):
            owner = None  # an option named on its own
        for word in line.split():
            program = PROGRAM.search(word)
            bare = word.strip("\"'([{").rstrip(PUNCTUATION)
            if program:
                owner = "fleet" if program.group(2) else "tool"
                continue
            if bare in OUTSIDE_PROGRAMS:
                owner = "outside"
                continue
            if word in ("&", "&&", "|", "||", ";") or word.startswith((">", "2>")):
                owner = command
                continue
            for option in re.split(r"(?<=\w)/(?=-)", bare):  # -act/-policy
                self.option(owner, option[:-2] if option.endswith("'s") else option)
            if kind == "prose" and word[-1:] in ".;:" and not word.endswith("..."):
                owner = None

    def option(self, owner, word):
        tree = self.tree
        if owner == "outside" or not re.match(r"(?:--?|/)[A-Za-z?]", word) or "/" in word[1:]:
            return
        word = word.split("=")[0]
        tool = TOOL_OPTION.match(word) and word.lower() in tree.tool_options
        fleet = FLEET_OPTION.match(word) and word.lower() in tree.fleet_options
        if owner == "tool" and TOOL_OPTION.match(word) and not tool:
            self.fault("option", "gives the tool the option %s, which its parser does not know"
                       % word)
        elif owner == "fleet" and FLEET_OPTION.match(word) and not fleet:
            self.fault("option", "gives the fleet program the option %s, which its parser does "
                       "not know" % word)
        elif owner is None and not tool and not fleet:
            if word.startswith("--"):
                known = self.markdown and self.in_sources(word)
                who = "the fleet program"
            elif word.startswith("/"):
                known = not re.match(r"/[A-Z]", word)  # other programs' switches are lower case
                who = "the tool"
            else:
                known = re.match(r"-[A-Z]", word) or self.markdown and self.in_sources(word)
                who = "the tool"
            if not known and word not in OUTSIDE_NAMES:
                self.fault("option", "names the option %s, which %s's parser does not know%s" %
                           (word, who, " and no script or build of the tree uses"
                            if self.markdown else ""))

    def in_sources(self, word):
        used = self.tree.used
        if word not in used:
            used[word] = re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(word),
                                   self.tree.text) is not None
        return used[word]

    def fleet_words(self, line):
        tree = self.tree
        claims = [("outcome", w) for w in re.findall(r"RESULT=([A-Z0-9<>.-]*)", line)]
        claims += [("outcome", w) for w in re.findall(r"\"result\":\"([^\"]*)\"", line)]
        claims += [("reason", w) for w in re.findall(r"REASON=([A-Z0-9<>.-]*)", line)]
        claims += [("reason", w) for w in re.findall(r"\"reason\":\"([^\"]*)\"", line)]
        claims += [("either", w) for w in re.findall(r"'([A-Z][A-Z-]+)'", line)]
        claims += [("either", w) for w in tokens(line) if FLEET_WORD.match(w)]
        for kind, word in claims:
            if not word or PLACEHOLDER.fullmatch(word) or word in OUTSIDE_NAMES:
                continue
            match = FLEET_WORD.match(word)
            base, code = (match.group(1), match.group(2)) if match else (word, "")
            known = {"outcome": tree.outcomes, "reason": tree.reasons,
                     "either": dict(tree.outcomes, **tree.reasons)}[kind]
            if base not in known or code and base in tree.reasons and not tree.reasons[base]:
                self.fault("word", "names the %s %s, which the fleet program does not have" %
                           ("outcome or reason" if kind == "either" else kind, word))
        for outcome, code in re.findall(r"RESULT=([A-Z-]+) EXIT=(-?\d+)", line):
            if outcome in tree.outcomes and not tree.exit_allowed(tree.outcomes[outcome], code):
                self.fault("exit", "ends %s with exit code %s, which the fleet program does "
                           "not (its table: %s)" % (outcome, code, tree.outcomes[outcome]))

    def names_in_spans(self):
        tree = self.tree
        for start, span in self.spans:
            if "\\" in span:
                continue  # a command for the administrator's machine, with its paths
            sentence = re.split(r"[.;:]\s", self.prose[max(0, start - 200):start])[-1]
            for word in span.split():
                if word in OUTSIDE_NAMES or word.startswith("-D"):
                    continue
                if UPPER_NAME.match(word) and word not in tree.environment and \
                        word not in tree.words:
                    self.fault("name", "names %s, which no source of the tree has" % word)
                elif SNAKE.match(word):
                    if "CTest" in sentence:
                        if not tree.is_test(word) and word not in tree.cmake_words:
                            self.fault("test", "names the CTest test %s, which no add_test "
                                       "defines" % word)
                    elif not (tree.is_test(word) or word in tree.words or tree.in_text(word)):
                        self.fault("name", "names %s, which is neither a CTest test nor a name "
                                   "of the sources" % word)
        for line in self.words.splitlines():
            for word in tokens(line):
                if SNAKE.match(word) and word not in OUTSIDE_NAMES and not (
                        tree.is_test(word) or word in tree.words or tree.in_text(word)):
                    self.fault("test" if "CTest" in line else "name",
                               "names %s, which is neither a CTest test nor a name of the "
                               "sources" % word)

    def presets(self):
        texts = [self.prose] + [body for _, body in self.blocks]
        names = [n for text in texts for n in re.findall(r"--preset[ =]([\w-]+)", text)]
        names += [a or b for a, b in re.findall(r"[Pp]reset `([\w-]+)`|`([\w-]+)` preset",
                                                self.prose)]
        for name in names:
            if name not in self.tree.presets:
                self.fault("preset", "names the preset %s, which CMakePresets.json lacks" % name)

    def messages(self):
        prose = CODE_SPAN.sub("", self.prose) if self.markdown else self.prose
        # A quoted value of an option (--model "Model 7") is an argument, not a
        # message; the option itself is checked as one.
        quoted = [re.sub(r"\s*\n\s*", " ", m.group(1)) for m in QUOTED.finditer(prose)
                  if not re.search(r"(?:^|\s)--[\w-]+ $", prose[max(0, m.start() - 40):m.start()])]
        headings = self.tree.headings()
        for span in [s for _, s in self.spans] + quoted:
            if any(h.startswith(span) for h in headings):
                continue  # a section named by its title
            fault = self.tree.message_fault(span)
            if fault:
                self.fault("message", fault)

    def exit_tables(self):
        """The tool's exit-code table (a section titled "Exit codes" in the
        manual, a Markdown table with an exit column) and rows of the fleet
        program's outcomes with their exit codes."""
        tree = self.tree
        rows = []
        for section in re.findall(r"^Exit codes?\n-+\n(.*?)(?=\n\n\n|\n[^\n]+\n-{3,}\n|\Z)",
                                  self.prose, re.DOTALL | re.MULTILINE):
            for row in re.findall(r"^ {1,4}(-?\d+) {2,}(.*(?:\n {6,}.*)*)", section, re.MULTILINE):
                rows.append(row)
        for header, body in re.findall(r"^(\|.*\bexit\b.*\|)\n\|[-| :]+\|\n((?:\|.*\|\n?)*)",
                                       self.prose, re.MULTILINE | re.IGNORECASE):
            column = [c.strip().lower() for c in header.strip("|").split("|")].index(
                next(c.strip().lower() for c in header.strip("|").split("|")
                     if "exit" in c.lower()))
            for line in body.splitlines():
                cells = [c.strip().strip("`") for c in line.strip().strip("|").split("|")]
                if len(cells) > column:
                    rows.append((cells[column], " ".join(cells)))
        for code, text in rows:
            first = text.split()[0] if text.split() else ""
            if first in tree.outcomes:
                if not tree.exit_allowed(tree.outcomes[first], code):
                    self.fault("exit", "gives %s the exit code %s, which the fleet program "
                               "does not (its table: %s)" % (first, code, tree.outcomes[first]))
                continue
            if not re.fullmatch(r"-?\d+", code) or int(code) not in tree.tool_exits:
                self.fault("exit", "lists the exit code %s, which the tool never returns" % code)
                continue
            for message in QUOTED.findall(text):
                message = " ".join(message.split())
                if tree.exit_of.get(message, int(code)) != int(code):
                    self.fault("exit", "gives \"%s\" the exit code %s; the tool ends it with %d"
                               % (message, code, tree.exit_of[message]))
        for line in self.prose.splitlines():
            row = re.match(r" {1,4}([A-Z]+(?:-[A-Z]+)*) {2,}(\d+(?: or N)?) {2,}", line)
            if row and row.group(1) in tree.outcomes and \
                    not all(tree.exit_allowed(tree.outcomes[row.group(1)], c)
                            for c in row.group(2).split(" or ")):
                self.fault("exit", "gives %s the exit code %s, which the fleet program does "
                           "not (its table: %s)" % (row.group(1), row.group(2),
                                                    tree.outcomes[row.group(1)]))


def page_faults(tree, name, text):
    """The faults of one page, as (kind, text): its marked blocks, its links
    (Markdown) and its names."""
    faults = []
    if name.endswith(".md"):
        for path, block in MARKED_BLOCK.findall(text):
            source = tree.root / path
            if not source.exists() or block.rstrip("\n") != source.read_text().rstrip("\n"):
                faults.append(("block", "the block marked %s is not that file's text" % path))
        faults += link_faults(tree.root, tree.root / name, text)
    return faults + PageCheck(tree, name, text).check()


def load_tree(root):
    sys.path.insert(0, str(root / "release"))
    return Tree(root)


def docs(args):
    root = pathlib.Path(args.root).resolve()
    tree = load_tree(root)
    shown = set()
    ok = True
    for name in tree.pages:
        text = (root / name).read_text()
        if name == OWNER_GUIDE:
            shown = {path for path, _ in MARKED_BLOCK.findall(text)}
        for kind, fault in page_faults(tree, name, text):
            ok = False
            print("%s %s (%s)" % (name, fault, kind))
    examples = root / "examples"
    for source in sorted([*examples.glob("*.cpp"), *examples.glob("*.h")]):
        path = str(source.relative_to(root))
        if path not in shown:
            ok = False
            print("%s shows no block marked %s" % (OWNER_GUIDE, path))
    return 0 if ok else 1


# The check's own test: each row injects invented text into a page and names
# the kind of fault it must be reported as; a row runs on every page of its
# form (Markdown, or the plain text of README.txt.in), so each kind is tried on
# every page it applies to. None: the row does not apply to that form.
GUID_TEXT = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}"
INJECTIONS = (
    # kind, Markdown, plain text
    ("file", "Its steps: scripts/nosuch-step.sh.", "Its steps: scripts/nosuch-step.sh."),
    ("file", "Run `bash scripts/nosuch-step.sh` first.", "  bash scripts/nosuch-step.sh"),
    ("file", "```sh\nbash scripts/nosuch-step.sh\n```", None),
    ("file", "```bat\ncall scripts\\nosuch-step.cmd\n```", "  call scripts\\nosuch-step.cmd"),
    ("file", "Copy ArdentisNosuch64.exe beside it.", "Copy ArdentisNosuch64.exe beside it."),
    ("file", "The `tests/e2e/nosuch_test.py\nharness` runs it.", None),
    ("environment", "The environment variable ARDENTIS_NOSUCH_HOME names it.",
     "The environment variable ARDENTIS_NOSUCH_HOME names it."),
    ("environment", "Set ARDENTIS_NOSUCH_HOME first.", "Set ARDENTIS_NOSUCH_HOME first."),
    ("environment", "```sh\nARDENTIS_NOSUCH_JOBS=4 bash scripts/test-all.sh\n```",
     "  ARDENTIS_NOSUCH_JOBS=4 bash scripts/package.sh"),
    ("environment", "`ARDENTIS_NOSUCH_JOBS=4`", None),
    ("environment", "```bat\necho %ARDENTIS_NOSUCH%\n```", "  echo %ARDENTIS_NOSUCH%"),
    ("environment", "```powershell\n& \"$env:ArdentisNosuch\\x.exe\"\n```",
     "  & \"$env:ArdentisNosuch\\ArdentisFleet64.exe\" check"),
    ("preset", "```sh\ncmake --preset nosuch\n```", "  cmake --preset nosuch"),
    ("preset", "Build it with the `nosuch` preset.", None),
    ("test", "CTest `nosuch_check` runs it.", "CTest nosuch_check runs it."),
    ("test", "The suite (CTest) has nosuch_check too.", None),
    ("message", "It prints `Nothing was frobnicated.` and ends.",
     "It prints \"Nothing was frobnicated.\" and ends."),
    ("message", "It prints \"Nothing was frobnicated.\" and ends.", None),
    ("message", "It prints `Nothing was\nfrobnicated.` and ends.",
     "It prints \"Nothing was\nfrobnicated.\" and ends."),
    ("option", "`Ardentis64.exe -uefi -name Setup /Listvar`",
     "  Ardentis64.exe -uefi -name Setup -guid %s /Listvar" % GUID_TEXT),
    ("option", "```bat\nArdentis64.exe -uefi -nosuch Setup /Delvar\n```",
     "  Ardentis64.exe -uefi -nosuch Setup /Delvar"),
    ("option", "/Listvar lists the variables.", "/Listvar lists the variables."),
    ("option", "`ArdentisFleet64.exe check Setup %s 1A 05 --dry-run`" % GUID_TEXT,
     "  ArdentisFleet64.exe check Setup %s 1A 05 --dry-run" % GUID_TEXT),
    ("option", "With --dry-run nothing is written.", "With --dry-run nothing is written."),
    ("word", "Taken back, it ends RESULT=REVERTED.", "Taken back, it ends RESULT=REVERTED."),
    ("word", "A full disk gives REASON=DISK-FULL.", "A full disk gives REASON=DISK-FULL."),
    ("word", "A full disk ends FAILED DISK-FULL.", "A full disk ends FAILED DISK-FULL."),
    ("word", "`{\"result\":\"REVERTED\",\"exit\":0}`", "  {\"result\":\"REVERTED\",\"exit\":0}"),
    ("exit", "| exit code | when |\n|---|---|\n| 3 | the command succeeded |",
     "Exit codes\n----------\n\n  3     the command succeeded"),
    ("exit", "| exit code | when |\n|---|---|\n| -1 | \"Please input file name.\" |",
     "Exit codes\n----------\n\n  -1    a missing file name (\"Please input file name.\")"),
    ("exit", "| outcome | exit code |\n|---|---|\n| HOLDS | 7 |",
     "  HOLDS          7       check: the byte holds DATA"),
    ("exit", "It ends `RESULT=HOLDS EXIT=7 OLD=05 NEW=05 READ= REASON= RUN=`.",
     "It ends RESULT=HOLDS EXIT=7 OLD=05 NEW=05 READ= REASON= RUN="),
    ("name", None, "Built as @ARDENTIS_NOSUCH_VALUE@."),
    ("name", "The check reads `nosuch_setting_value` first.", None),
    ("link", "See [the guide](nosuch.md).", None),
    ("link", "See [below](#no-such-heading).", None),
    ("block", "<!-- examples/owner_round_trip.h -->\n```cpp\nint nosuch;\n```", None),
)


def docs_selftest(args):
    """Every row of INJECTIONS on every page of its form: the page as it is
    must pass, and with the row's text added it must fail with that kind
    and no other."""
    root = pathlib.Path(args.root).resolve()
    tree = load_tree(root)
    failed = 0
    tried = {}
    for name in tree.pages:
        text = (root / name).read_text()
        base = set(page_faults(tree, name, text))
        if base:
            failed += 1
            print("FAIL %s has faults before any injection: %s" % (name, sorted(base)))
        markdown = name.endswith(".md")
        for kind, md_text, plain_text in INJECTIONS:
            injected = md_text if markdown else plain_text
            if injected is None:
                continue
            found = set(page_faults(tree, name, text + "\n\n" + injected + "\n")) - base
            kinds = {k for k, _ in found}
            tried.setdefault(kind, set()).add(name)
            if kinds != {kind}:
                failed += 1
                print("FAIL %s + %r: expected a fault of kind %s, got %s" %
                      (name, injected, kind, sorted(found) or "none"))
    for kind, names in sorted(tried.items()):
        print("%-12s tried on %s" % (kind, ", ".join(sorted(names))))
    print("docs check kinds: %d injections failed to show" % failed if failed else
          "docs check kinds: every injection reported as its kind")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="mode", required=True)
    one = sub.add_parser("run")
    one.add_argument("--wine", required=True)
    one.add_argument("--wineprefix", required=True)
    one.add_argument("--register")
    one.add_argument("--expect", required=True)
    one.add_argument("--exit", type=int, required=True)
    one.add_argument("command", nargs="+")
    for mode in ("docs", "docs-selftest"):
        sub.add_parser(mode).add_argument("root")
    args = parser.parse_args()
    return {"run": run, "docs": docs, "docs-selftest": docs_selftest}[args.mode](args)


if __name__ == "__main__":
    sys.exit(main())
