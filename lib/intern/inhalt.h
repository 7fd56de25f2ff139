// The body of a POST request on standard input: read as it arrives, each
// piece recorded in the dump file at once, kept in memory as far as memory
// allows.
#ifndef VOKT_INHALT_H
#define VOKT_INHALT_H

#include <cstddef>

namespace vokt::intern {

class Dumpdatei;

struct Inhalt {
    char *puffer = nullptr; // what was kept, with room for a terminator
    std::size_t hat = 0;    // bytes kept in puffer
    std::size_t kam = 0;    // bytes that arrived (all of them are dumped)
    bool ohne_speicher = false;
};

// Reads until soll bytes have arrived or the input ends, and reports on
// the page a body that ended early (unless bis_ende: then the end of input
// is the end of the body) or that did not fit into memory.  puffer is null
// only when not even the first piece could be kept.
Inhalt lies_inhalt(std::size_t soll, bool bis_ende, Dumpdatei &dump);

// How long a body that the page does not use is waited for.
struct Fristen {
    int erstes_ms; // for its first byte
    int stille_ms; // for each later byte
    int gesamt_ms; // for all of it
};

// A body the record needs: some servers announce a body that never comes
// (mini_httpd keeps what it read with the headers), so the first byte gets
// a second and a half; once bytes come, each gets a minute, the read
// timeout of Apache (Timeout), lighttpd (server.max-read-idle) and nginx
// (client_body_timeout), which end a connection that is quiet for longer;
// all of it gets ten minutes.
constexpr Fristen FUER_DIE_AUFZEICHNUNG = {1500, 60 * 1000, 10 * 60 * 1000};
// A body read only so that the server can deliver the page (there is no
// record): a second and a half for every byte, ten minutes for all.
constexpr Fristen NUR_FUER_DIE_SEITE = {1500, 1500, 10 * 60 * 1000};

// Reads up to soll bytes, or everything when bis_ende (but never more than
// INT_MAX bytes), into the dump when one is given, and drops them, within
// the bounds f: stops early when no byte comes in time or the whole time
// is up.
void verwirf_inhalt(std::size_t soll, bool bis_ende, Dumpdatei *dump, const Fristen &f);
// The same within FUER_DIE_AUFZEICHNUNG with an open dump, else within
// NUR_FUER_DIE_SEITE.
void verwirf_inhalt(std::size_t soll, bool bis_ende, Dumpdatei *dump);

} // namespace vokt::intern

#endif
