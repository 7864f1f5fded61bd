// The run shared by both programs: banner, help, the two file steps, the
// conversion, the statistic and the hand-off, and the fatal error report.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shell/failures.h"
#include "shell/text.h"

// What a conversion loop counts and the run prints. Both counters are 32-bit
// signed and wrap on overflow, so a huge image prints a negative count.
struct ConversionStats {
  std::int32_t BytesConverted = 0;
  std::int32_t AddressRanges = 0;
};

inline void CountUp(std::int32_t& counter, std::uint32_t amount) {
  counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + amount);
}

using ConversionLoop = void (*)(LineFile& source, LineFile& output, ConversionStats& stats);

// What sets one program apart in the run.
struct ProgramProfile {
  std::string_view TitleLine;
  std::span<const std::string_view> HelpFirstPage;
  std::span<const std::string_view> HelpSecondPage;  // shown after a pause; may be empty
  ConversionLoop Convert;
};

// Exit statuses.
enum ExitStatus : int {
  kExitCompleted = 0,  // help shown, or conversion completed
  kExitFatal = 1,      // the fatal error report was written
  kExitFileStep = 2,   // source not opened, or output not created
};

int RunConverter(const ProgramProfile& profile, int argc, char** argv);

// The parameters after the program's name, numbered from 1.
void SetParameters(std::vector<std::string> parameters);
int ParameterCount();
const std::string& ParameterText(int n);  // the empty text above the count
bool HasSwitch(char letter);

void WaitForEnter();
int FatalErrorReport(const Failure& failure);
