// Request intake of a CGI program: reads the request from the environment
// block and standard input, records it in a dump file, echoes diagnostic
// sections onto the page and decodes the form data into a Varmap.
#ifndef VOKT_CGIVAR_H
#define VOKT_CGIVAR_H

#include "varmap.h"

// Option bits of getcgienv.
constexpr int GCV_ENVVARS = 1; // store the other environment variables too
constexpr int GCV_DEBUGL1 = 2; // a POST's content length onto the page
constexpr int GCV_DEBUGL2 = 4; // environment section and raw POST body
constexpr int GCV_DUMP = 8;    // page head, user line and the dump file
constexpr int GCV_DEBUGALL = GCV_DEBUGL1 | GCV_DEBUGL2;

// The most pairs one call of aufspalt stores (a replacement counts): the
// map never resizes, so this bounds the work one request can cause.
constexpr int MAXPAARE = 10000;

// One hex digit: '0'-'9', 'a'-'f', 'A'-'F' give 0..15, anything else 0.
static constexpr char hex(char z)
{
    if (z >= '0' && z <= '9')
        return static_cast<char>(z - '0');
    if (z >= 'a' && z <= 'f')
        return static_cast<char>(z - 'a' + 10);
    if (z >= 'A' && z <= 'F')
        return static_cast<char>(z - 'A' + 10);
    return 0;
}

// Reads the request described by env (ended by a null entry) and stdin.
// Ends the process with status 1 on a refused method or when the dump file
// cannot be written.  The page is held in memory until the body has been
// read.  The result is 0, or 1 when the record in the dump file is not
// whole (a failed write, or a prepared dump file busy with another
// request): the caller should then end with status 1.
int getcgienv(Varmap *erg, char **env, int options);

// Decodes inhaltlang bytes of urlencoded form data in place and stores each
// name/value pair in erg.  puffer needs one more writable byte after the
// input.  Beyond MAXPAARE pairs it reports the excess once and stops.
// -1 for an empty input, else 0.
int aufspalt(Varmap *erg, char *puffer, int inhaltlang);

// One page line per variable of tab: name, " = ", value, "<p>".
void probeausgabe(const Varmap *tab);

#endif
