// The command line: splitting a line handed over as one text, the words of
// a programmer's command tail, the parameters and the switch test.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "shell/command_line.h"
#include "shell/run.h"

using namespace std::literals;

namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, Words) {
  struct Case {
    std::string_view line;
    Words parameters;
  };
  const Case kCases[] = {
      {R"(rakemo a.hex b.txt -p "-cCOM2 +ecpvr")", {"a.hex", "b.txt", "-p", "-cCOM2 +ecpvr"}},
      {R"(rakemo a.hex b.txt -p "")", {"a.hex", "b.txt", "-p"}},  // an empty quoted word gives none
      {R"(rakemo x"a b"y)", {"xa by"}},                           // quoted and unquoted pieces join
      {R"(rakemo "" a.hex "" "" b.txt)", {"a.hex", "b.txt"}},
      {R"(rakemo a.hex b.txt ")", {"a.hex", "b.txt"}},  // a lone last quote: an empty word ends them
      {R"(rakemo a.hex b.txt "" ")", {"a.hex", "b.txt"}},
      {R"(rakemo "my folder\a.hex" b.txt)", {"my folder\\a.hex", "b.txt"}},
      {R"("C:\Program Files\rakemo.exe" a.hex b.txt)", {"a.hex", "b.txt"}},  // the name is no parameter
      {R"("" rakemo a.hex)", {"a.hex"}},
      {R"(rakemo "a.hex)", {"a.hex"}},        // a stretch left open runs to the end
      {R"(rakemo "a b  c)", {"a b  c"}},
      {R"(rakemo a"b c)", {"ab c"}},
      {R"(rakemo "a""b")", {"ab"}},           // two stretches in one word
      {R"(rakemo a" " b)", {"a ", "b"}},
      {R"(rakemo " ")", {" "}},               // a blank in quotes is a word
      {"rakemo \t a.hex\x01" "b.txt\x20\x1F" "c", {"a.hex", "b.txt", "c"}},  // blanks are codes 1 to 32
      {"rakemo a\x00" "b \x81\xFF"sv, {"a\x00" "b"s, "\x81\xFF"}},             // 0x00 and high bytes are no blanks
      {"rakemo -h /P -help", {"-h", "/P", "-help"}},
      {"  rakemo  ", {}},
      {"rakemo", {}},
      {"", {}},
      {R"(rakemo """)", {}},  // an empty quoted word, then a lone last quote
  };
  for (const Case& c : kCases)
    EXPECT_EQ(SplitCommandLine(c.line), c.parameters) << testing::PrintToString(std::string(c.line));
}

TEST(SplitAtBlanks, Words) {
  struct Case {
    std::string_view text;
    Words words;
  };
  const Case kCases[] = {
      {"-cCOM2 +ecpvr", {"-cCOM2", "+ecpvr"}},
      {"  -cCOM2 \t\r\n +ecpvr  ", {"-cCOM2", "+ecpvr"}},
      {"\x01" "a\x1F" "b\x20" "c\x21", {"a", "b", "c\x21"}},
      {R"("a b" c)", {R"("a)", R"(b")", "c"}},  // quotes are taken literally
      {R"("")", {R"("")"}},
      {"a\x00" "b"sv, {"a\x00" "b"s}},
      {"", {}},
      {" \t ", {}},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(SplitAtBlanks(c.text), c.words) << testing::PrintToString(std::string(c.text));
}

TEST(Parameters, NumberedFromOne) {
  SetParameters({"a.hex", "b.txt", "-p"});
  EXPECT_EQ(ParameterCount(), 3);
  EXPECT_EQ(ParameterText(1), "a.hex");
  EXPECT_EQ(ParameterText(3), "-p");
  EXPECT_EQ(ParameterText(4), "");  // above the count: the empty text
  EXPECT_EQ(ParameterText(0), "");
  SetParameters({});
  EXPECT_EQ(ParameterCount(), 0);
  EXPECT_EQ(ParameterText(1), "");
}

TEST(HasSwitch, Parameters) {
  struct Case {
    Words parameters;
    char letter;
    bool found;
  };
  const Case kCases[] = {
      {{"-h"}, 'h', true},
      {{"/h"}, 'h', true},
      {{"-H"}, 'h', true},
      {{"/H"}, 'h', true},
      {{"-h"}, 'H', true},
      {{"-hx"}, 'h', false},
      {{"--h"}, 'h', false},
      {{"h"}, 'h', false},
      {{"-"}, 'h', false},
      {{"/"}, 'h', false},
      {{"-help"}, 'h', false},
      {{"\\h"}, 'h', false},
      {{" -h"}, 'h', false},  // parameters are not trimmed
      {{"-h "}, 'h', false},
      {{"-p"}, 'h', false},
      {{}, 'h', false},
      // Every parameter is looked at: the file names and the programmer's
      // parameter string too, wherever the switch stands.
      {{"-h", "b.txt"}, 'h', true},
      {{"a.hex", "/H"}, 'h', true},
      {{"a.hex", "b.txt", "-p", "-h"}, 'h', true},
      {{"a.hex", "b.txt", "-p", "-cCOM2 +ecpvr"}, 'p', true},
      {{"a.hex", "b.txt", "/P"}, 'p', true},
      {{"a.hex", "b.txt", "-p"}, 'h', false},
      {{"a.hex", "b.txt", "-cCOM2 -h"}, 'h', false},
  };
  for (const Case& c : kCases) {
    SetParameters(c.parameters);
    EXPECT_EQ(HasSwitch(c.letter), c.found) << testing::PrintToString(c.parameters) << " letter " << c.letter;
  }
  SetParameters({});
}

}  // namespace
