// Where vokt's commands find their records: the effective user's dump,
// where vokt.cgi writes it (~/cgidump, or /tmp/cgidump<uid> for nobody
// and for a user without a home directory); a history folder, each file
// in it that is a record; a dump, which stands for its history folder
// DUMP.d when there is one.
#ifndef VOKT_VERLAUFSORDNER_H
#define VOKT_VERLAUFSORDNER_H

#include "intern/aufzeichnung.h"

#include <functional>
#include <string>

// The path that a command's DUMP | FOLDER argument names (null: none
// given, the effective user's dump, which must then be there); empty
// after a message that starts with befehl.
std::string ort_bestimmen(const char *befehl, const char *argument);

// The history folder that pfad stands for: pfad itself, else pfad.d;
// empty when neither is a folder.
std::string verlaufsordner(const std::string &pfad);

// A record found: its path, its file name (in a folder; else the path),
// its entries part, its file open as fd (closed after the call).
using Besuch =
    std::function<void(const char *pfad, const std::string &datei, const vokt::intern::Aufzeichnung &a, int fd)>;

// Every record at pfad, in the order of their names: the records of its
// history folder (a file that is no record is skipped with a note), or
// pfad itself.  *ordner gets the folder (empty for one record).  False
// after a message when the folder cannot be read or the one record is no
// record.
bool durchgehen(const char *befehl, const std::string &pfad, const Besuch &besuch, std::string *ordner);

#endif
