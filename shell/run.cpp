#include "shell/run.h"

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

// The two file steps turn any failure into a line of their own.
using OpenStep = void (*)(LineFile& file, const std::string& name);

bool FileStep(LineFile& file, OpenStep open, const std::string& name, const char* confirmed,
              const char* failed) {
  try {
    open(file, name);
    ConsoleWriteLine(confirmed, name, ">");
    return true;
  } catch (const Failure&) {
  } catch (const std::bad_alloc&) {
  }
  ConsoleWriteLine(failed, name, "\"");
  return false;
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
  try {
    SetParameters(PlatformParameters(argc, argv));
    const int status = RunSteps(profile);
    FlushConsole();
    return status;
  } catch (const Failure& failure) {
    return FatalErrorReport(failure);
  } catch (const std::bad_alloc&) {
    EOutOfMemory failure;
    failure.message = texts::kOutOfMemory;
    failure.site = PlatformCodeOffset(reinterpret_cast<const void*>(&RunConverter));
    return FatalErrorReport(failure);
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

void WaitForEnter() { ConsoleReadLine(); }

int FatalErrorReport(const Failure& failure) {
  // Before its completion the run created no output: a new file written
  // aside goes, and an existing output keeps its content.
  PlatformDiscardNewOutput();
  std::string report = "Exception ";
  report += failure.KindName();
  report += " in Modul ";
  report += PlatformModuleName();
  report += " bei ";
  AppendHex(report, failure.site, 8);
  report += ".\n";
  report += failure.message;
  if (!failure.message.empty() && failure.message.back() != '.') report += '.';
  // When standard output itself fails, the report cannot reach anyone.
  try {
    ConsoleWriteLineAsIs(report);
    FlushConsole();
  } catch (const Failure&) {
  } catch (const std::bad_alloc&) {
  }
  return kExitFatal;
}
