// The dump file: where it lies and how it is opened without trusting
// whatever already stands at that path.
#ifndef VOKT_DUMPDATEI_H
#define VOKT_DUMPDATEI_H

#include <cstdio>

// "<home>/cgidump" when home is known and euid is not nobody, else
// "/tmp/cgidump<euid>"; at full length, as a text the caller frees.
char *dumppfad(int euid, const char *home, int nobody);

// A fresh file, mode 0600, made beside the path and renamed over it at
// once: a link, FIFO or another file planted at the path is replaced, never
// followed or written into.  Null when the directory refuses it.
FILE *dump_oeffnen(const char *filename);

#endif
