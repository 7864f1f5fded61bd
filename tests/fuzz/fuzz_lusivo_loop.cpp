// The loop of lusivo over any bytes. It either completes, and then its
// output ends with the end record, or it fails with EConvertError naming one
// byte (or none, for "@" alone); it does the same whatever the buffer sizes
// and however a long line is cut into parts.
// Whatever the input, every record it writes has a two-digit count of at
// most 255, a four-digit load address, type 00 or 04, and no data record
// crosses a 64 KiB boundary; a record of hexadecimal digits only carries
// the right checksum; the counts of the data records add up to
// BytesConverted.
#include <cstdint>
#include <string>

#include "lusivo/convert_titxt_to_hex.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of upper-case hexadecimal text, or -1.
std::int64_t UpperHex(std::string_view text) {
  std::int64_t value = 0;
  for (const char c : text) {
    if (Digit(c) < 0) return -1;
    value = value * 16 + Digit(c);
  }
  return value;
}

bool AllHex(std::string_view text) {
  for (const char c : text)
    if (Digit(c) < 0 && !(c >= 'a' && c <= 'f')) return false;
  return true;
}

int HexValue(char c) { return c >= 'a' ? c - 'a' + 10 : Digit(c); }

// Checks every record; gives the sum of the data records' counts.
std::uint32_t CheckRecords(const std::string& output, bool completed) {
  std::uint32_t counted = 0;
  std::size_t begin = 0;
  std::string_view last;
  while (begin < output.size()) {
    const std::size_t end = output.find("\r\n", begin);
    FUZZ_CHECK(end != std::string::npos);
    const std::string_view line(output.data() + begin, end - begin);
    begin = end + 2;
    last = line;
    FUZZ_CHECK(line.size() >= 11 && line[0] == ':');
    const std::int64_t count = UpperHex(line.substr(1, 2));
    const std::int64_t address = UpperHex(line.substr(3, 4));
    const std::string_view type = line.substr(7, 2);
    FUZZ_CHECK(count >= 0 && address >= 0);
    if (type == "01") {
      FUZZ_CHECK(line == ":00000001FF");
      FUZZ_CHECK(begin == output.size());  // the end record is the last line
      continue;
    }
    FUZZ_CHECK(type == "00" || type == "04");
    if (type == "04") {
      FUZZ_CHECK(count == 2 && address == 0 && line.size() == 15 && UpperHex(line.substr(9)) >= 0);
    } else {
      FUZZ_CHECK(address + count <= 0x10000);
      counted += static_cast<std::uint32_t>(count);
    }
    const std::string_view pairs = line.substr(1);
    if (pairs.size() % 2 == 0 && AllHex(pairs)) {
      unsigned sum = 0;
      for (std::size_t i = 0; i < pairs.size(); i += 2)
        sum += static_cast<unsigned>(HexValue(pairs[i]) * 16 + HexValue(pairs[i + 1]));
      FUZZ_CHECK(sum % 256 == 0);
    }
  }
  if (completed) FUZZ_CHECK(last == ":00000001FF");
  return counted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const LoopRun usual = RunWithBothBufferSizes(ConvertTiTxtToHex, data, size, 1);

  const std::uint32_t counted = CheckRecords(usual.output, !usual.failed);
  if (usual.failed)
    FUZZ_CHECK(IsNotAnIntegerMessage(usual.message));
  else
    FUZZ_CHECK(counted == static_cast<std::uint32_t>(usual.bytes));
  return 0;
}
