#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "shell/text.h"

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/unit-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder: " << pattern;
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Path(std::string_view name) const { return path_ + "/" + std::string(name); }

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string path = Path(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
  return path;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Lines(const std::vector<std::string>& lines, std::string_view end) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += end;
  }
  return text;
}

std::string NotAnIntegerMessage(std::string_view offending) {
  std::string message = "'";
  message += offending;
  message += "' ist kein g\xFC" "ltiger Integerwert";
  return message;
}

Conversion RunLoop(ConversionLoop loop, std::string_view source_bytes, std::size_t buffer_size,
                   std::size_t line_limit) {
  TempDir dir;
  const std::string source_path = dir.Write("source", source_bytes);
  const std::string output_path = dir.Path("output");
  LineFile source;
  LineFile output;
  OpenForReading(source, source_path);
  if (buffer_size != 0) AttachForReading(source, source.handle, buffer_size);
  source.line_limit = line_limit;
  CreateForWriting(output, output_path);
  Conversion result;
  result.stats = {-7, -7};  // the loop resets them
  try {
    loop(source, output, result.stats);
  } catch (const Failure& failure) {
    result.failed = true;
    result.kind = failure.KindName();
    result.message = failure.message;
  }
  // What the loop wrote before a failure is in the output's buffer: closing
  // writes it out, so the test sees every line the loop handed over.
  CloseLineFile(source);
  CloseLineFile(output);
  result.output = ReadFileBytes(output_path);
  return result;
}

void ExpectCompleted(const Conversion& result, std::string_view output, int bytes, int ranges,
                     std::string_view name) {
  EXPECT_FALSE(result.failed) << name << ": " << result.message;
  EXPECT_EQ(result.output, output) << name;
  EXPECT_EQ(result.stats.BytesConverted, bytes) << name;
  EXPECT_EQ(result.stats.AddressRanges, ranges) << name;
}
