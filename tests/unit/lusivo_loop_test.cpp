// ConvertTiTxtToHex, RemoveSpaces and RecordChecksum: TI-TXT lines in,
// Intel HEX records out. Each case runs the loop on temporary files and
// compares the output bytes and the counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "lusivo/convert_titxt_to_hex.h"
#include "test_files.h"

using namespace std::literals;

namespace {

using LineList = std::vector<std::string>;
using ByteList = std::vector<unsigned>;

const std::string kEnd = ":00000001FF";

// An Intel HEX record in upper case with its checksum, computed here from
// the values: the low byte of minus the sum of count, address, type and data.
// The count is given apart from the data, for the records of irregular lines.
std::string HexRecord(unsigned count, std::uint32_t address, unsigned type, const ByteList& data) {
  char field[16];
  std::snprintf(field, sizeof field, "%02X%04X%02X", count, address & 0xFFFF, type);
  std::string record = ":"s + field;
  unsigned sum = count + ((address >> 8) & 0xFF) + (address & 0xFF) + type;
  for (const unsigned byte : data) {
    std::snprintf(field, sizeof field, "%02X", byte);
    record += field;
    sum += byte;
  }
  std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return record + field;
}

std::string Data(std::uint32_t address, const ByteList& data) {
  return HexRecord(static_cast<unsigned>(data.size()), address, 0, data);
}

// The extended linear address record announcing the upper 16 address bits.
std::string Upper(unsigned bits) { return HexRecord(2, 0, 4, {bits >> 8, bits & 0xFF}); }

ByteList SomeBytes(std::size_t count) {
  ByteList bytes;
  for (std::size_t i = 0; i < count; ++i) bytes.push_back(static_cast<unsigned>((i * 7 + 3) & 0xFF));
  return bytes;
}

ByteList Slice(const ByteList& bytes, std::size_t from, std::size_t to) {
  return ByteList(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// A TI-TXT data line as rakemo writes them: two digits per byte, single blanks.
std::string DataLine(const ByteList& bytes) {
  std::string line;
  char digits[4];
  for (const unsigned byte : bytes) {
    if (!line.empty()) line += ' ';
    std::snprintf(digits, sizeof digits, "%02X", byte);
    line += digits;
  }
  return line;
}

struct Case {
  std::string name;
  LineList source;  // each line ends with CR LF
  LineList output;
  int bytes;
  int ranges;
};

std::vector<Case> Cases() {
  const ByteList b300 = SomeBytes(300);
  const ByteList b600 = SomeBytes(600);
  return {
      // The worked examples.
      {"two address lines and an end line",
       {"@1100", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "11 12 13 14", "@FFFE", "00 11", "q"},
       {":101100000102030405060708090A0B0C0D0E0F1057", ":041110001112131491", ":02FFFE000011F0", kEnd},
       22, 2},
      {"data before the first address line, an empty line, no end line",
       {"A5 5A", "", "@2000", "FF"}, {":02000000A55AFF", ":01200000FFE0", kEnd}, 3, 1},
      {"irregular spacing, a space at the end of a line, lines after the end line",
       {"@E000", "0102 03", "01   02   03", "AB CD ", "q", "@1234", "55"},
       {":02E0000001020318", ":04E0020001020314", ":02E00600ABCDA0", kEnd}, 8, 1},
      {"pairs that sum to a multiple of 256", {"@C000", "1F 1F", "q"}, {":02C000001F1F00", kEnd}, 2, 1},

      // Line kinds and counts.
      {"empty file", {}, {kEnd}, 0, 0},
      {"an end line alone", {"q"}, {kEnd}, 0, 0},
      {"nothing after the first end line is read", {"q", "q", "zz"}, {kEnd}, 0, 0},
      {"no address line, no end line", {"12 34"}, {":020000001234B8", kEnd}, 2, 0},
      {"an address line without data still counts", {"@C000", "@D000", "12 34", "q"}, {":02D000001234E8", kEnd}, 2, 2},
      {"the same address twice counts twice", {"@C000", "@C000", "AA"}, {Data(0xC000, {0xAA}), kEnd}, 1, 2},
      {"lines of one and two spaces give counts 0 and 1",
       {"@C000", " ", "  ", "q"}, {":00C0000040", ":01C000003F", kEnd}, 1, 1},
      {"the running address grows by the count of each line",
       {"@C000", " ", "  ", "AA", "q"}, {":00C0000040", ":01C000003F", Data(0xC001, {0xAA}), kEnd}, 2, 1},
      {"quit is an end line", {"@C000", "quit", "55"}, {kEnd}, 0, 1},
      {"a tab is copied and read as a pair with what follows",
       {"@C000", "01\t02 03", "q"}, {":03C0000001\t02031C", kEnd}, 3, 1},
      {"lower-case data keep their case", {"@C000", "0a 0b", "q"}, {":02C000000a0b29", kEnd}, 2, 1},
      {"an upper-case Q is a data line of count 0", {"@C000", "Q", "q"}, {":00C00000Q40", kEnd}, 0, 1},
      {"a line of one character has count 0", {"@C000", "A", "q"}, {":00C00000A40", kEnd}, 0, 1},
      {"a line beginning with a tab is a data line", {"\tAA"}, {":01000000\tAAF5", kEnd}, 1, 0},
      {"two spaces after the last byte keep the count",
       {"@C000", "AA BB  "}, {Data(0xC000, {0xAA, 0xBB}), kEnd}, 2, 1},
      {"three spaces after the last byte add one to the count",
       {"@C000", "AA BB   "}, {HexRecord(3, 0xC000, 0, {0xAA, 0xBB}), kEnd}, 3, 1},

      // The address is the whole field after the @.
      {"a five-digit address", {"@10000", "AA", "q"}, {Upper(1), Data(0x0000, {0xAA}), kEnd}, 1, 1},
      {"the fifth digit counts", {"@C0001", "AA", "q"}, {Upper(0xC), Data(0x0001, {0xAA}), kEnd}, 1, 1},
      {"a blank after the @ is trimmed", {"@ C000", "AA"}, {Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"a blank at the end is trimmed", {"@C000 ", "AA"}, {Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"tabs around the field are trimmed", {"@\tC000\t", "AA"}, {Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"a leading zero", {"@0C000", "AA"}, {Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"a lower-case address", {"@c000", "AA"}, {Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"a lower-case five-digit address and data", {"@1c400", "aa"}, {Upper(1), ":01C40000aa91", kEnd}, 1, 1},
      {"the top of the address space", {"@FFFFFFFF", "AA", "q"}, {Upper(0xFFFF), Data(0xFFFF, {0xAA}), kEnd}, 1, 1},
      {"the running address wraps at 2 to the 32",
       {"@FFFFFFFF", "AA BB", "q"},
       {Upper(0xFFFF), Data(0xFFFF, {0xAA}), ":020000040000FA", Data(0x0000, {0xBB}), kEnd}, 2, 1},

      // Extended linear addresses.
      {"a record of count 0 is announced too", {"@10000", " ", "q"}, {Upper(1), ":0000000000", kEnd}, 0, 1},
      {"coming back below 0x10000 announces 0",
       {"@10000", "AA", "@C000", "BB", "q"},
       {Upper(1), Data(0x0000, {0xAA}), ":020000040000FA", Data(0xC000, {0xBB}), kEnd}, 2, 2},
      {"the same upper bits are announced once",
       {"@10000", "AA", "@10010", "BB", "@1FFFF", "CC"},
       {Upper(1), Data(0x0000, {0xAA}), Data(0x0010, {0xBB}), Data(0xFFFF, {0xCC}), kEnd}, 3, 3},
      {"address lines alone announce nothing",
       {"@10000", "@20000", "@10000", "AA", "@30000", "q"}, {Upper(1), Data(0x0000, {0xAA}), kEnd}, 1, 4},
      {"a line crossing 0x10000 becomes two records",
       {"@FFFE", "01 02 03 04", "05", "q"},
       {Data(0xFFFE, {1, 2}), Upper(1), Data(0x0000, {3, 4}), Data(0x0002, {5}), kEnd}, 5, 1},
      {"a line ending at 0x10000 stays one record; the next line is announced",
       {"@FFFE", "01 02", "03"}, {Data(0xFFFE, {1, 2}), Upper(1), Data(0x0000, {3}), kEnd}, 3, 1},
      {"a line of 255 bytes is one record",
       {"@C000", DataLine(Slice(b300, 0, 255))}, {Data(0xC000, Slice(b300, 0, 255)), kEnd}, 255, 1},
      {"a line of 256 bytes is two records",
       {"@C000", DataLine(Slice(b300, 0, 256))},
       {Data(0xC000, Slice(b300, 0, 255)), Data(0xC0FF, Slice(b300, 255, 256)), kEnd}, 256, 1},
      {"a line of 600 bytes is records of 255, 255 and 90",
       {"@C000", DataLine(b600), "AA"},
       {Data(0xC000, Slice(b600, 0, 255)), Data(0xC0FF, Slice(b600, 255, 510)), Data(0xC1FE, Slice(b600, 510, 600)),
        Data(0xC258, {0xAA}), kEnd},
       601, 1},
      {"a long line crossing 0x10000 splits at both rules",
       {"@FF80", DataLine(b300)},
       {Data(0xFF80, Slice(b300, 0, 128)), Upper(1), Data(0x0000, Slice(b300, 128, 300)), kEnd}, 300, 1},
      {"an irregular line split at 0x10000: the last record takes the rest",
       {"@FFFF", "0102 03"}, {HexRecord(1, 0xFFFF, 0, {0x01}), Upper(1), HexRecord(1, 0x0000, 0, {0x02, 0x03}), kEnd},
       2, 1},
      {"an irregular line whose data run out before its count",
       {"@FFFF", "01    "}, {HexRecord(1, 0xFFFF, 0, {0x01}), Upper(1), ":01000000FF", kEnd}, 2, 1},
      {"an irregular line with a lone last character",
       {"@FFFF", "0 1 2"}, {HexRecord(1, 0xFFFF, 0, {0x01}), Upper(1), ":010000002FF", kEnd}, 2, 1},
  };
}

TEST(ConvertTiTxtToHex, Cases) {
  for (const Case& c : Cases()) {
    const Conversion result = RunLoop(ConvertTiTxtToHex, Lines(c.source));
    EXPECT_FALSE(result.failed) << c.name << ": " << result.message;
    EXPECT_EQ(result.output, Lines(c.output)) << c.name;
    EXPECT_EQ(result.stats.BytesConverted, c.bytes) << c.name;
    EXPECT_EQ(result.stats.AddressRanges, c.ranges) << c.name;
  }
}

TEST(ConvertTiTxtToHex, LineEndsAsToolsWriteThem) {
  // LF alone, a blank before each line end, lower case, a final q without
  // a line end; and the same with CR alone.
  const std::string expected = Lines({Data(0xC000, {0xAA, 0xBB}), ":02C002000a0b27", kEnd});
  EXPECT_EQ(RunLoop(ConvertTiTxtToHex, "@c000\nAA BB \n0a 0b \nq").output, expected);
  EXPECT_EQ(RunLoop(ConvertTiTxtToHex, "@c000\rAA BB \r0a 0b \rq").output, expected);
  // A Ctrl-Z ends the source like its end, and the end record follows.
  EXPECT_EQ(RunLoop(ConvertTiTxtToHex, "@C000\r\nAA BB\r\n\x1A" "CC\r\nq\r\n").output,
            Lines({Data(0xC000, {0xAA, 0xBB}), kEnd}));
}

struct BadCase {
  std::string why;
  LineList source;
  LineList output;  // written before the failure; never an end record
  std::string message;
  int bytes;
  int ranges;
};

std::vector<BadCase> BadCases() {
  const ByteList b300 = SomeBytes(300);
  std::string bad_tail = DataLine(b300);
  bad_tail.replace(3 * 260, 2, "zz");  // byte 260, in the line's second record
  return {
      {"a character after the address", {"@C000x"}, {}, NotAnIntegerMessage("x"), 0, 0},
      {"a character after a blank after the address", {"@C000 x"}, {}, NotAnIntegerMessage("x"), 0, 0},
      {"a blank inside the address", {"@C0 00"}, {}, NotAnIntegerMessage(" "), 0, 0},
      {"g is no digit", {"@g000"}, {}, NotAnIntegerMessage("g"), 0, 0},
      {"an @ alone, before it is counted", {"@"}, {}, NotAnIntegerMessage(""), 0, 0},
      {"an @ and blanks", {"@  \t"}, {}, NotAnIntegerMessage(""), 0, 0},
      {"an @ alone after data", {"@C000", "AA", "@"}, {Data(0xC000, {0xAA})}, NotAnIntegerMessage(""), 1, 1},
      {"a blank before the @ makes a data line whose checksum reads @C",
       {" @C000"}, {}, NotAnIntegerMessage("@"), 0, 0},
      {"a letter in the data", {"@C000", "1g", "q"}, {}, NotAnIntegerMessage("g"), 0, 1},
      {"the failing record is not written, nor an end record",
       {"@C000", "11", "zz", "q"}, {":01C00000112E"}, NotAnIntegerMessage("z"), 1, 1},
      {"a failure in the second record of a long line",
       {"@C000", bad_tail}, {Data(0xC000, Slice(b300, 0, 255))}, NotAnIntegerMessage("z"), 0, 1},
  };
}

TEST(ConvertTiTxtToHex, Failures) {
  for (const BadCase& c : BadCases()) {
    const Conversion result = RunLoop(ConvertTiTxtToHex, Lines(c.source));
    EXPECT_TRUE(result.failed) << c.why;
    EXPECT_EQ(result.message, c.message) << c.why;
    EXPECT_EQ(result.output, Lines(c.output)) << c.why;
    EXPECT_EQ(result.stats.BytesConverted, c.bytes) << c.why;
    EXPECT_EQ(result.stats.AddressRanges, c.ranges) << c.why;
  }
}

// ---- Lines longer than what is gathered whole ----

// The records of a data line of count bytes from address on, by the rules
// of the format: at most 255 bytes each, none across a 64 KiB boundary,
// the upper address bits announced where they change. The records take
// the bytes of data in turn, as far as they reach; the last takes all that
// are left.
void AddSplitRecords(LineList& records, std::uint32_t& announced, std::uint32_t address, std::size_t count,
                     const ByteList& data) {
  std::size_t at = 0;
  do {
    const std::size_t k = std::min<std::size_t>({count - at, 255, 0x10000 - (address & 0xFFFF)});
    if (address >> 16 != announced) {
      announced = address >> 16;
      records.push_back(Upper(announced));
    }
    const std::size_t from = std::min(at, data.size());
    const std::size_t to = at + k == count ? data.size() : std::min(at + k, data.size());
    records.push_back(HexRecord(static_cast<unsigned>(k), address, 0, Slice(data, from, to)));
    at += k;
    address += static_cast<std::uint32_t>(k);
  } while (at < count);
}

LineList SplitRecords(std::uint32_t address, std::size_t count, const ByteList& data) {
  LineList records;
  std::uint32_t announced = 0;
  AddSplitRecords(records, announced, address, count, data);
  records.push_back(kEnd);
  return records;
}

std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text += part;
  return text;
}

// The pieces of the bytes closed up, without blanks.
std::string DigitText(const ByteList& bytes) {
  std::string line = DataLine(bytes);
  std::erase(line, ' ');
  return line;
}

std::vector<Case> LongLineCases() {
  const ByteList b100k = SomeBytes(100000);
  const std::string zeros(300000, '0');
  LineList blanks_then_data = SplitRecords(0xC000, 100000, {});
  blanks_then_data.insert(blanks_then_data.end() - 1, Data((0xC000 + 100000) & 0xFFFF, {0xAA}));
  return {
      {"a line of 100,000 pieces, across two 64 KiB boundaries and in records of 255",
       {"@FFF0", DataLine(b100k), "q"}, SplitRecords(0xFFF0, 100000, b100k), 100000, 1},
      {"the same without blanks: the last record takes what the count leaves",
       {"@FFF0", DigitText(b100k), "q"}, SplitRecords(0xFFF0, (200000 + 1) / 3, b100k), 66667, 1},
      {"a line of 300,000 blanks: records of no data; the next line goes on after its count",
       {"@C000", std::string(300000, ' '), "AA"}, blanks_then_data, 100001, 1},
      {"blanks first, then the data text without blanks",
       {"@0000", std::string(150000, ' ') + DigitText(b100k)}, SplitRecords(0, (350000 + 1) / 3, b100k), 116667,
       1},
      {"the data text without blanks first, then blanks",
       {"@0000", DigitText(b100k) + std::string(150000, ' ')}, SplitRecords(0, (350000 + 1) / 3, b100k), 116667,
       1},
      {"a long address line: the last eight digits weigh", {"@" + zeros + "1C000", "AA"},
       {Upper(1), Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"a long address line trimmed at both ends", {"@ \t" + zeros + "C000\t ", "AA"},
       {Data(0xC000, {0xAA}), kEnd}, 1, 1},
      {"a long end line", {"@C000", "AA", "q" + zeros}, {Data(0xC000, {0xAA}), kEnd}, 1, 1},
  };
}

TEST(ConvertTiTxtToHex, LongLines) {
  for (const Case& c : LongLineCases())
    for (const std::size_t size : {std::size_t{7}, std::size_t{0}})
      ExpectCompleted(RunLoop(ConvertTiTxtToHex, Lines(c.source), size), Lines(c.output), c.bytes, c.ranges, c.name);
}

TEST(ConvertTiTxtToHex, LongLineFailures) {
  const ByteList b200k = SomeBytes(200000);
  std::string bad_far = DataLine(b200k);
  bad_far.replace(3 * (100 * 255 + 7), 2, "zZ");  // in the 101st record
  std::string bad_far_closed = DigitText(b200k);
  bad_far_closed.replace(2 * (100 * 255 + 7), 2, "zZ");
  const std::string zeros(300000, '0');
  LineList hundred_records = SplitRecords(0, 100 * 255, Slice(b200k, 0, 100 * 255));
  hundred_records.pop_back();  // no end record
  const BadCase kBad[] = {
      {"a bad pair far into a long line", {"@0000", bad_far}, hundred_records, NotAnIntegerMessage("Z"), 0, 1},
      {"the same without blanks", {"@0000", bad_far_closed}, hundred_records, NotAnIntegerMessage("Z"), 0, 1},
      {"a long address line with a wrong first character", {"@G" + zeros + "C000", "AA"}, {},
       NotAnIntegerMessage("G"), 0, 0},
      {"a long address line with a wrong last character", {"@x" + zeros + "C00g", "AA"}, {},
       NotAnIntegerMessage("g"), 0, 0},
      {"a long address line with a blank inside", {"@" + zeros + " C000", "AA"}, {}, NotAnIntegerMessage(" "), 0,
       0},
      {"a long address line of blanks", {"@" + std::string(300000, ' '), "AA"}, {}, NotAnIntegerMessage(""), 0, 0},
  };
  for (const BadCase& c : kBad) {
    const Conversion result = RunLoop(ConvertTiTxtToHex, Lines(c.source));
    EXPECT_TRUE(result.failed) << c.why;
    EXPECT_EQ(result.message, c.message) << c.why;
    EXPECT_EQ(result.output, Lines(c.output)) << c.why;
    EXPECT_EQ(result.stats.AddressRanges, c.ranges) << c.why;
  }
}

TEST(ConvertTiTxtToHex, LinesReadInPartsGiveTheRecordsOfWholeLines) {
  // However a line is cut into first bytes and parts, its records are
  // those of the whole line, and so is a failure.
  std::vector<std::string> sources;
  for (const Case& c : Cases()) sources.push_back(Lines(c.source));
  for (const BadCase& c : BadCases()) sources.push_back(Lines(c.source));
  const ByteList b600 = SomeBytes(600);
  const std::string blanks(1000, ' ');
  const std::string data = DataLine(b600);
  const std::string digits = DigitText(b600);
  for (const std::string& line : {data, digits, Joined({" ", data, "   "}), Joined({blanks, digits}),
                                  Joined({digits, blanks}), Joined({"0\t", data}),
                                  Joined({"@", std::string(600, '0'), "FFF0 "})})
    for (const char* address : {"@0000", "@FFFE", "@FF00", "@1FFFFF"})
      sources.push_back(Lines({address, line, "@FFF8", DigitText(b600), "1 2 3 4 5"}));
  for (const std::string& source : sources) {
    const Conversion whole = RunLoop(ConvertTiTxtToHex, source);
    for (const auto& [size, limit] : {std::pair<std::size_t, std::size_t>{1, 1}, {7, 5}, {3, 64}, {64, 200}})
      EXPECT_EQ(RunLoop(ConvertTiTxtToHex, source, size, limit), whole)
          << testing::PrintToString(source.substr(0, 80)) << ", buffer " << size << ", limit " << limit;
  }
}

TEST(ConvertTiTxtToHex, DataTextPastTheCountIsHeldUpTo16MiB) {
  // A line without blanks of 3m characters has the count m and m digits
  // past twice its count; one more character adds one.
  constexpr std::size_t kExcess = 16 * 1024 * 1024;
  const Conversion held = RunLoop(ConvertTiTxtToHex, Lines({std::string(3 * kExcess, '0'), "q"}));
  EXPECT_FALSE(held.failed) << held.message;
  EXPECT_EQ(held.stats.BytesConverted, static_cast<int>(kExcess));
  EXPECT_TRUE(held.output.ends_with("\r\n" + kEnd + "\r\n"));
  const Conversion beyond = RunLoop(ConvertTiTxtToHex, Lines({std::string(3 * kExcess + 1, '0'), "q"}));
  EXPECT_TRUE(beyond.failed);
  EXPECT_EQ(beyond.kind, "EOutOfMemory");
  EXPECT_EQ(beyond.message, "Zu wenig Arbeitsspeicher");
}

TEST(RemoveSpaces, OnlySpacesGo) {
  struct Case {
    std::string_view text;
    std::string_view rest;
  };
  constexpr Case kCases[] = {
      {"", ""},
      {"AA BB CC", "AABBCC"},
      {"   ", ""},
      {" A ", "A"},
      {"01   02   03", "010203"},
      {"\tA\t B\r\n", "\tA\tB\r\n"},  // tabs and other control bytes stay
      {"a\x00 b"sv, "a\x00" "b"sv},
      {"\xA0 \xFF", "\xA0\xFF"},  // a no-break space is no space
  };
  for (const Case& c : kCases) EXPECT_EQ(RemoveSpaces(c.text), c.rest) << testing::PrintToString(std::string(c.text));
}

TEST(RecordChecksum, Values) {
  struct Case {
    std::string_view record;
    std::string_view checksum;
    const char* why;
  };
  constexpr Case kCases[] = {
      {"", "00", "an empty text"},
      {":", "00", "nothing after the start code"},
      {":00000001", "FF", "the end record"},
      {":101100000102030405060708090A0B0C0D0E0F10", "57", "a full record"},
      {":02FFFE000011", "F0", "only the low byte of the sum counts"},
      {":02C000001F1F", "00", "a sum that is a multiple of 256"},
      {":FF", "01", "one pair"},
      {":FFFF", "02", "the sum is held modulo 256"},
      {":0", "00", "a lone last character takes no part"},
      {":01F", "FF", "a lone last character takes no part"},
      {":00C00000Q", "40", "a lone last character is not read"},
      {":02c000000a0b", "29", "lower-case digits"},
      {":03C0000001\t0203", "1C", "a pair of a tab and a digit is trimmed to the digit"},
      {":0 1 ", "FF", "a pair of a digit and a blank is trimmed"},
      {":\t\t", "01", "a pair of control bytes is empty after trimming: -1, which is 255 modulo 256"},
      {"X0101", "FE", "the start code is not read"},
  };
  for (const Case& c : kCases) EXPECT_EQ(RecordChecksum(c.record), c.checksum) << c.why;
}

TEST(RecordChecksum, PairsThatAreNoNumberFail) {
  struct Case {
    std::string_view record;
    char named;
  };
  constexpr Case kBad[] = {{":0g", 'g'}, {":g0", 'g'}, {":00@C", '@'}, {":1x", 'x'}, {":G1H", 'G'}, {":01\x81" "0", '\x81'}};
  for (const Case& c : kBad) {
    try {
      RecordChecksum(c.record);
      ADD_FAILURE() << c.record << " was summed";
    } catch (const EConvertError& failure) {
      EXPECT_EQ(failure.message, NotAnIntegerMessage(std::string(1, c.named))) << c.record;
    }
  }
}

}  // namespace
