// The pieces of the curl command that vokt-replay prints: the checks that
// every byte taken from a record passes on its way into curl's request line
// and headers, and a body written out as a format for printf.
#ifndef VOKT_CURLBEFEHL_H
#define VOKT_CURLBEFEHL_H

#include <string>
#include <string_view>

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
