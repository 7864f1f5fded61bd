// The text layer: reading and writing lines, the console, hexadecimal
// fields, number formatting and the failures with their messages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "shell/text.h"
#include "test_files.h"

using namespace std::literals;

namespace {

// 1, 2, 3 and 7 put every line end of the cases on a block boundary
// somewhere; 64 KiB is the size the programs use for files.
constexpr std::size_t kBufferSizes[] = {1, 2, 3, 7, 64 * 1024};

constexpr char kCtrlZ[] = "\x1A";

std::vector<std::string> ReadByLoopPattern(LineFile& file) {
  std::vector<std::string> lines;
  while (!AtEnd(file)) lines.emplace_back(ReadLine(file));
  return lines;
}

// The lines of bytes read through a temporary file with this buffer size.
std::vector<std::string> ReadFromFile(std::string_view bytes, std::size_t buffer_size) {
  TempDir dir;
  const std::string path = dir.Write("source", bytes);
  LineFile file;
  AttachForReading(file, open(path.c_str(), O_RDONLY), buffer_size);
  std::vector<std::string> lines = ReadByLoopPattern(file);
  // Once at the end, the end stays: more reads give empty lines.
  EXPECT_EQ(ReadLine(file), "");
  EXPECT_TRUE(AtEnd(file));
  CloseLineFile(file);
  return lines;
}

// The same through a pipe whose writer hands over one byte per write, so a
// read may end anywhere.
std::vector<std::string> ReadFromPipe(std::string_view bytes, std::size_t buffer_size) {
  int ends[2];
  if (pipe(ends) != 0) {
    ADD_FAILURE() << "no pipe";
    return {};
  }
  std::thread writer([&bytes, out = ends[1]] {
    for (const char c : bytes)
      if (write(out, &c, 1) != 1) break;
    close(out);
  });
  LineFile file;
  AttachForReading(file, ends[0], buffer_size);
  std::vector<std::string> lines;
  try {
    lines = ReadByLoopPattern(file);
  } catch (const Failure& failure) {
    ADD_FAILURE() << failure.KindName() << ": " << failure.message;
  }
  // What stands behind a Ctrl-Z is never read by the loop: drain it, so the
  // writer can finish.
  char sink[256];
  while (read(ends[0], sink, sizeof sink) > 0) {
  }
  writer.join();
  CloseLineFile(file);
  return lines;
}

std::string Bytes(std::size_t size, std::uint32_t seed) {
  // Every byte but CR, LF and Ctrl-Z, in an order that repeats rarely.
  std::string text(size, '\0');
  for (char& c : text) {
    seed = seed * 1103515245u + 12345u;
    unsigned char b = static_cast<unsigned char>(seed >> 23);
    if (b == 0x0D || b == 0x0A || b == 0x1A) b = 0x00;
    c = static_cast<char>(b);
  }
  return text;
}

struct ReadCase {
  std::string bytes;
  std::vector<std::string> lines;
};

const ReadCase kReadCases[] = {
    {"", {}},
    {"\r\n", {""}},
    {"A\r\nB", {"A", "B"}},
    {"A\r\n", {"A"}},
    {"A\rB", {"A", "B"}},
    {"A\nB\n", {"A", "B"}},  // a lone LF ends a line
    {"A\r\r\nB", {"A", "", "B"}},
    {"A\r\n\nB", {"A", "", "B"}},
    {"AB"s + kCtrlZ + "CD\r\n", {"AB"}},
    {kCtrlZ + "A\r\n"s, {}},
    {"A\r\n"s + kCtrlZ, {"A"}},
    // More line ends, each one line end.
    {"A\n\rB", {"A", "", "B"}},  // LF CR is two
    {"\n", {""}},
    {"\r", {""}},
    {"A\r", {"A"}},
    {"A\n", {"A"}},
    {"\n\n", {"", ""}},
    {"\r\r", {"", ""}},
    {"A\r\n\r\n", {"A", ""}},
    {"A\n\r\nB", {"A", "", "B"}},
    {"A\r"s + kCtrlZ + "B", {"A"}},
    {"A"s + kCtrlZ, {"A"}},
    {"one\r\ntwo\rthree\nfour\n\rfive\r\r\nsix", {"one", "two", "three", "four", "", "five", "", "six"}},
    {"\x00\x81\xFF\r\n\x00"s, {"\x00\x81\xFF"s, "\x00"s}},  // no byte is translated
    {"\t \x1B\x0C\r", {"\t \x1B\x0C"}},
};

TEST(ReadLine, ReadingCasesFromAFile) {
  for (const ReadCase& c : kReadCases)
    for (const std::size_t size : kBufferSizes)
      EXPECT_EQ(ReadFromFile(c.bytes, size), c.lines) << "bytes " << testing::PrintToString(c.bytes)
                                                      << ", buffer " << size;
}

TEST(ReadLine, ReadingCasesFromAPipe) {
  for (const ReadCase& c : kReadCases)
    for (const std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{4096}})
      EXPECT_EQ(ReadFromPipe(c.bytes, size), c.lines) << "bytes " << testing::PrintToString(c.bytes)
                                                      << ", buffer " << size;
}

TEST(ReadLine, ManyLinesOfEveryLengthAndEveryLineEnd) {
  // One line of each length from 0 to 300 bytes, ended in turn by CR LF, CR
  // and LF. A CR before an empty line ended by LF would make one CR LF, so
  // such a line gets CR.
  std::vector<std::string> lines;
  std::string bytes;
  const std::string_view kEnds[] = {"\r\n", "\r", "\n"};
  std::string_view previous_end;
  for (std::uint32_t i = 0; i < 301; ++i) {
    const std::string line = Bytes((i * 37) % 301, i);
    std::string_view end = kEnds[i % 3];
    if (line.empty() && previous_end == "\r") end = "\r";
    lines.push_back(line);
    bytes += line;
    bytes += end;
    previous_end = end;
  }
  for (const std::size_t size : kBufferSizes) EXPECT_EQ(ReadFromFile(bytes, size), lines) << "buffer " << size;
  EXPECT_EQ(ReadFromPipe(bytes, 64 * 1024), lines);
}

TEST(ReadLine, LongLineIsReadWhole) {
  const std::string line = Bytes(100000, 1);  // 0x00, 0x81, 0xFF and all other bytes among them
  ASSERT_NE(line.find('\x00'), std::string::npos);
  ASSERT_NE(line.find('\x81'), std::string::npos);
  ASSERT_NE(line.find('\xFF'), std::string::npos);
  for (const std::size_t size : kBufferSizes) {
    EXPECT_EQ(ReadFromFile(line + "\r\nB", size), (std::vector<std::string>{line, "B"})) << "buffer " << size;
    EXPECT_EQ(ReadFromFile(line, size), std::vector<std::string>{line}) << "buffer " << size;
  }
}

// ---- Lines longer than what is gathered ----

// The lines by the reading pattern with a gathering limit: each as its
// first bytes from ReadLine and the rest from ReadLinePart. A line given in
// parts is given in parts of the buffer, after first bytes of the limit.
std::vector<std::string> ReadInParts(std::string_view bytes, std::size_t buffer_size, std::size_t limit) {
  TempDir dir;
  const std::string path = dir.Write("source", bytes);
  LineFile file;
  AttachForReading(file, open(path.c_str(), O_RDONLY), buffer_size);
  file.line_limit = limit;
  std::vector<std::string> lines;
  while (!AtEnd(file)) {
    std::string line(ReadLine(file));
    if (file.line_open) {
      EXPECT_EQ(line.size(), limit);
    }
    while (file.line_open) {
      const TextLine part = ReadLinePart(file);
      EXPECT_LE(part.size(), buffer_size);
      line += part;
    }
    lines.push_back(line);
  }
  EXPECT_EQ(ReadLine(file), "");
  CloseLineFile(file);
  return lines;
}

constexpr std::size_t kSmallLimits[] = {1, 2, 5, 64};

TEST(ReadLinePart, LinesCutAtTheLimitAreWholeWithTheirParts) {
  for (const ReadCase& c : kReadCases)
    for (const std::size_t size : kBufferSizes)
      for (const std::size_t limit : kSmallLimits)
        EXPECT_EQ(ReadInParts(c.bytes, size, limit), c.lines)
            << "bytes " << testing::PrintToString(c.bytes) << ", buffer " << size << ", limit " << limit;
}

TEST(ReadLinePart, LongLinesWithEveryLineEnd) {
  const std::string line = Bytes(300000, 2);
  const std::vector<std::string> lines = {line, "", "B", line.substr(0, kWholeLineLimit),
                                          line.substr(0, kWholeLineLimit + 1), line};
  for (const std::string_view end : {"\r\n"sv, "\r"sv, "\n"sv}) {
    const std::string bytes = Lines(lines, end);
    for (const std::size_t size : {std::size_t{7}, std::size_t{4096}, std::size_t{64 * 1024}}) {
      EXPECT_EQ(ReadInParts(bytes, size, kWholeLineLimit), lines) << "buffer " << size;
      EXPECT_EQ(ReadInParts(bytes, size, 1000), lines) << "buffer " << size;
    }
  }
}

TEST(ReadLinePart, ALineThatLiesInTheBufferIsGivenWhole) {
  // Cutting saves memory only where the line would be gathered.
  TempDir dir;
  const std::string path = dir.Write("source", "ABCDEFGH\r\nIJ");
  LineFile file;
  AttachForReading(file, open(path.c_str(), O_RDONLY), 64);
  file.line_limit = 2;
  EXPECT_EQ(ReadLine(file), "ABCDEFGH");
  EXPECT_FALSE(file.line_open);
  EXPECT_EQ(ReadLine(file), "IJ");
  CloseLineFile(file);
}

TEST(SkipLine, DropsOneLineWhereverItStands) {
  // Every other line dropped, at its start or after its first bytes; a
  // Ctrl-Z still ends the input.
  const std::string long_line = Bytes(200000, 3);
  const std::string bytes = "A\r\n" + long_line + "\rB\n\r\nC\r" + long_line + "\r\nD\n" + long_line + "\x1A" "E\r\n";
  for (const bool after_first_bytes : {false, true})
    for (const std::size_t size : kBufferSizes)
      for (const std::size_t limit : {std::size_t{1}, std::size_t{5}, kWholeLineLimit}) {
        TempDir dir;
        LineFile file;
        AttachForReading(file, open(dir.Write("source", bytes).c_str(), O_RDONLY), size);
        file.line_limit = limit;
        std::vector<std::string> kept;
        for (bool keep = true; !AtEnd(file); keep = !keep) {
          if (keep) {
            std::string line(ReadLine(file));
            while (file.line_open) line += ReadLinePart(file);
            kept.push_back(line);
          } else if (!after_first_bytes) {
            SkipLine(file);
          } else {
            ReadLine(file);
            if (file.line_open) SkipLine(file);
          }
        }
        CloseLineFile(file);
        EXPECT_EQ(kept, (std::vector<std::string>{"A", "B", "C", "D"}))
            << "buffer " << size << ", limit " << limit << (after_first_bytes ? ", after first bytes" : "");
      }
}

TEST(ReadLine, CtrlZEndsTheInputAndIsNeverConsumed) {
  TempDir dir;
  const std::string path = dir.Write("source", "A"s + kCtrlZ + "B\r\nC\r\n");
  LineFile file;
  AttachForReading(file, open(path.c_str(), O_RDONLY), 2);
  EXPECT_FALSE(AtEnd(file));
  EXPECT_EQ(ReadLine(file), "A");
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(AtEnd(file));
    EXPECT_EQ(ReadLine(file), "");  // the read stops at the Ctrl-Z again
  }
  CloseLineFile(file);
}

TEST(ReadLine, WithoutTheEndTestAFileEndsInEmptyLines) {
  for (const std::string_view bytes : {""sv, "\x1A" "A\r\n"sv, "A"sv}) {
    TempDir dir;
    const std::string path = dir.Write("source", bytes);
    LineFile file;
    AttachForReading(file, open(path.c_str(), O_RDONLY), 7);
    if (bytes == "A") {
      EXPECT_EQ(ReadLine(file), "A");
    }
    EXPECT_EQ(ReadLine(file), "");
    EXPECT_EQ(ReadLine(file), "");
    EXPECT_TRUE(AtEnd(file));
    CloseLineFile(file);
  }
}

TEST(ReadLine, EndTestLeavesTheReadPosition) {
  TempDir dir;
  const std::string path = dir.Write("source", "AB\r\nCD");
  LineFile file;
  AttachForReading(file, open(path.c_str(), O_RDONLY), 1);
  EXPECT_FALSE(AtEnd(file));
  EXPECT_FALSE(AtEnd(file));
  EXPECT_EQ(ReadLine(file), "AB");
  EXPECT_FALSE(AtEnd(file));
  EXPECT_FALSE(AtEnd(file));
  EXPECT_EQ(ReadLine(file), "CD");
  EXPECT_TRUE(AtEnd(file));
  CloseLineFile(file);
}

// What a console reader needs: a line is delivered once its line end has
// arrived, without waiting for the next byte (a CR may be followed by an LF
// or by nothing for a long time), and the LF of a CR LF that comes in a
// later read is still taken as part of that line end.
TEST(ReadLine, LineIsDeliveredAtItsLineEndWithoutWaiting) {
  struct Case {
    std::string first;
    std::string later;
    std::vector<std::string> rest;
  };
  const Case kCases[] = {
      {"abc\r", "\ndef\r\n", {"def"}},
      {"abc\r", "def\r\n", {"def"}},
      {"abc\r\n", "\ndef", {"", "def"}},
      {"abc\n", "\rdef", {"", "def"}},
      {"abc\r", "", {}},
  };
  for (const Case& c : kCases) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], c.first.data(), c.first.size()), static_cast<ssize_t>(c.first.size()));
    LineFile file;
    AttachForReading(file, ends[0], 4096);
    auto first = std::async(std::launch::async, [&file] { return std::string(ReadLine(file)); });
    if (first.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      close(ends[1]);  // lets the read end, so the test can fail instead of hang
      ADD_FAILURE() << "ReadLine waited for more input after " << testing::PrintToString(c.first);
      first.wait();
      CloseLineFile(file);
      continue;
    }
    EXPECT_EQ(first.get(), "abc");
    ASSERT_EQ(write(ends[1], c.later.data(), c.later.size()), static_cast<ssize_t>(c.later.size()));
    close(ends[1]);
    EXPECT_EQ(ReadByLoopPattern(file), c.rest) << testing::PrintToString(c.first + c.later);
    CloseLineFile(file);
  }
}

TEST(ReadLine, ReadFailureIsAnInOutError) {
  // Reading a folder fails at the device: access refused, code 5.
  TempDir dir;
  LineFile file;
  AttachForReading(file, open(dir.Path("").c_str(), O_RDONLY | O_DIRECTORY), 64);
  try {
    AtEnd(file);
    ADD_FAILURE() << "AtEnd read a folder";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.code, 5);
    EXPECT_EQ(failure.message, "Dateizugriff verweigert");
  }
  EXPECT_THROW(ReadLine(file), EInOutError);
  CloseLineFile(file);
}

// Standard input is read once per process, so this is the only test of it.
TEST(ConsoleReadLine, TakesOneLineAndLeavesTheRest) {
  TempDir dir;
  const std::string path = dir.Write("input", "abc\r\ndef\r\n");
  const int saved = dup(STDIN_FILENO);
  const int input = open(path.c_str(), O_RDONLY);
  ASSERT_GE(dup2(input, STDIN_FILENO), 0);
  close(input);
  EXPECT_EQ(ConsoleReadLine(), "abc");
  EXPECT_EQ(ConsoleReadLine(), "def");
  EXPECT_EQ(ConsoleReadLine(), "");  // at the end of standard input: at once, no failure
  EXPECT_EQ(ConsoleReadLine(), "");
  dup2(saved, STDIN_FILENO);
  close(saved);
}

// ---- Writing ----

std::string WriteThroughBuffer(const std::vector<std::string>& lines, std::size_t buffer_size) {
  TempDir dir;
  const std::string path = dir.Path("output");
  LineFile file;
  AttachForWriting(file, open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), buffer_size);
  for (const std::string& line : lines) WriteLine(file, line);
  CloseLineFile(file);
  return ReadFileBytes(path);
}

TEST(WriteLine, AddsCrLfAndChangesNoByte) {
  const std::vector<std::string> lines = {
      "",
      "A",
      "line\nwith LF",
      "\x00\x81\xFF"s,
      "lone\rCR",
      std::string(200, 'x'),
      Bytes(70000, 3),  // larger than every buffer
      "",
      "end",
  };
  std::string expected;
  for (const std::string& line : lines) expected += line + "\r\n";
  for (const std::size_t size : kBufferSizes) EXPECT_EQ(WriteThroughBuffer(lines, size), expected) << "buffer " << size;
}

TEST(WriteLine, EmptyLineIsCrLfAlone) {
  EXPECT_EQ(WriteThroughBuffer({""}, 64 * 1024), "\r\n");
  EXPECT_EQ(WriteThroughBuffer({}, 64 * 1024), "");
}

TEST(WriteLine, CloseWritesOutWhatTheBufferHolds) {
  TempDir dir;
  const std::string path = dir.Write("output", "an older and longer content\r\n");
  LineFile file;
  CreateForWriting(file, path);
  WriteLine(file, "@C000");
  WriteLine(file, "q");
  // Until the close the existing file keeps its content.
  EXPECT_EQ(ReadFileBytes(path), "an older and longer content\r\n");
  CloseLineFile(file);
  EXPECT_EQ(file.mode, FileMode::Closed);
  EXPECT_EQ(ReadFileBytes(path), "@C000\r\nq\r\n");
}

TEST(WriteLine, DiscardedOutputLeavesNoTrace) {
  // A run that fails never closes its output: it discards it.
  TempDir dir;
  const std::string existing = dir.Write("existing.txt", "keep\r\n");
  for (const std::string& name : {existing, dir.Path("new.txt")}) {
    LineFile file;
    CreateForWriting(file, name);
    for (int i = 0; i < 40000; ++i) WriteLine(file, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
    PlatformDiscardNewOutput();
    EXPECT_EQ(PlatformClose(file.handle), 0) << "the close of a discarded output puts nothing in place";
  }
  EXPECT_EQ(ReadFileBytes(existing), "keep\r\n");
  struct stat info;
  EXPECT_NE(stat(dir.Path("new.txt").c_str(), &info), 0);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path(""))) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"existing.txt"});
}

TEST(WriteLine, FullDeviceFailsWithCode112) {
  struct stat info;
  if (stat("/dev/full", &info) != 0) GTEST_SKIP() << "this system has no /dev/full";
  LineFile file;
  CreateForWriting(file, "/dev/full");
  // A character device gets each line at its end, so the first line fails.
  try {
    WriteLine(file, "q");
    ADD_FAILURE() << "a line was written to /dev/full";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.code, 112);
    EXPECT_EQ(failure.message, "E/A-Fehler 112");
    EXPECT_STREQ(failure.KindName(), "EInOutError");
  }
  // The failure was reported once; nothing is left for the close to report.
  EXPECT_NO_THROW(CloseLineFile(file));
}

TEST(WriteLine, FailureAtCloseIsAnInOutError) {
  // A descriptor open for reading only: the write of the buffer at the
  // close is refused (EBADF, code 6).
  TempDir dir;
  const std::string path = dir.Write("output", "");
  LineFile file;
  AttachForWriting(file, open(path.c_str(), O_RDONLY), 64 * 1024);
  WriteLine(file, "held in the buffer");
  try {
    CloseLineFile(file);
    ADD_FAILURE() << "the close wrote through a read-only descriptor";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.code, 6);
    EXPECT_EQ(failure.message, "E/A-Fehler 6");
  }
}

// ---- Opening ----

TEST(OpenAndCreate, FailuresCarryTheirCodeAndMessage) {
  TempDir dir;
  const std::string existing = dir.Write("existing.txt", "keep\r\n");
  struct Case {
    bool create;
    std::string name;
    int code;
    std::string message;
  };
  const Case kCases[] = {
      {false, dir.Path("missing.hex"), 2, "Datei nicht gefunden"},
      {false, dir.Path("no-folder/a.hex"), 3, "Ung\xFC" "ltiger Dateiname"},
      {false, dir.Path(""), 5, "Dateizugriff verweigert"},  // a folder
      {false, existing + "/a.hex", 3, "Ung\xFC" "ltiger Dateiname"},  // a file as a folder
      {false, dir.Path(std::string(5000, 'n')), 3, "Ung\xFC" "ltiger Dateiname"},  // a name too long
      {true, dir.Path("no-folder/b.txt"), 3, "Ung\xFC" "ltiger Dateiname"},
      {true, dir.Path(""), 5, "Dateizugriff verweigert"},
  };
  for (const Case& c : kCases) {
    LineFile file;
    try {
      if (c.create)
        CreateForWriting(file, c.name);
      else
        OpenForReading(file, c.name);
      ADD_FAILURE() << c.name << " was opened";
      CloseLineFile(file);
    } catch (const EInOutError& failure) {
      EXPECT_EQ(failure.code, c.code) << c.name;
      EXPECT_EQ(failure.message, c.message) << c.name;
      EXPECT_EQ(file.mode, FileMode::Closed) << c.name;
    }
  }
  EXPECT_EQ(ReadFileBytes(existing), "keep\r\n");
}

TEST(OpenAndCreate, TooManyOpenFiles) {
  TempDir dir;
  const std::string path = dir.Write("source.hex", "");
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = std::min<rlim_t>(64, saved.rlim_max);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> taken;  // every descriptor below the limit
  for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) taken.push_back(fd);
  for (const bool create : {false, true}) {
    LineFile file;
    try {
      if (create)
        CreateForWriting(file, dir.Path("output.txt"));
      else
        OpenForReading(file, path);
      ADD_FAILURE() << "a file was opened beyond the limit";
    } catch (const EInOutError& failure) {
      EXPECT_EQ(failure.code, 4);
      EXPECT_EQ(failure.message, "Zu viele ge\xF6" "ffnete Dateien");
    }
  }
  for (const int fd : taken) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(OpenAndCreate, OpenSourceCannotBeCreated) {
  TempDir dir;
  const std::string source_path = dir.Write("source.hex", ":00000001FF\r\n");
  ASSERT_EQ(symlink(source_path.c_str(), dir.Path("link.hex").c_str()), 0);
  LineFile source;
  OpenForReading(source, source_path);
  for (const std::string& name : {source_path, dir.Path("link.hex")}) {
    LineFile output;
    try {
      CreateForWriting(output, name);
      ADD_FAILURE() << name << " was created while open as the source";
      CloseLineFile(output);
    } catch (const EInOutError& failure) {
      EXPECT_EQ(failure.code, 32) << name;
      EXPECT_EQ(failure.message, "E/A-Fehler 32") << name;
    }
  }
  EXPECT_EQ(ReadLine(source), ":00000001FF");
  CloseLineFile(source);
  EXPECT_EQ(ReadFileBytes(source_path), ":00000001FF\r\n");
}

// ---- Failures ----

TEST(InOutError, MessageByCode) {
  struct Case {
    int code;
    std::string_view message;
  };
  constexpr Case kCases[] = {
      {2, "Datei nicht gefunden"},
      {3, "Ung\xFC" "ltiger Dateiname"},
      {4, "Zu viele ge\xF6" "ffnete Dateien"},
      {5, "Dateizugriff verweigert"},
      {1, "E/A-Fehler 1"},
      {6, "E/A-Fehler 6"},
      {32, "E/A-Fehler 32"},
      {112, "E/A-Fehler 112"},
      {1117, "E/A-Fehler 1117"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(InOutMessage(c.code), c.message) << c.code;
    try {
      RaiseInOutError(c.code);
    } catch (const EInOutError& failure) {
      EXPECT_EQ(failure.code, c.code);
      EXPECT_EQ(failure.message, c.message);
    }
  }
}

TEST(OutOfMemory, KindAndMessage) {
  try {
    RaiseOutOfMemory();
  } catch (const EOutOfMemory& failure) {
    EXPECT_STREQ(failure.KindName(), "EOutOfMemory");
    EXPECT_EQ(failure.message, "Zu wenig Arbeitsspeicher");
  }
}

// ---- Hexadecimal fields ----

TEST(HexDigitValue, EveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    int expected = -1;
    if (b >= '0' && b <= '9') expected = b - '0';
    if (b >= 'A' && b <= 'F') expected = b - 'A' + 10;
    if (b >= 'a' && b <= 'f') expected = b - 'a' + 10;  // lower case is read as well
    if (expected >= 0) {
      EXPECT_EQ(HexDigitValue(c), expected) << "byte " << b;
      continue;
    }
    try {
      HexDigitValue(c);
      ADD_FAILURE() << "byte " << b << " was taken as a digit";
    } catch (const EConvertError& failure) {
      EXPECT_EQ(failure.message, NotAnIntegerMessage(std::string(1, c))) << "byte " << b;
      EXPECT_STREQ(failure.KindName(), "EConvertError");
    }
  }
}

struct HexValueCase {
  std::string_view field;
  std::int32_t value;
};
constexpr HexValueCase kHexValues[] = {
    {"1F", 31},
    {" 00C0 ", 192},
    {"", -1},
    {" \t ", -1},
    {"\x00\x01\r\n "sv, -1},  // everything of code 32 or less is trimmed
    {"00", 0},
    {"7FFFFFFF", 2147483647},
    {"FFFFFFFF", -1},
    {"80000000", INT32_MIN},
    {"1FFFFFFFF", -1},  // nine characters: the last eight count
    {"0000000012", 18},
    {"1f", 31},
    {"c000", 0xC000},
    {"aBcD", 0xABCD},
    {"\x00" "1F\x00"sv, 31},
    {"\t\r\nC000\r\n", 0xC000},
    {"0", 0},
    {"F", 15},
};

struct HexFailureCase {
  std::string_view field;
  char named;
  const char* why;
};
constexpr HexFailureCase kHexFailures[] = {
    {"G1H", 'H', "the last offending character is named"},
    {"1 2", ' ', "a blank inside a field"},
    {"1\t2", '\t', "a tab inside a field"},
    {"+1", '+', "no sign"},
    {"-1", '-', "no sign"},
    {"$1F", '$', "no prefix"},
    {"0x1F", 'x', "no prefix"},
    {"0X1F", 'X', "no prefix"},
    {"1g", 'g', "g is no digit"},
    {"1\x00" "2"sv, '\x00', "a zero byte inside a field"},
    {"\x81", '\x81', "bytes above 0x7F are no digits"},
    {"1\xFF", '\xFF', "bytes above 0x7F are no digits"},
    {"G00000000", 'G', "characters left of the last eight are tested too"},
    {" 1 \t2 G ", 'G', "blanks inside, a wrong character after them"},
    {" G \t2\t ", '\t', "the last of the blanks inside"},
};

TEST(HexToInt, Values) {
  for (const HexValueCase& c : kHexValues)
    EXPECT_EQ(HexToInt(c.field), c.value) << testing::PrintToString(std::string(c.field));
}

TEST(HexToInt, Failures) {
  for (const HexFailureCase& c : kHexFailures) {
    try {
      const std::int32_t value = HexToInt(c.field);
      ADD_FAILURE() << testing::PrintToString(std::string(c.field)) << " gave " << value << ": " << c.why;
    } catch (const EConvertError& failure) {
      EXPECT_EQ(failure.message, NotAnIntegerMessage(std::string(1, c.named))) << c.why;
    }
  }
}

// HexFieldValue of a field added in two parts, split at split.
std::int32_t FieldInTwoParts(std::string_view field, std::size_t split) {
  HexField scan;
  AddToHexField(scan, field.substr(0, split));
  AddToHexField(scan, field.substr(split));
  return HexFieldValue(scan);
}

TEST(HexField, InPartsGivesWhatHexToIntGivesWhole) {
  for (const HexValueCase& c : kHexValues)
    for (std::size_t split = 0; split <= c.field.size(); ++split)
      EXPECT_EQ(FieldInTwoParts(c.field, split), c.value) << testing::PrintToString(std::string(c.field)) << " at "
                                                          << split;
  for (const HexFailureCase& c : kHexFailures)
    for (std::size_t split = 0; split <= c.field.size(); ++split) {
      try {
        FieldInTwoParts(c.field, split);
        ADD_FAILURE() << c.why << " at " << split;
      } catch (const EConvertError& failure) {
        EXPECT_EQ(failure.message, NotAnIntegerMessage(std::string(1, c.named))) << c.why << " at " << split;
      }
    }
}

TEST(HexField, AFieldOfAMillionCharactersInSmallParts) {
  // The value of the last eight digits, the last wrong character named,
  // and blanks trimmed at both ends however the parts fall.
  const std::string zeros(1000000, '0');
  struct Case {
    std::string field;
    std::int32_t value;   // when named is 0
    char named;
  };
  const Case kCases[] = {
      {"  " + zeros + "12345678\t ", 0x12345678, 0},
      {"9" + zeros + "C000", 0xC000, 0},
      {"G" + zeros + "C000", 0, 'G'},
      {zeros + "C00g", 0, 'g'},
      {"x" + zeros + "C00g", 0, 'g'},
      {zeros + " C000", 0, ' '},
      {std::string(1000000, ' '), -1, 0},
  };
  for (const Case& c : kCases) {
    HexField field;
    try {
      for (std::size_t at = 0; at < c.field.size(); at += 4093) AddToHexField(field, std::string_view(c.field).substr(at, 4093));
      EXPECT_EQ(HexFieldValue(field), c.value);
      EXPECT_EQ(c.named, 0);
    } catch (const EConvertError& failure) {
      EXPECT_EQ(failure.message, NotAnIntegerMessage(std::string(1, c.named)));
    }
  }
}

TEST(RequiredHexToInt, EmptyFieldFails) {
  EXPECT_EQ(RequiredHexToInt("1F"), 31);
  EXPECT_EQ(RequiredHexToInt(" 0001"), 1);
  EXPECT_EQ(RequiredHexToInt("FFFFFFFF"), -1);  // a value of -1 is no empty field
  for (const std::string_view field : {""sv, " "sv, "\t\r\n"sv, "\x00"sv}) {
    try {
      RequiredHexToInt(field);
      ADD_FAILURE() << testing::PrintToString(std::string(field)) << " was taken";
    } catch (const EConvertError& failure) {
      EXPECT_EQ(failure.message, "'' ist kein g\xFC" "ltiger Integerwert");
    }
  }
  try {
    RequiredHexToInt("G");
    ADD_FAILURE() << "G was taken";
  } catch (const EConvertError& failure) {
    EXPECT_EQ(failure.message, NotAnIntegerMessage("G"));
  }
}

// ---- Numbers ----

TEST(FormatDecimal, Values) {
  struct Case {
    std::int32_t value;
    std::string_view text;
  };
  constexpr Case kCases[] = {
      {0, "0"},
      {-5, "-5"},
      {7, "7"},
      {1000, "1000"},
      {1234567, "1234567"},
      {INT32_MIN, "-2147483648"},
      {INT32_MAX, "2147483647"},
  };
  for (const Case& c : kCases) EXPECT_EQ(FormatDecimal(c.value), c.text) << c.value;
}

TEST(FormatHex, Values) {
  struct Case {
    std::uint32_t value;
    int minimum;
    std::string_view text;
  };
  constexpr Case kCases[] = {
      {0, 2, "00"},
      {10, 2, "0A"},
      {255, 2, "FF"},
      {256, 2, "100"},
      {0x1234, 2, "1234"},
      {5, 4, "0005"},
      {0xC000, 4, "C000"},
      {0x10000, 4, "10000"},
      {static_cast<std::uint32_t>(-1), 4, "FFFFFFFF"},
      {0, 1, "0"},
      {0xABCDEF, 1, "ABCDEF"},
      {0x1F, 16, "000000000000001F"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(FormatHex(c.value, c.minimum), c.text) << c.value << " " << c.minimum;
    std::string appended = ":02";
    AppendHex(appended, c.value, c.minimum);
    EXPECT_EQ(appended, ":02" + std::string(c.text));
  }
}

}  // namespace
