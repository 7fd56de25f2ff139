// The facts of a request that show, list, diff, har and curl all read out
// of a record's entries, each from one function here: the request target,
// the URL's scheme and host, whether the body is a urlencoded form, and the
// form pairs decoded as vokt.cgi decodes them.
#ifndef VOKT_ANFRAGE_H
#define VOKT_ANFRAGE_H

#include "intern/aufzeichnung.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The request target as sent: REQUEST_URI unless it is empty (a server
// that sets it empty named no target), else SCRIPT_NAME, PATH_INFO and "?"
// QUERY_STRING (when there is one); empty when the record has none.
std::string anfrageziel(const vokt::intern::Aufzeichnung &a);

// "http://host" or "https://host[:port]": https when HTTPS is on (on, ON,
// 1) or REQUEST_SCHEME is https (in any case); the host from HTTP_HOST,
// else SERVER_NAME with SERVER_PORT unless it is the scheme's own, else
// localhost, and then *ohne_host (when given) is true.  A host with bytes
// that are no host's (see ist_host) is passed over.
std::string anfragebasis(const vokt::intern::Aufzeichnung &a, bool *ohne_host = nullptr);

// The entry that holds a header: CONTENT_TYPE and CONTENT_LENGTH as they
// are, every other one HTTP_ and the name in capitals, '-' as '_'
// ("X-Hub-Signature-256" -> HTTP_X_HUB_SIGNATURE_256).
std::string kopfeintrag(std::string_view kopf);

// Whether a CONTENT_TYPE names a urlencoded form (the type before any ';',
// without regard to case and blanks).
bool ist_urlencoded(std::string_view typ);

struct Paar {
    std::string name;
    std::string wert;
    bool operator==(const Paar &) const = default;
};
using Formpaare = std::vector<Paar>;

// Every pair that vokt.cgi stores for the form text, in its order: '&'
// ends a pair, '=' ends a name (which later pairs without one keep; empty
// before the first), '+' is a space, '%' and two hex digits a byte (other
// characters, and digits missing at the end, count as 0); a name or value
// ends at its first zero byte.  An empty text has no pairs.  As vokt.cgi,
// it stops after MAXPAARE pairs (see formpaare_anzahl): what follows is
// not decoded, so neither time nor memory grows beyond the text's size.
Formpaare formpaare(std::string_view text);

// How many pairs the text holds, those beyond MAXPAARE too.
std::size_t formpaare_anzahl(std::string_view text);

// The last value of every name in the pairs, by name: what the program's
// map holds.
Formpaare letzte_werte(const Formpaare &paare);

#endif
