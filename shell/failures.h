// The failure kinds of both programs. A failure is raised where it is met
// and reported in one place, the fatal error report of the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Failure {
  std::string message;     // Windows-1252 bytes, UTF-8 for a console that takes it
  std::uint32_t site = 0;  // where it was raised, as an offset in the program
  virtual ~Failure() = default;
  virtual const char* KindName() const = 0;
};

struct EConvertError : Failure {
  const char* KindName() const override { return "EConvertError"; }
};

struct EInOutError : Failure {
  int code = 0;  // Windows system error code
  const char* KindName() const override { return "EInOutError"; }
};

struct EOutOfMemory : Failure {
  const char* KindName() const override { return "EOutOfMemory"; }
};

// Each raise records its own call site, so the report names a stable place.
[[noreturn]] void RaiseConvertError(std::string_view offending);
[[noreturn]] void RaiseInOutError(int code);
[[noreturn]] void RaiseOutOfMemory();

// The message of an EInOutError with this code.
std::string InOutMessage(int code);
