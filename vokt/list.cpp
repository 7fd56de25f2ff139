// vokt list [DUMP | FOLDER]: the history as a table, newest first.  A
// FOLDER is read as a history: every regular file in it that is a record
// is a row; links, FIFOs, devices and other files are skipped with a note
// (never opened), the history's keep file without one.  A DUMP with its
// history beside it (DUMP.d, or beside the target of root's link at DUMP
// as vokt.cgi follows it) stands for that history; without one it is the
// one row.
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
               "FOLDER   a history folder: each record in it (other files are skipped, noted;\n"
               "         only regular files are opened; its keep file is passed over)\n"
               "DUMP     a dump: its history DUMP.d when there is one, or the one beside the\n"
               "         target of root's link at DUMP that vokt.cgi follows, else the dump alone\n"
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
    close(fd);
    return true;
}

// What a folder entry that is no regular file is, for the note.
const char *art(mode_t modus)
{
    if (S_ISLNK(modus))
        return "a link";
    if (S_ISDIR(modus))
        return "a folder";
    if (S_ISFIFO(modus))
        return "a FIFO";
    return "a device or a socket";
}

// The row of the entry n of the open folder d: only a regular file is
// opened, anything else is passed over with a note.
void eintrag_lesen(int d, const std::string &ordner, const std::string &n, std::vector<Listenzeile> &zeilen)
{
    struct stat st {};
    if (fstatat(d, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        meldung("list: skipped %s: %s", dateiname(n).c_str(), std::strerror(errno));
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        meldung("list: skipped %s (%s, not opened)", dateiname(n).c_str(), art(st.st_mode));
        return;
    }
    std::string pfad = ordner + "/" + n;
    Aufzeichnung a;
    int fd = laden_aus(d, n.c_str(), pfad.c_str(), a);
    if (fd < 0) {
        meldung("list: skipped %s", dateiname(n).c_str());
        return;
    }
    zeilen.push_back(listenzeile(a, aufzeichnungszeit(pfad.c_str(), fd), n));
    close(fd);
}

// The names in the open folder d, sorted; false when it cannot be read.
bool namen_lesen(int d, std::vector<std::string> &namen)
{
    int kopie = dup(d);
    DIR *dir = kopie >= 0 ? fdopendir(kopie) : nullptr;
    if (dir == nullptr) {
        if (kopie >= 0)
            close(kopie);
        return false;
    }
    while (const dirent *e = readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            namen.emplace_back(e->d_name);
    closedir(dir);
    std::sort(namen.begin(), namen.end());
    return true;
}

// Every record in the folder (the history's own settings passed over
// without a word); false when it cannot be read.
bool ordner_lesen(const std::string &ordner, std::vector<Listenzeile> &zeilen)
{
    int d = open(ordner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> namen;
    if (d < 0 || !namen_lesen(d, namen)) {
        meldung("%s: %s", dateiname(ordner).c_str(), std::strerror(errno));
        if (d >= 0)
            close(d);
        return false;
    }
    for (const std::string &n : namen)
        if (!verlauf_einstellung(n.c_str()))
            eintrag_lesen(d, ordner, n, zeilen);
    close(d);
    return true;
}

bool ist_ordner(const std::string &pfad)
{
    struct stat st {};
    return stat(pfad.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The history of the dump at pfad: "<pfad>.d" beside it, else the one
// beside the target of root's link at pfad, followed under vokt.cgi's own
// rule (Dumpziel), where vokt.cgi keeps it.  Empty when there is none.
std::string verlauf_zum_dump(const std::string &pfad)
{
    if (ist_ordner(pfad + ".d"))
        return pfad + ".d";
    Dumpziel ziel;
    if (!ziel.finden(pfad.c_str()) || !ziel.gefolgt())
        return "";
    std::string beim_ziel = std::string(ziel.pfad()) + ".d";
    return ist_ordner(beim_ziel) ? beim_ziel : "";
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
                dateiname(pfad).c_str());
        return FEHLER;
    }
    std::vector<Listenzeile> zeilen;
    std::string ordner = ist_ordner(pfad) ? pfad : verlauf_zum_dump(pfad);
    bool ok = ordner.empty() ? zeile_lesen(pfad, pfad, zeilen) : ordner_lesen(ordner, zeilen);
    if (!ok)
        return FEHLER;
    std::string text = tabelle(zeilen);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (zeilen.empty())
        meldung("list: %s holds no records", dateiname(ordner).c_str());
    return std::fflush(stdout) == 0 ? 0 : FEHLER;
}
