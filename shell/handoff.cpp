#include "shell/handoff.h"

#include "shell/command_line.h"
#include "shell/platform.h"
#include "shell/run.h"
#include "shell/texts.h"

void HandOffToProgrammer() {
  if (!HasSwitch('p')) return;
  ConsoleWriteLine(texts::kProgrammerStarting);
  const std::string tail = ParameterText(ParameterCount()) + " " + ParameterText(2);
  ConsoleWriteLine(texts::kProgrammerShown, tail, "");
  ConsoleWriteLine("");

  // The programmer's command line never passes through a shell: file names
  // and parameters are passed as they are and never run. Where programs
  // take an argument vector, the tail is split at its blanks.
  const std::string command = texts::kProgrammerName + (" " + tail);
  std::vector<std::string> arguments{texts::kProgrammerName};
  for (std::string& word : SplitAtBlanks(tail)) arguments.push_back(std::move(word));
  FlushConsole();  // its output must not overtake ours
  switch (PlatformStartProgram(command, arguments)) {
    case kErrorBadFormat: ConsoleWriteLine(texts::kNotExecutable); break;
    case kErrorFileNotFound: ConsoleWriteLine(texts::kProgrammerNotFound); break;
    case kErrorPathNotFound: ConsoleWriteLine(texts::kFolderNotFound); break;
    default: break;  // started, or failed in a way that is not reported
  }
  ConsoleWriteLine("");
  ConsoleWriteLine(texts::kPressEnterAfter);
  ConsoleWriteLine("");
}
