// The conversion loop of rakemo. Records are read at fixed character
// positions; data bytes are copied as the two characters they are.
#include "rakemo/convert_hex_to_titxt.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kMinRecordLength = 10;
constexpr std::size_t kFullDataLine = 47;  // 16 pieces of two characters and their blanks

// The data line being built: pieces each followed by one blank. It never
// holds more than 46 characters plus one piece before it is written.
struct PendingDataLine {
  char text[kFullDataLine + 4];
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

// Appends the pieces of one data record: the hot path of the loop. The
// pieces of two characters go in runs that end where the data line is
// full; only the missing pieces of a short record go one by one.
void AppendPieces(LineFile& output, PendingDataLine& pending, TextLine line, std::int32_t count,
                  ConversionStats& stats) {
  if (count <= 0) return;
  const std::size_t pieces = static_cast<std::size_t>(count);
  const std::size_t available = line.size() - (kMinRecordLength - 1);
  const char* data = line.data() + (kMinRecordLength - 1);
  const std::size_t whole = std::min(pieces, available / 2);
  std::size_t i = 0;
  while (i < whole) {
    const std::size_t room = (kFullDataLine + 2 - pending.size) / 3;  // pieces until it is full
    const std::size_t run = std::min(whole - i, room);
    char* out = pending.text + pending.size;
    for (std::size_t j = 0; j < run; ++j, out += 3) {
      std::memcpy(out, data + 2 * (i + j), 2);
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

void WriteAddressLine(LineFile& output, TextLine address_text, std::int64_t address,
                      std::int64_t base) {
  std::string line = "@";
  if (base == 0)
    line += address_text;  // as the source wrote it, case and all
  else
    AppendHex(line, static_cast<std::uint32_t>(address), 4);
  WriteLine(output, line);
}

}  // namespace

void ConvertHexToTiTxt(LineFile& source, LineFile& output, ConversionStats& stats) {
  stats = {};
  std::int64_t expected_address = -1;
  std::int64_t base = 0;  // from the last extended segment or linear address record
  PendingDataLine pending;
  for (;;) {
    if (AtEnd(source)) {
      WriteEndLine(output, pending);
      return;
    }
    const TextLine line = ReadLine(source);
    if (line.size() < kMinRecordLength) continue;
    const TextLine type = line.substr(7, 2);
    if (type == "01") {
      WriteEndLine(output, pending);
      return;
    }
    if (type == "02" || type == "04") {
      const std::int64_t value = RequiredHexToInt(line.substr(9, 4));
      base = type == "02" ? value * 16 : value * 65536;
      continue;
    }
    if (type == "03" || type == "05") continue;  // start addresses hold no data

    const TextLine address_text = line.substr(3, 4);
    const std::int64_t address = base + FieldValue(address_text);
    if (address != expected_address) {
      FlushPending(output, pending);
      WriteAddressLine(output, address_text, address, base);
      CountUp(stats.AddressRanges, 1);
    }
    const std::int32_t count = FieldValue(line.substr(1, 2));
    AppendPieces(output, pending, line, count, stats);
    expected_address = address + count;
  }
}
