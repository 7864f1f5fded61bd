// A stand-in for the programmer, for the tests of the hand-off: it records
// the command line it was started with, byte for byte, in the file
// bsldemo-command-line.txt of its current folder, and ends. The record is
// written under another name and then renamed, so a test that polls for it
// never reads half of it.
//
// With the word -w on its command line (the programmer's "wait before the
// end"), it stays a while after the record and then writes
// bsldemo-ended.txt: a converter that waited for it would end after that.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string_view>

namespace {

bool WriteNewFile(const char* name, std::string_view bytes) {
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(file) && ok && written == bytes.size();
}

bool HasWord(std::string_view line, std::string_view word) {
  for (std::size_t at = line.find(word); at != std::string_view::npos; at = line.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    if (at > 0 && line[at - 1] == ' ' && (end == line.size() || line[end] == ' ')) return true;
  }
  return false;
}

}  // namespace

int main() {
  const std::string_view command = GetCommandLineA();
  if (!WriteNewFile("bsldemo-command-line.tmp", command) ||
      !MoveFileExA("bsldemo-command-line.tmp", "bsldemo-command-line.txt", MOVEFILE_REPLACE_EXISTING))
    return 1;
  if (HasWord(command, "-w")) {
    Sleep(8000);
    WriteNewFile("bsldemo-ended.txt", "");
  }
  return 0;
}
