#!/usr/bin/env python3
"""The output file of rakemo and lusivo through failures, interruptions,
links and concurrent runs.

A regular output is written into a new file beside it and takes the
output's name only when the conversion is complete; devices, pipes, files
with several names and files that cannot be replaced are written in place.
An output that is the program's own standard output or error is refused.

    output_test.py --rakemo PATH --lusivo PATH GROUP...

Groups: kept (what survives a completed run), refused (the console's own
files, descriptors running out), signals, concurrent, inplace. Exit status 0
when every case passed, 1 when one failed, 77 when nothing could be run.
"""

import argparse
import os
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import screens  # noqa: E402  the console texts, typed once for all drivers
from tally import Tally  # noqa: E402

SKIPPED = 77
TIMEOUT = 60

# A small image each way, its conversion written out from the formats.
HEX = screens.CRLF.join([b":04C000003140000437", b":00000001FF", b""])
TXT = screens.CRLF.join([b"@C000", b"31 40 00 04", b"q", b""])
OLD = b"the output of an earlier run\r\n"


def hex_image(value, rounds):
    """An Intel HEX image of 64 KiB from address 0, this many times over, in
    records of 16 bytes of this value; and its conversion."""
    records = []
    for address in range(0, 0x10000, 16):
        fields = [16, address >> 8, address & 0xFF, 0] + [value] * 16
        records.append(":" + "".join(f"{b:02X}" for b in fields) + f"{-sum(fields) & 0xFF:02X}\r\n")
    line = (" ".join([f"{value:02X}"] * 16) + "\r\n").encode()
    return ("".join(records) * rounds + ":00000001FF\r\n").encode(), (b"@0000\r\n" + line * 4096) * rounds + b"q\r\n"


class Context(Tally):
    def __init__(self, options):
        super().__init__()
        self.programs = {"rakemo": os.path.abspath(options.rakemo),
                         "lusivo": os.path.abspath(options.lusivo)}


def run(ctx, program, args, folder, **popen):
    popen.setdefault("stdout", subprocess.PIPE)
    popen.setdefault("stdin", subprocess.DEVNULL)
    done = subprocess.run([ctx.programs[program]] + args, cwd=folder, stderr=subprocess.PIPE,
                          timeout=TIMEOUT, **popen)
    return done


def write(path, data, mode=None):
    with open(path, "wb") as f:
        f.write(data)
    if mode is not None:
        os.chmod(path, mode)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def left_behind(folder, name):
    """New files of an output that did not take its name."""
    return [f for f in os.listdir(folder) if f.startswith("." + name + ".")]


def expect(problems, what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r}, expected {want!r}")


# ---- What a completed run keeps ----

def kept_cases(ctx):
    """Each case lays out a folder, converts HEX into out.txt and checks it."""
    def mode_kept(folder):
        write(os.path.join(folder, "out.txt"), OLD, 0o640)
        yield "out.txt"
        yield ["mode", stat.S_IMODE(os.stat(os.path.join(folder, "out.txt")).st_mode), 0o640]

    def owner_kept(folder):
        path = os.path.join(folder, "out.txt")
        write(path, OLD)
        os.chown(path, 4321, 4322)
        yield "out.txt"
        info = os.stat(path)
        yield ["owner and group", (info.st_uid, info.st_gid), (4321, 4322)]

    def new_output_takes_the_umask(folder):
        yield "out.txt"
        yield ["mode", stat.S_IMODE(os.stat(os.path.join(folder, "out.txt")).st_mode), 0o640]

    def link_stays_a_link(folder):
        write(os.path.join(folder, "target.txt"), OLD)
        os.symlink("target.txt", os.path.join(folder, "out.txt"))
        yield "out.txt"
        yield ["out.txt is a link", os.path.islink(os.path.join(folder, "out.txt")), True]
        yield ["the target", read(os.path.join(folder, "target.txt")), TXT]

    def hard_links_share_it(folder):
        write(os.path.join(folder, "out.txt"), OLD)
        os.link(os.path.join(folder, "out.txt"), os.path.join(folder, "other.txt"))
        yield "out.txt"
        yield ["the other name", read(os.path.join(folder, "other.txt")), TXT]
        yield ["link count", os.stat(os.path.join(folder, "out.txt")).st_nlink, 2]

    def dangling_link_target_created(folder):
        os.symlink("target.txt", os.path.join(folder, "out.txt"))
        yield "out.txt"
        yield ["the target", read(os.path.join(folder, "target.txt")), TXT]

    def output_in_another_folder(folder):
        os.mkdir(os.path.join(folder, "sub"))
        write(os.path.join(folder, "sub", "out.txt"), OLD)
        yield "sub/out.txt"
        yield ["sub holds", sorted(os.listdir(os.path.join(folder, "sub"))), ["out.txt"]]

    def long_name(folder):
        name = "n" * 251 + ".txt"  # the longest a file name can be
        write(os.path.join(folder, name), OLD)
        yield name

    cases = [("an existing output keeps its permission bits", mode_kept, 0o022),
             ("an existing output keeps its owner and group", owner_kept, 0o022),
             ("a new output gets what the umask leaves of 0666", new_output_takes_the_umask, 0o027),
             ("a symbolic link stays a link, its target gets the content", link_stays_a_link, 0o022),
             ("two hard links both show the new content", hard_links_share_it, 0o022),
             ("a dangling symbolic link: its target is created", dangling_link_target_created, 0o022),
             ("an output in another folder is written aside there", output_in_another_folder, 0o022),
             ("an output name of 255 bytes", long_name, 0o022)]
    for name, case, umask in cases:
        with tempfile.TemporaryDirectory(prefix="output-") as folder:
            write(os.path.join(folder, "a.hex"), HEX)
            steps = case(folder)
            output = next(steps)
            done = run(ctx, "rakemo", ["a.hex", output], folder, preexec_fn=lambda u=umask: os.umask(u))
            problems = []
            expect(problems, "exit status", done.returncode, 0)
            expect(problems, "stdout", done.stdout, screens.completed("rakemo", "a.hex", output, 4, 1))
            expect(problems, output, read(os.path.join(folder, output)), TXT)
            for what, got, want in steps:
                expect(problems, what, got, want)
            out_folder, out_name = os.path.split(os.path.join(folder, output))
            expect(problems, "new files left behind", left_behind(out_folder, out_name), [])
            ctx.report(name, problems)


# ---- Refused outputs ----

def refused_cases(ctx):
    """The output is the file standard output goes to: refused (status 2),
    nothing of the image in it."""
    def console_file(folder, output):
        path = os.path.join(folder, "console.txt")
        with open(path, "wb") as console:
            done = run(ctx, "rakemo", ["a.hex", output], folder, stdout=console)
        return done, read(path)

    def console_pipe(folder, output):
        # standard output is a FIFO that the test drains; by its name or as /dev/stdout
        path = os.path.join(folder, "console.fifo")
        os.mkfifo(path)
        received = []
        reader = threading.Thread(target=lambda: received.append(read(path)))
        reader.start()
        with open(path, "wb") as console:
            done = run(ctx, "rakemo", ["a.hex", output], folder, stdout=console)
        reader.join(TIMEOUT)
        return done, received[0] if received else b""

    def anonymous_pipe(folder, output):
        done = run(ctx, "rakemo", ["a.hex", output], folder)
        return done, done.stdout

    cases = [("output is the file standard output goes to, by its name", console_file, "console.txt"),
             ("output is the file standard output goes to, as /dev/stdout", console_file, "/dev/stdout"),
             ("output is the FIFO standard output goes to, by its name", console_pipe, "console.fifo"),
             ("output is the pipe standard output goes to, as /dev/stdout", anonymous_pipe, "/dev/stdout"),
             ("output is the pipe standard error goes to, as /dev/stderr", anonymous_pipe, "/dev/stderr")]
    for name, case, output in cases:
        with tempfile.TemporaryDirectory(prefix="output-") as folder:
            write(os.path.join(folder, "a.hex"), HEX)
            done, console = case(folder, output)
            problems = []
            expect(problems, "exit status", done.returncode, 2)
            expect(problems, "console", console, screens.output_failed("rakemo", "a.hex", output))
            if b"@C000" in console or b"@C000" in done.stderr:
                problems.append("image data reached the console")
            expect(problems, "folder", sorted(os.listdir(folder)),
                   sorted(["a.hex"] + [f for f in ("console.txt", "console.fifo") if f in os.listdir(folder)]))
            ctx.report(name, problems)

    # Devices stay allowed.
    with tempfile.TemporaryDirectory(prefix="output-") as folder:
        write(os.path.join(folder, "a.hex"), HEX)
        done = run(ctx, "lusivo", ["a.hex", "/dev/null"], folder)
        problems = []
        expect(problems, "exit status", done.returncode, 1)  # an Intel HEX source is no TI-TXT
        write(os.path.join(folder, "a.txt"), TXT)
        done = run(ctx, "lusivo", ["a.txt", "/dev/null"], folder)
        expect(problems, "exit status", done.returncode, 0)
        expect(problems, "stdout", done.stdout, screens.completed("lusivo", "a.txt", "/dev/null", 4, 1))
        ctx.report("/dev/null as the output is written", problems)

    # No descriptor left for the output, standard input closed: the step
    # fails and leaves no file.
    for program, source in (("rakemo", HEX), ("lusivo", TXT)):
        with tempfile.TemporaryDirectory(prefix="output-") as folder:
            write(os.path.join(folder, "a.src"), source)

            def few_descriptors():
                import resource
                resource.setrlimit(resource.RLIMIT_NOFILE, (4, 4))
                os.close(0)
            done = run(ctx, program, ["a.src", "new.out"], folder, stdin=None, preexec_fn=few_descriptors)
            problems = []
            expect(problems, "exit status", done.returncode, 2)
            expect(problems, "stdout", done.stdout, screens.output_failed(program, "a.src", "new.out"))
            expect(problems, "folder", sorted(os.listdir(folder)), ["a.src"])
            ctx.report(f"{program}: four descriptors, standard input closed: no file left", problems)


# ---- Interruptions ----

def new_file_appears(folder, name, process):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline and process.poll() is None:
        if left_behind(folder, name):
            return True
        time.sleep(0.01)
    return False


def signal_cases(ctx):
    """The source is a FIFO that the test holds open, so the run waits in
    the middle of its conversion; the signal comes once the new file
    exists."""
    for program, first, existing in (("rakemo", b":04C000003140000437\r\n", OLD),
                                     ("lusivo", b"@C000\r\n31 40 00 04\r\n", OLD),
                                     ("rakemo", b":04C000003140000437\r\n", None)):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            what = "an existing output stays" if existing else "no output is created"
            name = f"{program}: {sig.name} during a conversion: {what}"
            with tempfile.TemporaryDirectory(prefix="output-") as folder:
                fifo = os.path.join(folder, "a.src")
                os.mkfifo(fifo)
                if existing:
                    write(os.path.join(folder, "out"), existing)
                # Signals default in the child, whatever the test's own are.
                process = subprocess.Popen([ctx.programs[program], "a.src", "out"], cwd=folder,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                           restore_signals=True,
                                           preexec_fn=lambda: [signal.signal(s, signal.SIG_DFL) for s in
                                                               (signal.SIGINT, signal.SIGHUP)])
                problems = []
                with open(fifo, "wb") as feed:
                    feed.write(first)
                    feed.flush()
                    if not new_file_appears(folder, "out", process):
                        problems.append("no new file appeared")
                    process.send_signal(sig)
                    try:
                        process.wait(TIMEOUT)
                    except subprocess.TimeoutExpired:
                        process.kill()
                        problems.append("the signal did not end the run")
                expect(problems, "ended by", process.returncode, -sig)
                expect(problems, "folder", sorted(os.listdir(folder)), ["a.src"] + (["out"] if existing else []))
                if existing:
                    expect(problems, "the output", read(os.path.join(folder, "out")), existing)
                ctx.report(name, problems)

    # A signal ignored at start (nohup) stays ignored: the run completes.
    with tempfile.TemporaryDirectory(prefix="output-") as folder:
        fifo = os.path.join(folder, "a.hex")
        os.mkfifo(fifo)
        process = subprocess.Popen([ctx.programs["rakemo"], "a.hex", "out.txt"], cwd=folder,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        problems = []
        with open(fifo, "wb") as feed:
            feed.write(HEX[:21])
            feed.flush()
            if not new_file_appears(folder, "out.txt", process):
                problems.append("no new file appeared")
            process.send_signal(signal.SIGHUP)
            time.sleep(0.2)
            feed.write(HEX[21:])
        process.wait(TIMEOUT)
        expect(problems, "exit status", process.returncode, 0)
        expect(problems, "out.txt", read(os.path.join(folder, "out.txt")), TXT)
        expect(problems, "folder", sorted(os.listdir(folder)), ["a.hex", "out.txt"])
        ctx.report("rakemo: SIGHUP ignored at start stays ignored", problems)


# ---- Concurrent runs ----

def concurrent_cases(ctx):
    """Eight runs convert eight sources into one name at once: each
    completes, and the output is exactly one of the eight results."""
    with tempfile.TemporaryDirectory(prefix="output-") as folder:
        results = []
        for n in range(8):  # 0.9 to 4.6 MB each, so the runs overlap
            source, result = hex_image(0x11 * (n + 1), 5 + 3 * n)
            write(os.path.join(folder, f"s{n}.hex"), source)
            results.append(result)
        processes = [subprocess.Popen([ctx.programs["rakemo"], f"s{n}.hex", "same.txt"], cwd=folder,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) for n in range(8)]
        statuses = [p.wait(TIMEOUT) for p in processes]
        problems = []
        expect(problems, "exit statuses", statuses, [0] * 8)
        if read(os.path.join(folder, "same.txt")) not in results:
            problems.append("same.txt is none of the eight results")
        expect(problems, "new files left behind", left_behind(folder, "same.txt"), [])
        ctx.report("eight runs at once into one name", problems)


# ---- Written in place ----

def inplace_cases(ctx):
    # A file bound onto its place: it cannot be replaced, only written.
    with tempfile.TemporaryDirectory(prefix="output-") as folder:
        write(os.path.join(folder, "a.hex"), HEX)
        write(os.path.join(folder, "bound.txt"), OLD)
        write(os.path.join(folder, "out.txt"), OLD)
        script = f'mount --bind bound.txt out.txt && exec {ctx.programs["rakemo"]} a.hex out.txt'
        done = subprocess.run(["unshare", "-m", "sh", "-c", script], cwd=folder, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=TIMEOUT)
        if b"mount" in done.stderr or b"unshare" in done.stderr:
            ctx.skip("a bind-mounted output is written in place", "cannot bind-mount here")
        else:
            problems = []
            expect(problems, "exit status", done.returncode, 0)
            expect(problems, "the bound file", read(os.path.join(folder, "bound.txt")), TXT)
            expect(problems, "new files left behind", left_behind(folder, "out.txt"), [])
            ctx.report("a bind-mounted output is written in place", problems)

    # A folder that takes no new file while its file may be written (an
    # immutable folder: the one refusal that binds root too).
    with tempfile.TemporaryDirectory(prefix="output-") as folder:
        write(os.path.join(folder, "a.hex"), HEX)
        locked = os.path.join(folder, "locked")
        os.mkdir(locked)
        write(os.path.join(locked, "out.txt"), OLD)
        if subprocess.run(["chattr", "+i", locked], stderr=subprocess.DEVNULL).returncode != 0:
            ctx.skip("a folder that takes no new file", "chattr +i is not available here")
            return
        try:
            done = run(ctx, "rakemo", ["a.hex", "locked/out.txt"], folder)
            problems = []
            expect(problems, "exit status", done.returncode, 0)
            expect(problems, "locked/out.txt", read(os.path.join(locked, "out.txt")), TXT)
            done = run(ctx, "rakemo", ["a.hex", "locked/new.txt"], folder)
            expect(problems, "a new output there: exit status", done.returncode, 2)
            expect(problems, "locked holds", sorted(os.listdir(locked)), ["out.txt"])
        finally:
            subprocess.run(["chattr", "-i", locked])
        ctx.report("a folder that takes no new file: its file is written in place", problems)


GROUPS = {
    "kept": kept_cases,
    "refused": refused_cases,
    "signals": signal_cases,
    "concurrent": concurrent_cases,
    "inplace": inplace_cases,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rakemo", required=True)
    parser.add_argument("--lusivo", required=True)
    parser.add_argument("group", nargs="+", choices=sorted(GROUPS))
    options = parser.parse_args()
    if sys.platform == "win32":
        print("these cases need a POSIX system")
        return SKIPPED
    ctx = Context(options)
    for group in options.group:
        GROUPS[group](ctx)
    print(f"{ctx.passed} passed, {ctx.failed} failed, {ctx.skipped} skipped")
    if ctx.failed:
        return 1
    return SKIPPED if ctx.passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
