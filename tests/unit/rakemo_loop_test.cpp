// ConvertHexToTiTxt: Intel HEX records in, TI-TXT lines out. Each case runs
// the loop on temporary files and compares the output bytes and the counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rakemo/convert_hex_to_titxt.h"
#include "test_files.h"

namespace {

using LineList = std::vector<std::string>;

struct Case {
  const char* name;
  LineList source;  // each line ends with CR LF
  LineList output;
  int bytes;
  int ranges;
};

const Case kCases[] = {
    // The worked examples.
    {"one range over three records",
     {":10C00000000102030405060708090A0B0C0D0E0FB8", ":10C01000101112131415161718191A1B1C1D1E1FA8",
      ":04C020002021222396", ":00000001FF"},
     {"@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
      "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F", "20 21 22 23", "q"},
     36, 1},
    {"address gaps, a data line taking bytes from two records",
     {":08E800000102030405060708EC", ":0CE80800090A0B0C0D0E0F101112131456", ":04FFE000AABBCCDD0F",
      ":02FFFE0000F011", ":00000001FF"},
     {"@E800", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "11 12 13 14", "@FFE0", "AA BB CC DD",
      "@FFFE", "00 F0", "q"},
     26, 3},
    {"an extended linear address of 0 and a start address write nothing",
     {":020000040000FA", ":10E00000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF98", ":040000050000E00017", ":00000001FF"},
     {"@E000", "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF", "q"},
     16, 1},
    {"no end record",
     {":10C00000000102030405060708090A0B0C0D0E0FB8", ":04C0100010111213E6"},
     {"@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "10 11 12 13", "q"},
     20, 1},
    {"short lines, a record shorter than its count, a record behind the end",
     {"", ":0000", ":04C0000011", ":00000001FF", ":10D00000000102030405060708090A0B0C0D0E0FB8"},
     {"@C000", "11   ", "q"},
     4, 1},

    // The end of the image.
    {"empty source", {}, {"q"}, 0, 0},
    {"only lines shorter than 10 characters", {"", ":", ":0000", ":10C00000"}, {"q"}, 0, 0},
    {"only the end record", {":00000001FF"}, {"q"}, 0, 0},
    {"an end record of 10 characters; its count and address are not read",
     {":zzzzzz01z", ":02C00000AABBD9"}, {"q"}, 0, 0},
    {"lines behind the end record are never read",
     {":02C00000AABBD9", ":00000001FF", ":0GC0G000AABB", ":02D00000CCDD85"}, {"@C000", "AA BB", "q"}, 2, 1},
    {"01 is compared as text: ' 1' is a data record", {":000000 1FF"}, {"@0000", "q"}, 0, 1},

    // Ranges.
    {"a count of 0 opens a range that the next record continues",
     {":00C0000040", ":02C00000AABBD9", ":00000001FF"}, {"@C000", "AA BB", "q"}, 2, 1},
    {"two records at the same address give two ranges",
     {":02C00000AABBD9", ":02C00000CCDD95", ":00000001FF"}, {"@C000", "AA BB", "@C000", "CC DD", "q"}, 4, 2},
    {"a step backwards opens a range",
     {":02C010001122FB", ":02C000003344C7"}, {"@C010", "11 22", "@C000", "33 44", "q"}, 4, 2},
    {"a gap opens a range",
     {":02C0000011220B", ":02C003003344C4"}, {"@C000", "11 22", "@C003", "33 44", "q"}, 4, 2},
    {"a range reaching FFFF expects 10000 next",
     {":02FFFE00AABB9C", ":020000000102FB", ":00000001FF"}, {"@FFFE", "AA BB", "@0000", "01 02", "q"}, 4, 2},
    {"16 bytes make one full data line",
     {":10C00000000102030405060708090A0B0C0D0E0FB8", ":00000001FF"},
     {"@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "q"}, 16, 1},
    {"17 bytes make a full line and a line of one piece",
     {":11C00000000102030405060708090A0B0C0D0E0F10A7", ":00000001FF"},
     {"@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "10", "q"}, 17, 1},

    // Lenient reading.
    {"lower-case data are copied unchanged", {":02C00000abcdC6"}, {"@C000", "ab cd", "q"}, 2, 1},
    {"lower-case count and address are read; the address line keeps their case",
     {":0ac000000001020304050607080909", ":02c00a000A0B1F"},
     {"@c000", "00 01 02 03 04 05 06 07 08 09 0A 0B", "q"}, 12, 1},
    {"a count one above the data takes the checksum as its last piece",
     {":03C000001122F8"}, {"@C000", "11 22 F8", "q"}, 3, 1},
    {"characters beyond the count are ignored", {":01C000001122FF"}, {"@C000", "11", "q"}, 1, 1},
    {"the start code is not examined", {"X02C00000AABBD9"}, {"@C000", "AA BB", "q"}, 2, 1},
    {"blanks around a count are trimmed", {": 2C00000AABB"}, {"@C000", "AA BB", "q"}, 2, 1},
    {"a blank address field is -1, where the first range is expected",
     {":02    00AABB"}, {"AA BB", "q"}, 2, 0},
    {"an unknown record type is data", {":02C00006AABBD3"}, {"@C000", "AA BB", "q"}, 2, 1},
    {"pieces that are missing count and stay empty, up to a full line",
     {":40C0000011"}, {"@C000", "11" + std::string(44, ' '), std::string(18, ' '), "q"}, 64, 1},

    // Extended addresses.
    {"type 02 sets the base to 16 times its field",
     {":020000021000EC", ":02000000AABB99", ":00000001FF"}, {"@10000", "AA BB", "q"}, 2, 1},
    {"type 04 sets the base to 65536 times its field; the address line is formatted",
     {":020000040001F9", ":02c00000AABBD9"}, {"@1C000", "AA BB", "q"}, 2, 1},
    {"a later base record replaces the base",
     {":020000040001F9", ":020000020100FB", ":02001000AABB89"}, {"@1010", "AA BB", "q"}, 2, 1},
    {"back at base 0 the address line is the source's characters again",
     {":020000040001F9", ":02c00000AABBD9", ":020000040000FA", ":02c00000CCDD95"},
     {"@1C000", "AA BB", "@c000", "CC DD", "q"}, 4, 2},
    {"base records write, count and flush nothing",
     {":08FFF8000102030405060708DD", ":020000040001F9", ":08000000090A0B0C0D0E0F1094"},
     {"@FFF8", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "q"}, 16, 1},
    {"a record past a 64 KiB boundary continues upward",
     {":020000040000FA", ":10FFF800000102030405060708090A0B0C0D0E0F81", ":020000040001F9",
      ":0400080010111213AE"},
     {"@FFF8", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "10 11 12 13", "q"}, 20, 1},
    {"without a base record the address does not wrap into the next 64 KiB",
     {":10FFF800000102030405060708090A0B0C0D0E0F81", ":0400080010111213AE"},
     {"@FFF8", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "@0008", "10 11 12 13", "q"}, 20, 2},
    {"the top of the 32-bit address space",
     {":02000004FFFFFC", ":01FFFF00AA57"}, {"@FFFFFFFF", "AA", "q"}, 1, 1},
    {"a base field shorter than four characters gives its own value",
     {":020000041", ":02000000AABB99"}, {"@10000", "AA BB", "q"}, 2, 1},
    {"the count and address fields of a base record are not read",
     {":GGGGGG040001", ":02000000AABB99"}, {"@10000", "AA BB", "q"}, 2, 1},
    // An extended segment address: a record past the segment's end goes on
    // at its start, as a range of its own.
    {"the bytes past the segment's end go to its start",
     {":020000021000EC", ":04FFFE00AABBCCDDF1", ":00000001FF"}, {"@1FFFE", "AA BB", "@10000", "CC DD", "q"}, 4, 2},
    {"a wrap flushes the data line begun by the record before",
     {":020000021000EC", ":02FFFC001122D0", ":04FFFE00AABBCCDDF1"},
     {"@1FFFC", "11 22 AA BB", "@10000", "CC DD", "q"}, 6, 2},
    {"a segment of base 0 wraps as well, and the next record continues its start",
     {":020000020000FC", ":04FFFE00AABBCCDDF1", ":02000200EEFF0F"},
     {"@FFFE", "AA BB", "@0000", "CC DD EE FF", "q"}, 6, 2},
    {"a record ending at the segment's end expects the next segment's start",
     {":020000021000EC", ":02FFFE00AABB9C", ":020000022000DC", ":02000000CCDD55"},
     {"@1FFFE", "AA BB CC DD", "q"}, 4, 1},
    {"after a record ending at the segment's end, its start opens a range",
     {":020000021000EC", ":02FFFE00AABB9C", ":02000000CCDD55"}, {"@1FFFE", "AA BB", "@10000", "CC DD", "q"}, 4, 2},
    {"a short record wraps its missing pieces too",
     {":020000021000EC", ":04FFFE00AABBC"}, {"@1FFFE", "AA BB", "@10000", "C ", "q"}, 4, 2},
    {"a blank address field never wraps",
     {":020000021000EC", ":04    00AABBCCDD"}, {"@FFFF", "AA BB CC DD", "q"}, 4, 1},
    {"after an extended linear address a record runs on past 64 KiB",
     {":020000021000EC", ":020000040001F9", ":04FFFE00AABBCCDDF1"}, {"@1FFFE", "AA BB CC DD", "q"}, 4, 1},
    {"start address records are skipped entirely",
     {":02C00000AABBD9", ":0400000300001234B3", ":zzzzzz05zzzz", ":GGGGGG03", ":02C00200CCDD93"},
     {"@C000", "AA BB CC DD", "q"}, 4, 1},
};

TEST(ConvertHexToTiTxt, Cases) {
  for (const Case& c : kCases) {
    const Conversion result = RunLoop(ConvertHexToTiTxt, Lines(c.source));
    EXPECT_FALSE(result.failed) << c.name << ": " << result.message;
    EXPECT_EQ(result.output, Lines(c.output)) << c.name;
    EXPECT_EQ(result.stats.BytesConverted, c.bytes) << c.name;
    EXPECT_EQ(result.stats.AddressRanges, c.ranges) << c.name;
  }
}

TEST(ConvertHexToTiTxt, EveryLineEndGivesTheSameImage) {
  const LineList source = {":10C00000000102030405060708090A0B0C0D0E0FB8", ":04C0100010111213E6",
                           ":02D00000AABBC9", ":00000001FF"};
  const std::string expected = Lines({"@C000", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
                                      "10 11 12 13", "@D000", "AA BB", "q"});
  for (const char* end : {"\r\n", "\n", "\r"}) {
    std::string bytes = Lines(source, end);
    EXPECT_EQ(RunLoop(ConvertHexToTiTxt, bytes).output, expected) << testing::PrintToString(end);
    bytes.resize(bytes.size() - std::string(end).size());  // the last line without its line end
    EXPECT_EQ(RunLoop(ConvertHexToTiTxt, bytes).output, expected) << testing::PrintToString(end);
  }
  // A Ctrl-Z ends the source like its end: the end line follows.
  EXPECT_EQ(RunLoop(ConvertHexToTiTxt, ":02C00000AABBD9\r\n\x1A:02D00000CCDD53\r\n").output,
            Lines({"@C000", "AA BB", "q"}));
}

struct BadCase {
  const char* why;
  LineList source;
  LineList output;  // written before the failure
  std::string message;
  int ranges;
};

TEST(ConvertHexToTiTxt, Failures) {
  const BadCase kBad[] = {
      {"an invalid character in the address field",
       {":02C00000AABBD9", ":02C0G200CCDD"}, {"@C000"}, NotAnIntegerMessage("G"), 1},
      {"the last invalid character of the address field is named",
       {":02XC0Y00AABB"}, {}, NotAnIntegerMessage("Y"), 0},
      {"a blank inside the address field", {":02C 0000AABB"}, {}, NotAnIntegerMessage(" "), 0},
      {"an invalid count: the address line due was written and counted first",
       {":0GC00000AABB"}, {"@C000"}, NotAnIntegerMessage("G"), 1},
      {"an invalid count where the range goes on",
       {":02C00000AABBD9", ":g2C00200CCDD"}, {"@C000"}, NotAnIntegerMessage("g"), 1},
      {"an empty type 04 field", {":02000004 "}, {}, NotAnIntegerMessage(""), 0},
      {"a type 04 field of control bytes", {":02000004\t\t\t\tFA"}, {}, NotAnIntegerMessage(""), 0},
      {"an empty type 02 field", {":02000002    EC", ":02C00000AABBD9"}, {}, NotAnIntegerMessage(""), 0},
      {"an invalid type 02 field", {":02000002G000EC"}, {}, NotAnIntegerMessage("G"), 0},
      {"an invalid type 04 field", {":020000040x10F9"}, {}, NotAnIntegerMessage("x"), 0},
  };
  for (const BadCase& c : kBad) {
    const Conversion result = RunLoop(ConvertHexToTiTxt, Lines(c.source));
    EXPECT_TRUE(result.failed) << c.why;
    EXPECT_EQ(result.message, c.message) << c.why;
    EXPECT_EQ(result.output, Lines(c.output)) << c.why;  // and no end line
    EXPECT_EQ(result.stats.AddressRanges, c.ranges) << c.why;
  }
}

TEST(ConvertHexToTiTxt, LongLines) {
  // A record is read up to its 255th data piece; what a long line holds
  // after that is never looked at, however long it is.
  std::string digits;
  LineList lines_of_255 = {"@C000"};
  for (int i = 0; i < 150000; ++i) {
    char piece[3];
    std::snprintf(piece, sizeof piece, "%02X", (i * 7 + 3) & 0xFF);
    digits += piece;
    if (i >= 255) continue;
    std::string& line = i % 16 == 0 ? lines_of_255.emplace_back() : lines_of_255.back();
    if (!line.empty()) line += ' ';
    line += piece;
  }
  lines_of_255.push_back("q");
  const std::string tail(300000, 'x');
  const Case kLong[] = {
      {"a record with a long tail", {":02C00000AABB" + tail, ":02C00200CCDD93"}, {"@C000", "AA BB CC DD", "q"}, 4, 1},
      {"a record of 255 bytes in a line of 300,000 digits", {":FFC00000" + digits}, lines_of_255, 255, 1},
      {"an end record with a long tail", {":00000001FF" + tail, ":02C00000AABBD9"}, {"q"}, 0, 0},
      {"a start address record with a long tail", {":04000003" + tail, ":02C00000AABBD9"},
       {"@C000", "AA BB", "q"}, 2, 1},
  };
  for (const Case& c : kLong)
    for (const std::size_t size : {std::size_t{7}, std::size_t{0}})
      ExpectCompleted(RunLoop(ConvertHexToTiTxt, Lines(c.source), size), Lines(c.output), c.bytes, c.ranges, c.name);
  const Conversion bad = RunLoop(ConvertHexToTiTxt, Lines({":02C0G000" + tail}));
  EXPECT_TRUE(bad.failed);
  EXPECT_EQ(bad.message, NotAnIntegerMessage("G"));
}

}  // namespace
