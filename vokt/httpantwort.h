// The response that vokt send gets from a server, as libcurl hands it
// over: its header lines one at a time (a status line first, then
// "Name: value" lines, then the empty line), then the body in pieces;
// kept within bounds that a hostile server cannot push, with no I/O.  A
// status code, the header lines and the body bytes: what a check of a
// response compares.
#ifndef VOKT_HTTPANTWORT_H
#define VOKT_HTTPANTWORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The most bytes of header lines taken, those of interim (1xx) responses
// and trailers too; and the most bytes of body.  Past either the response
// is cut off: the transfer stops.
constexpr std::size_t ANTWORTKOPF_HOECHSTENS = 64 * 1024;
constexpr std::size_t ANTWORTINHALT_HOECHSTENS = std::size_t{64} << 20;

struct HttpAntwort {
    int status = 0;                  // the final response's status code; 0: none read
    std::string statuszeile;         // its status line, without the line end
    std::vector<std::string> koepfe; // its "Name: value" lines as they came, without line ends
    std::string inhalt;              // its body
    bool kopf_fertig = false;        // the empty line after the final response's header came
    std::string abbruch;             // why it was cut off, one line; empty while it is whole
    std::size_t kopfbytes = 0;       // bytes of header lines taken so far
};

// One header line with its line end (CR LF or LF), as libcurl's header
// callback gives it.  A line "HTTP/..." before the header ends starts a
// response anew; the empty line ends the header, unless the status is
// 1xx (an interim response, which a final one follows).  False when the
// bound is passed (abbruch then says so).
bool kopfzeile_nehmen(HttpAntwort &r, std::string_view zeile);

// A piece of the body; false when the bound is passed (abbruch says so,
// and the bytes up to the bound are kept).
bool inhalt_nehmen(HttpAntwort &r, std::string_view stueck);

// How long the steps took, in microseconds from the start (libcurl's
// CURLINFO_*_TIME_T); tls 0 for plain http.
struct Antwortzeiten {
    std::int64_t verbunden = 0, tls = 0, erstes_byte = 0, gesamt = 0;
};

// The summary of the response, for lines after "BASE: ": its status,
// the count of header lines and of body bytes; then the times.  Every
// byte from the response made visible.
std::string antwort_text(const HttpAntwort &r);
std::string zeiten_text(const Antwortzeiten &z);

#endif
