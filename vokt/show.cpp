// vokt show RECORD [--html]: one record for a person to read, as plain
// text for a terminal or as one HTML page; the body read only up to
// PRAEFIX_HOECHSTENS bytes.
#include "anfrageansicht.h"
#include "aufzeichnungsdatei.h"
#include "befehle.h"
#include "meldung.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace vokt::intern;

namespace {

const char *const VERWENDUNG = "usage: vokt show RECORD [--html]\n\n"
                               "Shows one record of vokt.cgi for a person to read: the request line, the headers\n"
                               "with their names restored, the query's pairs, the body by its type (form pairs,\n"
                               "multipart parts, JSON, text, bytes in hex; its first 1 MiB) and notes on what\n"
                               "the server handed over oddly.  Every byte from the record is made safe.\n\n"
                               "  --html   one self-contained HTML page instead of plain text\n";

// The body's first bytes, at most PRAEFIX_HOECHSTENS of them.
bool praefix_lesen(int fd, const Aufzeichnung &a, std::string *praefix)
{
    praefix->assign(static_cast<std::size_t>(std::min<std::uint64_t>(a.inhaltlaenge(), PRAEFIX_HOECHSTENS)), '\0');
    for (std::size_t ab = 0; ab < praefix->size();) {
        ssize_t n = pread(fd, praefix->data() + ab, praefix->size() - ab, static_cast<off_t>(a.inhalt_ab() + ab));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errno = n == 0 ? ENODATA : errno;
            return false;
        }
        ab += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int befehl_show(int argc, char **argv)
{
    const char *datei = nullptr;
    bool html = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(VERWENDUNG, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--html") == 0) {
            html = true;
        } else if (argv[i][0] == '-' || datei != nullptr) {
            meldung("show: unexpected argument %s (vokt show --help tells the usage)", dateiname(argv[i]).c_str());
            return FEHLER;
        } else {
            datei = argv[i];
        }
    }
    if (datei == nullptr) {
        meldung("show: which record? (usage: vokt show RECORD [--html])");
        return FEHLER;
    }
    Aufzeichnung a;
    int fd = laden(datei, a);
    if (fd < 0)
        return FEHLER;
    std::string praefix;
    bool gelesen = praefix_lesen(fd, a, &praefix);
    int fehler = errno;
    close(fd);
    if (!gelesen) {
        meldung("%s: reading the body: %s", dateiname(datei).c_str(), std::strerror(fehler));
        return FEHLER;
    }
    Ansicht v = anfrage_ansicht(a, praefix);
    std::string aus = html ? als_html(v) : als_text(v);
    if (!alles_schreiben(STDOUT_FILENO, aus.data(), aus.size())) {
        meldung("show: writing: %s", std::strerror(errno));
        return FEHLER;
    }
    return 0;
}
