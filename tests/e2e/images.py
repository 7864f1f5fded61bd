"""Whole firmware images: the real ones of the corpus and of other projects
(the shared peer folder), generated ones
cross-checked with srecord's srec_cmp, and the round trip through both
programs.

An image is a list of blocks (start address, bytes), in file order. The
writers below lay an image out as Intel HEX or TI-TXT in the shapes other
toolchains write; the reader checks Intel HEX strictly (checksums, counts,
no record across 64 KiB) and gives the bytes at their addresses.
"""

import os
import random
import re
import shutil
import subprocess
import tempfile

import e2e
import screens as s

SEED = 20260430


# ---- Images ----

def random_image(rng, low=0, high=0x30000, crossing=(0x10000, 0x20000), blocks=(2, 7)):
    """Blocks with gaps between them (no two touch), one running over each
    of the given 64 KiB boundaries, the others anywhere, in a random file
    order."""
    spans = []  # (first, end) with end exclusive

    def free(first, end):
        return first >= low and end <= high and all(end < a or first > b for a, b in spans)

    for boundary in crossing:
        first = boundary - rng.randint(1, 300)
        spans.append((first, rng.randint(boundary + 1, boundary + 900)))
    wanted = rng.randint(*blocks) + len(crossing)
    for _ in range(1000):
        if len(spans) == wanted:
            break
        first = rng.randint(low, high - 1)
        end = first + rng.randint(1, 1500)
        if free(first, end):
            spans.append((first, end))
    image = [(a, bytes(rng.randrange(256) for _ in range(b - a))) for a, b in spans]
    rng.shuffle(image)
    return image


def image_size(image):
    return sum(len(data) for _, data in image)


def memory(image):
    return {start + i: b for start, data in image for i, b in enumerate(data)}


# ---- Writers ----

def hex_text(value, width, rng=None):
    text = f"{value:0{width}X}"
    return text.lower() if rng and rng.random() < 0.3 else text


def record(address, rtype, data, rng=None):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, rtype]) + data
    return ":" + "".join(hex_text(b, 2, rng) for b in body + bytes([-sum(body) & 0xFF]))


def write_ihex(image, rng, mode="linear", upper_case=False, line_end=None, longest=64):
    """Intel HEX. mode linear: type 04 records, data records may run across
    64 KiB; mode segment: type 02 records, data records split at 64 KiB;
    mode plain: 16-bit addresses, type 00 only."""
    case_rng = None if upper_case else rng
    lines = []
    if mode != "plain" and rng.random() < 0.5:
        lines.append(record(0, 4 if mode == "linear" else 2, b"\0\0", case_rng))
    base = 0
    for start, data in image:
        at = 0
        while at < len(data):
            address = start + at
            size = min(rng.randint(1, longest), len(data) - at)
            if mode != "linear":
                size = min(size, 0x10000 - (address & 0xFFFF))
            if address & ~0xFFFF != base:
                base = address & ~0xFFFF
                if mode == "linear":
                    lines.append(record(0, 4, (base >> 16).to_bytes(2, "big"), case_rng))
                else:
                    lines.append(record(0, 2, (base >> 4).to_bytes(2, "big"), case_rng))
            lines.append(record(address & 0xFFFF, 0, data[at:at + size], case_rng))
            at += size
    if mode != "plain" and rng.random() < 0.5:
        lines.append(record(0, 5 if mode == "linear" else 3, b"\0\0\x44\0", case_rng))
    lines.append(":00000001FF")
    end = line_end or (lambda: rng.choice([b"\r\n", b"\n"]))
    return b"".join(line.encode() + (end() if callable(end) else end) for line in lines)


def write_titxt(image, rng, shortest=1, longest=300):
    """TI-TXT with address lines in either case, data lines of random
    length, a blank before some line ends, and mixed line ends. Gives the
    text and the number of address lines."""
    out = []
    addresses = 0
    for start, data in image:
        at = 0
        while at < len(data):
            if at == 0 or rng.random() < 0.05:  # now and then a new address line in a block
                out.append("@" + hex_text(start + at, 4, rng))
                addresses += 1
            size = min(rng.randint(shortest, longest) if rng.random() < 0.5 else 16, len(data) - at)
            lower = rng.random() < 0.2
            line = " ".join(f"{b:02x}" if lower else f"{b:02X}" for b in data[at:at + size])
            out.append(line + (" " if rng.random() < 0.3 else ""))
            at += size
    out.append("q")
    text = b"".join(line.encode() + rng.choice([b"\r\n", b"\n", b"\r"]) for line in out)
    if rng.random() < 0.5:
        text = text.rstrip(b"\r\n")  # a final q without a line end
    return text, addresses


def write_segment_wraps(rng, segments=4):
    """Intel HEX of type 02 segments, each with a record that runs past the
    segment's end or ends exactly there, and one that goes on where its
    bytes went on: from the segment's end on, bytes belong at the segment's
    start. Gives the text and the image, two blocks a segment."""
    lines, image = [], []
    for n in range(segments):
        base = n * 0x20000 + rng.randrange(0x1000) * 16
        before = rng.randint(1, 120)  # bytes up to the segment's end
        after = rng.randint(1, 120) if n % 2 == 0 else 0  # bytes past it
        data = bytes(rng.randrange(256) for _ in range(before + after))
        more = bytes(rng.randrange(256) for _ in range(rng.randint(1, 60)))
        lines += [record(0, 2, (base >> 4).to_bytes(2, "big")), record(0x10000 - before, 0, data),
                  record(after, 0, more)]
        image += [(base + 0x10000 - before, data[:before]), (base, data[before:] + more)]
    lines.append(":00000001FF")
    return "".join(line + "\r\n" for line in lines).encode(), image


# ---- Reader ----

class BadHex(Exception):
    pass


def read_ihex(text):
    """The bytes of an Intel HEX file at their addresses, and its records
    as (type, address, data) with the address including the base."""
    found = {}
    records = []
    base = 0
    for number, line in enumerate(text.split(b"\r\n"), 1):
        if not line:
            continue
        if not re.fullmatch(rb":([0-9A-Fa-f]{2})+", line):
            raise BadHex(f"line {number}: {line[:40]!r} is no record")
        body = bytes.fromhex(line[1:].decode())
        if sum(body) & 0xFF or body[0] != len(body) - 5:
            raise BadHex(f"line {number}: wrong checksum or count")
        rtype, data = body[3], body[4:-1]
        address = base + (body[1] << 8 | body[2])
        if rtype == 0:
            if (address & 0xFFFF) + len(data) > 0x10000:
                raise BadHex(f"line {number}: a record across 64 KiB")
            for i, b in enumerate(data):
                if address + i in found:
                    raise BadHex(f"line {number}: address {address + i:X} given twice")
                found[address + i] = b
        elif rtype == 4:
            base = int.from_bytes(data, "big") << 16
        elif rtype == 1:
            records.append((rtype, address, data))
            break
        records.append((rtype, address, data))
    return found, records


def expected_ihex(image, longest=16):
    """Intel HEX as lusivo writes it for the TI-TXT that rakemo makes of
    this image: each block in lines of 16 bytes, one record per line, split
    at 64 KiB, with a type 04 record where the upper address bits change."""
    lines = []
    announced = 0
    for start, data in image:
        for at in range(0, len(data), longest):
            address = start + at
            line = data[at:at + longest]
            while line:
                size = min(len(line), 0x10000 - (address & 0xFFFF))
                if address >> 16 != announced:
                    announced = address >> 16
                    lines.append(record(0, 4, announced.to_bytes(2, "big")))
                lines.append(record(address & 0xFFFF, 0, line[:size]))
                address += size
                line = line[size:]
    lines.append(":00000001FF")
    return b"".join(line.encode() + b"\r\n" for line in lines)


# ---- Running ----

def convert(ctx, program, source, output, folder):
    stdout, status = e2e.run(ctx, program, [source, output], folder)
    out_path = os.path.join(folder, output)
    data = b""
    if os.path.exists(out_path):
        with open(out_path, "rb") as f:
            data = f.read()
    return stdout, status, data


def check_run(program, source, output, stdout, status, bytes_converted, address_ranges):
    problems = []
    if status != 0:
        problems.append(f"{program} ended with status {status}")
    want = s.completed(program, source, output, bytes_converted, address_ranges)
    if stdout != want:
        problems.append(e2e.describe(f"{program}'s stdout", stdout, want))
    return problems


def srec_cmp(first, first_format, second, second_format, cwd):
    done = subprocess.run(["srec_cmp", first, first_format, second, second_format], cwd=cwd,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=e2e.TIMEOUT)
    if done.returncode == 0:
        return []
    text = done.stdout.decode(errors="replace").strip()
    return [f"srec_cmp {first} {first_format} {second} {second_format}: {text[:600]}"]


def report(ctx, name, problems):
    if problems:
        ctx.fail(name, "\n  ".join(problems))
    else:
        ctx.ok(name)


def in_folder(body):
    folder = tempfile.mkdtemp(prefix="e2e-")
    try:
        return body(folder)
    except subprocess.TimeoutExpired:
        return [f"no end within {e2e.TIMEOUT} s"]
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def save(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def have_srec_cmp(ctx, group):
    if shutil.which("srec_cmp"):
        return True
    ctx.skip(group, "srec_cmp is not installed (Debian package srecord)")
    return False


# ---- Corpus ----

def hex_counts(text):
    """Data bytes and address ranges of an Intel HEX file, for rakemo's
    statistic: a range goes on while a data record starts where the
    previous one ended."""
    total = ranges = 0
    base, expected = 0, None
    for line in re.split(rb"\r\n|\r|\n", text):
        line = line.strip()
        if len(line) < 11:
            continue
        count, address, rtype = int(line[1:3], 16), int(line[3:7], 16), int(line[7:9], 16)
        if rtype == 1:
            break
        if rtype in (2, 4):
            base = int(line[9:13], 16) << (4 if rtype == 2 else 16)
        elif rtype == 0:
            ranges += base + address != expected
            expected = base + address + count
            total += count
    return total, ranges


def titxt_counts(text):
    """Data bytes and address lines of a TI-TXT file."""
    total = addresses = 0
    for line in re.split(rb"\r\n|\r|\n", text):
        if line.startswith(b"q"):
            break
        if line.startswith(b"@"):
            addresses += 1
        else:
            total += len(line.split())
    return total, addresses


def corpus_group(ctx):
    if not have_srec_cmp(ctx, "corpus"):
        return
    peer_images(ctx)
    corpus = os.path.abspath(ctx.corpus)
    if not os.path.isdir(corpus):
        ctx.skip("corpus", f"no corpus folder at {corpus}")
        return
    names = sorted(os.listdir(corpus))
    for name in names:
        path = os.path.join(corpus, name)
        with open(path, "rb") as f:
            text = f.read()
        if name == "otp-handspaced.hex":
            # Blanks between the fields: srec_cat refuses it, the lenient
            # reading takes it without a message.
            def accepted(folder, path=path):
                _, status, _ = convert(ctx, "rakemo", path, "out.txt", folder)
                return [] if status == 0 else [f"status {status}"]
            report(ctx, f"corpus {name} accepted", in_folder(accepted))
        elif name.endswith(".hex"):
            def to_titxt(folder, path=path, text=text):
                stdout, status, _ = convert(ctx, "rakemo", path, "out.txt", folder)
                return (check_run("rakemo", path, "out.txt", stdout, status, *hex_counts(text)) +
                        srec_cmp(path, "-intel", "out.txt", "-ti-txt", folder))
            report(ctx, f"corpus {name} through rakemo", in_folder(to_titxt))
        elif name.endswith(".txt") and name != "SOURCES.md":
            def to_hex(folder, path=path, text=text):
                stdout, status, _ = convert(ctx, "lusivo", path, "out.hex", folder)
                return (check_run("lusivo", path, "out.hex", stdout, status, *titxt_counts(text)) +
                        srec_cmp(path, "-ti-txt", "out.hex", "-intel", folder))
            report(ctx, f"corpus {name} through lusivo", in_folder(to_hex))

    titxt = os.path.join(corpus, "otp-ccs-titxt.txt")
    intel = os.path.join(corpus, "otp-ccs-intel.hex")
    if os.path.exists(titxt) and os.path.exists(intel):
        def each_way(folder):
            problems = []
            if convert(ctx, "lusivo", titxt, "from-titxt.hex", folder)[1] != 0:
                problems.append("lusivo failed")
            if convert(ctx, "rakemo", intel, "from-intel.txt", folder)[1] != 0:
                problems.append("rakemo failed")
            return (problems +
                    srec_cmp("from-titxt.hex", "-intel", "from-intel.txt", "-ti-txt", folder) +
                    srec_cmp("from-titxt.hex", "-intel", intel, "-intel", folder) +
                    srec_cmp("from-intel.txt", "-ti-txt", titxt, "-ti-txt", folder))
        report(ctx, "corpus otp-ccs pair converted each way agrees", in_folder(each_way))


# ---- Shared images of other projects ----

# Files whose conversion is expected to differ from what srec_cat reads,
# each for a reading of ours; a case fails once they agree, so the entry can go.
PEER_DIFFERENT = {
    "srecord-t0111a-in.txt": 'ends in "Q": only a lower-case "q" ends the image, "Q" is a data line',
}

# By extension: the program that converts the file, the formats for srecord
# of the source and of the output, and the program that converts it back.
PEER_DIRECTIONS = {
    ".hex": ("rakemo", "-intel", "-ti-txt", "lusivo"),
    ".txt": ("lusivo", "-ti-txt", "-intel", "rakemo"),
}


def srec_cat_reads(path, source_format):
    done = subprocess.run(["srec_cat", path, source_format, "-o", "/dev/null"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=e2e.TIMEOUT)
    return done.returncode == 0


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def peer_converted(ctx, path, direction):
    """Converted, the same image as srec_cat reads; and back again."""
    program, source_format, output_format, back = direction
    output, again = "out" + output_format, "back" + source_format

    def body(folder):
        problems = []
        if convert(ctx, program, path, output, folder)[1] != 0:
            problems.append(f"{program} failed")
        problems += srec_cmp(path, source_format, output, output_format, folder)
        if convert(ctx, back, output, again, folder)[1] != 0:
            problems.append(f"{back} failed on the way back")
        return problems + srec_cmp(path, source_format, again, source_format, folder)
    return in_folder(body)


def peer_different(ctx, path, direction):
    program, source_format, output_format, _ = direction

    def body(folder):
        problems = []
        if convert(ctx, program, path, "out", folder)[1] != 0:
            problems.append(f"{program} failed")
        if not srec_cmp(path, source_format, "out", output_format, folder):
            problems.append("srec_cmp finds the same image: drop the file from PEER_DIFFERENT")
        return problems
    return in_folder(body)


def peer_refused(ctx, path, direction):
    """A file srec_cat refuses: converted or reported, never a signal, and
    the source is only read."""
    program = direction[0]
    before = file_bytes(path)

    def body(folder):
        problems = []
        status = convert(ctx, program, path, "out", folder)[1]
        if status < 0:
            problems.append(f"{program} ended by signal {-status}")
        elif status not in (0, 1):
            problems.append(f"{program} ended with status {status}")
        if file_bytes(path) != before:
            problems.append("the source changed")
        return problems
    return in_folder(body)


def peer_images(ctx):
    peer = os.path.abspath(ctx.peer)
    if not os.path.isdir(peer):
        ctx.skip("peer", f"no folder of shared images at {peer}")
        return
    for name in sorted(os.listdir(peer)):
        direction = PEER_DIRECTIONS.get(os.path.splitext(name)[1])
        if not direction:
            continue
        path = os.path.join(peer, name)
        if name in PEER_DIFFERENT:
            report(ctx, f"peer {name} differs from srec_cat's reading: {PEER_DIFFERENT[name]}",
                   peer_different(ctx, path, direction))
        elif srec_cat_reads(path, direction[1]):
            report(ctx, f"peer {name} through {direction[0]} and back", peer_converted(ctx, path, direction))
        else:
            report(ctx, f"peer {name}, refused by srec_cat: status 0 or 1, source unchanged",
                   peer_refused(ctx, path, direction))


# ---- Cross-check with srec_cmp on generated images ----

def srec_group(ctx):
    if not have_srec_cmp(ctx, "srec"):
        return
    rng = random.Random(SEED)
    for n in range(6):
        image = random_image(rng)
        text, addresses = write_titxt(image, rng)

        def titxt_to_hex(folder, image=image, text=text, addresses=addresses):
            save(folder, "in.txt", text)
            stdout, status, out = convert(ctx, "lusivo", "in.txt", "out.hex", folder)
            problems = check_run("lusivo", "in.txt", "out.hex", stdout, status,
                                 image_size(image), addresses)
            try:
                if read_ihex(out)[0] != memory(image):
                    problems.append("the Intel HEX holds other bytes than the image")
            except BadHex as bad:
                problems.append(f"lusivo's Intel HEX: {bad}")
            return problems + srec_cmp("in.txt", "-ti-txt", "out.hex", "-intel", folder)
        report(ctx, f"srec image {n}: TI-TXT with lines of 1 to 300 bytes through lusivo",
               in_folder(titxt_to_hex))

    for n, mode in enumerate(["linear", "segment", "linear", "segment", "linear", "segment"]):
        image = random_image(rng)
        text = write_ihex(image, rng, mode=mode, longest=rng.choice([16, 32, 255]))

        def hex_to_titxt(folder, image=image, text=text):
            save(folder, "in.hex", text)
            stdout, status, _ = convert(ctx, "rakemo", "in.hex", "out.txt", folder)
            return (check_run("rakemo", "in.hex", "out.txt", stdout, status,
                              image_size(image), len(image)) +
                    srec_cmp("in.hex", "-intel", "out.txt", "-ti-txt", folder))
        report(ctx, f"srec image {n}: Intel HEX ({mode}) through rakemo", in_folder(hex_to_titxt))

    # Records past the end of their type 02 segment: each segment gives two
    # ranges, its end and its start.
    for n in range(3):
        text, image = write_segment_wraps(rng)

        def wraps_to_titxt(folder, image=image, text=text):
            save(folder, "in.hex", text)
            stdout, status, _ = convert(ctx, "rakemo", "in.hex", "out.txt", folder)
            return (check_run("rakemo", "in.hex", "out.txt", stdout, status, image_size(image), len(image)) +
                    srec_cmp("in.hex", "-intel", "out.txt", "-ti-txt", folder))
        report(ctx, f"srec segments {n}: records past their segment's end through rakemo",
               in_folder(wraps_to_titxt))


# ---- Round trip ----

def round_trip(ctx, image, source):
    def body(folder):
        save(folder, "in.hex", source)
        stdout, status, _ = convert(ctx, "rakemo", "in.hex", "mid.txt", folder)
        problems = check_run("rakemo", "in.hex", "mid.txt", stdout, status, image_size(image), len(image))
        stdout, status, back = convert(ctx, "lusivo", "mid.txt", "back.hex", folder)
        problems += check_run("lusivo", "mid.txt", "back.hex", stdout, status, image_size(image), len(image))
        try:
            found, records = read_ihex(back)
            if found != memory(image):
                problems.append("bytes moved or changed on the way back")
            if any(rtype == 0 and len(data) > 16 for rtype, _, data in records):
                problems.append("a record of more than 16 bytes")
        except BadHex as bad:
            problems.append(f"lusivo's Intel HEX: {bad}")
        want = expected_ihex(image)
        if back != want:
            problems.append(e2e.describe("back.hex", back, want))
        return problems
    return in_folder(body)


def round_trip_group(ctx):
    rng = random.Random(SEED + 1)
    for n in range(3):
        image = random_image(rng, high=0x10000, crossing=())
        source = write_ihex(image, rng, mode="plain", upper_case=True, line_end=b"\r\n")
        report(ctx, f"round trip {n}: 16-bit addresses, upper case", round_trip(ctx, image, source))
    for n in range(3):
        image = random_image(rng, low=0x10000, high=0x40000, crossing=(0x20000, 0x30000))
        source = write_ihex(image, rng, mode="linear", upper_case=True, line_end=b"\r\n")
        report(ctx, f"round trip {n}: MSP430X image above 0x10000", round_trip(ctx, image, source))
