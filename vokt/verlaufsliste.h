// vokt list's table: one row for each record, newest first, with the
// request's time, method, target, content type, the body bytes that
// arrived and whether that is all that was announced.  Every text from a
// record is made safe for a terminal.
#ifndef VOKT_VERLAUFSLISTE_H
#define VOKT_VERLAUFSLISTE_H

#include "aufzeichnungszeit.h"
#include "intern/aufzeichnung.h"

#include <string>
#include <vector>

struct Listenzeile {
    Zeitpunkt zeit;
    std::string datei;       // the record's file name, which orders equal times
    std::string methode;     // REQUEST_METHOD
    std::string ziel;        // the request target (see anfrageziel)
    std::string typ;         // CONTENT_TYPE
    std::string laenge;      // the body bytes that arrived; "-" without '*' line
    std::string ganz;        // whole, short, more (than announced) or none (no '*' line)
    bool angeheftet = false; // pinned: never pruned (vokt pin)
};

// The row of one record (texts as the record holds them).
Listenzeile listenzeile(const vokt::intern::Aufzeichnung &a, const Zeitpunkt &zeit, const std::string &datei);

// The table: a heading and the rows, newest first, columns two blanks
// apart; every text made safe (see sichtbar), the target cut after 200
// bytes, the others after 60; a pinned record's row ends in "  pinned".
std::string tabelle(std::vector<Listenzeile> zeilen);

// Whether the file at pfad is one of a history folder's own settings
// (see verlauf_einstellung) in a folder named as a history ("<dump>.d"):
// no record, passed over without a word where a folder's files are read.
bool verlaufseigen(const std::string &pfad);

// vokt follow's rows, one at a time as the records come: the columns of
// tabelle, each as wide as a usual text of it needs (a longer one pushes
// the rest on), and the heading for them.
std::string folgezeile(const Listenzeile &z);
std::string folgekopf();

#endif
