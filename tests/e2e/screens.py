"""The console texts of rakemo and lusivo, typed from their description.

Console texts are code page 850 bytes, failure messages Windows-1252 bytes;
every console line ends with CR LF. The functions here compose the whole
stdout of a run from those texts.
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


def console(*lines):
    """Console lines in code page 850, each with its CR LF."""
    return b"".join(line.encode("cp850") + CRLF for line in lines)


def _page(table):
    for text, length in table:
        assert len(text) == length, (text, length)
    return console(*(text for text, _ in table))


def banner(program):
    return console(TITLE[program], NOTICE, "")


def help_screen(program):
    if program == "rakemo":
        return banner(program) + rakemo_help_first_page() + rakemo_help_second_page()
    return banner(program) + _page(LUSIVO_HELP)


def rakemo_help_first_page():
    return _page(RAKEMO_HELP_FIRST_PAGE)


def rakemo_help_second_page():
    return _page(RAKEMO_HELP_SECOND_PAGE)


def _name(name):
    return name.encode("cp850") if isinstance(name, str) else name


def source_opened(source):
    return b"Quelldatei <" + _name(source) + b">" + CRLF


def output_created(output):
    return b"Ausgabedatei <" + _name(output) + b">" + CRLF


def files_opened(program, source, output):
    return banner(program) + source_opened(source) + output_created(output)


def statistic(bytes_converted, address_ranges):
    return console(
        "",
        "Statistik:",
        f"  {bytes_converted} Bytes konvertiert",
        f"  {address_ranges} Adressbereiche gefunden",
        "",
    )


def completed(program, source, output, bytes_converted, address_ranges):
    return files_opened(program, source, output) + statistic(bytes_converted, address_ranges)


def source_failed(program, source):
    return banner(program) + b'Fehler beim Laden der angegebenen Datei "' + _name(source) + b'"' + CRLF


def output_failed(program, source, output):
    return (banner(program) + source_opened(source) +
            b'Fehler beim Anlegen der Ausgabedatei "' + _name(output) + b'"' + CRLF)


# The fatal report carries the raise site as 8 hex digits; the driver
# masks them in what the program printed.
MASKED_ADDRESS = b"XXXXXXXX"


def fatal_report(module, kind, message):
    """ "Exception %s in Modul %s bei %p.\\n%s%s" and the console line end;
    the message is Windows-1252."""
    text = message.encode("cp1252")
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
