#include "formular.h"

#include "bytemaske.h"
#include "cgiausg.h"
#include "cgivar.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vokt::intern {

namespace {

// What a decoding must do before it can go on: nothing, or store the pair
// it stopped at, or report the pair that did not fit into memory.
enum class Offen : unsigned char { NICHTS, SPEICHERN, MELDEN };

// The decoding of one call, which can go on piece by piece: its map, how
// many pairs it stored, and where it stands in the input.  The texts stay
// in the buffer when ohne_kopie (the map has taken it over).  While echo_laeuft,
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
    bool echo_laeuft = false;
    bool fertig = false;
    Offen offen = Offen::NICHTS;
    bool offen_am_ende = false; // the open pair is the input's last one
};

// Stores one decoded pair unless the call has stored its share already;
// the first pair beyond it is reported.  False: decode no further for now.
bool speichere(Zerlegung &zer, char *name, char *wert)
{
    if (zer.paare == MAXPAARE) {
        if (zer.echo_laeuft) {
            zer.offen = Offen::SPEICHERN;
            return false;
        }
        cgi_usererror("Zu viele Formularvariablen, nur die ersten %d wurden \xFC"
                      "bernommen",
                      MAXPAARE);
        zer.fertig = true;
        return false;
    }
    ++zer.paare;
    int r = zer.ohne_kopie ? zer.erg->insert_ohne_kopie(name, wert) : zer.erg->insert(name, wert);
    if (r < 0) {
        if (zer.echo_laeuft) {
            zer.offen = Offen::MELDEN;
            return false;
        }
        cgi_error("Nicht genug Speicher f\xFCr die Variable %s", name);
    }
    return true;
}

// hex() of every byte, looked up rather than computed.
constexpr auto HEXWERT = [] {
    std::array<char, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[static_cast<std::size_t>(b)] = hex(static_cast<char>(b));
    return t;
}();

// The byte at zer.l, one of % = &: decoded, and what it ends stored.  False
// when the decoding stops there.
bool sonderzeichen(Zerlegung &zer)
{
    char *l = zer.l;
    char c = *l;
    if (c == '%') {
        // Digits missing at the end of the input count as '0'.
        std::ptrdiff_t rest = zer.ende - l - 1;
        char hoch = rest >= 1 ? HEXWERT[static_cast<unsigned char>(l[1])] : 0;
        char tief = rest >= 2 ? HEXWERT[static_cast<unsigned char>(l[2])] : 0;
        *zer.s++ = static_cast<char>(hoch * 16 + tief);
        zer.l += rest >= 2 ? 3 : rest + 1;
        return true;
    }
    *zer.s++ = '\0'; // may be where c was
    ++zer.l;
    if (c == '=') {
        zer.lname = zer.m;
        zer.m = zer.s;
        return true;
    }
    if (!speichere(zer, zer.lname, zer.m))
        return false;
    zer.m = zer.s;
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
// registers here; zer is written only where a pair ends.  The bytes are
// handled here as sonderzeichen does, without its checks for the input's
// end: calling it instead measured 7 % slower on escape-dense bodies.
void bloecke(Zerlegung &zer, const char *grenze)
{
    if (zer.fertig || zer.offen != Offen::NICHTS)
        return;
    char *l = zer.l;
    char *s = zer.s;
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
                zer.lname = zer.m;
                zer.m = s;
                continue;
            }
            zer.l = l;
            zer.s = s;
            if (!speichere(zer, zer.lname, zer.m))
                return;
            zer.m = s;
        }
        if (l < b + 64)
            klartext(s, l, static_cast<std::size_t>(b + 64 - l));
    }
    zer.l = l;
    zer.s = s;
}

// The rest up to grenze, byte by byte.
void bytes(Zerlegung &zer, const char *grenze)
{
    while (!zer.fertig && zer.offen == Offen::NICHTS && zer.l < grenze) {
        char c = *zer.l;
        if (c == '%' || c == '=' || c == '&') {
            if (!sonderzeichen(zer))
                return;
        } else {
            *zer.s++ = c == '+' ? ' ' : c;
            ++zer.l;
        }
    }
}

// What a stop left open, done now that the page may be written.
void nachholen(Zerlegung &zer)
{
    Offen was = zer.offen;
    zer.offen = Offen::NICHTS;
    if (was == Offen::MELDEN)
        cgi_error("Nicht genug Speicher f\xFCr die Variable %s", zer.lname);
    else if (was == Offen::SPEICHERN && !speichere(zer, zer.lname, zer.m))
        return;
    if (zer.offen_am_ende)
        zer.fertig = true;
    zer.m = zer.s;
}

// Decodes the input before grenze; at the input's end, the last pair is
// stored too and the decoding is done.
void zerlege_bis(Zerlegung &zer, const char *grenze)
{
    if (!zer.echo_laeuft && zer.offen != Offen::NICHTS)
        nachholen(zer);
    bloecke(zer, grenze);
    bytes(zer, grenze);
    if (grenze == zer.ende && zer.l == zer.ende && !zer.fertig && zer.offen == Offen::NICHTS) {
        *zer.s = '\0';
        zer.offen_am_ende = true;
        if (speichere(zer, zer.lname, zer.m))
            zer.fertig = true;
    }
}

Zerlegung beginne(Varmap *erg, char *puffer, int inhaltlang, bool ohne_kopie)
{
    // A value before the first '=' is stored under the empty name.
    static char leer[1];
    return Zerlegung{erg, ohne_kopie, puffer, puffer, puffer, leer, puffer + inhaltlang};
}

// The body's echo, piece by piece, each piece decoded while it is echo_laeuft in
// the cache.  The decoder stays a margin behind the echo: it changes the
// bytes it has passed, and a vector copy a little beyond them.
#ifndef VOKT_STUECK
#define VOKT_STUECK (1 << 20) // the fuzz build makes it small: its inputs cross seams
#endif
constexpr std::size_t STUECK = VOKT_STUECK;
constexpr std::size_t RAND = 128;
static_assert(STUECK > 2 * RAND);

void zeige_und_zerlege(Zerlegung &zer, char *puffer, std::size_t hat)
{
    std::fputs("<PRE>", stdout);
    zer.echo_laeuft = true;
    for (std::size_t ab = 0; ab < hat;) {
        std::size_t n = hat - ab < STUECK ? hat - ab : STUECK;
        // The echo ends at a zero byte, as the text would.
        if (html_text_bis_null(puffer + ab, n))
            break;
        ab += n;
        if (ab < hat && ab > RAND)
            zerlege_bis(zer, puffer + ab - RAND);
    }
    std::fputs("</PRE>\n", stdout);
    zer.echo_laeuft = false;
}

} // namespace

// The body, decoded once: the map takes the buffer over and keeps names
// and values where the decoder puts them; when it cannot take it, it
// stores copies and the buffer is freed here.
void inhalt_zerlegen(Varmap *erg, char *puffer, std::size_t hat, bool zeigen)
{
    bool uebernommen = erg->uebernimm(puffer);
    Zerlegung zer = beginne(erg, puffer, static_cast<int>(hat), uebernommen);
    if (zeigen)
        zeige_und_zerlege(zer, puffer, hat);
    if (hat > 0)
        zerlege_bis(zer, zer.ende);
    if (!uebernommen)
        std::free(puffer);
}

int zerlege(Varmap *erg, char *puffer, int inhaltlang)
{
    if (inhaltlang <= 0)
        return -1;
    Zerlegung zer = beginne(erg, puffer, inhaltlang, false);
    zerlege_bis(zer, zer.ende);
    return 0;
}

} // namespace vokt::intern
