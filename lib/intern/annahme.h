// The request intake behind getcgienv: the environment scanned onto the
// page and into the record, the body read and recorded, the form data
// decoded.
#ifndef VOKT_ANNAHME_H
#define VOKT_ANNAHME_H

#include "varmap.h"

namespace vokt::intern {

// What the environment announces as a body.
struct Ankuendigung {
    int inhaltlang = 0;
    bool hat_laenge = false; // a CONTENT_LENGTH entry was seen
    bool chunked = false;    // HTTP_TRANSFER_ENCODING names chunked
    // Without any CONTENT_LENGTH a chunked upload (as Apache hands it
    // over) is read to the end of the input.
    bool bis_ende() const { return !hat_laenge && chunked; }
};

// What one environment entry is to the intake.
enum class Eintragsart {
    POST,            // REQUEST_METHOD beginning with POST, in any case
    GET,             // REQUEST_METHOD beginning with GET, in any case
    FALSCHE_METHODE, // any other REQUEST_METHOD: the request is refused
    LAENGE,          // CONTENT_LENGTH, read as atoi does
    LAENGE_ZU_GROSS, // CONTENT_LENGTH beyond the int range: cut, and said
    ANFRAGE,         // QUERY_STRING
    ANDERE,          // anything else (HTTP_TRANSFER_ENCODING too)
};

// The intake's rules for one entry, recognised by its first 14, 14 or 12
// bytes (the '=' after them is not looked at): its kind, and what it
// announces of the body taken into a.  Nothing else is read or written.
Eintragsart einordnen(char *entry, Ankuendigung &a);

// The home directory of uid, as a copy the caller owns; null if unknown.
// *fehlernummer tells a database that could not be read from no account.
// (Defined in cgivar.cpp.)
char *gethomedir(int uid, int *fehlernummer);

// getcgienv's work (see cgivar.h).
int annahme(Varmap *erg, char **env, int options);

} // namespace vokt::intern

#endif
