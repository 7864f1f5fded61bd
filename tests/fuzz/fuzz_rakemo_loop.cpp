// The loop of rakemo over any bytes. It either completes, and then its
// output ends with the end line "q", or it fails with EConvertError naming
// one byte (or none, for an empty extended address field); it never meets
// another failure, and it does the same whatever the buffer sizes and
// however much of a line beyond its longest record is gathered.
#include <cstdint>
#include <string>

#include "rakemo/convert_hex_to_titxt.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Start code, count, address, type and 255 data pieces: all of a record
// the loop reads.
constexpr std::size_t kLongestRecord = 9 + 2 * 255;

void CheckLines(const std::string& output) {
  std::size_t begin = 0;
  while (begin < output.size()) {
    const std::size_t end = output.find("\r\n", begin);
    FUZZ_CHECK(end != std::string::npos);  // every line ends with CR LF
    const std::string_view line(output.data() + begin, end - begin);
    // Data lines hold at most 16 pieces and their blanks; address lines
    // at most "@" and eight digits.
    FUZZ_CHECK(line.size() <= 48);
    FUZZ_CHECK(line.find_first_of("\r\n\x1A") == std::string_view::npos);
    begin = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const LoopRun usual = RunWithBothBufferSizes(ConvertHexToTiTxt, data, size, kLongestRecord);

  CheckLines(usual.output);
  if (usual.failed) {
    FUZZ_CHECK(IsNotAnIntegerMessage(usual.message));
  } else {
    const std::string_view out(usual.output);
    FUZZ_CHECK(out == "q\r\n" || out.ends_with("\r\nq\r\n"));
    FUZZ_CHECK(usual.bytes >= 0 && usual.ranges >= 0);
  }
  return 0;
}
