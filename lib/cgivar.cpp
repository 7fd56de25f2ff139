#include "cgivar.h"

#include "cgiausg.h"
#include "intern/bytemaske.h"
#include "intern/dumpdatei.h"
#include "intern/inhalt.h"
#include "intern/nutzerdb.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

using namespace vokt::intern;

namespace {

void inhalt_zerlegen(Varmap *erg, char *puffer, std::size_t hat, bool zeigen);

const char REQUEST_METHOD[] = "REQUEST_METHOD";
const char CONTENT_LENGTH[] = "CONTENT_LENGTH";
const char QUERY_STRING[] = "QUERY_STRING";
const char TRANSFER_ENCODING[] = "HTTP_TRANSFER_ENCODING=";

// The user whose dump always goes to /tmp, whatever home it has.
constexpr int NOBODY = 65534;

// What the environment announces as a body.
struct Ankuendigung {
    int inhaltlang = 0;
    bool hat_laenge = false; // a CONTENT_LENGTH entry was seen
    bool chunked = false;    // the body comes in chunks of unknown total
    // Without any CONTENT_LENGTH a chunked upload (as Apache hands it
    // over) is read to the end of the input.
    bool bis_ende() const { return !hat_laenge && chunked; }
};

struct Zustand {
    int post = 0;
    char *querystring = nullptr;
    int querystringlen = 0;
    Ankuendigung an;
    Dumpdatei dump;
};

// The home directory of uid, as a copy the caller owns; null if unknown.
// *fehlernummer tells a database that could not be read from no account.
char *gethomedir(int uid, int *fehlernummer)
{
    return heimverzeichnis(static_cast<uid_t>(uid), fehlernummer);
}

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

// Takes a CONTENT_LENGTH or HTTP_TRANSFER_ENCODING entry into a.  True
// for a CONTENT_LENGTH entry (*zu_gross when its value was cut); the
// Transfer-Encoding entry counts as any other entry besides.
bool kuendigt_an(Ankuendigung &a, char *entry, bool *zu_gross)
{
    if (std::strncmp(entry, CONTENT_LENGTH, 14) == 0) {
        a.inhaltlang = zahl(wert(entry, 14), zu_gross);
        a.hat_laenge = true;
        return true;
    }
    if (std::strncmp(entry, TRANSFER_ENCODING, sizeof TRANSFER_ENCODING - 1) == 0)
        a.chunked = nennt_chunked(entry + sizeof TRANSFER_ENCODING - 1);
    return false;
}

// The page goes out and the process ends; the dump holds what it has.
[[noreturn]] void beende(Zustand &z)
{
    z.dump.schliesse();
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
[[noreturn]] void beende_ohne_inhalt(Zustand &z, char **env, char **ab)
{
    for (char **e = ab; *e != nullptr; ++e)
        z.dump.zeile(*e);
    Ankuendigung a;
    for (char **e = env; *e != nullptr; ++e) {
        bool zu_gross = false;
        kuendigt_an(a, *e, &zu_gross);
    }
    z.dump.laenge(a.inhaltlang);
    z.dump.leeren();
    verwirf(a, &z.dump);
    beende(z);
}

[[noreturn]] void methodenfehler(Zustand &z, char **env, char **e, const char *methode)
{
    std::fputs("Fehler auf HTML_Seite: Zugriffsmethode: ", stdout);
    html_text(methode);
    std::fputs("<p>\n", stdout);
    html_ende();
    beende_ohne_inhalt(z, env, e + 1);
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

void klassifiziere(Zustand &z, Varmap *erg, char **env, char **e, int options)
{
    char *entry = *e;
    if (std::strncmp(entry, REQUEST_METHOD, 14) == 0) {
        const char *methode = wert(entry, 14);
        if (strncasecmp(methode, "POST", 4) == 0)
            z.post = 1;
        else if (strncasecmp(methode, "GET", 3) == 0)
            z.post = 0;
        else
            methodenfehler(z, env, e, methode);
    } else if (bool zu_gross = false; kuendigt_an(z.an, entry, &zu_gross)) {
        if (zu_gross)
            cgi_usererror("L\xE4nge des Inhalts zu gro\xDF: %s", wert(entry, 14));
    } else if (std::strncmp(entry, QUERY_STRING, 12) == 0) {
        z.querystring = wert(entry, 12);
        z.querystringlen = static_cast<int>(std::strlen(z.querystring));
    } else if (options & GCV_ENVVARS) {
        als_variable(erg, entry);
    }
}

// Page head, user line, and the dump file opened; ends the process when
// nothing at the dump's path can be written.
void dump_beginnen(Zustand &z, char **env)
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
    Dumpdatei::Oeffnung o = z.dump.oeffne(filename);
    if (o == Dumpdatei::VERWEIGERT) {
        std::fputs("Datei ", stdout);
        html_text(zeige);
        std::fputs(" kann leider nicht geschrieben werden!\n", stdout);
        html_ende();
        std::free(filename);
        std::free(home);
        beende_ohne_inhalt(z, env, env);
    }
    if (o == Dumpdatei::BELEGT)
        cgi_error("Datei %s ist gerade belegt, diese Anfrage wird nicht aufgezeichnet", zeige);
    std::free(filename);
    std::free(home);
}

// The body: read whole (each piece into the dump as it arrives), then the
// page goes out, then the echo and the decoding.
void post_inhalt(Zustand &z, Varmap *erg, int options)
{
    if (options & GCV_DEBUGL1)
        std::fprintf(stdout, "L\xE4nge des Inhalts:%d\n", z.an.inhaltlang);
    Inhalt in;
    bool bis_ende = z.an.bis_ende();
    if (z.an.inhaltlang < 0)
        cgi_usererror("Ung\xFCltige L\xE4nge des Inhalts: %d", z.an.inhaltlang);
    else
        in = lies_inhalt(bis_ende ? INT_MAX : static_cast<std::size_t>(z.an.inhaltlang), bis_ende, z.dump);
    z.dump.schliesse();
    seite_freigeben();
    if (in.puffer != nullptr) {
        in.puffer[in.hat] = '\0';
        inhalt_zerlegen(erg, in.puffer, in.hat, options & GCV_DEBUGL2);
    } else if (options & GCV_DEBUGL2) {
        std::fputs("<PRE></PRE>\n", stdout);
    }
}

} // namespace

int getcgienv(Varmap *erg, char **env, int options)
{
    Zustand z;
    // Nothing of the page may wait on the reader while the body is unread.
    seite_halten();
    if (options & GCV_DUMP)
        dump_beginnen(z, env);
    if (options & GCV_DEBUGL2) {
        std::fputs("<H2>Die Environmentvariablen</H2>\n", stdout);
        std::fflush(stdout);
    }
    for (char **e = env; *e != nullptr; ++e) {
        if (options & GCV_DEBUGL2) {
            html_text(*e);
            std::fputs("<p>\n", stdout);
        }
        z.dump.zeile(*e);
        klassifiziere(z, erg, env, e, options);
    }
    z.dump.laenge(z.an.inhaltlang);
    z.dump.leeren();
    if (z.post == 1)
        post_inhalt(z, erg, options);
    else
        verwirf(z.an, nullptr); // a GET's body is neither shown nor recorded, but the server must not wait
    z.dump.schliesse();
    seite_freigeben();
    if (z.querystring != nullptr)
        aufspalt(erg, z.querystring, z.querystringlen);
    return z.dump.vollstaendig() ? 0 : 1;
}

namespace {

// What a decoding must do before it can go on: nothing, or store the pair
// it stopped at, or report the pair that did not fit into memory.
enum class Offen : unsigned char { NICHTS, SPEICHERN, MELDEN };

// The decoding of one call, which can go on piece by piece: its map, how
// many pairs it stored, and where it stands in the input.  The texts stay
// in the buffer when ohne_kopie (the map has taken it over).  While still,
// nothing may go onto the page (the body's echo is not through yet): a
// report stops the decoding instead, and it goes on where it stopped.
struct Zerlegung {
    Varmap *erg;
    bool ohne_kopie;
    char *l;          // next input byte
    char *s;          // next output byte: never after l
    char *m;          // start of the text being decoded
    char *lname;      // the last name, set by '='
    const char *ende; // end of the input
    int paare = 0;
    bool still = false;
    bool fertig = false;
    Offen offen = Offen::NICHTS;
    bool offen_am_ende = false; // the open pair is the input's last one
};

// Stores one decoded pair unless the call has stored its share already;
// the first pair beyond it is reported.  False: decode no further for now.
bool speichere(Zerlegung &z, char *name, char *wert)
{
    if (z.paare == MAXPAARE) {
        if (z.still) {
            z.offen = Offen::SPEICHERN;
            return false;
        }
        cgi_usererror("Zu viele Formularvariablen, nur die ersten %d wurden \xFC"
                      "bernommen",
                      MAXPAARE);
        z.fertig = true;
        return false;
    }
    ++z.paare;
    int r = z.ohne_kopie ? z.erg->insert_ohne_kopie(name, wert) : z.erg->insert(name, wert);
    if (r < 0) {
        if (z.still) {
            z.offen = Offen::MELDEN;
            return false;
        }
        cgi_error("Nicht genug Speicher f\xFCr die Variable %s", name);
    }
    return true;
}

// hex() of every byte, looked up rather than computed.
constexpr auto HEXWERT = [] {
    std::array<char, 256> t{};
    for (int z = 0; z < 256; ++z)
        t[static_cast<std::size_t>(z)] = hex(static_cast<char>(z));
    return t;
}();

// The byte at z.l, one of % = &: decoded, and what it ends stored.  False
// when the decoding stops there.
bool sonderzeichen(Zerlegung &z)
{
    char *l = z.l;
    char c = *l;
    if (c == '%') {
        // Digits missing at the end of the input count as '0'.
        std::ptrdiff_t rest = z.ende - l - 1;
        char hoch = rest >= 1 ? HEXWERT[static_cast<unsigned char>(l[1])] : 0;
        char tief = rest >= 2 ? HEXWERT[static_cast<unsigned char>(l[2])] : 0;
        *z.s++ = static_cast<char>(hoch * 16 + tief);
        z.l += rest >= 2 ? 3 : rest + 1;
        return true;
    }
    *z.s++ = '\0'; // may be where c was
    ++z.l;
    if (c == '=') {
        z.lname = z.m;
        z.m = z.s;
        return true;
    }
    if (!speichere(z, z.lname, z.m))
        return false;
    z.m = z.s;
    return true;
}

// n plain input bytes at l to s, each '+' a space; both move on.  Whole
// vectors are copied where what they write past the run is free: output
// already used, or (in place) input whose '+' becomes a space anyway.
[[gnu::always_inline]] inline void klartext(char *&s, char *&l, std::size_t n)
{
    if (l - s >= 16 || l == s) {
        kopiere16<true>(s, l, n);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            s[i] = l[i] == '+' ? ' ' : l[i];
    }
    s += n;
    l += n;
}

// Decodes 64-byte blocks while a block and the 16 bytes after it lie
// before grenze: what the decoder reads and writes stays below grenze, and
// an escape in a block has both its digits.  The positions stay in
// registers here; z is written only where a pair ends.  The bytes are
// handled here as sonderzeichen does, without its checks for the input's
// end: calling it instead measured 7 % slower on escape-dense bodies.
void bloecke(Zerlegung &z, const char *grenze)
{
    if (z.fertig || z.offen != Offen::NICHTS)
        return;
    char *l = z.l;
    char *s = z.s;
    while (grenze - l >= 64 + 16) {
        char *b = l;
        std::uint64_t maske = maske64<'%', '=', '&'>(b);
        for (; maske != 0; maske &= maske - 1) {
            char *bei = b + __builtin_ctzll(maske);
            if (bei < l)
                continue; // a digit of an escape before it
            klartext(s, l, static_cast<std::size_t>(bei - l));
            char c = *l;
            if (c == '%') {
                *s++ = static_cast<char>(HEXWERT[static_cast<unsigned char>(l[1])] * 16 +
                                         HEXWERT[static_cast<unsigned char>(l[2])]);
                l += 3;
                continue;
            }
            *s++ = '\0'; // may be where c was
            ++l;
            if (c == '=') {
                z.lname = z.m;
                z.m = s;
                continue;
            }
            z.l = l;
            z.s = s;
            if (!speichere(z, z.lname, z.m))
                return;
            z.m = s;
        }
        if (l < b + 64)
            klartext(s, l, static_cast<std::size_t>(b + 64 - l));
    }
    z.l = l;
    z.s = s;
}

// The rest up to grenze, byte by byte.
void bytes(Zerlegung &z, const char *grenze)
{
    while (!z.fertig && z.offen == Offen::NICHTS && z.l < grenze) {
        char c = *z.l;
        if (c == '%' || c == '=' || c == '&') {
            if (!sonderzeichen(z))
                return;
        } else {
            *z.s++ = c == '+' ? ' ' : c;
            ++z.l;
        }
    }
}

// What a stop left open, done now that the page may be written.
void nachholen(Zerlegung &z)
{
    Offen was = z.offen;
    z.offen = Offen::NICHTS;
    if (was == Offen::MELDEN)
        cgi_error("Nicht genug Speicher f\xFCr die Variable %s", z.lname);
    else if (was == Offen::SPEICHERN && !speichere(z, z.lname, z.m))
        return;
    if (z.offen_am_ende)
        z.fertig = true;
    z.m = z.s;
}

// Decodes the input before grenze; at the input's end, the last pair is
// stored too and the decoding is done.
void zerlege_bis(Zerlegung &z, const char *grenze)
{
    if (!z.still && z.offen != Offen::NICHTS)
        nachholen(z);
    bloecke(z, grenze);
    bytes(z, grenze);
    if (grenze == z.ende && z.l == z.ende && !z.fertig && z.offen == Offen::NICHTS) {
        *z.s = '\0';
        z.offen_am_ende = true;
        if (speichere(z, z.lname, z.m))
            z.fertig = true;
    }
}

Zerlegung beginne(Varmap *erg, char *puffer, int inhaltlang, bool ohne_kopie)
{
    // A value before the first '=' is stored under the empty name.
    static char leer[1];
    return Zerlegung{erg, ohne_kopie, puffer, puffer, puffer, leer, puffer + inhaltlang};
}

// The body's echo, piece by piece, each piece decoded while it is still in
// the cache.  The decoder stays a margin behind the echo: it changes the
// bytes it has passed, and a vector copy a little beyond them.
#ifndef VOKT_STUECK
#define VOKT_STUECK (1 << 20) // the fuzz build makes it small: its inputs cross seams
#endif
constexpr std::size_t STUECK = VOKT_STUECK;
constexpr std::size_t RAND = 128;
static_assert(STUECK > 2 * RAND);

void zeige_und_zerlege(Zerlegung &z, char *puffer, std::size_t hat)
{
    std::fputs("<PRE>", stdout);
    z.still = true;
    for (std::size_t ab = 0; ab < hat;) {
        std::size_t n = hat - ab < STUECK ? hat - ab : STUECK;
        // The echo ends at a zero byte, as the text would.
        if (html_text_bis_null(puffer + ab, n))
            break;
        ab += n;
        if (ab < hat && ab > RAND)
            zerlege_bis(z, puffer + ab - RAND);
    }
    std::fputs("</PRE>\n", stdout);
    z.still = false;
}

// The body, decoded once: the map takes the buffer over and keeps names
// and values where the decoder puts them; when it cannot take it, it
// stores copies and the buffer is freed here.
void inhalt_zerlegen(Varmap *erg, char *puffer, std::size_t hat, bool zeigen)
{
    bool uebernommen = erg->uebernimm(puffer);
    Zerlegung z = beginne(erg, puffer, static_cast<int>(hat), uebernommen);
    if (zeigen)
        zeige_und_zerlege(z, puffer, hat);
    if (hat > 0)
        zerlege_bis(z, z.ende);
    if (!uebernommen)
        std::free(puffer);
}

} // namespace

int aufspalt(Varmap *erg, char *puffer, int inhaltlang)
{
    if (inhaltlang <= 0)
        return -1;
    Zerlegung z = beginne(erg, puffer, inhaltlang, false);
    zerlege_bis(z, z.ende);
    return 0;
}

void probeausgabe(const Varmap *tab)
{
    Varmapiter it(tab);
    for (; it() != nullptr; it.next()) {
        const char *name;
        const char *inhalt;
        it.inhalt(name, inhalt);
        html_text(name);
        std::fputs(" = ", stdout);
        html_text(inhalt);
        std::fputs("<p>\n", stdout);
        std::fflush(stdout);
    }
}
