// The history of records: when a directory "<dump path>.d" of the
// effective user exists, every request's record is also kept there, under
// a name that sorts by the time the request came ("20261208T101502.123456Z-
// 4711"), and only as many as its setting allows (verlaufsgrenzen.h).
//
// Pruning reads the folder only now and then, so that a request costs the
// same whatever the history holds: each record, once written, adds to a
// count in the folder's file ".prune" (its size: one part for each record
// and one for each sixteenth of the size limit), and the request that
// brings it to a sixteenth of the limits prunes.  So does the first
// request after the oldest record outlives the age limit, and one at
// least every hour.  Between passes the history may thus hold up to a
// sixteenth of each limit more (one record more below 16), and the
// records still being written.
//
// A record being written is locked (a shared flock of its file) and never
// pruned; a pinned record (its owner's write permission taken away, see
// verlauf_angeheftet) is neither pruned nor counted.  Names from the
// future (a clock set back, a planted entry) count as older than all
// others, so they never outrank the records being made.
#ifndef VOKT_VERLAUF_H
#define VOKT_VERLAUF_H

#include "verlaufsgrenzen.h"

#include <cstddef>
#include <ctime>
#include <sys/types.h>

namespace vokt::intern {

// The file in the history directory whose size counts what came since the
// last pass and whose access time says when the next one is due at the
// latest.
constexpr char VERLAUF_STAND[] = ".prune";

// Whether a file in the history directory is one of the history's own
// files (the keep file, the pruning count; any later one joins them here),
// never a record.
bool verlauf_einstellung(const char *name);

// A pass is due when the count reaches this many bytes.
constexpr off_t VERLAUF_SCHWELLE = 4096;

// The history directory "<dump>.d" of the dump named dump in the folder
// ordner (AT_FDCWD for a path), opened; -1 when there is none, or when it
// is a link or belongs to someone else (never followed).
int verlauf_oeffnen(int ordner, const char *dump);

// The name of a new record: UTC time to the microsecond and the process id.
void verlauf_name(char *name, std::size_t size);

// Whether a name is one of the history's records ("YYYYmmddTHHMMSS.uuuuuuZ-"
// and digits); only these are ever counted or pruned.
bool ist_verlaufsname(const char *name);

// A pinned record: the owner may not write it.  vokt pin takes the write
// permission away, vokt pin --undo gives it back; the bytes stay as they are.
constexpr bool verlauf_angeheftet(mode_t mode)
{
    return (mode & 0200) == 0;
}

// A record of n bytes was made: counted in the directory's .prune file,
// and the history pruned when a pass is due.
void verlauf_nachtragen(int verzeichnis, const Verlaufsgrenzen &g, unsigned long long n);

// One pass: the records beyond the limits removed, oldest first, but none
// that is locked or pinned.  The clock is read after the folder, so every
// name it saw that is later than that is from the future.  Returns when
// the next pass is due at the latest (in seconds since the epoch).
time_t verlauf_kuerzen(int verzeichnis, const Verlaufsgrenzen &g);

} // namespace vokt::intern

#endif
