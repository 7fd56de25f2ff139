// What list, diff and har read out of a record's entries: the request
// target, the URL's scheme and host, whether the body is a urlencoded
// form, the form pairs decoded as vokt.cgi decodes them; and record text
// made safe for a terminal.
#ifndef VOKT_ANFRAGE_H
#define VOKT_ANFRAGE_H

#include "intern/aufzeichnung.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The request target as sent: REQUEST_URI, else SCRIPT_NAME, PATH_INFO and
// "?" QUERY_STRING (when there is one); empty when the record has none.
std::string anfrageziel(const vokt::intern::Aufzeichnung &a);

// "http://host" or "https://host[:port]": https when HTTPS is on (on, ON,
// 1) or REQUEST_SCHEME is https; the host from HTTP_HOST, else SERVER_NAME
// with SERVER_PORT unless it is the scheme's own, else localhost.  A host
// with bytes that are no host's (see ist_host) is passed over.
std::string anfragebasis(const vokt::intern::Aufzeichnung &a);

// Whether a CONTENT_TYPE names a urlencoded form (the type before any ';',
// without regard to case and blanks).
bool ist_urlencoded(std::string_view typ);

using Formpaare = std::vector<std::pair<std::string, std::string>>;

// Every pair that vokt.cgi stores for the form text, in its order: '&'
// ends a pair, '=' ends a name (which later pairs without one keep; empty
// before the first), '+' is a space, '%' and two hex digits a byte (other
// characters, and digits missing at the end, count as 0); a name or value
// ends at its first zero byte.  An empty text has no pairs.
Formpaare formpaare(std::string_view text);

// The last value of every name in the pairs, by name: what the program's
// map holds.
Formpaare letzte_werte(const Formpaare &paare);

// Record text for a terminal: printable ASCII as it is, every other byte
// (and the backslash) as \xHH; at most `hoechstens` bytes of it, then
// "...".
std::string anzeigbar(std::string_view text, std::size_t hoechstens);

#endif
