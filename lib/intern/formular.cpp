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

} // namespace

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

int zerlege(Varmap *erg, char *puffer, int inhaltlang)
{
    if (inhaltlang <= 0)
        return -1;
    Zerlegung z = beginne(erg, puffer, inhaltlang, false);
    zerlege_bis(z, z.ende);
    return 0;
}

} // namespace vokt::intern
