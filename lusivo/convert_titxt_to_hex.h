#pragma once

#include <string>
#include <string_view>

#include "shell/run.h"

// TI-TXT lines in, Intel HEX data records and one end record out, streaming.
void ConvertTiTxtToHex(LineFile& source, LineFile& output, ConversionStats& stats);

// The text without its space characters (code 32); tabs and all else stay.
std::string RemoveSpaces(std::string_view text);
// The two-digit Intel HEX checksum of a record text that begins with ":".
std::string RecordChecksum(std::string_view record);
