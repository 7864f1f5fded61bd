// Starts a program with a command line given byte for byte, waits for it
// and ends with its exit status. Wine builds a program's command line from
// its Unix arguments, quoting them its own way; the tests of how the
// programs split their command line need the exact text instead.
//
//   launch.exe PROGRAM HEX
//
// PROGRAM is the Windows path of the program, HEX the command line in
// hexadecimal digits (two per byte), so that no quoting stands between
// the test and the program. The program shares this one's standard streams
// and current folder.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const char* hex, std::string* bytes) {
  for (; hex[0] != '\0'; hex += 2) {
    if (hex[1] == '\0') return false;
    const int high = DigitValue(hex[0]);
    const int low = DigitValue(hex[1]);
    if (high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

HANDLE Inheritable(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command;
  if (argc != 3 || !FromHex(argv[2], &command)) return 120;

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
  startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
  startup.hStdError = Inheritable(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[1], command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process))
    return 121;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 122;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
