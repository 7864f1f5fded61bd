"""The end-to-end cases: one row per case.

Sources and expected outputs are typed from the descriptions of the two
formats and of the conversions; a line list is joined with CR LF unless a
case is about other line ends. Records that are too long to type are built
by rec(), which computes the checksum as Intel HEX prescribes.
"""

import os

from e2e import ABSENT, Case, FifoIn, FifoOut, Folder, HardLink, Symlink
import screens as s


def crlf(*lines):
    return b"".join(line.encode("latin-1") + b"\r\n" for line in lines)


def joined(end, *lines, last=True):
    """Lines joined with the given line end; last=False leaves the last
    line without one."""
    text = end.join(line.encode("latin-1") for line in lines)
    return text + end if last else text


def rec(address, data, rtype=0):
    """An Intel HEX record in upper case; data as bytes."""
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, rtype]) + data
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper()


def ext(upper):
    """The extended linear address record for these upper 16 bits."""
    return rec(0, upper.to_bytes(2, "big"), 4)


def pieces(data):
    return " ".join(f"{b:02X}" for b in data)


END = ":00000001FF"


def convert(program, source, output, bytes_converted, address_ranges, name="", **more):
    """A completed run of a.hex/a.txt into b.txt/b.hex."""
    src, out = ("a.hex", "b.txt") if program == "rakemo" else ("a.txt", "b.hex")
    return Case(name, program, [src, out],
                s.completed(program, src, out, bytes_converted, address_ranges), 0,
                files={src: source}, outputs={out: output}, **more)


def fatal(ctx, program, source, kind, message, name=""):
    """A run that the fatal error report ends: the output it would have
    created does not exist."""
    src, out = ("a.hex", "b.txt") if program == "rakemo" else ("a.txt", "b.hex")
    return Case(name, program, [src, out],
                s.files_opened(program, src, out) + ctx.fatal(program, kind, message), 1,
                files={src: source}, outputs={out: ABSENT})


def named(name, case):
    case.name = name
    return case


# ---- rakemo ----

HEX_EXAMPLE_1 = [
    ":10C00000000102030405060708090A0B0C0D0E0FB8",
    ":10C01000101112131415161718191A1B1C1D1E1FA8",
    ":04C020002021222396",
    ":00000001FF",
]
TXT_EXAMPLE_1 = crlf(
    "@C000",
    "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
    "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F",
    "20 21 22 23",
    "q")
HEX_EXAMPLE_2 = [
    ":08E800000102030405060708EC",
    ":0CE80800090A0B0C0D0E0F101112131456",
    ":04FFE000AABBCCDD0F",
    ":02FFFE0000F011",
    ":00000001FF",
]
TXT_EXAMPLE_2 = crlf(
    "@E800",
    "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
    "11 12 13 14",
    "@FFE0",
    "AA BB CC DD",
    "@FFFE",
    "00 F0",
    "q")

SIXTEEN = bytes(range(16))


def rakemo_cases(ctx):
    r = "rakemo"
    help_screen = s.help_screen(r)
    no_file = {}
    return [
        # Worked examples.
        named("example 1: one range over three records",
              convert(r, crlf(*HEX_EXAMPLE_1), TXT_EXAMPLE_1, 36, 1)),
        named("example 2: address gaps, a data line from two records",
              convert(r, crlf(*HEX_EXAMPLE_2), TXT_EXAMPLE_2, 26, 3)),
        named("example 3: extended and start address records write nothing",
              convert(r, crlf(":020000040000FA",
                              ":10E00000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF98",
                              ":040000050000E00017",
                              ":00000001FF"),
                      crlf("@E000", "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF", "q"),
                      16, 1)),
        named("example 4: no end record",
              convert(r, crlf(":10C00000000102030405060708090A0B0C0D0E0FB8", ":04C0100010111213E6"),
                      crlf("@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
                           "10 11 12 13", "q"), 20, 1)),
        named("example 5: short lines, a short record, a record behind the end",
              convert(r, crlf("", ":0000", ":04C0000011", ":00000001FF",
                              ":10D00000000102030405060708090A0B0C0D0E0FB8"),
                      crlf("@C000", "11   ", "q"), 4, 1)),

        # Line ends and Ctrl-Z.
        named("LF line ends", convert(r, joined(b"\n", *HEX_EXAMPLE_1), TXT_EXAMPLE_1, 36, 1)),
        named("CR line ends", convert(r, joined(b"\r", *HEX_EXAMPLE_2), TXT_EXAMPLE_2, 26, 3)),
        named("mixed line ends, LF CR is two",
              convert(r, HEX_EXAMPLE_1[0].encode() + b"\n" + HEX_EXAMPLE_1[1].encode() + b"\r" +
                      HEX_EXAMPLE_1[2].encode() + b"\n\r" + HEX_EXAMPLE_1[3].encode() + b"\r\n",
                      TXT_EXAMPLE_1, 36, 1)),
        named("last line without a line end",
              convert(r, joined(b"\r\n", *HEX_EXAMPLE_1, last=False), TXT_EXAMPLE_1, 36, 1)),
        named("Ctrl-Z inside a line ends the input",
              convert(r, crlf(":10C00000000102030405060708090A0B0C0D0E0FB8") +
                      b":04C0100010111213\x1aE6\r\n:00000001FF\r\n",
                      crlf("@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
                           "10 11 12 13", "q"), 20, 1)),
        named("Ctrl-Z as the first byte", convert(r, b"\x1a" + crlf(*HEX_EXAMPLE_1), crlf("q"), 0, 0)),

        # Edges of the record reading.
        named("empty source", convert(r, b"", crlf("q"), 0, 0)),
        named("only short lines", convert(r, crlf("", ":", ":00000001"), crlf("q"), 0, 0)),
        named("end record of 10 characters, fields not read",
              convert(r, crlf(":zzzzzz01z", ":zz"), crlf("q"), 0, 0)),
        named("count 00 opens a range, the next record continues it",
              convert(r, crlf(":00C0000040", ":02C00000AABBD9", END),
                      crlf("@C000", "AA BB", "q"), 2, 1)),
        named("two records at one address: two ranges",
              convert(r, crlf(":02C00000AABBD9", ":02C00000CCDD95", END),
                      crlf("@C000", "AA BB", "@C000", "CC DD", "q"), 4, 2)),
        named("a range reaching FFFF, then 0000 opens a new one",
              convert(r, crlf(rec(0xFFFE, b"\xAA\xBB"), rec(0x0000, b"\xCC\xDD"), END),
                      crlf("@FFFE", "AA BB", "@0000", "CC DD", "q"), 4, 2)),
        named("blank address and count fields read as -1",
              convert(r, crlf(":02    00AABB00", ":  C00000CCDD", ":02BFFF00EEFF00", END),
                      crlf("AA BB", "@C000", "EE FF", "q"), 4, 1)),
        named("17 bytes: a full data line and one piece",
              convert(r, crlf(rec(0xC000, bytes(range(17))), END),
                      crlf("@C000", pieces(SIXTEEN), "10", "q"), 17, 1)),
        named("count one more than the data: the checksum is the last piece",
              convert(r, crlf(":03C00000AABB00", END), crlf("@C000", "AA BB 00", "q"), 3, 1)),

        # Lower-case hexadecimal digits.
        named("lower case: count read, address and data copied as written",
              convert(r, crlf(":0ac000000102030405060708090a00", END),
                      crlf("@c000", "01 02 03 04 05 06 07 08 09 0a", "q"), 10, 1)),
        named("lower case in an extended address: the address line is upper case",
              convert(r, crlf(":0200000400abXX", ":02c01000aabbXX", END),
                      crlf("@ABC010", "aa bb", "q"), 2, 1)),

        # Extended and start address records.
        named("type 04 above 64 KiB gives a five-digit address line",
              convert(r, crlf(":020000040001F9", rec(0, SIXTEEN), END),
                      crlf("@10000", pieces(SIXTEEN), "q"), 16, 1)),
        named("type 02: base is 16 times its value",
              convert(r, crlf(":020000021000EC", rec(0x0010, SIXTEEN[:4]), END),
                      crlf("@10010", "00 01 02 03", "q"), 4, 1)),
        named("a range running past FFFF continues after type 04",
              convert(r, crlf(rec(0xFFF8, SIXTEEN), ":020000040001F9",
                              rec(0x0008, bytes(range(16, 32))), END),
                      crlf("@FFF8", pieces(SIXTEEN), pieces(range(16, 32)), "q"), 32, 1)),
        named("the later of types 02 and 04 sets the base",
              convert(r, crlf(":020000040001F9", ":020000020000FC", ":02C00000AABBD9", END),
                      crlf("@C000", "AA BB", "q"), 2, 1)),
        named("start address records inside a range are skipped",
              convert(r, crlf(":02C00000AABBD9", ":0400000300003100C8", ":040000050000C00037",
                              ":02C00200CCDD93", END),
                      crlf("@C000", "AA BB CC DD", "q"), 4, 1)),
        named("an unknown record type is data",
              convert(r, crlf(":02C0000601021234", END), crlf("@C000", "01 02", "q"), 2, 1)),

        # Invalid fields: the fatal report, status 1.
        named("invalid character in the address field",
              fatal(ctx, r, crlf(":02C00000AABBD9", ":02C0z000AABB00", END),
                    "EConvertError", s.not_an_integer("z"))),
        named("invalid character in the count field, after its address line",
              fatal(ctx, r, crlf(":02E00000AABB00", ":0zC00000AABB00", END),
                    "EConvertError", s.not_an_integer("z"))),
        named("the last of several bad characters is named",
              fatal(ctx, r, crlf(":02G0H000AABB00"), "EConvertError", s.not_an_integer("H"))),
        named("a blank inside the address field",
              fatal(ctx, r, crlf(":02C0 000AABB00"), "EConvertError", s.not_an_integer(" "))),
        named("type 04 with an empty field",
              fatal(ctx, r, crlf(":02000004    ", END), "EConvertError", s.not_an_integer(""))),
        named("type 02 with a bad field",
              fatal(ctx, r, crlf(":020000021x00EC", END), "EConvertError", s.not_an_integer("x"))),

        # Help screen and the command line.
        Case("no parameters: help", r, [], help_screen, 0),
        Case("one parameter: help", r, ["a.hex"], help_screen, 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1)}),
        Case("an empty parameter is left out", r, ["a.hex", ""], help_screen, 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1)}),
        Case("-h after two file names: no file touched", r, ["a.hex", "b.txt", "-h"], help_screen, 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1), "b.txt": b"old\r\n"}),
        Case("/h first", r, ["/h", "a.hex", "b.txt"], help_screen, 0, files=no_file),
        Case("-H between the file names", r, ["a.hex", "-H", "b.txt"], help_screen, 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1)}),
        Case("/H as parameter string after -p", r, ["a.hex", "b.txt", "-p", "/H"], help_screen, 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1)}),
        Case("-help, --h, -hx and h are no help switches", r,
             ["a.hex", "b.txt", "-help", "--h", "-hx", "h"],
             s.completed(r, "a.hex", "b.txt", 36, 1), 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1)}, outputs={"b.txt": TXT_EXAMPLE_1}),
        Case("empty parameters between the file names are left out", r, ["a.hex", "", "b.txt"],
             s.completed(r, "a.hex", "b.txt", 36, 1), 0,
             files={"a.hex": crlf(*HEX_EXAMPLE_1)}, outputs={"b.txt": TXT_EXAMPLE_1}),
        Case("help pause with a line waiting", r, ["-h"], help_screen, 0,
             stdin=b"weiter\r\nnoch eine Zeile\r\n"),
        Case("help pause ended by LF alone", r, ["-h"], help_screen, 0, stdin=b"\n"),
        Case("help pause on a line of 3 MB", r, ["-h"], help_screen, 0,
             stdin=b"x" * 3_000_000 + b"\r\nnoch eine Zeile\r\n"),
        Case("help pause on 3 MB without a line end reads to the end", r, ["-h"], help_screen, 0,
             stdin=b"0" * 3_000_000),
        Case("help pause waits on a terminal, then the second page follows", r, ["-h"],
             help_screen, 0, stdin=b"\n", terminal=True, env={"LC_ALL": "C"},
             pause=s.banner(r) + s.rakemo_help_first_page()),
        Case("a file name with a blank is one parameter", r, ["my image.hex", "out file.txt"],
             s.completed(r, "my image.hex", "out file.txt", 36, 1), 0,
             files={"my image.hex": crlf(*HEX_EXAMPLE_1)}, outputs={"out file.txt": TXT_EXAMPLE_1}),
    ]


# ---- lusivo ----

TXT_SOURCE_1 = [
    "@1100",
    "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
    "11 12 13 14",
    "@FFFE",
    "00 11",
    "q",
]
HEX_OUTPUT_1 = crlf(
    ":101100000102030405060708090A0B0C0D0E0F1057",
    ":041110001112131491",
    ":02FFFE000011F0",
    END)


def lusivo_cases(ctx):
    lu = "lusivo"
    help_screen = s.help_screen(lu)
    line_300 = bytes(b % 256 for b in range(300))
    return [
        # Worked examples.
        named("example 1: two address lines and an end line",
              convert(lu, crlf(*TXT_SOURCE_1), HEX_OUTPUT_1, 22, 2)),
        named("example 2: data before the first address line, no end line",
              convert(lu, joined(b"\r\n", "A5 5A", "", "@2000", "FF", last=False),
                      crlf(":02000000A55AFF", ":01200000FFE0", END), 3, 1)),
        named("example 3: irregular spacing, lines after the end line",
              convert(lu, crlf("@E000", "0102 03", "01   02   03", "AB CD ", "q", "@1234", "55"),
                      crlf(":02E0000001020318", ":04E0020001020314", ":02E00600ABCDA0", END), 8, 1)),
        named("example 4: pairs summing to a multiple of 256",
              convert(lu, crlf("@C000", "1F 1F", "q"), crlf(":02C000001F1F00", END), 2, 1)),

        # Edge cases of the line kinds.
        named("empty source", convert(lu, b"", crlf(END), 0, 0)),
        named("q alone", convert(lu, crlf("q"), crlf(END), 0, 0)),
        named("nothing after the first q is read", convert(lu, crlf("q", "q", "zz"), crlf(END), 0, 0)),
        named("no address line, no end line",
              convert(lu, crlf("12 34"), crlf(":020000001234B8", END), 2, 0)),
        named("an address line without data still counts",
              convert(lu, crlf("@C000", "@D000", "12 34", "q"), crlf(":02D000001234E8", END), 2, 2)),
        named("lines of one and two spaces",
              convert(lu, crlf("@C000", " ", "  ", "q"), crlf(":00C0000040", ":01C000003F", END), 1, 1)),
        named("quit is an end line", convert(lu, crlf("@C000", "quit", "55"), crlf(END), 0, 1)),
        named("a tab is copied and read as 0 by the checksum",
              convert(lu, crlf("@C000", "01\t02 03", "q"), crlf(":03C0000001\t02031C", END), 3, 1)),
        named("Q alone is a data line of count 0",
              convert(lu, crlf("@C000", "Q", "q"), crlf(":00C00000Q40", END), 0, 1)),

        # Lower-case digits.
        named("lower case: address read, data copied as written",
              convert(lu, crlf("@c000", "0a 0b", "q"), crlf(":02C000000a0b29", END), 2, 1)),

        # Addresses: all characters after the @, up to 32 bits.
        named("five-digit address",
              convert(lu, crlf("@10000", "12 34", "q"), crlf(ext(1), ":020000001234B8", END), 2, 1)),
        named("@C0001 is 0xC0001",
              convert(lu, crlf("@C0001", "12 34", "q"), crlf(ext(0xC), ":020001001234B7", END), 2, 1)),
        named("blanks around the address and a leading zero",
              convert(lu, crlf("@ C000", "12 34", "@C000 ", "12 34", "@0C000", "12 34", "q"),
                      crlf(":02C000001234F8", ":02C000001234F8", ":02C000001234F8", END), 6, 3)),
        named("lower-case five-digit address",
              convert(lu, crlf("@1c400", "12 34", "q"), crlf(ext(1), ":02C400001234F4", END), 2, 1)),
        named("@FFFFFFFF: split at the top, the address wraps to 0",
              convert(lu, crlf("@FFFFFFFF", "AA BB", "q"),
                      crlf(ext(0xFFFF), ":01FFFF00AA57", ext(0), ":01000000BB44", END), 2, 1)),

        # Records at and above 0x10000, and long lines.
        named("a line crossing 0x10000 is split, the next line goes on above",
              convert(lu, crlf("@FFF8", pieces(SIXTEEN), "10 11", "@FFF0", "22", "q"),
                      crlf(rec(0xFFF8, SIXTEEN[:8]), ext(1), rec(0x0000, SIXTEEN[8:]),
                           rec(0x0008, b"\x10\x11"), ext(0), rec(0xFFF0, b"\x22"), END), 19, 2)),
        named("a line of 300 bytes gives records of 255 and 45",
              convert(lu, crlf("@1000", pieces(line_300), "q"),
                      crlf(rec(0x1000, line_300[:255]), rec(0x10FF, line_300[255:]), END), 300, 1)),
        named("a line of 300 bytes crossing 0x10000",
              convert(lu, crlf("@FF80", pieces(line_300), "q"),
                      crlf(rec(0xFF80, line_300[:128]), ext(1), rec(0x0000, line_300[128:]), END),
                      300, 1)),
        named("an irregular line split at 0x10000 keeps the rest of its data text",
              convert(lu, crlf("@FFFF", "0102 03", "q"),
                      crlf(":01FFFF000100", ext(1), ":010000000203FA", END), 2, 1)),
        named("a line of count 0 above 0x10000 is announced",
              convert(lu, crlf("@20000", " ", "q"), crlf(ext(2), ":0000000000", END), 0, 1)),

        # Line ends and Ctrl-Z.
        named("LF line ends", convert(lu, joined(b"\n", *TXT_SOURCE_1), HEX_OUTPUT_1, 22, 2)),
        named("CR line ends", convert(lu, joined(b"\r", *TXT_SOURCE_1), HEX_OUTPUT_1, 22, 2)),
        named("mixed line ends",
              convert(lu, b"@1100\n" + TXT_SOURCE_1[1].encode() + b"\r" + TXT_SOURCE_1[2].encode() +
                      b"\r\n@FFFE\n\r00 11\rq",
                      HEX_OUTPUT_1, 22, 2)),
        named("Ctrl-Z ends the input: end record after the last line read",
              convert(lu, crlf(*TXT_SOURCE_1[:3]) + b"\x1a" + crlf(*TXT_SOURCE_1[3:]),
                      crlf(":101100000102030405060708090A0B0C0D0E0F1057", ":041110001112131491", END),
                      20, 1)),
        named("Ctrl-Z as the first byte", convert(lu, b"\x1a" + crlf(*TXT_SOURCE_1), crlf(END), 0, 0)),

        # Invalid fields: the fatal report, status 1, no end record.
        named("invalid character in the address",
              fatal(ctx, lu, crlf("@C000", "12 34", "@C00z", "56", "q"),
                    "EConvertError", s.not_an_integer("z"))),
        named("a character behind the address",
              fatal(ctx, lu, crlf("@C000 x", "56", "q"), "EConvertError", s.not_an_integer("x"))),
        named("@C000x",
              fatal(ctx, lu, crlf("@C000x", "56", "q"), "EConvertError", s.not_an_integer("x"))),
        named("@ alone",
              fatal(ctx, lu, crlf("@", "56", "q"), "EConvertError", s.not_an_integer(""))),
        named("invalid character in a data line",
              fatal(ctx, lu, crlf("@C000", "12 34", "0g 11", "q"),
                    "EConvertError", s.not_an_integer("g"))),
        named("an address line that begins with a blank is data",
              fatal(ctx, lu, crlf(" @C000", "q"), "EConvertError", s.not_an_integer("@"))),

        # Help screen.
        Case("no parameters: help", lu, [], help_screen, 0),
        Case("one parameter: help", lu, ["a.txt"], help_screen, 0, files={"a.txt": crlf("q")}),
        Case("-h after two file names: no file touched", lu, ["a.txt", "b.hex", "-h"], help_screen, 0,
             files={"a.txt": crlf("q"), "b.hex": b"old\r\n"}),
        Case("/H first", lu, ["/H", "a.txt", "b.hex"], help_screen, 0),
        Case("help reads no standard input", lu, ["-H"], help_screen, 0, stdin=b"x\r\n"),
        Case("a file name with a blank is one parameter", lu, ["my image.txt", "out file.hex"],
             s.completed(lu, "my image.txt", "out file.hex", 22, 2), 0,
             files={"my image.txt": crlf(*TXT_SOURCE_1)}, outputs={"out file.hex": HEX_OUTPUT_1}),
    ]


# ---- The two file steps, and failures of the device ----

def failure_cases(ctx):
    r, lu = "rakemo", "lusivo"
    source = crlf(*HEX_EXAMPLE_1)
    old = b"an older file that is longer than what replaces it\r\n" * 20
    return [
        Case("rakemo: missing source, no output created", r, ["a.hex", "b.txt"],
             s.source_failed(r, "a.hex"), 2, outputs={"b.txt": ABSENT}),
        Case("lusivo: missing source, no output created", lu, ["a.txt", "b.hex"],
             s.source_failed(lu, "a.txt"), 2, outputs={"b.hex": ABSENT}),
        Case("missing source leaves an existing output unchanged", r, ["a.hex", "b.txt"],
             s.source_failed(r, "a.hex"), 2, files={"b.txt": old}),
        Case("source in a missing folder", r, ["nichts/a.hex", "b.txt"],
             s.source_failed(r, "nichts/a.hex"), 2),
        Case("a folder as source", r, ["sub", "b.txt"], s.source_failed(r, "sub"), 2,
             files={"sub": Folder()}),
        Case("lusivo: a folder as source", lu, ["sub", "b.hex"], s.source_failed(lu, "sub"), 2,
             files={"sub": Folder()}),
        Case("-p is the source name", r, ["-p", "b.txt"], s.source_failed(r, "-p"), 2),
        Case("output in a missing folder", r, ["a.hex", "nichts/b.txt"],
             s.output_failed(r, "a.hex", "nichts/b.txt"), 2, files={"a.hex": source}),
        Case("a folder as output", r, ["a.hex", "sub"], s.output_failed(r, "a.hex", "sub"), 2,
             files={"a.hex": source, "sub": Folder()}),
        Case("output is the source", r, ["a.hex", "a.hex"], s.output_failed(r, "a.hex", "a.hex"), 2,
             files={"a.hex": source}),
        Case("lusivo: output is the source", lu, ["a.txt", "a.txt"],
             s.output_failed(lu, "a.txt", "a.txt"), 2, files={"a.txt": crlf(*TXT_SOURCE_1)}),
        Case("output is the source through a symbolic link", r, ["a.hex", "link.txt"],
             s.output_failed(r, "a.hex", "link.txt"), 2,
             files={"a.hex": source, "link.txt": Symlink("a.hex")}, posix_only=True),
        Case("output is the source through a hard link", r, ["a.hex", "link.txt"],
             s.output_failed(r, "a.hex", "link.txt"), 2,
             files={"a.hex": source, "link.txt": HardLink("a.hex")}),
        Case("an existing output is replaced when the run completes", r, ["a.hex", "b.txt"],
             s.completed(r, "a.hex", "b.txt", 36, 1), 0,
             files={"a.hex": source, "b.txt": old}, outputs={"b.txt": TXT_EXAMPLE_1}),
        # The two names swapped: the user's files stay as they were.
        Case("rakemo: names swapped, the Intel HEX file stays as it was", r, ["b.txt", "a.hex"],
             s.files_opened(r, "b.txt", "a.hex") + ctx.fatal(r, "EConvertError", s.not_an_integer(" ")),
             1, files={"a.hex": source, "b.txt": TXT_EXAMPLE_1}),
        Case("lusivo: names swapped, the TI-TXT file stays as it was", lu, ["b.hex", "a.txt"],
             s.files_opened(lu, "b.hex", "a.txt") + ctx.fatal(lu, "EConvertError", s.not_an_integer(":")),
             1, files={"a.txt": crlf(*TXT_SOURCE_1), "b.hex": HEX_OUTPUT_1}),
        Case("a failure keeps an existing output byte for byte", lu, ["a.txt", "b.hex"],
             s.files_opened(lu, "a.txt", "b.hex") + ctx.fatal(lu, "EConvertError", s.not_an_integer("g")),
             1, files={"a.txt": crlf("@C000", "12 34", "0g 11", "q"), "b.hex": old}),
        Case("output on a full device", r, ["a.hex", "/dev/full"],
             s.files_opened(r, "a.hex", "/dev/full") +
             ctx.fatal(r, "EInOutError", s.in_out_error(112)), 1,
             files={"a.hex": source}, posix_only=True),
        Case("lusivo: output on a full device", lu, ["a.txt", "/dev/full"],
             s.files_opened(lu, "a.txt", "/dev/full") +
             ctx.fatal(lu, "EInOutError", s.in_out_error(112)), 1,
             files={"a.txt": crlf(*TXT_SOURCE_1)}, posix_only=True),
        Case("standard input closed: the help pause fails to read", r, ["-h"],
             s.banner(r) + s.rakemo_help_first_page() + ctx.fatal(r, "EInOutError", s.in_out_error(6)),
             1, closed=(0,), posix_only=True),
        Case("standard streams closed: no console text lands in the output", r, ["a.hex", "b.txt"],
             b"", 1, files={"a.hex": crlf(":02C0z000AABB00")},
             outputs={"b.txt": ABSENT}, closed=(0, 1), posix_only=True),
        Case("output on a character device is written, not emptied", r, ["a.hex", "/dev/null"],
             s.completed(r, "a.hex", "/dev/null", 36, 1), 0, files={"a.hex": source}, posix_only=True),
        Case("source is a FIFO", r, ["a.hex", "b.txt"], s.completed(r, "a.hex", "b.txt", 36, 1), 0,
             files={"a.hex": FifoIn(source)}, outputs={"b.txt": TXT_EXAMPLE_1}, posix_only=True),
        Case("output is a FIFO, written as it is", lu, ["a.txt", "b.hex"],
             s.completed(lu, "a.txt", "b.hex", 22, 2), 0,
             files={"a.txt": crlf(*TXT_SOURCE_1), "b.hex": FifoOut()},
             outputs={"b.hex": HEX_OUTPUT_1}, posix_only=True),
    ]


# ---- On a terminal ----

UTF8 = {"LANG": "C.UTF-8"}


def terminal_cases(ctx):
    """Standard output on a terminal. Where the locale's character set is
    UTF-8 the programs' own texts are UTF-8; anywhere else, and into a pipe,
    they are the bytes they are held in. Text from outside (file names, the
    programmer's parameter string, a character of the source) always stands
    as it is."""
    r, lu = "rakemo", "lusivo"
    source = crlf(*HEX_EXAMPLE_1)
    lusivo_help = s.help_screen(lu)
    lusivo_help_utf8 = s.help_screen(lu, utf8=True)
    # Names as bytes: "bild-ä.hex" in UTF-8, and one with the bytes of ü in
    # code page 850 (0x81) and in Windows-1252 (0xFC), which is no UTF-8.
    utf8_name, raw_bytes = b"bild-\xc3\xa4.hex", b"aus-\x81\xfc.txt"
    utf8_file, raw_file = os.fsdecode(utf8_name), os.fsdecode(raw_bytes)
    bad_count = crlf(":1G00000000", END)
    return [
        Case("LANG=C.UTF-8: rakemo's help pages in UTF-8, with the pause between them", r, ["-h"],
             s.help_screen(r, utf8=True), 0, stdin=b"\n", terminal=True, env=UTF8,
             pause=s.banner(r, utf8=True) + s.rakemo_help_first_page(utf8=True)),
        Case("LANG=C.UTF-8: lusivo's help in UTF-8", lu, [], lusivo_help_utf8, 0,
             terminal=True, env=UTF8),
        Case("LC_ALL=C.UTF-8 over LANG=C: UTF-8", lu, [], lusivo_help_utf8, 0,
             terminal=True, env={"LANG": "C", "LC_ALL": "C.UTF-8"}),
        Case("LC_CTYPE=C.UTF-8 alone: UTF-8", lu, ["-h"], lusivo_help_utf8, 0,
             terminal=True, env={"LC_CTYPE": "C.UTF-8"}),
        Case("LC_ALL=C over LANG=C.UTF-8: code page 850", lu, [], lusivo_help, 0,
             terminal=True, env={"LANG": "C.UTF-8", "LC_ALL": "C"}),
        Case("no locale variable: code page 850", lu, [], lusivo_help, 0, terminal=True, env={}),
        Case("a locale that cannot be set counts as no UTF-8", lu, [], lusivo_help, 0,
             terminal=True, env={"LANG": "xx_YY.UTF-8"}),
        Case("LANG=C.UTF-8 into a pipe: code page 850", r, ["-h"], s.help_screen(r), 0,
             stdin=b"\n", env=UTF8),
        Case("LANG=C.UTF-8: file names in UTF-8 and in other bytes are echoed as they stand",
             r, [utf8_file, raw_file], s.completed(r, utf8_name, raw_bytes, 36, 1, utf8=True), 0,
             files={utf8_file: source}, outputs={raw_file: TXT_EXAMPLE_1}, terminal=True, env=UTF8),
        Case("LANG=C.UTF-8: the source's failure line names it as it stands", lu, [raw_file, "b.hex"],
             s.source_failed(lu, raw_bytes, utf8=True), 2, outputs={"b.hex": ABSENT},
             terminal=True, env=UTF8),
        Case("LANG=C.UTF-8: the output's failure line names it as it stands", r,
             ["a.hex", "nichts/" + utf8_file],
             s.output_failed(r, "a.hex", b"nichts/" + utf8_name, utf8=True), 2,
             files={"a.hex": source}, terminal=True, env=UTF8),
        Case("LANG=C.UTF-8: the fatal report's message in UTF-8", r, ["a.hex", "b.txt"],
             s.files_opened(r, "a.hex", "b.txt", utf8=True) +
             s.fatal_report(ctx.module(r), "EConvertError", s.not_an_integer("G"), utf8=True), 1,
             files={"a.hex": bad_count}, outputs={"b.txt": ABSENT}, terminal=True, env=UTF8),
        Case("LANG=C.UTF-8: a character of the source named in the message stands as it is",
             lu, ["a.txt", "b.hex"],
             s.files_opened(lu, "a.txt", "b.hex", utf8=True) +
             s.fatal_report(ctx.module(lu), "EConvertError",
                            b"'\xfc" + "' ist kein gültiger Integerwert".encode("utf-8")), 1,
             files={"a.txt": b"@C0\xfc0\r\n12\r\nq\r\n"}, outputs={"b.hex": ABSENT},
             terminal=True, env=UTF8),
        Case("LC_ALL=C: the fatal report's message in Windows-1252", lu, ["a.txt", "b.hex"],
             s.files_opened(lu, "a.txt", "b.hex") +
             s.fatal_report(ctx.module(lu), "EConvertError", s.not_an_integer("\xfc")), 1,
             files={"a.txt": b"@C0\xfc0\r\n12\r\nq\r\n"}, outputs={"b.hex": ABSENT},
             terminal=True, env={"LC_ALL": "C"}),
        Case("LANG=C.UTF-8: the hand-off's lines in UTF-8, the parameter string as it stands",
             r, ["a.hex", "b.txt", "-p", os.fsdecode(b"-cCOM2 +ecpvr \x81")],
             s.completed(r, "a.hex", "b.txt", 36, 1, utf8=True) +
             s.hand_off(b"-cCOM2 +ecpvr \x81 b.txt", "BSLDEMO.EXE nicht gefunden!", utf8=True), 0,
             files={"a.hex": source}, outputs={"b.txt": TXT_EXAMPLE_1}, terminal=True,
             env={"LANG": "C.UTF-8", "PATH": "/nonexistent"}),
    ]
