// The form decoder behind aufspalt: urlencoded pairs decoded in place, 64
// bytes at a time, into a Varmap; for a body, piece by piece behind its
// echo on the page.
#ifndef VOKT_FORMULAR_H
#define VOKT_FORMULAR_H

#include "varmap.h"

#include <cstddef>

namespace vokt::intern {

// aufspalt's work: decodes inhaltlang bytes at puffer (and the zero byte
// after them) in place into erg.  -1 for an empty input, else 0.
int zerlege(Varmap *erg, char *puffer, int inhaltlang);

// A body of hat bytes in puffer (malloc'ed, with room for a terminator):
// echoed onto the page in a PRE block when zeigen, and decoded into erg
// once.  The map takes the buffer over, or it is freed here.
void inhalt_zerlegen(Varmap *erg, char *puffer, std::size_t hat, bool zeigen);

} // namespace vokt::intern

#endif
