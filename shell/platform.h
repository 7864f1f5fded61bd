// The platform layer: the only place that knows the operating system.
// Every call that can fail returns 0 or a Windows system error code, so the
// layers above speak of failures the same way on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using FileHandle = int;
inline constexpr FileHandle kNoHandle = -1;

// Windows system error codes the programs name.
enum WinError : int {
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorBadFormat = 11,
  kErrorSharingViolation = 32,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorFileTooLarge = 223,
  kErrorNoData = 232,
  kErrorIoDevice = 1117,
};

// Called once at the start of a run: broken pipes and file size limits
// become write failures instead of signals, and the console's character
// set is looked at.
void PlatformStart();
// Whether the programs' own texts are to reach the console in UTF-8:
// standard output is a terminal whose character set is UTF-8. Decided once
// by PlatformStart; false before it, and always on Windows, whose console
// shows the code pages the texts are held in.
bool PlatformConsoleTakesUtf8();

// Opens an existing file for reading. A folder is refused. While it is
// open, the same file cannot be opened for writing by this process.
int PlatformOpenForReading(const std::string& name, FileHandle* handle);
// Opens or creates a file for writing. It is emptied only after it proved
// not to be a file open for reading, and only if it is a regular file.
int PlatformCreateForWriting(const std::string& name, FileHandle* handle);
// Removes an output file that is being written aside and not yet in place,
// if there is one. It allocates nothing and may be called when memory has
// run out. On Windows it also closes the new file's handle, since an open
// file is removed only once its last handle is closed.
void PlatformDiscardNewOutput();
// Reads up to size bytes; *got 0 means the end of the data.
int PlatformRead(FileHandle handle, char* data, std::size_t size, std::size_t* got);
// Writes all size bytes.
int PlatformWrite(FileHandle handle, const char* data, std::size_t size);
int PlatformClose(FileHandle handle);
bool PlatformIsCharacterDevice(FileHandle handle);
FileHandle PlatformStandardInput();
FileHandle PlatformStandardOutput();

// The parameters handed to the program, without its own name.
std::vector<std::string> PlatformParameters(int argc, char** argv);
// The file name of the running program without its folder, in static
// storage: it is found without allocating, for the report of exhausted
// memory.
std::string_view PlatformModuleName();
// A code address as an offset within the program, the same on every run.
std::uint32_t PlatformCodeOffset(const void* address);

// Starts a program found by its bare name, without waiting for it. The
// command is its command line as one text (the program's name, a blank and
// its tail), the arguments are the same split into words (the first is the
// program's name); each system passes on the form it takes. The result
// follows the Windows program start: 2 not found, 3 folder not found,
// 11 not executable, above 31 started.
unsigned PlatformStartProgram(const std::string& command, const std::vector<std::string>& arguments);
