#!/usr/bin/env python3
"""The owner programs in examples/, as documentation that cannot drift.

run:    runs one program under Wine (after registering a COM server with
        regsvr32, if asked) and compares its exit code and its whole standard
        output and standard error with <expect>.out and <expect>.err (absent:
        nothing may reach standard error).
docs:   checks the Markdown pages (README.md, docs/, bench/README.md): every
        block marked <!-- path --> is that file's text, the owner's guide shows
        every owner program's source, and every relative link names a file
        that exists and, after a #, a heading of that page.
"""
import argparse
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


def docs(args):
    root = pathlib.Path(args.root).resolve()
    pages = [root / "README.md", *sorted((root / "docs").glob("*.md")), root / "bench" / "README.md"]
    shown = set()
    ok = True
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
        for fault in link_faults(root, page, text):
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
