// vokt har's document: a record as one entry of a HAR 1.2 log (the
// request as it was recorded; the response, which vokt.cgi does not
// record, empty as HAR allows), and the log around the entries.  Made from
// the records alone, with no I/O; nlohmann::ordered_json keeps HAR's order
// of fields.
#ifndef VOKT_HAREXPORT_H
#define VOKT_HAREXPORT_H

#include "aufzeichnungszeit.h"
#include "intern/aufzeichnung.h"

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using Json = nlohmann::ordered_json;

// The request's URL: the scheme and host of anfragebasis(), then the
// target (see anfrageziel; "/" when there is none) with every byte that no
// URL holds as it is (controls, blanks, bytes beyond ASCII) as %XX.  A
// target in absolute form (http://, https://) is the URL itself.
std::string har_url(const vokt::intern::Aufzeichnung &a);

// The pairs of a Cookie header: split at ';', blanks around each taken
// off, the name before the first '=' (empty when there is none).
std::vector<std::pair<std::string, std::string>> kekse(std::string_view kopf);

// The request's headers with their names restored: HTTP_ACCEPT_LANGUAGE
// as Accept-Language, CONTENT_TYPE and CONTENT_LENGTH as Content-Type and
// Content-Length; the last value of a repeated name.  A name that is no
// header name is left out, with a note in *hinweise.
Json har_koepfe(const vokt::intern::Aufzeichnung &a, std::vector<std::string> *hinweise);

// The bytes in base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);

// The entry of a record with its body and its time.  postData is there
// when the body has bytes or the method is POST: its text is the body as
// it is when that is UTF-8, else the body in base64 with "encoding":
// "base64" (as Playwright's HAR reader takes it) and a comment that says
// so; params are the pairs of a urlencoded body.  bodySize is the body
// bytes that arrived (0 without '*' line).
Json har_eintrag(const vokt::intern::Aufzeichnung &a, std::string_view inhalt, const Zeitpunkt &zeit,
                 std::vector<std::string> *hinweise);

// The log: version 1.2, the creator vokt with its version, the entries.
Json har_log(Json eintraege, const char *version);

#endif
