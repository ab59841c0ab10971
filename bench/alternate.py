#!/usr/bin/python3
"""Runs two commands alternately and reports wall time and peak memory.

Each run's figures come from os.wait4: wall time around the run, and
ru_maxrss, the kernel's high-water mark of the resident set of the process
that hosts the Windows program under Wine (Wine's own share included, the
same on both sides, so the difference is the programs' own).

Usage: alternate.py [--runs N] [--target R] [--memory-target M] NAME_A NAME_B
                    -- COMMAND_A... -- COMMAND_B...
R is the wall-time ratio A / B that is the target (default 1.3), M the most
peak memory A may use beyond B, in MiB (default 10; 0: no memory target).
"""

import os
import statistics
import subprocess
import sys
import time


def run_once(command):
    started = time.monotonic()
    proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.monotonic() - started
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("%s exited with %d" % (" ".join(command), proc.returncode))
    return elapsed, usage.ru_maxrss / 1024.0  # KiB -> MiB


def main():
    args = sys.argv[1:]
    runs = 10
    target = 1.3
    memory_target = 10.0
    while args[:1] in (["--runs"], ["--target"], ["--memory-target"]):
        if args[0] == "--runs":
            runs = int(args[1])
        elif args[0] == "--target":
            target = float(args[1])
        else:
            memory_target = float(args[1])
        args = args[2:]
    names, args = args[:2], args[2:]
    first = args.index("--")
    second = args.index("--", first + 1)
    commands = [args[first + 1:second], args[second + 1:]]

    for command in commands:  # warm-up, not counted
        run_once(command)
    figures = [[], []]
    for _ in range(runs):
        for i, command in enumerate(commands):
            figures[i].append(run_once(command))

    medians = []
    for name, runs_of in zip(names, figures):
        times = [t for t, _ in runs_of]
        peaks = [m for _, m in runs_of]
        medians.append((statistics.median(times), statistics.median(peaks)))
        print("%-9s wall median %.3f s  mean %.3f s  min %.3f s  max %.3f s  "
              "peak RSS median %.1f MiB (min %.1f, max %.1f)"
              % (name, medians[-1][0], statistics.mean(times), min(times), max(times),
                 medians[-1][1], min(peaks), max(peaks)))
    ratio = medians[0][0] / medians[1][0]
    extra = medians[0][1] - medians[1][1]
    print("%s / %s wall time (medians): %.3f  (target <= %g: %s)"
          % (names[0], names[1], ratio, target, "met" if ratio <= target else "MISSED"))
    if memory_target:
        print("%s - %s peak memory (medians): %+.1f MiB  (target <= %+g MiB: %s)"
              % (names[0], names[1], extra, memory_target,
                 "met" if extra <= memory_target else "MISSED"))
    else:
        print("%s - %s peak memory (medians): %+.1f MiB" % (names[0], names[1], extra))


if __name__ == "__main__":
    main()
