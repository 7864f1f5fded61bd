#!/usr/bin/env python3
"""The cases only the Windows executables have, run under wine.

Each case gives the program its command line as one text, byte for byte
(through launch.exe, since wine would build it from Unix arguments with
its own quoting), in a fresh folder, and compares stdout bytes, exit
status, the files of the folder afterwards and, for the hand-off, the
command line that a stand-in programmer recorded.

    wine_cases.py --runner PREFIX --rakemo EXE --lusivo EXE --launch EXE
                  --bsldemo EXE --platform-check EXE GROUP...

Groups: command_line, share_modes, handoff, platform.
"""

import argparse
import dataclasses
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import screens as s  # noqa: E402
from tally import Tally  # noqa: E402

TIMEOUT = 60          # seconds for one run
RECORD_TIMEOUT = 20   # seconds for the stand-in programmer to leave its record
RECORD = "bsldemo-command-line.txt"
ENDED = "bsldemo-ended.txt"
ANY = object()        # a file whose contents the case does not fix
FOLDER = object()     # a folder


def crlf(*lines):
    return b"".join(line.encode("latin-1") + b"\r\n" for line in lines)


# A source of each program and what it converts into, with the statistic.
HEX_SOURCE = crlf(
    ":10C00000000102030405060708090A0B0C0D0E0FB8",
    ":10C01000101112131415161718191A1B1C1D1E1FA8",
    ":04C020002021222396",
    ":00000001FF")
TXT_OUTPUT = crlf(
    "@C000",
    "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
    "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F",
    "20 21 22 23",
    "q")
HEX_STATS = (36, 1)
TXT_SOURCE = crlf(
    "@1100",
    "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
    "11 12 13 14",
    "@FFFE",
    "00 11",
    "q")
HEX_OUTPUT = crlf(
    ":101100000102030405060708090A0B0C0D0E0F1057",
    ":041110001112131491",
    ":02FFFE000011F0",
    ":00000001FF")
TXT_STATS = (22, 2)


def handoff(tail, failure=None):
    """The console lines of the hand-off for this command tail, with the
    line of a failed start, if any."""
    lines = ["MSP430 BSL Programmer starten...", "BSLDEMO " + tail, ""]
    if failure:
        lines.append(failure)
    lines += ["", ">> Nach Ende des Programmierens Enter drücken! <<", ""]
    return b"".join(line.encode("cp850") + b"\r\n" for line in lines)


def rakemo_done(source="a.hex", output="b.txt"):
    return s.completed("rakemo", source, output, *HEX_STATS)


def lusivo_done(source="a.txt", output="b.hex"):
    return s.completed("lusivo", source, output, *TXT_STATS)


@dataclasses.dataclass
class Case:
    name: str
    program: str            # "rakemo" or "lusivo"
    command_line: str       # the whole text, the program's own name first; {folder} is the
                            # Windows path of the case's folder
    stdout: object          # bytes, or a function of the folder's Windows path giving them
    status: int
    files: dict = dataclasses.field(default_factory=dict)    # laid out before the run
    outputs: dict = dataclasses.field(default_factory=dict)  # expected afterwards
    bsldemo: str = ""       # where a stand-in programmer is: "current" folder, "program" folder,
                            # "broken" (a bsldemo.exe that is no program), or nowhere
    programmer: str = None  # the command line the stand-in must record; None: it is not started
    copy_as: str = ""       # run a copy of the program of this name, in a folder of its own
    no_wait: bool = False   # the converter must end while the programmer still runs


class Context(Tally):
    def __init__(self, options):
        super().__init__()
        self.runner = shlex.split(options.runner)
        self.programs = {"rakemo": os.path.abspath(options.rakemo),
                         "lusivo": os.path.abspath(options.lusivo)}
        self.launch = os.path.abspath(options.launch)
        self.bsldemo = os.path.abspath(options.bsldemo)
        self.platform_check = os.path.abspath(options.platform_check)


def windows_path(path):
    """The path on wine's drive Z:, which is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def mask_fatal_address(stdout):
    return re.sub(rb"(Exception [^\r\n]* bei )[0-9A-F]{8}(\.\n)",
                  rb"\1" + s.MASKED_ADDRESS + rb"\2", stdout)


def launch(ctx, program, command_line, cwd, stdout=subprocess.PIPE):
    return subprocess.run(ctx.runner + [ctx.launch, windows_path(program), command_line.hex()],
                          cwd=cwd, input=b"", stdout=stdout, timeout=TIMEOUT)


def folder_files(folder):
    return {os.path.relpath(os.path.join(root, name), folder)
            for root, dirs, names in os.walk(folder) for name in dirs + names}


def wait_for(path, seconds):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.05)
    return os.path.exists(path)


def describe(what, got, expected):
    return f"{what}:\n    got      {got!r}\n    expected {expected!r}"


def lay_out(ctx, case, root, work):
    """The files of the case, the program to run and the stand-in
    programmer where the case wants it; gives the program's path."""
    for name, content in case.files.items():
        path = os.path.join(work, name)
        if content is FOLDER:
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "wb") as f:
                f.write(content)
    program = ctx.programs[case.program]
    if case.copy_as or case.bsldemo == "program":
        folder = os.path.join(root, "program")
        os.makedirs(folder)
        program = shutil.copy(program, os.path.join(folder, case.copy_as or os.path.basename(program)))
    if case.bsldemo == "current":
        shutil.copy(ctx.bsldemo, os.path.join(work, "bsldemo.exe"))
    elif case.bsldemo == "program":
        shutil.copy(ctx.bsldemo, os.path.join(os.path.dirname(program), "bsldemo.exe"))
    elif case.bsldemo == "broken":
        with open(os.path.join(work, "bsldemo.exe"), "wb") as f:
            f.write(b"no program\r\n")
    return program


def run_program(ctx, case, program, root, work):
    """Runs the case's command line; gives (stdout, status, problems)."""
    command_line = case.command_line.replace("{folder}", windows_path(work)).encode("latin-1")
    if not case.no_wait:
        done = launch(ctx, program, command_line, work)
        return mask_fatal_address(done.stdout), done.returncode, []
    # Standard output into a file: under wine the programmer shares it, and
    # a pipe would stay open until the programmer ends.
    with open(os.path.join(root, "stdout"), "wb") as out:
        done = launch(ctx, program, command_line, work, stdout=out)
    problems = []
    if os.path.exists(os.path.join(work, ENDED)):
        problems.append("the converter ended only after the programmer")
    with open(os.path.join(root, "stdout"), "rb") as f:
        return mask_fatal_address(f.read()), done.returncode, problems


def check_programmer(case, work):
    record = os.path.join(work, RECORD)
    if case.programmer is None:
        if case.bsldemo in ("current", "program"):
            time.sleep(0.5)  # a start that should not have happened has time to show
            if os.path.exists(record):
                return ["the programmer was started"]
        return []
    if not wait_for(record, RECORD_TIMEOUT):
        return ["the programmer was not started"]
    with open(record, "rb") as f:
        recorded = f.read()
    expected = case.programmer.encode("latin-1")
    return [] if recorded == expected else [describe("command line of the programmer", recorded, expected)]


def check_folder(case, work):
    """Every file of the case is as expected (those laid out unchanged
    unless the case says otherwise); no file the case did not name is there."""
    problems = []
    expected = dict(case.files)
    expected.update(case.outputs)
    if case.bsldemo in ("current", "broken"):
        expected["bsldemo.exe"] = ANY
    if case.programmer is not None:
        expected[RECORD] = ANY
    for name, want in expected.items():
        path = os.path.join(work, name)
        if want is FOLDER:
            if not os.path.isdir(path):
                problems.append(f"{name} is no longer a folder")
        elif not os.path.isfile(path):
            problems.append(f"{name} is missing")
        elif want is not ANY:
            with open(path, "rb") as f:
                got = f.read()
            if got != want:
                problems.append(describe(name, got, want))
    for name in sorted(folder_files(work) - set(expected) - {ENDED}):
        problems.append(f"{name} was created, but must not be")
    return problems


def run_case(ctx, case):
    root = tempfile.mkdtemp(prefix="wine-")
    work = os.path.join(root, "work")
    os.makedirs(work)
    problems = []
    try:
        program = lay_out(ctx, case, root, work)
        if case.bsldemo == "":
            for folder in (os.path.dirname(program), work):
                if os.path.exists(os.path.join(folder, "bsldemo.exe")):
                    problems.append(f"a bsldemo.exe lies in {folder}: the case cannot run")
        if not problems:
            stdout, status, problems = run_program(ctx, case, program, root, work)
            expected = case.stdout(windows_path(work)) if callable(case.stdout) else case.stdout
            if status != case.status:
                problems.append(f"exit status {status}, expected {case.status}")
            if stdout != expected:
                problems.append(describe("stdout", stdout, expected))
            problems += check_programmer(case, work)
            problems += check_folder(case, work)
    except subprocess.TimeoutExpired:
        problems.append(f"no end within {TIMEOUT} s")
    finally:
        shutil.rmtree(root, ignore_errors=True)
        ctx.report(case.name, problems)


# ---- The command line, given as one text ----

def command_line_cases():
    r, lu = "rakemo", "lusivo"
    hexf = {"a.hex": HEX_SOURCE}
    return [
        Case("file names with a blank, in double quotes", r, 'rakemo "my image.hex" "out file.txt"',
             rakemo_done("my image.hex", "out file.txt"), 0,
             files={"my image.hex": HEX_SOURCE}, outputs={"out file.txt": TXT_OUTPUT}),
        Case("lusivo: file names with a blank, in double quotes", lu, 'lusivo "my image.txt" "out file.hex"',
             lusivo_done("my image.txt", "out file.hex"), 0,
             files={"my image.txt": TXT_SOURCE}, outputs={"out file.hex": HEX_OUTPUT}),
        Case("quoted and unquoted pieces join into one word", r, 'rakemo x"y z".hex b.txt',
             rakemo_done("xy z.hex"), 0, files={"xy z.hex": HEX_SOURCE}, outputs={"b.txt": TXT_OUTPUT}),
        Case("empty quoted words give no parameter", r, 'rakemo "" a.hex  ""  b.txt ""',
             rakemo_done(), 0, files=hexf, outputs={"b.txt": TXT_OUTPUT}),
        Case("an empty quoted word before -h: the switch still counts", r, 'rakemo a.hex b.txt "" -h',
             s.help_screen(r), 0, files=hexf),
        Case("a quote that is the last character ends the parameters", r, 'rakemo a.hex "',
             s.help_screen(r), 0, files=hexf),
        Case("lusivo: a quote that is the last character, after both names", lu, 'lusivo a.txt b.hex "',
             lusivo_done(), 0, files={"a.txt": TXT_SOURCE}, outputs={"b.hex": HEX_OUTPUT}),
        Case("a quote right after a word opens an empty stretch: -p\" is the switch", lu,
             'lusivo a.txt b.hex -p"',
             lusivo_done() + handoff("-p b.hex", "BSLDEMO.EXE nicht gefunden!"), 0,
             files={"a.txt": TXT_SOURCE}, outputs={"b.hex": HEX_OUTPUT}),
        Case("a quoted stretch runs to the end of the text", r, 'rakemo a.hex "out file.txt',
             rakemo_done("a.hex", "out file.txt"), 0, files=hexf, outputs={"out file.txt": TXT_OUTPUT}),
        Case("tabs and other control bytes are blanks", r, "rakemo\ta.hex\x01\x1fb.txt\t",
             rakemo_done(), 0, files=hexf, outputs={"b.txt": TXT_OUTPUT}),
        Case("the program's own name, quoted with a blank, is no parameter", r,
             '"C:\\Neue Werkzeuge\\rakemo.exe" a.hex b.txt',
             rakemo_done(), 0, files=hexf, outputs={"b.txt": TXT_OUTPUT}),
        Case("bytes above 0x7F in a file name are passed as they are", r, "rakemo a.hex \xfcber.txt",
             rakemo_done("a.hex", b"\xfcber.txt"), 0, files=hexf, outputs={"\xfcber.txt": ANY}),
        Case("a renamed program names itself in the fatal report", r, "konv a.hex b.txt",
             s.files_opened(r, "a.hex", "b.txt") +
             s.fatal_report("Konverter.exe", "EConvertError", s.not_an_integer("z")), 1,
             files={"a.hex": crlf(":02C0z000AABB00", ":00000001FF")}, copy_as="Konverter.exe"),
    ]


# ---- Share modes: the output that is the open source ----

def share_mode_cases():
    r, lu = "rakemo", "lusivo"
    cases = []
    for name in ["a.hex", "A.HEX", ".\\a.hex", "sub\\..\\a.hex", "{folder}\\a.hex"]:
        cases.append(Case(f"output {name} is the open source: refused, source unchanged", r,
                          f"rakemo a.hex {name}",
                          lambda folder, name=name: s.output_failed(r, "a.hex", name.replace("{folder}", folder)),
                          2, files={"a.hex": HEX_SOURCE, "sub": FOLDER}))
    cases.append(Case("lusivo: output is the open source, in another case", lu, "lusivo a.txt A.TXT",
                      s.output_failed(lu, "a.txt", "A.TXT"), 2, files={"a.txt": TXT_SOURCE}))
    cases.append(Case("output NUL: a device is written, not emptied", r, "rakemo a.hex NUL",
                      rakemo_done("a.hex", "NUL"), 0, files={"a.hex": HEX_SOURCE}))
    # A regular output is written aside: a failure leaves no trace, a
    # completed run replaces an existing output or creates a new one.
    old = b"an older output\r\n"
    bad = crlf(":02C00000AABBD9", ":02C0z000AABB00", ":00000001FF")
    failed = s.files_opened(r, "a.hex", "b.txt") + s.fatal_report("rakemo.exe", "EConvertError", s.not_an_integer("z"))
    cases += [
        Case("a failed run leaves an existing output as it was, and no new file", r, "rakemo a.hex b.txt",
             failed, 1, files={"a.hex": bad, "b.txt": old}),
        Case("a failed run into a new name creates no file", r, "rakemo a.hex b.txt", failed, 1, files={"a.hex": bad}),
        Case("names swapped: the Intel HEX file stays as it was", r, "rakemo b.txt a.hex",
             s.files_opened(r, "b.txt", "a.hex") + s.fatal_report("rakemo.exe", "EConvertError", s.not_an_integer(" ")),
             1, files={"a.hex": HEX_SOURCE, "b.txt": TXT_OUTPUT}),
        Case("a completed run replaces an existing output", r, "rakemo a.hex b.txt", rakemo_done(), 0,
             files={"a.hex": HEX_SOURCE, "b.txt": old}, outputs={"b.txt": TXT_OUTPUT}),
        Case("lusivo: a completed run into a new name", lu, "lusivo a.txt b.hex", lusivo_done(), 0,
             files={"a.txt": TXT_SOURCE}, outputs={"b.hex": HEX_OUTPUT}),
    ]
    return cases


# ---- The hand-off through WinExec ----

def handoff_cases():
    r, lu = "rakemo", "lusivo"
    hexf = {"a.hex": HEX_SOURCE}
    done = {"b.txt": TXT_OUTPUT}
    return [
        Case("programmer in the current folder", r, 'rakemo a.hex b.txt -p "-cCOM2 +ecpvr"',
             rakemo_done() + handoff("-cCOM2 +ecpvr b.txt"), 0, files=hexf, outputs=done,
             bsldemo="current", programmer="bsldemo -cCOM2 +ecpvr b.txt"),
        Case("lusivo: programmer in the program's folder", lu, 'lusivo a.txt b.hex /P "-cCOM1"',
             lusivo_done() + handoff("-cCOM1 b.hex"), 0,
             files={"a.txt": TXT_SOURCE}, outputs={"b.hex": HEX_OUTPUT},
             bsldemo="program", programmer="bsldemo -cCOM1 b.hex"),
        Case("the command is the tail as the user wrote it: runs of blanks, a tab", r,
             'rakemo a.hex b.txt -P "-cCOM2   +ecpvr\t-m20"',
             rakemo_done() + handoff("-cCOM2   +ecpvr\t-m20 b.txt"), 0, files=hexf, outputs=done,
             bsldemo="current", programmer="bsldemo -cCOM2   +ecpvr\t-m20 b.txt"),
        Case("-p followed by an empty quoted word: -p is the parameter string", r,
             'rakemo a.hex b.txt -p ""', rakemo_done() + handoff("-p b.txt"), 0,
             files=hexf, outputs=done, bsldemo="current", programmer="bsldemo -p b.txt"),
        Case("an output name with a blank reaches the programmer unquoted", r,
             'rakemo a.hex "b c.txt" -p "-cCOM2"',
             rakemo_done("a.hex", "b c.txt") + handoff("-cCOM2 b c.txt"), 0,
             files=hexf, outputs={"b c.txt": TXT_OUTPUT}, bsldemo="current",
             programmer="bsldemo -cCOM2 b c.txt"),
        Case("command separators of the shell are passed on, never run", r,
             'rakemo a.hex b.txt -p "-c & echo x > x.txt | more"',
             rakemo_done() + handoff("-c & echo x > x.txt | more b.txt"), 0, files=hexf, outputs=done,
             bsldemo="current", programmer="bsldemo -c & echo x > x.txt | more b.txt"),
        Case("no programmer to be found", r, 'rakemo a.hex b.txt -p "-cCOM2"',
             rakemo_done() + handoff("-cCOM2 b.txt", "BSLDEMO.EXE nicht gefunden!"), 0,
             files=hexf, outputs=done),
        Case("a bsldemo.exe that is no program", r, 'rakemo a.hex b.txt -p "-cCOM2"',
             rakemo_done() + handoff("-cCOM2 b.txt", "Nichtausfuehrbare Datei!"), 0,
             files=hexf, outputs=done, bsldemo="broken"),
        Case("without -p nothing is started", r, "rakemo a.hex b.txt -cCOM2",
             rakemo_done(), 0, files=hexf, outputs=done, bsldemo="current"),
        Case("no hand-off after a failed output step", r, 'rakemo a.hex a.hex -p "-cCOM2"',
             s.output_failed(r, "a.hex", "a.hex"), 2, files=hexf, bsldemo="current"),
        Case("the converter does not wait for the programmer", r, 'rakemo a.hex b.txt -p "-w -cCOM2"',
             rakemo_done() + handoff("-w -cCOM2 b.txt"), 0, files=hexf, outputs=done,
             bsldemo="current", programmer="bsldemo -w -cCOM2 b.txt", no_wait=True),
    ]


# ---- Groups ----

def table_group(build):
    def group(ctx):
        for case in build():
            run_case(ctx, case)
    return group


def platform_group(ctx):
    folder = tempfile.mkdtemp(prefix="wine-platform-")
    try:
        done = subprocess.run(ctx.runner + [ctx.platform_check], cwd=folder, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, timeout=TIMEOUT)
        output = done.stdout.decode("latin-1")
        print(output, end="")
        problems = [] if done.returncode == 0 and "0 failed" in output else \
            [f"platform_check ended with status {done.returncode}"]
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    ctx.report("platform layer checks", problems)


def groups():
    return {
        "command_line": table_group(command_line_cases),
        "share_modes": table_group(share_mode_cases),
        "handoff": table_group(handoff_cases),
        "platform": platform_group,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--runner", "--rakemo", "--lusivo", "--launch", "--bsldemo", "--platform-check"):
        parser.add_argument(option, required=True)
    parser.add_argument("group", nargs="+", choices=sorted(groups()))
    options = parser.parse_args()
    ctx = Context(options)
    for name in options.group:
        groups()[name](ctx)
    print(f"{ctx.passed} passed, {ctx.failed} failed")
    return 1 if ctx.failed else 0


if __name__ == "__main__":
    sys.exit(main())
