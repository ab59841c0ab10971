#!/usr/bin/env python3
"""The owner programs in examples/, as documentation that cannot drift.

run:    runs one program under Wine (after registering a COM server with
        regsvr32, if asked) and compares its exit code and its whole standard
        output and standard error with <expect>.out and <expect>.err (absent:
        nothing may reach standard error).
readme: checks that every block of README.md marked <!-- path --> is that
        file's text, and that every owner program's source is shown.
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


def readme(args):
    root = pathlib.Path(args.root)
    text = (root / "README.md").read_text()
    shown = set()
    ok = True
    for path, block in MARKED_BLOCK.findall(text):
        shown.add(path)
        source = root / path
        if not source.exists() or block.rstrip("\n") != source.read_text().rstrip("\n"):
            ok = False
            print("README.md: the block marked %s is not that file's text" % path)
    examples = root / "examples"
    for source in sorted([*examples.glob("*.cpp"), *examples.glob("*.h")]):
        path = str(source.relative_to(root))
        if path not in shown:
            ok = False
            print("README.md shows no block marked %s" % path)
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
    doc = sub.add_parser("readme")
    doc.add_argument("root")
    args = parser.parse_args()
    return run(args) if args.mode == "run" else readme(args)


if __name__ == "__main__":
    sys.exit(main())
