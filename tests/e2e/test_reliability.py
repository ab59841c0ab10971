#!/usr/bin/python3
"""Reliability tests: the simulated-store program of one architecture under
Wine, under contention, hard kills, refused and failing writes, and every
row of the command-line bad-input table (bad_input_cmdline.tsv).

Shares its helpers with test_e2e.py. Run by CTest once per architecture;
see tests/e2e/CMakeLists.txt.
"""

import argparse
import concurrent.futures
import os
import queue
import resource
import shutil
import signal
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_e2e as e2e  # noqa: E402
from test_e2e import GUID, NAME, E2ECase, name_lines, wine_path  # noqa: E402

INSTANCES = 8
ROUNDS = 3
LOCK_WAIT_S = 10.0  # 100 attempts, 100 ms apart

# Reports Wine writes to standard error when a program crashes.
CRASH_MARKS = (b"Unhandled exception", b"Unhandled page fault", b"wine: ", b"err:")


def run_full(program, *args, store=None, cwd=None, preexec_fn=None, timeout=60):
    """Runs a program under Wine without a console: (code, stdout, stderr)."""
    proc = subprocess.run([e2e.CFG.wine, program, *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=e2e.wine_env(store), cwd=cwd, preexec_fn=preexec_fn,
                          timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def file_size_limit(limit):
    """For preexec_fn: files of the child cannot grow past limit bytes; a
    write beyond fails with EFBIG, as on a full disk, instead of a signal."""

    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    return apply


class ReliabilityCase(E2ECase):
    def assertNoCrash(self, stderr):
        for mark in CRASH_MARKS:
            self.assertNotIn(mark, stderr)
        self.assertEqual(stderr, b"")

    def sim(self, *args, **kwargs):
        return run_full(e2e.CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, *args,
                        store=self.store, **kwargs)

    def assertNoTemporaryFiles(self):
        self.assertEqual(sorted(os.listdir(self.store)), [e2e.VAR_FILE])


class ContentionTests(ReliabilityCase):
    """Several instances on one variable: the mutex serialises whole runs."""

    def test_eight_instances_each_set_a_byte_and_none_is_lost(self):
        data = bytearray(32)
        self.make_variable(data)
        for round_no in range(1, ROUNDS + 1):
            with self.subTest(round=round_no):
                offsets = [3 * k + round_no for k in range(INSTANCES)]
                values = [(0x10 * round_no + k + 1) & 0xFF for k in range(INSTANCES)]
                procs = [subprocess.Popen(
                    [e2e.CFG.wine, e2e.CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                     "/Setvar", "%X" % off, "%02X" % val],
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                    env=e2e.wine_env(self.store)) for off, val in zip(offsets, values)]
                for proc in procs:
                    self.addCleanup(proc.kill)
                # Serialised by the lock, the eight runs take 3 to 5 s in all
                # on 2 cores at load 7 to 10 (a run and up to a 100 ms retry
                # step each); the last one waits longest and would give up
                # after ten seconds, twice that.
                for proc, off, val in zip(procs, offsets, values):
                    out, err = proc.communicate(timeout=60)
                    self.assertNoCrash(err)
                    self.assertEqual((proc.returncode, out),
                                     (0, b"Offset = %04X, Data = %02X\r\n" % (off, val)
                                      + name_lines() + b"Set variable success!\r\n"))
                for off, val in zip(offsets, values):
                    data[off] = val
                self.assertEqual(self.variable_file(), struct.pack("<I", 7) + data)
                self.assertNoTemporaryFiles()

    def test_instance_killed_holding_the_lock_does_not_block_the_next(self):
        # The victim is frozen while it owns the mutex, then ended without its
        # exit routine: by TerminateProcess (what taskkill /f does on Windows,
        # the mutex left abandoned) and by SIGKILL to its Wine process (the
        # process vanishes under the wineserver, as in a crash of Wine itself).
        for mode in ("kill", "wait"):
            with self.subTest(kill="TerminateProcess" if mode == "kill" else "SIGKILL"):
                self.kill_holder_and_follow(mode)

    def kill_holder_and_follow(self, mode):
        self.make_variable(bytes(8))
        killer = subprocess.Popen(
            [e2e.CFG.wine, e2e.CFG.lockkiller, wine_path(e2e.CFG.sim_tool), "-uefi", "-name",
             NAME, "-guid", GUID, "/Setvar", "1", "11"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=e2e.wine_env(self.store))
        self.addCleanup(killer.kill)
        line = killer.stdout.readline()
        while line and not line.startswith(b"held"):
            line = killer.stdout.readline()
        self.assertEqual(line, b"held\r\n", killer.stderr.read() if not line else b"")

        nxt = subprocess.Popen([e2e.CFG.wine, e2e.CFG.sim_tool, "-uefi", "-name", NAME, "-guid",
                                GUID, "/Setvar", "2", "22"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=e2e.wine_env(self.store))
        self.addCleanup(nxt.kill)
        # The next instance is now retrying; it cannot end while the frozen
        # holder has the lock, and its own ten seconds leave 8 s to spare.
        time.sleep(1.5)
        self.assertIsNone(nxt.poll())
        killed_at = time.monotonic()
        if mode == "wait":
            victim = self.victim_unix_pid()
            os.kill(victim, signal.SIGKILL)
        # The harness gives the victim no handle of ours and ends within
        # milliseconds of the kill: 30 s is a bound, not an expectation.
        out, err = killer.communicate(input=mode.encode() + b"\n", timeout=30)
        self.assertEqual(killer.returncode, 0, err)
        self.assertRegex(out, rb"killed \d+\r\n$")
        if mode == "kill":
            self.assertTrue(out.endswith(b"killed 9\r\n"), out)

        out, err = nxt.communicate(timeout=30)
        waited = time.monotonic() - killed_at
        self.assertNoCrash(err)
        self.assertEqual((nxt.returncode, out),
                         (0, b"Offset = 0002, Data = 22\r\n" + name_lines()
                          + b"Set variable success!\r\n"))
        # The name is free once Wine has closed the dead process's handles:
        # one retry step and a run, about 0.4 s here; 5 s leaves a loaded
        # machine ten times that, and is still half of a live holder's ten.
        self.assertLess(waited, LOCK_WAIT_S / 2)
        # The victim was killed before or after its write, never inside it.
        self.assertIn(self.variable_file(),
                      (struct.pack("<I", 7) + bytes([0, 0, 0x22, 0, 0, 0, 0, 0]),
                       struct.pack("<I", 7) + bytes([0, 0x11, 0x22, 0, 0, 0, 0, 0])))

    def victim_unix_pid(self):
        """The Wine process of the frozen instance: the one process whose
        program is the simulated-store tool and whose store is this test's."""
        marker = ("%s=%s" % (e2e.SIM_ENV, self.store)).encode()
        program = os.path.basename(e2e.CFG.sim_tool).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environ = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    cmdline = f.read()
            except OSError:
                continue
            if marker in environ and program in cmdline.split(b"\0")[0] \
                    and b"/Setvar\x001\x0011" in cmdline:
                found.append(int(entry))
        self.assertEqual(len(found), 1, found)
        return found[0]


class WriteFaultTests(ReliabilityCase):
    """Writes refused or failing: nothing half done, nothing reported as done."""

    def test_dump_into_a_full_file_system_leaves_an_empty_file(self):
        # More text than the file size limit lets through: the first 64 KiB
        # chunk fits, the second fails (EFBIG, as a full disk would).
        data = bytes(range(256)) * 512
        self.make_variable(data)
        out_file = os.path.join(self.tmp, "dump.txt")
        with open(out_file, "wb") as f:
            f.write(b"old contents")
        code, out, err = self.sim("/Getvar", wine_path(out_file),
                                  preexec_fn=file_size_limit(300000))
        self.assertNoCrash(err)
        self.assertEqual((code, out), (255, name_lines(space=" ") + b"Write to file failed!\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"")
        self.assertNoTemporaryFiles()

    def test_store_write_failing_part_way_keeps_the_variable(self):
        # The store's temporary copy hits the file size limit half written.
        data = bytes(range(256)) * 256
        self.make_variable(data)
        before = self.variable_file()
        code, out, err = self.sim("/Setvar", "1", "5",
                                  preexec_fn=file_size_limit(len(before) // 2))
        self.assertNoCrash(err)
        # A full disk is ERROR_DISK_FULL (0x70), never a failure without a code.
        self.assertEqual((code, out), (255, b"Offset = 0001, Data = 05\r\n" + name_lines()
                                       + b"Set variable fail. Error code=70\r\n"))
        self.assertEqual(self.variable_file(), before)
        self.assertNoTemporaryFiles()

    def test_dump_into_dev_full_fails(self):
        self.make_variable(b"\x01\x02\x03")
        code, out, err = self.sim("/Getvar", "Z:\\dev\\full")
        self.assertNoCrash(err)
        self.assertEqual((code, out), (255, name_lines(space=" ") + b"Write to file failed!\r\n"))

    def test_dump_into_an_unwritable_place_says_so_on_the_console(self):
        self.make_variable(b"\x01")
        stdout_file = os.path.join(self.tmp, "stdout.txt")
        for target in (self.tmp, os.path.join(self.tmp, "missing", "dump.txt")):
            with self.subTest(target=target):
                screen = e2e.probe(self.tmp, e2e.CFG.sim_tool, "-uefi", "-name", NAME, "-guid",
                                   GUID, "/Getvar", wine_path(target), store=self.store,
                                   stdout_file=stdout_file)
                self.assertEqual(screen.exit, 255)
                self.assertEqual(self.file_bytes(stdout_file), b"")
                text = "".join(screen.text[y] for y in sorted(screen.text))
                self.assertIn(" ERROR !! Can't Open File !!", text)
                self.assertIn("Return_Code=255 ", text)
        self.assertTrue(os.path.isdir(self.tmp))
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "missing")))

    def test_refused_write_leaves_the_variable_and_the_store_as_they_were(self):
        self.make_variable(bytes(range(18)))
        before = self.variable_file()
        os.chmod(self.var_path, 0o444)
        code, out, err = self.sim("/Setvar", "3", "ff")
        self.assertNoCrash(err)
        self.assertEqual((code, out), (255, b"Offset = 0003, Data = FF\r\n" + name_lines()
                                       + b"Set variable fail. Error code=13\r\n"))
        self.assertEqual(self.variable_file(), before)
        self.assertNoTemporaryFiles()
        # Protection lifted: the same command now lands.
        os.chmod(self.var_path, 0o644)
        code, out, err = self.sim("/Setvar", "3", "ff")
        self.assertEqual(code, 0, out)
        self.assertEqual(self.variable_file()[4:], bytes([0, 1, 2, 0xFF]) + bytes(range(4, 18)))


class BadInputTableTests(ReliabilityCase):
    """Every row of bad_input_cmdline.tsv, run whole against the simulated store.

    Two rows run at a time, each in a folder of its own; they contend for the
    tool's lock as any two instances would, which the rows must not notice."""

    WORKERS = 2

    def test_every_row(self):
        rows = load_table(e2e.CFG.table)
        self.assertGreater(len(rows), 40)
        folders = queue.Queue()
        for n in range(self.WORKERS):
            folder = os.path.join(self.tmp, "worker%d" % n)
            os.mkdir(folder)
            folders.put(folder)

        def execute(row):
            folder = folders.get()
            try:
                return execute_row(row, folder)
            finally:
                folders.put(folder)

        with concurrent.futures.ThreadPoolExecutor(self.WORKERS) as pool:
            outcomes = list(pool.map(execute, rows))
        for row, outcome in zip(rows, outcomes):
            with self.subTest(line=row.line, comment=row.comment):
                self.check_row(row, outcome)

    def check_row(self, row, outcome):
        self.assertNoCrash(outcome.stderr)
        # The Linux side sees the exit code's low byte: -1 shows as 255.
        self.assertEqual(outcome.code, row.exit_code & 0xFF)
        self.assertEqual(outcome.stdout, expand_text(row.stdout))
        # The variable: untouched, deleted, or exactly the named bytes changed.
        if row.variable == "same":
            self.assertEqual(outcome.variable, outcome.before)
        elif row.variable == "deleted":
            self.assertIsNone(outcome.variable)
        else:
            expected = bytearray(INITIAL_DATA)
            for offset, value in parse_changes(row.variable):
                expected[offset] = value
            self.assertEqual(outcome.variable, struct.pack("<I", 7) + expected)
        self.assertEqual(outcome.store_files, [] if row.variable == "deleted" else [e2e.VAR_FILE])
        # The dump file: never asked for, created empty, or the whole dump.
        expected_dump = {"none": None, "empty": b"", "full": e2e.dump_text(INITIAL_DATA)}
        self.assertEqual(outcome.dump, expected_dump[row.dump])
        # Nothing else appears where the tool ran.
        self.assertEqual(outcome.stray_files, [])


class Outcome:
    """What one row's run left behind."""


def execute_row(row, folder):
    store = os.path.join(folder, "efivars")
    shutil.rmtree(folder)
    os.makedirs(store)
    var_path = os.path.join(store, e2e.VAR_FILE)
    dump_path = os.path.join(folder, "dump.txt")
    with open(var_path, "wb") as f:
        f.write(struct.pack("<I", INITIAL_ATTRIBUTES) + INITIAL_DATA)
    outcome = Outcome()
    with open(var_path, "rb") as f:
        outcome.before = f.read()
    args = expand_args(row.args, wine_path(dump_path))
    outcome.code, outcome.stdout, outcome.stderr = run_full(e2e.CFG.sim_tool, *args,
                                                            store=store, cwd=folder)
    outcome.variable = None
    if os.path.exists(var_path):
        with open(var_path, "rb") as f:
            outcome.variable = f.read()
    outcome.store_files = sorted(os.listdir(store))
    outcome.dump = None
    if os.path.exists(dump_path):
        with open(dump_path, "rb") as f:
            outcome.dump = f.read()
    outcome.stray_files = sorted(set(os.listdir(folder)) - {"efivars", "dump.txt"})
    return outcome


# The table's language; bad_input_cmdline.tsv explains it in its header.
INITIAL_DATA = bytes(range(18))
INITIAL_ATTRIBUTES = 7
MACROS = {
    "@USAGE": None,  # filled in main(): names the program
    "@NAMES": name_lines(),
    "@DNAMES": name_lines(space=" "),
    "@GUID": GUID.encode(),
}


class Row:
    def __init__(self, line, fields):
        (self.args, self.decision, exit_code, self.stdout, self.variable, self.dump,
         self.comment) = fields
        self.line = line
        self.exit_code = int(exit_code)


def load_table(path):
    rows = []
    with open(path, "rb") as f:
        for number, raw in enumerate(f, 1):
            text = raw.decode("ascii").rstrip("\n")
            if not text.strip() or text.startswith("#"):
                continue
            fields = text.split("\t")
            if len(fields) != 7:
                raise ValueError("%s:%d: %d fields, 7 expected" % (path, number, len(fields)))
            rows.append(Row(number, fields))
    return rows


def unescape(token):
    """\\s space, \\t tab, \\n line end (CR LF), \\xHH a byte, \\\\ a backslash,
    {{text*N}} text repeated N times."""
    out = bytearray()
    i = 0
    while i < len(token):
        ch = token[i]
        if ch == "\\":
            nxt = token[i + 1]
            if nxt == "x":
                out.append(int(token[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"s": b" ", "t": b"\t", "n": b"\r\n", "\\": b"\\"}[nxt]
            i += 2
        elif token.startswith("{{", i):
            end = token.index("}}", i)
            text, count = token[i + 2:end].rsplit("*", 1)
            out += unescape(text) * int(count)
            i = end + 2
        else:
            out += ch.encode("ascii")
            i += 1
    return bytes(out)


def expand_args(column, dump_path):
    args = []
    for token in column.split(" "):
        if token == "@VAR":
            args += ["-uefi", "-name", NAME, "-guid", GUID]
        elif token == '""':
            args.append("")
        else:
            token = token.replace("@DUMP", dump_path.replace("\\", "\\\\"))
            token = token.replace("@NAME", NAME).replace("@GUID", GUID)
            args.append(os.fsdecode(unescape(token)))
    return args


def expand_text(column):
    if column == '""':
        return b""
    out = b""
    rest = column
    while rest:
        for macro, value in MACROS.items():
            if rest.startswith(macro):
                out += value
                rest = rest[len(macro):]
                break
        else:
            cut = rest.find("@", 1)
            cut = len(rest) if cut < 0 else cut
            out += unescape(rest[:cut])
            rest = rest[cut:]
    return out


def parse_changes(column):
    """"set 1=05 11=FF": the bytes at those hexadecimal offsets."""
    words = column.split()
    if words[0] != "set":
        raise ValueError("variable column: %r" % column)
    for word in words[1:]:
        offset, value = word.split("=")
        yield int(offset, 16), int(value, 16)


def setUpModule():
    e2e.setUpModule()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine", required=True, help="Wine loader for this architecture")
    parser.add_argument("--wineprefix", required=True)
    parser.add_argument("--tool", required=True, help="release program")
    parser.add_argument("--sim-tool", required=True, help="program on the simulated store")
    parser.add_argument("--conprobe", required=True)
    parser.add_argument("--lockkiller", required=True)
    parser.add_argument("--table", required=True, help="bad_input_cmdline.tsv")
    cfg, rest = parser.parse_known_args()
    cfg.program_name = os.path.basename(cfg.tool)
    e2e.CFG = cfg
    MACROS["@USAGE"] = e2e.usage_text(cfg.program_name)
    e2e.run_tests(cfg.wine, rest)


if __name__ == "__main__":
    main()
