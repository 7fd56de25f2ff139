// Run mode of vokt-replay: runs PROGRAM as a web server would have run it
// for the recorded request, with the record's entries as its environment
// and the recorded body as its standard input.
#ifndef VOKT_LAUF_H
#define VOKT_LAUF_H

#include "intern/aufzeichnung.h"

#include <string_view>
#include <vector>

// How to run: the program, and which entries it gets beyond those a web
// server sets for a CGI program.
struct Laufwahl {
    char **programm = nullptr;              // PROGRAM and its arguments, null-ended
    std::vector<std::string_view> behalten; // --keep
    bool alle_behalten = false;             // --keep-all
    bool lader_behalten = false;            // --keep-loader-variables
};

// Runs the program on the record (its body in the file quelle) and waits
// for it: its exit status, 128 and the signal's number when a signal ended
// it, FEHLER after a message when it could not be run.
int laufen(const Laufwahl &w, const char *datei, int quelle, const vokt::intern::Aufzeichnung &a);

#endif
