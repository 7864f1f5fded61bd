#!/usr/bin/env python3
"""examples/bsldemo, the programmer for -p on Linux, which drives mspdebug.

Usage: bsldemo_test.py --adapter PATH --rakemo PATH --lusivo PATH
                       --corpus DIR GROUP

Groups:
  shellcheck  the script is clean under shellcheck
  commands    the mspdebug command line it builds, against a stand-in
              mspdebug first on PATH that records its arguments
  sim         the adapter alone with mspdebug's simulator
  converter   rakemo and lusivo with -p and the adapter on PATH as bsldemo,
              with mspdebug's simulator

Exit status 77: the group's tool (shellcheck, mspdebug) or the corpus is
missing here, and the group counts as skipped. No test names a real driver
together with a real port: real mspdebug only ever runs with `sim`.
"""

import argparse
import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SKIPPED = 77
TIMEOUT = 60
ADAPTER = RAKEMO = LUSIVO = CORPUS = ""

# An image below 0x10000, as the simulator's 64 KiB need: two ranges.
IMAGE = "goodfet-goodfet42-mspgcc.hex"
IMAGE_BYTES = 25842

# mspdebug 0.22 has no rom-bsl; later versions list it among the others.
DRIVERS_022 = ["flash-bsl", "uif-bsl", "sim", "uif", "tilib"]

# Small images in both formats: 4 bytes at C000, 2 at FFFE.
TI_TXT = b"@C000\r\nDE AD BE EF\r\n@FFFE\r\n00 C0\r\nq\r\n"
INTEL_HEX = b":04C00000DEADBEEF04\r\n:02FFFE0000C041\r\n:00000001FF\r\n"
IMAGE_ADDRESSES = set(range(0xC000, 0xC004)) | {0xFFFE, 0xFFFF}


def Lines(*lines):
    return b"".join(line + b"\r\n" for line in lines)


# ---- Reading images back: address -> byte --------------------------------

def TiTxtBytes(data):
    image, address = {}, None
    for line in data.decode("ascii").splitlines():
        line = line.strip()
        if line.lower() == "q":
            break
        if line.startswith("@"):
            address = int(line[1:], 16)
            continue
        for piece in line.split():
            image[address] = int(piece, 16)
            address += 1
    return image


# ---- The stand-in mspdebug ------------------------------------------------

STAND_IN = r"""#!/bin/sh
# Stand-in mspdebug: lists drivers for --help; otherwise records its
# arguments, its standard input and the files it is asked to verify, then
# ends with $STANDIN_STATUS.
record=%(folder)s
if [ "$1" = --help ]; then
  echo "--help" >>"$record/help"
  printf 'Usage: mspdebug [options] <driver> [command ...]\n\n'
  printf 'Available drivers are:\n'
  for name in $STANDIN_DRIVERS; do printf '    %%s\n        A driver.\n' "$name"; done
  exit 0
fi
printf '%%s\0' "$@" >"$record/arguments"
readlink /proc/self/fd/0 >"$record/stdin"
n=0
for word; do
  case $word in
    "verify "*) n=$((n + 1)); cp -- "${word#verify }" "$record/verified.$n" ;;
  esac
done
exit "${STANDIN_STATUS:-0}"
"""


class Adapter(unittest.TestCase):
    """A temporary folder per test: work/ for the files, bin/ for the stand-in."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="bsldemo-")
        self.work = os.path.join(self.root, "work")
        self.bin = os.path.join(self.root, "bin")
        self.record = os.path.join(self.root, "record")
        self.tmp = os.path.join(self.root, "tmp")
        for folder in (self.work, self.bin, self.record, self.tmp):
            os.mkdir(folder)
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)

    def Write(self, name, data):
        with open(os.path.join(self.work, name), "wb") as f:
            f.write(data)

    def PutStandIn(self):
        path = os.path.join(self.bin, "mspdebug")
        with open(path, "w") as f:
            f.write(STAND_IN % {"folder": "'" + self.record + "'"})
        os.chmod(path, 0o755)

    def Environment(self, driver, drivers=DRIVERS_022, status=0, device=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("BSLDEMO_")}
        env.update(PATH=self.bin + os.pathsep + env.get("PATH", ""), TMPDIR=self.tmp,
                   STANDIN_DRIVERS=" ".join(drivers), STANDIN_STATUS=str(status))
        if driver is not None:
            env["BSLDEMO_DRIVER"] = driver
        if device is not None:
            env["BSLDEMO_DEVICE"] = device
        return env

    def RunAdapter(self, words, driver="sim", stdin=subprocess.DEVNULL, **environment):
        for name in os.listdir(self.record):  # what an earlier run recorded
            os.remove(os.path.join(self.record, name))
        return subprocess.run([ADAPTER] + words, cwd=self.work,
                              env=self.Environment(driver, **environment),
                              stdin=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=TIMEOUT)

    def Arguments(self):
        """The stand-in's arguments, or None when it was not started to program."""
        path = os.path.join(self.record, "arguments")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            words = f.read().split(b"\0")
        self.assertEqual(words[-1], b"")
        return [word.decode() for word in words[:-1]]

    def Verified(self, n):
        with open(os.path.join(self.record, "verified.%d" % n), "rb") as f:
            return f.read()

    def AssertRefused(self, result, says):
        """Status 2, one line on standard error naming `says`, nothing run."""
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertEqual(result.stdout, b"")
        lines = result.stderr.decode("ascii").splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], "^bsldemo: ")
        self.assertIn(says, lines[0])
        self.assertIsNone(self.Arguments(), "mspdebug was started")


class StandIn(Adapter):
    """The stand-in mspdebug first on PATH, and the small image as fw.txt."""

    def setUp(self):
        super().setUp()
        self.PutStandIn()
        self.Write("fw.txt", TI_TXT)


class Commands(StandIn):
    """The command line the adapter hands to mspdebug."""

    def Programmed(self, words, driver="flash-bsl", **environment):
        result = self.RunAdapter(words + ["fw.txt"], driver, **environment)
        self.assertEqual(result.returncode, 0, result.stderr)
        arguments = self.Arguments()
        self.assertIsNotNone(arguments, "mspdebug was not started")
        return arguments, result

    def testPortTable(self):
        cases = [
            (["-cCOM1"], None, "/dev/ttyS0"),
            (["-ccom2"], None, "/dev/ttyS1"),
            (["-cCom10"], None, "/dev/ttyS9"),
            (["-cCOM256"], None, "/dev/ttyS255"),
            (["-c/dev/ttyUSB0"], None, "/dev/ttyUSB0"),
            ([], None, "/dev/ttyS0"),
            (["-cCOM1", "-cCOM3"], None, "/dev/ttyS2"),
            (["-cCOM1"], "/dev/ttyACM0", "/dev/ttyACM0"),
            ([], "/dev/ttyUSB1", "/dev/ttyUSB1"),
        ]
        for driver in ("flash-bsl", "uif-bsl"):
            for words, device, expected in cases:
                with self.subTest(driver=driver, words=words, device=device):
                    arguments, _ = self.Programmed(words + ["+p"], driver, device=device)
                    self.assertEqual(arguments, ["-n", "-d", expected, driver, "load fw.txt"])

    def testRomBslWhereListed(self):
        arguments, _ = self.Programmed(["-cCOM2", "+p"], "rom-bsl",
                                       drivers=DRIVERS_022 + ["rom-bsl"])
        self.assertEqual(arguments, ["-n", "-d", "/dev/ttyS1", "rom-bsl", "load fw.txt"])

    def testSimulatorTakesNoPort(self):
        arguments, _ = self.Programmed(["-cCOM1", "+pv"], "sim")
        self.assertEqual(arguments, ["-n", "sim", "load fw.txt", "verify fw.txt"])

    def testOrderOfActions(self):
        blank = "verify " + os.path.join(self.tmp, "")
        cases = [
            ([], ["erase", blank, "load fw.txt", "verify fw.txt", "reset"]),
            (["+rvpce"], ["erase", blank, "load fw.txt", "verify fw.txt", "reset"]),
            (["+pr", "+e"], ["erase", "load fw.txt", "reset"]),
            (["+vp"], ["load fw.txt", "verify fw.txt"]),
            (["+r"], ["reset"]),
            (["-m3", "+pe"], ["erase", "erase", "erase", "load fw.txt"]),
            (["+pe", "-m2"], ["erase", "erase", "load fw.txt"]),
            (["-m3", "+pv"], ["load fw.txt", "verify fw.txt"]),
            (["-1", "+pv"], ["load fw.txt", "verify fw.txt"]),
        ]
        for words, commands in cases:
            with self.subTest(words=words):
                arguments, result = self.Programmed(words, "sim")
                self.assertEqual(result.stderr, b"")
                self.assertEqual(arguments[:2], ["-n", "sim"])
                got = [word if not word.startswith(blank) else blank for word in arguments[2:]]
                self.assertEqual(got, commands)

    def testWaitIsNamedAndNotDone(self):
        for words in (["-w", "+pv"], ["+pvw"], ["+wvp", "-w"]):
            with self.subTest(words=words):
                arguments, result = self.Programmed(words, "sim")
                self.assertEqual(arguments, ["-n", "sim", "load fw.txt", "verify fw.txt"])
                lines = result.stderr.decode("ascii").splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertIn("w entfaellt", lines[0])

    def testOnlyWaitStartsNothing(self):
        result = self.RunAdapter(["+w", "fw.txt"])
        self.assertEqual(result.returncode, 0)
        self.assertIsNone(self.Arguments())

    def testEraseCheckVerifiesFFOverTheImage(self):
        # Both formats, and an Intel HEX image above 64 KiB through a type 04
        # record, which the blank image keeps at its linear address.
        high = b":020000040001F9\r\n:03100000010203E7\r\n:00000001FF\r\n"
        cases = [("fw.txt", TI_TXT, IMAGE_ADDRESSES),
                 ("fw.hex", INTEL_HEX, IMAGE_ADDRESSES),
                 ("high.hex", high, {0x11000, 0x11001, 0x11002})]
        for name, data, addresses in cases:
            with self.subTest(name=name):
                self.Write(name, data)
                result = self.RunAdapter(["+c", name], "sim")
                self.assertEqual(result.returncode, 0, result.stderr)
                arguments = self.Arguments()
                self.assertEqual(len(arguments), 3)
                blank = TiTxtBytes(self.Verified(1))
                self.assertEqual(blank, {address: 0xFF for address in addresses})
                self.assertFalse(os.path.exists(arguments[2][len("verify "):]),
                                 "the blank image was left behind")
                self.assertEqual(os.listdir(self.tmp), [])

    def testFileNameIsTheRestOfTheCommand(self):
        self.Write("my fw.txt", TI_TXT)
        result = self.RunAdapter(["+pv", "my fw.txt"], "sim")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.Arguments(), ["-n", "sim", "load my fw.txt", "verify my fw.txt"])

    def testStatusOfMspdebugIsKept(self):
        for status in (0, 1, 255):
            with self.subTest(status=status):
                result = self.RunAdapter(["fw.txt"], "sim", status=status)
                self.assertEqual(result.returncode, status)

    def testMspdebugDoesNotReadTheTerminal(self):
        with open(os.path.join(self.work, "fw.txt"), "rb") as stdin:
            result = self.RunAdapter(["+p", "fw.txt"], "sim", stdin=stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.record, "stdin")) as f:
            self.assertEqual(f.read().strip(), "/dev/null")

    def testHelp(self):
        for words in (["-h"], ["-h", "fw.txt"], ["+x", "-h", "fw.txt"]):
            with self.subTest(words=words):
                result = self.RunAdapter(words, None)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stderr, b"")
                self.assertTrue(result.stdout.isascii())
                text = result.stdout.decode("ascii")
                for option in ("-c{Port}", "-p{Datei}", "-m{Zahl}", "+ecpvrw", "BSLDEMO_DRIVER",
                               "BSLDEMO_DEVICE", "Loeschen", "mspdebug"):
                    self.assertIn(option, text)
                self.assertIsNone(self.Arguments())


class Refusals(StandIn):
    """Status 2 with one line, and mspdebug never started."""

    def testCommandLine(self):
        cases = [
            (["-pPW.TXT", "fw.txt"], "+e", "a password file"),
            (["-p", "fw.txt"], "+e", "a password switch alone"),
            (["+x", "fw.txt"], "x", "an unknown letter"),
            (["+epq", "fw.txt"], "q", "an unknown letter after known ones"),
            (["+", "fw.txt"], "+ ohne Aktionen", "a lone +"),
            (["+ee", "fw.txt"], "e doppelt", "a letter twice"),
            (["+ep", "+e", "fw.txt"], "e doppelt", "a letter twice in two words"),
            (["-c", "fw.txt"], "-c ohne Port", "a lone -c"),
            (["-cCOM0", "fw.txt"], "-cCOM0", "COM0"),
            (["-cCOM", "fw.txt"], "-cCOM", "COM without its number"),
            (["-cttyS0", "fw.txt"], "-cttyS0", "a port that is neither COMn nor a path"),
            (["-m", "fw.txt"], "-m", "-m without a number"),
            (["-m0", "fw.txt"], "-m0", "-m0"),
            (["-m2x", "fw.txt"], "-m2x", "-m with a letter"),
            (["-x", "fw.txt"], "-x", "an unknown option"),
            (["my", "fw.txt"], "zwei Woerter", "an output name with a blank, as two words"),
            ([], "keine Datei", "no word at all"),
        ]
        for words, says, why in cases:
            with self.subTest(why):
                self.AssertRefused(self.RunAdapter(words), says)

    def testDriver(self):
        cases = [(None, "BSLDEMO_DRIVER"), ("", "BSLDEMO_DRIVER"), ("jtag", "jtag"),
                 ("uif", "uif"), ("SIM", "SIM")]
        for driver, says in cases:
            with self.subTest(driver=driver):
                result = self.RunAdapter(["fw.txt"], driver)
                self.AssertRefused(result, says)
                for choice in ("flash-bsl", "uif-bsl", "rom-bsl", "sim"):
                    self.assertIn(choice, result.stderr.decode())
                self.assertFalse(os.path.exists(os.path.join(self.record, "help")))

    def testDriverThatMspdebugDoesNotList(self):
        result = self.RunAdapter(["fw.txt"], "rom-bsl")
        self.AssertRefused(result, "rom-bsl")
        self.assertIn("flash-bsl uif-bsl sim", result.stderr.decode())

    def testFile(self):
        os.mkdir(os.path.join(self.work, "folder"))
        cases = [
            ("missing.txt", None, "a missing file"),
            ("folder", None, "a folder"),
            ("empty.txt", b"", "an empty file"),
            ("damaged.txt", b"@3100\r\n01 0G\r\nq\r\n", "a piece with a G"),
            ("later.txt", b"@3100\r\n01 02\r\n03 0G\r\nq\r\n", "a damaged second line"),
            ("onedigit.txt", b"@3100\r\n01 0\r\nq\r\n", "a piece of one digit"),
            ("long.txt", b"@3100\r\n0102\r\nq\r\n", "a piece of four digits"),
            ("short.txt", b"@3100\r\n11   \r\nq\r\n", "empty pieces of a short record"),
            ("tab.txt", b"@3100\r\n01\t02\r\nq\r\n", "a tab between pieces"),
            ("address.txt", b"@31G0\r\n01 02\r\nq\r\n", "a G in an address"),
            ("noq.txt", b"@3100\r\n01 02\r\n", "no end line"),
            ("nodata.txt", b"@3100\r\nq\r\n", "no byte"),
            ("other.txt", b"S00600004844521B\r\n", "neither format"),
            ("blankfirst.txt", b"\r\n@3100\r\n01\r\nq\r\n", "an empty first line"),
            ("g.hex", b":04C0G000DEADBEEF04\r\n:00000001FF\r\n", "a G in a record's address"),
            ("checksum.hex", b":04C00000DEADBEEF05\r\n:00000001FF\r\n", "a wrong checksum"),
            ("count.hex", b":05C00000DEADBEEF03\r\n:00000001FF\r\n", "a count longer than the data"),
            ("odd.hex", b":04C00000DEADBEEF0\r\n:00000001FF\r\n", "an odd number of digits"),
            ("spaced.hex", b":04 C000 00 DEADBEEF 04\r\n:00000001FF\r\n", "blanks between fields"),
            ("junk.hex", b":04C00000DEADBEEF04\r\nxyz\r\n:00000001FF\r\n", "a line that is no record"),
            ("type.hex", b":04C00000DEADBEEF04\r\n:00000006FA\r\n:00000001FF\r\n", "record type 06"),
            ("noend.hex", b":04C00000DEADBEEF04\r\n", "no end record"),
            ("onlyend.hex", b":00000001FF\r\n", "no byte"),
        ]
        for name, data, why in cases:
            with self.subTest(why):
                if data is not None:
                    self.Write(name, data)
                self.AssertRefused(self.RunAdapter(["+pv", name]), name)

    def testFileNameWithBlankAtItsEnd(self):
        # mspdebug would drop the blank and load fw.txt instead.
        self.Write("fw.txt ", TI_TXT)
        self.AssertRefused(self.RunAdapter(["fw.txt "]), "Leerzeichen")

    def testMspdebugMissing(self):
        # A PATH that holds the adapter's tools and no mspdebug.
        os.remove(os.path.join(self.bin, "mspdebug"))
        os.symlink(shutil.which("awk"), os.path.join(self.bin, "awk"))
        env = self.Environment("sim")
        env["PATH"] = self.bin
        result = subprocess.run(["/bin/sh", ADAPTER, "+pv", "fw.txt"], cwd=self.work, env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
        self.AssertRefused(result, "mspdebug nicht gefunden")


class Accepted(StandIn):
    """Images the check lets through, as rakemo, lusivo and others write them."""

    def testImages(self):
        cases = [
            ("lf.txt", b"@c000\nde ad\nq\n", "LF line ends, lower case"),
            ("trailing.txt", b"@C000 \r\nDE AD \r\nq \r\n", "a blank before each line end"),
            ("noend.txt", b"@C000\r\nDE AD\r\nq", "no line end after q"),
            ("upper.txt", b"@C000\r\nDE AD\r\nQ\r\n", "an upper-case Q"),
            ("afterq.txt", b"@C000\r\nDE AD\r\nq\r\nnot read\r\n", "text after q"),
            ("five.txt", b"@1C400\r\nDE AD\r\nq\r\n", "a five-digit address"),
            ("blank.hex", b":04C00000DEADBEEF04\n\n:00000001FF\n", "an empty line between records"),
            ("types.hex", b":020000040000FA\r\n:04C00000DEADBEEF04\r\n"
                          b":0400000500003100C6\r\n:00000001FF\r\n", "records of type 04 and 05"),
            ("lower.hex", b":04c00000deadbeef04\r\n:00000001ff\r\n", "lower case"),
        ]
        for name, data, why in cases:
            with self.subTest(why):
                self.Write(name, data)
                result = self.RunAdapter(["+pv", name])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.Arguments(), ["-n", "sim", "load " + name, "verify " + name])


# ---- With the real mspdebug and its simulator -----------------------------

def WrittenAndVerified(output):
    """Bytes mspdebug reports writing and verifying, and its final totals."""
    text = output.decode("utf-8", "replace")
    written = sum(int(n) for n in re.findall(r"^Writing +(\d+) bytes", text, re.M))
    verified = sum(int(n) for n in re.findall(r"^Verifying +(\d+) bytes", text, re.M))
    totals = [int(n) for n in re.findall(r"^Done, (\d+) bytes total", text, re.M)]
    return written, verified, totals


class Converted(Adapter):
    """work/ holds fw.txt, rakemo's output of the image, and fw.hex, lusivo's of that."""

    def setUp(self):
        super().setUp()
        source = os.path.join(CORPUS, IMAGE)
        for program, arguments in ((RAKEMO, [source, "fw.txt"]), (LUSIVO, ["fw.txt", "fw.hex"])):
            result = subprocess.run([program] + arguments, cwd=self.work, capture_output=True,
                                    stdin=subprocess.DEVNULL, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 0, result.stdout)


class Simulator(Converted):
    """The adapter alone on the converters' outputs of a real image."""

    def testProgramAndVerify(self):
        cases = [(["+epv"], "fw.txt", [IMAGE_BYTES, IMAGE_BYTES]),
                 ([], "fw.txt", [IMAGE_BYTES, IMAGE_BYTES, IMAGE_BYTES]),
                 (["-cCOM1", "+epv"], "fw.hex", [IMAGE_BYTES, IMAGE_BYTES])]
        for words, name, totals in cases:
            with self.subTest(words=words, name=name):
                result = self.RunAdapter(words + [name])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                written, verified, done = WrittenAndVerified(result.stdout)
                self.assertEqual(written, IMAGE_BYTES)
                self.assertEqual(verified, IMAGE_BYTES * (len(totals) - 1))
                self.assertEqual(done, totals)
                self.assertEqual(os.listdir(self.tmp), [])

    def testVerifyOfAnUnprogrammedChipFails(self):
        result = self.RunAdapter(["+v", "fw.txt"])
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"mismatch", result.stdout + result.stderr)


class Converter(Converted):
    """rakemo and lusivo with -p, the adapter first on PATH as bsldemo."""

    def setUp(self):
        super().setUp()
        os.symlink(ADAPTER, os.path.join(self.bin, "bsldemo"))
        os.rename(os.path.join(self.work, "fw.txt"), os.path.join(self.work, "image.txt"))

    def HandOff(self, arguments):
        """Runs the converter, then waits for the adapter, which it left
        running: this process adopts the orphan as the children's reaper."""
        result = subprocess.run(arguments, cwd=self.work, env=self.Environment("sim"),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout)
        # Standard output reached its end: the adapter and mspdebug closed it.
        pid, status = os.waitpid(-1, 0)
        return result, os.waitstatus_to_exitcode(status)

    def testHandOff(self):
        source = os.path.join(CORPUS, IMAGE)
        cases = [([RAKEMO, source, "fw.txt", "-p", "-cCOM1 +epv"], b"BSLDEMO -cCOM1 +epv fw.txt"),
                 ([LUSIVO, "image.txt", "fw.hex", "-p", "+epv"], b"BSLDEMO +epv fw.hex")]
        for arguments, shown in cases:
            with self.subTest(program=os.path.basename(arguments[0])):
                result, status = self.HandOff(arguments)
                self.assertIn(Lines(shown), result.stdout)
                self.assertNotIn(b"nicht gefunden", result.stdout)
                self.assertEqual(status, 0, result.stdout + result.stderr)
                written, verified, done = WrittenAndVerified(result.stdout)
                self.assertEqual((written, verified, done), (IMAGE_BYTES, IMAGE_BYTES,
                                                             [IMAGE_BYTES, IMAGE_BYTES]))
                # The converter's last line comes before mspdebug's first.
                self.assertLess(result.stdout.index(b"Enter dr"), result.stdout.index(b"MSPDebug"))


class Shellcheck(unittest.TestCase):
    def testClean(self):
        result = subprocess.run(["shellcheck", ADAPTER], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout.decode())


GROUPS = {
    "shellcheck": ([Shellcheck], ["shellcheck"], False),
    "commands": ([Commands, Refusals, Accepted], [], False),
    "sim": ([Simulator], ["mspdebug"], True),
    "converter": ([Converter], ["mspdebug"], True),
}


def BecomeChildReaper():
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def main():
    global ADAPTER, RAKEMO, LUSIVO, CORPUS
    parser = argparse.ArgumentParser()
    for option in ("--adapter", "--rakemo", "--lusivo", "--corpus"):
        parser.add_argument(option, required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    options = parser.parse_args()
    ADAPTER, RAKEMO, LUSIVO, CORPUS = (os.path.abspath(p) for p in (
        options.adapter, options.rakemo, options.lusivo, options.corpus))

    classes, tools, needs_corpus = GROUPS[options.group]
    for tool in tools:
        if shutil.which(tool) is None:
            print("skip %s: %s is not installed (Debian package %s)" % (options.group, tool, tool))
            return SKIPPED
    if needs_corpus and not os.path.isfile(os.path.join(CORPUS, IMAGE)):
        print("skip %s: no %s in %s" % (options.group, IMAGE, CORPUS))
        return SKIPPED
    if options.group == "converter":
        BecomeChildReaper()

    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(c) for c in classes)
    runner = unittest.TextTestRunner(verbosity=2)
    return 0 if runner.run(suite).wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
