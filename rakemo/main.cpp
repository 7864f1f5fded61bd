// rakemo: converts an Intel HEX file into a TI-TXT file.
#include "rakemo/convert_hex_to_titxt.h"
#include "shell/texts.h"

namespace {

constexpr std::string_view kHelpFirstPage[] = {
    "RAKEMO <Quelldatei> <Ausgabedatei> [-h] [-p \"MSP Programmer Parameter\"]",
    texts::kMustGiveFiles,
    "",
    texts::kParameters,
    texts::kHelpSwitch,
    "  -p        Aktiviert den externen MSP430 Bootstrapprogrammer",
    "            Danach m\x81" "ssen die Parameter f\x81" "r den BSL Programmer",
    "            zwischen \"\" angeben werden!",
    "",
    "Parameter des BSL Programmers:",
    "[-h] [-c{Port}] [-p{Datei}] [-w] [-1] [-m{Zahl}] [+ecpvrw]",
    "",
    "  -h        Zeigt die Hilfe des Programmers.",
    "  -c{Port}  Legt den COM-Port fest (z.B. -cCOM2).",
    "  -p{Datei} Gibt eine TI-TXT Datei mit der Interrupttabelle, die als",
    "            Passwort ben\x94" "tigt wird, an (z.B. -pPW.TXT).",
    "  -w        Wartet auf <ENTER> vor Ende des Programms.",
    "  -1        Programmieren und \x9A" "berpr\x81" "fen wird in einem Schritt erledigt.",
    "  -m{Zahl}  Anzahl der L\x94" "schzyklen (z.B. -m20).",
    "",
    ">> Weiter (Enter dr\x81" "cken!) <<",
};

constexpr std::string_view kHelpSecondPage[] = {
    "",
    "Programmablaufsteuerung [+ecpvrw]",
    "  e         Komplettl\x94" "schung",
    "  c         \x9A" "berpr\x81" "fen der L\x94" "schung mittels Datei {Datei}",
    "  p         Programmiere Datei {Datei}",
    "  v         \x9A" "berpr\x81" "fe Programmierung {Datei}",
    "  r         Setzt angeschlossenen MSP430 zur\x81" "ck. Startet Anwendung.",
    "  w         Wartet auf <ENTER> vor Programmende.",
    "Nur angegebene Optionen werden ausgef\x81" "hrt!",
    "",
    "Bei keiner Angabe wird +ecpvr verwendet.",
    "",
};

constexpr ProgramProfile kRakemoProfile{
    "Intel HEX Format zu TI-TXT Konverter  (Version 1.0)                            ",
    kHelpFirstPage,
    kHelpSecondPage,
    ConvertHexToTiTxt,
};

}  // namespace

int main(int argc, char** argv) { return RunConverter(kRakemoProfile, argc, argv); }
