#!/usr/bin/env python3
"""Benchmark inputs for rakemo and lusivo, the same bytes for the same seed.

  gen.py image SIZE SEED OUT.hex OUT.txt
      A firmware image of about SIZE bytes of Intel HEX text: blocks of
      random length at random addresses spread over the whole 32-bit
      address space, 16 data bytes per record, an extended linear address
      record (type 04) wherever the upper 16 address bits change. OUT.txt
      is the same image in TI-TXT, 16 bytes per data line. The two files
      are written exactly as lusivo and rakemo write them, so each is the
      expected output of converting the other.
  gen.py hexline SIZE OUT.hex
      One Intel HEX data record line of SIZE characters, then the end record.
  gen.py txtline SIZE OUT.txt
      An address line, one TI-TXT data line of about SIZE characters, "q".
  gen.py empty OUT
      An empty file.

Lines end with CR LF, as both programs write them.
"""
import random
import sys

CRLF = b"\r\n"
SEGMENT = 0x10000
SPACE = 1 << 32
HEX_RECORD_TEXT = 45  # ":10AAAA00" + 32 digits + checksum + CR LF
MAX_BLOCK = 256 * 1024


def checksum(pairs_sum):
    return (-pairs_sum) & 0xFF


def hex_record(address, data, digits):
    """One type 00 record; digits is data as upper-case hexadecimal text."""
    n = len(data)
    head = n + (address >> 8 & 0xFF) + (address & 0xFF)
    return b":%02X%04X00%s%02X\r\n" % (n, address & 0xFFFF, digits,
                                        checksum(head + sum(data)))


def upper_record(upper):
    return b":02000004%04X%02X\r\n" % (upper, checksum(6 + (upper >> 8) + (upper & 0xFF)))


def plan_blocks(rng, size):
    """Block lengths until the Intel HEX text reaches size bytes, then
    start addresses (multiples of 16) spread over the address space."""
    lengths = []
    text = len(b":00000001FF\r\n")
    while text < size:
        room = max(16, (size - text) // HEX_RECORD_TEXT * 16)  # the last block fills up
        length = min(rng.randrange(1, MAX_BLOCK + 1), room)
        lengths.append(length)
        text += (length + 15) // 16 * HEX_RECORD_TEXT + (length // SEGMENT + 1) * 17
    units = [(length + 15) // 16 for length in lengths]
    free = SPACE // 16 - sum(units) - len(units)
    points = sorted(rng.randrange(free) for _ in lengths)
    starts, used = [], 0
    for point, unit in zip(points, units):
        starts.append((point + used) * 16)
        used += unit + 1  # at least 16 bytes of gap: every block is a range of its own
    return list(zip(starts, lengths))


def write_block(hex_out, txt_out, address, data, announced):
    digits = data.hex().upper().encode()
    spaced = data.hex(" ").upper().encode()
    txt_out.write(b"@%04X\r\n" % address)
    for offset in range(0, len(data), 16):
        here = address + offset
        if here >> 16 != announced:
            announced = here >> 16
            hex_out.write(upper_record(announced))
        hex_out.write(hex_record(here, data[offset:offset + 16],
                                 digits[2 * offset:2 * offset + 32]))
        txt_out.write(spaced[3 * offset:3 * offset + 47] + CRLF)
    return announced


def image(size, seed, hex_name, txt_name):
    rng = random.Random(seed)
    with open(hex_name, "wb", buffering=1 << 20) as hex_out, \
         open(txt_name, "wb", buffering=1 << 20) as txt_out:
        announced = 0
        for address, length in plan_blocks(rng, size):
            announced = write_block(hex_out, txt_out, address, rng.randbytes(length), announced)
        hex_out.write(b":00000001FF\r\n")
        txt_out.write(b"q\r\n")


def long_digits(count, out, spaced):
    """count random bytes as hexadecimal text, in slices of 1 MiB."""
    rng = random.Random(count)
    while count > 0:
        piece = min(count, 1 << 20)
        data = rng.randbytes(piece)
        text = data.hex(" ").upper() if spaced else data.hex().upper()
        count -= piece
        out.write(text.encode() + (b" " if spaced and count > 0 else b""))


def hex_line(size, name):
    with open(name, "wb") as out:
        out.write(b":FF000000")
        long_digits(max(size - 9, 2) // 2, out, spaced=False)
        out.write(b"\r\n:00000001FF\r\n")


def txt_line(size, name):
    with open(name, "wb") as out:
        out.write(b"@0000\r\n")
        long_digits(max((size + 1) // 3, 1), out, spaced=True)
        out.write(b"\r\nq\r\n")


def main(argv):
    kind = argv[1] if len(argv) > 1 else ""
    if kind == "image" and len(argv) == 6:
        image(int(argv[2]), int(argv[3]), argv[4], argv[5])
    elif kind == "hexline" and len(argv) == 4:
        hex_line(int(argv[2]), argv[3])
    elif kind == "txtline" and len(argv) == 4:
        txt_line(int(argv[2]), argv[3])
    elif kind == "empty" and len(argv) == 3:
        open(argv[2], "wb").close()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
