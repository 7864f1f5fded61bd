// The conversion loop of lusivo. Each TI-TXT data line becomes one Intel
// HEX data record (several where it crosses 64 KiB or holds more than 255
// bytes); its bytes are copied as the characters they are.
#include "lusivo/convert_titxt_to_hex.h"

#include <algorithm>

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

// A byte as two upper-case hexadecimal digits, as FormatHex writes it.
char* PutHexByte(char* out, std::uint32_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out[0] = kDigits[(byte >> 4) & 0xF];
  out[1] = kDigits[byte & 0xF];
  return out + 2;
}

// Announces the upper 16 address bits when they change.
void AnnounceUpperBits(LineFile& output, std::uint32_t address, std::uint32_t& announced) {
  const std::uint32_t upper = address >> 16;
  if (upper == announced) return;
  std::string record = ":02000004";
  AppendHex(record, upper, 4);
  record += RecordChecksum(record);
  WriteLine(output, record);
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

// One data line: count N from its length, split where a record would
// cross 64 KiB or hold more than 255 bytes.
void ConvertDataLine(LineFile& output, TextLine line, LoopState& state, ConversionStats& stats) {
  const std::uint64_t count = (line.size() + 1) / 3;
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
