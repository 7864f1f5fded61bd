// The conversion loop of rakemo. Records are read at fixed character
// positions; data bytes are copied as the two characters they are.
#include "rakemo/convert_hex_to_titxt.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t kMinRecordLength = 10;
// Start code, count, address, type and at most 255 data pieces: all of a
// record that is ever read.
constexpr std::size_t kMaxRecordLength = 9 + 2 * 255;
static_assert(kWholeLineLimit >= kMaxRecordLength);
constexpr std::size_t kFullDataLine = 47;  // 16 pieces of two characters and their blanks

// The data line being built: pieces each followed by one blank. It never
// holds more than 46 characters plus one piece before it is written; runs
// of pieces are put only where they fit before it is full, and a run of
// eight may write two spare bytes behind itself.
struct PendingDataLine {
  alignas(16) char text[kFullDataLine + 8];
  std::size_t size = 0;
};

void FlushPending(LineFile& output, PendingDataLine& pending) {
  if (pending.size == 0) return;
  WriteLine(output, std::string_view(pending.text, pending.size - 1));
  pending.size = 0;
}

void WriteEndLine(LineFile& output, PendingDataLine& pending) {
  FlushPending(output, pending);
  WriteLine(output, "q");
}

// Four pieces of two characters from eight characters of data, as the 12
// characters "AA BB CC DD " (with those four pairs): a few shifts of one
// word instead of a store per character.
void PutFourPieces(char* out, const char* data) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t pairs;
    std::memcpy(&pairs, data, 8);
    const std::uint64_t first = (pairs & 0xFFFF) | (pairs & 0xFFFF0000) << 8 |
                                (pairs & 0xFFFF00000000) << 16 | 0x0000200000200000;
    const auto second = static_cast<std::uint32_t>(pairs >> 48) << 8 | 0x20000020;
    std::memcpy(out, &first, 8);
    std::memcpy(out + 8, &second, 4);
  } else {
    for (int k = 0; k < 4; ++k) {
      std::memcpy(out + 3 * k, data + 2 * k, 2);
      out[3 * k + 2] = ' ';
    }
  }
}

// Eight pieces from sixteen characters of data: the pairs spread to four
// bytes each with blanks, then closed up to three bytes each in every
// 64-bit half, which is stored on its own (with two spare bytes behind it).
void PutEightPieces(char* out, const char* data) {
#if defined(__SSE2__)
  const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  const __m128i blanks = _mm_set1_epi8(' ');
  const __m128i first = _mm_set1_epi64x(0x0000000000FFFFFF);
  const __m128i second = _mm_set1_epi64x(0x0000FFFFFF000000);
  for (__m128i spread : {_mm_unpacklo_epi16(pairs, blanks), _mm_unpackhi_epi16(pairs, blanks)}) {
    // "AA__BB__" in each half becomes "AA_BB_"
    spread = _mm_or_si128(_mm_and_si128(spread, first), _mm_and_si128(_mm_srli_epi64(spread, 8), second));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), spread);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(spread, 8));
    out += 12;
  }
#else
  PutFourPieces(out, data);
  PutFourPieces(out + 12, data + 8);
#endif
}

#if defined(__x86_64__) && defined(__GNUC__)
// A whole data line is put with SSSE3 byte shuffles where the processor
// has them.
bool HasLineShuffles() { return ProcessorHasSsse3(); }

// Sixteen pieces from 32 characters of data, a whole data line and its
// last blank, as three blocks of 16 bytes: WriteLine reads the line back in
// the blocks it was stored in. Byte k of the line is a blank where k % 3 is
// 2 and else the digit k / 3 * 2 + k % 3.
[[gnu::target("ssse3")]] void PutSixteenPieces(char* out, const char* data) {
  const __m128i blanks = _mm_set1_epi8(' ');
  const __m128i where[3] = {
      _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10),
      _mm_setr_epi8(3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13),  // digits from 8 on
      _mm_setr_epi8(-1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13, -1, 14, 15, -1),  // digits from 16 on
  };
  for (int block = 0; block < 3; ++block) {
    const __m128i digits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 8 * block));
    const __m128i is_blank = _mm_cmplt_epi8(where[block], _mm_setzero_si128());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * block),
                     _mm_or_si128(_mm_shuffle_epi8(digits, where[block]), _mm_and_si128(is_blank, blanks)));
  }
}
#else
bool HasLineShuffles() { return false; }
void PutSixteenPieces(char*, const char*) {}
#endif

// Appends the pieces of one data record: the hot path of the loop. The
// pieces of two characters go in runs that end where the data line is
// full, eight or four at a time; only the missing pieces of a short record
// go one by one.
void AppendPieces(LineFile& output, PendingDataLine& pending, TextLine data_text, std::int32_t count,
                  ConversionStats& stats) {
  if (count <= 0) return;
  const std::size_t pieces = static_cast<std::size_t>(count);
  const std::size_t available = data_text.size();
  const char* data = data_text.data();
  if (pending.size == 0 && pieces == 16 && available >= 32 && HasLineShuffles()) {
    PutSixteenPieces(pending.text, data);  // the commonest record: one whole data line
    WriteLine(output, std::string_view(pending.text, kFullDataLine));
    CountUp(stats.BytesConverted, 16);
    return;
  }
  const std::size_t whole = std::min(pieces, available / 2);
  std::size_t i = 0;
  while (i < whole) {
    const std::size_t room = (kFullDataLine + 2 - pending.size) / 3;  // pieces until it is full
    const std::size_t run = std::min(whole - i, room);
    char* out = pending.text + pending.size;
    const char* in = data + 2 * i;
    std::size_t j = 0;
    if (run == 16 && HasLineShuffles()) {  // a whole line
      PutSixteenPieces(out, in);
      j = 16;
    }
    for (; j + 8 <= run; j += 8, out += 24, in += 16) PutEightPieces(out, in);
    for (; j + 4 <= run; j += 4, out += 12, in += 8) PutFourPieces(out, in);
    for (; j < run; ++j, out += 3, in += 2) {
      std::memcpy(out, in, 2);
      out[2] = ' ';
    }
    pending.size += 3 * run;
    i += run;
    if (pending.size >= kFullDataLine) FlushPending(output, pending);
  }
  for (; i < pieces; ++i) {
    char* out = pending.text + pending.size;
    if (2 * i + 1 == available) {
      out[0] = data[2 * i];
      out[1] = ' ';
      pending.size += 2;
    } else {
      out[0] = ' ';
      pending.size += 1;
    }
    if (pending.size >= kFullDataLine) FlushPending(output, pending);
  }
  CountUp(stats.BytesConverted, static_cast<std::uint32_t>(count));
}

// The value of a byte count or address field. Hot path: fields of digits
// only are read through the digit table; any other field goes through
// HexToInt, which trims, gives -1 and names the wrong character.
std::int32_t FieldValue(TextLine field) {
  std::uint32_t value = 0;
  for (const char c : field) {
    const int digit = kHexDigits.value[static_cast<unsigned char>(c)];
    if (digit < 0) return HexToInt(field);
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

// "@" and an address in hexadecimal, at least four digits.
void WriteAddressLine(LineFile& output, std::int64_t address) {
  std::string line = "@";
  AppendHex(line, static_cast<std::uint32_t>(address), 4);
  WriteLine(output, line);
}

// The address line that opens a range: without a base, the address field
// as the source wrote it, case and all.
void WriteAddressLine(LineFile& output, TextLine address_text, std::int64_t address,
                      std::int64_t base) {
  if (base != 0) return WriteAddressLine(output, address);
  std::string line = "@";
  line += address_text;
  WriteLine(output, line);
}

// The address base and how it was set: a segment of 64 KiB from an
// extended segment address record, whose records wrap at its end, or a
// linear base (also none at all), above which addresses run on.
struct AddressBase {
  std::int64_t value = 0;
  bool segment = false;
};

constexpr std::int64_t kSegmentSize = 0x10000;

// The pieces of a data record at offset in its segment: those past the
// segment's end go on at its start, as a range of their own. Gives the
// address after the record.
std::int64_t AppendRecord(LineFile& output, PendingDataLine& pending, TextLine data_text,
                          std::int64_t offset, std::int32_t count, const AddressBase& base,
                          ConversionStats& stats) {
  if (!base.segment || offset < 0 || offset + count <= kSegmentSize) {
    AppendPieces(output, pending, data_text, count, stats);
    return base.value + offset + count;
  }
  const auto before_end = static_cast<std::int32_t>(kSegmentSize - offset);
  AppendPieces(output, pending, data_text, before_end, stats);
  FlushPending(output, pending);
  WriteAddressLine(output, base.value);
  CountUp(stats.AddressRanges, 1);
  const std::size_t taken = std::min(data_text.size(), 2 * static_cast<std::size_t>(before_end));
  AppendPieces(output, pending, data_text.substr(taken), count - before_end, stats);
  return base.value + offset + count - kSegmentSize;
}

}  // namespace

void ConvertHexToTiTxt(LineFile& source, LineFile& output, ConversionStats& stats) {
  stats = {};
  std::int64_t expected_address = -1;
  AddressBase base;  // from the last extended segment or linear address record
  PendingDataLine pending;
  for (;;) {
    if (AtEnd(source)) {
      WriteEndLine(output, pending);
      return;
    }
    const TextLine line = ReadLine(source);
    // A record is read up to its 255th data piece, far within the first
    // bytes of a long line: the rest is dropped as it is read.
    if (source.line_open) SkipLine(source);
    if (line.size() < kMinRecordLength) continue;
    const TextLine type = line.substr(7, 2);
    if (type != "00") {  // data, the commonest type, passes one test
      if (type == "01") {
        WriteEndLine(output, pending);
        return;
      }
      if (type == "02" || type == "04") {
        const std::int64_t value = RequiredHexToInt(line.substr(9, 4));
        base = type == "02" ? AddressBase{value * 16, true} : AddressBase{value * 65536, false};
        continue;
      }
      if (type == "03" || type == "05") continue;  // start addresses hold no data
    }

    const TextLine address_text = line.substr(3, 4);
    const std::int64_t offset = FieldValue(address_text);
    const std::int64_t address = base.value + offset;
    if (address != expected_address) {
      FlushPending(output, pending);
      WriteAddressLine(output, address_text, address, base.value);
      CountUp(stats.AddressRanges, 1);
    }
    const std::int32_t count = FieldValue(line.substr(1, 2));
    const TextLine data_text = line.substr(kMinRecordLength - 1);
    expected_address = AppendRecord(output, pending, data_text, offset, count, base, stats);
  }
}
