// Helpers of the unit tests: temporary files, pipes and the texts the
// programs must produce. The tests speak to the system directly; the
// programs only through their platform layer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "shell/run.h"

// A folder of its own for one test, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(std::string_view name) const;
  // Writes the bytes into the file of that name and gives its path.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);

// The lines, each followed by CR LF (or by the given line end).
std::string Lines(const std::vector<std::string>& lines, std::string_view end = "\r\n");

// The message of EConvertError for one offending byte, and for an empty
// field: Windows-1252, so the u-umlaut is 0xFC.
std::string NotAnIntegerMessage(std::string_view offending);

inline bool operator==(const ConversionStats& a, const ConversionStats& b) {
  return a.BytesConverted == b.BytesConverted && a.AddressRanges == b.AddressRanges;
}

// What a conversion loop made of a source, run on temporary files.
struct Conversion {
  std::string output;
  ConversionStats stats;
  bool failed = false;
  std::string kind;     // of the failure that ended the loop
  std::string message;  // and its message
  bool operator==(const Conversion&) const = default;
};
// A completed conversion: its output and its counts, named in a failure.
void ExpectCompleted(const Conversion& result, std::string_view output, int bytes, int ranges,
                     std::string_view name);

// With the source read through a buffer of buffer_size bytes (0: as the
// programs open it) that gathers lines of at most line_limit bytes.
Conversion RunLoop(ConversionLoop loop, std::string_view source_bytes, std::size_t buffer_size = 0,
                   std::size_t line_limit = kWholeLineLimit);
