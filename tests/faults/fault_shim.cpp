// Faults for the fault tests, put in front of the C library with LD_PRELOAD.
// It only changes what the programs' calls of read and write return; the
// programs are the normal build, untouched.
//
//   FAULT_READ_FAILS_AT=n  the n-th read of a file the program opened itself
//                          (descriptor 3 or above) fails with EIO
//   FAULT_SHORT_IO=1       those reads, and every write, move only a few
//                          bytes at a time, and every other call is first
//                          interrupted with EINTR
#include <dlfcn.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>

namespace {

using ReadCall = ssize_t (*)(int, void*, size_t);
using WriteCall = ssize_t (*)(int, const void*, size_t);

long Setting(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtol(text, nullptr, 10) : 0;
}

// Decides the fate of one call under FAULT_SHORT_IO: false when it is to be
// interrupted, else the size it may move.
bool ShortCall(unsigned long& calls, size_t& size) {
  ++calls;
  if (calls % 2 == 1) {
    errno = EINTR;
    return false;
  }
  const size_t most = 1 + (calls / 2) % 7;
  if (size > most) size = most;
  return true;
}

unsigned long g_reads = 0;
unsigned long g_short_reads = 0;
unsigned long g_short_writes = 0;

}  // namespace

extern "C" ssize_t read(int fd, void* data, size_t size) {
  static const auto real = reinterpret_cast<ReadCall>(dlsym(RTLD_NEXT, "read"));
  static const long fails_at = Setting("FAULT_READ_FAILS_AT");
  static const bool short_io = Setting("FAULT_SHORT_IO") != 0;
  if (fd >= 3) {
    if (fails_at > 0 && ++g_reads == static_cast<unsigned long>(fails_at)) {
      errno = EIO;
      return -1;
    }
    if (short_io && !ShortCall(g_short_reads, size)) return -1;
  }
  return real(fd, data, size);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = reinterpret_cast<WriteCall>(dlsym(RTLD_NEXT, "write"));
  static const bool short_io = Setting("FAULT_SHORT_IO") != 0;
  if (short_io && size > 0 && !ShortCall(g_short_writes, size)) return -1;
  return real(fd, data, size);
}
