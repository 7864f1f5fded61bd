#include "shell/run.h"

#include <cstdlib>
#include <new>

#include "shell/handoff.h"
#include "shell/platform.h"
#include "shell/texts.h"

namespace {

std::vector<std::string> g_parameters;

void WriteLines(std::span<const std::string_view> lines) {
  for (const std::string_view line : lines) ConsoleWriteLine(line);
}

void WriteBanner(const ProgramProfile& profile) {
  ConsoleWriteLine(profile.TitleLine);
  ConsoleWriteLine(texts::kNotice);
  ConsoleWriteLine("");
}

void WriteHelpScreen(const ProgramProfile& profile) {
  WriteLines(profile.HelpFirstPage);
  if (profile.HelpSecondPage.empty()) return;
  WaitForEnter();
  WriteLines(profile.HelpSecondPage);
}

// The file step under way, if any: exhausted memory there ends the run
// with that step's own failure line.
struct FileStepUnderWay {
  const char* failed = nullptr;
  const std::string* name = nullptr;
};
FileStepUnderWay g_file_step;

// The fatal error report, written from its parts into the console's static
// buffer: it allocates nothing, so it can tell that memory ran out.
void WriteFatalReport(const char* kind, std::uint32_t site, std::string_view message) {
  char address[8];
  for (int i = 0; i < 8; ++i) address[i] = "0123456789ABCDEF"[(site >> (28 - 4 * i)) & 0xF];
  const bool period = !message.empty() && message.back() != '.';
  ConsoleWriteLastLine({"Exception ", kind, " in Modul ", PlatformModuleName(), " bei ",
                        std::string_view(address, 8), ".\n", message, period ? "." : ""});
}

// Ends the run when memory has run out. It is the program's new handler,
// so no allocation fails by a throw, which would itself need memory; it
// allocates nothing, removes a new output written aside and ends at once.
[[noreturn]] void EndRunOutOfMemory() {
  PlatformDiscardNewOutput();
  if (g_file_step.failed != nullptr) {  // its own text is ASCII: the same in every code page
    ConsoleWriteLastLine({g_file_step.failed, *g_file_step.name, "\""});
    std::_Exit(kExitFileStep);
  }
  const EOutOfMemory failure;
  WriteFatalReport(failure.KindName(), PlatformCodeOffset(reinterpret_cast<const void*>(&EndRunOutOfMemory)),
                   texts::kOutOfMemory);
  std::_Exit(kExitFatal);
}

// The two file steps turn any failure into a line of their own.
using OpenStep = void (*)(LineFile& file, const std::string& name);

bool FileStep(LineFile& file, OpenStep open, const std::string& name, const char* confirmed,
              const char* failed) {
  g_file_step = {failed, &name};
  bool opened = false;
  try {
    open(file, name);
    opened = true;
  } catch (const Failure&) {
  } catch (const std::bad_alloc&) {
  }
  g_file_step = {};
  if (opened)
    ConsoleWriteLine(confirmed, name, ">");
  else
    ConsoleWriteLine(failed, name, "\"");
  return opened;
}

void WriteStatistic(const ConversionStats& stats) {
  ConsoleWriteLine("");
  ConsoleWriteLine(texts::kStatistic);
  ConsoleWriteLine("  " + FormatDecimal(stats.BytesConverted) + texts::kBytesConverted);
  ConsoleWriteLine("  " + FormatDecimal(stats.AddressRanges) + texts::kAddressRanges);
  ConsoleWriteLine("");
}

int RunSteps(const ProgramProfile& profile) {
  WriteBanner(profile);
  if (HasSwitch('h') || ParameterCount() < 2) {
    WriteHelpScreen(profile);
    return kExitCompleted;
  }
  LineFile source;
  if (!FileStep(source, OpenForReading, ParameterText(1), texts::kSourceOpened,
                texts::kSourceFailed))
    return kExitFileStep;
  LineFile output;
  if (!FileStep(output, CreateForWriting, ParameterText(2), texts::kOutputCreated,
                texts::kOutputFailed)) {
    PlatformDiscardNewOutput();  // a failed output step leaves no file behind
    return kExitFileStep;
  }
  ConversionStats stats;
  profile.Convert(source, output, stats);
  WriteStatistic(stats);
  CloseLineFile(source);
  CloseLineFile(output);
  HandOffToProgrammer();
  return kExitCompleted;
}

}  // namespace

int RunConverter(const ProgramProfile& profile, int argc, char** argv) {
  PlatformStart();
  std::set_new_handler(EndRunOutOfMemory);
  try {
    SetParameters(PlatformParameters(argc, argv));
    const int status = RunSteps(profile);
    FlushConsole();
    return status;
  } catch (const Failure& failure) {
    return FatalErrorReport(failure);
  } catch (const std::bad_alloc&) {  // a size no allocation can take
    EndRunOutOfMemory();
  }
}

void SetParameters(std::vector<std::string> parameters) { g_parameters = std::move(parameters); }

int ParameterCount() { return static_cast<int>(g_parameters.size()); }

const std::string& ParameterText(int n) {
  static const std::string kNone;
  return n >= 1 && n <= ParameterCount() ? g_parameters[static_cast<std::size_t>(n - 1)] : kNone;
}

bool HasSwitch(char letter) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const std::string& p : g_parameters)
    if (p.size() == 2 && (p[0] == '-' || p[0] == '/') && lower(p[1]) == lower(letter)) return true;
  return false;
}

void WaitForEnter() { ConsoleSkipLine(); }

int FatalErrorReport(const Failure& failure) {
  // Before its completion the run created no output: a new file written
  // aside goes, and an existing output keeps its content.
  PlatformDiscardNewOutput();
  WriteFatalReport(failure.KindName(), failure.site, failure.message);
  return kExitFatal;
}
