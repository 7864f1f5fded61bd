#!/usr/bin/env python3
"""Hand-off to the programmer (-p), run against the real converter.

Usage: handoff_test.py PROGRAM_PATH {rakemo|lusivo} [unittest options]

Every test gets its own temporary folder with a stand-in `bsldemo` put first
on PATH. The stand-in records how it was started (its pid, its ignored
signals, $0 and its arguments, NUL-separated) into a file written under a
temporary name and renamed, closes its standard streams and then lingers, so
reading the converter's output to its end is not held up by it.
"""

import array
import fcntl
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import termios
import time
import unittest

PROGRAM = ""
KIND = ""
LINGER_SECONDS = 30
RUN_TIMEOUT = 20   # the converter never waits for the programmer
RECORD_TIMEOUT = 10
GRACE = 0.5        # how long a test waits for a start that must not happen

# ---- Expected console bytes -------------------------------------------------

TITLE = {
    "rakemo": b"Intel HEX Format zu TI-TXT Konverter  (Version 1.0)" + b" " * 28,
    "lusivo": b"TI-TXT zu Intel HEX Format Konverter  (Version 1.0)" + b" " * 28,
}
NOTICE = b"Freie Software der rakemo- und lusivo-Entwickler, 2026"

# A small image of 4 bytes in one address range, in each program's source format.
SOURCE = {
    "rakemo": b":04C00000DEADBEEF04\r\n:00000001FF\r\n",
    "lusivo": b"@C000\r\nDE AD BE EF\r\nq\r\n",
}
# A source whose address field holds a "G", no hexadecimal digit: a fatal failure.
BAD_SOURCE = {
    "rakemo": b":04C0G000DEADBEEF04\r\n:00000001FF\r\n",
    "lusivo": b"@C0G0\r\nDE AD BE EF\r\nq\r\n",
}
SOURCE_NAME = b"quelle"

STARTING = b"MSP430 BSL Programmer starten..."
PRESS_ENTER = b">> Nach Ende des Programmierens Enter dr\x81cken! <<"  # cp850 u-umlaut
NOT_EXECUTABLE = b"Nichtausfuehrbare Datei!"
NOT_FOUND = b"BSLDEMO.EXE nicht gefunden!"
FOLDER_NOT_FOUND = b"Verzeichnis nicht gefunden!"


def Lines(*lines):
    return b"".join(line + b"\r\n" for line in lines)


def CompletedRun(output_name):
    """Everything a completed run of the 4-byte image writes before the hand-off."""
    return Lines(TITLE[KIND], NOTICE, b"",
                 b"Quelldatei <" + SOURCE_NAME + b">",
                 b"Ausgabedatei <" + output_name + b">",
                 b"", b"Statistik:", b"  4 Bytes konvertiert",
                 b"  1 Adressbereiche gefunden", b"")


def HandOffLines(shown, message=None):
    """The hand-off's lines; `shown` is what follows "BSLDEMO "."""
    start = Lines(STARTING, b"BSLDEMO " + shown, b"")
    end = Lines(b"", PRESS_ENTER, b"")
    return start + (Lines(message) if message is not None else b"") + end


# ---- The stand-in programmer ------------------------------------------------

GREETING = b"bsldemo stand-in here\r\n"


def StandInScript(folder, greet=False, copy_output=False):
    q = "'" + folder + "'"
    lines = ["#!/bin/sh",
             "# Stand-in programmer: records how it was started, then lingers."]
    if greet:
        lines.append("printf 'bsldemo stand-in here\\r\\n'")
    if copy_output:
        # The output name is the last argument.
        lines.append('eval "last=\\${$#}"')
        lines.append('cp -- "$last" ' + q + "/seen.tmp && mv " + q + "/seen.tmp " + q + "/seen")
    lines += [
        "{ printf 'pid=%s\\n' \"$$\"",
        "  grep '^SigIgn:' /proc/self/status 2>/dev/null || echo 'SigIgn: unknown'",
        "  printf '%s\\0' \"$0\" \"$@\"",
        "} > " + q + "/record.tmp",
        "mv " + q + "/record.tmp " + q + "/record",
        "exec </dev/null >/dev/null 2>&1",
        "exec sleep " + str(LINGER_SECONDS),
    ]
    return ("\n".join(lines) + "\n").encode()


class Record:
    def __init__(self, data):
        head, rest = data.split(b"\n", 1)
        sigign, words = rest.split(b"\n", 1)
        self.pid = int(head.split(b"=", 1)[1])
        self.sigign = sigign.split(b":", 1)[1].strip()
        parts = words.split(b"\0")
        assert parts[-1] == b"", "record not NUL-terminated"
        self.name = parts[0]
        self.arguments = parts[1:-1]


class HandOffCase(unittest.TestCase):
    """A temporary folder per test: work/ for the files, bin/ for the stand-in."""

    def setUp(self):
        self.roots = []
        self.started = []
        self.Fresh()

    def Fresh(self):
        """A new folder for the next run; a table test takes one per case."""
        self.root = tempfile.mkdtemp(prefix="handoff-")
        self.assertNotIn("'", self.root)
        self.roots.append(self.root)
        self.work = os.path.join(self.root, "work")
        self.bin = os.path.join(self.root, "bin")
        os.mkdir(self.work)
        os.mkdir(self.bin)
        with open(os.path.join(self.work, SOURCE_NAME.decode()), "wb") as f:
            f.write(SOURCE[KIND])

    def tearDown(self):
        # The stand-ins linger; end those this test started, by their pid.
        for pid in self.started:
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
                if cmdline == b"sleep\0%d\0" % LINGER_SECONDS or any(
                        root.encode() in cmdline for root in self.roots):
                    os.kill(pid, signal.SIGKILL)
            except (OSError, ValueError):
                pass
        for root in self.roots:
            shutil.rmtree(root, ignore_errors=True)

    def PutStandIn(self, **options):
        path = os.path.join(self.bin, "bsldemo")
        with open(path, "wb") as f:
            f.write(StandInScript(self.bin, **options))
        os.chmod(path, 0o755)
        return path

    def Command(self, parameters, path=None):
        """The converter's argument vector and environment: the stand-in's
        folder first on PATH, unless the test gives the whole PATH."""
        if path is None:
            path = self.bin + os.pathsep + os.environ.get("PATH", "")
        return [PROGRAM.encode()] + parameters, dict(os.environ, PATH=path)

    def Run(self, parameters, path=None):
        arguments, env = self.Command(parameters, path)
        result = subprocess.run(arguments, cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=RUN_TIMEOUT)
        self.assertEqual(result.stderr, b"", "nothing goes to standard error")
        return result

    def WaitForRecord(self):
        path = os.path.join(self.bin, "record")
        deadline = time.monotonic() + RECORD_TIMEOUT
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                self.fail("the stand-in programmer was not started")
            time.sleep(0.02)
        with open(path, "rb") as f:
            record = Record(f.read())
        self.started.append(record.pid)
        return record

    def AssertNotStarted(self):
        time.sleep(GRACE)
        self.assertFalse(os.path.exists(os.path.join(self.bin, "record")),
                         "the programmer was started")

    def AssertNoMarkers(self, names):
        for folder in (self.work, self.bin, self.root):
            for name in names:
                self.assertFalse(os.path.exists(os.path.join(folder, name)),
                                 "a shell ran a command: %s in %s" % (name, folder))


# ---- The argument vector ----------------------------------------------------

# parameters after the program's name; what follows "BSLDEMO " on the console;
# the programmer's arguments after its name.
ARGUMENT_CASES = [
    ("switch -p", [SOURCE_NAME, b"b.txt", b"-p", b"-cCOM2 +ecpvr"],
     b"-cCOM2 +ecpvr b.txt", [b"-cCOM2", b"+ecpvr", b"b.txt"]),
    ("switch /p", [SOURCE_NAME, b"b.txt", b"/p", b"-cCOM2 +ecpvr"],
     b"-cCOM2 +ecpvr b.txt", [b"-cCOM2", b"+ecpvr", b"b.txt"]),
    ("switch -P", [SOURCE_NAME, b"b.txt", b"-P", b"-cCOM2 +ecpvr"],
     b"-cCOM2 +ecpvr b.txt", [b"-cCOM2", b"+ecpvr", b"b.txt"]),
    ("switch /P", [SOURCE_NAME, b"b.txt", b"/P", b"-cCOM2 +ecpvr"],
     b"-cCOM2 +ecpvr b.txt", [b"-cCOM2", b"+ecpvr", b"b.txt"]),
    ("switch last: it is the parameter string", [SOURCE_NAME, b"b.txt", b"-p"],
     b"-p b.txt", [b"-p", b"b.txt"]),
    ("switch last in its written form", [SOURCE_NAME, b"b.txt", b"/P"],
     b"/P b.txt", [b"/P", b"b.txt"]),
    ("an empty last parameter is no parameter", [SOURCE_NAME, b"b.txt", b"-p", b""],
     b"-p b.txt", [b"-p", b"b.txt"]),
    ("the last parameter, not the one after the switch",
     [SOURCE_NAME, b"b.txt", b"-p", b"-cCOM2 +ecpvr", b"+w"],
     b"+w b.txt", [b"+w", b"b.txt"]),
    ("switch among other parameters", [SOURCE_NAME, b"b.txt", b"-cCOM1", b"-P", b"-m20 +ep"],
     b"-m20 +ep b.txt", [b"-m20", b"+ep", b"b.txt"]),
    ("output name with a blank gives two words", [SOURCE_NAME, b"mein image.txt", b"-p", b"+ecpvr"],
     b"+ecpvr mein image.txt", [b"+ecpvr", b"mein", b"image.txt"]),
    ("output named -p: it is also the switch", [SOURCE_NAME, b"-p"],
     b"-p -p", [b"-p", b"-p"]),
    ("runs of codes 1 to 32 separate words, none empty",
     [SOURCE_NAME, b"b.txt", b"-p", b"\t-cCOM2 \x01\x1f  +ecpvr \n"],
     b"\t-cCOM2 \x01\x1f  +ecpvr \n b.txt", [b"-cCOM2", b"+ecpvr", b"b.txt"]),
    ("a string of blanks only", [SOURCE_NAME, b"b.txt", b"-p", b"   "],
     b"    b.txt", [b"b.txt"]),
    ("quotes are taken literally", [SOURCE_NAME, b"b.txt", b"-p", b"-p\"PW X.TXT\" '+e v'"],
     b"-p\"PW X.TXT\" '+e v' b.txt", [b"-p\"PW", b"X.TXT\"", b"'+e", b"v'", b"b.txt"]),
    ("bytes above 127 pass unchanged", [SOURCE_NAME, b"\x81bung.txt", b"-p", b"-p\xfc\x81.TXT"],
     b"-p\xfc\x81.TXT \x81bung.txt", [b"-p\xfc\x81.TXT", b"\x81bung.txt"]),
]


class ArgumentVector(HandOffCase):
    def test_cases(self):
        for why, parameters, shown, words in ARGUMENT_CASES:
            with self.subTest(why):
                self.Fresh()
                self.PutStandIn()
                result = self.Run(parameters)
                record = self.WaitForRecord()
                self.assertEqual(record.arguments, words)
                self.assertEqual(record.name, os.path.join(self.bin, "bsldemo").encode(),
                                 "found through the first PATH entry")
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, CompletedRun(parameters[1]) + HandOffLines(shown))
                self.assertTrue(os.path.isfile(os.path.join(self.work.encode(), parameters[1])))


# ---- Shell metacharacters ---------------------------------------------------

MARKERS = ["m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8", "m9"]

METACHARACTER_CASES = [
    ("in the parameter string",
     [SOURCE_NAME, b"b.txt", b"-p", b"-cCOM2;touch m1 $(touch m2) `touch m3` |touch m4 * &&touch m5 >m6"],
     b"-cCOM2;touch m1 $(touch m2) `touch m3` |touch m4 * &&touch m5 >m6 b.txt",
     [b"-cCOM2;touch", b"m1", b"$(touch", b"m2)", b"`touch", b"m3`", b"|touch", b"m4", b"*",
      b"&&touch", b"m5", b">m6", b"b.txt"]),
    ("a whole string as one command substitution",
     [SOURCE_NAME, b"b.txt", b"-p", b"$(touch${IFS}m7)"],
     b"$(touch${IFS}m7) b.txt", [b"$(touch${IFS}m7)", b"b.txt"]),
    ("in the output name",
     [SOURCE_NAME, b"o;touch m8|$(touch m9)*.txt", b"-p", b"*"],
     b"* o;touch m8|$(touch m9)*.txt", [b"*", b"o;touch", b"m8|$(touch", b"m9)*.txt"]),
]


class ShellMetacharacters(HandOffCase):
    def test_passed_literally_and_never_run(self):
        for why, parameters, shown, words in METACHARACTER_CASES:
            with self.subTest(why):
                self.Fresh()
                self.PutStandIn()
                # Files a shell would put in place of a lone *.
                for name in ("x.hex", "y.txt"):
                    open(os.path.join(self.work, name), "wb").close()
                result = self.Run(parameters)
                record = self.WaitForRecord()
                self.assertEqual(record.arguments, words)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, CompletedRun(parameters[1]) + HandOffLines(shown))
                self.AssertNoMarkers(MARKERS)


# ---- Console order, lifetime and what the programmer inherits ---------------

class Programmer(HandOffCase):
    def Before(self):
        return CompletedRun(b"b.txt") + Lines(STARTING, b"BSLDEMO +ecpvr b.txt", b"")

    AFTER = Lines(b"", PRESS_ENTER, b"")

    def test_console_written_out_before_the_start(self):
        # The console is a pipe of one page that holds filler and has room for
        # exactly the lines up to the start. Written out before the start, they
        # fill it, and the converter then waits with its last lines until the
        # pipe is read; kept back, they would all wait, none reaching the pipe
        # before the programmer runs.
        if not hasattr(fcntl, "F_SETPIPE_SZ"):
            self.skipTest("pipe sizes cannot be set here")
        self.PutStandIn()
        page = os.sysconf("SC_PAGE_SIZE")
        filler = b"." * (page - len(self.Before()))
        arguments, env = self.Command([SOURCE_NAME, b"b.txt", b"-p", b"+ecpvr"])
        r, w = os.pipe()
        try:
            fcntl.fcntl(w, fcntl.F_SETPIPE_SZ, page)
            if fcntl.fcntl(w, fcntl.F_GETPIPE_SZ) != page:
                self.skipTest("a pipe of one page cannot be made here")
            os.write(w, filler)
            process = subprocess.Popen(arguments, cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                       stdout=w, stderr=subprocess.DEVNULL)
            os.close(w)
            w = -1
            self.WaitForRecord()
            held = array.array("i", [0])
            fcntl.ioctl(r, termios.FIONREAD, held)
            out = b""
            while chunk := os.read(r, 65536):
                out += chunk
            status = process.wait(timeout=RUN_TIMEOUT)
        finally:
            os.close(r)
            if w >= 0:
                os.close(w)
        self.assertEqual(held[0], page, "the lines up to the start were kept back")
        self.assertEqual(out, filler + self.Before() + self.AFTER)
        self.assertEqual(status, 0)

    def test_its_output_follows_the_converters_lines_in_the_same_console(self):
        self.PutStandIn(greet=True)
        result = self.Run([SOURCE_NAME, b"b.txt", b"-p", b"+ecpvr"])
        self.WaitForRecord()
        self.assertEqual(result.returncode, 0)
        # The lines after the start may come before or after its output.
        self.assertIn(result.stdout, (self.Before() + GREETING + self.AFTER,
                                      self.Before() + self.AFTER + GREETING))

    def test_converter_returns_while_the_programmer_sleeps(self):
        self.PutStandIn()
        result = self.Run([SOURCE_NAME, b"b.txt", b"-p", b"+ecpvr"])
        self.assertEqual(result.returncode, 0)
        record = self.WaitForRecord()
        os.kill(record.pid, 0)  # raises if the programmer has ended and was reaped
        if os.path.exists("/proc/self/stat"):
            with open("/proc/%d/stat" % record.pid, "rb") as f:
                state = f.read().rsplit(b")", 1)[1].split()[0]
            self.assertNotIn(state, (b"Z", b"X"), "the programmer has ended")

    def test_starts_on_the_complete_closed_output(self):
        self.PutStandIn(copy_output=True)
        self.Run([SOURCE_NAME, b"b.txt", b"-p", b"+ecpvr"])
        self.WaitForRecord()
        with open(os.path.join(self.bin, "seen"), "rb") as f:
            seen = f.read()
        with open(os.path.join(self.work, "b.txt"), "rb") as f:
            written = f.read()
        self.assertTrue(written.endswith(b"\r\n"))
        self.assertEqual(seen, written)

    def test_gets_default_handling_of_sigpipe_and_sigxfsz(self):
        self.PutStandIn()
        self.Run([SOURCE_NAME, b"b.txt", b"-p", b"+ecpvr"])
        record = self.WaitForRecord()
        if record.sigign == b"unknown":
            self.skipTest("no /proc/self/status to read ignored signals from")
        ignored = int(record.sigign, 16)
        self.assertFalse(ignored & (1 << (signal.SIGPIPE - 1)), "SIGPIPE ignored")
        self.assertFalse(ignored & (1 << (signal.SIGXFSZ - 1)), "SIGXFSZ ignored")


# ---- Start failures ---------------------------------------------------------

class StartFailures(HandOffCase):
    """The converter's PATH holds only the entry under test."""

    def Check(self, path, message, markers=()):
        result = self.Run([SOURCE_NAME, b"b.txt", b"-p", b"-cCOM2 +ecpvr"], path=path)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout,
                         CompletedRun(b"b.txt") + HandOffLines(b"-cCOM2 +ecpvr b.txt", message))
        self.AssertNotStarted()
        self.AssertNoMarkers(markers)

    def test_no_programmer_on_path(self):
        self.Check(self.bin, NOT_FOUND)

    def test_programmer_without_execute_permission(self):
        # Execute permission binds even for root.
        path = self.PutStandIn()
        os.chmod(path, stat.S_IRUSR | stat.S_IWUSR | stat.S_IRGRP | stat.S_IROTH)
        self.Check(self.bin, NOT_EXECUTABLE)

    def test_executable_that_is_no_program_is_not_run_by_a_shell(self):
        path = os.path.join(self.bin, "bsldemo")
        with open(path, "wb") as f:
            f.write(b"touch '" + self.root.encode() + b"/ran'\n")
        os.chmod(path, 0o755)
        self.Check(self.bin, NOT_EXECUTABLE, markers=["ran"])

    def test_path_whose_only_entry_is_a_regular_file(self):
        entry = os.path.join(self.root, "not-a-folder")
        open(entry, "wb").close()
        self.Check(entry, FOLDER_NOT_FOUND)

    def test_other_failures_write_no_line(self):
        os.symlink("bsldemo", os.path.join(self.bin, "bsldemo"))  # a loop of links
        self.Check(self.bin, None)


# ---- Runs that end before the hand-off -------------------------------------

class NoHandOff(HandOffCase):
    def Check(self, parameters, status, last_line):
        self.PutStandIn()
        result = self.Run(parameters)
        self.assertEqual(result.returncode, status)
        self.assertNotIn(STARTING, result.stdout)
        self.assertNotIn(b"BSLDEMO", result.stdout)
        self.assertTrue(result.stdout.startswith(Lines(TITLE[KIND], NOTICE, b"")))
        self.assertIn(last_line, result.stdout)
        self.AssertNotStarted()

    def test_after_help(self):
        for parameters in ([SOURCE_NAME, b"b.txt", b"-p", b"-h"],
                           [SOURCE_NAME, b"b.txt", b"/H", b"-p"],
                           [b"-p"]):
            with self.subTest(parameters):
                self.Fresh()
                self.Check(parameters, 0, b"Zeigt diesen Hilfebildschirm\r\n")
                self.assertFalse(os.path.exists(os.path.join(self.work, "b.txt")))

    def test_after_a_failed_source_step(self):
        self.Check([b"fehlt", b"b.txt", b"-p", b"+ecpvr"], 2,
                   Lines(b"Fehler beim Laden der angegebenen Datei \"fehlt\""))

    def test_after_a_failed_output_step(self):
        self.Check([SOURCE_NAME, b"fehlt/b.txt", b"-p", b"+ecpvr"], 2,
                   Lines(b"Fehler beim Anlegen der Ausgabedatei \"fehlt/b.txt\""))

    def test_after_a_fatal_failure(self):
        with open(os.path.join(self.work, SOURCE_NAME.decode()), "wb") as f:
            f.write(BAD_SOURCE[KIND])
        self.Check([SOURCE_NAME, b"b.txt", b"-p", b"+ecpvr"], 1, b"Exception EConvertError in Modul ")


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[2] not in TITLE:
        sys.exit("usage: handoff_test.py PROGRAM_PATH {rakemo|lusivo} [unittest options]")
    PROGRAM, KIND = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
