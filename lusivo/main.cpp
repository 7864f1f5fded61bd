// lusivo: converts a TI-TXT file into an Intel HEX file.
#include "lusivo/convert_titxt_to_hex.h"
#include "shell/texts.h"

namespace {

constexpr std::string_view kHelpScreen[] = {
    "LUSIVO <Quelldatei> <Ausgabedatei> [-h]",
    texts::kMustGiveFiles,
    "",
    texts::kParameters,
    texts::kHelpSwitch,
};

constexpr ProgramProfile kLusivoProfile{
    "TI-TXT zu Intel HEX Format Konverter  (Version 1.0)                            ",
    kHelpScreen,
    {},
    ConvertTiTxtToHex,
};

}  // namespace

int main(int argc, char** argv) { return RunConverter(kLusivoProfile, argc, argv); }
