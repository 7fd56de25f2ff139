// vokt diff A B [--ignore NAME]... [--all]: what differs between two
// records, one line each (see vergleich.h), with the exit status of
// diff(1): 0 the same, 1 different, 2 trouble.
#include "aufzeichnungsdatei.h"
#include "befehle.h"
#include "meldung.h"
#include "vergleich.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

// The largest body that diff reads into memory.
constexpr std::uint64_t INHALT_HOECHSTENS = std::uint64_t{256} << 20;

int hilfe()
{
    std::fputs("usage: vokt diff A B [--ignore NAME]... [--all]\n\n"
               "What differs between the records A and B, one line each:\n"
               "  - NAME = \"value\"            an entry only in A     (+: only in B)\n"
               "  ~ NAME: \"in A\" -> \"in B\"    an entry in both, with another value\n"
               "  ~ length line: *N -> *M     the announced lengths ('*' lines)\n"
               "  ~ body: differs from byte N on (A n bytes, B m bytes)\n"
               "  query NAME, form NAME       the pairs of the query strings and of urlencoded\n"
               "                              bodies, decoded as vokt.cgi decodes them\n"
               "  # NAME appears more than once ...  a note: its last value is compared\n\n"
               "Left out unless --all: REMOTE_PORT, UNIQUE_ID, REQUEST_TIME, REQUEST_TIME_FLOAT,\n"
               "HTTP_X_REQUEST_ID, HTTP_TRACEPARENT (they differ between any two requests).\n"
               "--ignore NAME leaves out another entry.  Values are shown with every byte but\n"
               "printable ASCII as \\xHH, at most 200 bytes of each.\n\n"
               "Exit status: 0 the same, 1 different, 2 trouble.\n",
               stdout);
    return 0;
}

int falsch()
{
    meldung("usage: vokt diff A B [--ignore NAME]... [--all] (vokt diff --help tells more)");
    return FEHLER;
}

// The record at pfad, its body in memory; false after a message.
bool lesen(const char *pfad, Aufzeichnung &a, std::string &inhalt)
{
    int fd = laden(pfad, a);
    if (fd < 0)
        return false;
    bool ok = a.inhaltlaenge() <= INHALT_HOECHSTENS;
    if (!ok)
        meldung("%s: the body is larger than %llu MiB: not compared", dateiname(pfad).c_str(),
                static_cast<unsigned long long>(INHALT_HOECHSTENS >> 20));
    else if (!(ok = inhalt_holen(fd, a, &inhalt)))
        meldung("%s: reading the body: %s", dateiname(pfad).c_str(), std::strerror(errno));
    close(fd);
    return ok;
}

} // namespace

int befehl_diff(int argc, char **argv)
{
    std::vector<const char *> dateien;
    std::vector<std::string> ohne = stets_anders();
    bool alle = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help")
            return hilfe();
        if (arg == "--all")
            alle = true;
        else if (arg == "--ignore" && i + 1 < argc)
            ohne.emplace_back(argv[++i]);
        else if (arg.size() > 1 && arg[0] == '-')
            return falsch();
        else
            dateien.push_back(argv[i]);
    }
    if (dateien.size() != 2)
        return falsch();
    if (alle)
        ohne.erase(ohne.begin(), ohne.begin() + static_cast<std::ptrdiff_t>(stets_anders().size()));
    Aufzeichnung a;
    Aufzeichnung b;
    std::string inhalt_a;
    std::string inhalt_b;
    if (!lesen(dateien[0], a, inhalt_a) || !lesen(dateien[1], b, inhalt_b))
        return FEHLER;
    std::vector<Unterschied> liste = vergleichen({a, inhalt_a}, {b, inhalt_b}, ohne);
    for (const Unterschied &u : liste)
        std::printf("%s\n", beschreibung(u).c_str());
    if (std::fflush(stdout) != 0)
        return FEHLER;
    return verschieden(liste) ? 1 : 0;
}
