#include "inhalt.h"

#include "cgiausg.h"
#include "dumpdatei.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace vokt::intern {

namespace {

// The first piece is at most this large; the buffer then doubles with what
// arrives, never beyond the announced length.
constexpr std::size_t ERSTER_PUFFER = 64 * 1024;

// One read from standard input: a count, 0 at its end, -1 on an error.
// Interrupted reads are repeated; a non-blocking descriptor, as a server
// may hand over, is waited for.
ssize_t lies(char *ziel, std::size_t n)
{
    for (;;) {
        ssize_t r = read(0, ziel, n);
        if (r >= 0)
            return r;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        pollfd pfd{0, POLLIN, 0};
        if (poll(&pfd, 1, -1) < 0 && errno != EINTR)
            return -1;
    }
}

// One read as lies, or 0 (as at the end) when no byte came for warte_ms.
ssize_t lies_ohne_stille(char *ziel, std::size_t n, int warte_ms)
{
    pollfd pfd{0, POLLIN, 0};
    int bereit;
    while ((bereit = poll(&pfd, 1, warte_ms)) < 0 && errno == EINTR) {
    }
    return bereit == 0 ? 0 : lies(ziel, n);
}

// The buffer grown for the next piece; false when memory ran out.
bool wachse(Inhalt &in, std::size_t &platz, std::size_t soll)
{
    if (in.hat < platz)
        return true;
    std::size_t neu = platz > soll - platz ? soll : 2 * platz;
    auto *groesser = static_cast<char *>(std::realloc(in.puffer, neu + 1));
    if (groesser == nullptr)
        return false;
    in.puffer = groesser;
    platz = neu;
    return true;
}

} // namespace

Inhalt lies_inhalt(std::size_t soll, bool bis_ende, Dumpdatei &dump)
{
    Inhalt in;
    std::size_t platz = soll < ERSTER_PUFFER ? soll : ERSTER_PUFFER;
    in.puffer = static_cast<char *>(std::malloc(platz + 1));
    in.ohne_speicher = in.puffer == nullptr;
    static char ueberlauf[ERSTER_PUFFER]; // pieces that memory could not keep
    while (in.kam < soll) {
        if (!in.ohne_speicher && !wachse(in, platz, soll))
            in.ohne_speicher = true;
        char *ziel = in.ohne_speicher ? ueberlauf : in.puffer + in.hat;
        std::size_t frei = in.ohne_speicher ? sizeof ueberlauf : platz - in.hat;
        if (frei > soll - in.kam)
            frei = soll - in.kam;
        ssize_t n = lies(ziel, frei);
        if (n <= 0)
            break;
        dump.roh(ziel, static_cast<std::size_t>(n));
        in.kam += static_cast<std::size_t>(n);
        if (!in.ohne_speicher)
            in.hat += static_cast<std::size_t>(n);
    }
    // A body read to its end is cut at soll, the int range: said as for a
    // CONTENT_LENGTH beyond it.
    char mehr = 0;
    if (bis_ende && in.kam == soll && lies(&mehr, 1) > 0)
        cgi_usererror("L\xE4nge des Inhalts zu gro\xDF: mehr als %zu", soll);
    if (in.ohne_speicher)
        cgi_error("Nicht genug Speicher f\xFCr den Inhalt");
    if (in.kam < soll && !bis_ende)
        cgi_error("Das kann eigendlich nicht vorkommen, da\xDF ich nicht alles lesen kann, ist es aber ...");
    return in;
}

void verwirf_inhalt(std::size_t soll, bool bis_ende, Dumpdatei *dump, const Fristen &f)
{
    static char weg[ERSTER_PUFFER];
    if (bis_ende || soll > INT_MAX)
        soll = INT_MAX;
    auto ende = std::chrono::steady_clock::now() + std::chrono::milliseconds(f.gesamt_ms);
    for (std::size_t kam = 0; kam < soll;) {
        auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(ende - std::chrono::steady_clock::now());
        int warte_ms = std::min(kam == 0 ? f.erstes_ms : f.stille_ms, static_cast<int>(rest.count()));
        std::size_t n = sizeof weg < soll - kam ? sizeof weg : soll - kam;
        ssize_t r = warte_ms > 0 ? lies_ohne_stille(weg, n, warte_ms) : 0;
        if (r <= 0)
            return;
        if (dump != nullptr)
            dump->roh(weg, static_cast<std::size_t>(r));
        kam += static_cast<std::size_t>(r);
    }
}

void verwirf_inhalt(std::size_t soll, bool bis_ende, Dumpdatei *dump)
{
    verwirf_inhalt(soll, bis_ende, dump, dump != nullptr && dump->offen() ? FUER_DIE_AUFZEICHNUNG : NUR_FUER_DIE_SEITE);
}

} // namespace vokt::intern
