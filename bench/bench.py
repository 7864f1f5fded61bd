#!/usr/bin/env python3
"""Throughput, memory and start-up of rakemo and lusivo against dd, cp and srec_cat.

Started by bench/run, which builds the programs and the measure wrapper
first. Every command is started through the wrapper (bench/measure.c),
which reports the command's wall time and its peak resident memory
(ru_maxrss). The commands of one section run interleaved, round after
round. An output is removed before its run, so a run writes a new file into
the folder of its input, except for the cases that overwrite their last
output on purpose.
"""
import argparse
import json
import os
import random
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import threading
import time

import gen

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "faults"))
import limits  # noqa: E402

MB = 1_000_000
SEED = 20260
TARGET_DD_RATIO = 2.0
TARGET_SREC_RATIO = 30.0
TARGET_IR_PER_BYTE = 15.0
TARGET_RSS_GROWTH_KIB = 2048
BIN = ""  # the folder of rakemo, lusivo and measure


class Case:
    """One command line and the numbers of its runs."""

    def __init__(self, label, argv, source, output, keep=False):
        self.label, self.argv, self.source, self.output = label, argv, source, output
        self.keep = keep  # the output of the last run stays, to be overwritten
        self.times, self.rss = [], []

    @property
    def size(self):
        return os.path.getsize(self.source)

    def run(self, measure, scratch):
        """One run through the measure wrapper, which reports wall time and
        peak memory of the command alone."""
        if not self.keep and os.path.exists(self.output):
            os.remove(self.output)
        result, errors = os.path.join(scratch, "result.txt"), os.path.join(scratch, "stderr.txt")
        done = subprocess.run([measure, result, errors] + self.argv)
        with open(result) as text:
            code, elapsed, rss, _, _ = (int(field) for field in text.read().split())
        if done.returncode != 0 or code != 0:
            with open(errors, errors="replace") as text:
                sys.exit("bench: %s ended with %d\n%s" % (" ".join(self.argv), code, text.read()))
        self.times.append(elapsed / 1e9)
        self.rss.append(rss)  # KiB

    @property
    def best(self):
        return min(self.times)

    @property
    def median(self):
        return statistics.median(self.times)

    @property
    def peak(self):
        return max(self.rss)


def measure(cases, rounds, scratch):
    """Runs every case once unmeasured (page cache, binaries), then in rounds,
    each round in an order of its own (from a fixed seed): what runs just
    before a command (a long srec_cat, say) changes its time, so no case
    keeps the same neighbour."""
    tool = os.path.join(BIN, "measure")
    for case in cases:
        case.run(tool, scratch)
        case.times.clear()
        case.rss.clear()
    order = random.Random(SEED)
    for _ in range(rounds):
        for case in order.sample(cases, len(cases)):
            case.run(tool, scratch)
    return cases


def mb(size):
    return size / MB


def kib(value):
    return "%d KiB" % value


class Bench:
    def __init__(self, args):
        self.args = args
        self.bin = args.bin
        self.data = args.data
        self.rounds = args.repeat
        self.srec = shutil.which("srec_cat")
        self.dd = shutil.which("dd")
        self.valgrind = shutil.which("valgrind")
        self.verdicts = []
        self.failed = False
        self.empty = {}

    # ---- inputs ----

    def path(self, name):
        return os.path.join(self.data, name)

    def image(self, size):
        """The Intel HEX image of about size bytes and its TI-TXT, made once."""
        stem = self.path("image-%d-seed%d" % (size, SEED))
        hex_name, txt_name = stem + ".hex", stem + ".txt"
        if not (os.path.exists(hex_name) and os.path.exists(txt_name)):
            print("  generating %s.{hex,txt} ..." % os.path.basename(stem), flush=True)
            gen.image(size, SEED, hex_name + ".part", txt_name + ".part")
            os.replace(hex_name + ".part", hex_name)
            os.replace(txt_name + ".part", txt_name)
        return hex_name, txt_name

    def long_line(self, kind, size):
        name = self.path("line-%d.%s" % (size, "hex" if kind == "hexline" else "txt"))
        if not os.path.exists(name):
            print("  generating %s ..." % os.path.basename(name), flush=True)
            (gen.hex_line if kind == "hexline" else gen.txt_line)(size, name + ".part")
            os.replace(name + ".part", name)
        return name

    def empty_file(self):
        name = self.path("empty.txt")
        open(name, "wb").close()
        return name

    # ---- commands ----

    def program(self, name, source, tag, keep=False):
        out = self.path("out-%s-%s" % (name, tag))
        return Case(name, [os.path.join(self.bin, name), source, out], source, out, keep)

    def dd_copy(self, source, tag, keep=False):
        out = self.path("out-dd-%s" % tag)
        return Case("dd bs=64K", [self.dd, "if=" + source, "of=" + out, "bs=64K", "status=none"],
                    source, out, keep)

    def srec_cat(self, source, tag, to_titxt):
        out = self.path("out-srec-%s" % tag)
        argv = ([self.srec, source, "-intel", "-o", out, "-ti-txt"] if to_titxt else
                [self.srec, source, "-ti-txt", "-o", out, "-intel"])
        return Case("srec_cat", argv, source, out)

    # ---- checks ----

    def verdict(self, what, met, measured, target):
        self.verdicts.append((what, met, measured, target))

    def check_output(self, case, expected):
        same = subprocess.run(["cmp", "-s", case.output, expected]).returncode == 0
        if not same:
            print("  MISMATCH: %s output differs from %s" % (case.label, os.path.basename(expected)))
            self.failed = True
        return same

    # ---- sections ----

    def empty_runs(self):
        print("\n== Start cost: converting an empty file (%d rounds)" % self.rounds)
        empty = self.empty_file()
        cases = measure([self.program("rakemo", empty, "empty"),
                         self.program("lusivo", empty, "empty")], self.rounds, self.data)
        for case in cases:
            self.empty[case.label] = case
            print("  %-8s min %6.2f ms  median %6.2f ms  peak RSS %s"
                  % (case.label, case.best * 1e3, case.median * 1e3, kib(case.peak)))

    def comparison(self):
        size = self.args.size
        print("\n== Throughput: %.4g MB image, %d rounds, interleaved" % (mb(size), self.rounds))
        print("  each program and dd write a new output file (removed before every run), and")
        print("  once more over the output of their last run, as a repeated build does")
        if not self.srec:
            print("  srec_cat: skipped, not installed (Debian package srecord)")
        hex_name, txt_name = self.image(size)
        directions = [("Intel HEX -> TI-TXT", "rakemo", hex_name, txt_name, True),
                      ("TI-TXT -> Intel HEX", "lusivo", txt_name, hex_name, False)]
        groups = []
        for title, name, source, expected, to_titxt in directions:
            fresh = [self.program(name, source, "main"), self.dd_copy(source, name)]
            kept = [self.program(name, source, "kept", keep=True), self.dd_copy(source, name + "-kept", keep=True)]
            srec = self.srec_cat(source, name, to_titxt) if self.srec else None
            groups.append((title, fresh, kept, srec, expected))
        cases = []
        for _, fresh, kept, srec, _ in groups:
            cases += fresh + kept + ([srec] if srec else [])
        measure(cases, self.rounds, self.data)
        for group in groups:
            self.report_direction(*group)

    def report_direction(self, title, fresh, kept, srec, expected):
        ours = fresh[0]
        print("\n  %s, input %.1f MB (%s)" % (title, mb(ours.size), os.path.basename(ours.source)))
        print("  %-12s %9s %9s %9s %9s %9s %11s %11s"
              % ("", "min ms", "median ms", "MB/s", "x dd", "/ srec", "peak RSS", "over empty"))
        for regime, (program, dd), others in (("new output", fresh, [srec] if srec else []),
                                              ("overwritten", kept, [])):
            print("  %s:" % regime)
            for case in [program, dd] + others:
                line = "    %-10s %9.1f %9.1f %9.0f %9.2f" % (
                    case.label, case.best * 1e3, case.median * 1e3, mb(case.size) / case.best,
                    case.best / dd.best)
                line += " %9.1f" % (srec.best / case.best) if srec else " %9s" % "-"
                line += " %11s" % kib(case.peak)
                if case is program:
                    line += " %11s" % kib(case.peak - self.empty[case.label].peak)
                print(line)
        same = self.check_output(ours, expected)
        print("  %s output %s the generated %s"
              % (ours.label, "is identical to" if same else "DIFFERS from", os.path.basename(expected)))
        for regime, (program, dd) in (("new output", fresh), ("overwritten", kept)):
            self.verdict("%s time / dd time, %s (min; median)" % (program.label, regime),
                         program.best / dd.best <= TARGET_DD_RATIO,
                         "%.2f; %.2f" % (program.best / dd.best, program.median / dd.median),
                         "<= %.1f" % TARGET_DD_RATIO)
        if srec:
            self.verdict("srec_cat time / %s time (min; median)" % ours.label,
                         srec.best / ours.best >= TARGET_SREC_RATIO,
                         "%.1f; %.1f" % (srec.best / ours.best, srec.median / ours.median),
                         ">= %.0f" % TARGET_SREC_RATIO)
        else:
            self.verdict("srec_cat time / %s time" % ours.label, None, "skipped", ">= 30")
        self.rss_verdict(ours, "%.0f MB" % mb(ours.size))

    def rss_verdict(self, case, where):
        growth = case.peak - self.empty[case.label].peak
        self.verdict("%s peak RSS over empty, %s" % (case.label, where),
                     growth <= TARGET_RSS_GROWTH_KIB, kib(growth), "<= 2048 KiB")

    def scaling(self):
        sizes = self.args.scaling
        print("\n== Scaling: %s MB, %d rounds; net = time minus the empty-file run's min"
              % (", ".join("%.4g" % mb(s) for s in sizes), self.rounds))
        rows = []
        for size in sizes:
            hex_name, txt_name = self.image(size)
            rows.append((size, self.program("rakemo", hex_name, "s%d" % size), txt_name))
            rows.append((size, self.program("lusivo", txt_name, "s%d" % size), hex_name))
        measure([case for _, case, _ in rows], self.rounds, self.data)
        print("  %-8s %9s %9s %9s %11s %11s %11s"
              % ("", "input MB", "min ms", "median ms", "net ms/MB", "peak RSS", "over empty"))
        for name in ("rakemo", "lusivo"):
            for size, case, expected in rows:
                if case.label != name:
                    continue
                net = (case.best - self.empty[name].best) / mb(case.size)
                print("  %-8s %9.1f %9.2f %9.2f %11.3f %11s %11s"
                      % (name, mb(case.size), case.best * 1e3, case.median * 1e3, net * 1e3,
                         kib(case.peak), kib(case.peak - self.empty[name].peak)))
                self.check_output(case, expected)
                self.rss_verdict(case, "%.4g MB" % mb(case.size))

    def pathological(self):
        sizes = self.args.lines
        print("\n== One long line: %s MB, %d rounds (rakemo: one Intel HEX record line;"
              " lusivo: one TI-TXT data line)" % (", ".join("%.4g" % mb(s) for s in sizes), self.rounds))
        rows = []
        for size in sizes:
            rows.append(self.program("rakemo", self.long_line("hexline", size), "l%d" % size))
            rows.append(self.program("lusivo", self.long_line("txtline", size), "l%d" % size))
        measure(rows, self.rounds, self.data)
        print("  %-8s %9s %9s %9s %11s %11s %13s"
              % ("", "line MB", "min ms", "median ms", "net ms/MB", "peak RSS", "RSS / line"))
        for name in ("rakemo", "lusivo"):
            for case in rows:
                if case.label != name:
                    continue
                net = (case.best - self.empty[name].best) / mb(case.size)
                growth = (case.peak - self.empty[name].peak) * 1024
                print("  %-8s %9.1f %9.1f %9.1f %11.3f %11s %12.2fx"
                      % (name, mb(case.size), case.best * 1e3, case.median * 1e3, net * 1e3,
                         kib(case.peak), growth / case.size))

    def startup(self):
        """A small real image, where starting the program is most of the work:
        hyperfine -N runs each command without a shell, its warm-up runs first."""
        rounds = self.args.startup_runs
        source = self.args.startup_image
        if not os.path.exists(source):
            source, _ = self.image(72_000)  # about the size of the usual image
        print("\n== Start-up: %s (%.0f KB), hyperfine -N, %d runs each"
              % (os.path.basename(source), os.path.getsize(source) / 1e3, rounds))
        hyperfine = shutil.which("hyperfine")
        if not hyperfine:
            print("  skipped: hyperfine not installed (Debian package hyperfine)")
            self.verdict("rakemo start-up / cp (median)", None, "skipped", "<= 1.00")
            return
        commands = [("rakemo", [os.path.join(self.bin, "rakemo"), source, self.path("out-start.txt")]),
                    ("cp", ["cp", source, self.path("out-start-cp.hex")]),
                    ("cat", ["cat", source])]
        if self.srec:
            commands.append(("srec_cat", [self.srec, source, "-intel", "-o",
                                          self.path("out-start-srec.txt"), "-ti-txt"]))
        report = self.path("hyperfine.json")
        subprocess.run([hyperfine, "-N", "--style", "none", "--warmup", "20", "--runs", str(rounds),
                        "--export-json", report] + [shlex.join(argv) for _, argv in commands],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(report) as text:
            results = json.load(text)["results"]
        medians = {label: result["median"] for (label, _), result in zip(commands, results)}
        print("  %-10s %9s %9s %9s" % ("", "min ms", "median ms", "/ cp"))
        for (label, _), result in zip(commands, results):
            print("  %-10s %9.2f %9.2f %9.2f" % (label, result["min"] * 1e3, result["median"] * 1e3,
                                                 result["median"] / medians["cp"]))
        ratio = medians["rakemo"] / medians["cp"]
        self.verdict("rakemo start-up / cp (median)", ratio <= 1.0, "%.2f" % ratio, "<= 1.00")

    def memory(self):
        """Peak memory on the inputs that hold no line, or no file, in
        memory: fed through a pipe as they are made, so nothing of their
        size is on the disk."""
        size = self.args.memory
        print("\n== Memory: peak RSS against converting an empty file (%.4g MB inputs through a pipe)" % mb(size))
        pieces = b"00 " * 21846
        runs = [
            ("rakemo", "%.4g MB without a line end" % mb(size), [], self.repeated(b"0" * 65536, size)),
            ("rakemo", "one Intel HEX line of 40 MB", [],
             self.repeated(b":FF000000", 9, b"0" * 65536, 40 * MB - 9, b"\r\n", 2)),
            ("lusivo", "a TI-TXT data line of %.4g MB, pieces with blanks" % mb(size), [],
             self.repeated(pieces, 3 * (size // 3 - 1), b"00", 2)),
            ("lusivo", "a line of %.4g MB of blanks" % mb(size), [], self.repeated(b" " * 65536, size)),
            ("lusivo", "an address line of %.4g MB" % mb(size), [],
             self.repeated(b"@", 1, b"0" * 65536, size - 6, b"C000\r\n", 6)),
        ]
        print("  %-8s %-48s %7s %11s %11s %11s" % ("", "input", "status", "seconds", "peak RSS", "over empty"))
        for name, what, extra, feed in runs:
            code, elapsed, rss = self.fed_run([os.path.join(self.bin, name), "/dev/stdin",
                                               self.path("out-memory")] + extra, feed)
            self.memory_row(name, what, code, elapsed, rss, 0)
        help_feed = self.repeated(b"x" * 65536, self.args.help_input)
        code, elapsed, rss = self.fed_run([os.path.join(self.bin, "rakemo"), "-h"], help_feed)
        self.memory_row("rakemo", "the help pause on %.4g MB without a line end" % mb(self.args.help_input),
                        code, elapsed, rss, 0)
        timeout = shutil.which("timeout")
        if not timeout:
            print("  /dev/zero: skipped, timeout not found")
            return
        for name, status in (("rakemo", 124), ("lusivo", 1)):
            code, elapsed, rss = self.fed_run([timeout, "5", os.path.join(self.bin, name), "/dev/zero",
                                               self.path("out-memory")], None)
            self.memory_row(name, "/dev/zero for at most 5 s", code, elapsed, rss, status)
        if os.path.exists(self.path("out-memory")):
            os.remove(self.path("out-memory"))

    @staticmethod
    def repeated(*parts):
        """Chunks: each block given with the number of bytes it makes, cut
        from as many repeats of it as that needs."""
        def chunks():
            for block, total in zip(parts[::2], parts[1::2]):
                while total > 0:
                    piece = block[:total]
                    yield piece
                    total -= len(piece)
        return chunks

    def fed_run(self, argv, feed):
        """One run through the measure wrapper, its standard input a pipe
        that a thread fills from feed (or empty): (status, seconds, KiB)."""
        result, errors = self.path("result.txt"), self.path("stderr.txt")
        reader, writer = os.pipe()

        def fill():
            with os.fdopen(writer, "wb") as pipe:
                try:
                    for chunk in feed() if feed else ():
                        pipe.write(chunk)
                except BrokenPipeError:
                    pass

        filler = threading.Thread(target=fill)
        filler.start()
        subprocess.run([os.path.join(self.bin, "measure"), result, errors] + argv, stdin=reader)
        os.close(reader)
        filler.join()
        with open(result) as text:
            code, elapsed, rss, _, _ = (int(field) for field in text.read().split())
        return code, elapsed / 1e9, rss

    def memory_row(self, name, what, code, elapsed, rss, status):
        growth = rss - self.empty[name].peak
        print("  %-8s %-48s %7d %11.2f %11s %11s" % (name, what, code, elapsed, kib(rss), kib(growth)))
        if code != status:
            print("  UNEXPECTED: %s on %s ended with %d, not %d" % (name, what, code, status))
            self.failed = True
        if name == "lusivo" and "/dev/zero" in what:
            self.verdict("lusivo on /dev/zero: fails at the 16 MiB excess", code == 1, kib(growth), "status 1")
        else:
            self.verdict("%s peak RSS over empty, %s" % (name, what), growth <= TARGET_RSS_GROWTH_KIB,
                         kib(growth), "<= 2048 KiB")

    def instructions(self):
        size = self.args.callgrind
        print("\n== Instructions per input byte (valgrind --tool=callgrind), %.4g MB image" % mb(size))
        if not self.valgrind:
            print("  skipped: valgrind not installed")
            self.verdict("instructions per input byte", None, "skipped", "<= 15")
            return
        hex_name, txt_name = self.image(size)
        empty = self.empty_file()
        for name, source in (("rakemo", hex_name), ("lusivo", txt_name)):
            total = self.callgrind(name, source)
            start = self.callgrind(name, empty)
            size_bytes = os.path.getsize(source)
            print("  %-8s %13d instructions, %.2f per byte (%.2f without the %d of an empty run)"
                  % (name, total, total / size_bytes, (total - start) / size_bytes, start))
            self.verdict("%s instructions per input byte" % name,
                         total / size_bytes <= TARGET_IR_PER_BYTE,
                         "%.2f" % (total / size_bytes), "<= %.0f" % TARGET_IR_PER_BYTE)

    def callgrind(self, name, source):
        out = self.path("out-callgrind-%s" % name)
        report = self.path("callgrind-%s.out" % name)
        result = subprocess.run([self.valgrind, "--tool=callgrind", "--callgrind-out-file=" + report,
                                 os.path.join(self.bin, name), source, out],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                errors="replace")
        found = re.search(r"Collected\s*:\s*(\d+)", result.stderr)
        if result.returncode != 0 or not found:
            sys.exit("bench: callgrind on %s failed\n%s" % (name, result.stderr))
        return int(found.group(1))

    def limits(self):
        step = (256 if self.args.quick else 16) << 10
        print("\n== Address space limits (prlimit --as) from %d to %d MiB in steps of %d KiB"
              % (limits.LOWEST >> 20, limits.HIGHEST >> 20, step >> 10))
        if not limits.have_prlimit():
            print("  skipped: prlimit not installed")
            self.verdict("no run under a limit ends by a signal", None, "skipped", "0 runs")
            return
        wrong = 0
        for program, source in limits.inputs(self.data):
            sweep = limits.Sweep(os.path.join(self.bin, program), program, source, self.data)
            for limit in range(limits.LOWEST, limits.HIGHEST + 1, step):
                sweep.status(limit)
            runs = sorted(sweep.statuses.items())
            starts = next((limit for limit, status in runs if status != limits.LOADER_FAILED), None)
            print("  %-26s runs from %s, statuses %s" % (sweep.name(), kib(starts >> 10) if starts else "-",
                                                          sweep.counts()))
            for problem in sweep.problems:
                print("    " + problem)
            wrong += len(sweep.problems)
        self.verdict("runs under a limit that end by a signal or wrongly", wrong == 0,
                     "%d runs" % wrong, "0 runs")
        self.failed = self.failed or wrong != 0

    def summary(self):
        print("\n== Targets")
        for what, met, measured, target in self.verdicts:
            state = "skipped" if met is None else "met" if met else "MISSED"
            print("  %-7s %-58s %-14s %s" % (state, what, measured, target))


def size_list(text):
    return [int(float(part) * MB) for part in text.split(",")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder holding rakemo and lusivo")
    parser.add_argument("--data", required=True, help="folder for inputs and outputs")
    parser.add_argument("--quick", action="store_true", help="small sizes, for development")
    parser.add_argument("--size", type=float, help="image size in MB for the throughput section")
    parser.add_argument("--repeat", type=int, help="rounds per section")
    parser.add_argument("--only", help="the sections to run, of: throughput,scaling,lines,memory,instructions,startup,limits")
    args = parser.parse_args()
    size = args.size or float(os.environ.get("BENCH_SIZE_MB", 10 if args.quick else 100))
    args.size = int(size * MB)
    args.repeat = args.repeat or int(os.environ.get("BENCH_REPEAT", 3 if args.quick else 5))
    args.scaling = size_list("0.1,1,10" if args.quick else "1,10,100")
    args.lines = size_list("1,10" if args.quick else "10,100")
    args.callgrind = int((1 if args.quick else 10) * MB)
    args.startup_runs = 30 if args.quick else 300
    args.startup_image = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared",
                                      "corpus", "goodfet-goodfet42-mspgcc.hex")
    args.memory = int((30 if args.quick else 300) * MB)
    args.help_input = int((20 if args.quick else 200) * MB)
    os.makedirs(args.data, exist_ok=True)
    global BIN
    BIN = args.bin

    bench = Bench(args)
    print("bench: %s, nproc %d, %s, load average %.2f" % (
        time.strftime("%Y-%m-%d %H:%M"), len(os.sched_getaffinity(0)), " ".join(os.uname()[0:3:2]),
        os.getloadavg()[0]))
    sections = {"throughput": bench.comparison, "scaling": bench.scaling,
                "lines": bench.pathological, "memory": bench.memory, "instructions": bench.instructions,
                "startup": bench.startup,
                "limits": bench.limits}
    chosen = args.only.split(",") if args.only else list(sections)
    unknown = [name for name in chosen if name not in sections]
    if unknown:
        parser.error("unknown section %s" % ", ".join(unknown))
    bench.empty_runs()
    for name in chosen:
        sections[name]()
    bench.summary()
    for name in os.listdir(args.data):  # the inputs stay for the next run
        if name.startswith(("out-", "callgrind-")) or name in ("result.txt", "stderr.txt", "hyperfine.json"):
            os.remove(os.path.join(args.data, name))
    sys.exit(1 if bench.failed else 0)


if __name__ == "__main__":
    main()
