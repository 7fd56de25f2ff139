// vokt's commands over many records: the records at a place (see
// verlaufsordner.h) that a filter (filter.h) picks, in time order.
#ifndef VOKT_TREFFER_H
#define VOKT_TREFFER_H

#include "aufzeichnungszeit.h"
#include "filter.h"
#include "intern/aufzeichnung.h"

#include <string>
#include <vector>

// Exit status when a filter matched no record (said on standard error).
constexpr int KEIN_TREFFER = 1;

struct Fund {
    std::string pfad;  // the record's path
    std::string datei; // its name in the folder, which orders equal times
    Zeitpunkt zeit;
};

// The time now.
Zeitpunkt jetzt();

// The filter of text; false after one line "BEFEHL: bad filter at byte N
// (of the filter's text, from 1): why".
bool filter_uebersetzen(const char *befehl, const char *text, Filter *f);

// Whether the record a at pfad, open as fd, matches f; *zeit gets its
// time.
bool passt(const Filter &f, const char *pfad, const vokt::intern::Aufzeichnung &a, int fd, Zeitpunkt *zeit);

// Every record at ort (a DUMP | FOLDER argument; null: the effective
// user's dump) that f matches, oldest first.  0, KEIN_TREFFER after a
// message, or FEHLER after a message.
int treffer(const char *befehl, const char *ort, const Filter &f, std::vector<Fund> *funde);

#endif
