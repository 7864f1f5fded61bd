// The conversion loop of lusivo. Each TI-TXT data line becomes one Intel
// HEX data record (several where it crosses 64 KiB or holds more than 255
// bytes); its bytes are copied as the characters they are.
#include "lusivo/convert_titxt_to_hex.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::string_view kEndRecord = ":00000001FF";
constexpr std::uint32_t kMaxRecordBytes = 255;
constexpr std::uint64_t kSegmentSize = 0x10000;

// Copies text without its spaces into storage that only grows, and gives
// the copy: no allocation per line once the longest line was seen.
std::string_view CopyWithoutSpaces(std::string& storage, std::string_view text) {
  if (storage.size() < text.size()) storage.resize(text.size());
  char* out = storage.data();
  for (const char c : text) {
    *out = c;
    out += c != ' ';
  }
  return std::string_view(storage.data(), static_cast<std::size_t>(out - storage.data()));
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

#if defined(__SSE2__)
// Which bytes of 16 are the first digits, the second digits, either digit
// and the blanks of pieces "AA BB ...", for the three places a block can
// start within a piece.
struct PieceMasks {
  std::uint8_t high[3][16];
  std::uint8_t low[3][16];
  std::uint8_t digit[3][16];
  std::uint8_t blank[3][16];
};
constexpr PieceMasks MakePieceMasks() {
  PieceMasks masks{};
  for (int phase = 0; phase < 3; ++phase)
    for (int k = 0; k < 16; ++k) {
      const int place = (phase + k) % 3;
      masks.high[phase][k] = place == 0 ? 0xFF : 0;
      masks.low[phase][k] = place == 1 ? 0xFF : 0;
      masks.digit[phase][k] = place != 2 ? 0xFF : 0;
      masks.blank[phase][k] = place == 2 ? 0xFF : 0;
    }
  return masks;
}
constexpr PieceMasks kPieceMasks = MakePieceMasks();

__m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Tests the 16 bytes at p, which start at place phase of a piece, and adds
// the values of their pieces to sums; only the bytes in window count.
// False when a digit is no hexadecimal digit or a blank no blank.
[[gnu::always_inline]] inline bool AddPieceBlock(const char* p, int phase, __m128i window, __m128i& sums) {
  const __m128i bytes = Load(p);
  const __m128i digits = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
  const __m128i letters = _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letters, _mm_set1_epi8(5)), letters);
  const __m128i is_blank = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
  const __m128i right = _mm_or_si128(_mm_and_si128(_mm_or_si128(is_digit, is_letter), Load(kPieceMasks.digit[phase])),
                                     _mm_and_si128(is_blank, Load(kPieceMasks.blank[phase])));
  if ((_mm_movemask_epi8(right) | ~_mm_movemask_epi8(window)) != -1) return false;
  const __m128i values = _mm_and_si128(window, _mm_or_si128(_mm_and_si128(is_digit, digits),
                                                            _mm_and_si128(is_letter, _mm_add_epi8(letters, _mm_set1_epi8(10)))));
  // a first digit weighs 16: shifted within its 16-bit lane, it stays in its byte
  const __m128i weighed = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(values, Load(kPieceMasks.high[phase])), 4),
                                       _mm_and_si128(values, Load(kPieceMasks.low[phase])));
  sums = _mm_add_epi64(sums, _mm_sad_epu8(weighed, _mm_setzero_si128()));
  return true;
}

// For a line of 16 characters or more that is pieces of two hexadecimal
// digits with single blanks between them: true, and the sum of its pieces'
// values. Sixteen bytes are tested at a time; the last block ends with the
// line and counts only the bytes not tested before.
bool RegularPieceSum(TextLine line, std::uint32_t& sum) {
  const __m128i all = _mm_set1_epi8(-1);
  __m128i sums = _mm_setzero_si128();
  std::size_t at = 0;
  int phase = 0;  // 16 bytes on, a block starts one place further within a piece
  for (; at + 16 <= line.size(); at += 16, phase = phase == 2 ? 0 : phase + 1)
    if (!AddPieceBlock(line.data() + at, phase, all, sums)) return false;
  if (at < line.size()) {
    const std::size_t last = line.size() - 16;
    const __m128i untested = _mm_cmplt_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                            _mm_set1_epi8(static_cast<char>(at - last)));
    if (!AddPieceBlock(line.data() + last, static_cast<int>(last % 3), _mm_andnot_si128(untested, all), sums))
      return false;
  }
  sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  return true;
}

// The digits of eight pieces "AA BB CC DD EE FF GG HH" (23 characters) as
// the 16 characters "AABBCC...": four pieces in each 64-bit half, closed up
// by shifts.
void PutEightPairs(char* out, const char* pieces) {
  const __m128i first = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pieces)),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pieces + 12)));
  const __m128i fourth = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pieces + 3)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pieces + 15)));
  const __m128i pairs = _mm_or_si128(
      _mm_or_si128(_mm_and_si128(first, _mm_set1_epi64x(0xFFFF)),
                   _mm_and_si128(_mm_srli_epi64(first, 8), _mm_set1_epi64x(0xFFFF0000))),
      _mm_or_si128(_mm_and_si128(_mm_srli_epi64(first, 16), _mm_set1_epi64x(0xFFFF00000000)),
                   _mm_and_si128(fourth, _mm_set1_epi64x(static_cast<long long>(0xFFFF000000000000u)))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pairs);
}
#else
bool RegularPieceSum(TextLine, std::uint32_t&) { return false; }
#endif

// The digits of four pieces "AA BB CC DD" (eleven characters) as the eight
// characters "AABBCCDD": a few shifts of two words.
void PutFourPairs(char* out, const char* pieces) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t first;
    std::uint32_t last;
    std::memcpy(&first, pieces, 8);
    std::memcpy(&last, pieces + 7, 4);
    const std::uint64_t pairs = (first & 0xFFFF) | (first >> 8 & 0xFFFF0000) | (first >> 16 & 0xFFFF00000000) |
                                static_cast<std::uint64_t>(last >> 16) << 48;
    std::memcpy(out, &pairs, 8);
  } else {
    for (int k = 0; k < 4; ++k) std::memcpy(out + 2 * k, pieces + 3 * k, 2);
  }
}

// The hot path of the loop: a data line of pieces of two hexadecimal
// digits with single blanks, at most 255 of them and not crossing 64 KiB,
// is tested and summed in blocks and becomes one record with the digits
// copied a pair at a time. False for any other line, which is left to the
// general way.
bool WriteRegularRecord(LineFile& output, TextLine line, std::uint64_t count, LoopState& state) {
  std::uint32_t sum = 0;
  const std::uint32_t address = state.address;
  if (line.size() < 16 || line.size() + 1 != 3 * count || count > kMaxRecordBytes ||
      (address & 0xFFFF) + count > kSegmentSize || !RegularPieceSum(line, sum))
    return false;
  AnnounceUpperBits(output, address, state.announced);
  constexpr std::size_t kHeader = 9;  // start code, count, address, type
  if (state.record.size() < kHeader + 2 * count + 2) state.record.resize(kHeader + 2 * count + 2);
  char* const record = state.record.data();
  record[0] = ':';
  PutHexByte(record + 1, static_cast<std::uint32_t>(count));
  PutHexByte(record + 3, (address >> 8) & 0xFF);
  PutHexByte(record + 5, address & 0xFF);
  record[7] = '0';
  record[8] = '0';
  sum += static_cast<std::uint32_t>(count) + ((address >> 8) & 0xFF) + (address & 0xFF);
  char* out = record + kHeader;
  const char* piece = line.data();
  std::uint64_t k = 0;
#if defined(__SSE2__)
  for (; k + 8 <= count; k += 8, piece += 24, out += 16) PutEightPairs(out, piece);
#endif
  for (; k + 4 <= count; k += 4, piece += 12, out += 8) PutFourPairs(out, piece);
  for (; k < count; ++k, piece += 3, out += 2) std::memcpy(out, piece, 2);
  out = PutHexByte(out, 256 - (sum & 0xFF));
  WriteLine(output, std::string_view(record, static_cast<std::size_t>(out - record)));
  return true;
}

// One data line: count N from its length, split where a record would
// cross 64 KiB or hold more than 255 bytes.
void ConvertDataLine(LineFile& output, TextLine line, LoopState& state, ConversionStats& stats) {
  const std::uint64_t count = (line.size() + 1) / 3;
  if (!WriteRegularRecord(output, line, count, state)) {
    DataCursor data{line.data(), line.data() + line.size()};
    std::uint64_t remaining = count;
    std::uint32_t address = state.address;
    do {
      const std::uint64_t room = kSegmentSize - (address & 0xFFFF);
      const std::uint64_t k = std::min<std::uint64_t>({remaining, kMaxRecordBytes, room});
      AnnounceUpperBits(output, address, state.announced);
      WriteDataRecord(output, state.record, data, static_cast<std::uint32_t>(k), address, k == remaining);
      address += static_cast<std::uint32_t>(k);
      remaining -= k;
    } while (remaining > 0);
  }
  state.address += static_cast<std::uint32_t>(count);
  CountUp(stats.BytesConverted, static_cast<std::uint32_t>(count));
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
      state.address = static_cast<std::uint32_t>(RequiredHexToInt(line.substr(1)));
      CountUp(stats.AddressRanges, 1);
      continue;
    }
    ConvertDataLine(output, line, state, stats);
  }
  WriteLine(output, kEndRecord);
}
