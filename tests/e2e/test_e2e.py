#!/usr/bin/python3
"""End-to-end tests: the real executables of one architecture under Wine.

Standard output is captured from plain runs (no console: the banner and the
return-code line then go nowhere). What a person sees on the screen is read
back from the console's screen buffer by conprobe, started under `script` so
that a console exists even without a terminal. Exit codes: the Linux side
sees -1 as 255, so -1 is asserted through the console's return-code line,
conprobe's GetExitCodeProcess and a batch file run by Wine's cmd.

Run by CTest once per architecture; see tests/e2e/CMakeLists.txt.
"""

import argparse
import errno
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

CFG = None  # the command line: programs, Wine loader and prefix

NAME = "Setup"
GUID = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}"


def var_file(name, guid=GUID):
    """The simulated store's file of a variable whose name is letters and digits."""
    return name + "-" + guid.strip("{}").lower()


VAR_FILE = var_file(NAME)
SIM_ENV = "ARDENTIS_SIM_EFIVARS"
MAX_VARIABLE = 4194304
SKIP_EXIT_CODE = 77  # SKIP_RETURN_CODE in tests/e2e/CMakeLists.txt

FILL_CHAR = "."      # conprobe's blank cells
FILL_ATTR = 0x1E     # conprobe's blank attribute
BANNER_ATTR = 0x07
COLUMNS = 80
SCREEN_ROWS = 25     # the tool's 2000-cell fill

BUILD_DATE = "Build DATE: 2016-12-05"
PRODUCT = "Windows Nelvrik, Copyright by Kalvorin Rev1.11_For_QUVAR"
BANNER_TEXTS = BUILD_DATE + PRODUCT + "KALVORIN" + "OPHEL" + "=" * COLUMNS

LEGACY = b"Windows was installed using legacy BIOS.\r\n"


def return_code_line(code):
    return "\n" + " " * 33 + "Return_Code=%d \n" % code


def usage_text(program):
    return (
        "%s <-Sw1> <...> [/Command1] [...] ... <Parameter1> <...> ... \r\n" % program
        + " /SETvar <Offset> <Data> : set variable data. \r\n"
        " /GETvar <File> : get variable data. \r\n"
        "  -name <Name> : Variable name for /SETvar and /GETvar used.\r\n"
        "  -guid <GUID> : Variable GUID for /SETvar and /GETvar used.\r\n"
        "Return Code: OK(0), ERROR(255)\r\n"
    ).encode()


def name_lines(name=NAME, guid=GUID, space=""):
    return ("Name=%s%s\r\nGUID=%s%s\r\n" % (name, space, guid, space)).encode()


def dump_text(data):
    lines = ("".join("%02X " % b for b in data[i:i + 16]) for i in range(0, len(data), 16))
    return "\r\n".join(lines).encode()


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(store=None):
    env = {k: v for k, v in os.environ.items() if k != SIM_ENV}
    # ARDENTIS_WINEDEBUG=err+all shows what Wine itself complains of.
    env.update(WINEPREFIX=CFG.wineprefix, WINEDEBUG=os.environ.get("ARDENTIS_WINEDEBUG", "-all"),
               WINEDLLOVERRIDES="mscoree,mshtml=")
    if store is not None:
        env[SIM_ENV] = store
    return env


def run(program, *args, store=None, timeout=60, cwd=None):
    """Runs a program under Wine without a console; returns (code, stdout)."""
    proc = subprocess.run([CFG.wine, program, *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=wine_env(store), timeout=timeout, cwd=cwd)
    # Not compared, but never lost: what Wine or the program said there
    # explains a failure in the test's log.
    sys.stderr.buffer.write(proc.stderr)
    return proc.returncode, proc.stdout


class Screen:
    """What conprobe read back: rows of text, rows of attributes, the cursor
    and the child's exit code (signed, as Windows reports it)."""

    def __init__(self, report):
        self.text, self.attr = {}, {}
        with open(report, "r", encoding="ascii") as f:
            for line in f:
                key, rest = line.rstrip("\n").split(" ", 1)
                if key == "text":
                    row, hexed = rest.split(" ")
                    self.text[int(row)] = bytes.fromhex(hexed).decode("latin-1")
                elif key == "attr":
                    row, hexed = rest.split(" ")
                    self.attr[int(row)] = [int(hexed[i:i + 4], 16) for i in range(0, len(hexed), 4)]
                elif key == "exit":
                    self.exit = int(rest)
                elif key == "cursor":
                    self.cursor = tuple(int(v) for v in rest.split())
                elif key == "size":
                    self.size = tuple(int(v) for v in rest.split())
                elif key == "fill":
                    self.fill = tuple(int(v, 16) for v in rest.split())


def probe(tmp, program, *args, store=None, stdout_file=None):
    """Runs program as conprobe's child in a fresh console, the way CI has
    it: no terminal, standard input /dev/null, a session of its own."""
    report = os.path.join(tmp, "screen.txt")
    if os.path.exists(report):
        os.unlink(report)
    command = [CFG.wine, CFG.conprobe, wine_path(report),
               wine_path(stdout_file) if stdout_file else "-", wine_path(program), *args]
    env = wine_env(store)
    env["SHELL"] = "/bin/sh"  # script runs the command through $SHELL -c
    proc = subprocess.run(["script", "-qec", shlex.join(command), "/dev/null"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, timeout=120,
                          start_new_session=True)
    if proc.returncode != 0:
        # conprobe's own messages went to the terminal: its transcript.
        raise AssertionError("conprobe failed with %d: %s %s"
                             % (proc.returncode, proc.stderr, proc.stdout[-4000:]))
    return Screen(report)


class Grid:
    """The expected screen: cells and attributes, written the way the
    console writes a stream (line feed to the next row's start, carriage
    return to the row's start, wrap at the last column)."""

    def __init__(self, rows, char=FILL_CHAR, attr=FILL_ATTR):
        self.chars = [[char] * COLUMNS for _ in range(rows)]
        self.attrs = [[attr] * COLUMNS for _ in range(rows)]
        self.x = self.y = 0

    def fill(self, rows, char, attr):
        for y in range(rows):
            self.chars[y] = [char] * COLUMNS
            self.attrs[y] = [attr] * COLUMNS

    def at(self, x, y, text):
        self.x, self.y = x, y
        self.write(text)

    def write(self, text):
        for ch in text:
            if ch == "\n":
                self.x, self.y = 0, self.y + 1
            elif ch == "\r":
                self.x = 0
            else:
                self.chars[self.y][self.x] = ch
                self.attrs[self.y][self.x] = BANNER_ATTR
                self.x += 1
                if self.x == COLUMNS:
                    self.x, self.y = 0, self.y + 1

    def row(self, y):
        return "".join(self.chars[y])


class E2ECase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ardentis-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.store = os.path.join(self.tmp, "efivars")
        os.mkdir(self.store)
        self.var_path = os.path.join(self.store, VAR_FILE)

    def make_variable(self, data, attributes=7, name=NAME):
        self.make_file(struct.pack("<I", attributes) + bytes(data), name)

    def make_file(self, raw, name=NAME):
        with open(os.path.join(self.store, var_file(name)), "wb") as f:
            f.write(raw)

    def variable_file(self):
        with open(self.var_path, "rb") as f:
            return f.read()

    def file_bytes(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assertScreen(self, screen, grid):
        """Every row of the screen buffer, text and attributes."""
        self.assertEqual(screen.size, (COLUMNS, len(grid.chars)))
        for y in range(len(grid.chars)):
            self.assertEqual(screen.text[y], grid.row(y), "text of row %d" % y)
            self.assertEqual(screen.attr[y], grid.attrs[y], "attributes of row %d" % y)


class CommandLineOutputTests(E2ECase):
    """Standard output and exit codes of runs that need no firmware."""

    def test_no_arguments_prints_usage_and_fails(self):
        self.assertEqual(run(CFG.tool), (255, usage_text(CFG.program_name)))

    def test_help_wins_over_a_later_command(self):
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/HELP", "/Delvar",
                        store=self.store)
        self.assertEqual((code, out), (255, usage_text(CFG.program_name)))

    def test_help_switch_is_never_expanded_as_a_wildcard(self):
        # A runtime that expanded wildcards would hand "a" and "b" to the
        # program in place of "?": the help request lost, the /Delvar after
        # it run (alone, "?" would still end in the usage, for want of a
        # command).
        folder = os.path.join(self.tmp, "one-character-names")
        os.mkdir(folder)
        for leaf in ("a", "b"):
            with open(os.path.join(folder, leaf), "wb") as f:
                f.write(b"x")
        for program in (CFG.tool, CFG.sim_tool):
            for args in (("?",), ("-uefi", "-name", NAME, "-guid", GUID, "?", "/Delvar")):
                with self.subTest(program=os.path.basename(program), args=args):
                    self.assertEqual(run(program, *args, store=self.store, cwd=folder),
                                     (255, usage_text(CFG.program_name)))
        self.assertEqual(sorted(os.listdir(folder)), ["a", "b"])

    def test_missing_file_name_stops_before_anything_else(self):
        self.assertEqual(run(CFG.tool, "/Getvar", "x", "-savedef"),
                         (255, b"Please input file name.\r\n"))
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x")))

    def test_act_errors_end_the_run_before_the_command(self):
        out_file = os.path.join(self.tmp, "out.txt")
        self.make_variable(b"\x01")
        # The Linux side sees -1 as 255; ScreenTests and BatchTests see -1.
        args = ("-act", "2", "-uefi", "-name", NAME, "-guid", GUID, "/Getvar", wine_path(out_file))
        self.assertEqual(run(CFG.sim_tool, *args, store=self.store),
                         (255, b"Please input the correct parameter with -act.\r\n"))
        self.assertFalse(os.path.exists(out_file))
        # The exit code itself, all 32 bits, as Windows reports it.
        screen = probe(self.tmp, CFG.sim_tool, *args, store=self.store)
        self.assertEqual(screen.exit, -1)
        self.assertFalse(os.path.exists(out_file))
        self.assertEqual(run(CFG.tool, "-act"), (255, b"The parameter error\r\n"))

    def test_command_argument_errors(self):
        self.assertEqual(run(CFG.tool, "/Setvar", "10"),
                         (255, b"The parameter error. Please use /Setvar <offset> <data>.\r\n"))
        self.assertEqual(run(CFG.tool, "/getvar"),
                         (255, b"The parameter error. Please use /Getvar <filename>.\r\n"))

    def test_valueless_and_overlong_options_are_harmless(self):
        # Over-long values are cut to their fields; the run then finds no
        # command and shows the usage.
        code, out = run(CFG.tool, "-savedef", "A" * 300, "-securityboot", "B" * 300,
                        "-searchstring", "C" * 300, "-guid", "d" * 600, "-name", "E" * 3000,
                        "-retry")
        self.assertEqual((code, out), (255, usage_text(CFG.program_name)))
        # -name and -guid without a value after -uefi leave the earlier ones.
        self.make_variable(b"\xab")
        out_file = os.path.join(self.tmp, "out.txt")
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), "-name", store=self.store)
        self.assertEqual(code, 0, out)
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), "-guid", store=self.store)
        self.assertEqual((code, out),
                         (0, name_lines(space=" ") + b"Get variable and save to file success.\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"AB ")


class LegacyBiosTests(E2ECase):
    """The release program on plain Wine, and the simulator without a store."""

    def test_release_program_takes_the_legacy_path(self):
        self.make_variable(bytes(18))
        before = self.variable_file()
        # The release program reads no environment variable: a store named
        # for the simulator changes nothing.
        code, out = run(CFG.tool, "-uefi", "-name", NAME, "-guid", GUID, "/Setvar", "1A", "5",
                        store=self.store)
        self.assertEqual((code, out), (255, b"Offset = 001A, Data = 05\r\n" + name_lines() + LEGACY))
        code, out = run(CFG.tool, "-uefi", "-name", NAME, "-guid", GUID, "/Delvar",
                        store=self.store)
        self.assertEqual((code, out), (255, name_lines() + LEGACY))
        self.assertEqual(self.variable_file(), before)

    def test_legacy_dump_leaves_an_empty_file(self):
        out_file = os.path.join(self.tmp, "out.txt")
        with open(out_file, "wb") as f:
            f.write(b"old contents")
        # The dump prints the name lines only after the probe.
        self.assertEqual(run(CFG.tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                             wine_path(out_file)), (255, LEGACY))
        self.assertEqual(self.file_bytes(out_file), b"")

    def test_simulator_without_a_store_is_legacy(self):
        out_file = os.path.join(self.tmp, "out.txt")
        for store in (None, os.path.join(self.tmp, "no-such-folder")):
            with self.subTest(store=store):
                self.assertEqual(run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                                     "/Getvar", wine_path(out_file), store=store), (255, LEGACY))


class VariableCommandTests(E2ECase):
    """The three commands over the simulated store, whole processes."""

    def test_setvar_getvar_delvar_round_trip(self):
        data = bytearray(range(0x1B))
        self.make_variable(data)
        out_file = os.path.join(self.tmp, "dump.txt")

        # The README's own example: byte 0x1A becomes 0x05.
        for offset, value, shown in (("1A", "5", b"001A, Data = 05"),
                                     ("11", "a5", b"0011, Data = A5")):
            code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Setvar",
                            offset, value, store=self.store)
            self.assertEqual((code, out), (0, b"Offset = " + shown + b"\r\n" + name_lines()
                                           + b"Set variable success!\r\n"))
            data[int(offset, 16)] = int(value, 16)
            self.assertEqual(self.variable_file(), struct.pack("<I", 7) + data)
        # Replaced through a temporary file that must not stay behind.
        self.assertEqual(os.listdir(self.store), [VAR_FILE])

        # A Wine path names the store as well as a Unix one.
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), store=wine_path(self.store))
        self.assertEqual((code, out), (0, name_lines(space=" ")
                                       + b"Get variable and save to file success.\r\n"))
        self.assertEqual(self.file_bytes(out_file),
                         b"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"
                         b"10 A5 12 13 14 15 16 17 18 19 05 ")

        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Delvar",
                        store=self.store)
        self.assertEqual((code, out), (0, name_lines() + b"Set variable success!\r\n"))
        self.assertEqual(os.listdir(self.store), [])

        # Gone: the dump reports the missing variable and empties its file.
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), store=self.store)
        self.assertEqual((code, out), (255, name_lines(space=" ")
                                       + b"GetVariable Error Code=203\r\nGet variable failed!\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"")
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Delvar",
                        store=self.store)
        self.assertEqual((code, out), (255, name_lines()
                                       + b"GetVariable Error Code=203\r\nGet variable failed!\r\n"))

    def test_setvar_of_the_same_value_still_writes(self):
        self.make_variable(b"\x10\x20\x30")
        os.utime(self.var_path, (0, 0))
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Setvar", "2",
                        "30", store=self.store)
        self.assertEqual(code, 0, out)
        # Written all the same: a new file, the same bytes.
        self.assertNotEqual(os.stat(self.var_path).st_mtime, 0)
        self.assertEqual(self.variable_file(), b"\x07\x00\x00\x00\x10\x20\x30")

    def test_offsets_outside_the_variable_write_nothing(self):
        self.make_variable(bytes(18))
        before = self.variable_file()
        for offset, shown in (("12", "0012"), ("-1", "FFFFFFFF"), ("FFFF", "FFFF")):
            with self.subTest(offset=offset):
                code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Setvar",
                                offset, "1", store=self.store)
                self.assertEqual((code, out), (255, ("Offset = %s, Data = 01\r\n" % shown).encode()
                                               + name_lines()
                                               + b"Offset out of range! Variable size=18\r\n"))
                self.assertEqual(self.variable_file(), before)

    # Variables the store refuses to change: (case, the variable's file,
    # file mode, what /Setvar and /Delvar print after the name lines).
    REFUSED_CHANGES = (
        ("write-protected file", struct.pack("<I", 7) + b"\x01\x02", 0o444,
         b"Set variable fail. Error code=13\r\n"),
        ("volatile variable, attribute word 6", struct.pack("<I", 6) + b"\x01\x02", None,
         b"Set variable fail. Error code=13\r\n"),
        ("authenticated variable, 0x27", struct.pack("<I", 0x27) + b"\x01\x02", None,
         b"Set variable fail. Error code=57\r\n"),
        ("file shorter than its attribute word", b"\x07\x00\x00", None,
         b"GetVariable Error Code=1392\r\nGet variable failed!\r\n"),
        ("boot services only, attribute word 3", struct.pack("<I", 3) + b"\x01\x02", None,
         b"GetVariable Error Code=203\r\nGet variable failed!\r\n"),
    )

    def test_refused_changes_leave_the_variable(self):
        for case, raw, mode, message in self.REFUSED_CHANGES:
            self.make_file(raw)
            if mode is not None:
                os.chmod(self.var_path, mode)
            for args, prefix in ((("/Setvar", "0", "ff"), b"Offset = 0000, Data = FF\r\n"),
                                 (("/Delvar",), b"")):
                with self.subTest(case=case, command=args[0]):
                    code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, *args,
                                    store=self.store)
                    self.assertEqual((code, out), (255, prefix + name_lines() + message))
                    self.assertEqual(self.variable_file(), raw)
            os.chmod(self.var_path, 0o644)

    def test_names_are_case_sensitive_and_may_hold_any_character(self):
        # Files as the store keeps them: the efivarfs name, its upper-case
        # twin in the case-safe form, and a name with characters no Windows
        # file name can hold, escaped.
        suffix = VAR_FILE[len(NAME):]
        variables = (("Setup", "Setup", b"\x01"), ("SETUP", "^^S^E^T^U^P", b"\x02"),
                     ('Boot/Menu:"1"', "Boot%2FMenu%3A%221%22", b"\x03"))
        for _, leaf, data in variables:
            with open(os.path.join(self.store, leaf + suffix), "wb") as f:
                f.write(struct.pack("<I", 7) + data)
        out_file = os.path.join(self.tmp, "dump.txt")
        for name, _, data in variables:
            with self.subTest(name=name):
                code, out = run(CFG.sim_tool, "-uefi", "-name", name, "-guid", GUID, "/Getvar",
                                wine_path(out_file), store=self.store)
                self.assertEqual((code, out), (0, name_lines(name, space=" ")
                                               + b"Get variable and save to file success.\r\n"))
                self.assertEqual(self.file_bytes(out_file), dump_text(data))
        # A third case of the same letters is another, missing variable; the
        # upper-case one changes alone.
        code, out = run(CFG.sim_tool, "-uefi", "-name", "setup", "-guid", GUID, "/Delvar",
                        store=self.store)
        self.assertEqual((code, out), (255, name_lines("setup")
                                       + b"GetVariable Error Code=203\r\nGet variable failed!\r\n"))
        code, out = run(CFG.sim_tool, "-uefi", "-name", "SETUP", "-guid", GUID, "/Setvar", "0",
                        "ee", store=self.store)
        self.assertEqual(code, 0, out)
        self.assertEqual(self.variable_file(), b"\x07\x00\x00\x00\x01")
        self.assertEqual(self.file_bytes(os.path.join(self.store, "^^S^E^T^U^P" + suffix)),
                         b"\x07\x00\x00\x00\xee")
        self.assertEqual(len(os.listdir(self.store)), 3)

    def test_unset_name_and_guid_are_shown_and_rejected(self):
        self.make_variable(b"\x01")
        out_file = os.path.join(self.tmp, "out.txt")
        # Without a preceding -uefi the name and GUID do not reach the command.
        code, out = run(CFG.sim_tool, "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), store=self.store)
        self.assertEqual((code, out), (255, name_lines("(not set)", "(not set)", " ")
                                       + b"GetVariable Error Code=87\r\nGet variable failed!\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"")

    def test_largest_variable_dumps_and_a_larger_one_is_refused(self):
        data = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(MAX_VARIABLE))
        self.make_variable(data)
        out_file = os.path.join(self.tmp, "dump.txt")
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), store=self.store)
        self.assertEqual(code, 0, out)
        dumped = self.file_bytes(out_file)
        self.assertEqual(len(dumped), 3 * MAX_VARIABLE + 2 * (MAX_VARIABLE // 16 - 1))
        self.assertEqual(dumped, dump_text(data))

        self.make_variable(data + b"\x00")
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        wine_path(out_file), store=self.store)
        self.assertEqual((code, out), (255, name_lines(space=" ")
                                       + b"GetVariable Error Code=122\r\nGet variable failed!\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"")

    def test_failed_dump_write_is_reported(self):
        self.make_variable(bytes(range(256)) * 64)
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Getvar",
                        "Z:\\dev\\full", store=self.store)
        self.assertEqual((code, out), (255, name_lines(space=" ") + b"Write to file failed!\r\n"))


class ScreenTests(E2ECase):
    """The console as a person sees it, read back from the screen buffer."""

    ROWS = 50  # conprobe's screen buffer

    def banner_grid(self):
        """A screen after DrawBanner with standard output on the console."""
        grid = Grid(self.ROWS)
        grid.fill(SCREEN_ROWS, " ", BANNER_ATTR)
        grid.at(28, 0, BUILD_DATE)
        grid.at(11, 1, PRODUCT)
        grid.at(0, 1, "KALVORIN")
        grid.at(74, 1, "OPHEL")
        grid.at(0, 2, "=" * COLUMNS)
        grid.x, grid.y = 0, 3
        return grid

    def test_banner_usage_and_return_code_on_the_console(self):
        screen = probe(self.tmp, CFG.tool)
        self.assertEqual(screen.exit, 255)
        self.assertEqual(screen.fill, (ord(FILL_CHAR), FILL_ATTR))
        # The banner's cells, spelt out.
        self.assertEqual(screen.text[0], " " * 28 + BUILD_DATE + " " * 30)
        self.assertEqual(screen.text[1], "KALVORIN" + " " * 3 + PRODUCT + " " * 7 + "OPHEL ")
        self.assertEqual(screen.text[2], "=" * COLUMNS)
        # Attribute 7 over exactly the 25 rows of 80 columns, nothing below.
        for y in range(self.ROWS):
            self.assertEqual(set(screen.attr[y]), {BANNER_ATTR if y < SCREEN_ROWS else FILL_ATTR},
                             "attributes of row %d" % y)
        # Usage from row 3, then the return-code line on a row of its own.
        grid = self.banner_grid()
        grid.write(usage_text(CFG.program_name).decode().replace("\r\n", "\n"))
        grid.write(return_code_line(255))
        self.assertEqual(screen.text[10], " " * 33 + "Return_Code=255 " + " " * 31)
        self.assertScreen(screen, grid)
        self.assertEqual(screen.cursor, (0, 11))

    def test_act_error_shows_minus_one(self):
        screen = probe(self.tmp, CFG.tool, "-act", "2")
        self.assertEqual(screen.exit, -1)
        grid = self.banner_grid()
        grid.write("Please input the correct parameter with -act.\n" + return_code_line(-1))
        self.assertScreen(screen, grid)

    def test_command_output_and_console_lines_keep_their_order(self):
        self.make_variable(bytes(4))
        screen = probe(self.tmp, CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                       "/Setvar", "3", "7e", store=self.store)
        self.assertEqual(screen.exit, 0)
        grid = self.banner_grid()
        grid.write("Offset = 0003, Data = 7E\nName=%s\nGUID=%s\nSet variable success!\n"
                   % (NAME, GUID) + return_code_line(0))
        self.assertScreen(screen, grid)
        self.assertEqual(self.variable_file(), b"\x07\x00\x00\x00\x00\x00\x00\x7e")

    def test_redirected_output_leaves_the_console_texts_in_sequence(self):
        out_file = os.path.join(self.tmp, "stdout.txt")
        # No arguments, and a help switch after other arguments: either way
        # the usage redraws the whole banner although it was drawn already.
        for args in ((), ("-uefi", "-name", NAME, "-act", "1", "/h", "/Delvar")):
            with self.subTest(args=args):
                screen = probe(self.tmp, CFG.tool, *args, stdout_file=out_file)
                self.assertEqual(screen.exit, 255)
                self.assertEqual(self.file_bytes(out_file), usage_text(CFG.program_name))
                # The fill and cursor moves act on standard output and fail;
                # the banner (drawn twice: once more by the usage) follows the
                # cursor.
                grid = Grid(self.ROWS)
                grid.write(BANNER_TEXTS * 2 + return_code_line(255))
                self.assertScreen(screen, grid)

    def test_missing_file_name_shows_no_banner(self):
        out_file = os.path.join(self.tmp, "stdout.txt")
        screen = probe(self.tmp, CFG.tool, "-savedef", stdout_file=out_file)
        self.assertEqual(screen.exit, 255)
        self.assertEqual(self.file_bytes(out_file), b"Please input file name.\r\n")
        grid = Grid(self.ROWS)
        grid.write(return_code_line(255))
        self.assertScreen(screen, grid)

    def test_dump_file_open_error_goes_to_the_console(self):
        out_file = os.path.join(self.tmp, "stdout.txt")
        dump = os.path.join(self.tmp, "no-such-folder", "dump.txt")
        screen = probe(self.tmp, CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                       "/Getvar", wine_path(dump), store=self.store, stdout_file=out_file)
        self.assertEqual(screen.exit, 255)
        self.assertEqual(self.file_bytes(out_file), b"")
        grid = Grid(self.ROWS)
        grid.write(BANNER_TEXTS + "\n ERROR !! Can't Open File !!\n\r" + return_code_line(255))
        self.assertScreen(screen, grid)


class InstanceLockTests(E2ECase):
    """Two instances and the "ACCESS_BIOS_ROM" mutex."""

    def test_loser_gives_up_after_ten_seconds_and_a_waiter_gets_in(self):
        self.make_variable(b"\x5a\xa5")
        holder = subprocess.Popen([CFG.wine, CFG.mutexholder], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  env=wine_env())
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), b"held\r\n")

        # The loser would delete the variable if it ever got the lock.
        started = time.monotonic()
        loser = subprocess.Popen([CFG.wine, CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                                  "/Delvar"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, env=wine_env(self.store))
        self.addCleanup(loser.kill)
        # The waiter starts 6 s after the loser, so it is still inside its own
        # ten seconds when the loser has given up and the holder lets go: about
        # 6 s to spare for slow process starts and ends on a loaded machine.
        time.sleep(6)
        out_file = os.path.join(self.tmp, "dump.txt")
        waiter = subprocess.Popen([CFG.wine, CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                                   "/Getvar", wine_path(out_file)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  env=wine_env(self.store))
        self.addCleanup(waiter.kill)

        # 100 attempts, each followed by a 100 ms sleep that never ends early:
        # ten seconds at least, exactly; 30 s bounds a loaded machine's slow
        # start and end three times over.
        out, _ = loser.communicate(timeout=40)
        lost_after = time.monotonic() - started
        self.assertEqual((loser.returncode, out), (255, b"ARDENTIS: Another process running."))
        self.assertGreaterEqual(lost_after, 100 * 0.100)
        self.assertLess(lost_after, 30)
        self.assertTrue(os.path.exists(self.var_path))

        # The waiter is still trying. The variable changes while the holder
        # still has the lock: a waiter that read before the holder let go
        # would dump the old bytes, whatever the timing.
        self.assertIsNone(waiter.poll())
        self.make_variable(b"\x3c\xc3")
        holder.stdin.write(b"go\n")
        holder.stdin.close()
        self.assertEqual(holder.wait(timeout=20), 0)
        out, _ = waiter.communicate(timeout=20)
        self.assertEqual((waiter.returncode, out), (0, name_lines(space=" ")
                                                    + b"Get variable and save to file success.\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"3C C3 ")


class BatchFileTests(E2ECase):
    """What a batch file on a fleet PC sees of the exit codes."""

    def run_batch(self, name, lines, cwd=None):
        """Runs the lines as a batch file (CR LF) under Wine's cmd. A run
        takes a few seconds; 120 s only turns a hang into a failure."""
        batch = os.path.join(self.tmp, name)
        with open(batch, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode())
        return subprocess.run([CFG.wine, "cmd", "/c", wine_path(batch)], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=wine_env(self.store), timeout=120, cwd=cwd)

    def test_errorlevel_for_success_failure_and_parameter_error(self):
        self.make_variable(b"\x01")
        tool = wine_path(CFG.sim_tool)
        dump = wine_path(os.path.join(self.tmp, "dump.txt"))
        lines = [
            "@echo off",
            '"%s" -uefi -name %s -guid %s /Getvar "%s" > nul' % (tool, NAME, GUID, dump),
            "echo ok=%ERRORLEVEL%",
            "if errorlevel 1 echo ok-at-least-1",
            '"%s" -uefi -name Missing -guid %s /Delvar > nul' % (tool, GUID),
            "echo fail=%ERRORLEVEL%",
            "if errorlevel 255 echo fail-at-least-255",
            '"%s" -act 2 /Delvar > nul' % tool,
            "echo act=%ERRORLEVEL%",
            "if errorlevel 1 echo act-at-least-1",
            "if %ERRORLEVEL% == -1 echo act-is-minus-one",
            "exit /b 0",
        ]
        proc = self.run_batch("check.bat", lines)
        self.assertEqual(proc.stdout.decode().replace("\r\n", "\n"),
                         "ok=0\nfail=255\nfail-at-least-255\nact=-1\nact-is-minus-one\n")
        self.assertTrue(os.path.exists(self.var_path))


    # Runs of the shipped batch files, one per row, in order, on one store:
    # the command (the batch file's name without .cmd and its arguments;
    # @LOG a log file, @LOGS and @UNDO log folders, @NOLOG a log in a missing
    # folder; a leading @LEGACY runs it without the store, @IGNORE on a
    # firmware that ignores writes, @NORIGHT without the right to firmware
    # variables, as from a prompt that was not elevated), the exit code, the log line from its
    # third field on (@GOT and @203 stand for the tool's messages of a good
    # and of a missing variable's read, @BACKUP for a backup file beside the
    # log holding the variable as it was before the run; None: no line, and
    # "!text" instead: no line, text on standard error), and what becomes of
    # Setup (18 bytes): None when no variable file may be touched at all,
    # else the bytes written as OFFSET=VALUE; "save" keeps the variable as it
    # is before the run, "restored" asserts that it is byte for byte that
    # again after the run.
    FLEET_RUNS = (
        # check-byte.cmd reads and never writes.
        ("check-byte Setup @GUID 11 a5 @LOG", 0,
         "Setup;@GUID;11;a5;0;ready: the byte would be changed;@GOT;00;;;", None),
        ("check-byte Setup @GUID 0 0 @LOG", 0,
         "Setup;@GUID;0;0;0;nothing to do: the byte already holds the value;@GOT;00;;;", None),
        ("check-byte Setup @GUID 12 1 @LOG", 255, "Setup;@GUID;12;1;255;"
         "not possible here: OFFSET is outside the variable of 18 bytes;@GOT;;;;", None),
        # The highest OFFSET there is: the last entry of the dump's line 4096.
        ("check-byte Big @GUID FFFF 2 @LOG", 0,
         "Big;@GUID;FFFF;2;0;ready: the byte would be changed;@GOT;01;;;", None),
        ("check-byte Missing @GUID 0 1 @LOG", 255,
         "Missing;@GUID;0;1;255;not possible here: the variable does not exist;@203;;;;", None),
        ("check-byte Short @GUID 0 1 @LOG", 255, "Short;@GUID;0;1;255;not possible here: "
         "the variable cannot be read, error 1392;GetVariable Error Code=1392 / Get variable failed!"
         ";;;;", None),
        ("@LEGACY check-byte Setup @GUID 0 1 @LOG", 255, "Setup;@GUID;0;1;255;not possible here: "
         "legacy BIOS installation, no firmware variables;Windows was installed using legacy BIOS."
         ";;;;", None),
        ("@NORIGHT check-byte Setup @GUID 0 1 @LOG", 255, "Setup;@GUID;0;1;255;not possible here: "
         "no right to firmware variables, run elevated or as SYSTEM;"
         "GetVariable Error Code=1314 / Get variable failed!;;;;", None),
        ("check-byte Setup @GUID 0 1 @LOG -act 2", 255, "Setup;@GUID;0;1;255;not possible here: "
         "-act/-policy value missing or invalid;Please input the correct parameter with -act.;;;;",
         None),
        ("check-byte Setup @GUID 1 0x5 @LOG", 255, "Setup;@GUID;1;0x5;255;not possible here: "
         "refused;check-byte: DATA must be 1 or 2 hexadecimal digits, not [0x5];;;;", None),
        ("check-byte Setup @GUID 1 5", 255, "!usage: check-byte.cmd", None),
        # set-byte.cmd: today's outcomes, with the new fields.
        ("set-byte Setup @GUID 11 a5 @LOG", 0,
         "Setup;@GUID;11;a5;0;success: the byte is set;Set variable success!;00;A5;;", "11=a5"),
        ("set-byte Missing @GUID 0 1 @LOG", 255, "Missing;@GUID;0;1;255;"
         "failure: the byte is not set, the variable does not exist;@203;;;;", None),
        ("set-byte Volatile @GUID 0 2 @LOG", 255, "Volatile;@GUID;0;2;255;failure: the byte is not "
         "set, the write failed;Set variable fail. Error code=13;01;;;", None),
        ("set-byte Setup @GUID 1 2 @LOG -act 2", -1, "Setup;@GUID;1;2;-1;parameter error: -act/-policy"
         " value missing or invalid, the byte is not set;Please input the correct parameter with "
         "-act.;;;;", None),
        ("set-byte Setup @GUID 1 0x5 @LOG", 255, "Setup;@GUID;1;0x5;255;failure: the byte is not set;"
         "set-byte: DATA must be 1 or 2 hexadecimal digits, not [0x5];;;;", None),
        ("set-byte Setup @GUID 12345 5 @LOG", 255, "Setup;@GUID;12345;5;255;failure: the byte is not "
         "set;set-byte: OFFSET must be 1 to 4 hexadecimal digits, not [12345];;;;", None),
        # A refused value is logged and shown as text, never run as a
        # redirection or a command.
        ('set-byte Setup @GUID "1>2" "5&ver" @LOG', 255, "Setup;@GUID;1>2;5&ver;255;failure: the byte is "
         "not set;set-byte: DATA must be 1 or 2 hexadecimal digits, not [5&ver];;;;", None),
        ("set-byte Setup @GUID 1 5 @LOGS", 0,
         "Setup;@GUID;1;5;0;success: the byte is set;Set variable success!;00;05;@BACKUP;", "1=5"),
        ("set-byte Setup @GUID 1 6 @NOLOG", 255, "!cannot write the log", None),
        ("set-byte Setup @GUID 1 6", 255, "!usage: set-byte.cmd", None),
        # set-byte.cmd looks before and verifies after.
        ("set-byte Setup @GUID 11 A5 @LOGS", 0, "Setup;@GUID;11;A5;0;"
         "unchanged: the byte already holds the value, not written;@GOT;A5;;;", None),
        ("set-byte Setup @GUID 11 a5 @LOGS /force", 0,
         "Setup;@GUID;11;a5;0;success: the byte is set;Set variable success!;A5;A5;@BACKUP;",
         "11=a5"),
        ("set-byte Setup @GUID 12 1 @LOGS", 255, "Setup;@GUID;12;1;255;failure: the byte is not set, "
         "OFFSET is outside the variable of 18 bytes;@GOT;;;;", None),
        ("@IGNORE set-byte Setup @GUID 2 3 @LOGS", 255, "Setup;@GUID;2;3;255;failure: written but not "
         "kept, the byte reads back 00;Set variable success!;00;00;@BACKUP;", None),
        ("@LEGACY set-byte Setup @GUID 0 1 @LOGS", 255, "Setup;@GUID;0;1;255;failure: the byte is not "
         "set, legacy BIOS installation, no firmware variables;"
         "Windows was installed using legacy BIOS.;;;;", None),
        ("@NORIGHT set-byte Setup @GUID 0 1 @LOGS", 255, "Setup;@GUID;0;1;255;failure: the byte is not "
         "set, no right to firmware variables, run elevated or as SYSTEM;"
         "GetVariable Error Code=1314 / Get variable failed!;;;;", None),
        ("set-byte Short @GUID 0 1 @LOG", 255, "Short;@GUID;0;1;255;failure: the byte is not set, the "
         "variable cannot be read, error 1392;GetVariable Error Code=1392 / Get variable failed!;;;;",
         None),
        # undo-byte.cmd: change, undo; change, change, undo, undo, undo.
        ("set-byte Setup @GUID 3 7 @UNDO", 0,
         "Setup;@GUID;3;7;0;success: the byte is set;Set variable success!;00;07;@BACKUP;",
         "save 3=7"),
        ("undo-byte @UNDO", 0,
         "Setup;@GUID;3;00;0;success: the byte is set;Set variable success!;07;00;@BACKUP;1",
         "3=0 restored"),
        ("set-byte Setup @GUID 3 8 @UNDO", 0,
         "Setup;@GUID;3;8;0;success: the byte is set;Set variable success!;00;08;@BACKUP;",
         "save 3=8"),
        ("set-byte Setup @GUID 4 9 @UNDO", 0,
         "Setup;@GUID;4;9;0;success: the byte is set;Set variable success!;00;09;@BACKUP;", "4=9"),
        ("set-byte Setup @GUID 3 8 @UNDO", 0, "Setup;@GUID;3;8;0;"
         "unchanged: the byte already holds the value, not written;@GOT;08;;;", None),
        ("undo-byte @UNDO", 0,
         "Setup;@GUID;4;00;0;success: the byte is set;Set variable success!;09;00;@BACKUP;4", "4=0"),
        ("undo-byte @UNDO", 0,
         "Setup;@GUID;3;00;0;success: the byte is set;Set variable success!;08;00;@BACKUP;3",
         "3=0 restored"),
        ("undo-byte @UNDO", 0,
         ";;;;0;nothing to undo: every change of this PC in the log is undone;;;;;", None),
        # A byte changed since (here through another log) is left alone
        # unless /force; the undo that failed is still to do.
        ("set-byte Setup @GUID 5 1 @UNDO", 0,
         "Setup;@GUID;5;1;0;success: the byte is set;Set variable success!;00;01;@BACKUP;", "5=1"),
        ("set-byte Setup @GUID 5 2 @LOG", 0,
         "Setup;@GUID;5;2;0;success: the byte is set;Set variable success!;01;02;;", "5=2"),
        ("undo-byte @UNDO", 255, "Setup;@GUID;5;00;255;failure: the byte is not set, the byte holds 02,"
         " not 01 as the change to undo left it;@GOT;02;;;9", None),
        ("undo-byte @UNDO /force", 0,
         "Setup;@GUID;5;00;0;success: the byte is set;Set variable success!;02;00;@BACKUP;9", "5=0"),
        # In the folder log: only the first run changed a byte (the forced
        # one wrote the value that was there).
        ("undo-byte @LOGS", 0,
         "Setup;@GUID;1;00;0;success: the byte is set;Set variable success!;05;00;@BACKUP;1", "1=0"),
        ("undo-byte @NOLOG", 255, "!cannot write the log", None),
        ("undo-byte", 255, "!usage: undo-byte.cmd", None),
    )

    def test_fleet_batch_files_log_every_run_and_change_only_what_they_say(self):
        # The shipped batch files beside the simulated-store program, named
        # as the tool they pick here: Ardentis64.exe on this 64-bit Wine (a
        # 32-bit Ardentis.exe beside it must not be taken), Ardentis.exe
        # when it is the only one.
        fleet = os.path.join(self.tmp, "fleet")
        os.mkdir(fleet)
        for batch in CFG.batch:
            shutil.copy(batch, fleet)
        shutil.copy(CFG.sim_tool, os.path.join(fleet, CFG.program_name))
        if CFG.program_name == "Ardentis64.exe":
            with open(os.path.join(fleet, "Ardentis.exe"), "wb") as f:
                f.write(b"not this one")
        setup = bytearray(18)
        self.make_variable(setup)
        self.make_variable(b"\x01", attributes=6, name="Volatile")
        self.make_file(b"\x07\x00\x00", name="Short")
        self.make_variable(bytes(range(255)) * 257 + b"\x01", name="Big")  # 64 KiB
        places = {"@LOG": os.path.join(self.tmp, "results.log"),
                  "@LOGS": os.path.join(self.tmp, "logs"),
                  "@UNDO": os.path.join(self.tmp, "undo"),
                  "@NOLOG": os.path.join(self.tmp, "missing", "results.log")}
        os.mkdir(places["@LOGS"])
        os.mkdir(places["@UNDO"])
        # The current folder of every run: a stray redirection lands here.
        work = os.path.join(self.tmp, "work")
        os.mkdir(work)
        computer = self.run_batch("name.bat", ["@echo off", "echo %COMPUTERNAME%"]).stdout
        computer = computer.decode().strip()
        folder_log = "%s.log" % computer
        saved = None
        for command, code, line, change in self.FLEET_RUNS:
            with self.subTest(run=command):
                words = command.split(" ")
                env = []
                launcher = ""
                while words[0] in ("@LEGACY", "@IGNORE", "@NORIGHT"):
                    prefix = words.pop(0)
                    if prefix == "@NORIGHT":
                        launcher = '"%s" ' % wine_path(CFG.noright)
                        continue
                    env.append({"@LEGACY": 'set "%s="' % SIM_ENV,
                                "@IGNORE": 'set "ARDENTIS_SIM_IGNORE_WRITES=1"'}[prefix])
                script = words[0]
                words[0] = wine_path(os.path.join(fleet, script + ".cmd"))
                place = next((w for w in words if w in places), None)
                log = places.get(place)
                if place in ("@LOGS", "@UNDO"):
                    log = os.path.join(log, folder_log)
                # Old enough that any rewrite shows in a file's time.
                for leaf in os.listdir(self.store):
                    os.utime(os.path.join(self.store, leaf), ns=(10 ** 18, 10 ** 18))
                before = self.store_state()
                backups = self.backups(places)
                logged = self.log_lines(log)
                if change and "save" in change.split():
                    saved = before[VAR_FILE][0]
                args = " ".join(wine_path(places[w]) if w in places else w.replace("@GUID", GUID)
                                for w in words)
                proc = self.run_batch("run.bat", ["@echo off"] + env
                                      + ["%scmd /c %s" % (launcher, args), "echo rc=%ERRORLEVEL%"],
                                      cwd=work)
                self.assertEqual(os.listdir(work), [])
                out = proc.stdout.decode().splitlines()
                self.assertEqual(out[-1], "rc=%d" % code)
                logged = self.log_lines(log)[len(logged):]
                if line.startswith("!"):
                    self.assertEqual(logged, [])
                    self.assertEqual(self.backups(places), backups)
                    self.assertIn(line[1:].encode(), proc.stderr)
                else:
                    self.assertEqual(len(logged), 1, logged)
                    fields = logged[0].split(";")
                    self.assertEqual(fields[0], computer)
                    self.assertRegex(fields[1], r"\d")  # the PC's own date and time
                    expected = line.replace("@GUID", GUID).replace(
                        "@GOT", "Get variable and save to file success.").replace(
                        "@203", "GetVariable Error Code=203 / Get variable failed!").split(";")
                    if "@BACKUP" in expected:
                        backup = fields[11]
                        folder = wine_path(places[place]) + "\\"
                        self.assertRegex(backup, "^" + re.escape(folder + computer + "-Setup-")
                                         + r"[^\\]+\.txt$")
                        expected[expected.index("@BACKUP")] = backup
                        self.assertEqual(self.backups(places), backups | {backup})
                        # The variable as it was before the run.
                        self.assertEqual(self.file_bytes(os.path.join(
                            places[place], backup[len(folder):])), dump_text(before[VAR_FILE][0][4:]))
                    else:
                        self.assertEqual(self.backups(places), backups)
                    self.assertEqual(fields[2:], expected)
                    # A check tells in one line on the console, a change or
                    # an undo ends its output with one; a refusal says why
                    # on standard error.
                    if expected[6].startswith(script + ": "):
                        self.assertEqual(proc.stderr.decode().splitlines(), [expected[6]])
                        self.assertEqual(out, [out[-1]])
                    else:
                        told = [o for o in out if o.startswith(("check-byte: ", "set-byte: ",
                                                                "undo-byte: "))]
                        self.assertIn(": " + expected[5], told[-1])
                        if script == "check-byte":
                            self.assertEqual(out, told + [out[-1]])
                after = self.store_state()
                if change is not None:
                    for item in change.split():
                        if "=" in item:
                            offset, value = item.split("=")
                            setup[int(offset, 16)] = int(value, 16)
                    self.assertEqual(after[VAR_FILE][0][4:], bytes(setup))
                    self.assertNotEqual(after[VAR_FILE][1], before[VAR_FILE][1])  # written
                    if "restored" in change.split():
                        self.assertEqual(after[VAR_FILE][0], saved)
                    del after[VAR_FILE], before[VAR_FILE]
                # Nothing else written: bytes and times as they were.
                self.assertEqual(after, before)

    def store_state(self):
        """Every file of the store: its bytes and last-write time."""
        return {leaf: (self.file_bytes(os.path.join(self.store, leaf)),
                       os.stat(os.path.join(self.store, leaf)).st_mtime_ns)
                for leaf in os.listdir(self.store)}

    def backups(self, places):
        """The backup files beside the folder logs, as a log names them."""
        return {wine_path(os.path.join(places[name], leaf))
                for name in ("@LOGS", "@UNDO") for leaf in os.listdir(places[name])
                if leaf.endswith(".txt")}

    def log_lines(self, log):
        if log is None or not os.path.isfile(log):
            return []
        return self.file_bytes(log).decode().split("\r\n")[:-1]


def setUpModule():
    # A warm wineserver: the first Wine start of a run is slow.
    subprocess.run([CFG.wine, "cmd", "/c", "exit"], env=wine_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def run_tests(wine, rest):
    """Runs this module's tests, or exits with the skip code where Wine's
    loader of this architecture cannot run at all."""
    try:
        subprocess.run([wine, "--version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    except OSError as error:
        if error.errno != errno.ENOEXEC:
            raise
        # A kernel without 32-bit support cannot start Wine's i386 loader:
        # nothing of this architecture can run here. Say so; CTest shows a skip.
        print("SKIPPED: %s cannot be executed on this machine (%s)" % (wine, error))
        sys.exit(SKIP_EXIT_CODE)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


def main():
    global CFG
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine", required=True, help="Wine loader for this architecture")
    parser.add_argument("--wineprefix", required=True)
    parser.add_argument("--tool", required=True, help="release program")
    parser.add_argument("--sim-tool", required=True, help="program on the simulated store")
    parser.add_argument("--conprobe", required=True)
    parser.add_argument("--mutexholder", required=True)
    parser.add_argument("--noright", required=True, help="runs a program without the right")
    parser.add_argument("--batch", required=True, nargs="+",
                        help="the release's batch files: set-byte.cmd, check-byte.cmd, undo-byte.cmd")
    CFG, rest = parser.parse_known_args()
    CFG.program_name = os.path.basename(CFG.tool)
    run_tests(CFG.wine, rest)


if __name__ == "__main__":
    main()
