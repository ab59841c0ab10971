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
import csv
import errno
import json
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


def smbios_structure(stype, length, fields, strings, handle=0):
    """One SMBIOS structure: its type, formatted length (the 4-byte header
    included; below 4 the header is still written whole), {offset: byte} of
    the formatted area (the rest zero) and its strings (str or bytes)."""
    data = bytearray(max(length, 4))
    data[0:4] = struct.pack("<BBH", stype, length & 0xFF, handle)
    for offset, value in fields.items():
        data[offset] = value
    encoded = [s.encode("latin-1") if isinstance(s, str) else s for s in strings]
    return bytes(data) + (b"".join(s + b"\0" for s in encoded) or b"\0") + b"\0"


def smbios_table(maker="Maker Co", product="Model 7", sku="SKU-7", vendor="Firmware Co",
                 version="V1.02", date="03/04/2025", firmware=True, system=True,
                 system_length=0x1B, extra=b"", end_of_table=True, length_change=0, cut=None,
                 smbios_version=(3, 4)):
    """What GetSystemFirmwareTable('RSMB', 0, ...) returns, as the file that
    ARDENTIS_SIM_SMBIOS names: the 8-byte header, firmware information
    (type 0), system information (type 1), `extra` (more structures, made by
    smbios_structure), then the end-of-table structure (type 127).

    A string given as None is absent (number 0); an int is written as the
    string number with no string for it (past the strings when larger than
    their count). Faults: firmware, system or end_of_table False leave that
    structure out; system_length is type 1's formatted length (0x19: SMBIOS
    2.3, no SKU field; 8: SMBIOS 2.0); length_change is added to the length
    in the header (positive: more than there is); cut keeps only table[:cut].
    SMBIOS_HELPER_TABLES below pins what this builds."""
    def numbered(values):
        strings, numbers = [], []
        for value in values:
            if value is None or isinstance(value, int):
                numbers.append(value or 0)
            else:
                strings.append(value)
                numbers.append(len(strings))
        return strings, numbers

    body = b""
    if firmware:
        strings, (n_vendor, n_version, n_date) = numbered([vendor, version, date])
        body += smbios_structure(0, 0x18, {4: n_vendor, 5: n_version, 8: n_date}, strings)
    if system:
        strings, (n_maker, n_product, n_sku) = numbered([maker, product, sku])
        fields = {4: n_maker, 5: n_product, 0x19: n_sku}
        body += smbios_structure(1, system_length,
                                 {k: v for k, v in fields.items() if k < system_length},
                                 strings, handle=1)
    body += extra
    if end_of_table:
        body += smbios_structure(127, 4, {}, [], handle=2)
    major, minor = smbios_version
    table = struct.pack("<BBBBI", 0, major, minor, 0, len(body) + length_change) + body
    return table[:cut]


# Tables smbios_table builds, kept as files of the SMBIOS parser's fuzz corpus
# (tests/fuzz/corpus/smbios/<name>): the host tests (FleetSmbios) check what
# the parser reads from them, and CTest e2e_smbios_helper that this function
# still builds them byte for byte.
SMBIOS_HELPER_TABLES = {
    "helper_whole": {},
    "helper_faults": {"maker": "Maker Co  ", "product": None, "sku": 9, "date": None,
                      "end_of_table": False, "length_change": 3},
    "helper_short": {"firmware": False, "system_length": 0x19, "sku": None, "cut": -2},
}


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


def probe(tmp, program, *args, store=None, stdout_file=None, env=None):
    """Runs program as conprobe's child in a fresh console, the way CI has
    it: no terminal, standard input /dev/null, a session of its own."""
    report = os.path.join(tmp, "screen.txt")
    if os.path.exists(report):
        os.unlink(report)
    command = [CFG.wine, CFG.conprobe, wine_path(report),
               wine_path(stdout_file) if stdout_file else "-", wine_path(program), *args]
    env = dict(wine_env(store), **(env or {}))
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

    def hold(self, *args):
        """mutexholder with the tool's mutex (or --file PATH), held until release."""
        holder = subprocess.Popen([CFG.wine, CFG.mutexholder, *args], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  env=wine_env())
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), b"held\r\n")
        return holder

    def release(self, holder, timeout=30):
        holder.stdin.write(b"go\n")
        holder.stdin.close()
        self.assertEqual(holder.wait(timeout=timeout), 0)

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
        holder = self.hold()

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
        self.release(holder, timeout=20)
        out, _ = waiter.communicate(timeout=20)
        self.assertEqual((waiter.returncode, out), (0, name_lines(space=" ")
                                                    + b"Get variable and save to file success.\r\n"))
        self.assertEqual(self.file_bytes(out_file), b"3C C3 ")


    def test_the_name_every_session_shares_holds_off_both_programs(self):
        """Global\\ACCESS_BIOS_ROM, which a run in session 0 and one in a desktop
        session share, makes both programs wait as the tool's own name does; a
        name that cannot be made at all stops the fleet program (it never
        writes without the lock) and not the tool, as before."""
        self.make_variable(b"\x5a\xa5")
        holder = self.hold("--name", "Global\\ACCESS_BIOS_ROM")
        started = time.monotonic()
        tool = subprocess.Popen([CFG.wine, CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID,
                                 "/Delvar"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, env=wine_env(self.store))
        self.addCleanup(tool.kill)
        fleet_env = dict(wine_env(self.store),
                         ARDENTIS_FLEET_HOME=wine_path(os.path.join(self.tmp, "journal")))
        fleet = subprocess.Popen([CFG.wine, CFG.sim_fleet, "set", NAME, GUID, "0", "1"],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, env=fleet_env)
        self.addCleanup(fleet.kill)
        out, _ = tool.communicate(timeout=40)
        self.assertEqual((tool.returncode, out), (255, b"ARDENTIS: Another process running."))
        out, _ = fleet.communicate(timeout=40)
        self.assertEqual(fleet.returncode, 255)
        self.assertIn(b"RESULT=BUSY EXIT=255 OLD= NEW= READ= REASON=LOCK-BUSY", out)
        self.assertGreaterEqual(time.monotonic() - started, 100 * 0.100)
        self.release(holder)
        self.assertEqual(self.variable_file(), struct.pack("<I", 7) + b"\x5a\xa5")

        holder = self.hold("--event", "Global\\ACCESS_BIOS_ROM")
        fleet = subprocess.run([CFG.wine, CFG.sim_fleet, "set", NAME, GUID, "0", "1"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=fleet_env, timeout=60)
        self.assertEqual((fleet.returncode, fleet.stderr), (255, b""))
        self.assertIn(b"The lock Global\\ACCESS_BIOS_ROM cannot be made, error 6: nothing was "
                      b"read or changed.", fleet.stdout)
        self.assertIn(b"RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=NO-LOCK", fleet.stdout)
        self.assertEqual(self.variable_file(), struct.pack("<I", 7) + b"\x5a\xa5")
        code, out = run(CFG.sim_tool, "-uefi", "-name", NAME, "-guid", GUID, "/Setvar", "0", "1",
                        store=self.store)
        self.assertEqual(code, 0, out)
        self.assertEqual(self.variable_file(), struct.pack("<I", 7) + b"\x01\xa5")
        self.release(holder)


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


def store_leaf(name, encoding):
    """The simulated store's file name for a variable name as Windows passes
    it in the given code page (see sim/efivar_names.h), without the GUID."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and chr(b) not in '\\/:*?"<>|%^' else "%%%02X" % b
                   for b in name.encode(encoding))


class FleetProgramTests(E2ECase):
    """The fleet program's -sim build, run the way a deployment system runs
    it: one command line, its exit code, its last line of standard output,
    its line in the central log, and the variable's file."""

    ODD_NAME = "A&B|C>D%E^F!G;H I \u00e9"
    ODD_FOLDER = "R&D %y^!;z \u00e9"  # | and > can be in no Windows file name
    SUMMARY = re.compile(r"^(.*) RUN=(\d{8}T\d{6}Z-[0-9A-F]{8})?$")
    LOG_FIELDS = ("time", "computer", "run", "command", "name", "guid", "offset", "data", "old",
                  "read back", "outcome", "exit code", "reason", "messages", "backup", "model",
                  "firmware", "size")
    # The PCs the guards meet, by their SMBIOS tables: the pilot's, another
    # model, the pilot's model after a firmware update.
    PCS = {"A": {}, "B": {"product": "Model 8"}, "A2": {"version": "V1.05"}}

    def setUp(self):
        super().setUp()
        self.home = os.path.join(self.tmp, "journal")  # made by the program itself
        self.places = {"@LOG": os.path.join(self.tmp, "results.log"),
                       "@LOGS": os.path.join(self.tmp, "logs"),
                       "@NOLOG": os.path.join(self.tmp, "missing", "results.log"),
                       "@BADLOG": os.path.join(self.tmp, "a|b>c.log")}
        os.mkdir(self.places["@LOGS"])

    def fleet(self, *args, env=None, legacy=False, home=None, launcher=(), full_code=False):
        """Runs the -sim fleet program under Wine; returns the process. The
        Linux side sees an exit code modulo 256: with full_code the run goes
        through conprobe, which reports Windows' whole code (its standard
        error is then not kept apart)."""
        full = dict(env or {}, ARDENTIS_FLEET_HOME=wine_path(home or self.home))
        if full_code:
            out_file = os.path.join(self.tmp, "fleet-out.txt")
            screen = probe(self.tmp, CFG.sim_fleet, *args, store=None if legacy else self.store,
                           stdout_file=out_file, env=full)
            return subprocess.CompletedProcess(args, screen.exit, self.file_bytes(out_file), b"")
        full = dict(wine_env(None if legacy else self.store), **full)
        return subprocess.run([CFG.wine, *launcher, CFG.sim_fleet, *args],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=full, timeout=120)

    def start(self, *args, env=None):
        full = wine_env(self.store)
        full["ARDENTIS_FLEET_HOME"] = wine_path(self.home)
        full.update(env or {})
        proc = subprocess.Popen([CFG.wine, CFG.sim_fleet, *args], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full)
        self.addCleanup(proc.communicate)
        self.addCleanup(proc.kill)
        return proc

    def wait_for(self, path, proc):
        for _ in range(6000):
            if os.path.exists(path):
                return
            self.assertIsNone(proc.poll(), "the run ended before its fault point")
            time.sleep(0.01)
        self.fail("the run never reached its fault point")

    def summary(self, proc):
        """The last line of standard output, split from its run id."""
        last = proc.stdout.decode().split("\r\n")[-2]
        self.assertLessEqual(len(last), 200)
        match = self.SUMMARY.match(last)
        self.assertIsNotNone(match, last)
        return match.group(1), match.group(2) or ""

    def log_records(self, path):
        if not os.path.isfile(path):
            return []
        with open(path, encoding="utf-8", newline="") as f:
            records = list(csv.reader(f, delimiter=";"))
        self.assertEqual(tuple(records[0]), self.LOG_FIELDS)  # a header when the file is new
        return [dict(zip(self.LOG_FIELDS, r)) for r in records[1:]]

    def journal(self):
        with open(os.path.join(self.home, "journal.log"), encoding="utf-8", newline="") as f:
            return list(csv.reader(f, delimiter=";"))

    def store_state(self):
        """Every file of the store: its bytes and last-write time."""
        return {leaf: (self.file_bytes(os.path.join(self.store, leaf)),
                       os.stat(os.path.join(self.store, leaf)).st_mtime_ns)
                for leaf in os.listdir(self.store)}

    # One run per row, in order, on one store (Setup: 18 bytes of 00): the
    # command line (@GUID, @LOG a log file, @LOGS a log folder, @NOLOG a log
    # in a missing folder, @BADLOG one whose name Windows refuses, @EMPTY an
    # empty argument; a leading @LEGACY runs
    # it without the store, @IGNORE on a firmware that ignores writes,
    # @NORIGHT without the right to firmware variables, @KILL killed right
    # after the write, @PLANTED with a journal folder anyone may change,
    # @LINKED with a journal folder that is a link to a trusted one, @NOHOME
    # with a journal folder that cannot be made, @ATTR=NAME:HEX with that
    # variable's attribute word changed first, @POKE=OFFSET:VALUE with
    # Setup's byte set by something else first, @CUT=OFFSET and
    # @CUTOUT=OFFSET with a set's intent or outcome record of Setup's byte at
    # OFFSET added to the journal cut off, as a power loss leaves it, @PC=X
    # on the PC whose SMBIOS table PCS names X; without it the table has no
    # model or firmware version), the
    # exit code, the summary line without its run id (bytes: all that
    # --detect prints; a dict: the --json line; None: killed, no line), and
    # what becomes of the store: None when no file of it may change in bytes
    # or time, else the bytes written as OFFSET=VALUE (of Setup) or
    # NAME:OFFSET=VALUE. A check never touches the journal.
    RUNS = (
        # check reads and never writes; --detect speaks only when the byte holds DATA.
        ("check Setup @GUID 11 a5 --log @LOG", 1,
         "RESULT=READY EXIT=1 OLD=00 NEW=A5 READ= REASON=", None),
        ("check Setup @GUID 0 0 --log @LOG", 0, "RESULT=HOLDS EXIT=0 OLD=00 NEW=00 READ= REASON=",
         None),
        ("check Setup @GUID 12 1 --log @LOGS", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=OFFSET-OUTSIDE", None),
        ("check Big @GUID FFFF 2", 1, "RESULT=READY EXIT=1 OLD=01 NEW=02 READ= REASON=", None),
        ("check Missing @GUID 0 1", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=VARIABLE-MISSING", None),
        ("check Short @GUID 0 1", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=READ-ERROR-1392", None),
        ("@LEGACY check Setup @GUID 0 1 --log @LOG", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=LEGACY-BIOS", None),
        ("@NORIGHT check Setup @GUID 0 1", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=NO-RIGHT", None),
        ("check Setup @GUID 0 1 --detect", 0, b"", None),
        ("check Setup @GUID 0 0 --DETECT --log @LOG", 0, b"Setup @GUID OFFSET 0 holds 00\r\n",
         None),
        ("@LEGACY check Setup @GUID 0 0 --detect", 0, b"", None),
        # Refused before anything is read or logged.
        ("set Setup @GUID 1 0x5 --log @LOG", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("set Setup @GUID 123456789 5", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("set Setup {EC87D643-EBA4} 1 5", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("set @EMPTY @GUID 1 5", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("set Setup @GUID 1 ;5", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("check Setup @GUID 1 5 --force", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("set Setup @GUID 1 5 --reboot-code", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("set Setup @GUID 1 5 --model", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("check Setup @GUID 1 5 --size 4194305", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        ("undo Setup @GUID 1 5 --was 00,100", 255,
         "RESULT=REFUSED EXIT=255 OLD= NEW= READ= REASON=BAD-ARGUMENT", None),
        # set looks before, writes, reads back.
        ("set Setup @GUID 11 a5 --log @LOG", 0,
         "RESULT=CHANGED EXIT=0 OLD=00 NEW=A5 READ=A5 REASON=", "11=A5"),
        ("set Setup @GUID 11 A5 --log @LOGS", 0,
         "RESULT=UNCHANGED EXIT=0 OLD=A5 NEW=A5 READ= REASON=", None),
        ("set Setup @GUID 11 A5 --force --log @LOGS", 0,
         "RESULT=UNCHANGED EXIT=0 OLD=A5 NEW=A5 READ=A5 REASON=", "11=A5"),
        ("set Setup @GUID 12 1 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=OFFSET-OUTSIDE", None),
        ("@IGNORE set Setup @GUID 2 3 --log @LOGS --reboot-code 3010", 255,
         "RESULT=FAILED EXIT=255 OLD=00 NEW=03 READ=00 REASON=NOT-KEPT", None),
        # What the variable's attributes let Windows write: a volatile one (6) or
        # one of authenticated writes (0x27, 0x17) never, whatever its value; one
        # of other attributes (0x0F) with those attributes, which the call that
        # always asks for 7 could not.
        ("check Volatile @GUID 0 2", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD=01 NEW=02 READ= REASON=NOT-WRITABLE", None),
        ("check Auth27 @GUID 0 1", 0, "RESULT=HOLDS EXIT=0 OLD=01 NEW=01 READ= REASON=", None),
        ("check Auth27 @GUID 0 2 --log @LOGS", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD=01 NEW=02 READ= REASON=NOT-WRITABLE", None),
        ("set Volatile @GUID 0 2 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD=01 NEW=02 READ= REASON=NOT-WRITABLE", None),
        ("set Auth17 @GUID 0 2 --reboot-code 3010", 255,
         "RESULT=FAILED EXIT=255 OLD=01 NEW=02 READ= REASON=NOT-WRITABLE", None),
        ("set HwErr @GUID 1 2 --log @LOGS", 0,
         "RESULT=CHANGED EXIT=0 OLD=00 NEW=02 READ=02 REASON=", "HwErr:1=2"),
        ("set Flip @GUID 0 1", 0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=",
         "Flip:0=1"),
        ("@ATTR=Flip:27 undo Flip @GUID 0 1 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD=01 NEW=00 READ= REASON=NOT-WRITABLE", None),
        ("set Setup @GUID 1 5 --reboot-code 3010 --log @LOGS", 3010,
         "RESULT=CHANGED EXIT=3010 OLD=00 NEW=05 READ=05 REASON=", "1=5"),
        ("set Setup @GUID 1 5 --reboot-code 3010", 0,
         "RESULT=UNCHANGED EXIT=0 OLD=05 NEW=05 READ= REASON=", None),
        ("@LEGACY set Setup @GUID 0 1 --reboot-code 3010", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=LEGACY-BIOS", None),
        ("@NORIGHT set Setup @GUID 0 1 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=NO-RIGHT", None),
        ("set Setup @GUID 7 1 --log @NOLOG", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=LOG-UNWRITABLE", None),
        ("set Setup @GUID 7 1 --log @BADLOG", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=LOG-UNWRITABLE", None),
        ("@PLANTED set Setup @GUID 7 1", 255,
         "RESULT=FAILED EXIT=255 OLD=00 NEW= READ= REASON=JOURNAL-UNTRUSTED", None),
        ("@LINKED set Setup @GUID 7 1", 255,
         "RESULT=FAILED EXIT=255 OLD=00 NEW= READ= REASON=JOURNAL-UNTRUSTED", None),
        ("@NOHOME set Setup @GUID 7 1", 255,
         "RESULT=FAILED EXIT=255 OLD=00 NEW= READ= REASON=JOURNAL-UNWRITABLE", None),
        ("set Setup @GUID 8 1 --json", 0, {"result": "CHANGED", "exit": 0, "command": "set",
                                           "old": "00", "new": "01", "read": "01",
                                           "reason": None, "model": None, "firmware": None,
                                           "size": 18}, "8=1"),
        ("@PC=A2 check Setup @GUID 8 1 --json", 0, {"result": "HOLDS", "exit": 0, "command": "check",
                                                   "old": "01", "new": "01", "read": None,
                                                   "reason": None, "model": "Model 7",
                                                   "firmware": "V1.05", "size": 18}, None),
        # undo takes back the change that set the byte to DATA, once.
        ("undo Setup @GUID 3 1 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD=00 NEW= READ= REASON=NO-RECORD", None),
        ("set Setup @GUID 3 1 --log @LOGS", 0,
         "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "3=1"),
        ("set Setup @GUID 3 2 --log @LOGS", 0,
         "RESULT=CHANGED EXIT=0 OLD=01 NEW=02 READ=02 REASON=", "3=2"),
        ("undo Setup @GUID 3 2 --log @LOGS --reboot-code 3010", 3010,
         "RESULT=UNDONE EXIT=3010 OLD=02 NEW=01 READ=01 REASON=", "3=1"),
        ("undo Setup @GUID 3 2 --reboot-code 3010", 0,
         "RESULT=UNCHANGED EXIT=0 OLD=01 NEW=01 READ= REASON=", None),
        ("undo Setup @GUID 3 1 --log @LOGS", 0,
         "RESULT=UNDONE EXIT=0 OLD=01 NEW=00 READ=00 REASON=", "3=0"),
        ("undo Setup @GUID 3 1", 0, "RESULT=UNCHANGED EXIT=0 OLD=00 NEW=00 READ= REASON=", None),
        ("set Setup @GUID 4 0", 0, "RESULT=UNCHANGED EXIT=0 OLD=00 NEW=00 READ= REASON=", None),
        ("undo Setup @GUID 4 0", 0, "RESULT=UNCHANGED EXIT=0 OLD=00 NEW= READ= REASON=", None),
        # A byte changed since is left alone unless --force.
        ("set Setup @GUID 5 1", 0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "5=1"),
        ("set Setup @GUID 5 2", 0, "RESULT=CHANGED EXIT=0 OLD=01 NEW=02 READ=02 REASON=", "5=2"),
        ("undo Setup @GUID 5 1", 255,
         "RESULT=FAILED EXIT=255 OLD=02 NEW=00 READ= REASON=BYTE-MOVED", None),
        ("undo Setup @GUID 5 1 --force", 0,
         "RESULT=UNDONE EXIT=0 OLD=02 NEW=00 READ=00 REASON=", "5=0"),
        # A run killed between the write and its outcome: undo still restores;
        # a check in between neither reads nor closes it.
        ("@KILL set Setup @GUID 6 5 --log @LOGS", 99, None, "6=5"),
        ("check Setup @GUID 6 5", 0, "RESULT=HOLDS EXIT=0 OLD=05 NEW=05 READ= REASON=", None),
        ("undo Setup @GUID 6 5 --log @LOGS", 0,
         "RESULT=UNDONE EXIT=0 OLD=05 NEW=00 READ=00 REASON=", "6=0"),
        # A change is taken back once: set again by something else, the byte stays.
        ("set Setup @GUID 9 1", 0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "9=1"),
        ("undo Setup @GUID 9 1", 0, "RESULT=UNDONE EXIT=0 OLD=01 NEW=00 READ=00 REASON=", "9=0"),
        ("undo Setup @GUID 9 1", 0, "RESULT=UNCHANGED EXIT=0 OLD=00 NEW=00 READ= REASON=", None),
        ("@POKE=9:1 undo Setup @GUID 9 1 --reboot-code 3010 --log @LOGS", 0,
         "RESULT=UNCHANGED EXIT=0 OLD=01 NEW=00 READ= REASON=", None),
        # ... but a newer change to DATA is a change of its own.
        ("@POKE=9:0 set Setup @GUID 9 1", 0,
         "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "9=1"),
        ("undo Setup @GUID 9 1 --reboot-code 3010", 3010,
         "RESULT=UNDONE EXIT=3010 OLD=01 NEW=00 READ=00 REASON=", "9=0"),
        # The latest change to DATA is the one taken back, not the first.
        ("set Setup @GUID a 1", 0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "A=1"),
        ("@POKE=A:3 set Setup @GUID a 1", 0,
         "RESULT=CHANGED EXIT=0 OLD=03 NEW=01 READ=01 REASON=", "A=1"),
        ("undo Setup @GUID a 1", 0, "RESULT=UNDONE EXIT=0 OLD=01 NEW=03 READ=03 REASON=", "A=3"),
        # A record cut by a power loss never joins the next one: cut records of
        # another byte leave the right value to undo, ...
        ("set Setup @GUID b 2", 0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=02 READ=02 REASON=", "B=2"),
        ("set Setup @GUID b 1", 0, "RESULT=CHANGED EXIT=0 OLD=02 NEW=01 READ=01 REASON=", "B=1"),
        ("@CUT=FF set Setup @GUID b 2", 0,
         "RESULT=CHANGED EXIT=0 OLD=01 NEW=02 READ=02 REASON=", "B=2"),
        ("undo Setup @GUID b 2", 0, "RESULT=UNDONE EXIT=0 OLD=02 NEW=01 READ=01 REASON=", "B=1"),
        ("@CUTOUT=FF set Setup @GUID d 1", 0,
         "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "D=1"),
        ("set Setup @GUID d 1", 0, "RESULT=UNCHANGED EXIT=0 OLD=01 NEW=01 READ= REASON=", None),
        ("undo Setup @GUID d 1", 0, "RESULT=UNDONE EXIT=0 OLD=01 NEW=00 READ=00 REASON=", "D=0"),
        # ... and one that names this byte makes undo refuse, even with --force.
        ("set Setup @GUID c 2", 0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=02 READ=02 REASON=", "C=2"),
        ("set Setup @GUID c 1", 0, "RESULT=CHANGED EXIT=0 OLD=02 NEW=01 READ=01 REASON=", "C=1"),
        ("@CUT=C set Setup @GUID c 2", 0,
         "RESULT=CHANGED EXIT=0 OLD=01 NEW=02 READ=02 REASON=", "C=2"),
        ("undo Setup @GUID c 2 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD=02 NEW= READ= REASON=JOURNAL-DAMAGED", None),
        ("undo Setup @GUID c 2 --force", 255,
         "RESULT=FAILED EXIT=255 OLD=02 NEW= READ= REASON=JOURNAL-DAMAGED", None),
        ("@CUTOUT=E set Setup @GUID e 1", 0,
         "RESULT=CHANGED EXIT=0 OLD=00 NEW=01 READ=01 REASON=", "E=1"),
        ("set Setup @GUID e 1", 0, "RESULT=UNCHANGED EXIT=0 OLD=01 NEW=01 READ= REASON=", None),
        ("undo Setup @GUID e 1", 255,
         "RESULT=FAILED EXIT=255 OLD=01 NEW= READ= REASON=JOURNAL-DAMAGED", None),
        # Guards: every one holding, and each failing before anything is written
        # (model and firmware before the variable is even read).
        ("@PC=A check Setup @GUID 10 7 --model model*7 --firmware V1.02 --size 18 --was 00", 1,
         "RESULT=READY EXIT=1 OLD=00 NEW=07 READ= REASON=", None),
        ("@PC=B check Setup @GUID 10 7 --model model*7 --log @LOGS", 255,
         "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=OTHER-MODEL", None),
        ("@PC=B check Setup @GUID 10 7 --model model*7 --detect", 0, b"", None),
        ("@PC=A2 set Setup @GUID 10 7 --model model*7 --firmware V1.02", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=OTHER-FIRMWARE", None),
        ("@PC=A set Setup @GUID 10 7 --size 17", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=OTHER-SIZE", None),
        ("@PC=A set Setup @GUID 10 7 --was 01,02 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD=00 NEW= READ= REASON=OTHER-VALUE", None),
        ("@PC=A set Setup @GUID 10 7 --model *7 --firmware v1.0* --size 18 --was 1,0 --log @LOGS",
         0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=07 READ=07 REASON=", "10=7"),
        ("@PC=B undo Setup @GUID 10 7 --model *7", 255,
         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=OTHER-MODEL", None),
        # Undo across a firmware update: the old value is the old layout's.
        ("@PC=A2 undo Setup @GUID 10 7 --log @LOGS", 255,
         "RESULT=FAILED EXIT=255 OLD=07 NEW=00 READ= REASON=OTHER-FIRMWARE", None),
        ("@PC=A2 undo Setup @GUID 10 7 --force", 0,
         "RESULT=UNDONE EXIT=0 OLD=07 NEW=00 READ=00 REASON=", "10=0"),
    )

    def journal_state(self, home=None):
        """The journal folder's files and their bytes; None when there is none."""
        home = home or self.home
        if not os.path.isdir(home):
            return None
        return {leaf: self.file_bytes(os.path.join(home, leaf)) for leaf in os.listdir(home)}

    def cut_record(self, kind, offset):
        """A set's record of Setup's byte at OFFSET as a power loss leaves it:
        whole up to its old value, then cut, without its line end."""
        fields = [kind, "2026-12-10T06:00:00Z", "20261210T060000Z-0000C0DE", "set", NAME, GUID,
                  offset, "02", "01"]
        with open(os.path.join(self.home, "journal.log"), "ab") as f:
            f.write(";".join(fields).encode() + b";0")

    def test_every_outcome_with_its_exit_code_summary_and_log_line(self):
        setup = bytearray(18)
        self.make_variable(setup)
        contents = {NAME: setup, "HwErr": bytearray(2), "Flip": bytearray(2)}
        self.make_variable(b"\x01", attributes=6, name="Volatile")
        self.make_variable(b"\x01", attributes=0x27, name="Auth27")
        self.make_variable(b"\x01", attributes=0x17, name="Auth17")
        self.make_variable(contents["HwErr"], attributes=0x0F, name="HwErr")
        self.make_variable(contents["Flip"], name="Flip")
        self.make_file(b"\x07\x00\x00", name="Short")
        self.make_variable(bytes(range(255)) * 257 + b"\x01", name="Big")  # 64 KiB
        planted = os.path.join(self.tmp, "planted")
        os.mkdir(planted)
        os.chmod(planted, 0o777)
        linked = os.path.join(self.tmp, "linked")
        computer = None
        for command, code, expected, change in self.RUNS:
            with self.subTest(run=command):
                words = command.replace("@GUID", GUID).split(" ")
                env, launcher, legacy, home, machine = {}, (), False, None, None
                while words[0].startswith("@"):
                    prefix, _, value = words.pop(0).partition("=")
                    if prefix == "@NORIGHT":
                        launcher = (CFG.noright,)
                    elif prefix == "@LEGACY":
                        legacy = True
                    elif prefix == "@IGNORE":
                        env["ARDENTIS_SIM_IGNORE_WRITES"] = "1"
                    elif prefix == "@KILL":
                        env["ARDENTIS_SIM_FLEET_FAULT"] = "after-write:kill"
                    elif prefix == "@PLANTED":
                        home = planted
                    elif prefix == "@LINKED":
                        # Wine shows a Unix symbolic link as a reparse point, as
                        # Windows shows a junction.
                        if not os.path.islink(linked):
                            os.symlink(self.home, linked)
                        home = linked
                    elif prefix == "@NOHOME":
                        home = os.path.join(self.tmp, "no", "such", "folder")
                    elif prefix == "@ATTR":
                        var, attributes = value.split(":")
                        self.make_variable(contents[var], int(attributes, 16), name=var)
                    elif prefix == "@POKE":
                        offset, byte = value.split(":")
                        setup[int(offset, 16)] = int(byte, 16)
                        self.make_variable(setup)
                    elif prefix in ("@CUT", "@CUTOUT"):
                        self.cut_record("INTENT" if prefix == "@CUT" else "OUTCOME", value)
                    elif prefix == "@PC":
                        machine = value
                        pc = self.PCS[value]
                        table = os.path.join(self.tmp, "smbios-%s.bin" % value)
                        with open(table, "wb") as f:
                            f.write(smbios_table(**pc))
                        env["ARDENTIS_SIM_SMBIOS"] = wine_path(table)
                place = next((w for w in words if w in self.places), None)
                args = [wine_path(self.places[w]) if w in self.places else
                        "" if w == "@EMPTY" else w for w in words]
                log = self.places.get(place)
                if place == "@LOGS" and computer:
                    log = os.path.join(log, computer + ".log")
                for leaf in os.listdir(self.store):
                    os.utime(os.path.join(self.store, leaf), ns=(10 ** 18, 10 ** 18))
                before = self.store_state()
                journal_before = self.journal_state()
                logged = self.log_records(log) if log else []
                backups = set(os.listdir(self.places["@LOGS"]))

                proc = self.fleet(*args, env=env, legacy=legacy, home=home, launcher=launcher,
                                  full_code=code > 255)

                self.assertEqual(proc.returncode, code, proc.stdout)
                self.assertEqual(proc.stderr, b"")
                run_id = ""
                if isinstance(expected, bytes):
                    self.assertEqual(proc.stdout, expected.replace(b"@GUID", GUID.encode()))
                elif isinstance(expected, dict):
                    last = proc.stdout.decode().split("\r\n")[-2]
                    self.assertLessEqual(len(last), 200)
                    got = json.loads(last)
                    run_id = got.pop("run")
                    self.assertEqual(got, expected)
                elif expected is not None:
                    line, run_id = self.summary(proc)
                    self.assertEqual(line, expected)
                    self.assertEqual(run_id == "", "REFUSED" in expected)
                if log and computer is None and place == "@LOGS":
                    computer = [leaf[:-4] for leaf in os.listdir(self.places["@LOGS"])
                                if leaf.endswith(".log")][0]
                    log = os.path.join(log, computer + ".log")
                new_lines = self.log_records(log)[len(logged):] if log else []
                new_backups = set(os.listdir(self.places["@LOGS"])) - backups - {(computer or "") + ".log"}
                if log is None or "REFUSED" in str(expected) or place in ("@NOLOG", "@BADLOG"):
                    self.assertEqual(new_lines, [])
                elif code != 99:
                    self.assertEqual(len(new_lines), 1, new_lines)
                    entry = new_lines[0]
                    summary = dict(item.split("=", 1) for item in expected.split(" ")) \
                        if isinstance(expected, str) else {}
                    self.assertRegex(entry["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
                    # What the run ran on: the table's model and firmware.
                    pc = dict({"product": "Model 7", "version": "V1.02"}, **self.PCS[machine]) \
                        if machine else {"product": "", "version": ""}
                    self.assertEqual((entry["model"], entry["firmware"]),
                                     (pc["product"], pc["version"]))
                    self.assertEqual((entry["command"], entry["name"], entry["guid"],
                                      entry["offset"], entry["data"]),
                                     (args[0], args[1], args[2], args[3].upper(),
                                      "%02X" % int(args[4], 16)))
                    if isinstance(expected, bytes):  # --detect: the log still tells
                        self.assertEqual(entry["outcome"], "HOLDS" if expected else "READY")
                    else:
                        self.assertEqual(entry["run"], run_id)
                        self.assertEqual((entry["old"], entry["read back"], entry["outcome"],
                                          entry["exit code"], entry["reason"]),
                                         (summary["OLD"], summary["READ"], summary["RESULT"],
                                          str(code), summary["REASON"]))
                        if summary["READ"] or "WRITE-ERROR" in summary["REASON"]:
                            # A writing run keeps the variable as it was.
                            backup = entry["backup"]
                            self.assertTrue(backup.endswith(run_id + ".txt"), backup)
                            kept = os.path.join(self.places["@LOGS"], backup.rsplit("\\", 1)[1]) \
                                if place == "@LOGS" else os.path.join(self.home, "backup-%s.txt" % run_id)
                            self.assertEqual(self.file_bytes(kept),
                                             dump_text(before[var_file(args[1])][0][4:]))
                        else:
                            self.assertEqual(entry["backup"], "")
                # The log folder gets a backup from a run that went on to write.
                wrote = expected is None or (isinstance(expected, dict) and expected["read"]) or (
                    isinstance(expected, str) and ("READ= " not in expected or "WRITE-" in expected))
                self.assertEqual(len(new_backups), 1 if place == "@LOGS" and wrote else 0)
                after = self.store_state()
                if change is not None:
                    for item in change.split():
                        var, _, item = item.rpartition(":")
                        offset, value = item.split("=")
                        contents[var or NAME][int(offset, 16)] = int(value, 16)
                        leaf = var_file(var or NAME)
                        # Written with the variable's own attributes.
                        self.assertEqual(after[leaf][0], before[leaf][0][:4] +
                                         bytes(contents[var or NAME]))
                        self.assertNotEqual(after[leaf][1], before[leaf][1])  # written
                        del after[leaf], before[leaf]
                # Nothing else written: bytes and times as they were.
                self.assertEqual(after, before)
                if args[0] == "check":
                    self.assertEqual(self.journal_state(), journal_before)
        # The untrusted folder was left as it was found.
        self.assertEqual(os.listdir(planted), [])

    def test_interrupted_run_is_told_and_its_intent_kept(self):
        self.make_variable(bytes(4))
        proc = self.fleet("set", NAME, GUID, "2", "7E", env={"ARDENTIS_SIM_FLEET_FAULT":
                                                              "after-write:kill"})
        self.assertEqual(proc.returncode, 99)
        intents = [r for r in self.journal() if r[0] == "INTENT"]
        self.assertEqual(len(intents), 1)
        self.assertEqual([r[0] for r in self.journal()], ["INTENT"])
        proc = self.fleet("set", NAME, GUID, "2", "7E")
        self.assertEqual(proc.returncode, 0)
        self.assertIn(("An earlier run, %s, was interrupted" % intents[0][2]).encode(), proc.stdout)
        self.assertEqual(self.summary(proc)[0],
                         "RESULT=UNCHANGED EXIT=0 OLD=7E NEW=7E READ= REASON=")
        # Told once: the journal now closes the interrupted run.
        proc = self.fleet("check", NAME, GUID, "2", "7E")
        self.assertNotIn(b"interrupted", proc.stdout)
        proc = self.fleet("set", NAME, GUID, "2", "7E")
        self.assertNotIn(b"interrupted", proc.stdout)

    def test_a_variable_that_reads_back_short_or_not_at_all_is_no_success(self):
        """Between the write and the read back the variable is replaced by a
        shorter one, or deleted (firmware that resized or dropped it): the run
        fails NO-READ-BACK and never reads past what came back."""
        gate = os.path.join(self.tmp, "gate")
        for replace, message in ((b"\x07\x00\x00\x00\x7e\x7e", b"Written, but the variable "
                                  b"reads back with 2 bytes: the byte is gone."),
                                 (None, b"Written, but the variable cannot be read back: error "
                                  b"203.")):
            with self.subTest(replace=replace):
                self.make_variable(bytes(4))
                for leftover in (gate + ".reached", gate + ".go"):
                    if os.path.exists(leftover):
                        os.remove(leftover)
                proc = self.start("set", NAME, GUID, "2", "7E", env={
                    "ARDENTIS_SIM_FLEET_FAULT": "after-write:wait=" + wine_path(gate)})
                self.wait_for(gate + ".reached", proc)
                if replace is None:
                    os.remove(self.var_path)
                else:
                    self.make_file(replace)
                open(gate + ".go", "w").close()
                out, err = proc.communicate(timeout=60)
                self.assertEqual((proc.returncode, err), (255, b""))
                self.assertIn(message, out)
                self.assertEqual(self.summary(subprocess.CompletedProcess([], 255, out, err))[0],
                                 "RESULT=FAILED EXIT=255 OLD=00 NEW=7E READ= REASON=NO-READ-BACK")

    def test_every_command_line_of_the_manual_runs_as_it_says(self):
        """The fleet command lines of the built README.txt's rollout and
        recipes, each on a fresh PC (Setup of 4096 bytes of 00, the SMBIOS
        table of the manual's example guard), with the share and Program
        Files mapped to test folders. The Intune install line runs whole,
        through cmd.exe; of the PowerShell and Ansible lines, the program's
        command line."""
        with open(CFG.readme, encoding="utf-8") as f:
            text = f.read().replace("\r\n", "\n")
        guard = re.search(r"ends with the\s+guard line, for example\n(.*)\n", text).group(1).strip()
        lines = recipe_lines(text)
        self.assertEqual({split_arguments(args)[0] for _, args in lines},
                         {"check", "set", "undo", "report"})
        table = os.path.join(self.tmp, "smbios.bin")
        with open(table, "wb") as f:
            f.write(smbios_table())
        for n, (line, args_text) in enumerate(lines):
            with self.subTest(line=line):
                base = os.path.join(self.tmp, "pc%d" % n)
                for folder in ("share/bin", "share/pilot", "share/results", "pf", "package"):
                    os.makedirs(os.path.join(base, folder))
                self.make_variable(bytes(4096))
                env = {"ARDENTIS_SIM_SMBIOS": wine_path(table)}
                home = os.path.join(base, "journal")

                def mapped(text):
                    for place, folder in RECIPE_PLACES:
                        text = text.replace(place, wine_path(os.path.join(base, folder)))
                    return text

                def run_args(*args):
                    return self.fleet(*[mapped(a) for a in args], env=env, home=home)

                def ends(proc, result, code, last=-2):
                    summary = proc.stdout.decode().split("\r\n")[last]
                    self.assertTrue(summary.startswith("RESULT=%s EXIT=%d " % (result, code)),
                                    summary)
                    self.assertEqual(proc.returncode, code % 256)

                args = split_arguments(args_text)
                code = int(args[args.index("--reboot-code") + 1]) if "--reboot-code" in args else 0
                as_set = ["set"] + [a for a in args[1:] if a not in ("--detect", "--guard")]
                if "cmd.exe /c" in line:
                    # The install line as Intune runs it, from the package's folder.
                    shutil.copy(CFG.sim_fleet, os.path.join(base, "package", "ArdentisFleet64.exe"))
                    batch = os.path.join(base, "install.cmd")
                    with open(batch, "w", newline="\r\n") as f:
                        f.write(mapped(line[line.index("cmd.exe /c"):]) + "\n")
                    proc = subprocess.run(
                        [CFG.wine, "cmd", "/c", wine_path(batch)], cwd=os.path.join(base, "package"),
                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                        env=dict(wine_env(self.store), ARDENTIS_FLEET_HOME=wine_path(home), **env),
                        timeout=120)
                    ends(proc, "CHANGED", code)
                    self.assertTrue(os.path.isfile(os.path.join(base, "pf", "Ardentis",
                                                                "ArdentisFleet64.exe")))
                elif args[0] == "check" and "--detect" in args:
                    proc = run_args(*args)
                    self.assertEqual((proc.returncode, proc.stdout), (0, b""))
                    run_args(*as_set)
                    proc = run_args(*args)
                    self.assertEqual(proc.returncode, 0)
                    self.assertEqual(proc.stdout, ("Setup %s OFFSET 1A holds 05\r\n" % GUID).encode())
                elif args[0] == "check":
                    proc = run_args(*args)
                    if "--guard" in args:
                        ends(proc, "READY", 1, last=-3)
                        self.assertEqual(proc.stdout.decode().split("\r\n")[-2], guard)
                    else:
                        ends(proc, "READY", 1)
                        run_args(*as_set)
                        ends(run_args(*args), "HOLDS", 0)
                elif args[0] == "set":
                    ends(run_args(*args), "CHANGED", code)
                    ends(run_args(*args), "UNCHANGED", 0)
                elif args[0] == "undo":
                    ends(run_args(*as_set), "CHANGED", code)
                    ends(run_args(*args), "UNDONE", code)
                    ends(run_args(*args), "UNCHANGED", 0)
                else:  # report: of the runs that logged there
                    run_args("set", "Setup", GUID, "1A", "05", "--log", args[1])
                    proc = run_args(*args)
                    self.assertEqual(proc.returncode, 0)
                    self.assertRegex(proc.stdout, rb"\n  CHANGED +1\r\n")
                if "--log" in args:
                    logged = os.path.join(base, "share", args[args.index("--log") + 1].rsplit("\\", 1)[1])
                    self.assertTrue(os.path.isdir(logged))
                    self.assertTrue([leaf for leaf in os.listdir(logged) if leaf.endswith(".log")])
                expected = 0x05 if args[0] in ("set",) or "cmd.exe /c" in line else None
                if expected is not None:
                    self.assertEqual(self.variable_file()[4 + 0x1A], expected)

    def test_the_pilots_guard_line_holds_on_its_pc_and_on_no_other(self):
        """check --guard on the pilot PC; its last line pasted after a set, as
        the manual says, on that PC and on PCs that differ in one fact each."""
        tables = {}
        for machine, pc in self.PCS.items():
            tables[machine] = os.path.join(self.tmp, "smbios-%s.bin" % machine)
            with open(tables[machine], "wb") as f:
                f.write(smbios_table(**pc))
        self.make_variable(bytes(18))
        proc = self.fleet("check", NAME, GUID, "3", "5", "--guard",
                          env={"ARDENTIS_SIM_SMBIOS": wine_path(tables["A"])})
        self.assertEqual(proc.returncode, 1)
        guard = proc.stdout.decode().split("\r\n")[-2]
        self.assertEqual(guard, '--model "Model 7" --firmware "V1.02" --size 18 --was 00')
        for machine, variable, reason in (("B", bytes(18), "OTHER-MODEL"),
                                          ("A2", bytes(18), "OTHER-FIRMWARE"),
                                          ("A", bytes(20), "OTHER-SIZE"),
                                          ("A", b"\x00\x00\x00\x01" + bytes(14), "OTHER-VALUE"),
                                          ("A", bytes(18), None)):
            with self.subTest(machine=machine, reason=reason):
                self.make_variable(variable)
                before = self.store_state()
                proc = self.fleet("set", NAME, GUID, "3", "5", *split_arguments(guard),
                                  env={"ARDENTIS_SIM_SMBIOS": wine_path(tables[machine])})
                if reason:
                    self.assertEqual(proc.returncode, 255)
                    self.assertRegex(self.summary(proc)[0], "^RESULT=FAILED .* REASON=%s$" % reason)
                    self.assertEqual(self.store_state(), before)
                else:
                    self.assertEqual((proc.returncode, self.summary(proc)[0]),
                                     (0, "RESULT=CHANGED EXIT=0 OLD=00 NEW=05 READ=05 REASON="))

    def test_log_held_open_is_waited_for_then_refused_before_and_after_a_change(self):
        self.make_variable(bytes(4))
        log = os.path.join(self.tmp, "held.log")
        # Held for a moment: the run waits and writes.
        holder = self.hold("--file", wine_path(log))
        proc = self.start("set", NAME, GUID, "0", "1", "--log", wine_path(log))
        time.sleep(1.0)
        self.release(holder)
        out, err = proc.communicate(timeout=60)
        self.assertEqual((proc.returncode, err), (0, b""), out)
        self.assertEqual(len(self.log_records(log)), 1)
        # Held throughout, before the change: nothing changes.
        holder = self.hold("--file", wine_path(log))
        before = self.store_state()
        started = time.monotonic()
        proc = self.fleet("set", NAME, GUID, "1", "1", "--log", wine_path(log))
        self.assertGreater(time.monotonic() - started, 5.0)  # retried with back-off
        self.assertEqual(proc.returncode, 255)
        self.assertEqual(self.summary(proc)[0],
                         "RESULT=FAILED EXIT=255 OLD= NEW= READ= REASON=LOG-UNWRITABLE")
        self.assertEqual(self.store_state(), before)
        self.release(holder)
        # Taken after the change was made: the journal keeps it, the run fails.
        gate = os.path.join(self.tmp, "gate")
        proc = self.start("set", NAME, GUID, "1", "1", "--log", wine_path(log),
                          env={"ARDENTIS_SIM_FLEET_FAULT": "after-write:wait=" + wine_path(gate)})
        self.wait_for(gate + ".reached", proc)
        holder = self.hold("--file", wine_path(log))
        open(gate + ".go", "w").close()
        out, err = proc.communicate(timeout=60)
        self.assertEqual((proc.returncode, err), (255, b""))
        self.assertIn(b"Changed and verified, but not recorded in the central log", out)
        self.assertEqual(self.summary(subprocess.CompletedProcess([], 255, out, err))[0],
                         "RESULT=CHANGED EXIT=255 OLD=00 NEW=01 READ=01 REASON=NOT-RECORDED")
        self.assertEqual(self.journal()[-1][12], "CHANGED")
        self.release(holder)
        self.assertEqual(len(self.log_records(log)), 1)
        # A re-run finds the byte set and logs.
        proc = self.fleet("set", NAME, GUID, "1", "1", "--log", wine_path(log))
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(self.log_records(log)[-1]["outcome"], "UNCHANGED")

    def test_two_instances_one_waits_and_a_held_lock_gives_the_busy_code(self):
        self.make_variable(bytes(4))
        gate = os.path.join(self.tmp, "gate")
        first = self.start("set", NAME, GUID, "0", "2",
                           env={"ARDENTIS_SIM_FLEET_FAULT": "after-write:wait=" + wine_path(gate)})
        self.wait_for(gate + ".reached", first)
        second = self.start("set", NAME, GUID, "0", "2")
        time.sleep(1.5)
        self.assertIsNone(second.poll())  # waiting for the lock
        open(gate + ".go", "w").close()
        out, _ = first.communicate(timeout=60)
        self.assertEqual(first.returncode, 0, out)
        out, _ = second.communicate(timeout=60)
        self.assertEqual(second.returncode, 0, out)
        self.assertEqual(self.summary(subprocess.CompletedProcess([], 0, out, b""))[0],
                         "RESULT=UNCHANGED EXIT=0 OLD=02 NEW=02 READ= REASON=")
        holder = self.hold()
        before = self.store_state()
        proc = self.fleet("set", NAME, GUID, "0", "3", "--busy-code", "1618", "--json",
                          full_code=True)
        self.release(holder)
        self.assertEqual(proc.returncode, 1618)
        got = json.loads(proc.stdout.decode().split("\r\n")[-2])
        self.assertEqual((got["result"], got["exit"], got["reason"]), ("BUSY", 1618, "LOCK-BUSY"))
        self.assertEqual(self.store_state(), before)

    def test_odd_names_and_log_paths_and_the_report(self):
        # The store names a file by the name's bytes in Windows' ANSI code
        # page, which Wine takes from the locale: both candidates are made,
        # and the program must change exactly one.
        leaves = {store_leaf(self.ODD_NAME, encoding) for encoding in ("cp1252", "utf-8")}
        for leaf in leaves:
            self.make_file(struct.pack("<I", 7) + bytes(4), name=leaf)
        folder = os.path.join(self.tmp, self.ODD_FOLDER)
        os.mkdir(folder)
        for data in ("1", "2"):
            proc = self.fleet("set", self.ODD_NAME, GUID, "0", data, "--log", wine_path(folder))
            self.assertEqual(proc.returncode, 0, proc.stdout)
        logs = [leaf for leaf in os.listdir(folder) if leaf.endswith(".log")]
        self.assertEqual(len(logs), 1)
        computer = logs[0][:-4]
        entries = self.log_records(os.path.join(folder, logs[0]))
        self.assertEqual([(e["name"], e["outcome"]) for e in entries],
                         [(self.ODD_NAME, "CHANGED")] * 2)
        self.assertEqual(sorted(self.file_bytes(os.path.join(self.store, var_file(leaf)))[4:]
                                for leaf in leaves), [bytes(4), b"\x02\x00\x00\x00"])
        # Other PCs' logs beside it, as they would arrive on the share: one
        # whose clock was reset (its last line is its last run, whatever the
        # time), with a second header and a line cut inside its quoted
        # messages (the lines after it still count), and one whose computer
        # name a spreadsheet would take for a formula.
        def line(time_, pc, outcome, reason, exit_code):
            return [time_, pc, "r", "set", self.ODD_NAME, GUID, "0", "02", "00", "00", outcome,
                    exit_code, reason, "x;y", ""]
        # Logs of the release before, as they stand on the share: 15 fields.
        old = self.LOG_FIELDS[:15]
        logs = {"PC0042.log": [old, line("2026-12-01T10:00:00Z", "PC0042", "CHANGED",
                                                      "", "0"),
                               old, line("2026-12-01T01:00:00Z", "PC0042", "FAILED",
                                                     "NOT-KEPT", "255")],
                "PC0043.log": [old, line("2026-12-02T10:00:00Z", "=1+2", "FAILED",
                                                     "WRITE-ERROR-5", "255")]}
        for leaf, records in logs.items():
            with open(os.path.join(folder, leaf), "w", encoding="utf-8", newline="") as f:
                w = csv.writer(f, delimiter=";", lineterminator="\r\n")
                for record in records:
                    w.writerow(record)
                if leaf == "PC0043.log":
                    f.write('2026-12-02T11:00:00Z;=1+2;r;set;x;y;0;02;;;CHANGED;0;;"cut by a power')
                    f.write("\r\n")
                    w.writerow(line("2026-12-02T12:00:00Z", "PC0044", "FAILED", "NOT-KEPT", "255"))
        proc = self.fleet("report", wine_path(folder), "--csv")
        self.assertEqual(proc.returncode, 0)
        rows = list(csv.reader(proc.stdout.decode().splitlines()))
        self.assertEqual(rows[0], ["name", "guid", "offset", "data", "model", "firmware",
                                   "outcome", "reason", "pcs", "computers"])
        # This run's lines and the old ones alike: no SMBIOS model here.
        self.assertEqual({(r[4], r[5]) for r in rows[1:]}, {("", "")})
        got = {(r[6], r[7]): (r[8], r[9]) for r in rows[1:] if r[3] == "02"}
        self.assertEqual(got, {("CHANGED", ""): ("1", computer),
                               ("FAILED", "NOT-KEPT"): ("2", "PC0042 PC0044"),
                               ("FAILED", "WRITE-ERROR-5"): ("1", "'=1+2")})
        proc = self.fleet("report", wine_path(folder))
        self.assertEqual(proc.returncode, 0)
        self.assertIn(b"Lines that are no log entries: 1\r\n", proc.stdout)
        # The manual's failure filter, as Import-Csv reads each file (its first
        # line names the fields, every other line is a row), with the header
        # word among the successes so that a repeated header is no failure.
        # PowerShell itself does not run here; this is its logic in Python.
        kept = ("CHANGED", "UNCHANGED", "UNDONE", "HOLDS", "READY", "outcome")
        with open(os.path.join(folder, "PC0042.log"), encoding="utf-8-sig", newline="") as f:
            failed = [r["computer"] for r in csv.DictReader(f, delimiter=";")
                      if r["outcome"] not in kept]
        self.assertEqual(failed, ["PC0042"])


# Where the manual's recipes put things, and the test folders standing for
# them (under the case's folder): the share, the PC's Program Files.
RECIPE_PLACES = ((r"\\server\ardentis$", "share"), (r"C:\Program Files", "pf"),
                 ("%ProgramW6432%", "pf"), ("$env:ProgramW6432", "pf"))
RECIPE_COMMAND = re.compile(r"ArdentisFleet64\.exe\"?\s+((?:check|set|undo|report)\s+(?!NAME\b|LOGFOLDER\b).*)$")


def recipe_lines(readme_text):
    """Every command line of the fleet program in the manual's fleet section,
    in order: (the line as written, its arguments' text). PowerShell's
    statement after ';' and Ansible's quoting are not the program's."""
    section = readme_text[readme_text.index("\nFleet use: ArdentisFleet64.exe\n"):]
    found = []
    for line in section.splitlines():
        text = line.strip()
        if text.startswith("- ansible.windows.win_command: '"):
            text = text.split("'", 1)[1].rsplit("'", 1)[0]
        match = RECIPE_COMMAND.search(text)
        if match:
            args = match.group(1)
        elif re.match(r"(?:check|set|undo) Setup ", text):  # PDQ's parameters
            args = text
        else:
            continue
        if text.startswith("& "):  # PowerShell: the call operator's command
            args = args.split("; exit $LASTEXITCODE")[0]
        found.append((line.strip(), args))
    return found


def split_arguments(text):
    """Arguments as cmd.exe (double quotes) or PowerShell (single quotes too)
    hands them to a program."""
    args, current, quote, started = [], "", None, False
    for ch in text:
        if quote:
            if ch == quote:
                quote = None
            else:
                current += ch
        elif ch in "\"'":
            quote, started = ch, True
        elif ch == " ":
            if started:
                args.append(current)
            current, started = "", False
        else:
            current, started = current + ch, True
    if started:
        args.append(current)
    return args


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
    parser.add_argument("--sim-fleet", required=True, help="fleet program on the simulated store")
    parser.add_argument("--readme", required=True, help="the built README.txt")
    CFG, rest = parser.parse_known_args()
    CFG.program_name = os.path.basename(CFG.tool)
    run_tests(CFG.wine, rest)


if __name__ == "__main__":
    main()
