// When a record of the history has landed, so that vokt follow may print
// it: vokt.cgi makes the history entry as the request starts (a second
// link of the dump file, or a copy) and writes the body into it as it
// arrives, so an entry that is there may still be growing.
//
// The rule: a record has landed once no process holds it open for
// writing, which a read lease tells exactly (the kernel grants one only
// then; the owner of the file and root may ask for it).  Where no lease
// can be asked (another reader, a file system without leases), it has
// landed when its writer was seen to close it, when its body is whole
// by its '*' line, or when it stayed unchanged for STILL_MS (the idle
// bound of the servers' requests): then it is printed with its mark
// (short, more, none).
#ifndef VOKT_GELANDET_H
#define VOKT_GELANDET_H

#include "intern/aufzeichnung.h"

#include <cstdint>

// How long a record that cannot be asked for a lease must stay unchanged
// before it counts as landed short: the longest idle time that lighttpd,
// nginx and Apache give a request body by default.
constexpr long long STILL_MS = 60 * 1000;

enum class Schreiber {
    KEINER, // no process holds the file open for writing
    OFFEN,  // a process writes it
    UNKLAR, // cannot be told (no lease may be asked on it)
};

// Who writes the regular file open as fd (read only): a read lease asked
// and given back at once.
Schreiber schreiber(int fd);

// What is known of a record that has not landed yet.
struct Beobachtung {
    Schreiber schreiber = Schreiber::UNKLAR;
    bool geschlossen = false; // its writer was seen to close it
    bool ganz = false;        // a '*' line, and as many body bytes as it announces
    long long still_ms = 0;   // how long it has not changed
};

bool gelandet(const Beobachtung &b);

// Whether the record a is whole by its '*' line: as many body bytes as
// CONTENT_LENGTH announced.  Never for a chunked upload (a
// Transfer-Encoding entry, or no CONTENT_LENGTH): its body goes on past
// the '*' line's number.
bool ganz_angesagt(const vokt::intern::Aufzeichnung &a);

#endif
