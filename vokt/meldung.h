// What every part of vokt and vokt-replay reports and writes with: its one-line
// messages on standard error, record text made safe for them, the exit
// status of an error, and a write that writes all bytes.
#ifndef VOKT_MELDUNG_H
#define VOKT_MELDUNG_H

#include <cstddef>
#include <string>
#include <string_view>

// Exit status of every error of the call or the record: nothing was run.
constexpr int FEHLER = 2;

// The program's name before every message: "vokt-replay" unless main
// sets another.
extern const char *programmname;

// programmname, ": " and the formatted text, as one line on standard error
// (at most 4095 bytes of the text).
__attribute__((format(printf, 1, 2))) void meldung(const char *format, ...);

// Text from a record for a message or a table: printable ASCII as it is,
// every other byte (and the backslash) as \xHH, so that a message stays
// one line and sends nothing to the terminal; at most `hoechstens` bytes
// of it, then "...".
std::string sichtbar(std::string_view text, std::size_t hoechstens = 64);

// A file's name for any text vokt prints (from a folder, a record or the
// command line, where a glob put a folder's names): escaped as sichtbar
// escapes, at most 4096 bytes of it.
std::string dateiname(std::string_view name);

// Writes the n bytes at p to fd, again after a signal or a short write;
// false with errno set when it fails.
bool alles_schreiben(int fd, const char *p, std::size_t n);

#endif
