// The platform layer on POSIX systems.
#include "shell/platform.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <clocale>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

extern char** environ;
extern "C" const char __executable_start;  // set by the linker

namespace {

// Windows reserves bit 29 of an error code for application codes: an errno
// without a Windows counterpart is passed on there, never as a plain code.
constexpr int kApplicationCode = 1 << 29;

bool FolderOfPathMissing(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) return false;
  const std::string folder = slash == 0 ? "/" : name.substr(0, slash);
  struct stat info;
  return stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode);
}

int WindowsCode(int error, const std::string& name = {}) {
  switch (error) {
    case ENOENT: return FolderOfPathMissing(name) ? kErrorPathNotFound : kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ETXTBSY: return kErrorSharingViolation;
    case EINVAL: return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EFBIG: return kErrorFileTooLarge;
    case EPIPE: return kErrorNoData;
    case EIO: return kErrorIoDevice;
    default: return kApplicationCode | error;
  }
}

// Files opened for reading, by identity: without share modes this is how
// an output that is the open source is refused (also through links).
struct FileIdentity {
  dev_t device;
  ino_t inode;
  FileHandle handle;
};
std::vector<FileIdentity> g_reading;

bool IsOpenForReading(const struct stat& info) {
  for (const FileIdentity& open : g_reading)
    if (open.device == info.st_dev && open.inode == info.st_ino) return true;
  return false;
}

// A file the program opens never takes descriptor 0, 1 or 2, so console
// text cannot land in it even when a standard stream was closed.
int OpenAboveStandardStreams(const char* name, int flags) {
  int fd;
  do fd = open(name, flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

// ---- The console's own files ----

// Standard output and standard error as they were at start: an output that
// is one of them (a regular file or a pipe) would get the console text mixed
// into the image.
struct ConsoleIdentity {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
};
ConsoleIdentity g_console[2];

void TakeConsoleIdentities() {
  const int streams[2] = {STDOUT_FILENO, STDERR_FILENO};
  for (int i = 0; i < 2; ++i) {
    struct stat info;
    if (fstat(streams[i], &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) continue;
    g_console[i] = {true, info.st_dev, info.st_ino};
  }
}

bool IsConsoleFile(const struct stat& info) {
  for (const ConsoleIdentity& console : g_console)
    if (console.known && console.device == info.st_dev && console.inode == info.st_ino) return true;
  return false;
}

// ---- An output written aside ----

// A regular output is written into a new file beside it, which takes the
// output's name only once the conversion is complete: a failed or
// interrupted run leaves an existing output as it was and creates none.
struct NewOutput {
  FileHandle handle = kNoHandle;
  std::string final_path;  // the output's real path
};
NewOutput g_new_output;

// The new file's name for the paths that may not allocate: the signal
// handler and the report of exhausted memory.
char g_discard_path[PATH_MAX + NAME_MAX + 2];
volatile sig_atomic_t g_discard_armed = 0;

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

// Creating, arming, renaming and disarming happen with the interruptions
// held back, so a signal never finds a new file that it does not know of.
struct HeldInterruptions {
  sigset_t saved;
  HeldInterruptions() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : kInterruptions) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &saved);
  }
  ~HeldInterruptions() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
};

void DiscardNewFile() {
  if (g_discard_armed) unlink(g_discard_path);
  g_discard_armed = 0;
}

// Removes the new file, then ends the process by the same signal, so the
// caller sees an interrupted command.
extern "C" void RemoveNewFileAndEnd(int sig) {
  const int saved = errno;
  DiscardNewFile();
  errno = saved;
  raise(sig);  // the handler was reset and the signal not held: this ends the run
}

// Only signals that were not ignored at start are caught: a run under nohup
// or in the background keeps ignoring them.
void CatchInterruptions() {
  for (const int sig : kInterruptions) {
    struct sigaction before;
    if (sigaction(sig, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveNewFileAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigaction(sig, &action, nullptr);
  }
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The real path of an output: of the file where it exists, else of its
// folder followed by its name. Empty where there is none.
std::string RealPath(const std::string& name, bool exists) {
  char resolved[PATH_MAX];
  if (exists) return realpath(name.c_str(), resolved) ? resolved : "";
  if (!realpath(FolderOf(name).c_str(), resolved)) return "";
  const std::string folder = resolved;
  return (folder == "/" ? "" : folder) + "/" + FileNameOf(name);
}

// ".<name>.XXXXXX" in the folder of path, six random characters, the name
// part shortened so that the whole stays a valid file name.
std::string NewFileName(const std::string& path) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  if (getentropy(random, sizeof random) != 0)
    for (std::size_t i = 0; i < sizeof random; ++i)
      random[i] = static_cast<unsigned char>((getpid() >> (i * 3)) ^ time(nullptr) ^ (i * 41));
  std::string name = FileNameOf(path).substr(0, NAME_MAX - 8);
  std::string result = FolderOf(path) + "/." + name + ".";
  for (const unsigned char r : random) result += kChars[r % (sizeof kChars - 1)];
  return result;
}

// Creates the new file for an output with the real path final_path. It
// gets the permission bits, owner and group of the existing output, where
// there is one; a new output gets what the umask leaves of 0666.
int CreateNewFile(const std::string& final_path, const struct stat* existing, FileHandle* handle) {
  for (;;) {
    const std::string temp_path = NewFileName(final_path);
    if (temp_path.size() >= sizeof g_discard_path) return kErrorPathNotFound;
    HeldInterruptions held;
    int fd;
    do fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return WindowsCode(errno, temp_path);
    std::memcpy(g_discard_path, temp_path.c_str(), temp_path.size() + 1);
    g_discard_armed = 1;
    if (fd <= STDERR_FILENO) {  // no console text may land in it
      const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      const int error = errno;
      close(fd);
      if (moved < 0) {
        DiscardNewFile();
        return WindowsCode(error);
      }
      fd = moved;
    }
    if (existing) {
      if (fchown(fd, existing->st_uid, existing->st_gid) != 0) {
        // not allowed: the output belongs to whoever ran the conversion
      }
      fchmod(fd, existing->st_mode & 07777);
    }
    g_new_output = {fd, final_path};
    *handle = fd;
    return 0;
  }
}

// Puts the new file in place of the output: the run's commit point.
int PutNewFileInPlace() {
  HeldInterruptions held;
  const int code = rename(g_discard_path, g_new_output.final_path.c_str()) == 0 ? 0 : WindowsCode(errno);
  if (code != 0) unlink(g_discard_path);
  g_discard_armed = 0;
  g_new_output = {};
  return code;
}

// Whether an existing output can be written aside: a regular file with
// one name, on the same device as its folder (not a file mounted onto its
// place), in a folder that takes a new file.
bool CanWriteAside(const struct stat& info, const std::string& real_path) {
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1 || real_path.empty()) return false;
  const std::string folder_path = FolderOf(real_path);
  struct stat folder;
  if (stat(folder_path.c_str(), &folder) != 0 || folder.st_dev != info.st_dev) return false;
#if defined(STATX_MNT_ID)
  // A file bound onto its place from the same file system shares the
  // device: only the mount tells them apart.
  struct statx file_mount, folder_mount;
  if (statx(AT_FDCWD, real_path.c_str(), 0, STATX_MNT_ID, &file_mount) == 0 &&
      statx(AT_FDCWD, folder_path.c_str(), 0, STATX_MNT_ID, &folder_mount) == 0 &&
      (file_mount.stx_mask & folder_mount.stx_mask & STATX_MNT_ID) != 0)
    return file_mount.stx_mnt_id == folder_mount.stx_mnt_id;
#endif
  return true;
}

bool IsDanglingLink(const std::string& name) {
  struct stat info;
  return lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// The refusals of the output step for a file that is open: the source, and
// the console's own files.
int RefusalOfOpenOutput(int fd, struct stat* info) {
  if (fstat(fd, info) != 0) return WindowsCode(errno);
  if (IsOpenForReading(*info) || IsConsoleFile(*info)) return kErrorSharingViolation;
  return 0;
}

// Writing in place, as on a device, a pipe, or a file with several names:
// an existing regular file is emptied first.
int WriteInPlace(int fd, const struct stat& info, FileHandle* handle) {
  if (S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0) {
    const int code = WindowsCode(errno);
    close(fd);
    return code;
  }
  *handle = fd;
  return 0;
}

bool g_console_takes_utf8 = false;

// The locale is asked only on a terminal, and only for its character set:
// LC_CTYPE goes back to "C" at once, so nothing else of the locale changes
// what the programs do. A locale that cannot be set is no UTF-8.
bool TerminalTakesUtf8() {
  if (isatty(STDOUT_FILENO) != 1) return false;
  if (setlocale(LC_CTYPE, "") == nullptr) return false;
  const char* codeset = nl_langinfo(CODESET);
  const bool utf8 =
      codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  setlocale(LC_CTYPE, "C");
  return utf8;
}

}  // namespace

void PlatformStart() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  TakeConsoleIdentities();
  CatchInterruptions();
  g_console_takes_utf8 = TerminalTakesUtf8();
}

bool PlatformConsoleTakesUtf8() { return g_console_takes_utf8; }

int PlatformOpenForReading(const std::string& name, FileHandle* handle) {
  *handle = kNoHandle;
  const int fd = OpenAboveStandardStreams(name.c_str(), O_RDONLY);
  if (fd < 0) return WindowsCode(errno, name);
  struct stat info;
  if (fstat(fd, &info) != 0) {
    const int code = WindowsCode(errno);
    close(fd);
    return code;
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    return kErrorAccessDenied;
  }
  g_reading.push_back({info.st_dev, info.st_ino, fd});
  *handle = fd;
  return 0;
}

// The output step. An existing output is opened for writing without being
// emptied, so that each refusal leaves it as it was; a regular one is then
// written aside and renamed on completion, anything else written in place.
int PlatformCreateForWriting(const std::string& name, FileHandle* handle) {
  *handle = kNoHandle;
  // A name ending in a slash names a folder: no file can be created there.
  if (!name.empty() && name.back() == '/') {
    const int fd = OpenAboveStandardStreams(name.c_str(), O_WRONLY | O_CREAT);
    if (fd >= 0) close(fd);
    return WindowsCode(fd >= 0 ? EISDIR : errno, name);
  }
  int fd = OpenAboveStandardStreams(name.c_str(), O_WRONLY);
  if (fd >= 0) {
    struct stat info;
    if (const int code = RefusalOfOpenOutput(fd, &info); code != 0) {
      close(fd);
      return code;
    }
    const std::string real_path = RealPath(name, true);
    if (!CanWriteAside(info, real_path)) return WriteInPlace(fd, info, handle);
    close(fd);  // the new file is the only descriptor the output takes
    const int code = CreateNewFile(real_path, &info, handle);
    if (code != kErrorAccessDenied) return code;
    // The folder takes no new file, but the file itself may be written.
    fd = OpenAboveStandardStreams(name.c_str(), O_WRONLY);
    if (fd < 0) return WindowsCode(errno, name);
    if (const int refused = RefusalOfOpenOutput(fd, &info); refused != 0) {
      close(fd);
      return refused;
    }
    return WriteInPlace(fd, info, handle);
  }
  if (errno != ENOENT) return WindowsCode(errno, name);
  if (!IsDanglingLink(name)) {
    const std::string real_path = RealPath(name, false);
    if (real_path.empty()) return WindowsCode(ENOENT, name);
    return CreateNewFile(real_path, nullptr, handle);
  }
  // A symbolic link to nothing yet: its target is created and written.
  fd = OpenAboveStandardStreams(name.c_str(), O_WRONLY | O_CREAT);
  if (fd < 0) return WindowsCode(errno, name);
  struct stat info;
  if (const int code = RefusalOfOpenOutput(fd, &info); code != 0) {
    close(fd);
    return code;
  }
  *handle = fd;
  return 0;
}

void PlatformDiscardNewOutput() {
  DiscardNewFile();
  g_new_output.handle = kNoHandle;  // its close puts nothing in place
}

int PlatformRead(FileHandle handle, char* data, std::size_t size, std::size_t* got) {
  ssize_t n;
  do n = read(handle, data, size);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    *got = 0;
    return WindowsCode(errno);
  }
  *got = static_cast<std::size_t>(n);
  return 0;
}

int PlatformWrite(FileHandle handle, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(handle, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WindowsCode(errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int PlatformClose(FileHandle handle) {
  for (std::size_t i = 0; i < g_reading.size(); ++i)
    if (g_reading[i].handle == handle) {
      g_reading.erase(g_reading.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  // The descriptor is released even when close reports a failure; no retry.
  const int code = close(handle) == 0 || errno == EINTR ? 0 : WindowsCode(errno);
  if (handle != g_new_output.handle || handle == kNoHandle) return code;
  if (code == 0) return PutNewFileInPlace();
  PlatformDiscardNewOutput();
  g_new_output = {};
  return code;
}

bool PlatformIsCharacterDevice(FileHandle handle) {
  struct stat info;
  return fstat(handle, &info) == 0 && S_ISCHR(info.st_mode);
}

FileHandle PlatformStandardInput() { return STDIN_FILENO; }
FileHandle PlatformStandardOutput() { return STDOUT_FILENO; }

std::vector<std::string> PlatformParameters(int argc, char** argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '\0') parameters.emplace_back(argv[i]);
  return parameters;
}

std::string_view PlatformModuleName() {
  static char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0) return "unbekannt";
  const std::string_view full(path, static_cast<std::size_t>(n));
  return full.substr(full.find_last_of('/') + 1);
}

std::uint32_t PlatformCodeOffset(const void* address) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                    reinterpret_cast<std::uintptr_t>(&__executable_start));
}

unsigned PlatformStartProgram(const std::string&, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  // The signals this program ignores are the programmer's own business.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  pid_t child;
  const int error = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  switch (error) {
    case 0: return 33;  // started; not waited for
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case ENOEXEC:
    case EACCES: return kErrorBadFormat;
    default: return 0;  // the start failed for another reason
  }
}
