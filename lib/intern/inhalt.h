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

// Reads up to soll bytes, or everything when bis_ende (but never more than
// INT_MAX bytes), into the dump when one is given, and drops them.  Stops
// early when no byte arrives for a second and a half.
void verwirf_inhalt(std::size_t soll, bool bis_ende, Dumpdatei *dump);

} // namespace vokt::intern

#endif
