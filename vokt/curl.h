// The curl command that vokt-replay prints for a record: made from the
// record alone, with no I/O, as its text or a refusal and the notes that go
// with it; the request that it and vokt send send again (method, target,
// headers), by one set of rules; and the checks that every byte taken from
// a record passes on its way into a request line and headers, and a body
// written out as a format for printf.
#ifndef VOKT_CURL_H
#define VOKT_CURL_H

#include "intern/aufzeichnung.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest body that the command holds itself.
constexpr std::uint64_t IM_BEFEHL_HOECHSTENS = 64 * 1024;

// What the caller chose, and the body as the command sends it.
struct CurlWahl {
    const char *url = nullptr; // --url BASE (scheme://host:port); null: the recorded host
    // The file that holds the body, which the command reads (--body-file);
    // null: the command holds the body itself.
    const char *inhaltsdatei = nullptr;
    std::string_view inhalt; // the body, when the command holds it
};

struct CurlErgebnis {
    std::string befehl;                // one line, with its line feed; empty when refused
    std::string verweigert;            // why no command is made, one line; empty when one is
    int status = 0;                    // the exit status: FEHLER when refused
    std::vector<std::string> hinweise; // what the command leaves out or assumes, one line each
};

// ---- the request sent again -------------------------------------------------

// The request that a record is sent again as, by curl's command and by
// vokt send alike (both are libcurl): the method, the target, the headers
// that the client sent, and whether a body goes with it.
struct Neuanfrage {
    std::string methode;               // REQUEST_METHOD, GET when there is none
    std::string basis;                 // scheme://host[:port], no trailing '/'
    std::string ziel;                  // the request target, bytes that break the line as %XX
    std::vector<std::string> koepfe;   // the header lines for libcurl (curl's -H), in the record's order
    bool mit_inhalt = false;           // see curl_mit_inhalt
    std::vector<std::string> hinweise; // what is left out or assumed, one line each
};

// The request for the record, to url (BASE, its trailing slashes left
// out; null: the recorded host).  koepfe holds "Name: value" ("Name;" for
// an empty value, which libcurl sends as "Name:") for each header that the
// client sent and that can stand on a header line (Host, Content-Length and
// Transfer-Encoding are libcurl's to send), then "Name:" for each of
// libcurl's own headers that the record lacks (User-Agent, Accept, and,
// when a body goes, Content-Type and Expect), which tells libcurl to leave
// it out.  Whether the method is a token is methode_verweigert's to say.
Neuanfrage neuanfrage(const vokt::intern::Aufzeichnung &a, const char *url);

// Whether the command sends a body: there is one, or the request is a
// POST (with Content-Length: 0); a record without '*' line has none.
bool curl_mit_inhalt(const vokt::intern::Aufzeichnung &a);

// Why the record's request cannot be sent, one line: a method that is no
// token would break the request line.  Empty when it can.
std::string methode_verweigert(const vokt::intern::Aufzeichnung &a);

// Why no command is made for the record, one line: a method that would
// break the request line, a body too large for the command and no file
// for it.  Empty when a command is made; known before the body is read.
std::string curl_verweigert(const vokt::intern::Aufzeichnung &a, const CurlWahl &w);

// The command that sends the recorded request again, or the refusal.
// Messages and notes are text to follow "RECORD: ".
CurlErgebnis curl_befehl(const vokt::intern::Aufzeichnung &a, const CurlWahl &w);

// ---- the byte rules ----------------------------------------------------------

// Whether text is a token of HTTP (RFC 9110: one or more of the letters,
// digits and !#$%&'*+-.^_`|~), as a method and a header name must be.
bool ist_token(std::string_view text);

// The header name of a CGI variable's name without its "HTTP_":
// ACCEPT_LANGUAGE -> Accept-Language; empty when it is no token.
std::string kopfname(std::string_view name);

// Whether a header value can stand on a header line as it is: no control
// byte (CR and LF would end the line and start a header of the sender's
// choosing; NUL, DEL and the others have no place in a value) but the tab.
bool ist_kopfwert(std::string_view wert);

// Whether a recorded host (with its port) holds only letters, digits and
// . - _ : [ ] and so can go into the URL as it is.
bool ist_host(std::string_view host);

// Whether a BASE for vokt send is "http://" or "https://" (in any case)
// and a host that ist_host takes, then nothing but '/'s: no user, path,
// query or other scheme, so that the record's target and nothing else
// says what is asked for.
bool ist_basis(std::string_view url);

// The request target with every byte that would break the request line
// (controls, blanks) written as %XX; *geaendert tells whether there was one.
std::string ziel_kodiert(std::string_view roh, bool *geaendert);

// The bytes as one single-quoted word that printf, as its format, writes
// out exactly: printable ASCII as it is but ' \ % (as \047, \\ and %%) and
// a '-' at the start, which printf would take for an option (as \055); line
// feed, tab and carriage return as \n \t \r, every other byte as a
// three-digit octal \ooo.  bash's and dash's printf and the printf program
// read it alike.
std::string printf_format(std::string_view bytes);

#endif
