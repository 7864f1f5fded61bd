#!/usr/bin/env python3
"""End-to-end driver for rakemo and lusivo.

Runs the real executables in a fresh folder per case and compares stdout
bytes, exit status and the bytes of every file in the folder afterwards.
The cases are tables in cases.py; the image checks against srecord and the
round trip are in images.py.

    e2e.py --rakemo PATH --lusivo PATH [--runner "wine64"] [--platform windows]
           [--corpus DIR] [--peer DIR] GROUP...

Groups: rakemo, lusivo, failures, terminal, corpus, srec, roundtrip. Exit status 0
when every case passed, 1 when one failed, 77 when nothing could be run
(a tool or the corpus is missing). The corpus group also takes the images
of other projects in --peer.
"""

import argparse
import dataclasses
import os
import re
import select
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the source tree clean

import screens  # noqa: E402

SKIPPED = 77
TIMEOUT = 60  # seconds for one run; a hang fails the case
PAUSE_TIMEOUT = 10  # seconds for the first help page to show on a terminal


# ---- What a case lays out before the run ----

@dataclasses.dataclass(frozen=True)
class Folder:
    pass


@dataclasses.dataclass(frozen=True)
class Symlink:
    target: str


@dataclasses.dataclass(frozen=True)
class HardLink:
    target: str


@dataclasses.dataclass(frozen=True)
class FifoIn:
    """A FIFO that a helper thread feeds with these bytes, then closes."""
    data: bytes


@dataclasses.dataclass(frozen=True)
class FifoOut:
    """A FIFO that a helper thread drains; its bytes are the file's output."""


# ---- What a case expects of a file after the run ----

ABSENT = None  # the file must not exist after the run


@dataclasses.dataclass
class Case:
    name: str
    program: str           # "rakemo" or "lusivo"
    args: list
    stdout: bytes
    status: int
    files: dict = dataclasses.field(default_factory=dict)    # laid out before the run
    outputs: dict = dataclasses.field(default_factory=dict)  # expected afterwards
    stdin: bytes = b""
    posix_only: bool = False  # symbolic links, /dev/full, FIFOs
    terminal: bool = False    # stdout is a terminal (posix only)
    pause: bytes = None       # on a terminal, stdout up to rakemo's help pause: wait there, then send stdin
    closed: tuple = ()        # standard streams (0, 1) closed when the program starts
    env: dict = None          # variables for the run, in place of the caller's locale


class Context:
    def __init__(self, options):
        self.programs = {"rakemo": os.path.abspath(options.rakemo),
                         "lusivo": os.path.abspath(options.lusivo)}
        self.runner = shlex.split(options.runner) if options.runner else []
        self.windows = options.platform == "windows"
        self.corpus = options.corpus
        self.peer = options.peer
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def module(self, program):
        return program + ".exe" if self.windows else program

    def fatal(self, program, kind, message):
        return screens.fatal_report(self.module(program), kind, message)

    def command(self, program, args):
        return self.runner + [self.programs[program]] + list(args)

    def ok(self, name):
        self.passed += 1
        print(f"ok      {name}")

    def fail(self, name, why):
        self.failed += 1
        print(f"FAIL    {name}: {why}")

    def skip(self, name, why):
        self.skipped += 1
        print(f"skip    {name}: {why}")


# ---- Running a program ----

def mask_fatal_address(stdout):
    return re.sub(rb"(Exception [^\r\n]* bei )[0-9A-F]{8}(\.\n)",
                  rb"\1" + screens.MASKED_ADDRESS + rb"\2", stdout)


def environment(case):
    """The caller's environment with the case's variables in place of the
    caller's locale, or None (inherited) when the case names none."""
    if case.env is None:
        return None
    env = {name: value for name, value in os.environ.items()
           if name not in ("LANG", "LANGUAGE") and not name.startswith("LC_")}
    env.update(case.env)
    return env


def run(ctx, program, args, cwd, stdin=b"", closed=(), env=None):
    """Runs a program to its end; gives (stdout, status)."""
    def close_streams():
        for stream in closed:
            os.close(stream)
    done = subprocess.run(ctx.command(program, args), cwd=cwd, input=stdin,
                          stdout=subprocess.PIPE, timeout=TIMEOUT, env=env,
                          preexec_fn=close_streams if closed else None)
    return mask_fatal_address(done.stdout), done.returncode


def run_on_terminal(ctx, case, cwd):
    """Runs a program with stdout on a terminal (a character device, so each
    line is passed on at its end) and standard input a pipe; gives (stdout,
    status, waiting). With a pause, standard input is held open until the
    first page was shown: the program must wait there until a line arrives,
    and waiting tells whether it did."""
    import pty
    import tty
    master, slave = pty.openpty()
    tty.setraw(slave)  # no CR LF translation on the terminal
    process = subprocess.Popen(ctx.command(case.program, case.args), cwd=cwd,
                               stdin=subprocess.PIPE, stdout=slave, env=environment(case))
    os.close(slave)

    def read(seconds):
        """What the program shows within that time; b"" when nothing came
        or the program has ended."""
        ready, _, _ = select.select([master], [], [], seconds)
        if not ready:
            return b""
        try:
            return os.read(master, 4096)
        except OSError:  # the terminal is gone once the program ended
            return b""

    shown = b""
    waiting = True
    try:
        deadline = time.monotonic() + PAUSE_TIMEOUT
        while case.pause is not None and not shown.endswith(case.pause) and time.monotonic() < deadline:
            chunk = read(deadline - time.monotonic())
            if not chunk:
                break
            shown += chunk
        if case.pause is not None:
            waiting = shown == case.pause and not read(0.5) and process.poll() is None
        try:
            process.stdin.write(case.stdin)
            process.stdin.close()
        except BrokenPipeError:  # the program did not wait
            pass
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            chunk = read(deadline - time.monotonic())
            if not chunk:
                break
            shown += chunk
        status = process.wait(timeout=TIMEOUT)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        os.close(master)
    return mask_fatal_address(shown), status, waiting


# ---- Laying out and checking the folder of a case ----

def lay_out(folder, files):
    threads = []
    for name, content in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, Folder):
            os.makedirs(path, exist_ok=True)
        elif isinstance(content, bytes):
            with open(path, "wb") as f:
                f.write(content)
    for name, content in files.items():
        path = os.path.join(folder, name)
        if isinstance(content, Symlink):
            os.symlink(content.target, path)
        elif isinstance(content, HardLink):
            os.link(os.path.join(folder, content.target), path)
        elif isinstance(content, (FifoIn, FifoOut)):
            os.mkfifo(path)
            threads.append(FifoThread(path, content))
    for thread in threads:
        thread.start()
    return threads


class FifoThread(threading.Thread):
    def __init__(self, path, content):
        super().__init__(daemon=True)
        self.path = path
        self.content = content
        self.received = b""

    def run(self):
        if isinstance(self.content, FifoIn):
            with open(self.path, "wb") as f:
                f.write(self.content.data)
        else:
            with open(self.path, "rb") as f:
                self.received = f.read()

    def finish(self):
        # A FIFO that the program never opened: open its other end, so the
        # helper thread is released.
        if self.is_alive():
            try:
                other = os.O_RDONLY if isinstance(self.content, FifoIn) else os.O_WRONLY
                os.close(os.open(self.path, other | os.O_NONBLOCK))
            except OSError:
                pass
        self.join(5)


def folder_contents(folder):
    found = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(root, name)
            found[os.path.relpath(path, folder)] = path
    return found


def first_difference(actual, expected):
    for i, (a, b) in enumerate(zip(actual, expected)):
        if a != b:
            return i
    return min(len(actual), len(expected))


def hex_dump(data, start, width=16):
    rows = []
    for offset in range(start - start % width, min(len(data), start + 4 * width), width):
        chunk = data[offset:offset + width]
        text = "".join(chr(c) if 32 <= c < 127 else "." for c in chunk)
        rows.append(f"      {offset:08x}  {chunk.hex(' '):<{3 * width}} {text}")
    return "\n".join(rows) or "      (nothing)"


def describe(what, actual, expected):
    at = first_difference(actual, expected)
    return (f"{what} differs at byte {at} (got {len(actual)} bytes, expected {len(expected)})\n"
            f"    got:\n{hex_dump(actual, max(0, at - 16))}\n"
            f"    expected:\n{hex_dump(expected, max(0, at - 16))}")


def check_folder(folder, case, threads):
    """Every file of the case is as expected; a file the case did not name
    must not be there."""
    problems = []
    received = {t.path: t.received for t in threads if isinstance(t.content, FifoOut)}
    expected = {}
    for name, content in case.files.items():
        if isinstance(content, bytes):
            expected[name] = content  # unchanged unless the case says otherwise
        elif isinstance(content, (Symlink, HardLink)):
            expected[name] = case.files[content.target]
        elif isinstance(content, (Folder, FifoIn)):
            expected[name] = content
    expected.update(case.outputs)
    present = folder_contents(folder)
    for name, want in expected.items():
        path = os.path.join(folder, name)
        if path in received:
            if received[path] != want:
                problems.append(describe(f"what reached FIFO {name}", received[path], want))
            continue
        if want is ABSENT:
            if os.path.lexists(path):
                problems.append(f"{name} exists, but must not")
            continue
        if isinstance(want, Folder):
            if not os.path.isdir(path):
                problems.append(f"{name} is no longer a folder")
            continue
        if isinstance(want, FifoIn):
            if not stat.S_ISFIFO(os.lstat(path).st_mode):
                problems.append(f"{name} is no longer a FIFO")
            continue
        if not os.path.isfile(path):
            problems.append(f"{name} is missing")
            continue
        with open(path, "rb") as f:
            got = f.read()
        if got != want:
            problems.append(describe(name, got, want))
    for name in present:
        if name not in expected and not any(p.startswith(name + os.sep) for p in expected):
            problems.append(f"{name} was created, but must not be")
    return problems


def run_case(ctx, case):
    if (case.posix_only or case.terminal) and ctx.windows:
        ctx.skip(case.name, "POSIX only")
        return
    folder = tempfile.mkdtemp(prefix="e2e-")
    threads = []
    try:
        threads = lay_out(folder, case.files)
        problems = []
        if case.terminal:
            stdout, status, waiting = run_on_terminal(ctx, case, folder)
            if not waiting:
                problems.append("did not show the first page and wait at the pause with standard input open")
        else:
            stdout, status = run(ctx, case.program, case.args, folder, case.stdin, case.closed,
                                 environment(case))
        for thread in threads:
            thread.finish()
        if status != case.status:
            problems.append(f"exit status {status}, expected {case.status}")
        if stdout != case.stdout:
            problems.append(describe("stdout", stdout, case.stdout))
        problems += check_folder(folder, case, threads)
    except subprocess.TimeoutExpired:
        problems = [f"no end within {TIMEOUT} s"]
    finally:
        for thread in threads:
            thread.finish()
        shutil.rmtree(folder, ignore_errors=True)
    if problems:
        ctx.fail(case.name, "\n  ".join(problems))
    else:
        ctx.ok(case.name)


# ---- Groups ----

def table_group(build):
    def group(ctx):
        for case in build(ctx):
            run_case(ctx, case)
    return group


def groups():
    import cases
    import images
    return {
        "rakemo": table_group(cases.rakemo_cases),
        "lusivo": table_group(cases.lusivo_cases),
        "failures": table_group(cases.failure_cases),
        "terminal": table_group(cases.terminal_cases),
        "corpus": images.corpus_group,
        "srec": images.srec_group,
        "roundtrip": images.round_trip_group,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rakemo", required=True)
    parser.add_argument("--lusivo", required=True)
    parser.add_argument("--runner", default="", help='prefix for each run, e.g. "wine64"')
    parser.add_argument("--platform", choices=["posix", "windows"], default="posix")
    parser.add_argument("--corpus", default=os.path.join(HERE, "..", "..", "..", "shared", "corpus"))
    parser.add_argument("--peer", default=os.path.join(HERE, "..", "..", "..", "shared", "peer"))
    parser.add_argument("group", nargs="+", choices=sorted(groups()))
    options = parser.parse_args()
    ctx = Context(options)
    for name in options.group:
        groups()[name](ctx)
    print(f"{ctx.passed} passed, {ctx.failed} failed, {ctx.skipped} skipped")
    if ctx.failed:
        return 1
    return SKIPPED if ctx.passed == 0 and ctx.skipped else 0


if __name__ == "__main__":
    import e2e  # one copy of the classes for the driver and the case tables
    sys.exit(e2e.main())
