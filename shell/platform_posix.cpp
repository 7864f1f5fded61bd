// The platform layer on POSIX systems.
#include "shell/platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
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

}  // namespace

void PlatformStart() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

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

int PlatformCreateForWriting(const std::string& name, FileHandle* handle) {
  *handle = kNoHandle;
  const int fd = OpenAboveStandardStreams(name.c_str(), O_WRONLY | O_CREAT);
  if (fd < 0) return WindowsCode(errno, name);
  struct stat info;
  int code = 0;
  if (fstat(fd, &info) != 0)
    code = WindowsCode(errno);
  else if (IsOpenForReading(info))
    code = kErrorSharingViolation;
  else if (S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0)
    code = WindowsCode(errno);
  if (code != 0) {
    close(fd);
    return code;
  }
  *handle = fd;
  return 0;
}

void PlatformDiscardNewOutput() {}

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
  return close(handle) == 0 || errno == EINTR ? 0 : WindowsCode(errno);
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

std::string PlatformModuleName() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0) return "unbekannt";
  const std::string full(path, static_cast<std::size_t>(n));
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
