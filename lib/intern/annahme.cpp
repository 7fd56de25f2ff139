#include "annahme.h"

#include "cgiausg.h"
#include "cgivar.h"
#include "dumpdatei.h"
#include "formular.h"
#include "inhalt.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace vokt::intern {

namespace {

const char REQUEST_METHOD[] = "REQUEST_METHOD";
const char CONTENT_LENGTH[] = "CONTENT_LENGTH";
const char QUERY_STRING[] = "QUERY_STRING";
const char TRANSFER_ENCODING[] = "HTTP_TRANSFER_ENCODING=";

// The user whose dump always goes to /tmp, whatever home it has.
constexpr int NOBODY = 65534;

// A write to the dump that failed, onto the page and standard error.
void melde_dumpfehler(const char *datei, int fehlernummer)
{
    cgi_error("Datei %s konnte nicht vollst\xE4ndig geschrieben werden: %s", datei, std::strerror(fehlernummer));
}

struct Anfrage {
    int post = 0;
    char *querystring = nullptr;
    int querystringlen = 0;
    Ankuendigung an;
    Dumpdatei dump{melde_dumpfehler};
};

// Like atoi, but a value beyond the int range saturates and says so.
int zahl(const char *s, bool *zu_gross)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    bool negativ = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    long long n = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        n = n * 10 + (*s - '0');
        if (n > INT_MAX) {
            *zu_gross = true;
            return negativ ? INT_MIN : INT_MAX;
        }
    }
    return static_cast<int>(negativ ? -n : n);
}

// The value of a request variable: the text after the name and the one
// byte where the '=' should stand, or empty when the entry ends before it.
char *wert(char *entry, std::size_t namelen)
{
    static char leer[1];
    for (std::size_t i = 0; i <= namelen; ++i)
        if (entry[i] == '\0')
            return leer;
    return entry + namelen + 1;
}

// True when a Transfer-Encoding value names chunked.
bool nennt_chunked(const char *wert)
{
    for (const char *p = wert; (p = strcasestr(p, "chunked")) != nullptr; p += 7) {
        bool anfang = p == wert || p[-1] == ' ' || p[-1] == ',' || p[-1] == '\t';
        char danach = p[7];
        if (anfang && (danach == '\0' || danach == ' ' || danach == ',' || danach == ';' || danach == '\t'))
            return true;
    }
    return false;
}

} // namespace

Eintragsart einordnen(char *entry, Ankuendigung &a)
{
    if (std::strncmp(entry, REQUEST_METHOD, 14) == 0) {
        const char *methode = wert(entry, 14);
        if (strncasecmp(methode, "POST", 4) == 0)
            return Eintragsart::POST;
        return strncasecmp(methode, "GET", 3) == 0 ? Eintragsart::GET : Eintragsart::FALSCHE_METHODE;
    }
    if (std::strncmp(entry, CONTENT_LENGTH, 14) == 0) {
        bool zu_gross = false;
        a.inhaltlang = zahl(wert(entry, 14), &zu_gross);
        a.hat_laenge = true;
        return zu_gross ? Eintragsart::LAENGE_ZU_GROSS : Eintragsart::LAENGE;
    }
    if (std::strncmp(entry, QUERY_STRING, 12) == 0)
        return Eintragsart::ANFRAGE;
    // The Transfer-Encoding entry counts as any other entry besides.
    if (std::strncmp(entry, TRANSFER_ENCODING, sizeof TRANSFER_ENCODING - 1) == 0)
        a.chunked = nennt_chunked(entry + sizeof TRANSFER_ENCODING - 1);
    return Eintragsart::ANDERE;
}

namespace {

// The page goes out and the process ends; the dump holds what it has.
[[noreturn]] void beende(Anfrage &anf)
{
    anf.dump.schliesse();
    seite_freigeben();
    std::fflush(stdout);
    std::exit(1);
}

// A body the page does not use: read, so that the server can deliver the
// page, and kept in the dump when one is given.
void verwirf(const Ankuendigung &a, Dumpdatei *dump)
{
    if (a.bis_ende() || a.inhaltlang > 0)
        verwirf_inhalt(static_cast<std::size_t>(a.inhaltlang > 0 ? a.inhaltlang : 0), a.bis_ende(), dump);
}

// The request ends without a page of its own, but its record is whole:
// the entries from ab on (those before it are in the dump already), the
// length line and the body, which is read anyway.
[[noreturn]] void beende_ohne_inhalt(Anfrage &anf, char **env, char **ab)
{
    for (char **e = ab; *e != nullptr; ++e)
        anf.dump.zeile(*e);
    Ankuendigung a;
    for (char **e = env; *e != nullptr; ++e)
        einordnen(*e, a);
    anf.dump.laenge(a.inhaltlang);
    anf.dump.leeren();
    verwirf(a, &anf.dump);
    beende(anf);
}

[[noreturn]] void methodenfehler(Anfrage &anf, char **env, char **e, const char *methode)
{
    std::fputs("Fehler auf HTML_Seite: Zugriffsmethode: ", stdout);
    html_text(methode);
    std::fputs("<p>\n", stdout);
    html_ende();
    beende_ohne_inhalt(anf, env, e + 1);
}

void als_variable(Varmap *erg, char *entry)
{
    char *gleich = std::strchr(entry, '=');
    if (gleich == nullptr) {
        cgi_error("ENV_Variable %s ohne '='", entry);
        return;
    }
    *gleich = '\0';
    erg->insert(entry, gleich + 1);
}

void klassifiziere(Anfrage &anf, Varmap *erg, char **env, char **e, int options)
{
    char *entry = *e;
    switch (einordnen(entry, anf.an)) {
    case Eintragsart::POST: anf.post = 1; break;
    case Eintragsart::GET: anf.post = 0; break;
    case Eintragsart::FALSCHE_METHODE: methodenfehler(anf, env, e, wert(entry, 14));
    case Eintragsart::LAENGE_ZU_GROSS: cgi_usererror("L\xE4nge des Inhalts zu gro\xDF: %s", wert(entry, 14)); break;
    case Eintragsart::LAENGE: break;
    case Eintragsart::ANFRAGE:
        anf.querystring = wert(entry, 12);
        anf.querystringlen = static_cast<int>(std::strlen(anf.querystring));
        break;
    case Eintragsart::ANDERE:
        if (options & GCV_ENVVARS)
            als_variable(erg, entry);
        break;
    }
}

// A history setting that is not used as it stands, onto the page and
// standard error.
void einstellung_melden(const Dumpdatei &dump)
{
    switch (dump.verlaufseinstellung()) {
    case Einstellung::KEINE:
    case Einstellung::GUT: break;
    case Einstellung::GEKAPPT:
        cgi_error("Datei %s.d/%s nennt mehr als %d Aufzeichnungen, es bleiben %d", dump.pfad(), VERLAUF_ZAHLDATEI,
                  VERLAUF_HOECHSTENS, VERLAUF_HOECHSTENS);
        break;
    case Einstellung::UNLESBAR:
        cgi_error("Datei %s.d/%s ist nicht lesbar, der Verlauf wird nicht gek\xFCrzt", dump.pfad(), VERLAUF_ZAHLDATEI);
        break;
    case Einstellung::UNGUELTIG:
        cgi_error("Datei %s.d/%s nennt keine Grenze des Verlaufs (wie 1000, 7d, 500M), er wird nicht gek\xFCrzt",
                  dump.pfad(), VERLAUF_ZAHLDATEI);
        break;
    }
}

// Page head, user line, and the dump file opened; ends the process when
// nothing at the dump's path can be written.
void dump_beginnen(Anfrage &anf, char **env)
{
    int euid = static_cast<int>(geteuid());
    int fehlernummer = 0;
    // The account database is asked only when its answer is used.
    char *home = euid != NOBODY ? gethomedir(euid, &fehlernummer) : nullptr;
    html_kopf("Cgi-Dump");
    if (fehlernummer != 0)
        cgi_error("Nutzerdatenbank nicht lesbar: %s", std::strerror(fehlernummer));
    char *filename = dumppfad(euid, home, NOBODY);
    const char *zeige = filename != nullptr ? filename : "";
    std::fprintf(stdout, "<H2>User-Information</H2>Ich bin effektiv Nutzer %d und pinsele daher in ", euid);
    html_text(zeige);
    std::fputs("<p>\n", stdout);
    Dumpdatei::Oeffnung o = anf.dump.oeffne(filename);
    if (o == Dumpdatei::VERWEIGERT) {
        std::fputs("Datei ", stdout);
        html_text(zeige);
        std::fputs(" kann leider nicht geschrieben werden!\n", stdout);
        html_ende();
        std::free(filename);
        std::free(home);
        beende_ohne_inhalt(anf, env, env);
    }
    if (o == Dumpdatei::BELEGT)
        cgi_error("Datei %s ist gerade belegt, diese Anfrage wird nicht aufgezeichnet", zeige);
    einstellung_melden(anf.dump);
    std::free(filename);
    std::free(home);
}

// The body: read whole (each piece into the dump as it arrives), then the
// page goes out, then the echo and the decoding.
void post_inhalt(Anfrage &anf, Varmap *erg, int options)
{
    if (options & GCV_DEBUGL1)
        std::fprintf(stdout, "L\xE4nge des Inhalts:%d\n", anf.an.inhaltlang);
    Inhalt in;
    bool bis_ende = anf.an.bis_ende();
    if (anf.an.inhaltlang < 0)
        cgi_usererror("Ung\xFCltige L\xE4nge des Inhalts: %d", anf.an.inhaltlang);
    else
        in = lies_inhalt(bis_ende ? INT_MAX : static_cast<std::size_t>(anf.an.inhaltlang), bis_ende, anf.dump);
    anf.dump.schliesse();
    seite_freigeben();
    if (in.puffer != nullptr) {
        in.puffer[in.hat] = '\0';
        inhalt_zerlegen(erg, in.puffer, in.hat, options & GCV_DEBUGL2);
    } else if (options & GCV_DEBUGL2) {
        std::fputs("<PRE></PRE>\n", stdout);
    }
}

} // namespace

int annahme(Varmap *erg, char **env, int options)
{
    Anfrage anf;
    // Nothing of the page may wait on the reader while the body is unread.
    seite_halten();
    if (options & GCV_DUMP)
        dump_beginnen(anf, env);
    if (options & GCV_DEBUGL2) {
        std::fputs("<H2>Die Environmentvariablen</H2>\n", stdout);
        std::fflush(stdout);
    }
    for (char **e = env; *e != nullptr; ++e) {
        if (options & GCV_DEBUGL2) {
            html_text(*e);
            std::fputs("<p>\n", stdout);
        }
        anf.dump.zeile(*e);
        klassifiziere(anf, erg, env, e, options);
    }
    anf.dump.laenge(anf.an.inhaltlang);
    anf.dump.leeren();
    if (anf.post == 1)
        post_inhalt(anf, erg, options);
    else
        verwirf(anf.an, nullptr); // a GET's body is neither shown nor recorded, but the server must not wait
    anf.dump.schliesse();
    seite_freigeben();
    if (anf.querystring != nullptr)
        aufspalt(erg, anf.querystring, anf.querystringlen);
    return anf.dump.vollstaendig() ? 0 : 1;
}

} // namespace vokt::intern
