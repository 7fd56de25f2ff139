// vokt list [--where FILTER] [DUMP | FOLDER]: the history as a table, newest
// first, or the records that FILTER matches.  A
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
#include "intern/verlauf.h"
#include "intern/verlaufsgrenzen.h"
#include "meldung.h"
#include "treffer.h"
#include "verlaufsliste.h"
#include "verlaufsordner.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

int hilfe()
{
    std::fputs("usage: vokt list [--where FILTER] [DUMP | FOLDER]\n\n"
               "The recorded requests as a table, newest first: time (UTC, from the history\n"
               "name, else the file's mtime), method, target, content type, the body bytes\n"
               "that arrived, and whether that is the whole announced body (whole, short,\n"
               "more; none: no '*' line, the request was refused before its body).\n\n"
               "FOLDER   a history folder: each record in it (other files are skipped, noted;\n"
               "         only regular files are opened; its keep file is passed over)\n"
               "DUMP     a dump: its history DUMP.d when there is one, or the one beside the\n"
               "         target of root's link at DUMP that vokt.cgi follows, else the dump alone\n"
               "(none)   the effective user's dump, as vokt.cgi finds it: ~/cgidump, or\n"
               "         /tmp/cgidump<uid> for nobody and users without a home\n"
               "--where FILTER   only the records that FILTER matches (see vokt(1), FILTERS);\n"
               "         none: exit status 1\n\n"
               "Record text is shown with every byte but printable ASCII as \\xHH.\n",
               stdout);
    return 0;
}

// The arguments: --where FILTER and DUMP | FOLDER; false when they are wrong.
bool argumente(int argc, char **argv, const char **filter, const char **ort)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--where") == 0 && i + 1 < argc && *filter == nullptr)
            *filter = argv[++i];
        else if ((argv[i][0] != '-' || argv[i][1] == '\0') && *ort == nullptr)
            *ort = argv[i];
        else
            return false;
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
    std::string keep = dateiname(ordner + "/" + VERLAUF_ZAHLDATEI);
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

} // namespace

int befehl_list(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return hilfe();
    const char *filtertext = nullptr, *ort = nullptr;
    Filter filter;
    if (!argumente(argc, argv, &filtertext, &ort)) {
        meldung("usage: vokt list [--where FILTER] [DUMP | FOLDER] (vokt list --help tells more)");
        return FEHLER;
    }
    if (filtertext != nullptr && !filter_uebersetzen("list", filtertext, &filter))
        return FEHLER;
    std::string pfad = ort_bestimmen("list", ort);
    if (pfad.empty())
        return FEHLER;
    std::vector<Listenzeile> zeilen;
    std::string ordner;
    auto besuch = [&](const char *p, const std::string &datei, const Aufzeichnung &a, int fd) {
        Zeitpunkt zeit;
        bool ja = filtertext == nullptr || passt(filter, p, a, fd, &zeit);
        if (!ja)
            return;
        zeilen.push_back(listenzeile(a, filtertext == nullptr ? aufzeichnungszeit(p, fd) : zeit, datei));
        struct stat st {};
        zeilen.back().angeheftet = fstat(fd, &st) == 0 && verlauf_angeheftet(st.st_mode);
    };
    if (!durchgehen("list", pfad, besuch, &ordner))
        return FEHLER;
    if (filtertext != nullptr && zeilen.empty()) {
        meldung("list: no record at %s matches the filter", dateiname(pfad).c_str());
        return KEIN_TREFFER;
    }
    if (!ordner.empty())
        einstellung_melden(ordner);
    std::string text = tabelle(zeilen);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (zeilen.empty())
        meldung("list: %s holds no records", dateiname(ordner).c_str());
    return std::fflush(stdout) == 0 ? 0 : FEHLER;
}
