// The UTF-8 forms of the two code pages the programs' own texts are held
// in, for a console that takes UTF-8.
#pragma once

#include <cstddef>

enum class CodePage { Cp850, Windows1252 };

// The longest UTF-8 form of a byte of either code page.
inline constexpr std::size_t kLongestUtf8Form = 3;

// Writes the UTF-8 form of one byte of that code page into form and gives
// its length, 1 to kLongestUtf8Form; a byte below 0x80 is its own form.
std::size_t Utf8Form(CodePage page, unsigned char byte, char* form);
