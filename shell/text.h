// The text layer: text files read and written a line at a time, the
// console, hexadecimal fields and number formatting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "shell/failures.h"
#include "shell/platform.h"

// One line without its line end. It refers into the LineFile that read it
// and stays valid until the next operation on that file.
using TextLine = std::string_view;

// The longest line ReadLine gathers across refills of the buffer. A longer
// line is given as its first bytes and the rest is left to ReadLinePart, so
// no line needs more memory than this; a line that lies whole in the
// buffer is always given whole.
constexpr std::size_t kWholeLineLimit = 128 * 1024;

enum class FileMode { Closed, Reading, Writing };

// A file's buffer: allocated for a file, static storage for the console,
// which must take a report even when memory has run out.
struct BufferRelease {
  bool owned = true;
  void operator()(char* data) const {
    if (owned) delete[] data;
  }
};
using LineBuffer = std::unique_ptr<char[], BufferRelease>;

struct LineFile {
  std::string name;
  FileMode mode = FileMode::Closed;
  FileHandle handle = kNoHandle;
  LineBuffer buffer;
  std::size_t capacity = 0;
  std::size_t position = 0;  // reading: next byte; writing: bytes held
  std::size_t filled = 0;    // reading: bytes in the buffer
  bool data_ended = false;   // reading: the file has no more data
  bool skip_lf = false;      // reading: a CR ended the last line; skip an LF after it
  std::string long_line;     // reading: a line that did not fit the buffer
  std::size_t line_limit = kWholeLineLimit;  // reading: the most ReadLine gathers
  bool line_open = false;    // reading: the line last read goes on; its rest is still to be read
  bool console = false;      // writing: a character device, passed on at each line end
};

void OpenForReading(LineFile& file, const std::string& name);
void CreateForWriting(LineFile& file, const std::string& name);
bool AtEnd(LineFile& file);
// The next line, or, when it neither lies in the buffer nor is at most
// line_limit bytes long, its first line_limit bytes with line_open set.
// The rest of such a line must be read with ReadLinePart or dropped with
// SkipLine before the next AtEnd or ReadLine; the first bytes stay valid
// meanwhile.
TextLine ReadLine(LineFile& file);
// The next bytes of the line that is open, or of the next line when none
// is: as many as lie in the buffer, in place. line_open tells whether the
// line goes on after them.
TextLine ReadLinePart(LineFile& file);
// Reads to the end of the line that is open, or of the next line, keeping
// nothing.
void SkipLine(LineFile& file);
void WriteLine(LineFile& file, std::string_view line);
void CloseLineFile(LineFile& file);

// A LineFile in mode reading or writing on a handle that is already open,
// for the console streams and for tests; the buffer size is the caller's.
void AttachForReading(LineFile& file, FileHandle handle, std::size_t buffer_size);
void AttachForWriting(LineFile& file, FileHandle handle, std::size_t buffer_size);
// Writes out what a LineFile in mode writing holds.
void FlushLineFile(LineFile& file);

// The console. The programs' own texts are held in code page 850; where
// the console takes UTF-8 (PlatformConsoleTakesUtf8) they are written in
// UTF-8 instead, elsewhere byte for byte. Text from outside, a file name or
// the programmer's parameter string, is always written as it stands.
void ConsoleWriteLine(std::string_view own_text);
void ConsoleWriteLine(std::string_view own_before, std::string_view outside, std::string_view own_after);
// A line written as it stands: the fatal report, whose fixed words are
// ASCII and whose message already has the console's form.
void ConsoleWriteLineAsIs(std::string_view text);
// Appends a text of the failure messages (Windows-1252) to a message, in
// UTF-8 where the console takes it: a message is made for the console.
void AppendMessageText(std::string& message, std::string_view text);
// The last console line of a run that ends at once: what the console
// holds, then this line made of its parts, as they stand. It allocates
// nothing and raises no failure, so it works when memory has run out or
// the console cannot be written.
void ConsoleWriteLastLine(std::initializer_list<std::string_view> parts);
TextLine ConsoleReadLine();
// Reads one line of standard input and drops it: the pause for Enter.
void ConsoleSkipLine();
// Writes out the console's buffer: before another program takes over the
// console, and at the end of a run.
void FlushConsole();

int HexDigitValue(char c);
std::int32_t HexToInt(std::string_view text);

// A hexadecimal field read in parts, left to right, with the result of
// HexToInt over all of them: nothing of the text is kept, so a field of
// any length takes the same memory.
struct HexField {
  std::uint32_t sum = 0;   // the value of the digits so far, the last eight weighing
  bool content = false;    // a byte above 0x20 was met
  bool blanks = false;     // bytes of 0x20 or less follow the last such byte
  char last_blank = 0;     // the last of them: wrong unless the field ends with it
  bool wrong = false;      // a byte of the field is no digit
  char last_wrong = 0;     // the last such byte so far
};
void AddToHexField(HexField& field, std::string_view part);
// HexToInt of the whole field: -1 when it is blank, or the failure naming
// its last wrong byte.
std::int32_t HexFieldValue(const HexField& field);
// The same for a field that must hold a value.
std::int32_t RequiredHexFieldValue(const HexField& field);
// HexToInt for a field that must hold a value: empty after trimming fails.
std::int32_t RequiredHexToInt(std::string_view text);
std::string FormatDecimal(std::int32_t value);
std::string FormatHex(std::uint32_t value, int min_digits);
// FormatHex into the end of out, for the hot paths.
void AppendHex(std::string& out, std::uint32_t value, int min_digits);

// The value of each byte as a hexadecimal digit, or -1: the hot paths test
// digits through this table instead of calling a function per byte.
struct HexDigitTable {
  std::int8_t value[256];
};
constexpr HexDigitTable MakeHexDigitTable() {
  HexDigitTable table{};
  for (int c = 0; c < 256; ++c) table.value[c] = -1;
  for (int c = '0'; c <= '9'; ++c) table.value[c] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table.value[c] = static_cast<std::int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table.value[c] = static_cast<std::int8_t>(c - 'a' + 10);
  return table;
}
inline constexpr HexDigitTable kHexDigits = MakeHexDigitTable();

#if defined(__x86_64__) && defined(__GNUC__)
// Whether this processor has SSSE3, for the byte shuffles of the hot paths.
inline bool ProcessorHasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}
#endif
