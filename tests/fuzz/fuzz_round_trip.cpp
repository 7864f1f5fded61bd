// A well-formed Intel HEX image built from the fuzz input goes through the
// loop of rakemo and then that of lusivo: every byte must come back at its
// address, in the order of the source, in records a strict reader takes.
//
// The image mixes what toolchains write: 16-bit addresses alone, extended
// linear (04) or segment (02) address records, start address records (03,
// 05), upper- and lower-case digits, CR LF, LF or CR line ends, wrong
// checksums (never examined), records of 0 to 255 bytes, gaps and steps
// back, and anything at all behind the end record.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "lusivo/convert_titxt_to_hex.h"
#include "rakemo/convert_hex_to_titxt.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Image = std::vector<std::pair<std::uint32_t, std::uint8_t>>;  // address, byte, in order

enum class Addressing { Plain, Linear, Segment };

class HexWriter {
 public:
  explicit HexWriter(FuzzedDataProvider& input) : input_(input) {}

  void Record(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& bytes) {
    const bool lower = input_.ConsumeBool();
    std::vector<std::uint8_t> fields{static_cast<std::uint8_t>(bytes.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address), type};
    fields.insert(fields.end(), bytes.begin(), bytes.end());
    unsigned sum = 0;
    for (const std::uint8_t b : fields) sum += b;
    fields.push_back(input_.ConsumeIntegralInRange(0, 7) == 0 ? input_.ConsumeIntegral<std::uint8_t>()
                                                               : static_cast<std::uint8_t>(-sum));
    text_ += ':';
    for (const std::uint8_t b : fields) {
      text_ += Digit(b >> 4, lower);
      text_ += Digit(b & 0xF, lower);
    }
    switch (input_.ConsumeIntegralInRange(0, 3)) {
      case 0: text_ += '\n'; break;
      case 1: text_ += '\r'; break;
      default: text_ += "\r\n"; break;
    }
  }

  std::string& Text() { return text_; }

 private:
  static char Digit(int value, bool lower) {
    return static_cast<char>(value < 10 ? '0' + value : (lower ? 'a' : 'A') + value - 10);
  }
  FuzzedDataProvider& input_;
  std::string text_;
};

std::vector<std::uint8_t> Word(std::uint16_t value) {
  return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

// Builds the source and the bytes it places, in their order.
std::string BuildImage(FuzzedDataProvider& input, Image& image) {
  HexWriter hex(input);
  const auto addressing = static_cast<Addressing>(input.ConsumeIntegralInRange(0, 2));
  std::uint64_t next = input.ConsumeIntegral<std::uint16_t>();  // where the next record goes
  std::uint64_t base = 0;
  while (input.remaining_bytes() > 0) {
    const int choice = input.ConsumeIntegralInRange(0, 15);
    if (choice == 3) break;
    if (choice == 0) {  // a jump, also backwards
      if (input.ConsumeBool()) {  // just below a 64 KiB boundary, where records are split
        const std::uint64_t boundary =
            std::uint64_t{input.ConsumeIntegralInRange<std::uint32_t>(
                1, addressing == Addressing::Plain ? 1 : addressing == Addressing::Segment ? 0xF : 0xFFFF)}
            << 16;
        next = boundary - input.ConsumeIntegralInRange<std::uint64_t>(0, 40);
      } else {
        next = addressing == Addressing::Plain     ? input.ConsumeIntegral<std::uint16_t>()
               : addressing == Addressing::Segment ? input.ConsumeIntegralInRange<std::uint32_t>(0, 0xFFFFF)
                                                   : input.ConsumeIntegral<std::uint32_t>();
      }
      continue;
    }
    if (choice == 1) {  // start addresses hold no data
      const bool linear = input.ConsumeBool();
      hex.Record(linear ? 5 : 3, 0, input.ConsumeBytes<std::uint8_t>(4));
      continue;
    }
    std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, choice == 2 ? 255 : 32);
    // Where the record can reach: a plain image stays below 64 KiB, a
    // segment record stays inside its segment, a linear image below 4 GiB
    // (a linear record may run on past a 64 KiB boundary).
    if (addressing == Addressing::Plain) {
      next &= 0xFFFF;
      length = std::min<std::uint64_t>(length, 0x10000 - next);
    } else if (addressing == Addressing::Linear) {
      next &= 0xFFFFFFFF;
      length = std::min<std::uint64_t>(length, 0x100000000 - next);
      if (next >> 16 != base >> 16) {
        base = next & 0xFFFF0000;
        hex.Record(4, 0, Word(static_cast<std::uint16_t>(next >> 16)));
      }
    } else {
      next &= 0xFFFFF;
      if (next < base || next - base + length > 0x10000) {
        base = next & 0xFFFF0;
        hex.Record(2, 0, Word(static_cast<std::uint16_t>(next >> 4)));
      }
    }
    std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(length);
    hex.Record(0, static_cast<std::uint16_t>(next - base), bytes);
    for (const std::uint8_t b : bytes) image.emplace_back(static_cast<std::uint32_t>(next++), b);
  }
  if (input.ConsumeBool()) {
    hex.Record(1, 0, {});
    hex.Text() += input.ConsumeRemainingBytesAsString();  // never read
  }
  return hex.Text();
}

std::uint32_t Hex(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'));
    value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

// A strict reader of what lusivo writes: the bytes it places, in order.
Image ReadStrictly(const std::string& text) {
  Image image;
  std::uint32_t upper = 0;
  bool ended = false;
  std::size_t begin = 0;
  while (begin < text.size()) {
    FUZZ_CHECK(!ended);
    const std::size_t end = text.find("\r\n", begin);
    FUZZ_CHECK(end != std::string::npos);
    const std::string_view line(text.data() + begin, end - begin);
    begin = end + 2;
    FUZZ_CHECK(line.size() >= 11 && line.size() % 2 == 1 && line[0] == ':');
    std::vector<std::uint32_t> fields;
    unsigned sum = 0;
    for (std::size_t i = 1; i < line.size(); i += 2) {
      fields.push_back(Hex(line.substr(i, 2)));
      sum += fields.back();
    }
    FUZZ_CHECK(sum % 256 == 0);
    const std::uint32_t count = fields[0];
    const std::uint32_t address = fields[1] << 8 | fields[2];
    FUZZ_CHECK(fields.size() == count + 5);
    switch (fields[3]) {
      case 0:
        FUZZ_CHECK(address + count <= 0x10000);
        for (std::uint32_t i = 0; i < count; ++i)
          image.emplace_back(upper + address + i, static_cast<std::uint8_t>(fields[4 + i]));
        break;
      case 1: ended = true; break;
      case 4:
        FUZZ_CHECK(count == 2 && address == 0);
        upper = (fields[4] << 8 | fields[5]) << 16;
        break;
      default: FUZZ_CHECK(false);
    }
  }
  FUZZ_CHECK(ended);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t buffers[4] = {BufferSize(input.ConsumeIntegral<std::uint8_t>()),
                                  BufferSize(input.ConsumeIntegral<std::uint8_t>()),
                                  BufferSize(input.ConsumeIntegral<std::uint8_t>()),
                                  BufferSize(input.ConsumeIntegral<std::uint8_t>())};
  Image image;
  const std::string intel_hex = BuildImage(input, image);

  const LoopRun titxt = RunLoop(ConvertHexToTiTxt, intel_hex, buffers[0], buffers[1]);
  FUZZ_CHECK(!titxt.failed);
  FUZZ_CHECK(titxt.bytes == static_cast<std::int32_t>(image.size()));
  const LoopRun back = RunLoop(ConvertTiTxtToHex, titxt.output, buffers[2], buffers[3]);
  FUZZ_CHECK(!back.failed);
  FUZZ_CHECK(back.bytes == static_cast<std::int32_t>(image.size()));
  FUZZ_CHECK(ReadStrictly(back.output) == image);
  return 0;
}
