// vokt show RECORD [--html] [--all]: one record for a person to read, as
// plain text for a terminal or as one HTML page; the body read only up to
// PRAEFIX_HOECHSTENS bytes unless --all.  vokt show RECORD --part N -o FILE:
// the bytes of part N of a multipart body, whole, into FILE.  With --where
// FILTER, the newest record that FILTER matches; --redact masks secrets.
#include "anfrageansicht.h"
#include "aufzeichnungsdatei.h"
#include "befehle.h"
#include "meldung.h"
#include "multipart.h"
#include "schwaerzen.h"
#include "treffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

const char *const VERWENDUNG = "usage: vokt show RECORD [--html] [--all] [--redact]\n"
                               "       vokt show --where FILTER [DUMP | FOLDER] [--html] [--all] [--redact]\n"
                               "       vokt show RECORD --part N -o FILE\n\n"
                               "Shows one record of vokt.cgi for a person to read: the request line, the headers\n"
                               "with their names restored, the query's pairs, the body by its type (form pairs,\n"
                               "multipart parts, JSON, text, bytes in hex; its first 1 MiB) and notes on what\n"
                               "the server handed over oddly.  Every byte from the record is made safe.\n\n"
                               "  --html           one self-contained HTML page instead of plain text\n"
                               "  --all            the whole body (up to 256 MiB), not only its first 1 MiB\n"
                               "  --part N -o FILE the bytes of part N of a multipart body, whole and raw, into\n"
                               "                   FILE, a new file of mode 0600 (- for standard output)\n"
                               "  --redact         the values of Authorization, Proxy-Authorization, Cookie and\n"
                               "                   of headers and form fields named *token*, *secret*,\n"
                               "                   *password*, *key* or *signature* masked as '*', their\n"
                               "                   lengths kept\n"
                               "  --where FILTER   the newest record at DUMP | FOLDER (or the effective user's\n"
                               "                   dump) that FILTER matches (see vokt(1), FILTERS); none: exit 1\n";

// The largest body read whole, for --all and --part.
constexpr std::uint64_t GANZ_HOECHSTENS = std::uint64_t{256} << 20;

struct Wahl {
    const char *datei = nullptr;
    bool html = false;
    bool alles = false;
    std::size_t teil = 0; // --part N; 0: none
    const char *ausgabe = nullptr;
    const char *filter = nullptr; // --where FILTER
    bool geschwaerzt = false;     // --redact
};

// The options into w; false after a message (or the usage, *status 0).
bool optionen(int argc, char **argv, Wahl &w, int *status)
{
    *status = FEHLER;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        char *ende = nullptr;
        if (arg == "--help") {
            std::fputs(VERWENDUNG, stdout);
            *status = 0;
            return false;
        }
        if (arg == "--html") {
            w.html = true;
        } else if (arg == "--where" && i + 1 < argc && w.filter == nullptr) {
            w.filter = argv[++i];
        } else if (arg == "--redact") {
            w.geschwaerzt = true;
        } else if (arg == "--all") {
            w.alles = true;
        } else if (arg == "--part" && i + 1 < argc && (w.teil = std::strtoul(argv[i + 1], &ende, 10)) > 0 &&
                   *ende == '\0' && argv[i + 1][0] != '-') {
            ++i;
        } else if (arg == "-o" && i + 1 < argc) {
            w.ausgabe = argv[++i];
        } else if (arg.starts_with("-") || w.datei != nullptr) {
            meldung("show: unexpected argument %s (vokt show --help tells the usage)", dateiname(arg).c_str());
            return false;
        } else {
            w.datei = argv[i];
        }
    }
    if ((w.datei == nullptr && w.filter == nullptr) || (w.teil > 0) != (w.ausgabe != nullptr)) {
        meldung("show: %s (usage: vokt show RECORD [--html] [--all], vokt show RECORD --part N -o FILE)",
                w.datei == nullptr && w.filter == nullptr ? "which record?" : "--part N and -o FILE go together");
        return false;
    }
    return true;
}

// The newest record at ort that the filter matches; 0, or the exit status
// after a message.
int neuester_treffer(const char *text, const char *ort, std::string *pfad)
{
    Filter filter;
    std::vector<Fund> funde;
    if (!filter_uebersetzen("show", text, &filter))
        return FEHLER;
    int status = treffer("show", ort, filter, &funde);
    if (status == 0)
        *pfad = funde.back().pfad;
    return status;
}

// The record and as much of its body as w asks for; false after a message.
bool lesen(const Wahl &w, Aufzeichnung &a, std::string *inhalt)
{
    int fd = laden(w.datei, a);
    if (fd < 0)
        return false;
    bool ganz = w.alles || w.teil > 0;
    if (ganz && a.inhaltlaenge() > GANZ_HOECHSTENS) {
        meldung("%s: the body has %llu bytes, more than the %llu MiB read whole", dateiname(w.datei).c_str(),
                static_cast<unsigned long long>(a.inhaltlaenge()),
                static_cast<unsigned long long>(GANZ_HOECHSTENS >> 20));
        close(fd);
        return false;
    }
    bool gelesen = inhalt_holen(fd, a, inhalt, ganz ? GANZ_HOECHSTENS : PRAEFIX_HOECHSTENS);
    int fehler = errno;
    close(fd);
    if (!gelesen)
        meldung("%s: reading the body: %s", dateiname(w.datei).c_str(), std::strerror(fehler));
    return gelesen;
}

// The bytes into pfad, a new file (never one that is there), or to
// standard output for "-"; false after a message.
bool ausgeben(const char *pfad, std::string_view bytes)
{
    bool stdaus = std::strcmp(pfad, "-") == 0;
    int fd = stdaus ? STDOUT_FILENO : open(pfad, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        meldung("%s: cannot make the file: %s", dateiname(pfad).c_str(), std::strerror(errno));
        return false;
    }
    bool ok = alles_schreiben(fd, bytes.data(), bytes.size());
    int fehler = errno;
    if (!stdaus && close(fd) != 0 && ok) {
        ok = false;
        fehler = errno;
    }
    if (!ok) {
        meldung("%s: writing: %s", dateiname(pfad).c_str(), std::strerror(fehler));
        if (!stdaus)
            unlink(pfad);
    }
    return ok;
}

// --part N -o FILE: part N's bytes as the record holds them.
int teil_schreiben(const Wahl &w, const Aufzeichnung &a, std::string_view inhalt)
{
    std::string_view ct = a.wert("CONTENT_TYPE").value_or("");
    if (!medientyp(ct).starts_with("multipart/")) {
        meldung("%s: the body is no multipart body (CONTENT_TYPE \"%s\")", dateiname(w.datei).c_str(),
                sichtbar(ct).c_str());
        return FEHLER;
    }
    Multipart m = multipart_zerlegen(inhalt, parameter(ct, "boundary").value_or(""));
    if (w.teil > m.teile.size()) {
        meldung("%s: the body has %zu parts, no part %zu%s%s", dateiname(w.datei).c_str(), m.teile.size(), w.teil,
                m.fehler.empty() ? "" : ": ", sichtbar(m.fehler).c_str());
        return FEHLER;
    }
    if (!ausgeben(w.ausgabe, m.teile[w.teil - 1].inhalt))
        return FEHLER;
    if (m.abgeschnitten == w.teil && m.am_ende)
        meldung("%s: part %zu does not end in the record: its bytes up to the body's end are written",
                dateiname(w.datei).c_str(), w.teil);
    return 0;
}

// The view of the record a with the body bytes inhalt on standard output,
// masked with geschwaerzt; false after a message.
bool ansicht_ausgeben(const Aufzeichnung &a, std::string inhalt, bool html, bool geschwaerzt)
{
    Aufzeichnung b;
    int kopie = geschwaerzt ? schwaerzen(a, &inhalt, b) : -2;
    if (kopie == -1)
        return false;
    if (kopie >= 0)
        close(kopie);
    Ansicht v = anfrage_ansicht(geschwaerzt ? b : a, inhalt);
    std::string aus = html ? als_html(v) : als_text(v);
    if (!alles_schreiben(STDOUT_FILENO, aus.data(), aus.size())) {
        meldung("show: writing: %s", std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int befehl_show(int argc, char **argv)
{
    Wahl w;
    int status = 0;
    if (!optionen(argc, argv, w, &status))
        return status;
    std::string neuester;
    if (w.filter != nullptr) {
        if ((status = neuester_treffer(w.filter, w.datei, &neuester)) != 0)
            return status;
        w.datei = neuester.c_str();
    }
    Aufzeichnung a;
    std::string inhalt;
    if (!lesen(w, a, &inhalt))
        return FEHLER;
    if (w.teil > 0)
        return teil_schreiben(w, a, inhalt);
    return ansicht_ausgeben(a, inhalt, w.html, w.geschwaerzt) ? 0 : FEHLER;
}

bool zeigen(const char *datei, int fd, const Aufzeichnung &a, bool html, bool geschwaerzt)
{
    std::string praefix;
    if (!inhalt_holen(fd, a, &praefix, PRAEFIX_HOECHSTENS)) {
        meldung("%s: reading the body: %s", dateiname(datei).c_str(), std::strerror(errno));
        return false;
    }
    return ansicht_ausgeben(a, praefix, html, geschwaerzt);
}
