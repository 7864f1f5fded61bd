// Every console text and failure message of both programs, byte for byte.
// Console texts are code page 850 (0x81 u-umlaut, 0x94 o-umlaut,
// 0x9A U-umlaut, 0x84 a-umlaut); failure messages are Windows-1252
// (0xFC u-umlaut, 0xF6 o-umlaut). A console that takes UTF-8 gets them in
// UTF-8, translated on their way out (text.h). A literal is split after
// each escape so that a following hex letter does not join it.
#pragma once

namespace texts {

// Banner and run
inline constexpr char kNotice[] = "Freie Software der rakemo- und lusivo-Entwickler, 2026";
inline constexpr char kSourceOpened[] = "Quelldatei <";
inline constexpr char kOutputCreated[] = "Ausgabedatei <";
inline constexpr char kSourceFailed[] = "Fehler beim Laden der angegebenen Datei \"";
inline constexpr char kOutputFailed[] = "Fehler beim Anlegen der Ausgabedatei \"";
inline constexpr char kStatistic[] = "Statistik:";
inline constexpr char kBytesConverted[] = " Bytes konvertiert";
inline constexpr char kAddressRanges[] = " Adressbereiche gefunden";

// Help screens: lines shared by both programs
inline constexpr char kMustGiveFiles[] =
    "<Quelldatei> und <Ausgabedatei> m\x81" "ssen immer angegeben werden!";
inline constexpr char kParameters[] = "Parameter:";
inline constexpr char kHelpSwitch[] = "  -h        Zeigt diesen Hilfebildschirm";

// Failure messages (Windows-1252)
inline constexpr char kNotAnInteger[] = "' ist kein g\xFC" "ltiger Integerwert";
inline constexpr char kFileNotFound[] = "Datei nicht gefunden";
inline constexpr char kInvalidFileName[] = "Ung\xFC" "ltiger Dateiname";
inline constexpr char kTooManyOpenFiles[] = "Zu viele ge\xF6" "ffnete Dateien";
inline constexpr char kAccessDenied[] = "Dateizugriff verweigert";
inline constexpr char kInOutError[] = "E/A-Fehler ";
inline constexpr char kOutOfMemory[] = "Zu wenig Arbeitsspeicher";

// Hand-off to the programmer
inline constexpr char kProgrammerStarting[] = "MSP430 BSL Programmer starten...";
inline constexpr char kProgrammerShown[] = "BSLDEMO ";
inline constexpr char kProgrammerName[] = "bsldemo";
inline constexpr char kNotExecutable[] = "Nichtausfuehrbare Datei!";
inline constexpr char kProgrammerNotFound[] = "BSLDEMO.EXE nicht gefunden!";
inline constexpr char kFolderNotFound[] = "Verzeichnis nicht gefunden!";
inline constexpr char kPressEnterAfter[] =
    ">> Nach Ende des Programmierens Enter dr\x81" "cken! <<";

}  // namespace texts
