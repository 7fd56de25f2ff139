// vokt send: the request of a record sent to a server with libcurl, and
// the server's response shown as vokt replay shows a program's output.
// The words are read, and the edits made, where those of replay and curl
// are (replay.cpp).
#ifndef VOKT_SEND_H
#define VOKT_SEND_H

#include "httpantwort.h"
#include "intern/aufzeichnung.h"

extern const char SEND_USAGE[];

// What the caller chose.
struct Sendewahl {
    const char *datei = nullptr;       // RECORD, for messages
    const char *url = nullptr;         // --url BASE
    bool unsicher = false;             // --insecure: no check of the server's certificate
    const char *zertifikate = nullptr; // --cacert FILE: the certificates trusted instead of the system's
    bool still = false;                // the response kept in *r only: nothing of it printed (checks)
};

// Whether the words' BASE can be used, checked before the record is read;
// false after a message.
bool sendewahl_pruefen(const Sendewahl &w);

// Sends the request of the record b, whose body lies in the file quelle
// (a: the record as read, whose reader's notes are given), and writes the
// response to standard output as it came (status line, header lines with
// CR LF, an empty line, the body), then a summary on standard error.  0
// when a whole response came, whatever its status; FEHLER after a message
// when none came or it was cut off.  *r holds what was kept of it.  With
// w.still the response is neither written nor summed up: the caller checks
// it; messages of what failed still come.
int senden(const Sendewahl &w, int quelle, const vokt::intern::Aufzeichnung &a, const vokt::intern::Aufzeichnung &b,
           HttpAntwort *r);

#endif
