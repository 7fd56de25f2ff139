// The record file that vokt-replay replays: opened and its entries part
// read (the body stays in the file), what the reader noticed about it, and
// the body copied out of it piece by piece.  Every file name in a message
// is escaped (see dateiname).
#ifndef VOKT_AUFZEICHNUNGSDATEI_H
#define VOKT_AUFZEICHNUNGSDATEI_H

#include "intern/aufzeichnung.h"

#include <cstdint>
#include <string>

// The record's entries part, read into a; its body stays in the file,
// whose descriptor is returned (-1 after a message).  Only a regular file
// is read: a FIFO or a device such as /dev/zero never ends.
int laden(const char *datei, vokt::intern::Aufzeichnung &a);

// The same for the entry name of the open folder ordner, which pfad names
// in messages: a link there is not followed, only a regular file opened.
int laden_aus(int ordner, const char *name, const char *pfad, vokt::intern::Aufzeichnung &a);

// What the reader noticed about the record, on standard error.
void lesehinweise(const char *datei, const vokt::intern::Aufzeichnung &a);

// Copies the body from the record file quelle to the descriptor nach, in
// pieces, so the memory it takes does not grow with the body.  False with
// errno set.
bool kopieren(int quelle, const vokt::intern::Aufzeichnung &a, int nach);

// The most body bytes that a command holds in memory (diff, har): a larger
// body is refused with one line, before any memory is taken for it.
constexpr std::uint64_t INHALT_HOECHSTENS = std::uint64_t{256} << 20;

// The body's first `hoechstens` bytes (all of it when it is shorter), into
// memory.  False with errno set.
bool inhalt_holen(int quelle, const vokt::intern::Aufzeichnung &a, std::string *inhalt,
                  std::uint64_t hoechstens = INHALT_HOECHSTENS);

// The whole body of the record datei, open as quelle, into memory; false
// after one line on standard error: the body is larger than
// INHALT_HOECHSTENS, or it cannot be read.
bool inhalt_laden(const char *datei, int quelle, const vokt::intern::Aufzeichnung &a, std::string *inhalt);

// Makes the program end with one line on standard error and the exit
// status FEHLER when memory runs out (operator new fails), instead of an
// abort: "RECORD: out of memory: too large for this command" for the
// record that laden() read last.
void speichermangel_melden();

// A copy of the body in pfad, a new file of mode 0600 (an existing one is
// never overwritten): it stays as it is when the next request overwrites
// the dump.  *voll gets its full path; false after a message.
bool inhaltsdatei_schreiben(const char *pfad, int quelle, const vokt::intern::Aufzeichnung &a, std::string *voll);

// An unnamed file in TMPDIR (or /tmp), open for reading and writing;
// -1 with errno set.
int unbenannte_datei();

#endif
