// What vokt replay says about a CGI program's output: whether it starts
// with a valid CGI response (RFC 3875, section 6), found from its first
// bytes alone, with no I/O.
//
// A response is header lines "Name: value" (the name an HTTP token, the
// value without control bytes but the tab), ended by an empty line; each
// line ends in LF or CRLF.  One of Content-Type, Location and Status must
// be among them, none of the three more than once; Status holds a
// three-digit code 100..599, then the end or a blank and the reason
// phrase.  A body after the empty line needs a Content-Type (a document).
// A Location that is a path (a local redirect) stands alone: no other
// header field, no body; one that is an absolute URI (a client redirect)
// takes a body only with a Status of 3xx and a Content-Type.
#ifndef VOKT_ANTWORT_H
#define VOKT_ANTWORT_H

#include "schnappschuss.h"

#include <cstddef>
#include <string>
#include <string_view>

// How much of the output's start is examined: the header must end within it.
constexpr std::size_t ANFANG_HOECHSTENS = 64 * 1024;

struct Urteil {
    enum Zeilenende { KEINE, LF, CRLF, GEMISCHT };

    bool gueltig = false;
    std::string grund;             // why it is not valid, one line; empty when it is
    Zeilenende zeilenende = KEINE; // of the header lines read, the empty line too
    bool content_type = false, location = false;
    std::string status;         // a well-formed Status value ("404 Not Found"); empty: none
    bool status_falsch = false; // a Status line that is not well-formed
};

// The verdict on the output's first bytes; ganz: they are all of it (the
// output ended within ANFANG_HOECHSTENS).
Urteil antwort_pruefen(std::string_view anfang, bool ganz);

// The verdict for the summary, one line (record bytes made visible).
std::string urteil_text(const Urteil &u);

// All of a CGI program's output as the response that a web server makes
// of it: the Status header's code (that line left out), else 302 with a
// Location, else 200; the other header lines in order; the body after the
// empty line.  Output that is no valid CGI response is a response 500 with
// no header, all of the output its body.
Antwort cgi_antwort(std::string_view ausgabe);

#endif
