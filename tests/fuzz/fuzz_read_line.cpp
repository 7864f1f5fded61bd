// ReadLine, ReadLinePart and AtEnd over any bytes, any buffer size and any
// gathering limit. The lines the reading pattern delivers (a cut line
// completed by its parts), each followed by one line end, must give back
// the input up to its first Ctrl-Z with every line end (CR LF, a lone CR, a
// lone LF) written as one LF.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

// The input as lines followed by LF, by the reading rules: stop at the
// first Ctrl-Z, CR LF and lone CR and lone LF are each one line end, and a
// last line without a line end still is a line.
std::string Normalised(std::string_view input) {
  input = input.substr(0, input.find('\x1A'));
  std::string text;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '\r') {
      if (i + 1 < input.size() && input[i + 1] == '\n') ++i;
      text += '\n';
    } else {
      text += input[i];
    }
  }
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t buffer_size = BufferSize(data[0]);
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  const int fd = MemoryFile(input);
  LineFile file;
  AttachForReading(file, fd, buffer_size);
  file.line_limit = 1 + data[0] % 37;
  std::string lines;
  std::size_t count = 0;
  while (!AtEnd(file)) {
    FUZZ_CHECK(!AtEnd(file));  // the test does not move the read position
    std::string line(ReadLine(file));
    if (file.line_open) FUZZ_CHECK(line.size() == file.line_limit);
    while (file.line_open) line += ReadLinePart(file);
    for (const char c : line) FUZZ_CHECK(c != '\r' && c != '\n' && c != '\x1A');
    lines.append(line);
    lines += '\n';
    FUZZ_CHECK(++count <= input.size());  // every line takes at least one byte
  }
  // Once at the end, the file stays there and gives empty lines.
  FUZZ_CHECK(ReadLine(file).empty());
  FUZZ_CHECK(AtEnd(file));
  FUZZ_CHECK(lines == Normalised(input));
  close(fd);
  return 0;
}
