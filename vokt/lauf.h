// Run mode of vokt-replay: runs PROGRAM as a web server would have run it
// for the recorded request, with the record's entries as its environment
// and the recorded body as its standard input.
#ifndef VOKT_LAUF_H
#define VOKT_LAUF_H

#include "intern/aufzeichnung.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The search path that the program gets instead of the record's PATH:
// the one that Debian's Apache gives its CGI programs.
constexpr const char *SUCHPFAD = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// What passed through from the program, when the caller asks for it: its
// standard output and standard error go through pipes to ours, counted,
// and the start of the output is kept.
struct Mitschnitt {
    std::size_t anfang_hoechstens = 0; // how many bytes of the output's start to keep
    bool weitergeben = true;           // false: counted and kept, not passed on
    std::string anfang;                // the output's first bytes
    std::uint64_t ausgabe = 0;         // bytes on the program's standard output
    std::uint64_t fehlerausgabe = 0;   // bytes on its standard error
    char fehlerende = '\n';            // the last byte on its standard error
    bool gelaufen = false;             // the program ran (laufen() returned its status)
    int signal = 0;                    // the signal that ended it, 0 if none
};

// How to run: the program, and which entries it gets beyond those a web
// server sets for a CGI program.
struct Laufwahl {
    char **programm = nullptr;              // PROGRAM and its arguments, null-ended
    std::vector<std::string_view> behalten; // --keep
    bool alle_behalten = false;             // --keep-all
    bool lader_behalten = false;            // --keep-loader-variables
    // The record whose reader's notes are given (null: the one that runs),
    // when the one that runs is an edited copy of it.
    const vokt::intern::Aufzeichnung *urschrift = nullptr;
    Mitschnitt *mitschnitt = nullptr; // null: the output goes straight to ours
};

// Runs the program on the record (its body in the file quelle) and waits
// for it: its exit status, 128 and the signal's number when a signal ended
// it, FEHLER after a message when it could not be run.
int laufen(const Laufwahl &w, const char *datei, int quelle, const vokt::intern::Aufzeichnung &a);

#endif
