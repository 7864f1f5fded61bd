// What the fuzz targets share: LineFiles over anonymous in-memory files, so
// a target reads and writes through the real text layer without touching
// the disk, and a way to stop on a broken property.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/run.h"
#include "shell/text.h"

// A property the target checks does not hold: libFuzzer records the input.
#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, \
                   #condition);                                                 \
      std::abort();                                                             \
    }                                                                           \
  } while (false)

// An anonymous in-memory file holding these bytes, positioned at its start.
inline int MemoryFile(std::string_view bytes) {
  const int fd = memfd_create("fuzz", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
  return fd;
}

// Everything an in-memory file holds.
inline std::string MemoryFileBytes(int fd) {
  std::string bytes;
  if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
  char block[4096];
  for (;;) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n < 0) std::abort();
    if (n == 0) return bytes;
    bytes.append(block, static_cast<std::size_t>(n));
  }
}

// A buffer size from one input byte: mostly tiny, so that lines cross
// refills, sometimes the size the programs use.
inline std::size_t BufferSize(unsigned char choice) {
  return choice >= 0xF0 ? 64 * 1024 : 1 + choice % 64;
}

// The output of a conversion loop run over bytes, and how it ended.
struct LoopRun {
  std::string output;
  std::int32_t bytes = 0;
  std::int32_t ranges = 0;
  bool failed = false;
  std::string message;  // of the EConvertError, when it failed
};

inline LoopRun RunLoop(ConversionLoop loop, std::string_view source_bytes, std::size_t read_buffer,
                       std::size_t write_buffer, std::size_t line_limit = kWholeLineLimit) {
  LoopRun run;
  const int in = MemoryFile(source_bytes);
  const int out = MemoryFile({});
  LineFile source;
  LineFile output;
  AttachForReading(source, in, read_buffer);
  source.line_limit = line_limit;
  AttachForWriting(output, out, write_buffer);
  ConversionStats stats;
  try {
    loop(source, output, stats);
    run.bytes = stats.BytesConverted;
    run.ranges = stats.AddressRanges;
  } catch (const EConvertError& failure) {
    // The only failure an in-memory file can meet is an invalid field.
    run.failed = true;
    run.message = failure.message;
  }
  FlushLineFile(output);
  run.output = MemoryFileBytes(out);
  close(in);
  close(out);
  return run;
}

// Runs a loop on the fuzz input (its first two bytes choose the buffer
// sizes and how much of a line is gathered, from shortest_line up) with
// those and with the usual ones: the two runs must agree in every respect.
// Gives the usual run; size is at least 2.
inline LoopRun RunWithBothBufferSizes(ConversionLoop loop, const std::uint8_t* data, std::size_t size,
                                      std::size_t shortest_line) {
  const std::string_view source(reinterpret_cast<const char*>(data) + 2, size - 2);
  const LoopRun small =
      RunLoop(loop, source, BufferSize(data[0]), BufferSize(data[1]), shortest_line + data[1] % 61);
  LoopRun usual = RunLoop(loop, source, 64 * 1024, 64 * 1024);
  FUZZ_CHECK(small.failed == usual.failed);
  FUZZ_CHECK(small.message == usual.message);
  FUZZ_CHECK(small.output == usual.output);
  FUZZ_CHECK(small.bytes == usual.bytes && small.ranges == usual.ranges);
  return usual;
}

// The message of EConvertError for an offending byte (none for an empty
// field), in Windows-1252.
inline std::string NotAnIntegerMessage(std::string_view offending) {
  return "'" + std::string(offending) + "' ist kein g\xFCltiger Integerwert";
}

inline bool IsNotAnIntegerMessage(std::string_view message) {
  const std::string tail = "' ist kein g\xFCltiger Integerwert";
  return (message.size() == tail.size() + 1 || message.size() == tail.size() + 2) &&
         message.front() == '\'' && message.substr(message.size() - tail.size()) == tail;
}
