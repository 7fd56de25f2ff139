// vokt show RECORD [--html]: one record for a person to read, as plain
// text for a terminal or as one HTML page; the body read only up to
// PRAEFIX_HOECHSTENS bytes.  With --where FILTER, the newest record that
// FILTER matches.
#include "anfrageansicht.h"
#include "aufzeichnungsdatei.h"
#include "befehle.h"
#include "meldung.h"
#include "schwaerzen.h"
#include "treffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

const char *const VERWENDUNG = "usage: vokt show RECORD [--html]\n"
                               "       vokt show --where FILTER [DUMP | FOLDER] [--html]\n\n"
                               "Shows one record of vokt.cgi for a person to read: the request line, the headers\n"
                               "with their names restored, the query's pairs, the body by its type (form pairs,\n"
                               "multipart parts, JSON, text, bytes in hex; its first 1 MiB) and notes on what\n"
                               "the server handed over oddly.  Every byte from the record is made safe.\n\n"
                               "  --html   one self-contained HTML page instead of plain text\n"
                               "  --redact the values of Authorization, Proxy-Authorization, Cookie and of\n"
                               "           headers and form fields named *token*, *secret*, *password*,\n"
                               "           *key* or *signature* masked as '*', their lengths kept\n"
                               "  --where FILTER  the newest record at DUMP | FOLDER (or the effective user's\n"
                               "           dump) that FILTER matches (see vokt(1), FILTERS); none: exit 1\n";

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

// The newest record at ort that the filter matches; 0, or the exit status
// after a message.
int neuester_treffer(const char *text, const char *ort, std::string *pfad)
{
    Filter filter;
    std::vector<Fund> funde;
    if (!filter_uebersetzen("show", text, &filter))
        return FEHLER;
    int status = treffer("show", ort, filter, &funde);
    if (status == 0)
        *pfad = funde.back().pfad;
    return status;
}

} // namespace

int befehl_show(int argc, char **argv)
{
    const char *datei = nullptr, *filter = nullptr;
    bool html = false, geschwaerzt = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(VERWENDUNG, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--where") == 0 && i + 1 < argc && filter == nullptr) {
            filter = argv[++i];
        } else if (std::strcmp(argv[i], "--html") == 0) {
            html = true;
        } else if (std::strcmp(argv[i], "--redact") == 0) {
            geschwaerzt = true;
        } else if (argv[i][0] == '-' || datei != nullptr) {
            meldung("show: unexpected argument %s (vokt show --help tells the usage)", sichtbar(argv[i]).c_str());
            return FEHLER;
        } else {
            datei = argv[i];
        }
    }
    std::string neuester;
    if (filter != nullptr) {
        int status = neuester_treffer(filter, datei, &neuester);
        if (status != 0)
            return status;
        datei = neuester.c_str();
    }
    if (datei == nullptr) {
        meldung("show: which record? (usage: vokt show RECORD [--html])");
        return FEHLER;
    }
    Aufzeichnung a;
    int fd = laden(datei, a);
    if (fd < 0)
        return FEHLER;
    bool ok = zeigen(datei, fd, a, html, geschwaerzt);
    close(fd);
    return ok ? 0 : FEHLER;
}

bool zeigen(const char *datei, int fd, const Aufzeichnung &a, bool html, bool geschwaerzt)
{
    std::string praefix;
    if (!praefix_lesen(fd, a, &praefix)) {
        meldung("%s: reading the body: %s", sichtbar(datei).c_str(), std::strerror(errno));
        return false;
    }
    Aufzeichnung b;
    int kopie = geschwaerzt ? schwaerzen(a, &praefix, b) : -2;
    if (kopie == -1)
        return false;
    if (kopie >= 0)
        close(kopie);
    Ansicht v = anfrage_ansicht(geschwaerzt ? b : a, praefix);
    std::string aus = html ? als_html(v) : als_text(v);
    if (!alles_schreiben(STDOUT_FILENO, aus.data(), aus.size())) {
        meldung("show: writing: %s", std::strerror(errno));
        return false;
    }
    return true;
}
