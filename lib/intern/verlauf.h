// The history of records: when a directory "<dump path>.d" of the
// effective user exists, every request's record is also kept there, under
// a name that sorts by time ("20261208T101502.123456Z-4711"), and only the
// newest are kept: as many as the file "keep" in the directory says (a
// decimal number, set by the administrator), VERLAUF_ANZAHL without it.
//
// Every request lists the directory to find the oldest records, so its
// cost grows with the count: VERLAUF_HOECHSTENS bounds it.
#ifndef VOKT_VERLAUF_H
#define VOKT_VERLAUF_H

#include <cstddef>

namespace vokt::intern {

constexpr int VERLAUF_ANZAHL = 100;
constexpr int VERLAUF_HOECHSTENS = 10000;

// The file in the history directory that holds the count.
constexpr char VERLAUF_ZAHLDATEI[] = "keep";

// Whether a file in the history directory is one of the history's own
// settings (the keep file; any later one joins it here), never a record.
bool verlauf_einstellung(const char *name);

// The count that the text of the keep file asks for: a decimal number,
// blanks and line ends around it allowed; above VERLAUF_HOECHSTENS the
// limit; anything else (0, a sign, other bytes, no digit) VERLAUF_ANZAHL.
int verlauf_anzahl_aus(const char *text, std::size_t n);

// The count for the history directory: its keep file read with one
// openat (never following a link, never waiting on a FIFO) and one
// bounded read; VERLAUF_ANZAHL when there is none or it cannot be read.
int verlauf_anzahl(int verzeichnis);

// The history directory "<dump>.d" of the dump named dump in the folder
// ordner (AT_FDCWD for a path), opened; -1 when there is none, or when it
// is a link or belongs to someone else (never followed).
int verlauf_oeffnen(int ordner, const char *dump);

// The name of a new record: UTC time to the microsecond and the process id.
void verlauf_name(char *name, std::size_t size);

// Removes the oldest records beyond the newest verlauf_anzahl().  Only
// names of the history's own form are touched (never the keep file).
void verlauf_kuerzen(int verzeichnis);

} // namespace vokt::intern

#endif
