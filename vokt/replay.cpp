// vokt replay, curl, send and body: a record run through a CGI program,
// sent again as a curl command or with libcurl (send.h), its body written
// out; replay, curl and send with edits (aendern.h), made on a copy of the
// record in an unnamed file.
#include "aendern.h"
#include "anfrage.h"
#include "antwort.h"
#include "aufzeichnungsdatei.h"
#include "aufzeichnungszeit.h"
#include "befehle.h"
#include "curl.h"
#include "lauf.h"
#include "meldung.h"
#include "schnappschussordner.h"
#include "schwaerzen.h"
#include "send.h"
#include "treffer.h"
#include "woerter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vokt::intern;

namespace {

const char REPLAY_USAGE[] =
    "usage: vokt replay RECORD [EDIT]... [--keep NAME]... [--keep-all] [--keep-loader-variables]\n"
    "                   [CHECK]... [--] PROGRAM [ARG...]\n"
    "\n"
    "Runs PROGRAM as a web server would have run it for the request recorded in\n"
    "RECORD: the recorded entries are its environment, the recorded body is its\n"
    "standard input.  Only the variables a web server sets for a CGI program are\n"
    "passed; --keep NAME, --keep-all and --keep-loader-variables pass others (as\n"
    "vokt-replay does).  Its output and standard error pass through; when it\n"
    "ends, a summary on standard error: its exit status, whether its output\n"
    "starts with a valid CGI response (a Content-Type, Location or Status header,\n"
    "\"Name: value\" lines, an empty line after them; LF or CRLF), its Status, and\n"
    "the bytes it wrote to standard error.  The exit status is the program's\n"
    "(128 + N when signal N ended it), 2 when it could not be run.\n"
    "\n"
    "EDIT, applied in the order given, to a copy (RECORD stays as it is):\n"
    "  --set NAME=VALUE  the entry NAME gets VALUE (added when there is none)\n"
    "  --unset NAME      every entry NAME is left out\n"
    "  --body-file FILE  the body is FILE's content (FILE is read, never written;\n"
    "                    a pipe such as /dev/stdin too), and CONTENT_LENGTH is its\n"
    "                    length unless --set or --unset names CONTENT_LENGTH\n"
    "\n"
    "vokt replay --where FILTER [DUMP | FOLDER] [EDIT]... [--keep...] [CHECK]... -- PROGRAM [ARG...]\n"
    "runs PROGRAM on every record that FILTER matches (see vokt(1), FILTERS), oldest\n"
    "first, its output counted, not shown, and prints one line for each: the\n"
    "record's time, its target, the exit status and the response check.  Exit\n"
    "status 1 when a check failed or a program did not exit 0, 1 when nothing\n"
    "matched, 2 when it could not be run.\n"
    "\n"
    "CHECK, before PROGRAM, for one RECORD or with --where: the output is kept (up\n"
    "to 16 MiB; more fails the record) as the response a web server makes of it\n"
    "(status, header lines, body), not shown, and checked; one line for each\n"
    "record: its time, its target, the exit status, the verdict, then one line\n"
    "for each failed expectation.  Exit status 1 when a snapshot differs, an\n"
    "expectation fails, the response check failed or a program did not exit 0.\n";

const char CURL_USAGE[] = "usage: vokt curl RECORD [--url BASE] [--redact] [EDIT]...\n"
                          "\n"
                          "Prints one shell command that sends the request recorded in RECORD again\n"
                          "with curl, to BASE (scheme://host:port) or to the recorded host, as\n"
                          "vokt-replay --curl does: every byte from the record is quoted for the\n"
                          "shell, a header whose value holds a line break or another control byte is\n"
                          "left out with a note.  A body of up to 64 KiB is part of the command.\n"
                          "\n"
                          "EDIT, applied in the order given:\n"
                          "  --set NAME=VALUE  the entry NAME gets VALUE (added when there is none):\n"
                          "                    --set HTTP_COOKIE=a=1 sends \"Cookie: a=1\",\n"
                          "                    --set REQUEST_METHOD=PUT the method PUT\n"
                          "  --unset NAME      every entry NAME is left out (--unset HTTP_COOKIE)\n"
                          "  --body-file FILE  send FILE, a regular file of any size, instead of the\n"
                          "                    recorded body: the command names it by its full path and\n"
                          "                    reads it when it runs.  FILE is read, never written\n"
                          "                    (vokt-replay --curl --body-file FILE writes the recorded\n"
                          "                    body to FILE; here 'vokt body RECORD >FILE' does that).\n"
                          "\n"
                          "--redact masks the values of Authorization, Proxy-Authorization, Cookie and\n"
                          "of headers and form fields named *token*, *secret*, *password*, *key* or\n"
                          "*signature* as '*', their lengths kept (a --body-file is sent as it is).\n";

const char BODY_USAGE[] = "usage: vokt body RECORD\n"
                          "       vokt body --where FILTER [DUMP | FOLDER]\n"
                          "\n"
                          "Writes the body recorded in RECORD, raw, to standard output.  With --where,\n"
                          "the bodies of every record at DUMP | FOLDER (or the effective user's dump)\n"
                          "that FILTER matches (see vokt(1), FILTERS), oldest first, one after the\n"
                          "other as cat(1) would; none: exit status 1.\n";

enum class Art { REPLAY, CURL, SEND };

struct Aufruf {
    Art art = Art::REPLAY;
    bool hilfe = false;
    const char *datei = nullptr;        // RECORD
    const char *inhaltsdatei = nullptr; // --body-file
    const char *url = nullptr;          // --url (curl, send)
    bool unsicher = false;              // --insecure (send)
    const char *zertifikate = nullptr;  // --cacert (send)
    const char *filter = nullptr;       // --where (replay over many records)
    bool geschwaerzt = false;           // --redact (curl)
    Aenderungen ae;                     // --set, --unset (the new body's length comes later)
    Laufwahl lauf;                      // PROGRAM, --keep...
    Schnappschusswahl pruefung;         // --snapshot, --expect-... (replay)
};

// The argument of the option at argv[i]; null, with a message, when none follows.
const char *argument(int argc, char **argv, int &i, const char *was)
{
    if (i + 1 >= argc) {
        meldung("%s needs %s", sichtbar(argv[i]).c_str(), was);
        return nullptr;
    }
    return argv[++i];
}

// --set NAME=VALUE or --unset NAME, whose argument is w.
bool aenderung(Aufruf &auf, std::string_view o, const char *w)
{
    std::string_view text = w;
    std::size_t gleich = text.find('=');
    bool setzen = o == "--set";
    if (gleich == 0 || text.empty() || setzen == (gleich == std::string_view::npos)) {
        meldung("%s needs %s, not \"%s\"", o.data(), setzen ? "NAME=VALUE" : "a NAME without '='",
                sichtbar(text).c_str());
        return false;
    }
    if (setzen)
        auf.ae.schritte.push_back({text.substr(0, gleich), text.substr(gleich + 1)});
    else
        auf.ae.schritte.push_back({text, std::nullopt});
    return true;
}

bool laufoption(Aufruf &auf, std::string_view o, int argc, char **argv, int &i)
{
    if (o == "--keep-all" || o == "--keep-loader-variables") {
        (o == "--keep-all" ? auf.lauf.alle_behalten : auf.lauf.lader_behalten) = true;
        return true;
    }
    const char *name = argument(argc, argv, i, "a NAME");
    if (name != nullptr)
        auf.lauf.behalten.emplace_back(name);
    return name != nullptr;
}

// --insecure, --cacert FILE; --redact, which send refuses.
bool sendeoption(Aufruf &auf, std::string_view o, int argc, char **argv, int &i)
{
    if (o == "--redact") {
        meldung("--redact is not for vokt send: it sends the recorded values as they are");
        return false;
    }
    if (o == "--insecure") {
        auf.unsicher = true;
        return true;
    }
    auf.zertifikate = argument(argc, argv, i, "a FILE of certificates (PEM)");
    return auf.zertifikate != nullptr;
}

bool option(Aufruf &auf, int argc, char **argv, int &i)
{
    std::string_view o = argv[i];
    if (o == "--help") {
        auf.hilfe = true;
        return true;
    }
    if (o == "--redact" && auf.art == Art::CURL) {
        auf.geschwaerzt = true;
        return true;
    }
    if (auf.art == Art::SEND && (o == "--insecure" || o == "--cacert" || o == "--redact"))
        return sendeoption(auf, o, argc, argv, i);
    if (o == "--where" && auf.art != Art::CURL) {
        auf.filter = argument(argc, argv, i, "a FILTER");
        return auf.filter != nullptr;
    }
    if (o == "--set" || o == "--unset") {
        const char *w = argument(argc, argv, i, o == "--set" ? "NAME=VALUE" : "a NAME");
        return w != nullptr && aenderung(auf, o, w);
    }
    if (o == "--body-file" || (o == "--url" && auf.art != Art::REPLAY)) {
        const char *w = argument(argc, argv, i, o == "--url" ? "a BASE (scheme://host:port)" : "a FILE");
        (o == "--url" ? auf.url : auf.inhaltsdatei) = w;
        return w != nullptr;
    }
    bool behalten = o == "--keep" || o == "--keep-all" || o == "--keep-loader-variables";
    if (auf.art == Art::REPLAY && behalten)
        return laufoption(auf, o, argc, argv, i);
    int pruefung = auf.art != Art::CURL ? schnappschussoption(auf.pruefung, argc, argv, i) : -1;
    if (pruefung >= 0)
        return pruefung == 1;
    if (behalten || o == "--url")
        meldung("%s belongs to vokt %s", sichtbar(argv[i]).c_str(), behalten ? "replay" : "curl");
    else
        meldung("unknown option %s (--help shows the usage)", sichtbar(argv[i]).c_str());
    return false;
}

// Options stand before PROGRAM; everything from PROGRAM on is its own.
bool argumente(Aufruf &auf, int argc, char **argv)
{
    int i = vor_programm(
        argc, argv, auf.datei, [&](int &j) { return option(auf, argc, argv, j); }, &auf.hilfe);
    if (i < 0)
        return false;
    if (auf.hilfe)
        return true;
    if (i < argc && auf.art != Art::REPLAY) {
        meldung("unexpected argument %s", dateiname(argv[i]).c_str());
        return false;
    }
    if (i < argc)
        auf.lauf.programm = argv + i;
    if (auf.datei == nullptr)
        meldung("no RECORD given (--help shows the usage)");
    else if (auf.art == Art::REPLAY && auf.lauf.programm == nullptr)
        meldung("%s: no PROGRAM given to run", dateiname(auf.datei).c_str());
    return auf.datei != nullptr && (auf.art != Art::REPLAY || auf.lauf.programm != nullptr);
}

// ---- the edited copy ---------------------------------------------------------

// n bytes of the regular file von from offset ab, appended to nach.
bool uebertragen(int von, std::uint64_t ab, std::uint64_t n, int nach)
{
    auto pos = static_cast<off_t>(ab);
    while (n > 0) {
        ssize_t k = sendfile(nach, von, &pos, static_cast<std::size_t>(std::min<std::uint64_t>(n, 1 << 30)));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            errno = k == 0 ? ENODATA : errno;
            return false;
        }
        n -= static_cast<std::uint64_t>(k);
    }
    return true;
}

// A pipe's content, to its end, in an unnamed file; -1 with errno set.
int aus_rohr(int rohr)
{
    int fd = unbenannte_datei();
    static char puffer[64 * 1024];
    ssize_t n;
    while (fd >= 0 && ((n = read(rohr, puffer, sizeof puffer)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0 && !alles_schreiben(fd, puffer, static_cast<std::size_t>(n))) {
            close(fd);
            fd = -1;
        }
    return fd;
}

// Waits until the FIFO fd has a byte or a writer came and went, then makes
// it blocking: from here a read of 0 is its end.  (A FIFO opened without
// waiting reads as ended as long as no writer came.)
bool auf_schreiber_warten(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, -1)) < 0 && errno == EINTR) {
    }
    int flags = r > 0 ? fcntl(fd, F_GETFL) : -1;
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// The --body-file, as a regular file (a pipe's content copied into one
// when a pipe is allowed), and its size; -1 after a message.  It is opened
// once, without waiting: a FIFO is no regular file, and a writer that
// waits in open() already must find its reader kept.
int inhalt_oeffnen(const char *pfad, bool rohr_erlaubt, std::uint64_t *groesse)
{
    int fd = open(pfad, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) && rohr_erlaubt) {
        int rohr = fd;
        fd = auf_schreiber_warten(rohr) ? aus_rohr(rohr) : -1;
        int fehler = errno;
        close(rohr);
        errno = fehler;
    }
    if (fd < 0 || fstat(fd, &st) != 0) {
        meldung("%s: %s", dateiname(pfad).c_str(), std::strerror(errno));
    } else if (!S_ISREG(st.st_mode)) {
        meldung("%s: %s", dateiname(pfad).c_str(),
                rohr_erlaubt ? "not a regular file or a pipe" : "not a regular file (the command reads it)");
    } else {
        *groesse = static_cast<std::uint64_t>(st.st_size);
        return fd;
    }
    if (fd >= 0)
        close(fd);
    return -1;
}

// The record with the edits, written to an unnamed file and read from
// there into b; the file's descriptor, -1 after a message.
int bearbeiten(Aufruf &auf, int quelle, const Aufzeichnung &a, Aufzeichnung &b)
{
    int inhalt = quelle;
    std::uint64_t ab = a.inhalt_ab(), laenge = a.inhaltlaenge();
    if (auf.inhaltsdatei != nullptr) {
        inhalt = inhalt_oeffnen(auf.inhaltsdatei, auf.art != Art::CURL, &laenge);
        if (inhalt < 0)
            return -1;
        ab = 0;
        auf.ae.neuer_inhalt = laenge;
    }
    bool neu = auf.ae.neuer_inhalt.has_value();
    std::string kopf = kopfteil(aendern(a.eintraege(), auf.ae), a.mit_laenge() || neu,
                                neu ? static_cast<long long>(laenge) : a.angesagt());
    int fd = unbenannte_datei();
    bool ok = fd >= 0 && alles_schreiben(fd, kopf.data(), kopf.size()) && uebertragen(inhalt, ab, laenge, fd);
    int fehler = errno;
    if (inhalt != quelle)
        close(inhalt);
    if (ok && b.kopf_lesen(fd, kopf.size() + laenge) == Aufzeichnung::GELESEN)
        return fd;
    meldung("%s: cannot make the edited copy: %s", dateiname(auf.datei).c_str(),
            ok ? "too large" : std::strerror(fehler));
    if (fd >= 0)
        close(fd);
    return -1;
}

// The record as it is used: the one read (*quelle its file), or, with
// edits, the edited copy in b (*quelle then its file).  Null after a
// message.
const Aufzeichnung *vorbereiten(Aufruf &auf, int *quelle, Aufzeichnung &a, Aufzeichnung &b)
{
    *quelle = laden(auf.datei, a);
    if (*quelle < 0)
        return nullptr;
    if (auf.ae.leer() && auf.inhaltsdatei == nullptr)
        return &a;
    int kopie = bearbeiten(auf, *quelle, a, b);
    close(*quelle);
    *quelle = kopie;
    return kopie >= 0 ? &b : nullptr;
}

// ---- replay ------------------------------------------------------------------

void zusammenfassen(const char *programm, int status, const Mitschnitt &m)
{
    std::string p = sichtbar(programm);
    if (m.fehlerende != '\n')
        std::fputc('\n', stderr); // the program's last line ends before ours
    if (m.signal != 0)
        meldung("%s: ended by signal %d (%s), exit status %d", p.c_str(), m.signal, strsignal(m.signal), status);
    else
        meldung("%s: exit status %d", p.c_str(), status);
    Urteil u = antwort_pruefen(m.anfang, m.ausgabe <= m.anfang.size());
    meldung("%s: %s, %llu bytes of output", p.c_str(), urteil_text(u).c_str(),
            static_cast<unsigned long long>(m.ausgabe));
    meldung("%s: %llu bytes on standard error", p.c_str(), static_cast<unsigned long long>(m.fehlerausgabe));
}

// ---- replay over many records ------------------------------------------------

// The words of replay --where: options and at most one DUMP | FOLDER
// before "--", PROGRAM after it (send --where: no "--", no PROGRAM);
// false after a message.
bool viele_argumente(Aufruf &auf, int argc, char **argv)
{
    int ende = 1;
    while (ende < argc && std::strcmp(argv[ende], "--") != 0)
        ++ende;
    for (int i = 1; i < ende; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            if (!option(auf, ende, argv, i))
                return false;
        } else if (auf.datei == nullptr) {
            auf.datei = argv[i];
        } else {
            meldung("unexpected argument %s (--where takes one DUMP | FOLDER%s)", sichtbar(argv[i]).c_str(),
                    auf.art == Art::REPLAY ? ", then -- PROGRAM" : "");
            return false;
        }
    }
    if (auf.art != Art::REPLAY) {
        if (ende < argc)
            meldung("send --where takes no PROGRAM");
        return ende >= argc;
    }
    if (ende + 1 >= argc) {
        meldung("replay --where needs -- PROGRAM after the options");
        return false;
    }
    auf.lauf.programm = argv + ende + 1;
    return true;
}

// What a record's run gave: 0 passed, 1 failed, FEHLER when the program
// or a snapshot could not be run, read or written (after a message).
constexpr int BESTANDEN = 0, DURCHGEFALLEN = 1;

// The checks that --snapshot and --expect-... ask of the program's
// output m: the record's line (vorne its time and target, then the exit
// status) with the verdict, then one line for each failed expectation.
int pruefe_antwort(const Aufruf &auf, const Fund &f, const Antwort &a, std::string zeile, const std::string &urteil,
                   const std::string &vorne);

int pruefen(const Aufruf &auf, const Fund &f, const Mitschnitt &m, const Urteil &u, const std::string &vorne,
            int status)
{
    std::string zeile = vorne + "  exit " + std::to_string(status);
    if (m.ausgabe > SCHNAPPSCHUSS_HOECHSTENS) {
        std::printf("%s  too large: %llu bytes of output, more than the 16 MiB a response is checked in\n",
                    zeile.c_str(), static_cast<unsigned long long>(m.ausgabe));
        return DURCHGEFALLEN;
    }
    bool urteil = auf.pruefung.ordner == nullptr || !u.gueltig;
    return pruefe_antwort(auf, f, cgi_antwort(m.anfang), zeile, urteil ? urteil_text(u) : "", vorne);
}

// The checks of the response a: the record's line zeile with the
// snapshot's word and the verdict urteil (when not empty), then one line
// for each failed expectation (vorne: the record's time and target).
int pruefe_antwort(const Aufruf &auf, const Fund &f, const Antwort &a, std::string zeile, const std::string &urteil,
                   const std::string &vorne)
{
    const Schnappschusswahl &w = auf.pruefung;
    bool gleich = true;
    if (w.ordner != nullptr) {
        Abgleich g = abgleichen(a, schnappschussname(f.pfad), w);
        if (g.art == Abgleich::FEHLER)
            return FEHLER;
        zeile += "  " + g.text;
        gleich = g.art != Abgleich::ANDERS;
    }
    if (!urteil.empty())
        zeile += "  " + urteil;
    std::printf("%s\n", zeile.c_str());
    std::vector<std::string> verfehlt = erwartung_verfehlt(a, w.erwartung);
    for (const std::string &v : verfehlt)
        std::printf("%s  %s\n", vorne.c_str(), v.c_str());
    return gleich && verfehlt.empty() ? BESTANDEN : DURCHGEFALLEN;
}

Sendewahl sendewahl(const Aufruf &auf);

// The time and target of the record a at the front of its line.
std::string zeilenanfang(const Fund &f, const Aufzeichnung &a)
{
    std::string ziel = anfrageziel(a);
    return iso8601(f.zeit, 6) + "  " + (ziel.empty() ? "-" : sichtbar(ziel, 200));
}

// One record sent (b, the copy with the edits, of a) and its response
// checked: its line (time, target, the response's status, the
// snapshot's word), then the failed expectations; a record that got no
// whole response fails after a message.
int ein_versand(const Aufruf &auf, const Fund &f, const Aufzeichnung &a, const Aufzeichnung &b, int quelle)
{
    Sendewahl w = sendewahl(auf);
    w.datei = f.pfad.c_str();
    w.still = true;
    HttpAntwort h;
    int status = senden(w, quelle, a, b, &h);
    close(quelle);
    std::string vorne = zeilenanfang(f, b); // the target as sent
    if (status != 0) {
        std::printf("%s  no whole response\n", vorne.c_str());
        std::fflush(stdout);
        return DURCHGEFALLEN;
    }
    // How the body came (chunked or with a length, which a server such as
    // Apache chooses by timing) and the connection's fate are the
    // transfer's, not the response's: the body is compared whole.
    Antwort r{h.status, h.koepfe, h.inhalt};
    koepfe_weglassen(r, {"Connection", "Keep-Alive", "Transfer-Encoding", "Content-Length"});
    int erg = pruefe_antwort(auf, f, r, vorne + "  status " + std::to_string(h.status), "", vorne);
    std::fflush(stdout);
    return erg;
}

// One record run, its line printed (with the checks that the options ask
// for); BESTANDEN, DURCHGEFALLEN or FEHLER, and `unbrauchbar` when the
// record or its edits cannot be used (after a message).
int einen_lauf(Aufruf &auf, const Fund &f, int unbrauchbar = DURCHGEFALLEN)
{
    auf.datei = f.pfad.c_str();
    Aufzeichnung a, b;
    int quelle = -1;
    const Aufzeichnung *r = vorbereiten(auf, &quelle, a, b);
    if (r == nullptr)
        return unbrauchbar;
    if (auf.art == Art::SEND)
        return ein_versand(auf, f, a, *r, quelle);
    bool pruefung = auf.pruefung.gefragt();
    Mitschnitt m;
    m.anfang_hoechstens = pruefung ? SCHNAPPSCHUSS_HOECHSTENS + 1 : ANFANG_HOECHSTENS;
    m.weitergeben = false;
    auf.lauf.mitschnitt = &m;
    auf.lauf.urschrift = &a;
    int status = laufen(auf.lauf, auf.datei, quelle, *r);
    close(quelle);
    if (!m.gelaufen)
        return FEHLER;
    std::string_view anfang = std::string_view(m.anfang).substr(0, ANFANG_HOECHSTENS);
    Urteil u = antwort_pruefen(anfang, m.ausgabe <= anfang.size());
    std::string vorne = zeilenanfang(f, a);
    int erg = BESTANDEN;
    if (pruefung)
        erg = pruefen(auf, f, m, u, vorne, status);
    else
        std::printf("%s  exit %d  %s\n", vorne.c_str(), status, urteil_text(u).c_str());
    std::fflush(stdout);
    return erg == BESTANDEN && !(u.gueltig && status == 0) ? DURCHGEFALLEN : erg;
}

int viele_laeufe(int argc, char **argv, Art art)
{
    Aufruf auf;
    auf.art = art;
    Filter filter;
    const char *befehl = art == Art::SEND ? "send" : "replay";
    if (!viele_argumente(auf, argc, argv) || !schnappschusswahl_pruefen(auf.pruefung) ||
        !filter_uebersetzen(befehl, auf.filter, &filter) || (art == Art::SEND && !sendewahl_pruefen(sendewahl(auf))))
        return FEHLER;
    std::vector<Fund> funde;
    int erg = treffer(befehl, auf.datei, filter, &funde);
    for (std::size_t i = 0; i < funde.size() && erg != FEHLER; ++i) {
        int e = einen_lauf(auf, funde[i]);
        erg = e != BESTANDEN ? e : erg;
    }
    return erg;
}

// One RECORD checked as --snapshot and --expect-... ask: as one record of
// --where.
int einen_pruefen(Aufruf &auf)
{
    Aufzeichnung a;
    int fd = laden(auf.datei, a);
    if (fd < 0)
        return FEHLER;
    std::string_view pfad = auf.datei;
    Fund f{auf.datei, std::string(pfad.substr(pfad.rfind('/') + 1)), aufzeichnungszeit(auf.datei, fd)};
    close(fd);
    return einen_lauf(auf, f, FEHLER);
}

// Whether replay's words hold --where before "--".
bool ueber_viele(int argc, char **argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--where") == 0)
            return true;
    return false;
}

// ---- curl --------------------------------------------------------------------

// Why no command is made: the method first, then a body too large for
// the command, with the way vokt offers.  Empty when one is made.
std::string curl_verweigert_hier(const Aufruf &auf, const Aufzeichnung &b, const CurlWahl &w)
{
    CurlWahl ohne_grenze = w; // a body in a file has no size limit
    ohne_grenze.inhaltsdatei = "";
    std::string v = curl_verweigert(b, ohne_grenze);
    if (!v.empty() || curl_verweigert(b, w).empty())
        return v;
    return "the body has " + std::to_string(b.inhaltlaenge()) + " bytes, more than the " +
           std::to_string(IM_BEFEHL_HOECHSTENS) + " a command holds ('vokt body " + dateiname(auf.datei) +
           " >FILE', then --body-file FILE): refused";
}

int curl_ausgeben(const Aufruf &auf, int quelle, const Aufzeichnung &a, const Aufzeichnung &b)
{
    CurlWahl w;
    w.url = auf.url;
    std::string voll, inhalt;
    if (auf.inhaltsdatei != nullptr && curl_mit_inhalt(b)) {
        char *echt = realpath(auf.inhaltsdatei, nullptr);
        voll = echt != nullptr ? echt : auf.inhaltsdatei;
        std::free(echt);
        w.inhaltsdatei = voll.c_str();
    }
    std::string verweigert = curl_verweigert_hier(auf, b, w);
    if (!verweigert.empty()) {
        meldung("%s: %s", dateiname(auf.datei).c_str(), verweigert.c_str());
        return FEHLER;
    }
    if (curl_mit_inhalt(b) && w.inhaltsdatei == nullptr) {
        if (!inhalt_holen(quelle, b, &inhalt)) {
            meldung("%s: reading the body: %s", dateiname(auf.datei).c_str(), std::strerror(errno));
            return FEHLER;
        }
        w.inhalt = inhalt;
    }
    lesehinweise(auf.datei, a);
    Aufzeichnung c;
    int kopie = auf.geschwaerzt ? schwaerzen(b, &inhalt, c) : -2;
    if (kopie == -1)
        return FEHLER;
    if (kopie >= 0)
        close(kopie);
    CurlErgebnis e = curl_befehl(auf.geschwaerzt ? c : b, w);
    for (const std::string &h : e.hinweise)
        meldung("%s: %s", dateiname(auf.datei).c_str(), h.c_str());
    const std::string &t = e.befehl;
    return std::fwrite(t.data(), 1, t.size(), stdout) == t.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

Sendewahl sendewahl(const Aufruf &auf)
{
    Sendewahl w;
    w.datei = auf.datei;
    w.url = auf.url;
    w.unsicher = auf.unsicher;
    w.zertifikate = auf.zertifikate;
    return w;
}

int mit_aufruf(int argc, char **argv, Art art, const char *usage)
{
    Aufruf auf;
    auf.art = art;
    if (!argumente(auf, argc, argv) || !schnappschusswahl_pruefen(auf.pruefung))
        return FEHLER;
    if (auf.hilfe)
        return std::fputs(usage, stdout) >= 0 && (art == Art::CURL || std::fputs(SCHNAPPSCHUSS_USAGE, stdout) >= 0) ? 0
                                                                                                                    : 1;
    if (art == Art::SEND && !sendewahl_pruefen(sendewahl(auf)))
        return FEHLER;
    if (auf.pruefung.gefragt())
        return einen_pruefen(auf);
    Aufzeichnung a, b;
    int quelle = -1;
    const Aufzeichnung *r = vorbereiten(auf, &quelle, a, b);
    if (r == nullptr)
        return FEHLER;
    if (art == Art::CURL)
        return curl_ausgeben(auf, quelle, a, *r);
    if (art == Art::SEND) {
        HttpAntwort antwort;
        int status = senden(sendewahl(auf), quelle, a, *r, &antwort);
        close(quelle);
        return status;
    }
    Mitschnitt m;
    m.anfang_hoechstens = ANFANG_HOECHSTENS;
    auf.lauf.mitschnitt = &m;
    auf.lauf.urschrift = &a;
    int status = laufen(auf.lauf, auf.datei, quelle, *r);
    if (m.gelaufen)
        zusammenfassen(auf.lauf.programm[0], status, m);
    return status;
}

} // namespace

int befehl_replay(int argc, char **argv)
{
    if (ueber_viele(argc, argv))
        return viele_laeufe(argc, argv, Art::REPLAY);
    return mit_aufruf(argc, argv, Art::REPLAY, REPLAY_USAGE);
}

int befehl_curl(int argc, char **argv)
{
    return mit_aufruf(argc, argv, Art::CURL, CURL_USAGE);
}

int befehl_send(int argc, char **argv)
{
    if (ueber_viele(argc, argv))
        return viele_laeufe(argc, argv, Art::SEND);
    return mit_aufruf(argc, argv, Art::SEND, SEND_USAGE);
}

namespace {

// The body of the record at pfad on standard output; 0, or the exit
// status after a message.
int inhalt_ausgeben(const char *pfad)
{
    Aufzeichnung a;
    int quelle = laden(pfad, a);
    if (quelle < 0)
        return FEHLER;
    bool ok = kopieren(quelle, a, 1);
    int fehler = errno;
    close(quelle);
    if (!ok) {
        meldung("%s: copying the body: %s", dateiname(pfad).c_str(), std::strerror(fehler));
        return 1;
    }
    return 0;
}

// vokt body --where FILTER [DUMP | FOLDER].
int inhalte_ausgeben(int argc, char **argv)
{
    Filter filter;
    std::vector<Fund> funde;
    if (!filter_uebersetzen("body", argv[2], &filter))
        return FEHLER;
    int status = treffer("body", argc == 4 ? argv[3] : nullptr, filter, &funde);
    for (std::size_t i = 0; i < funde.size() && status == 0; ++i)
        status = inhalt_ausgeben(funde[i].pfad.c_str());
    return status;
}

} // namespace

int befehl_body(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return std::fputs(BODY_USAGE, stdout) >= 0 ? 0 : 1;
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "--where") == 0)
        return inhalte_ausgeben(argc, argv);
    if (argc != 2 || argv[1][0] == '-') {
        meldung(argc < 2 ? "no RECORD given (--help shows the usage)"
                         : "usage: vokt body RECORD | --where FILTER [DUMP | FOLDER]");
        return FEHLER;
    }
    return inhalt_ausgeben(argv[1]);
}
