// What a person should know about a recorded request, one line each: what
// the web server kept back or passed on in a way a program trips over,
// and what in the request's bytes does not hang together.
#ifndef VOKT_HINWEISE_H
#define VOKT_HINWEISE_H

#include "intern/aufzeichnung.h"

#include <string>
#include <string_view>
#include <vector>

// The notes on record a, whose body starts with praefix (all of it when
// praefix is as long as the body).  Bytes from the record stand in them as
// they are: whoever shows them makes them safe.
std::vector<std::string> hinweise(const vokt::intern::Aufzeichnung &a, std::string_view praefix);

// Whether the body still carries the framing of chunked delivery (a size
// line in hex before each piece, "0" and an empty line at the end): one
// whole piece at least, or the last one; it may be cut after that.
bool mit_chunkrahmen(std::string_view inhalt);

#endif
