// The UTF-8 forms of the code pages the programs' own texts are held in.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "shell/utf8.h"

namespace {

std::string FormOf(CodePage page, unsigned char byte) {
  char form[kLongestUtf8Form];
  return std::string(form, Utf8Form(page, byte, form));
}

// One UTF-8 sequence of 1 to 3 bytes, in its shortest form, and no
// surrogate.
bool IsOneUtf8Character(std::string_view form) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(form[i]); };
  const auto follows = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
  switch (form.size()) {
    case 1: return byte(0) < 0x80;
    case 2: return byte(0) >= 0xC2 && byte(0) <= 0xDF && follows(1);
    case 3: {
      if ((byte(0) & 0xF0) != 0xE0 || !follows(1) || !follows(2)) return false;
      const unsigned c = (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
      return c >= 0x800 && (c < 0xD800 || c > 0xDFFF);
    }
    default: return false;
  }
}

TEST(Utf8Form, LettersOfTheTexts) {
  struct Case {
    CodePage page;
    unsigned char byte;
    std::string_view form;
    const char* letter;
  };
  const Case kCases[] = {
      {CodePage::Cp850, 0x81, "\xC3\xBC", "u-umlaut"},
      {CodePage::Cp850, 0x94, "\xC3\xB6", "o-umlaut"},
      {CodePage::Cp850, 0x9A, "\xC3\x9C", "U-umlaut"},
      {CodePage::Cp850, 0x84, "\xC3\xA4", "a-umlaut"},
      {CodePage::Cp850, 0x8E, "\xC3\x84", "A-umlaut"},
      {CodePage::Cp850, 0x99, "\xC3\x96", "O-umlaut"},
      {CodePage::Cp850, 0xE1, "\xC3\x9F", "sharp s"},
      {CodePage::Cp850, 0xB0, "\xE2\x96\x91", "light shade, three bytes"},
      {CodePage::Cp850, 0xFF, "\xC2\xA0", "no-break space"},
      {CodePage::Windows1252, 0xFC, "\xC3\xBC", "u-umlaut"},
      {CodePage::Windows1252, 0xF6, "\xC3\xB6", "o-umlaut"},
      {CodePage::Windows1252, 0xDC, "\xC3\x9C", "U-umlaut"},
      {CodePage::Windows1252, 0xDF, "\xC3\x9F", "sharp s"},
      {CodePage::Windows1252, 0x80, "\xE2\x82\xAC", "euro sign, three bytes"},
      {CodePage::Windows1252, 0x9F, "\xC5\xB8", "Y-diaeresis"},
      {CodePage::Windows1252, 0x81, "\xC2\x81", "unassigned: the control character of that number"},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(FormOf(c.page, c.byte), c.form) << c.letter << " " << static_cast<int>(c.byte);
}

TEST(Utf8Form, EveryByteIsOneCharacterOfItsOwn) {
  for (const CodePage page : {CodePage::Cp850, CodePage::Windows1252}) {
    std::set<std::string> forms;
    for (int byte = 0; byte < 256; ++byte) {
      const std::string form = FormOf(page, static_cast<unsigned char>(byte));
      EXPECT_TRUE(IsOneUtf8Character(form)) << byte;
      if (byte < 0x80) {
        EXPECT_EQ(form, std::string(1, static_cast<char>(byte))) << "ASCII stays itself";
      }
      forms.insert(form);
    }
    EXPECT_EQ(forms.size(), 256u) << "two bytes with one form";
  }
}

}  // namespace
