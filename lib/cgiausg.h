// The answer page: its frame, the error reports that write onto it, and the
// escaping of every text on it that the program did not write itself.
#ifndef VOKT_CGIAUSG_H
#define VOKT_CGIAUSG_H

#include <cstddef>

// "Content-type: text/html", a blank line, the opening of the page and an
// H1 heading, both with titel.
void html_kopf(const char *titel);
// "</BODY>\n</HTML>\n".
void html_ende();

// An internal error: onto the page (escaped) and raw onto standard error,
// then the page end.  The caller goes on.  The text is cut at 1023 bytes.
void cgi_error(const char *errmsg, ...) __attribute__((format(printf, 1, 2)));
// An error of the user: onto the page only, then the page end.
void cgi_usererror(const char *errmsg, ...) __attribute__((format(printf, 1, 2)));

// Writes text to the page with & < > " as HTML entities, so that whatever
// a request carries shows literally and never becomes markup.
void html_text(const char *text);
// The same for exactly n bytes of text, zero bytes included.
void html_text_n(const char *text, std::size_t n);
// The same for up to n bytes of text that stops before a zero byte: true
// when it met one.
bool html_text_bis_null(const char *text, std::size_t n);

// From seite_halten on, the page is gathered in memory instead of going to
// standard output; seite_freigeben writes what was gathered and lets the
// page go on as before.  A server that hands over the body only as the
// program reads it, and reads the page only after the whole body is
// written, would otherwise wait for the program while it waits for the
// server.  Both may be called any number of times.  The first seite_halten
// also makes a non-blocking standard output wait for its reader instead of
// failing.
void seite_halten();
void seite_freigeben();

#endif
