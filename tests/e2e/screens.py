"""The console texts of rakemo and lusivo, typed from their description.

Console texts are code page 850 bytes, failure messages Windows-1252 bytes;
on a terminal whose locale's character set is UTF-8 (utf8=True) both are
UTF-8. Every console line ends with CR LF. The functions here compose the
whole stdout of a run from those texts.
"""

CRLF = b"\r\n"
NOTICE = "Freie Software der rakemo- und lusivo-Entwickler, 2026"


def _title(text):
    assert len(text) == 51, text
    line = text + " " * 28
    assert len(line) == 79
    return line


TITLE = {
    "rakemo": _title("Intel HEX Format zu TI-TXT Konverter  (Version 1.0)"),
    "lusivo": _title("TI-TXT zu Intel HEX Format Konverter  (Version 1.0)"),
}

# Each help line with the length its description gives, so a typing slip
# shows at once.
RAKEMO_HELP_FIRST_PAGE = [
    ('RAKEMO <Quelldatei> <Ausgabedatei> [-h] [-p "MSP Programmer Parameter"]', 71),
    ("<Quelldatei> und <Ausgabedatei> müssen immer angegeben werden!", 62),
    ("", 0),
    ("Parameter:", 10),
    ("  -h        Zeigt diesen Hilfebildschirm", 40),
    ("  -p        Aktiviert den externen MSP430 Bootstrapprogrammer", 61),
    ("            Danach müssen die Parameter für den BSL Programmer", 62),
    ('            zwischen "" angeben werden!', 39),
    ("", 0),
    ("Parameter des BSL Programmers:", 30),
    ("[-h] [-c{Port}] [-p{Datei}] [-w] [-1] [-m{Zahl}] [+ecpvrw]", 58),
    ("", 0),
    ("  -h        Zeigt die Hilfe des Programmers.", 44),
    ("  -c{Port}  Legt den COM-Port fest (z.B. -cCOM2).", 49),
    ("  -p{Datei} Gibt eine TI-TXT Datei mit der Interrupttabelle, die als", 68),
    ("            Passwort benötigt wird, an (z.B. -pPW.TXT).", 55),
    ("  -w        Wartet auf <ENTER> vor Ende des Programms.", 54),
    ("  -1        Programmieren und Überprüfen wird in einem Schritt erledigt.", 72),
    ("  -m{Zahl}  Anzahl der Löschzyklen (z.B. -m20).", 47),
    ("", 0),
    (">> Weiter (Enter drücken!) <<", 29),
]
RAKEMO_HELP_SECOND_PAGE = [
    ("", 0),
    ("Programmablaufsteuerung [+ecpvrw]", 33),
    ("  e         Komplettlöschung", 28),
    ("  c         Überprüfen der Löschung mittels Datei {Datei}", 57),
    ("  p         Programmiere Datei {Datei}", 38),
    ("  v         Überprüfe Programmierung {Datei}", 44),
    ("  r         Setzt angeschlossenen MSP430 zurück. Startet Anwendung.", 67),
    ("  w         Wartet auf <ENTER> vor Programmende.", 48),
    ("Nur angegebene Optionen werden ausgeführt!", 42),
    ("", 0),
    ("Bei keiner Angabe wird +ecpvr verwendet.", 40),
    ("", 0),
]
LUSIVO_HELP = [
    ("LUSIVO <Quelldatei> <Ausgabedatei> [-h]", 39),
    ("<Quelldatei> und <Ausgabedatei> müssen immer angegeben werden!", 62),
    ("", 0),
    ("Parameter:", 10),
    ("  -h        Zeigt diesen Hilfebildschirm", 40),
]


def console(*lines, utf8=False):
    """Console lines in code page 850 (or UTF-8), each with its CR LF."""
    return b"".join(line.encode("utf-8" if utf8 else "cp850") + CRLF for line in lines)


def _page(table, utf8):
    for text, length in table:
        assert len(text) == length, (text, length)
    return console(*(text for text, _ in table), utf8=utf8)


def banner(program, utf8=False):
    return console(TITLE[program], NOTICE, "", utf8=utf8)


def help_screen(program, utf8=False):
    if program == "rakemo":
        return banner(program, utf8) + rakemo_help_first_page(utf8) + rakemo_help_second_page(utf8)
    return banner(program, utf8) + _page(LUSIVO_HELP, utf8)


def rakemo_help_first_page(utf8=False):
    return _page(RAKEMO_HELP_FIRST_PAGE, utf8)


def rakemo_help_second_page(utf8=False):
    return _page(RAKEMO_HELP_SECOND_PAGE, utf8)


def _name(name):
    return name.encode("cp850") if isinstance(name, str) else name


def source_opened(source):
    return b"Quelldatei <" + _name(source) + b">" + CRLF


def output_created(output):
    return b"Ausgabedatei <" + _name(output) + b">" + CRLF


def files_opened(program, source, output, utf8=False):
    return banner(program, utf8) + source_opened(source) + output_created(output)


def statistic(bytes_converted, address_ranges):
    return console(
        "",
        "Statistik:",
        f"  {bytes_converted} Bytes konvertiert",
        f"  {address_ranges} Adressbereiche gefunden",
        "",
    )


def completed(program, source, output, bytes_converted, address_ranges, utf8=False):
    return files_opened(program, source, output, utf8) + statistic(bytes_converted, address_ranges)


def source_failed(program, source, utf8=False):
    return banner(program, utf8) + b'Fehler beim Laden der angegebenen Datei "' + _name(source) + b'"' + CRLF


def output_failed(program, source, output, utf8=False):
    return (banner(program, utf8) + source_opened(source) +
            b'Fehler beim Anlegen der Ausgabedatei "' + _name(output) + b'"' + CRLF)


def hand_off(shown, message, utf8=False):
    """The hand-off's lines after a completed run: `shown` is what follows
    "BSLDEMO " (bytes as they stand), `message` the line of a failed start."""
    return (console("MSP430 BSL Programmer starten...") + b"BSLDEMO " + shown + CRLF +
            console("", message, "", ">> Nach Ende des Programmierens Enter drücken! <<", "", utf8=utf8))


# The fatal report carries the raise site as 8 hex digits; the driver
# masks them in what the program printed.
MASKED_ADDRESS = b"XXXXXXXX"


def fatal_report(module, kind, message, utf8=False):
    """ "Exception %s in Modul %s bei %p.\\n%s%s" and the console line end;
    the message is Windows-1252 (or UTF-8), or bytes as they stand."""
    text = message if isinstance(message, bytes) else message.encode("utf-8" if utf8 else "cp1252")
    if text and not text.endswith(b"."):
        text += b"."
    return (b"Exception " + kind.encode() + b" in Modul " + module.encode() +
            b" bei " + MASKED_ADDRESS + b".\n" + text + CRLF)


def not_an_integer(character):
    return f"'{character}' ist kein gültiger Integerwert"


def in_out_error(code):
    return {2: "Datei nicht gefunden", 3: "Ungültiger Dateiname",
            4: "Zu viele geöffnete Dateien", 5: "Dateizugriff verweigert"}.get(
                code, f"E/A-Fehler {code}")
