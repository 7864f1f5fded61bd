"""Runs of rakemo and lusivo under an address space limit (prlimit --as),
shared by the faults suite and the benchmark.

Whatever the limit, a run must end by itself: with the loader not fitting
(127, before the program runs), or as the same run without a limit ends,
or, where memory ran out, in a file step with that step's failure line
(status 2) or elsewhere with the fatal error report "Zu wenig
Arbeitsspeicher" behind the lines written until then (status 1). Never by
a signal, and never with a word on standard error. A run that completes
writes the same output as the run without a limit; one that does not
leaves no output, not even the new file written aside.
"""

import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import screens  # noqa: E402

EXAMPLES = os.path.join(HERE, "..", "..", "examples")
LOWEST = 1 << 20  # below where any build of the programs loads
HIGHEST = 24 << 20
PAGE = 4 << 10
LOADER_FAILED = 127
LINE_BYTES = 40_000_000


def have_prlimit():
    return shutil.which("prlimit") is not None


def long_titxt_line(folder):
    """A TI-TXT file of one data line of 40 MB: pieces "00" and blanks."""
    path = os.path.join(folder, "line-40MB.txt")
    if not os.path.exists(path):
        pieces = (LINE_BYTES + 1) // 3
        with open(path + ".part", "wb") as f:
            f.write(b"@0000\r\n")
            for _ in range(pieces // 1_000_000):
                f.write(b"00 " * 1_000_000)
            f.write(b"00 " * (pieces % 1_000_000 - 1) + b"00\r\nq\r\n")
        os.replace(path + ".part", path)
    return path


def inputs(folder):
    """(program, source) of every sweep: each program's example image and
    both programs on the 40 MB line."""
    line = long_titxt_line(folder)
    return [("rakemo", os.path.join(EXAMPLES, "blink.hex")), ("lusivo", os.path.join(EXAMPLES, "blink.txt")),
            ("rakemo", line), ("lusivo", line)]


class Sweep:
    """The runs of one program on one source, each judged against the run
    without a limit."""

    def __init__(self, program_path, program, source, folder):
        self.path, self.program, self.source, self.folder = program_path, program, source, folder
        self.output = os.path.join(folder, "out-" + program)
        self.statuses = {}  # limit: status
        self.problems = []
        self.reference = self.run(None)

    def run(self, limit):
        """Status, console and standard error of one run, and the output it
        left (None for none)."""
        if os.path.exists(self.output):
            os.remove(self.output)
        command = [self.path, self.source, self.output]
        if limit is not None:
            command = ["prlimit", f"--as={limit}"] + command
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=300)
        stdout = re.sub(rb"( bei )[0-9A-F]{8}(\.\n)", rb"\1" + screens.MASKED_ADDRESS + rb"\2", done.stdout)
        written = None
        if os.path.exists(self.output):
            with open(self.output, "rb") as f:
                written = f.read()
        return done.returncode, stdout, done.stderr, written

    def left_aside(self):
        """Files the run left beside the output, written aside and never
        put in place."""
        stem = "." + os.path.basename(self.output) + "."
        return [name for name in os.listdir(self.folder) if name.startswith(stem)]

    def status(self, limit):
        """Runs under the limit, notes what is wrong with the run, and gives
        its status."""
        status, stdout, errors, written = self.run(limit)
        self.statuses[limit] = status
        why = self.judge(status, stdout, errors) or self.judge_output(status, written)
        if why:
            self.problems.append(f"{limit // 1024} KiB: {why}")
        return status

    def judge(self, status, stdout, errors):
        if status < 0:
            return f"ended by signal {-status}"
        if status == LOADER_FAILED:
            return None if stdout == b"" else f"status 127 after the program wrote {stdout[:200]!r}"
        if errors:
            return f"wrote to standard error: {errors[:200]!r}"
        if (status, stdout) == self.reference[:2]:
            return None
        if status == 1:
            report = screens.fatal_report(self.program, "EOutOfMemory", "Zu wenig Arbeitsspeicher")
            before = stdout[:-len(report)] if stdout.endswith(report) else None
            if before is not None and self.reference[1].startswith(before):
                return None
            return f"status 1 without the report of exhausted memory after its lines: {stdout[-300:]!r}"
        if status == 2:
            out = self.output
            if stdout in (screens.source_failed(self.program, self.source),
                          screens.output_failed(self.program, self.source, out)):
                return None
            return f"status 2 without a file step's failure line: {stdout[-300:]!r}"
        return f"status {status}"

    def judge_output(self, status, written):
        if self.left_aside():
            return f"status {status} left {self.left_aside()} behind"
        if status == self.reference[0] == 0:
            return None if written == self.reference[3] else "the output differs from the one without a limit"
        if written is not None:
            return f"status {status} left an output of {len(written)} bytes"
        return None

    def lowest_start(self):
        """The smallest limit, in pages, under which the program runs at all
        (a status other than 127), by bisection between LOWEST and HIGHEST."""
        low, high = LOWEST, HIGHEST
        if self.status(low) != LOADER_FAILED:
            return low
        if self.status(high) == LOADER_FAILED:
            self.problems.append(f"the loader does not fit even in {HIGHEST >> 20} MiB")
            return None
        while high - low > PAGE:
            middle = (low + high) // 2 // PAGE * PAGE
            if self.status(middle) == LOADER_FAILED:
                low = middle
            else:
                high = middle
        return high

    def counts(self):
        found = {}
        for status in self.statuses.values():
            found[status] = found.get(status, 0) + 1
        return dict(sorted(found.items()))

    def name(self):
        return f"{self.program} on {os.path.basename(self.source)}"
