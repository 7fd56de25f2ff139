// vokt har RECORD... | --where FILTER [DUMP | FOLDER]: the records, or
// those that FILTER matches in time order, as one HAR 1.2 log on standard
// output (see harexport.h).  Nothing is written when a record cannot be
// read.
#include "aufzeichnungsdatei.h"
#include "aufzeichnungszeit.h"
#include "befehle.h"
#include "harexport.h"
#include "meldung.h"
#include "schwaerzen.h"
#include "treffer.h"
#include "verlaufsliste.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

int hilfe()
{
    std::fputs("usage: vokt har [--redact] RECORD...\n"
               "       vokt har [--redact] --where FILTER [DUMP | FOLDER]\n\n"
               "The records as one HAR 1.2 log on standard output, one entry each, in the\n"
               "order given: the request as recorded (its time from the history name, else\n"
               "the file's mtime; the URL from HTTPS or REQUEST_SCHEME, HTTP_HOST or\n"
               "SERVER_NAME:SERVER_PORT, and the target; headers with their names restored,\n"
               "cookies, query pairs, the body).  A body that is no UTF-8 is given in base64\n"
               "with \"encoding\": \"base64\", as Playwright's HAR reader takes it.  The\n"
               "response, which is not recorded, is empty (status 0).  Text that is no\n"
               "UTF-8 elsewhere has its bad bytes replaced by U+FFFD.\n\n"
               "--where FILTER   every record at DUMP | FOLDER (or the effective user's dump)\n"
               "                 that FILTER matches (see vokt(1), FILTERS), in time order;\n"
               "                 none: exit status 1\n"
               "--redact         the values of Authorization, Proxy-Authorization, Cookie and\n"
               "                 of headers and form fields named *token*, *secret*, *password*,\n"
               "                 *key* or *signature* masked as '*', their lengths kept\n",
               stdout);
    return 0;
}

// The entry of the record at pfad, masked with --redact; false after a
// message.
bool eintrag_lesen(const char *pfad, Json &eintraege, bool geschwaerzt)
{
    Aufzeichnung a;
    int fd = laden(pfad, a);
    if (fd < 0)
        return false;
    std::string inhalt;
    bool ok = inhalt_laden(pfad, fd, a, &inhalt);
    Aufzeichnung b;
    int kopie = ok && geschwaerzt ? schwaerzen(a, &inhalt, b) : -2;
    ok = ok && kopie != -1;
    if (kopie >= 0)
        close(kopie);
    if (ok) {
        std::vector<std::string> hinweise;
        eintraege.push_back(har_eintrag(geschwaerzt ? b : a, inhalt, aufzeichnungszeit(pfad, fd), &hinweise));
        for (const std::string &h : hinweise)
            meldung("%s: %s", dateiname(pfad).c_str(), h.c_str());
    }
    close(fd);
    return ok;
}

// The records to export: the arguments, or the matches of --where
// FILTER at the one DUMP | FOLDER after it (or the effective user's dump).
// 0, or the exit status after a message.
int auswaehlen(int argc, char **argv, std::vector<std::string> *pfade)
{
    if (argc < 2 || (std::strcmp(argv[1], "--where") == 0 && (argc < 3 || argc > 4))) {
        meldung("usage: vokt har [--redact] RECORD... | --where FILTER [DUMP | FOLDER] (vokt har --help tells more)");
        return FEHLER;
    }
    if (std::strcmp(argv[1], "--where") != 0) {
        // A glob over a history names its keep file too: passed over.
        for (int i = 1; i < argc; ++i)
            if (!verlaufseigen(argv[i]))
                pfade->emplace_back(argv[i]);
        return 0;
    }
    Filter filter;
    std::vector<Fund> funde;
    if (!filter_uebersetzen("har", argv[2], &filter))
        return FEHLER;
    int status = treffer("har", argc == 4 ? argv[3] : nullptr, filter, &funde);
    for (const Fund &f : funde)
        pfade->push_back(f.pfad);
    return status;
}

} // namespace

int befehl_har(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return hilfe();
    bool geschwaerzt = argc > 1 && std::strcmp(argv[1], "--redact") == 0;
    if (geschwaerzt) {
        --argc;
        ++argv;
    }
    std::vector<std::string> pfade;
    if (int status = auswaehlen(argc, argv, &pfade); status != 0)
        return status;
    Json eintraege = Json::array();
    for (const std::string &pfad : pfade)
        if (!eintrag_lesen(pfad.c_str(), eintraege, geschwaerzt))
            return FEHLER;
    std::string text = har_log(std::move(eintraege), VOKT_VERSION).dump(2, ' ', false, Json::error_handler_t::replace);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : FEHLER;
}
