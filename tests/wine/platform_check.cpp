// Checks of the Windows platform layer on a real Win32 system (wine in CI):
// the error codes of the file calls as Windows gives them, the share modes
// between the source and the output, replacing an output, pipes, character
// devices, the module name and the program start.
//
// Run in an empty folder of its own; prints one line per check and a count.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "shell/platform.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
  (ok ? g_passed : g_failed)++;
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
}

void CheckCode(int got, int expected, const std::string& what) {
  Check(got == expected, what + ": code " + std::to_string(got) + ", expected " + std::to_string(expected));
}

void WriteWholeFile(const char* name, std::string_view bytes) {
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadWholeFile(const char* name) {
  const HANDLE file =
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(cannot be read)";
  std::string bytes;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

std::string CurrentFolder() {
  char folder[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, folder);
  return std::string(folder, n);
}

constexpr std::string_view kSource = ":0400000001020304F2\r\n:00000001FF\r\n";
constexpr std::string_view kOld = "older contents\r\n";

void CheckOpeningTheSource() {
  struct Case {
    const char* name;
    int code;
  };
  const Case cases[] = {
      {"a.hex", 0},
      {"missing.hex", kErrorFileNotFound},
      {"nichts\\a.hex", kErrorPathNotFound},
      {"sub", kErrorAccessDenied},  // a folder
  };
  for (const Case& c : cases) {
    FileHandle handle;
    CheckCode(PlatformOpenForReading(c.name, &handle), c.code, std::string("source ") + c.name);
    if (handle != kNoHandle) PlatformClose(handle);
  }

  // A file that another program holds open for writing (others may write
  // too) cannot become the source: it would change while it is read.
  const HANDLE writer = CreateFileA("a.hex", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  FileHandle handle;
  CheckCode(PlatformOpenForReading("a.hex", &handle), kErrorSharingViolation, "source open for writing elsewhere");
  if (handle != kNoHandle) PlatformClose(handle);
  CloseHandle(writer);
}

void CheckOutputThatIsTheSource() {
  FileHandle source;
  CheckCode(PlatformOpenForReading("a.hex", &source), 0, "source a.hex");
  const std::string full = CurrentFolder() + "\\a.hex";
  for (const std::string& name : {std::string("a.hex"), std::string("A.HEX"), std::string(".\\a.hex"),
                                  std::string("sub\\..\\a.hex"), full}) {
    FileHandle output;
    CheckCode(PlatformCreateForWriting(name, &output), kErrorSharingViolation, "output " + name + " is the source");
    if (output != kNoHandle) PlatformClose(output);
  }
  Check(ReadWholeFile("a.hex") == kSource, "the source is unchanged");

  // Others may read the source meanwhile, and nobody may write it.
  const HANDLE reader = CreateFileA("a.hex", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  Check(reader != INVALID_HANDLE_VALUE, "another reader of the source is let in");
  CloseHandle(reader);
  const HANDLE writer =
      CreateFileA("a.hex", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  Check(writer == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION,
        "another writer of the source is kept out");
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  PlatformClose(source);
}

void CheckCreatingTheOutput() {
  // An existing file keeps its content until the output is closed, and
  // then holds the new one; a hidden one stays hidden.
  for (const char* name : {"old.txt", "hidden.txt"}) {
    WriteWholeFile(name, kOld);
    if (std::string_view(name) == "hidden.txt") SetFileAttributesA(name, FILE_ATTRIBUTE_HIDDEN);
    FileHandle output;
    CheckCode(PlatformCreateForWriting(name, &output), 0, std::string("output ") + name);
    if (output == kNoHandle) continue;
    CheckCode(PlatformWrite(output, "x\r\n", 3), 0, std::string("write to ") + name);
    Check(ReadWholeFile(name) == kOld, std::string("an existing ") + name + " is unchanged while written");
    CheckCode(PlatformClose(output), 0, std::string("close ") + name);
    Check(ReadWholeFile(name) == "x\r\n", std::string("an existing ") + name + " holds the new content");
  }
  Check((GetFileAttributesA("hidden.txt") & FILE_ATTRIBUTE_HIDDEN) != 0, "hidden.txt is still hidden");

  // A new name takes the new file on the close.
  FileHandle fresh;
  CheckCode(PlatformCreateForWriting("fresh.txt", &fresh), 0, "output fresh.txt");
  PlatformWrite(fresh, "y\r\n", 3);
  Check(GetFileAttributesA("fresh.txt") == INVALID_FILE_ATTRIBUTES, "fresh.txt does not exist before the close");
  CheckCode(PlatformClose(fresh), 0, "close fresh.txt");
  Check(ReadWholeFile("fresh.txt") == "y\r\n", "fresh.txt holds the new content");

  // A discarded output leaves an existing file as it was and no new one.
  WriteWholeFile("kept.txt", kOld);
  for (const char* name : {"kept.txt", "never.txt"}) {
    FileHandle output;
    CheckCode(PlatformCreateForWriting(name, &output), 0, std::string("output ") + name);
    PlatformWrite(output, "z\r\n", 3);
    PlatformDiscardNewOutput();  // closes it as well
  }
  Check(ReadWholeFile("kept.txt") == kOld, "a discarded output leaves kept.txt as it was");
  Check(GetFileAttributesA("never.txt") == INVALID_FILE_ATTRIBUTES, "a discarded new output does not exist");
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(".*.*", &found);
  bool left = false;
  if (search != INVALID_HANDLE_VALUE) {
    do left = left || (found.cFileName[0] == '.' && std::string_view(found.cFileName) != "." &&
                       std::string_view(found.cFileName) != "..");
    while (FindNextFileA(search, &found));
    FindClose(search);
  }
  Check(!left, "no new file is left in the folder");

  // A refused output is left as it was: here another program reads it and
  // lets others only read it too.
  WriteWholeFile("held.txt", kOld);
  const HANDLE reader = CreateFileA("held.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FileHandle output;
  CheckCode(PlatformCreateForWriting("held.txt", &output), kErrorSharingViolation, "output held.txt, held by a reader");
  if (output != kNoHandle) PlatformClose(output);
  CloseHandle(reader);
  Check(ReadWholeFile("held.txt") == kOld, "a refused output is unchanged");

  CheckCode(PlatformCreateForWriting("sub", &output), kErrorAccessDenied, "output sub (a folder)");
  CheckCode(PlatformCreateForWriting("nichts\\b.txt", &output), kErrorPathNotFound, "output in a missing folder");

  // A device is written as it is; it has no end to set.
  CheckCode(PlatformCreateForWriting("NUL", &output), 0, "output NUL");
  if (output != kNoHandle) {
    Check(PlatformIsCharacterDevice(output), "NUL is a character device");
    CheckCode(PlatformWrite(output, "x\r\n", 3), 0, "write to NUL");
    PlatformClose(output);
  }
}

void CheckBytesAsTheyAre() {
  constexpr std::string_view kBytes("a\nb\r\n\x1a\x81\xff\0z", 10);
  FileHandle output;
  CheckCode(PlatformCreateForWriting("bytes.bin", &output), 0, "output bytes.bin");
  Check(!PlatformIsCharacterDevice(output), "a disk file is no character device");
  PlatformWrite(output, kBytes.data(), kBytes.size());
  PlatformClose(output);
  Check(ReadWholeFile("bytes.bin") == kBytes, "bytes are written as they are, no newline translation");

  FileHandle source;
  PlatformOpenForReading("bytes.bin", &source);
  char block[64];
  std::size_t got = 0;
  CheckCode(PlatformRead(source, block, sizeof block, &got), 0, "read bytes.bin");
  Check(std::string_view(block, got) == kBytes, "bytes are read as they are");
  CheckCode(PlatformRead(source, block, sizeof block, &got), 0, "read at the end of bytes.bin");
  Check(got == 0, "the end of a file reads as 0 bytes");
  PlatformClose(source);
}

void CheckPipe() {
  HANDLE reader;
  HANDLE writer;
  CreatePipe(&reader, &writer, nullptr, 0);
  DWORD written = 0;
  WriteFile(writer, "ab", 2, &written, nullptr);
  CloseHandle(writer);
  const FileHandle handle = static_cast<FileHandle>(reinterpret_cast<std::intptr_t>(reader));
  Check(!PlatformIsCharacterDevice(handle), "a pipe is no character device");
  char block[16];
  std::size_t got = 0;
  CheckCode(PlatformRead(handle, block, sizeof block, &got), 0, "read a pipe");
  Check(std::string_view(block, got) == "ab", "the bytes in the pipe arrive");
  CheckCode(PlatformRead(handle, block, sizeof block, &got), 0, "read a pipe whose writer has gone");
  Check(got == 0, "a pipe whose writer has gone is at its end");
  CloseHandle(reader);
}

void CheckProgram() {
  Check(PlatformModuleName() == "platform_check.exe", "module name " + std::string(PlatformModuleName()));
  const std::uint32_t offset = PlatformCodeOffset(reinterpret_cast<const void*>(&CheckProgram));
  const auto* image = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      reinterpret_cast<const char*>(GetModuleHandleA(nullptr)) +
      reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr))->e_lfanew);
  Check(offset > 0 && offset < image->OptionalHeader.SizeOfImage, "code offset lies within the program");

  // No such program anywhere on the search path of WinExec.
  CheckCode(static_cast<int>(PlatformStartProgram("bsldemo-nirgends -x b.txt", {})), kErrorFileNotFound,
            "start of a missing program");
}

}  // namespace

int main() {
  PlatformStart();
  CreateDirectoryA("sub", nullptr);
  WriteWholeFile("a.hex", kSource);
  CheckOpeningTheSource();
  CheckOutputThatIsTheSource();
  CheckCreatingTheOutput();
  CheckBytesAsTheyAre();
  CheckPipe();
  CheckProgram();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
