// The conversion loop of lusivo. Each TI-TXT data line becomes one Intel
// HEX data record (several where it crosses 64 KiB or holds more than 255
// bytes); its bytes are copied as the characters they are.
#include "lusivo/convert_titxt_to_hex.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr std::string_view kEndRecord = ":00000001FF";
constexpr std::uint32_t kMaxRecordBytes = 255;
constexpr std::uint64_t kSegmentSize = 0x10000;

// Beyond this much data text held for the last record of one line, past
// what its byte count covers, the line is taken as too long for memory.
constexpr std::size_t kMaxExcess = 16 * 1024 * 1024;
constexpr std::size_t kLargeText = 1024 * 1024;

// Copies text without its spaces to out and gives the end of the copy.
char* PutWithoutSpaces(char* out, std::string_view text) {
  for (const char c : text) {
    *out = c;
    out += c != ' ';
  }
  return out;
}

// Copies text without its spaces into storage that only grows, and gives
// the copy: no allocation per line once the longest line was seen.
std::string_view CopyWithoutSpaces(std::string& storage, std::string_view text) {
  if (storage.size() < text.size()) storage.resize(text.size());
  char* const end = PutWithoutSpaces(storage.data(), text);
  return std::string_view(storage.data(), static_cast<std::size_t>(end - storage.data()));
}

// The sum of the pairs of text (its first two characters, the next two, and
// so on), modulo 256. Pairs of two hexadecimal digits are read through the
// digit table; only other pairs go through HexToInt, which trims and fails
// as it must.
std::uint32_t PairSum(std::string_view text) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int high = kHexDigits.value[static_cast<unsigned char>(text[i])];
    const int low = kHexDigits.value[static_cast<unsigned char>(text[i + 1])];
    if ((high | low) >= 0)
      sum += static_cast<std::uint32_t>(high * 16 + low);
    else
      sum += static_cast<std::uint32_t>(HexToInt(text.substr(i, 2)));
  }
  return sum & 0xFF;
}

// The two upper-case hexadecimal digits of every byte, as FormatHex writes
// them: a byte is put with one copy.
struct HexPairTable {
  char digits[256][2];
};
constexpr HexPairTable MakeHexPairTable() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  HexPairTable table{};
  for (int byte = 0; byte < 256; ++byte) {
    table.digits[byte][0] = kDigits[byte >> 4];
    table.digits[byte][1] = kDigits[byte & 0xF];
  }
  return table;
}
constexpr HexPairTable kHexPairs = MakeHexPairTable();

char* PutHexByte(char* out, std::uint32_t byte) {
  std::memcpy(out, kHexPairs.digits[byte & 0xFF], 2);
  return out + 2;
}

// The extended linear address record of the upper 16 address bits; rare,
// so kept out of the hot path.
[[gnu::noinline]] void WriteUpperBits(LineFile& output, std::uint32_t upper) {
  std::string record = ":02000004";
  AppendHex(record, upper, 4);
  record += RecordChecksum(record);
  WriteLine(output, record);
}

// Announces the upper 16 address bits when they change.
void AnnounceUpperBits(LineFile& output, std::uint32_t address, std::uint32_t& announced) {
  const std::uint32_t upper = address >> 16;
  if (upper == announced) return;
  WriteUpperBits(output, upper);
  announced = upper;
}

// Where the data text of a line (the line without its spaces) goes on.
struct DataCursor {
  const char* next;
  const char* end;
};

// Copies at most wanted characters of data text to out and adds the values
// of the pairs it copied to sum. Hot path: pieces of two digits and their
// blank are copied and summed a pair at a time; from the first other
// character on, the characters are copied one by one and read by PairSum.
char* CopyDataText(DataCursor& data, char* out, std::size_t wanted, std::uint32_t& sum) {
  const char* p = data.next;
  const char* const begin = out;
  for (std::size_t n = std::min(wanted / 2, static_cast<std::size_t>(data.end - p) / 3); n > 0;
       --n, p += 3, out += 2) {
    const int high = kHexDigits.value[static_cast<unsigned char>(p[0])];
    const int low = kHexDigits.value[static_cast<unsigned char>(p[1])];
    if ((high | low) < 0 || p[2] != ' ') break;
    out[0] = p[0];
    out[1] = p[1];
    sum += static_cast<std::uint32_t>(high * 16 + low);
  }
  wanted -= static_cast<std::size_t>(out - begin);
  char* const rest = out;
  for (; wanted > 0 && p < data.end; ++p) {
    *out = *p;
    const bool kept = *p != ' ';
    out += kept;
    wanted -= kept;
  }
  sum += PairSum(std::string_view(rest, static_cast<std::size_t>(out - rest)));
  data.next = p;
  return out;
}

// One data record of count bytes at address (its low 16 bits), built in
// storage that only grows: the next 2 * count characters of data text, or
// for the last record of a line all that are left.
void WriteDataRecord(LineFile& output, std::string& storage, DataCursor& data, std::uint32_t count,
                     std::uint32_t address, bool last) {
  constexpr std::size_t kHeader = 9;  // start code, count, address, type
  const auto left = static_cast<std::size_t>(data.end - data.next);
  const std::size_t wanted = last ? left : std::min<std::size_t>(2 * count, left);
  if (storage.size() < kHeader + wanted + 2) storage.resize(kHeader + wanted + 2);
  char* const record = storage.data();
  record[0] = ':';
  PutHexByte(record + 1, count);
  PutHexByte(record + 3, (address >> 8) & 0xFF);
  PutHexByte(record + 5, address & 0xFF);
  record[7] = '0';
  record[8] = '0';
  std::uint32_t sum = count + ((address >> 8) & 0xFF) + (address & 0xFF);
  char* end = CopyDataText(data, record + kHeader, wanted, sum);
  end = PutHexByte(end, (256 - (sum & 0xFF)) & 0xFF);
  WriteLine(output, std::string_view(record, static_cast<std::size_t>(end - record)));
}

struct LoopState {
  std::uint32_t address = 0;    // running address, modulo 2^32
  std::uint32_t announced = 0;  // upper address bits last announced
  std::string record;           // storage of the record being built
};

#if defined(__x86_64__) && defined(__GNUC__)
// Regular data lines are taken in 16-byte blocks with SSSE3 byte shuffles,
// where the processor has them.
bool HasPieceBlocks() { return ProcessorHasSsse3(); }

// The tables for 16-byte blocks of pieces "AA BB ...". The kind of a byte
// (1 a digit, 2 a letter A to F or a to f, 4 a blank) is the kind of its
// high half-byte and of its low one; a letter's value is its low half-byte
// plus 9. The rest is given for each of the three places within a piece
// where a block can start.
struct BlockTables {
  std::int8_t kind_of_high[16];
  std::int8_t kind_of_low[16];
  std::int8_t add_of_high[16];
  std::int8_t want[3][16];    // the kinds a byte may be
  std::int8_t weight[3][16];  // 16 for a first digit, 1 for a second, 0 for a blank
  std::int8_t take[2][16];    // the ten digits of the five pieces from byte 0 or byte 2 on
  std::int8_t from[16];       // the byte index k itself
};
constexpr BlockTables MakeBlockTables() {
  BlockTables t{};
  for (int k = 0; k < 16; ++k) {
    t.kind_of_high[k] = k == 2 ? 4 : k == 3 ? 1 : k == 4 || k == 6 ? 2 : 0;
    t.kind_of_low[k] = static_cast<std::int8_t>((k <= 9 ? 1 : 0) | (k >= 1 && k <= 6 ? 2 : 0) | (k == 0 ? 4 : 0));
    t.add_of_high[k] = k == 4 || k == 6 ? 9 : 0;
    t.from[k] = static_cast<std::int8_t>(k);
    for (int phase = 0; phase < 3; ++phase) {
      const int place = (phase + k) % 3;  // 0 a first digit, 1 a second, 2 a blank
      t.want[phase][k] = place == 2 ? 4 : 3;
      t.weight[phase][k] = place == 0 ? 16 : place == 1 ? 1 : 0;
    }
    t.take[0][k] = t.take[1][k] = -1;
  }
  for (int d = 0; d < 10; ++d) {
    t.take[0][d] = static_cast<std::int8_t>(d / 2 * 3 + d % 2);
    t.take[1][d] = static_cast<std::int8_t>(d / 2 * 3 + d % 2 + 2);
  }
  return t;
}
constexpr BlockTables kBlockTables = MakeBlockTables();

[[gnu::target("ssse3")]] inline __m128i Bytes(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// The bytes k of a block with from <= k, as a mask.
[[gnu::target("ssse3")]] inline __m128i BytesFrom(std::size_t from) {
  return _mm_cmpgt_epi8(Bytes(kBlockTables.from), _mm_set1_epi8(static_cast<char>(from - 1)));
}

// Weighs a block of a line that starts at place phase of a piece: the
// weighed values of the bytes in counted are added to sums. Gives the bytes
// in tested that are not of a kind their place wants.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i WeighBlock(__m128i bytes, int phase, __m128i tested,
                                                                     __m128i counted, __m128i& sums) {
  const BlockTables& t = kBlockTables;
  const __m128i low = _mm_and_si128(bytes, _mm_set1_epi8(0x0F));
  const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
  const __m128i kind = _mm_and_si128(_mm_shuffle_epi8(Bytes(t.kind_of_high), high),
                                     _mm_shuffle_epi8(Bytes(t.kind_of_low), low));
  const __m128i values = _mm_add_epi8(low, _mm_shuffle_epi8(Bytes(t.add_of_high), high));
  sums = _mm_add_epi16(sums, _mm_maddubs_epi16(values, _mm_and_si128(Bytes(t.weight[phase]), counted)));
  return _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(kind, Bytes(t.want[phase])), _mm_setzero_si128()), tested);
}

// WeighBlock, true when every byte tested is of a kind its place wants.
[[gnu::target("ssse3"), gnu::always_inline]] inline bool AddBlock(__m128i bytes, int phase, __m128i tested,
                                                                __m128i counted, __m128i& sums) {
  return _mm_movemask_epi8(WeighBlock(bytes, phase, tested, counted, sums)) == 0;
}

[[gnu::target("ssse3")]] inline std::uint32_t SumOf(__m128i sums) {
  const __m128i pairs = _mm_madd_epi16(sums, _mm_set1_epi16(1));
  const __m128i halves = _mm_add_epi32(pairs, _mm_srli_si128(pairs, 8));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_add_epi32(halves, _mm_srli_si128(halves, 4))));
}

// For a line of six pieces or more, each of two hexadecimal digits with
// single blanks between them: true, its digits closed up at digits (with
// six spare bytes behind them) and the sum of its pieces' values. Blocks
// of five pieces 15 bytes apart, each leaving its 16th byte to the next,
// then a last block that ends with the line, whose pieces taken before are
// left out of the sum.
[[gnu::target("ssse3")]] bool TakeRegularLine(TextLine line, std::uint64_t count, char* digits,
                                              std::uint32_t& sum) {
  __m128i sums = _mm_setzero_si128();
  std::size_t at = 0;
  for (; at + 16 <= line.size(); at += 15) {
    const __m128i bytes = Bytes(line.data() + at);
    const __m128i own = _mm_cmplt_epi8(Bytes(kBlockTables.from), _mm_set1_epi8(15));  // the 16th is the next's
    if (!AddBlock(bytes, 0, own, own, sums)) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(digits + at / 3 * 2),
                     _mm_shuffle_epi8(bytes, Bytes(kBlockTables.take[0])));
  }
  const std::size_t taken = at / 3 - (count - 5);  // pieces of the last block taken before
  const __m128i bytes = Bytes(line.data() + line.size() - 16);
  if (!AddBlock(bytes, 1, _mm_set1_epi8(-1), BytesFrom(2 + 3 * taken), sums)) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(digits + 2 * (count - 5)),
                   _mm_shuffle_epi8(bytes, Bytes(kBlockTables.take[1])));
  sum = SumOf(sums);
  return true;
}

// The commonest line, 16 pieces in 47 characters, taken in three blocks
// (at 0, 16 and 31): its whole record of 43 characters is put together in
// registers and stored as three blocks of 16 bytes, which WriteLine reads
// back in the same blocks. The head is the record's first nine characters
// and their sum. False when the line is not regular.
[[gnu::target("ssse3")]] bool TakeSixteenPieces(const char* line, std::uint64_t head, std::uint32_t head_sum,
                                                char* record) {
  const __m128i first = Bytes(line);
  const __m128i second = Bytes(line + 16);
  const __m128i third = Bytes(line + 31);
  const __m128i all = _mm_set1_epi8(-1);
  __m128i sums = _mm_setzero_si128();
  const __m128i wrong = _mm_or_si128(
      _mm_or_si128(WeighBlock(first, 0, all, all, sums), WeighBlock(second, 1, all, all, sums)),
      WeighBlock(third, 1, all, BytesFrom(1), sums));
  if (_mm_movemask_epi8(wrong) != 0) return false;
  const std::uint32_t checksum = (256 - ((head_sum + SumOf(sums)) & 0xFF)) & 0xFF;
  // the digit j of the line is its byte j / 2 * 3 + j % 2; -1 takes nothing
  const __m128i block0 = _mm_or_si128(
      _mm_set_epi64x('0', static_cast<long long>(head)),
      _mm_shuffle_epi8(first, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 3, 4, 6, 7, 9)));
  const __m128i block1 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(first, _mm_setr_epi8(10, 12, 13, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
          _mm_shuffle_epi8(second, _mm_setr_epi8(-1, -1, -1, -1, 0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, -1))),
      _mm_shuffle_epi8(third, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2)));
  std::uint16_t digits;
  std::memcpy(&digits, kHexPairs.digits[checksum], 2);
  const __m128i block2 = _mm_or_si128(
      _mm_shuffle_epi8(third, _mm_setr_epi8(3, 5, 6, 8, 9, 11, 12, 14, 15, -1, -1, -1, -1, -1, -1, -1)),
      _mm_slli_si128(_mm_cvtsi32_si128(digits), 9));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record), block0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record + 16), block1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record + 32), block2);
  return true;
}
#else
bool HasPieceBlocks() { return false; }
bool TakeRegularLine(TextLine, std::uint64_t, char*, std::uint32_t&) { return false; }
bool TakeSixteenPieces(const char*, std::uint64_t, std::uint32_t, char*) { return false; }
#endif

// The first nine characters of a data record, ":", count, address and
// type, as one little-endian word and a last byte '0'.
std::uint64_t RecordHead(std::uint32_t count, std::uint32_t address) {
  std::uint16_t pair[3];
  std::memcpy(&pair[0], kHexPairs.digits[count & 0xFF], 2);
  std::memcpy(&pair[1], kHexPairs.digits[(address >> 8) & 0xFF], 2);
  std::memcpy(&pair[2], kHexPairs.digits[address & 0xFF], 2);
  return ':' | std::uint64_t{pair[0]} << 8 | std::uint64_t{pair[1]} << 24 | std::uint64_t{pair[2]} << 40 |
         std::uint64_t{'0'} << 56;
}

// The hot path of the loop: a data line of six to 255 pieces of two
// hexadecimal digits with single blanks, not crossing 64 KiB, is tested,
// summed and closed up in blocks and becomes one record. False for any
// other line, which is left to the general way.
bool WriteRegularRecord(LineFile& output, TextLine line, std::uint64_t count, LoopState& state) {
  constexpr std::size_t kHeader = 9;  // start code, count, address, type
  constexpr std::size_t kSpare = 7;   // the blocks stored run up to 7 bytes past the digits
  const std::uint32_t address = state.address;
  if (!HasPieceBlocks() || count < 6 || line.size() + 1 != 3 * count || count > kMaxRecordBytes ||
      (address & 0xFFFF) + count > kSegmentSize)
    return false;
  if (state.record.size() < kHeader + 2 * count + kSpare) state.record.resize(kHeader + 2 * count + kSpare);
  char* const record = state.record.data();
  const auto bytes = static_cast<std::uint32_t>(count);
  const std::uint32_t head_sum = bytes + ((address >> 8) & 0xFF) + (address & 0xFF);
  const std::uint64_t head = RecordHead(bytes, address);
  std::uint32_t sum = 0;
  if (count == 16) {
    if (!TakeSixteenPieces(line.data(), head, head_sum, record)) return false;
  } else {
    if (!TakeRegularLine(line, count, record + kHeader, sum)) return false;
    std::memcpy(record, &head, 8);
    record[8] = '0';
    PutHexByte(record + kHeader + 2 * count, 256 - ((head_sum + sum) & 0xFF));
  }
  AnnounceUpperBits(output, address, state.announced);
  WriteLine(output, std::string_view(record, kHeader + 2 * count + 2));
  return true;
}

std::uint64_t RoomInSegment(std::uint32_t address) { return kSegmentSize - (address & 0xFFFF); }

// The byte count N of a data line of this many characters.
std::uint64_t ByteCount(std::uint64_t length) { return (length + 1) / 3; }

// The records of remaining bytes of a line from address on, split where a
// record would cross 64 KiB or hold more than 255 bytes; the last takes
// all the data text that is left.
void WriteSplitRecords(LineFile& output, LoopState& state, DataCursor& data, std::uint32_t address,
                       std::uint64_t remaining) {
  do {
    const std::uint64_t k = std::min<std::uint64_t>({remaining, kMaxRecordBytes, RoomInSegment(address)});
    AnnounceUpperBits(output, address, state.announced);
    WriteDataRecord(output, state.record, data, static_cast<std::uint32_t>(k), address, k == remaining);
    address += static_cast<std::uint32_t>(k);
    remaining -= k;
  } while (remaining > 0);
}

void CountLine(LoopState& state, ConversionStats& stats, std::uint64_t count) {
  state.address += static_cast<std::uint32_t>(count);
  CountUp(stats.BytesConverted, static_cast<std::uint32_t>(count));
}

// One data line: count N from its length, split where a record would
// cross 64 KiB or hold more than 255 bytes.
void ConvertDataLine(LineFile& output, TextLine line, LoopState& state, ConversionStats& stats) {
  const std::uint64_t count = ByteCount(line.size());
  if (!WriteRegularRecord(output, line, count, state)) {
    DataCursor data{line.data(), line.data() + line.size()};
    WriteSplitRecords(output, state, data, state.address, count);
  }
  CountLine(state, stats, count);
}

// A data line too long to be held, read in parts. Its records are the
// same as if it were read whole: a record is written once the count has
// grown past it, so it is not the last, and its data text has been read.
// Only the data text not yet in a record is held, never the blanks.
struct LongDataLine {
  std::uint64_t length = 0;   // characters read, blanks and all
  std::uint64_t written = 0;  // bytes of the records written
  std::string text;           // data text, of which the first taken characters are in records
  std::size_t taken = 0;
};

void AddDataText(LongDataLine& line, TextLine part) {
  line.length += part.size();
  // What is in records is dropped once it is as long as the rest, or
  // 1 MiB: the text never holds much more than it must.
  if (line.taken >= line.text.size() - line.taken || line.taken >= kLargeText) {
    line.text.erase(0, line.taken);
    line.taken = 0;
  }
  const std::size_t held = line.text.size();
  // Text past 1 MiB is the excess of a line without blanks: room for all
  // of it that may be held, so its growth copies no large text.
  if (held + part.size() > line.text.capacity() && held + part.size() > kLargeText)
    line.text.reserve(held + part.size() + kMaxExcess);
  line.text.resize(held + part.size());
  char* const end = PutWithoutSpaces(line.text.data() + held, part);
  line.text.resize(static_cast<std::size_t>(end - line.text.data()));
}

void WriteKnownRecords(LineFile& output, LongDataLine& line, LoopState& state) {
  for (;;) {
    const std::uint32_t address = state.address + static_cast<std::uint32_t>(line.written);
    const std::uint64_t k = std::min<std::uint64_t>(kMaxRecordBytes, RoomInSegment(address));
    if (ByteCount(line.length) <= line.written + k || line.text.size() - line.taken < 2 * k) return;
    DataCursor data{line.text.data() + line.taken, line.text.data() + line.text.size()};
    AnnounceUpperBits(output, address, state.announced);
    WriteDataRecord(output, state.record, data, static_cast<std::uint32_t>(k), address, false);
    line.taken = static_cast<std::size_t>(data.next - line.text.data());
    line.written += k;
  }
}

// The data text beyond twice the count is left for the line's last
// record, whose count is known only at the line's end; a line that holds
// more of it than kMaxExcess is no TI-TXT any reader takes.
void LimitExcess(LongDataLine& line) {
  const std::uint64_t held = line.text.size() - line.taken;
  const std::uint64_t covered = 2 * (ByteCount(line.length) - line.written);
  if (held <= covered + kMaxExcess) return;
  std::string().swap(line.text);
  RaiseOutOfMemory();
}

[[gnu::noinline]] void ConvertLongDataLine(LineFile& source, LineFile& output, TextLine head, LoopState& state,
                                           ConversionStats& stats) {
  LongDataLine line;
  for (TextLine part = head;; part = ReadLinePart(source)) {
    AddDataText(line, part);
    WriteKnownRecords(output, line, state);
    LimitExcess(line);
    if (!source.line_open) break;
  }
  const std::uint64_t count = ByteCount(line.length);
  DataCursor data{line.text.data() + line.taken, line.text.data() + line.text.size()};
  WriteSplitRecords(output, state, data, state.address + static_cast<std::uint32_t>(line.written),
                    count - line.written);
  CountLine(state, stats, count);
}

// The address of an address line too long to be held: everything after
// the "@", read in parts.
[[gnu::noinline]] std::uint32_t LongAddress(LineFile& source, TextLine head) {
  HexField field;
  AddToHexField(field, head.substr(1));
  while (source.line_open) AddToHexField(field, ReadLinePart(source));
  return static_cast<std::uint32_t>(RequiredHexFieldValue(field));
}

}  // namespace

std::string RemoveSpaces(std::string_view text) {
  std::string storage;
  return std::string(CopyWithoutSpaces(storage, text));
}

std::string RecordChecksum(std::string_view record) {
  std::string checksum;
  if (record.empty()) return "00";
  AppendHex(checksum, (256 - PairSum(record.substr(1))) & 0xFF, 2);
  return checksum;
}

void ConvertTiTxtToHex(LineFile& source, LineFile& output, ConversionStats& stats) {
  stats = {};
  LoopState state;
  while (!AtEnd(source)) {
    const TextLine line = ReadLine(source);
    if (line.empty()) continue;
    if (line[0] == 'q') {
      WriteLine(output, kEndRecord);
      return;
    }
    if (line[0] == '@') {
      state.address = source.line_open ? LongAddress(source, line)
                                        : static_cast<std::uint32_t>(RequiredHexToInt(line.substr(1)));
      CountUp(stats.AddressRanges, 1);
      continue;
    }
    if (source.line_open)
      ConvertLongDataLine(source, output, line, state, stats);
    else
      ConvertDataLine(output, line, state, stats);
  }
  WriteLine(output, kEndRecord);
}
