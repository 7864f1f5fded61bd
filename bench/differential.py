#!/usr/bin/env python3
"""Two builds of rakemo and lusivo compared on generated inputs.

    bench/differential.py --base DIR --new DIR [--count N] [--long N] [--seed S]

Runs both programs of both builds on every input (random Intel HEX records,
TI-TXT lines and plain garbage, lines of 0 to 2,000 characters with blanks,
bad characters and every line end, a few lines far longer than the text
layer gathers, and the fuzz corpora of tests/fuzz/corpus) and compares
console output, exit status and output file byte for byte. The address in
a fatal error report names a place in one build's code, so it is masked.
Runs that end with "Zu wenig Arbeitsspeicher" in the base build are left
out: what runs out of memory is not compared. A measurement, not a test:
it prints its figures and ends with 1 on any difference.
"""
import argparse
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HEX = "0123456789ABCDEF"
ENDS = [b"\r\n", b"\r", b"\n", b"\r\r\n", b"\n\r"]
BAD = b" \t\x00\x81\xffgGxX-+$:@qQa"
SCRATCH = threading.local()  # each worker's folder
FOLDERS = []
REPORT_SITE = re.compile(rb"(Exception \w+ in Modul \w+ bei )[0-9A-F]{8}")


def hex_digits(rng, n):
    return "%0*X" % (n, rng.getrandbits(4 * n)) if n > 0 else ""


def spoil(rng, text, rate):
    """Some characters of text replaced by bad ones, some in lower case."""
    out = bytearray(text)
    for i in range(len(out)):
        roll = rng.random()
        if roll < rate:
            out[i] = rng.choice(BAD)
        elif roll < 2 * rate and 0x41 <= out[i] <= 0x46:
            out[i] += 0x20
    return bytes(out)


def hex_record(rng):
    kind = rng.random()
    count = rng.randrange(0, 256) if kind < 0.2 else rng.choice([0, 1, 2, 4, 8, 16, 16, 16, 32])
    rtype = rng.choice(["00"] * 8 + ["01", "02", "03", "04", "05", "06"])
    if rtype in ("02", "04"):
        count = 2
    pieces = count if rng.random() < 0.8 else rng.randrange(0, 1000)
    text = ":%02X%s%s%s" % (count, hex_digits(rng, 4), rtype, hex_digits(rng, 2 * pieces + 2))
    return spoil(rng, text.encode(), rng.choice([0, 0, 0, 0.002, 0.02]))


def txt_line(rng):
    roll = rng.random()
    if roll < 0.15:
        field = hex_digits(rng, rng.choice([0, 1, 3, 4, 4, 4, 5, 8, 9, 12]))
        line = b"@" + field.encode()
        if rng.random() < 0.3:
            line = rng.choice([b" ", b"\t", b""]) + line + rng.choice([b" ", b"  ", b"\t", b""])
        return spoil(rng, line, rng.choice([0, 0, 0.05]))
    if roll < 0.2:
        return rng.choice([b"q", b"quit", b"Q", b" q"])
    if roll < 0.25:
        return b" " * rng.randrange(0, 2000)
    pieces = rng.choice([1, 2, 5, 6, 15, 16, 16, 16, 17, 85, 255, 256, 300, 600])
    blank = rng.random()
    parts = []
    for _ in range(pieces):
        parts.append(hex_digits(rng, 2).encode())
        parts.append(b" " if blank < 0.7 else rng.choice([b"", b" ", b"  ", b"\t"]))
    line = b"".join(parts)[:2000]
    if rng.random() < 0.5:
        line = line.rstrip(b" \t")
    return spoil(rng, line, rng.choice([0, 0, 0, 0.001, 0.01]))


def garbage_line(rng):
    return bytes(rng.randrange(256) for _ in range(rng.randrange(0, 200))).replace(b"\x1a", b"")


def short_input(rng):
    """A file of lines of 0 to 2,000 characters."""
    maker = rng.choice([hex_record, hex_record, txt_line, txt_line, garbage_line])
    lines = []
    for _ in range(rng.randrange(0, 40)):
        lines.append((maker if rng.random() < 0.9 else rng.choice([hex_record, txt_line, garbage_line]))(rng))
        lines.append(rng.choice(ENDS))
    if lines and rng.random() < 0.3:
        lines.pop()  # no line end after the last line
    if rng.random() < 0.05:
        lines.insert(rng.randrange(len(lines) + 1), b"\x1a")
    return b"".join(lines)


def long_line(rng):
    """One line far longer than a whole line is gathered (128 KiB), of a
    kind the programs stream or skip."""
    size = rng.choice([131073, 200000, 262144 + rng.randrange(1000), 700000, 2500000])
    kind = rng.randrange(7)
    if kind == 0:  # pieces with blanks
        body = (" ".join(hex_digits(rng, 2) for _ in range(size // 3 + 1))).encode()
    elif kind == 1:  # no blanks
        body = hex_digits(rng, size).encode()
    elif kind == 2:  # blanks only
        body = b" " * size
    elif kind == 3:  # an address line
        body = b"@" + (b" " * rng.randrange(3)) + hex_digits(rng, size).encode() + (b" " * rng.randrange(3))
    elif kind == 4:  # an Intel HEX record with a long tail
        body = (":10%s00%s" % (hex_digits(rng, 4), hex_digits(rng, size))).encode()
    elif kind == 5:  # blanks, then data without them
        body = b" " * (size // 2) + hex_digits(rng, size // 2).encode()
    else:  # data without blanks, then blanks
        body = hex_digits(rng, size // 2).encode() + b" " * (size // 2)
    body = bytearray(body[:size] if kind != 3 else body)
    if rng.random() < 0.3:  # a bad character somewhere, or at either end
        where = rng.choice([0, 1, len(body) - 1, rng.randrange(len(body))])
        body[where] = rng.choice(BAD)
    before = rng.choice([b"", b"@C000\r\n", b"@FFF0\r\n", b":020000040001F9\r\n", b"01 02\n"])
    after = rng.choice([b"", b"\r\n", b"\r\nq\r\n", b"\n01 02 03\r\n", b"\r\n:00000001FF\r\n"])
    return before + bytes(body) + after


def corpus_inputs():
    folder = os.path.join(ROOT, "tests", "fuzz", "corpus")
    for sub in sorted(os.listdir(folder)):
        for name in sorted(os.listdir(os.path.join(folder, sub))):
            with open(os.path.join(folder, sub, name), "rb") as f:
                data = f.read()
            yield data
            yield data[2:]  # the loop targets take their first two bytes as buffer sizes


def run(program, source_bytes, scratch, args_extra=(), stdin=b""):
    source = os.path.join(scratch, "source")
    output = os.path.join(scratch, "output")
    with open(source, "wb") as f:
        f.write(source_bytes)
    if os.path.exists(output):
        os.remove(output)
    done = subprocess.run([program, "source", "output"] + list(args_extra), cwd=scratch, input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    written = None
    if os.path.exists(output):
        with open(output, "rb") as f:
            written = f.read()
    return done.returncode, REPORT_SITE.sub(rb"\1########", done.stdout), done.stderr, written


class Tally:
    def __init__(self):
        self.runs = self.same = self.left_out = 0
        self.differences = []


def compare(task):
    """One input through one program of both builds, in a scratch folder of
    the worker's own."""
    index, name, data, extra, stdin, base, new = task
    scratch = getattr(SCRATCH, "folder", None)
    if scratch is None:
        scratch = SCRATCH.folder = tempfile.mkdtemp(prefix="differential-")
        FOLDERS.append(scratch)
    before = run(os.path.join(base, name), data, scratch, extra, stdin)
    after = run(os.path.join(new, name), data, scratch, extra, stdin)
    if b"Zu wenig Arbeitsspeicher" in before[1]:
        return index, name, "left out", None
    return index, name, "same" if before == after else "different", (data, before, after)


def tasks(args, rng):
    programs = ("rakemo", "lusivo")
    index = 0
    for number in range(args.count):
        data = short_input(rng)
        if number < args.skip:  # made all the same, so the inputs after it are those of a whole run
            index += 1
            continue
        for name in programs:
            yield index, name, data, (), b"", args.base, args.new
        index += 1
    for _ in range(args.long):
        data = long_line(rng)
        for name in programs:
            yield index, name, data, (), b"", args.base, args.new
        index += 1
    for data in corpus_inputs():
        for name in programs:
            yield index, name, data, (), b"", args.base, args.new
        index += 1
    for _ in range(args.help):  # the help pause with any standard input
        stdin = rng.choice([b"", b"\r\n", b"x\r", b"\n", b"abc\r\ndef\r\n"]) if rng.random() < 0.5 else long_line(rng)
        yield index, "rakemo", b"", ("-h",), stdin, args.base, args.new
        index += 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", required=True, help="folder of the build before the change")
    parser.add_argument("--new", required=True, help="folder of the build after it")
    parser.add_argument("--count", type=int, default=100000, help="generated inputs of short lines")
    parser.add_argument("--long", type=int, default=300, help="generated inputs with one long line")
    parser.add_argument("--help-runs", dest="help", type=int, default=200, help="runs of the help pause")
    parser.add_argument("--seed", type=int, default=12)
    parser.add_argument("--skip", type=int, default=0, help="short inputs made but not run, to go on from a run")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--keep", help="folder for the inputs that differ")
    args = parser.parse_args()
    args.base, args.new = os.path.abspath(args.base), os.path.abspath(args.new)
    rng = random.Random(args.seed)
    tally = Tally()
    inputs = set()
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        pending = set()
        for task in tasks(args, rng):
            pending.add(pool.submit(compare, task))
            if len(pending) >= 4 * args.jobs:
                done, pending = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
                for future in done:
                    record(tally, inputs, future.result(), args.keep)
        for future in concurrent.futures.as_completed(pending):
            record(tally, inputs, future.result(), args.keep)
    for folder in FOLDERS:
        shutil.rmtree(folder)
    print("differential: %d inputs, %d runs per build, %d identical, %d left out (out of memory before),"
          " %d different" % (len(inputs), tally.runs, tally.same, tally.left_out, len(tally.differences)))
    for index, name in tally.differences[:20]:
        print("  different: input %d, %s" % (index, name))
    sys.exit(1 if tally.differences else 0)


def record(tally, inputs, result, keep):
    index, name, verdict, detail = result
    inputs.add(index)
    tally.runs += 1
    if tally.runs % 10000 == 0:
        print("  %d runs, %d different" % (tally.runs, len(tally.differences)), flush=True)
    if verdict == "same":
        tally.same += 1
    elif verdict == "left out":
        tally.left_out += 1
    else:
        tally.differences.append((index, name))
        if keep:
            os.makedirs(keep, exist_ok=True)
            with open(os.path.join(keep, "%d-%s.in" % (index, name)), "wb") as f:
                f.write(detail[0])
            with open(os.path.join(keep, "%d-%s.txt" % (index, name)), "w") as f:
                for label, outcome in (("before", detail[1]), ("after", detail[2])):
                    status, console, errors, written = outcome
                    f.write("%s: status %d\n%r\n%r\nwritten %s\n" % (
                        label, status, console[-2000:], errors[-500:],
                        None if written is None else "%d bytes" % len(written)))
                same = 0
                a, b = detail[1][3] or b"", detail[2][3] or b""
                while same < min(len(a), len(b)) and a[same] == b[same]:
                    same += 1
                f.write("outputs agree up to byte %d\n" % same)


if __name__ == "__main__":
    main()
