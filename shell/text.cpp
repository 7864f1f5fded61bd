// The text layer. ReadLine and WriteLine are the hot path of both
// programs: they allocate nothing per line and call no function per byte.
#include "shell/text.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "shell/texts.h"
#include "shell/utf8.h"

namespace {

constexpr std::size_t kFileBufferSize = 64 * 1024;
// An output file's first block is written at 64 KiB, so output reaches the
// file early; its later blocks are larger, which the system takes faster.
constexpr std::size_t kLaterBlockSize = 256 * 1024;
constexpr std::size_t kConsoleBufferSize = 4096;
constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kCtrlZ = '\x1A';

LineFile g_standard_output;
LineFile g_standard_input;

[[gnu::always_inline]] inline void RaiseIfFailed(int code) {
  if (code != 0) RaiseInOutError(code);
}

bool IsLineStop(char c) { return c == kCR || c == kLF || c == kCtrlZ; }

// The first CR, LF or Ctrl-Z in [p, end), or end, a word at a time.
[[gnu::noinline]] const char* FindLineStopByWords(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (((word - kOnes * 0x1B) & ~word & kHighs) != 0)
      for (int i = 0; i < 8; ++i)
        if (IsLineStop(p[i])) return p + i;
    p += 8;
  }
  while (p < end && !IsLineStop(*p)) ++p;
  return p;
}

#if defined(__SSE2__)
// The bytes 0x00 to 0x1A of 16 at p, as bits: min(byte, 0x1A) is the byte
// itself for those only.
std::uint64_t LowBytes(const char* p) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(kCtrlZ)), block)));
}
#endif

// The first CR, LF or Ctrl-Z in [p, end), or end: the scan of every line,
// so it tests blocks of bytes at a time. Hexadecimal text holds no byte
// below 0x1B besides its line ends, so one test passes a whole block, and
// only the rare other low bytes (a tab, say) are looked at one by one.
const char* FindLineStop(const char* p, const char* end) {
#if defined(__SSE2__)
  // 64 bytes at a time, more than a line of these formats mostly holds
  for (; end - p >= 64; p += 64) {
    auto low = LowBytes(p) | LowBytes(p + 16) << 16 | LowBytes(p + 32) << 32 | LowBytes(p + 48) << 48;
    for (; low != 0; low &= low - 1)
      if (IsLineStop(p[std::countr_zero(low)])) return p + std::countr_zero(low);
  }
  for (; end - p >= 16; p += 16)
    for (auto low = LowBytes(p); low != 0; low &= low - 1)
      if (IsLineStop(p[std::countr_zero(low)])) return p + std::countr_zero(low);
#endif
  return FindLineStopByWords(p, end);
}

void Attach(LineFile& file, FileHandle handle, FileMode mode, LineBuffer buffer, std::size_t size) {
  file.buffer = std::move(buffer);
  file.capacity = size;
  file.position = 0;
  file.filled = 0;
  file.data_ended = false;
  file.skip_lf = false;
  file.line_open = false;
  file.long_line.clear();
  file.handle = handle;
  file.mode = mode;
  file.console = mode == FileMode::Writing && PlatformIsCharacterDevice(handle);
}

// Reads the next block once every byte of the last one was taken; false at
// the end of the data, which stays the end from then on.
bool Fill(LineFile& file) {
  if (file.data_ended) return false;
  std::size_t got = 0;
  file.position = 0;
  file.filled = 0;
  RaiseIfFailed(PlatformRead(file.handle, file.buffer.get(), file.capacity, &got));
  if (got == 0) {
    file.data_ended = true;
    return false;
  }
  file.filled = got;
  return true;
}

bool HasByte(LineFile& file) { return file.position < file.filled || Fill(file); }

// The LF of a CR LF pair is taken only when the next byte is needed, so a
// line ended by CR is delivered without waiting for more input.
void SkipPendingLf(LineFile& file) {
  if (!file.skip_lf) return;
  file.skip_lf = false;
  if (HasByte(file) && file.buffer[file.position] == kLF) ++file.position;
}

// Moves past the line end at stop, a byte in the buffer. The LF after a CR
// is taken at once when it is already in the buffer, else when needed.
void PassLineEnd(LineFile& file, const char* stop) {
  file.position = static_cast<std::size_t>(stop - file.buffer.get());
  if (*stop == kCtrlZ) return;  // a Ctrl-Z stays and ends the input
  ++file.position;
  if (*stop != kCR) return;
  if (file.position == file.filled)
    file.skip_lf = true;
  else if (file.buffer[file.position] == kLF)
    ++file.position;
}

void AppendToLongLine(LineFile& file, const char* begin, const char* end) {
  try {
    file.long_line.append(begin, end);
  } catch (const std::bad_alloc&) {
    std::string().swap(file.long_line);  // give the memory back for the report
    RaiseOutOfMemory();
  }
}

// Gives the first line_limit bytes of a line that is longer, and leaves
// the rest of it, from taken bytes on at begin, for ReadLinePart.
TextLine CutLine(LineFile& file, const char* begin, std::size_t taken) {
  AppendToLongLine(file, begin, begin + taken);
  file.position = static_cast<std::size_t>(begin + taken - file.buffer.get());
  file.line_open = true;
  return file.long_line;
}

// A line that runs past the bytes in the buffer, gathered across as many
// blocks as it needs up to line_limit bytes, or one that follows a CR at
// the end of a block.
[[gnu::noinline]] TextLine ReadLongLine(LineFile& file) {
  SkipPendingLf(file);
  bool spilled = false;  // the line began in an earlier block
  file.long_line.clear();
  for (;;) {
    if (!HasByte(file)) return spilled ? TextLine(file.long_line) : TextLine();
    const char* begin = file.buffer.get() + file.position;
    const char* end = file.buffer.get() + file.filled;
    const char* stop = FindLineStop(begin, end);
    const auto size = static_cast<std::size_t>(stop - begin);
    const std::size_t room = file.line_limit - file.long_line.size();
    if (size > room && (spilled || stop == end)) return CutLine(file, begin, room);
    if (stop == end) {
      AppendToLongLine(file, begin, end);
      spilled = true;
      file.position = file.filled;
      continue;
    }
    PassLineEnd(file, stop);
    if (!spilled) return TextLine(begin, size);
    AppendToLongLine(file, begin, stop);
    return file.long_line;
  }
}

// Bytes that do not fit in the buffer: it is filled up and written out, as
// often as they need.
[[gnu::noinline]] void PutInPieces(LineFile& file, const char* data, std::size_t size) {
  if (file.capacity == 0) {
    RaiseIfFailed(PlatformWrite(file.handle, data, size));
    return;
  }
  for (;;) {
    const std::size_t room = file.capacity - file.position;
    const std::size_t part = size < room ? size : room;
    std::memcpy(file.buffer.get() + file.position, data, part);
    file.position += part;
    if (part == size) return;
    data += part;
    size -= part;
    FlushLineFile(file);
    if (file.capacity == kFileBufferSize && !file.console) {
      file.buffer = LineBuffer(new char[kLaterBlockSize]);
      file.capacity = kLaterBlockSize;
    }
  }
}

// The end test where the buffer holds no byte or an LF may be pending.
[[gnu::noinline]] bool AtEndOfBlock(LineFile& file) {
  SkipPendingLf(file);
  return !HasByte(file) || file.buffer[file.position] == kCtrlZ;
}

// Copies a line into a buffer. A line of up to 64 bytes, as the lines of
// these file formats are, goes in blocks of 16 bytes from its start, and
// the rest in two pieces within its last block: a line that was built in
// blocks of 16 is read back in the blocks it was stored in, which the
// processor hands on without waiting for them to reach memory.
void CopyLine(char* out, const char* data, std::size_t size) {
  if (size > 64) {
    std::memcpy(out, data, size);
    return;
  }
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) std::memcpy(out + i, data + i, 16);
  const std::size_t rest = size - i;
  if (rest >= 8) {
    std::memcpy(out + i, data + i, 8);
    std::memcpy(out + size - 8, data + size - 8, 8);
  } else if (rest >= 4) {
    std::memcpy(out + i, data + i, 4);
    std::memcpy(out + size - 4, data + size - 4, 4);
  } else if (rest >= 2) {
    std::memcpy(out + i, data + i, 2);
    std::memcpy(out + size - 2, data + size - 2, 2);
  } else if (rest == 1) {
    out[i] = data[i];
  }
}

// The console streams' buffers are static: the console takes the report
// of exhausted memory, and the help pause reads without allocating.
char g_standard_output_buffer[kConsoleBufferSize];
char g_standard_input_buffer[kConsoleBufferSize];

LineFile& StandardOutput() {
  if (g_standard_output.mode == FileMode::Closed)
    Attach(g_standard_output, PlatformStandardOutput(), FileMode::Writing,
           LineBuffer(g_standard_output_buffer, {false}), kConsoleBufferSize);
  return g_standard_output;
}

void PutText(LineFile& file, std::string_view text) {
  if (!text.empty()) PutInPieces(file, text.data(), text.size());
}

// Own text in UTF-8, a character at a time: it takes no memory, so the
// console can be written when memory has run out.
void PutInUtf8(LineFile& file, std::string_view text, CodePage page) {
  for (const char c : text) {
    char form[kLongestUtf8Form];
    PutInPieces(file, form, Utf8Form(page, static_cast<unsigned char>(c), form));
  }
}

void PutOwnText(LineFile& console, std::string_view text) {
  if (PlatformConsoleTakesUtf8())
    PutInUtf8(console, text, CodePage::Cp850);
  else
    PutText(console, text);
}

void EndConsoleLine(LineFile& console) {
  PutInPieces(console, "\r\n", 2);
  if (console.console) FlushLineFile(console);
}

// Writes out what a LineFile in mode writing holds, whatever comes of it.
void FlushIgnoringFailure(LineFile& file) {
  if (file.position != 0) PlatformWrite(file.handle, file.buffer.get(), file.position);
  file.position = 0;
}

LineFile& StandardInput() {
  if (g_standard_input.mode == FileMode::Closed)
    Attach(g_standard_input, PlatformStandardInput(), FileMode::Reading,
           LineBuffer(g_standard_input_buffer, {false}), kConsoleBufferSize);
  return g_standard_input;
}

}  // namespace

void AttachForReading(LineFile& file, FileHandle handle, std::size_t buffer_size) {
  Attach(file, handle, FileMode::Reading, LineBuffer(new char[buffer_size]()), buffer_size);
}

void AttachForWriting(LineFile& file, FileHandle handle, std::size_t buffer_size) {
  Attach(file, handle, FileMode::Writing, LineBuffer(new char[buffer_size]()), buffer_size);
}

void OpenForReading(LineFile& file, const std::string& name) {
  FileHandle handle;
  RaiseIfFailed(PlatformOpenForReading(name, &handle));
  file.name = name;
  AttachForReading(file, handle, kFileBufferSize);
}

void CreateForWriting(LineFile& file, const std::string& name) {
  FileHandle handle;
  RaiseIfFailed(PlatformCreateForWriting(name, &handle));
  file.name = name;
  AttachForWriting(file, handle, kFileBufferSize);
}

// The hot path of the end test: a byte in the buffer and no LF pending.
bool AtEnd(LineFile& file) {
  if (file.skip_lf || file.position == file.filled) return AtEndOfBlock(file);
  return file.buffer[file.position] == kCtrlZ;
}

// The hot path of reading: a line that lies whole in the buffer is given
// in place.
TextLine ReadLine(LineFile& file) {
  if (file.skip_lf) return ReadLongLine(file);
  const char* begin = file.buffer.get() + file.position;
  const char* end = file.buffer.get() + file.filled;
  const char* stop = FindLineStop(begin, end);
  if (stop == end) return ReadLongLine(file);
  PassLineEnd(file, stop);
  return TextLine(begin, static_cast<std::size_t>(stop - begin));
}

TextLine ReadLinePart(LineFile& file) {
  if (!file.line_open) SkipPendingLf(file);
  if (!HasByte(file)) {
    file.line_open = false;
    return {};
  }
  const char* begin = file.buffer.get() + file.position;
  const char* end = file.buffer.get() + file.filled;
  const char* stop = FindLineStop(begin, end);
  file.line_open = stop == end;
  if (file.line_open)
    file.position = file.filled;
  else
    PassLineEnd(file, stop);
  return TextLine(begin, static_cast<std::size_t>(stop - begin));
}

void SkipLine(LineFile& file) {
  do ReadLinePart(file);
  while (file.line_open);
}

void FlushLineFile(LineFile& file) {
  if (file.position == 0) return;
  const std::size_t held = file.position;
  file.position = 0;  // a failed write is reported, not repeated later
  RaiseIfFailed(PlatformWrite(file.handle, file.buffer.get(), held));
}

// The hot path of writing: a line that fits in the buffer is copied there
// with its line end. The buffer goes to the file only when it is full, so
// a file is written in whole blocks of whole pages, which the system takes
// faster than blocks that end where a line ends.
void WriteLine(LineFile& file, std::string_view line) {
  const std::size_t size = line.size();
  if (size + 2 <= file.capacity - file.position) {
    char* out = file.buffer.get() + file.position;
    CopyLine(out, line.data(), size);
    out[size] = kCR;
    out[size + 1] = kLF;
    file.position += size + 2;
  } else {
    PutInPieces(file, line.data(), size);
    PutInPieces(file, "\r\n", 2);
  }
  if (file.console) FlushLineFile(file);
}

void CloseLineFile(LineFile& file) {
  if (file.mode == FileMode::Writing) FlushLineFile(file);
  const int code = PlatformClose(file.handle);
  file.mode = FileMode::Closed;
  file.handle = kNoHandle;
  file.buffer.reset();
  file.capacity = 0;
  std::string().swap(file.long_line);
  RaiseIfFailed(code);
}

void ConsoleWriteLine(std::string_view own_text) {
  if (!PlatformConsoleTakesUtf8()) {
    WriteLine(StandardOutput(), own_text);
    return;
  }
  LineFile& console = StandardOutput();
  PutOwnText(console, own_text);
  EndConsoleLine(console);
}

void ConsoleWriteLine(std::string_view own_before, std::string_view outside, std::string_view own_after) {
  LineFile& console = StandardOutput();
  PutOwnText(console, own_before);
  PutText(console, outside);
  PutOwnText(console, own_after);
  EndConsoleLine(console);
}

void ConsoleWriteLineAsIs(std::string_view text) { WriteLine(StandardOutput(), text); }

void AppendMessageText(std::string& message, std::string_view text) {
  if (!PlatformConsoleTakesUtf8()) {
    message += text;
    return;
  }
  for (const char c : text) {
    char form[kLongestUtf8Form];
    message.append(form, Utf8Form(CodePage::Windows1252, static_cast<unsigned char>(c), form));
  }
}

void ConsoleWriteLastLine(std::initializer_list<std::string_view> parts) {
  LineFile& console = StandardOutput();
  const auto put = [&console](std::string_view text) {
    while (!text.empty()) {
      if (console.position == console.capacity) FlushIgnoringFailure(console);
      const std::size_t part = std::min(text.size(), console.capacity - console.position);
      std::memcpy(console.buffer.get() + console.position, text.data(), part);
      console.position += part;
      text.remove_prefix(part);
    }
  };
  for (const std::string_view part : parts) put(part);
  put("\r\n");
  FlushIgnoringFailure(console);
}

TextLine ConsoleReadLine() { return ReadLine(StandardInput()); }

void ConsoleSkipLine() { SkipLine(StandardInput()); }

void FlushConsole() {
  if (g_standard_output.mode == FileMode::Writing) FlushLineFile(g_standard_output);
}

// ---- Hexadecimal fields and numbers ----

int HexDigitValue(char c) {
  const int value = kHexDigits.value[static_cast<unsigned char>(c)];
  if (value < 0) RaiseConvertError(std::string_view(&c, 1));
  return value;
}

// Bytes of 0x20 or less are trimmed at both ends: one between other bytes
// is wrong like any other non-digit, which is known only once a byte above
// 0x20 follows it. The sum shifts the older digits out, so only the last
// eight weigh.
void AddToHexField(HexField& field, std::string_view part) {
  for (const char c : part) {
    if (static_cast<unsigned char>(c) <= 0x20) {
      field.blanks = field.content;
      field.last_blank = c;
      continue;
    }
    if (field.blanks) {
      field.wrong = true;
      field.last_wrong = field.last_blank;
      field.blanks = false;
    }
    field.content = true;
    const int value = kHexDigits.value[static_cast<unsigned char>(c)];
    if (value < 0) {
      field.wrong = true;
      field.last_wrong = c;
    }
    field.sum = field.sum << 4 | static_cast<std::uint32_t>(value & 0xF);
  }
}

std::int32_t HexFieldValue(const HexField& field) {
  if (!field.content) return -1;
  if (field.wrong) RaiseConvertError(std::string_view(&field.last_wrong, 1));
  return static_cast<std::int32_t>(field.sum);
}

std::int32_t RequiredHexFieldValue(const HexField& field) {
  if (!field.content) RaiseConvertError({});
  return HexFieldValue(field);
}

std::int32_t HexToInt(std::string_view text) {
  HexField field;
  AddToHexField(field, text);
  return HexFieldValue(field);
}

std::int32_t RequiredHexToInt(std::string_view text) {
  HexField field;
  AddToHexField(field, text);
  return RequiredHexFieldValue(field);
}

std::string FormatDecimal(std::int32_t value) {
  std::int64_t rest = value;
  const bool negative = rest < 0;
  if (negative) rest = -rest;
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  std::string text = negative ? "-" : "";
  while (n > 0) text += digits[--n];
  return text;
}

void AppendHex(std::string& out, std::uint32_t value, int min_digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (int pad = min_digits - n; pad > 0; --pad) out += '0';
  while (n > 0) out += digits[--n];
}

std::string FormatHex(std::uint32_t value, int min_digits) {
  std::string text;
  AppendHex(text, value, min_digits);
  return text;
}

// ---- Failures ----

namespace {
template <typename Kind>
[[noreturn]] void Raise(Kind failure, const void* site) {
  failure.site = PlatformCodeOffset(site);
  throw failure;
}
}  // namespace

[[gnu::noinline]] void RaiseConvertError(std::string_view offending) {
  EConvertError failure;
  failure.message = "'";
  failure.message += offending;  // a character of the source, as it stands
  AppendMessageText(failure.message, texts::kNotAnInteger);
  Raise(std::move(failure), __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseInOutError(int code) {
  EInOutError failure;
  failure.code = code;
  failure.message = InOutMessage(code);
  Raise(std::move(failure), __builtin_return_address(0));
}

[[gnu::noinline]] void RaiseOutOfMemory() {
  EOutOfMemory failure;
  failure.message = texts::kOutOfMemory;
  Raise(std::move(failure), __builtin_return_address(0));
}

namespace {
// The message as it is held, in Windows-1252.
std::string InOutText(int code) {
  switch (code) {
    case kErrorFileNotFound: return texts::kFileNotFound;
    case kErrorPathNotFound: return texts::kInvalidFileName;
    case kErrorTooManyOpenFiles: return texts::kTooManyOpenFiles;
    case kErrorAccessDenied: return texts::kAccessDenied;
    default: return texts::kInOutError + FormatDecimal(code);
  }
}
}  // namespace

std::string InOutMessage(int code) {
  std::string message;
  AppendMessageText(message, InOutText(code));
  return message;
}
