#pragma once

#include "shell/run.h"

// Intel HEX records in, TI-TXT address, data and end lines out, streaming.
void ConvertHexToTiTxt(LineFile& source, LineFile& output, ConversionStats& stats);
