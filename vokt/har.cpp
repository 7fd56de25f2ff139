// vokt har RECORD...: the records as one HAR 1.2 log on standard output
// (see harexport.h), in the order given.  Nothing is written when a record
// cannot be read.
#include "aufzeichnungsdatei.h"
#include "aufzeichnungszeit.h"
#include "befehle.h"
#include "harexport.h"
#include "meldung.h"
#include "verlaufsliste.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace vokt::intern;

namespace {

// The largest body that har reads into memory.
constexpr std::uint64_t INHALT_HOECHSTENS = std::uint64_t{256} << 20;

int hilfe()
{
    std::fputs("usage: vokt har RECORD...\n\n"
               "The records as one HAR 1.2 log on standard output, one entry each, in the\n"
               "order given: the request as recorded (its time from the history name, else\n"
               "the file's mtime; the URL from HTTPS or REQUEST_SCHEME, HTTP_HOST or\n"
               "SERVER_NAME:SERVER_PORT, and the target; headers with their names restored,\n"
               "cookies, query pairs, the body).  A body that is no UTF-8 is given in base64\n"
               "with \"encoding\": \"base64\", as Playwright's HAR reader takes it.  The\n"
               "response, which is not recorded, is empty (status 0).  Text that is no\n"
               "UTF-8 elsewhere has its bad bytes replaced by U+FFFD.\n",
               stdout);
    return 0;
}

// The entry of the record at pfad; false after a message.
bool eintrag_lesen(const char *pfad, Json &eintraege)
{
    Aufzeichnung a;
    int fd = laden(pfad, a);
    if (fd < 0)
        return false;
    std::string inhalt;
    bool ok = a.inhaltlaenge() <= INHALT_HOECHSTENS;
    if (!ok)
        meldung("%s: the body is larger than %llu MiB: refused", dateiname(pfad).c_str(),
                static_cast<unsigned long long>(INHALT_HOECHSTENS >> 20));
    else if (!(ok = inhalt_holen(fd, a, &inhalt)))
        meldung("%s: reading the body: %s", dateiname(pfad).c_str(), std::strerror(errno));
    if (ok) {
        std::vector<std::string> hinweise;
        eintraege.push_back(har_eintrag(a, inhalt, aufzeichnungszeit(pfad, fd), &hinweise));
        for (const std::string &h : hinweise)
            meldung("%s: %s", dateiname(pfad).c_str(), h.c_str());
    }
    close(fd);
    return ok;
}

} // namespace

int befehl_har(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return hilfe();
    if (argc < 2) {
        meldung("usage: vokt har RECORD... (vokt har --help tells more)");
        return FEHLER;
    }
    Json eintraege = Json::array();
    // A glob over a history names its keep file too: passed over.
    for (int i = 1; i < argc; ++i)
        if (!verlaufseigen(argv[i]) && !eintrag_lesen(argv[i], eintraege))
            return FEHLER;
    std::string text = har_log(std::move(eintraege), VOKT_VERSION).dump(2, ' ', false, Json::error_handler_t::replace);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : FEHLER;
}
