// vokt diff's comparison of two records, A and B, as a pure function from
// the two records (entries and body) to the list of their differences, and
// each difference as one line of text.
#ifndef VOKT_VERGLEICH_H
#define VOKT_VERGLEICH_H

#include "intern/aufzeichnung.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One record to compare: its entries, and its body in memory.
struct Vergleichsseite {
    const vokt::intern::Aufzeichnung &aufzeichnung;
    std::string_view inhalt;
};

struct Unterschied {
    enum Art {
        NUR_A,   // name (entry, or form pair) only in A, with its value a
        NUR_B,   // only in B, with its value b
        ANDERS,  // in both, the values a and b differ
        INHALT,  // the bodies differ: from offset ab on, lengths laenge_a, laenge_b
        LAENGE,  // the '*' lines differ: a and b as "*N" or "none"
        DOPPELT, // a note: the name appears more than once in a ("A", "B" or "A and B")
    };
    enum Teil { EINTRAG, QUERY, FORM, KOERPER };
    Art art;
    Teil teil;
    std::string name;
    std::string a;
    std::string b;
    std::uint64_t ab = 0;
    std::uint64_t laenge_a = 0;
    std::uint64_t laenge_b = 0;
};

// The names that differ between any two requests and are left out unless
// asked for: REMOTE_PORT, UNIQUE_ID, REQUEST_TIME, REQUEST_TIME_FLOAT,
// HTTP_X_REQUEST_ID, HTTP_TRACEPARENT.
const std::vector<std::string> &stets_anders();

// Every difference between A and B, in this order: notes of names that
// appear twice; entries by name (their last values compared; names in
// `ohne` left out), in A's order, then those only in B; the '*' lines; the
// body; the query strings' pairs; the forms' pairs.  A form is the body's
// pairs when the record's CONTENT_TYPE is urlencoded or missing (vokt.cgi
// decodes every body), else none.  Pairs are decoded as vokt.cgi decodes
// them, and compared by name with the last value of each name.
std::vector<Unterschied> vergleichen(const Vergleichsseite &a, const Vergleichsseite &b,
                                     const std::vector<std::string> &ohne);

// Whether the list holds a difference beyond notes.
bool verschieden(const std::vector<Unterschied> &liste);

// One line, without its line feed; record text made safe (see sichtbar).
std::string beschreibung(const Unterschied &u);

#endif
