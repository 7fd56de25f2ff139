// The limits of the history, as its setting "<dump>.d/keep" names them:
// a count of records, an age and a total size, alone or together, blanks
// or line ends between them:
//
//     1000          the newest 1000 records
//     7d  12h  2w   records younger than 7 days, 12 hours, 2 weeks
//     500M  2G      the newest records that fit into 500 MiB, 2 GiB (K, M,
//                   G, T: powers of 1024)
//     1000 7d 500M  whichever limit is reached first prunes
//
// Without the file the history keeps VERLAUF_ANZAHL records; a setting
// that names only an age or a size keeps at most VERLAUF_HOECHSTENS.  A
// setting that cannot be read or names no limit is never replaced by a
// default: nothing is pruned, and the page and vokt list say so.
#ifndef VOKT_VERLAUFSGRENZEN_H
#define VOKT_VERLAUFSGRENZEN_H

#include <cstddef>

namespace vokt::intern {

constexpr int VERLAUF_ANZAHL = 100;
constexpr int VERLAUF_HOECHSTENS = 10000;

// The file in the history directory that holds the setting.
constexpr char VERLAUF_ZAHLDATEI[] = "keep";

struct Verlaufsgrenzen {
    int anzahl = VERLAUF_ANZAHL; // records kept, pinned ones not counted
    long long alter = 0;         // in seconds; 0: no limit by age
    long long umfang = 0;        // bytes of all records; 0: no limit by size
};

enum class Einstellung {
    KEINE,     // no keep file: VERLAUF_ANZAHL records
    GUT,       // the limits as named
    GEKAPPT,   // a count above VERLAUF_HOECHSTENS, which is kept instead
    UNLESBAR,  // a link, a FIFO, no regular file, a failed read, over 127 bytes
    UNGUELTIG, // no limit, a word of another form, a limit named twice, 0
};

// Whether the history is pruned by the limits the setting gave.
constexpr bool einstellung_gilt(Einstellung e)
{
    return e == Einstellung::KEINE || e == Einstellung::GUT || e == Einstellung::GEKAPPT;
}

// The limits that the text of a keep file names, into g (left as it was
// when the text is UNGUELTIG).
Einstellung verlauf_grenzen_aus(const char *text, std::size_t n, Verlaufsgrenzen &g);

// The limits for the history directory: its keep file read with one openat
// (never following a link, never waiting on a FIFO) and one bounded read.
Einstellung verlauf_grenzen(int verzeichnis, Verlaufsgrenzen &g);

} // namespace vokt::intern

#endif
