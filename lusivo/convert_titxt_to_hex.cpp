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

// The sum of the record's pairs after its start code, modulo 256. Hot
// path: pairs of two hexadecimal digits are read through the digit table;
// only other pairs go through HexToInt, which trims and fails as it must.
std::uint32_t PairSum(std::string_view record) {
  std::uint32_t sum = 0;
  for (std::size_t i = 1; i + 1 < record.size(); i += 2) {
    const int high = kHexDigits.value[static_cast<unsigned char>(record[i])];
    const int low = kHexDigits.value[static_cast<unsigned char>(record[i + 1])];
    if ((high | low) >= 0)
      sum += static_cast<std::uint32_t>(high * 16 + low);
    else
      sum += static_cast<std::uint32_t>(HexToInt(record.substr(i, 2)));
  }
  return sum & 0xFF;
}

void AppendChecksum(std::string& record) { record += RecordChecksum(record); }

// Announces the upper 16 address bits when they change.
void AnnounceUpperBits(LineFile& output, std::string& record, std::uint32_t address,
                       std::uint32_t& announced) {
  const std::uint32_t upper = address >> 16;
  if (upper == announced) return;
  record.assign(":02000004");
  AppendHex(record, upper, 4);
  AppendChecksum(record);
  WriteLine(output, record);
  announced = upper;
}

struct LoopState {
  std::uint32_t address = 0;    // running address, modulo 2^32
  std::uint32_t announced = 0;  // upper address bits last announced
  std::string data;             // holds the data text of the current line
  std::string record;           // the record being built
};

// One data line: count N from its length, split where a record would
// cross 64 KiB or hold more than 255 bytes.
void ConvertDataLine(LineFile& output, TextLine line, LoopState& state, ConversionStats& stats) {
  const std::uint64_t count = (line.size() + 1) / 3;
  const std::string_view data = CopyWithoutSpaces(state.data, line);
  std::uint64_t remaining = count;
  std::uint32_t address = state.address;
  std::size_t taken = 0;
  do {
    const std::uint64_t room = kSegmentSize - (address & 0xFFFF);
    const std::uint64_t k = std::min<std::uint64_t>({remaining, kMaxRecordBytes, room});
    AnnounceUpperBits(output, state.record, address, state.announced);
    state.record.assign(1, ':');
    AppendHex(state.record, static_cast<std::uint32_t>(k), 2);
    AppendHex(state.record, address & 0xFFFF, 4);
    state.record += "00";
    const std::string_view rest = data.substr(std::min(taken, data.size()));
    state.record += k == remaining ? rest : rest.substr(0, 2 * k);
    AppendChecksum(state.record);
    WriteLine(output, state.record);
    taken += 2 * k;
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
  AppendHex(checksum, (256 - PairSum(record)) & 0xFF, 2);
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
