#!/usr/bin/env python3
"""Fault injection and bad input for rakemo and lusivo.

Runs the real executables while something goes wrong around them (a full
disk, a file size limit, a read that fails, standard streams closed or
gone, memory exhausted) and on malformed sources. In every case the exit
status must tell success from failure, the source must stay as it was, the
programmer must be started only after a completed conversion, and no run
may end by a signal.

    faults.py --rakemo PATH --lusivo PATH [--shim PATH] [--runner CMD]
              [--sanitized] GROUP...

Groups: write, read, streams, memory, survey. --shim names the LD_PRELOAD
library of fault_shim.cpp; --runner is a prefix for each run (valgrind);
--sanitized says the programs carry AddressSanitizer, which rules out an
address space limit. Exit status 0 when every case
passed, 1 when one failed, 77 when nothing could be run here.
"""

import argparse
import dataclasses
import hashlib
import os
import re
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import limits  # noqa: E402
import screens  # noqa: E402  the console texts, typed once for all drivers
from tally import Tally  # noqa: E402

SKIPPED = 77
TIMEOUT = 300  # seconds for one run; a hang fails the case
PARAMETERS = "-cCOM2 +ecpvr"  # the programmer's parameter string of every conversion


# ---- Images whose complete conversion follows from the formats ----

def checksum(fields):
    return (-sum(fields)) & 0xFF


def intel_hex_record(address, data, record_type=0):
    fields = bytes([len(data), address >> 8, address & 0xFF, record_type]) + bytes(data)
    return ":" + (fields + bytes([checksum(fields)])).hex().upper()


def image_bytes(records):
    """records lines of 16 bytes from address 0 upward, byte i = i mod 256."""
    return [[(16 * r + i) & 0xFF for i in range(16)] for r in range(records)]


def image_intel_hex(records):
    lines = [intel_hex_record(16 * r, data) for r, data in enumerate(image_bytes(records))]
    return ("\r\n".join(lines + [":00000001FF"]) + "\r\n").encode()


def image_titxt(records):
    lines = ["@0000"] + [" ".join(f"{b:02X}" for b in data) for data in image_bytes(records)]
    return ("\r\n".join(lines + ["q"]) + "\r\n").encode()


def image(program, records):
    """(source, complete output, bytes converted, address ranges)."""
    if program == "rakemo":
        return image_intel_hex(records), image_titxt(records), 16 * records, 1
    return image_titxt(records), image_intel_hex(records), 16 * records, 1


LARGE = 3000  # records: an output of more than 64 KiB, so lines are written before the end
SMALL = 100   # records: an output that the program holds until it closes the file

SOURCE = {"rakemo": "quelle.hex", "lusivo": "quelle.txt"}
OUTPUT = {"rakemo": "ziel.txt", "lusivo": "ziel.hex"}


def handed_off(output):
    """The console lines of a hand-off whose programmer started."""
    return screens.console("MSP430 BSL Programmer starten...", f"BSLDEMO {PARAMETERS} {output}",
                           "", "", ">> Nach Ende des Programmierens Enter drücken! <<", "")


def completed(program, output, bytes_converted, address_ranges):
    return (screens.completed(program, SOURCE[program], output, bytes_converted, address_ranges) +
            handed_off(output))


def failed(program, output, kind, message):
    """A conversion ended by the fatal error report: no statistic after it."""
    return (screens.files_opened(program, SOURCE[program], output) +
            screens.fatal_report(program, kind, message))


# ---- What a case lays out, runs and expects ----

@dataclasses.dataclass(frozen=True)
class Sparse:
    """A source of this many NUL bytes that takes no room on the disk."""
    size: int


ABSENT = "absent"  # a failed run creates no output


@dataclasses.dataclass
class Case:
    name: str
    program: str
    source: object = None           # bytes or Sparse; None: no source file
    args: list = None               # default: source, output, -p, the parameter string
    output: str = None              # default: a file in the case folder
    stdin: object = b""             # bytes, "closed" or "directory"
    stdout: str = "pipe"            # "pipe", "closed", "gone" (a pipe without reader) or "full"
    existing: bytes = None          # the output file exists before the run, holding this
    file_size_limit: int = None     # RLIMIT_FSIZE
    address_space_limit: int = None  # RLIMIT_AS
    shim: dict = None               # settings of the preloaded fault library
    status: int = 1
    console: bytes = None           # the whole stdout, report address masked
    written: object = None          # the output file holds exactly these bytes, or is ABSENT
    called: bool = False            # the programmer was started
    big: bool = False               # too big for a runner such as valgrind
    runner: bool = True             # a runner leaves the fault as it is


class Context(Tally):
    def __init__(self, options):
        super().__init__()
        self.programs = {"rakemo": os.path.abspath(options.rakemo),
                         "lusivo": os.path.abspath(options.lusivo)}
        self.shim = os.path.abspath(options.shim) if options.shim else None
        self.runner = shlex.split(options.runner) if options.runner else []
        self.sanitized = options.sanitized

    def why_not(self, case):
        """Why a case cannot run here, or None."""
        if case.address_space_limit and (self.runner or self.sanitized):
            return "an address space limit leaves no room for the runner or the sanitizers"
        if case.shim and not self.shim:
            return "no fault library given (--shim)"
        if case.big and self.runner:
            return "too big for the runner"
        if not case.runner and self.runner:
            return "the runner itself would meet the fault"
        return None


def mask_address(stdout):
    return re.sub(rb"(Exception [^\r\n]* bei )[0-9A-F]{8}(\.\n)",
                  rb"\1" + screens.MASKED_ADDRESS + rb"\2", stdout)


def stand_in_programmer(folder):
    """A bsldemo first on PATH that records that it was started. It keeps the
    converter's stderr until it has written its record, so when the run's
    pipes are at their end the record is there if it ever will be."""
    bin_folder = os.path.join(folder, "bin")
    os.mkdir(bin_folder)
    marker = os.path.join(folder, "called")
    script = os.path.join(bin_folder, "bsldemo")
    with open(script, "w") as f:
        f.write(f'#!/bin/sh\nprintf "%s\\n" "$@" > {shlex.quote(marker)}.tmp\n'
                f'mv {shlex.quote(marker)}.tmp {shlex.quote(marker)}\n')
    os.chmod(script, 0o755)
    return bin_folder, marker


def lay_out_source(path, source):
    if isinstance(source, Sparse):
        with open(path, "wb") as f:
            f.truncate(source.size)
    else:
        with open(path, "wb") as f:
            f.write(source)


def fingerprint(path):
    """What must not change about the source: its bytes (by digest), size
    and modification time."""
    info = os.stat(path)
    digest = hashlib.sha256()
    if info.st_blocks * 512 >= info.st_size // 2:  # a sparse file is checked by its metadata
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
    return (info.st_size, info.st_mtime_ns, digest.hexdigest())


def start_settings(case):
    """Closes standard streams and sets limits in the child, before it runs
    the program."""
    def settings():
        if case.stdin == "closed":
            os.close(0)
        if case.stdout == "closed":
            os.close(1)
        if case.file_size_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (case.file_size_limit, case.file_size_limit))
        if case.address_space_limit is not None:
            resource.setrlimit(resource.RLIMIT_AS, (case.address_space_limit, case.address_space_limit))
    return settings


def run_case(ctx, case):
    why = ctx.why_not(case)
    if why:
        ctx.skip(case.name, why)
        return
    folder = tempfile.mkdtemp(prefix="faults-")
    problems = []
    try:
        bin_folder, marker = stand_in_programmer(folder)
        source = os.path.join(folder, SOURCE[case.program])
        output = case.output or OUTPUT[case.program]
        if case.source is not None:
            lay_out_source(source, case.source)
            before = fingerprint(source)
        if case.existing is not None:
            with open(os.path.join(folder, output), "wb") as f:
                f.write(case.existing)
        args = case.args if case.args is not None else [SOURCE[case.program], output, "-p", PARAMETERS]

        env = dict(os.environ, PATH=bin_folder + os.pathsep + os.environ.get("PATH", ""))
        if case.shim:
            env["LD_PRELOAD"] = ctx.shim
            env.update(case.shim)
        stdin = subprocess.PIPE
        if case.stdin == "directory":
            stdin = os.open("/", os.O_RDONLY)
        elif case.stdin == "closed":
            stdin = None
        stdout = subprocess.PIPE
        if case.stdout == "gone":
            reader, stdout = os.pipe()
            os.close(reader)  # gone before the program writes: no race
        elif case.stdout == "closed":
            stdout = None
        elif case.stdout == "full":
            stdout = os.open("/dev/full", os.O_WRONLY)
        process = subprocess.Popen(ctx.runner + [ctx.programs[case.program]] + args, cwd=folder,
                                   env=env, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                                   preexec_fn=start_settings(case))
        for fd in (stdin, stdout):
            if isinstance(fd, int) and fd >= 0:
                os.close(fd)
        try:
            console, errors = process.communicate(case.stdin if isinstance(case.stdin, bytes) else None,
                                                  timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            problems.append(f"no end within {TIMEOUT} s")
            return
        status = process.returncode
        console = mask_address(console or b"")

        if status < 0:
            problems.append(f"ended by signal {-status}")
        elif status != case.status:
            problems.append(f"exit status {status}, expected {case.status}")
        if errors:
            problems.append(f"wrote to standard error: {errors[:300]!r}")
        if case.console is not None and console != case.console:
            problems.append(difference("stdout", console, case.console))
        if case.source is not None and fingerprint(source) != before:
            problems.append("the source changed")
        if os.path.exists(marker) != case.called:
            problems.append("the programmer was started" if not case.called else
                            "the programmer was not started")
        if not os.path.isabs(output):
            problems += check_output(os.path.join(folder, output), case)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
        ctx.report(case.name, problems)


def check_output(path, case):
    # The new file an output is written into before it takes the output's
    # name must be gone, whatever the end of the run.
    folder, name = os.path.split(path)
    left = [f for f in os.listdir(folder) if f.startswith("." + name + ".")]
    if left:
        return [f"a new file was left behind: {left}"]
    if case.written is None:
        return []
    if case.written is ABSENT:
        return ["an output was created, but must not be"] if os.path.lexists(path) else []
    if not os.path.isfile(path):
        return ["the output file is missing"]
    with open(path, "rb") as f:
        got = f.read()
    if got != case.written:
        return [difference("output", got, case.written)]
    return []


def difference(what, got, expected):
    at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
    start = max(0, at - 40)
    return (f"{what} differs at byte {at} (got {len(got)} bytes, expected {len(expected)}):\n"
            f"    got      {got[start:at + 40]!r}\n    expected {expected[start:at + 40]!r}")


# ---- Write failures ----

def write_cases():
    cases = []
    for program in ("rakemo", "lusivo"):
        large, large_out, _, _ = image(program, LARGE)
        small, small_out, small_bytes, small_ranges = image(program, SMALL)
        out = OUTPUT[program]
        cases += [
            # A line write: the output buffer is passed on while the
            # conversion runs, and the size limit stops it part way.
            Case(f"{program}: file size limit at a line write", program, large,
                 file_size_limit=30000, console=failed(program, out, "EInOutError", "E/A-Fehler 223"),
                 written=ABSENT),
            Case(f"{program}: file size limit at a line write, an existing output stays", program, large,
                 file_size_limit=30000, console=failed(program, out, "EInOutError", "E/A-Fehler 223"),
                 existing=b"older output\r\n", written=b"older output\r\n"),
            # The final flush: everything sits in the buffer until the output
            # is closed, after the statistic was written.
            Case(f"{program}: file size limit at the final flush", program, small,
                 file_size_limit=1000,
                 console=(screens.completed(program, SOURCE[program], out, small_bytes, small_ranges) +
                          screens.fatal_report(program, "EInOutError", "E/A-Fehler 223")),
                 written=ABSENT),
            Case(f"{program}: nothing may be written at all", program, small, file_size_limit=0, runner=False,
                 console=(screens.completed(program, SOURCE[program], out, small_bytes, small_ranges) +
                          screens.fatal_report(program, "EInOutError", "E/A-Fehler 223")),
                 written=ABSENT),
            # A character device is passed on at every line end: the first
            # line fails.
            Case(f"{program}: output on /dev/full", program, small, output="/dev/full",
                 console=failed(program, "/dev/full", "EInOutError", "E/A-Fehler 112")),
            # Interrupted calls and short writes are completed, not failures.
            Case(f"{program}: every call interrupted once, a few bytes at a time", program, large,
                 shim={"FAULT_SHORT_IO": "1"}, status=0, called=True,
                 console=completed(program, out, 16 * LARGE, 1), written=large_out),
        ]
    return cases


# ---- Read failures ----

def read_cases():
    cases = []
    for program in ("rakemo", "lusivo"):
        large, large_out, _, _ = image(program, LARGE)
        out = OUTPUT[program]
        cases += [
            # The first block of the source is read, the second read fails.
            Case(f"{program}: read failure in the middle of the source", program, large,
                 shim={"FAULT_READ_FAILS_AT": "2"},
                 console=failed(program, out, "EInOutError", "E/A-Fehler 1117"), written=ABSENT),
            # A file that opens but cannot be read: the program's own memory
            # from address 0, which is not mapped.
            Case(f"{program}: a source that opens but cannot be read", program,
                 args=["/proc/self/mem", out, "-p", PARAMETERS],
                 console=(screens.files_opened(program, "/proc/self/mem", out) +
                          screens.fatal_report(program, "EInOutError", "E/A-Fehler 1117")),
                 written=ABSENT),
        ]
    return cases


# ---- Standard streams ----

def stream_cases():
    cases = []
    for program in ("rakemo", "lusivo"):
        small, small_out, _, _ = image(program, SMALL)
        for stdout in ("closed", "gone"):
            what = "closed" if stdout == "closed" else "a pipe whose reader is gone"
            cases += [
                # The console fails only after the output took its name: the
                # output is the complete one, though the status is 1.
                Case(f"{program}: standard output {what}, conversion", program, small, stdout=stdout,
                     written=small_out, runner=stdout != "closed"),
                Case(f"{program}: standard output {what}, help", program, args=["-h"], stdout=stdout,
                     runner=stdout != "closed"),
            ]
        # A console that takes nothing: the banner fails, before any file is
        # opened, so an existing output keeps what it holds.
        cases.append(Case(f"{program}: standard output on /dev/full", program, small, stdout="full",
                          existing=b"older output\r\n", written=b"older output\r\n"))
        # Standard input is read only by rakemo's help pause.
        cases.append(Case(f"{program}: standard input closed during a conversion", program, small,
                          stdin="closed", status=0, called=True,
                          console=completed(program, OUTPUT[program], 16 * SMALL, 1), written=small_out))
    pause = screens.banner("rakemo") + screens.rakemo_help_first_page()
    cases += [
        Case("rakemo: standard input closed at the help pause", "rakemo", args=["-h"], stdin="closed",
             console=pause + screens.fatal_report("rakemo", "EInOutError", "E/A-Fehler 6")),
        Case("rakemo: standard input a folder at the help pause", "rakemo", args=["-h"], stdin="directory",
             console=pause + screens.fatal_report("rakemo", "EInOutError", "Dateizugriff verweigert")),
        Case("rakemo: standard input at its end at the help pause", "rakemo", args=["-h"], stdin=b"",
             status=0, console=screens.help_screen("rakemo")),
        Case("lusivo: help with standard input closed", "lusivo", args=["-h"], stdin="closed",
             status=0, console=screens.help_screen("lusivo")),
    ]
    return cases


# ---- Memory ----

FINE_SPAN = 256 << 10  # the limits above the smallest that runs, tried page by page


def limit_sweep(ctx):
    """Each program on its example image and on a 40 MB line, from the
    smallest address space it starts in (found by bisection) page by page
    over the next 256 KiB: the whole of the range where memory runs out in
    one step after another."""
    name = "address space limits from the smallest that runs"
    if not limits.have_prlimit():
        ctx.skip(name, "prlimit is not installed (Debian package util-linux)")
        return
    if ctx.runner or ctx.sanitized:
        ctx.skip(name, "an address space limit leaves no room for the runner or the sanitizers")
        return
    folder = tempfile.mkdtemp(prefix="faults-")
    try:
        for program, source in limits.inputs(folder):
            sweep = limits.Sweep(ctx.programs[program], program, source, folder)
            start = sweep.lowest_start()
            if start is not None:
                for limit in range(start, start + FINE_SPAN + 1, limits.PAGE):
                    sweep.status(limit)
            ctx.report(f"{sweep.name()}: {name} ({start and start // 1024} KiB), statuses {sweep.counts()}",
                       sweep.problems)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def memory_cases():
    # Neither program holds a whole line: under an address space far
    # smaller than the line, one of a GiB (NUL bytes, so it takes no disk
    # room) is a record rakemo reads the first characters of, and a data
    # line of pieces converts. A data line without blanks leaves the data
    # text past twice its count for its last record, whose count is known
    # only at the line's end: up to 16 MiB of it is held, one more fails.
    excess = 16 << 20
    pieces = (40_000_000 + 1) // 3
    return [limit_sweep] + [
        Case("rakemo: a line far longer than the memory", "rakemo", Sparse(1 << 30),
             address_space_limit=64 << 20, status=0, called=True,
             console=completed("rakemo", OUTPUT["rakemo"], 0, 0), written=b"q\r\n"),
        Case("lusivo: a data line of 40 MB in an address space of 24 MiB", "lusivo",
             b"00 " * (pieces - 1) + b"00\r\n", address_space_limit=24 << 20, status=0, called=True,
             console=completed("lusivo", OUTPUT["lusivo"], pieces, 0), written=hundred_mb_records(pieces),
             big=True),
        Case("lusivo: a line of NUL bytes far longer than the memory fails at the held excess", "lusivo",
             Sparse(1 << 30), address_space_limit=256 << 20,
             console=failed("lusivo", OUTPUT["lusivo"], "EOutOfMemory", "Zu wenig Arbeitsspeicher"),
             written=ABSENT),
        Case("lusivo: a line without blanks of 16 MiB excess converts", "lusivo",
             b"0" * (3 * excess) + b"\r\n", status=0, called=True,
             console=completed("lusivo", OUTPUT["lusivo"], excess, 0),
             written=hundred_mb_records(excess, 3 * excess), big=True),
        Case("lusivo: a line without blanks of 16 MiB + 1 excess fails", "lusivo",
             b"0" * (3 * excess + 1) + b"\r\n",
             console=failed("lusivo", OUTPUT["lusivo"], "EOutOfMemory", "Zu wenig Arbeitsspeicher"),
             written=ABSENT, big=True),
    ]


# ---- Bad input ----

def not_an_integer(character):
    """The message of EConvertError, in Windows-1252; character is a byte."""
    return b"'" + character + b"' ist kein g\xfcltiger Integerwert"


def bad_input(name, program, source, status, stats=None, written=None, report=None, big=False):
    """A row of the survey: a completed run (status 0) with its statistic and
    exact output, or a fatal report (status 1) after which there is no
    output."""
    out = OUTPUT[program]
    if status == 0:
        return Case(f"{program}: {name}", program, source, status=0, called=True, big=big,
                    console=completed(program, out, *stats), written=written)
    kind, message = report
    return Case(f"{program}: {name}", program, source, big=big,
                console=screens.files_opened(program, SOURCE[program], out) + fatal_report(program, kind, message),
                written=ABSENT)


def fatal_report(program, kind, message):
    """The report with its address masked; the message as bytes, since it
    names any byte."""
    return (b"Exception " + kind + b" in Modul " + program.encode() + b" bei " + screens.MASKED_ADDRESS +
            b".\n" + message + b"." + screens.CRLF)


ALL_BYTES = bytes(range(256))
HUNDRED_MB = 100_000_000


def survey_cases():
    convert = b"EConvertError"
    rows = [
        # What the reading still refuses: an invalid character in the
        # address field (the last one is named) or in the byte count field.
        bad_input("letter in the address field", "rakemo", b":10C0G000000102030405060708090A0B0C0D0E0FB8\r\n",
                  1, report=(convert, not_an_integer(b"G"))),
        bad_input("blank inside the address field", "rakemo", b":10C 00000000102\r\n",
                  1, report=(convert, not_an_integer(b" "))),
        bad_input("letter in the byte count, after its address line", "rakemo",
                  b":1XC00000000102\r\n", 1, report=(convert, not_an_integer(b"X"))),
        bad_input("extended linear address record without its field", "rakemo", b":02000004 \r\n",
                  1, report=(convert, not_an_integer(b""))),
        bad_input("extended segment address record with a letter", "rakemo", b":0200000210G0FF\r\n",
                  1, report=(convert, not_an_integer(b"G"))),
        # What the lenient reading takes: any start code, wrong checksum,
        # characters that are no digits in the data.
        bad_input("odd start code, wrong checksum, letters as data", "rakemo",
                  b"X04C00000112233ZZ00\r\n:00000001FF\r\n", 0, (4, 1), b"@C000\r\n11 22 33 ZZ\r\nq\r\n"),
        # Every byte value in order: the lines end at LF (0x0A) and CR
        # (0x0D), the input at Ctrl-Z (0x1A). The first line's fields are
        # blank (-1, the address expected at the start); the third's address
        # is blank too but no longer expected, so its four bytes become an
        # address line as they stand.
        bad_input("binary garbage: every byte value in order", "rakemo", ALL_BYTES, 0, (0, 1),
                  b"@\x11\x12\x13\x14\r\nq\r\n"),
        bad_input("a line of NUL bytes", "rakemo", b"\0" * 12 + b"\r\n", 0, (0, 0), b"q\r\n"),
        bad_input("NUL bytes as data", "rakemo", b":02C00000\0\0\0\0FF\r\n", 0, (2, 1),
                  b"@C000\r\n\0\0 \0\0\r\nq\r\n"),
        bad_input("NUL byte inside the address field", "rakemo", b":10C\x0000000102\r\n",
                  1, report=(convert, not_an_integer(b"\0"))),
        bad_input("bytes 0x80 to 0xFF as data", "rakemo", b":02C00000\x80\x81\xfe\xff00\r\n", 0, (2, 1),
                  b"@C000\r\n\x80\x81 \xfe\xff\r\nq\r\n"),
        bad_input("a line of the bytes 0x80 to 0xFF", "rakemo", bytes(range(0x80, 0x100)),
                  1, report=(convert, not_an_integer(b"\x86"))),
        bad_input("a file of only CR bytes", "rakemo", b"\r" * 1000, 0, (0, 0), b"q\r\n"),
        bad_input("a million empty lines", "rakemo", b"\r\n" * 1_000_000, 0, (0, 0), b"q\r\n"),
        bad_input("a line of 100 MB", "rakemo", b":FF000000" + b"0" * (HUNDRED_MB - 9) + b"\r\n",
                  0, (255, 1), b"@0000\r\n" + (b" ".join([b"00"] * 16) + b"\r\n") * 15 +
                  b" ".join([b"00"] * 15) + b"\r\nq\r\n", big=True),

        # lusivo refuses characters that are no digits where it reads them:
        # in the address field and in every pair the checksum reads.
        bad_input('"@" alone', "lusivo", b"@\r\n12\r\n", 1, report=(convert, not_an_integer(b""))),
        bad_input("letter after the address", "lusivo", b"@C000x\r\n", 1, report=(convert, not_an_integer(b"x"))),
        bad_input("blank inside the address field", "lusivo", b"@C0 00\r\n",
                  1, report=(convert, not_an_integer(b" "))),
        bad_input("letter in the data", "lusivo", b"@C000\r\n0g 0b\r\nq\r\n", 1,
                  report=(convert, not_an_integer(b"g"))),
        bad_input("address line that begins with a blank", "lusivo", b" @C000\r\n",
                  1, report=(convert, not_an_integer(b"@"))),
        bad_input("a lone letter as data", "lusivo", b"@C000\r\nQ\r\nq\r\n", 0, (0, 1),
                  b":00C00000Q40\r\n:00000001FF\r\n"),
        # The same garbage as above: three data lines whose pairs of
        # control bytes are blank fields of value -1; no end line.
        bad_input("binary garbage: every byte value in order", "lusivo", ALL_BYTES, 0, (8, 0),
                  b":03000000" + bytes(range(0, 10)) + b"02\r\n" +
                  b":01000300\x0b\x0cFD\r\n" +
                  b":04000400" + bytes(range(0x0e, 0x1a)) + b"FE\r\n" +
                  b":00000001FF\r\n"),
        bad_input("a line of NUL bytes", "lusivo", b"\0\0\r\n", 0, (1, 0), b":01000000\0\x0000\r\n:00000001FF\r\n"),
        bad_input("NUL byte inside the address field", "lusivo", b"@C0\x000\r\n",
                  1, report=(convert, not_an_integer(b"\0"))),
        bad_input("a line of the bytes 0x80 to 0xFF", "lusivo", bytes(range(0x80, 0x100)) + b"\r\n",
                  1, report=(convert, not_an_integer(b"\x81"))),
        bad_input("a file of only CR bytes", "lusivo", b"\r" * 1000, 0, (0, 0), b":00000001FF\r\n"),
        bad_input("a million empty lines", "lusivo", b"\r\n" * 1_000_000, 0, (0, 0), b":00000001FF\r\n"),
    ]
    # A data line of 100 MB: 33333334 bytes from address 0, in records of
    # 255 bytes split at every 64 KiB boundary, each boundary announced.
    count = (HUNDRED_MB + 1 + 1) // 3
    rows.append(bad_input("a line of 100 MB", "lusivo", b"00 " * (count - 1) + b"00\r\n", 0, (count, 0),
                          hundred_mb_records(count), big=True))
    return rows


def hundred_mb_records(count, digits=None):
    """The records of a data line of count zero bytes from address 0: of
    255 bytes, split at every 64 KiB boundary, each boundary announced.
    With digits, the line's data text holds that many zeros, and the last
    record takes all those the others leave."""
    lines = []
    address = 0
    while address < count:
        if address % 0x10000 == 0 and address > 0:
            lines.append(intel_hex_record(0, [address >> 24, (address >> 16) & 0xFF], 4))
        k = min(count - address, 255, 0x10000 - address % 0x10000)
        if digits is not None and address + k == count:
            fields = [k, (address >> 8) & 0xFF, address & 0xFF, 0]
            rest = digits - 2 * address
            lines.append(":" + bytes(fields).hex().upper() + "0" * rest + "%02X" % checksum(fields))
        else:
            lines.append(intel_hex_record(address & 0xFFFF, [0] * k))
        address += k
    return ("\r\n".join(lines + [":00000001FF"]) + "\r\n").encode()


GROUPS = {
    "write": write_cases,
    "read": read_cases,
    "streams": stream_cases,
    "memory": memory_cases,
    "survey": survey_cases,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rakemo", required=True)
    parser.add_argument("--lusivo", required=True)
    parser.add_argument("--shim", default="")
    parser.add_argument("--runner", default="", help='prefix for each run, e.g. "valgrind -q"')
    parser.add_argument("--sanitized", action="store_true")
    parser.add_argument("group", nargs="+", choices=sorted(GROUPS))
    options = parser.parse_args()
    ctx = Context(options)
    for name in options.group:
        for case in GROUPS[name]():
            if isinstance(case, Case):
                run_case(ctx, case)
            else:
                case(ctx)  # a case that runs and reports itself
    print(f"{ctx.passed} passed, {ctx.failed} failed, {ctx.skipped} skipped")
    if ctx.failed:
        return 1
    return SKIPPED if ctx.passed == 0 and ctx.skipped else 0


if __name__ == "__main__":
    sys.exit(main())
