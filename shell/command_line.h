// Splitting a command line that the system hands over as one text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The parameters of the command line: its words after the program's name,
// up to the first empty word. A blank is any byte of code 1 to 32; double
// quotes enclose stretches that keep their blanks and are not part of the word.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The words of a programmer's command tail: runs of bytes of code 1 to 32
// separate them, and quotes are taken literally.
std::vector<std::string> SplitAtBlanks(std::string_view text);
