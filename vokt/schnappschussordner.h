// The snapshots of responses in a folder (--snapshot DIR), and the checks
// of a response that the options ask for, for any command that obtains
// responses: a missing snapshot is written, an existing one compared, a
// differing one rewritten with --update.  A snapshot is written to a
// temporary file in the folder, then renamed over the old one; no link in
// the folder is ever followed, and only a regular file is read.
#ifndef VOKT_SCHNAPPSCHUSSORDNER_H
#define VOKT_SCHNAPPSCHUSSORDNER_H

#include "schnappschuss.h"

#include <string>

// What the options ask: --snapshot DIR [--update] [--ignore-header NAME]...
// and --expect-status N, --expect-header 'Name: value' (repeatable).
struct Schnappschusswahl {
    const char *ordner = nullptr; // --snapshot; null: none
    bool erneuern = false;        // --update
    Ohne ohne;                    // --ignore-header
    Erwartung erwartung;          // --expect-status, --expect-header

    // Whether a response is checked at all.
    bool gefragt() const { return ordner != nullptr || erwartung.status != 0 || !erwartung.kopf.empty(); }
};

// The usage lines of the options, for a command's --help.
extern const char SCHNAPPSCHUSS_USAGE[];

// The option at argv[i] when it is one of these, its argument after it
// taken (i moved on to it): 1 when taken, 0 after a message, -1 when it is
// none of these.
int schnappschussoption(Schnappschusswahl &w, int argc, char **argv, int &i);

// Whether the options go together (--update and --ignore-header need
// --snapshot); false after a message.
bool schnappschusswahl_pruefen(const Schnappschusswahl &w);

struct Abgleich {
    enum Art { NEU, GLEICH, ANDERS, ERNEUERT, FEHLER };
    Art art = FEHLER;
    std::string text; // "new", "same", "differs: WHAT", "updated: WHAT"; empty with FEHLER
};

// The response a against the snapshot `name` (see schnappschussname()) in
// w.ordner, which is made when it is missing (one level): written when
// there is none (NEU), compared (GLEICH, ANDERS: the first difference, or
// why the snapshot is unreadable), rewritten when it differs and
// w.erneuern (ERNEUERT).  FEHLER after a message: the folder or the file
// cannot be read or written, or it is no regular file.
Abgleich abgleichen(const Antwort &a, const std::string &name, const Schnappschusswahl &w);

#endif
