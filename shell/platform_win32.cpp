// The platform layer on Windows. Every call is the Win32 one, and every
// error code is the system's own (GetLastError), passed on as it is.
#include "shell/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

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

// ---- The console's own files ----

// A file by the identity Windows gives it: its volume and its index there.
struct FileIdentity {
  bool known = false;
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
};

FileIdentity IdentityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetFileInformationByHandle(handle, &info)) return {};
  return {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low;
}

// Standard output and standard error as they were at start, where they are
// a disk file or a pipe: the console text would be mixed into the image.
FileIdentity g_console[2];

void TakeConsoleIdentities() {
  const DWORD streams[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 2; ++i) {
    const HANDLE handle = GetStdHandle(streams[i]);
    const DWORD type = handle == INVALID_HANDLE_VALUE || handle == nullptr ? FILE_TYPE_UNKNOWN : GetFileType(handle);
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) g_console[i] = IdentityOf(handle);
  }
}

bool IsConsoleFile(HANDLE handle) {
  const FileIdentity output = IdentityOf(handle);
  return SameFile(output, g_console[0]) || SameFile(output, g_console[1]);
}

// ---- An output written aside ----

// A disk file as output is written into a new file beside it, which takes
// the output's name only once the conversion is complete.
struct NewOutput {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string final_path;
  bool replaces = false;  // an existing output is replaced, keeping its attributes
  DWORD attributes = 0;   // of the existing output
};
NewOutput g_new_output;

// The new file's name for the console control routine and the report of
// exhausted memory, which may not allocate.
char g_discard_path[MAX_PATH * 2];
volatile LONG g_discard_armed = 0;

void DiscardNewFile() {
  if (InterlockedExchange(&g_discard_armed, 0) != 0) DeleteFileA(g_discard_path);
}

// Ctrl-C, Ctrl-Break, a closed console: the new file goes, then the
// default routine ends the process.
BOOL WINAPI RemoveNewFileOnInterruption(DWORD) {
  DiscardNewFile();
  return FALSE;
}

std::string FullPath(const std::string& name) {
  char full[MAX_PATH * 2];
  char* file_part = nullptr;
  const DWORD n = GetFullPathNameA(name.c_str(), sizeof full, full, &file_part);
  return n == 0 || n >= sizeof full ? std::string() : std::string(full, n);
}

// ".<name>.XXXXXX" beside the output, six random characters, the name part
// shortened so that the whole stays a valid file name.
std::string NewFileName(const std::string& final_path, unsigned attempt) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t slash = final_path.find_last_of("\\/");
  const std::string name = final_path.substr(slash + 1).substr(0, 255 - 8);
  std::string result = final_path.substr(0, slash + 1) + "." + name + ".";
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  unsigned long long seed = static_cast<unsigned long long>(counter.QuadPart) ^
                            (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^ (attempt * 0x9E3779B9u);
  for (int i = 0; i < 6; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    result += kChars[(seed >> 33) % (sizeof kChars - 1)];
  }
  return result;
}

int CreateNewFile(const std::string& final_path, bool replaces, FileHandle* handle) {
  const DWORD attributes = replaces ? GetFileAttributesA(final_path.c_str()) : INVALID_FILE_ATTRIBUTES;
  for (unsigned attempt = 0;; ++attempt) {
    const std::string temp_path = NewFileName(final_path, attempt);
    if (temp_path.size() >= sizeof g_discard_path) return ERROR_FILENAME_EXCED_RANGE;
    const HANDLE file = CreateFileA(temp_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (file == INVALID_HANDLE_VALUE) return LastErrorCode();
    std::memcpy(g_discard_path, temp_path.c_str(), temp_path.size() + 1);
    InterlockedExchange(&g_discard_armed, 1);
    g_new_output = {file, final_path, replaces, attributes};
    *handle = ToFileHandle(file);
    return 0;
  }
}

// Puts the new file in place of the output: the run's commit point.
int PutNewFileInPlace() {
  const NewOutput output = g_new_output;
  g_new_output = {};
  const char* final_path = output.final_path.c_str();
  bool done = output.replaces && ReplaceFileA(final_path, g_discard_path, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                              nullptr, nullptr);
  if (!done) done = MoveFileExA(g_discard_path, final_path, MOVEFILE_REPLACE_EXISTING);
  if (!done) {
    const int code = LastErrorCode();
    DiscardNewFile();
    return code;
  }
  InterlockedExchange(&g_discard_armed, 0);
  // Not every system's ReplaceFileA carries the attributes over.
  if (output.replaces && output.attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(final_path, output.attributes);
  return 0;
}

// Writing in place, as on a device, a pipe or a file with several names:
// a disk file is emptied first.
int WriteInPlace(HANDLE file, FileHandle* handle) {
  if (GetFileType(file) == FILE_TYPE_DISK && !SetEndOfFile(file)) {
    const int code = LastErrorCode();
    CloseHandle(file);
    return code;
  }
  *handle = ToFileHandle(file);
  return 0;
}

HANDLE OpenExistingForWriting(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

}  // namespace

void PlatformStart() {
  // A drive without a medium fails like any other open, without a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  TakeConsoleIdentities();
  SetConsoleCtrlHandler(RemoveNewFileOnInterruption, TRUE);
}

bool PlatformConsoleTakesUtf8() { return false; }

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

// The output step. An existing output is opened for writing without being
// emptied, so that each refusal (the open source or a file another program
// holds, code 32; a read-only file, code 5) leaves it as it was. A disk
// file with one name is then written aside and takes the output's name on
// completion; a device (NUL, CON, a serial port), a pipe or a file with
// several names is written in place.
int PlatformCreateForWriting(const std::string& name, FileHandle* handle) {
  *handle = kNoHandle;
  HANDLE file = OpenExistingForWriting(name);
  if (file == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return LastErrorCode();
    const std::string full = FullPath(name);
    if (full.empty()) return ERROR_PATH_NOT_FOUND;
    return CreateNewFile(full, false, handle);
  }
  if (IsConsoleFile(file)) {
    CloseHandle(file);
    return ERROR_SHARING_VIOLATION;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool one_name = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                        info.nNumberOfLinks == 1;
  const std::string full = one_name ? FullPath(name) : std::string();
  if (full.empty()) return WriteInPlace(file, handle);
  CloseHandle(file);  // the new file is the only handle the output takes
  const int code = CreateNewFile(full, true, handle);
  if (code != ERROR_ACCESS_DENIED) return code;
  // The folder takes no new file, but the file itself may be written.
  file = OpenExistingForWriting(name);
  if (file == INVALID_HANDLE_VALUE) return LastErrorCode();
  return WriteInPlace(file, handle);
}

// The new file is closed first: an open file is removed only when its last
// handle is closed, which would otherwise wait for the end of the process.
void PlatformDiscardNewOutput() {
  if (g_new_output.handle != INVALID_HANDLE_VALUE) CloseHandle(g_new_output.handle);
  g_new_output.handle = INVALID_HANDLE_VALUE;
  DiscardNewFile();
}

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

int PlatformClose(FileHandle handle) {
  const HANDLE file = ToSystemHandle(handle);
  const int code = CloseHandle(file) ? 0 : LastErrorCode();
  if (file != g_new_output.handle || file == INVALID_HANDLE_VALUE) return code;
  if (code == 0) return PutNewFileInPlace();
  g_new_output = {};
  DiscardNewFile();
  return code;
}

bool PlatformIsCharacterDevice(FileHandle handle) {
  return GetFileType(ToSystemHandle(handle)) == FILE_TYPE_CHAR;
}

FileHandle PlatformStandardInput() { return ToFileHandle(GetStdHandle(STD_INPUT_HANDLE)); }
FileHandle PlatformStandardOutput() { return ToFileHandle(GetStdHandle(STD_OUTPUT_HANDLE)); }

// Windows hands a program its command line as one text; the C runtime's
// own split of it is not used.
std::vector<std::string> PlatformParameters(int, char**) { return SplitCommandLine(GetCommandLineA()); }

std::string_view PlatformModuleName() {
  static char path[32768];  // the longest path Windows has
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return "unbekannt";
  const std::string_view full(path, n);
  return full.substr(full.find_last_of("\\/") + 1);
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
