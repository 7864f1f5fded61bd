// The platform layer on Windows. Every call is the Win32 one, and every
// error code is the system's own (GetLastError), passed on as it is.
#include "shell/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "shell/command_line.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // set by the linker: the program's load address

namespace {

// A single read or write call moves at most this many bytes.
constexpr std::size_t kLargestTransfer = 1u << 30;

// A system handle in the int of FileHandle: Windows keeps only the low 32
// bits of a handle significant, so it survives being cut and sign-extended
// back (this is how 32-bit and 64-bit programs share handles).
FileHandle ToFileHandle(HANDLE handle) {
  return static_cast<FileHandle>(reinterpret_cast<std::intptr_t>(handle));
}

HANDLE ToSystemHandle(FileHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

// The code of the call that just failed. A failure that left no code still
// must not read as success.
int LastErrorCode() {
  const DWORD code = GetLastError();
  return code != ERROR_SUCCESS ? static_cast<int>(code) : static_cast<int>(ERROR_GEN_FAILURE);
}

}  // namespace

void PlatformStart() {
  // A drive without a medium fails like any other open, without a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

// Others may only read the source while it is open: so the output step
// cannot empty it, whatever name leads to it (code 32).
int PlatformOpenForReading(const std::string& name, FileHandle* handle) {
  *handle = kNoHandle;
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened (code 5).
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorCode();
  *handle = ToFileHandle(file);
  return 0;
}

// The file is opened, or created, without emptying it: a refused open
// (the open source, code 32; a read-only file, code 5) leaves an existing
// file as it was. Only then is a disk file emptied; a device (NUL, CON, a
// serial port) or a pipe is written as it is.
int PlatformCreateForWriting(const std::string& name, FileHandle* handle) {
  *handle = kNoHandle;
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorCode();
  if (GetFileType(file) == FILE_TYPE_DISK && !SetEndOfFile(file)) {
    const int code = LastErrorCode();
    CloseHandle(file);
    return code;
  }
  *handle = ToFileHandle(file);
  return 0;
}

void PlatformDiscardNewOutput() {}

int PlatformRead(FileHandle handle, char* data, std::size_t size, std::size_t* got) {
  *got = 0;
  DWORD read = 0;
  const auto wanted = static_cast<DWORD>(size < kLargestTransfer ? size : kLargestTransfer);
  if (!ReadFile(ToSystemHandle(handle), data, wanted, &read, nullptr)) {
    // A pipe whose writer has gone has simply come to its end.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : LastErrorCode();
  }
  *got = read;
  return 0;
}

// The bytes go out as they are: no text mode, no newline translation.
int PlatformWrite(FileHandle handle, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const auto wanted = static_cast<DWORD>(size < kLargestTransfer ? size : kLargestTransfer);
    if (!WriteFile(ToSystemHandle(handle), data, wanted, &written, nullptr)) return LastErrorCode();
    if (written == 0) return ERROR_WRITE_FAULT;  // no progress and no code: never loop on it
    data += written;
    size -= written;
  }
  return 0;
}

int PlatformClose(FileHandle handle) { return CloseHandle(ToSystemHandle(handle)) ? 0 : LastErrorCode(); }

bool PlatformIsCharacterDevice(FileHandle handle) {
  return GetFileType(ToSystemHandle(handle)) == FILE_TYPE_CHAR;
}

FileHandle PlatformStandardInput() { return ToFileHandle(GetStdHandle(STD_INPUT_HANDLE)); }
FileHandle PlatformStandardOutput() { return ToFileHandle(GetStdHandle(STD_OUTPUT_HANDLE)); }

// Windows hands a program its command line as one text; the C runtime's
// own split of it is not used.
std::vector<std::string> PlatformParameters(int, char**) { return SplitCommandLine(GetCommandLineA()); }

std::string PlatformModuleName() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "unbekannt";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut off: try again with more room
  }
  return path.substr(path.find_last_of("\\/") + 1);
}

std::uint32_t PlatformCodeOffset(const void* address) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                    reinterpret_cast<std::uintptr_t>(&__ImageBase));
}

// WinExec finds the program as a bare name is found (the program's own
// folder, the current folder, the system folders, PATH) and does not wait.
// Its result is returned as it is: above 31 started, else the error code.
unsigned PlatformStartProgram(const std::string& command, const std::vector<std::string>&) {
  return WinExec(command.c_str(), SW_SHOWNORMAL);
}
