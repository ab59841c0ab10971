#!/usr/bin/env python3
"""The owner programs in examples/, as documentation that cannot drift.

run:    runs one program under Wine (after registering a COM server with
        regsvr32, if asked) and compares its exit code and its whole standard
        output and standard error with <expect>.out and <expect>.err (absent:
        nothing may reach standard error).
docs:   checks the Markdown pages (README.md, docs/, bench/README.md): every
        block marked <!-- path --> is that file's text, the owner's guide shows
        every owner program's source, every relative link names a file that
        exists and, after a #, a heading of that page, and every name the pages
        give in backquotes or in a shell block is one the tree has (see
        NameCheck).
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
FENCE = re.compile(r"^```.*?^```", re.DOTALL | re.MULTILINE)
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
            faults.append("links to %s, which does not exist" % target)
        elif anchor and linked.suffix == ".md" and anchor not in anchors(linked.read_text()):
            faults.append("links to %s, a heading %s does not have" %
                          (target, linked.relative_to(root)))
    return faults


# Names the pages may give although the tree never holds or prints them: the
# programs and files of Windows, Wine and the build machine the text talks about,
# and outside programs' messages quoted as what a reader will see.
OUTSIDE_NAMES = {
    "cmd.exe", "conhost.exe", "regsvr32", "kernel32.dll", "windows.h", "<windows.h>",
    "INT_MAX",  # C's own constant
    "AssertionError: 1 != 255",  # Python's unittest, quoting a failed test's assertion
}
# File types a bare name in backquotes is taken as a file by.
FILE_SUFFIXES = (".cpp", ".h", ".py", ".sh", ".cmd", ".txt", ".md", ".json", ".tsv", ".def",
                 ".in", ".cmake", ".exe", ".dll", ".zip", ".log", ".lock", ".out", ".err",
                 ".manifest", ".rc")
SOURCE_SUFFIXES = (".cpp", ".h", ".py", ".sh", ".cmd", ".cmake", ".txt", ".in", ".def", ".json",
                   ".tsv", ".rc", ".manifest")
CODE_SPAN = re.compile(r"`([^`\n]+)`")
SHELL_BLOCK = re.compile(r"^ *```(?:sh|bash)\n(.*?)^ *```", re.DOTALL | re.MULTILINE)
PLACEHOLDER = re.compile(r"<[^<>]*>|\[[^\]]*\]|\*|…|\.\.\.")
SNAKE = re.compile(r"[a-z][a-z0-9]*(?:_(?:[a-z0-9]+|\*|<[a-z]+>))+$")
UPPER_NAME = re.compile(r"[A-Z][A-Z0-9]*(?:_[A-Z0-9]+)+$")
ASSIGNMENT = re.compile(r"([A-Z][A-Z0-9_]*)=(\S+)")


class NameCheck:
    """What the tree has, read from the tree itself when the check runs, so a
    name added beside a true sentence passes and a name renamed or removed
    fails: the tracked files, the CMake presets, the CTest tests that
    add_test(NAME ...) defines, the environment variables the scripts, the
    harnesses and the programs read or set, and the text of every source
    (what the programs print, the names the build and the scripts make)."""

    def __init__(self, root):
        self.root = root
        listed = subprocess.run(["git", "-C", str(root), "ls-files"], capture_output=True,
                                text=True)
        if listed.returncode == 0 and listed.stdout:
            files = listed.stdout.split()
        else:  # a source tree without its history: every file but the builds'
            files = [str(p.relative_to(root)) for p in root.rglob("*")
                     if p.is_file() and not str(p.relative_to(root)).startswith(("build", ".git"))]
        self.files = set(files)
        self.dirs = {str(pathlib.PurePosixPath(f).parents[i])
                     for f in files for i in range(len(pathlib.PurePosixPath(f).parents) - 1)}
        self.basenames = {pathlib.PurePosixPath(f).name for f in files}
        documents = {f for f in files if f.endswith(".md") or f == "release/README.txt.in"}
        self.sources = {}
        for name in sorted(self.files - documents):
            if name.endswith(SOURCE_SUFFIXES) or "/" not in name or name.startswith(".ci/"):
                path = root / name
                if path.is_file():
                    self.sources[name] = path.read_text(errors="replace")
        self.text = "\n".join(self.sources.values())
        # What the programs and scripts print: the tests' own expectations left out.
        self.printed = "\n".join(text for name, text in self.sources.items()
                                  if not name.startswith("tests/") and not name.endswith(".tsv"))
        self.words = set(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", self.text))
        presets = json.loads((root / "CMakePresets.json").read_text())
        self.presets = {p["name"] for kind in ("configurePresets", "buildPresets", "testPresets")
                        for p in presets.get(kind, [])}
        self.tests = []
        for name, text in self.sources.items():
            if name.endswith(("CMakeLists.txt", ".cmake")):
                for test in re.findall(r"add_test\(\s*NAME\s+(\S+)", text):
                    self.tests.append(re.compile(
                        "".join(".+" if part.startswith("${") else re.escape(part)
                                for part in re.split(r"(\$\{[^}]*\})", test)) + "$"))
        self.environment = set()
        patterns = {
            ".sh": [r"\$\{?([A-Za-z_][A-Za-z0-9_]*)", r"(?:export|unset)\s+([A-Z_][A-Z0-9_]*)",
                    r"(?:^|\s)([A-Z_][A-Z0-9_]*)=", r"^ARDENTIS_[A-Z0-9_]*"],
            ".py": [r"environ(?:\.get)?[(\[]\s*\"([A-Z_][A-Z0-9_]*)\"",
                    r"getenv\(\s*\"([A-Z_][A-Z0-9_]*)\"", r"\b([A-Z_][A-Z0-9_]*)=",
                    r"ENV\w*\s*=\s*\"([A-Z_][A-Z0-9_]*)\""],
            ".cmake": [r"\$ENV\{(\w+)\}", r"\b([A-Z_][A-Z0-9_]*)=", r"ENV\{(\w+)\}"],
            ".cpp": [r"getenv\(\s*\"(\w+)\"", r"GetEnvironmentVariable[AW]?\(\s*\"(\w+)\"",
                     r"EnvVar\w*\s*=\s*\"(\w+)\""],
            ".cmd": [r"%([A-Za-z_][A-Za-z0-9_]*)(?::[^%]*)?%", r"\bset\s+\"?([A-Za-z_]\w*)="],
        }
        patterns[".h"] = patterns[".cpp"]
        for name, text in self.sources.items():
            kind = ".cmake" if name.endswith("CMakeLists.txt") else pathlib.PurePosixPath(name).suffix
            if name.startswith(".ci/") or not kind and text.startswith("#!/"):
                kind = ".sh"
            for pattern in patterns.get(kind, []):
                self.environment.update(re.findall(pattern, text, re.MULTILINE))

    def is_test(self, name):
        sample = PLACEHOLDER.sub("X", name)
        return any(test.match(sample) for test in self.tests)

    def in_text(self, name, text=None):
        """Whether the text holds the name, placeholders standing for anything."""
        pattern = ".*?".join(re.escape(part) for part in PLACEHOLDER.split(name))
        return re.search(pattern, self.text if text is None else text) is not None

    def file_fault(self, word):
        name = word.rstrip(".,;:)").rstrip("/")
        if name in OUTSIDE_NAMES:
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
                if not PLACEHOLDER.fullmatch(part) and not composed and part not in self.presets:
                    return "names %s, whose %s no build or script makes" % (name, part)
            return None
        glob = PLACEHOLDER.sub("*", name)
        if any(fnmatch.fnmatch(f, glob) for f in self.files | self.dirs):
            return None
        if parts[0] not in self.dirs and any(fnmatch.fnmatch(f, "*/" + glob) for f in self.dirs):
            return None  # a folder named within its parent's row (tests/: e2e/, host/)
        return "names %s, which the tree does not have" % name

    def word_faults(self, word, ctest):
        """Faults of one word of a code span or shell line."""
        if word in OUTSIDE_NAMES:
            return []
        assigned = ASSIGNMENT.match(word)
        if word.startswith("-D") and ASSIGNMENT.match(word[2:]):
            name = ASSIGNMENT.match(word[2:]).group(1)
            return [] if name in self.words else ["names the CMake variable %s, which no CMake "
                                                  "file has" % name]
        if assigned and not word.startswith("/"):
            name = assigned.group(1)
            return [] if name in self.environment else [
                "names the environment variable %s, which nothing in the tree reads or sets" % name]
        if UPPER_NAME.match(word):
            return [] if word in self.environment or word in self.words else [
                "names %s, which no source of the tree has" % word]
        if SNAKE.match(word):
            if ctest:
                return [] if self.is_test(word) else ["names the CTest test %s, which no "
                                                      "add_test defines" % word]
            return [] if self.is_test(word) or word in self.words or self.in_text(word) else [
                "names %s, which is neither a CTest test nor a name of the sources" % word]
        if word.startswith(("-", "/", "%", "$", "\\")) or re.search(r"[\\:%$|=(\"'!]", word):
            return []  # options, commands, Windows paths and the machine's own files
        if "/" in word and not word.endswith(("/",) + FILE_SUFFIXES) and \
                word.split("/")[0] not in self.dirs | {"build", "dist"}:
            return []  # a/b: a name with a slash in it, not a path
        if "/" in word or word.endswith(FILE_SUFFIXES) or word.startswith(".") and len(word) > 1:
            fault = self.file_fault(word)
            return [fault] if fault else []
        return []

    def message_fault(self, span):
        """A span that reads as a message must be printed by some program or
        script, numbers and <placeholders> standing for their formats."""
        if span in OUTSIDE_NAMES:
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
                pattern += r"[^\n]*?"
            elif part.isdigit():
                pattern += r"(?:%s|%%[-+ #0-9.]*[hlLzjt]*[diouxX])" % part
            else:
                pattern += re.escape(part)
        if re.search(pattern, self.printed):
            return None
        return "quotes the message `%s`, which no program or script prints" % span

    def faults(self, text):
        faults = []
        prose = FENCE.sub("", text)
        for match in CODE_SPAN.finditer(prose):
            span = match.group(1)
            if "\\" in span:
                continue  # a command for the administrator's machine, with its paths
            sentence = re.split(r"[.;:]\s", prose[max(0, match.start() - 200):match.start()])[-1]
            ctest = "CTest" in sentence
            for word in span.split():
                faults += self.word_faults(word, ctest)
            fault = self.message_fault(span)
            if fault:
                faults.append(fault)
            for preset in re.findall(r"--preset[ =]([\w-]+)", span):
                if preset not in self.presets:
                    faults.append("names the preset %s, which CMakePresets.json lacks" % preset)
        for preset in re.findall(r"(?:[Pp]reset `([\w-]+)`|`([\w-]+)` preset)", prose):
            name = preset[0] or preset[1]
            if name not in self.presets:
                faults.append("names the preset %s, which CMakePresets.json lacks" % name)
        for block in SHELL_BLOCK.findall(text):
            for line in block.splitlines():
                command = line.split("#")[0]
                for word in command.split():
                    faults += self.word_faults(word, False)
                for preset in re.findall(r"--preset[ =]([\w-]+)", command):
                    if preset not in self.presets:
                        faults.append("names the preset %s, which CMakePresets.json lacks" % preset)
        return sorted(set(faults))


def docs(args):
    root = pathlib.Path(args.root).resolve()
    pages = [root / "README.md", *sorted((root / "docs").glob("*.md")), root / "bench" / "README.md"]
    shown = set()
    ok = True
    names = NameCheck(root)
    for page in pages:
        name = page.relative_to(root)
        text = page.read_text()
        for path, block in MARKED_BLOCK.findall(text):
            if str(name) == OWNER_GUIDE:
                shown.add(path)
            source = root / path
            if not source.exists() or block.rstrip("\n") != source.read_text().rstrip("\n"):
                ok = False
                print("%s: the block marked %s is not that file's text" % (name, path))
        for fault in link_faults(root, page, text) + names.faults(text):
            ok = False
            print("%s %s" % (name, fault))
    examples = root / "examples"
    for source in sorted([*examples.glob("*.cpp"), *examples.glob("*.h")]):
        path = str(source.relative_to(root))
        if path not in shown:
            ok = False
            print("%s shows no block marked %s" % (OWNER_GUIDE, path))
    return 0 if ok else 1


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
    doc = sub.add_parser("docs")
    doc.add_argument("root")
    args = parser.parse_args()
    return run(args) if args.mode == "run" else docs(args)


if __name__ == "__main__":
    sys.exit(main())
