// Which web server made a record, told from the record alone: by
// SERVER_SOFTWARE, else by the shape of the environment it handed over;
// and what that server's entries mean where servers differ.
#ifndef VOKT_HERKUNFT_H
#define VOKT_HERKUNFT_H

#include "intern/aufzeichnung.h"

#include <string_view>

enum class Server { UNBEKANNT, APACHE, LIGHTTPD, NGINX, BUSYBOX, MINI_HTTPD, GO, PYTHON };

// The server of record a: SERVER_SOFTWARE's product (Apache/...,
// lighttpd/..., nginx/..., "busybox httpd/...", mini_httpd/..., "go",
// "SimpleHTTP/... Python/..."); without one, Apache by SERVER_SIGNATURE
// or CONTEXT_PREFIX, nginx behind fcgiwrap by FCGI_ROLE and DOCUMENT_URI.
Server server_von(const vokt::intern::Aufzeichnung &a);

// The server's name for a note: "Apache", "Python's http.server", ...;
// "the server" when it is not known.
const char *servername(Server s);

// Whether the entry CONTENT_TYPE or CONTENT_LENGTH stands for a header
// that the client sent.  An empty CONTENT_LENGTH is no length, so never.
// nginx (through fastcgi_params) sets both for every request, empty when
// the request has no such header; lighttpd sets CONTENT_LENGTH for every
// request, 0 for a GET.  Both pass the header the client sent as
// HTTP_CONTENT_TYPE or HTTP_CONTENT_LENGTH as well: for nginx's empty
// values and lighttpd's CONTENT_LENGTH only that tells.
bool als_kopf_gesendet(const vokt::intern::Aufzeichnung &a, std::string_view name);

#endif
