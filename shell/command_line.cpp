#include "shell/command_line.h"

namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  for (;;) {
    // Blanks, and empty quoted words, give no word.
    for (;;) {
      while (i < n && IsBlank(line[i])) ++i;
      if (i + 1 < n && line[i] == '"' && line[i + 1] == '"') {
        i += 2;
        continue;
      }
      break;
    }
    if (i == n) break;
    std::string word;
    while (i < n && !IsBlank(line[i])) {
      if (line[i] != '"') {
        word += line[i++];
        continue;
      }
      ++i;  // a quoted stretch, up to the next quote or the end of the text
      while (i < n && line[i] != '"') word += line[i++];
      if (i < n) ++i;
    }
    words.push_back(std::move(word));
  }
  std::vector<std::string> parameters;
  for (std::size_t w = 1; w < words.size() && !words[w].empty(); ++w)
    parameters.push_back(std::move(words[w]));
  return parameters;
}

std::vector<std::string> SplitAtBlanks(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    const std::size_t begin = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > begin) words.emplace_back(text.substr(begin, i - begin));
  }
  return words;
}
