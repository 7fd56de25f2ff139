// vokt list [DUMP | FOLDER]: the history as a table, newest first.  A
// FOLDER is read as a history: every file in it that is a record is a row,
// the others are skipped with a note.  A DUMP with its history folder
// DUMP.d beside it stands for that folder; without one it is the one row.
// With no argument, the effective user's dump is taken, where vokt.cgi
// writes it: ~/cgidump, or /tmp/cgidump<uid> for nobody and for a user
// without a home directory.
#include "aufzeichnungsdatei.h"
#include "aufzeichnungszeit.h"
#include "befehle.h"
#include "intern/dumpdatei.h"
#include "intern/nutzerdb.h"
#include "intern/verlauf.h"
#include "meldung.h"
#include "verlaufsliste.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

constexpr int NOBODY = 65534;

int hilfe()
{
    std::fputs("usage: vokt list [DUMP | FOLDER]\n\n"
               "The recorded requests as a table, newest first: time (UTC, from the history\n"
               "name, else the file's mtime), method, target, content type, the body bytes\n"
               "that arrived, and whether that is the whole announced body (whole, short,\n"
               "more; none: no '*' line, the request was refused before its body).\n\n"
               "FOLDER   a history folder: each record in it (other files are skipped, noted)\n"
               "DUMP     a dump: its history DUMP.d when there is one, else the dump alone\n"
               "(none)   the effective user's dump, as vokt.cgi finds it: ~/cgidump, or\n"
               "         /tmp/cgidump<uid> for nobody and users without a home\n\n"
               "Record text is shown with every byte but printable ASCII as \\xHH.\n",
               stdout);
    return 0;
}

// The effective user's dump path, as vokt.cgi makes it; empty after a message.
std::string eigener_dump()
{
    auto euid = static_cast<int>(geteuid());
    int fehlernummer = 0;
    char *home = euid != NOBODY ? heimverzeichnis(static_cast<uid_t>(euid), &fehlernummer) : nullptr;
    char *pfad = dumppfad(euid, home, NOBODY);
    std::string erg = pfad != nullptr ? pfad : "";
    std::free(home);
    std::free(pfad);
    if (fehlernummer != 0)
        meldung("list: the account database cannot be read: %s", std::strerror(fehlernummer));
    return erg;
}

// The row of the record file pfad; false when it is no record (noted).
bool zeile_lesen(const std::string &pfad, const std::string &datei, std::vector<Listenzeile> &zeilen)
{
    Aufzeichnung a;
    int fd = laden(pfad.c_str(), a);
    if (fd < 0)
        return false;
    zeilen.push_back(listenzeile(a, aufzeichnungszeit(pfad.c_str(), fd), datei));
    struct stat st {};
    zeilen.back().angeheftet = fstat(fd, &st) == 0 && verlauf_angeheftet(st.st_mode);
    close(fd);
    return true;
}

// Every record in the folder; false when it cannot be read.
bool ordner_lesen(const std::string &ordner, std::vector<Listenzeile> &zeilen)
{
    DIR *d = opendir(ordner.c_str());
    if (d == nullptr) {
        meldung("%s: %s", sichtbar(ordner).c_str(), std::strerror(errno));
        return false;
    }
    std::vector<std::string> namen;
    while (const dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
            std::strcmp(e->d_name, VERLAUF_STAND) != 0) // vokt.cgi's count of what came since it pruned
            namen.emplace_back(e->d_name);
    closedir(d);
    std::sort(namen.begin(), namen.end());
    for (const std::string &n : namen) {
        std::string pfad = ordner;
        pfad.append("/").append(n);
        if (!zeile_lesen(pfad, n, zeilen))
            meldung("list: skipped %s", sichtbar(n).c_str());
    }
    return true;
}

// What vokt.cgi makes of the folder's keep file, when it is not used as
// it stands.
void einstellung_melden(const std::string &ordner)
{
    int fd = open(ordner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    Verlaufsgrenzen g;
    Einstellung e = verlauf_grenzen(fd, g);
    close(fd);
    std::string keep = sichtbar(ordner + "/" + VERLAUF_ZAHLDATEI);
    if (e == Einstellung::GEKAPPT)
        meldung("list: %s names more than %d records; vokt.cgi keeps %d", keep.c_str(), VERLAUF_HOECHSTENS,
                VERLAUF_HOECHSTENS);
    else if (e == Einstellung::UNLESBAR)
        meldung("list: %s cannot be read (a link, a FIFO, no regular file, or over 127 bytes); vokt.cgi prunes "
                "nothing until it is mended",
                keep.c_str());
    else if (e == Einstellung::UNGUELTIG)
        meldung("list: %s names no limit (such as 1000, 7d, 500M); vokt.cgi prunes nothing until it is mended",
                keep.c_str());
}

bool ist_ordner(const std::string &pfad)
{
    struct stat st {};
    return stat(pfad.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int befehl_list(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return hilfe();
    if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        meldung("usage: vokt list [DUMP | FOLDER] (vokt list --help tells more)");
        return FEHLER;
    }
    std::string pfad = argc == 2 ? argv[1] : eigener_dump();
    if (pfad.empty())
        return FEHLER;
    if (argc < 2 && access(pfad.c_str(), F_OK) != 0) {
        meldung("list: no dump at %s, where vokt.cgi would write yours (vokt list DUMP | FOLDER names one)",
                sichtbar(pfad).c_str());
        return FEHLER;
    }
    std::vector<Listenzeile> zeilen;
    std::string ordner = ist_ordner(pfad) ? pfad : ist_ordner(pfad + ".d") ? pfad + ".d" : "";
    bool ok = ordner.empty() ? zeile_lesen(pfad, pfad, zeilen) : ordner_lesen(ordner, zeilen);
    if (!ok)
        return FEHLER;
    if (!ordner.empty())
        einstellung_melden(ordner);
    std::string text = tabelle(zeilen);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (zeilen.empty())
        meldung("list: %s holds no records", sichtbar(ordner).c_str());
    return std::fflush(stdout) == 0 ? 0 : FEHLER;
}
