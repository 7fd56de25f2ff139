// The history of records: when a directory "<dump path>.d" of the
// effective user exists, every request's record is also kept there, under
// a name that sorts by time ("20261208T101502.123456Z-4711"), and only the
// newest VERLAUF_ANZAHL are kept.
#ifndef VOKT_VERLAUF_H
#define VOKT_VERLAUF_H

#include <cstddef>

namespace vokt::intern {

constexpr int VERLAUF_ANZAHL = 100;

// The history directory of the dump path, opened; -1 when there is none,
// or when it is a link or belongs to someone else (never followed).
int verlauf_oeffnen(const char *pfad);

// The name of a new record: UTC time to the microsecond and the process id.
void verlauf_name(char *name, std::size_t size);

// Removes the oldest records beyond the newest VERLAUF_ANZAHL.  Only names
// of the history's own form are touched.
void verlauf_kuerzen(int verzeichnis);

} // namespace vokt::intern

#endif
