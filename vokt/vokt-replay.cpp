// vokt-replay: replays a request that vokt.cgi recorded in its dump file,
// into any CGI program as a web server would have started it, or as a curl
// command that sends it to a web server again.  Here: its options and
// usage, the way of replaying they choose, and what --body and --curl
// write out.
#include "aufzeichnungsdatei.h"
#include "curl.h"
#include "lauf.h"
#include "meldung.h"
#include "woerter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

using namespace vokt::intern;

namespace {

const char USAGE[] =
    "usage: vokt-replay [--keep NAME]... [--keep-all] [--keep-loader-variables] DUMPFILE [--] PROGRAM [ARG...]\n"
    "       vokt-replay --body DUMPFILE\n"
    "       vokt-replay --curl DUMPFILE [--url BASE] [--body-file FILE]\n"
    "       vokt-replay --version\n"
    "\n"
    "Replays a request that vokt.cgi recorded in DUMPFILE (a regular file).\n"
    "  PROGRAM   run it as a web server would have run it for that request: the\n"
    "            recorded entries are its environment, the recorded body is its\n"
    "            standard input; its output and exit status pass through.  Only\n"
    "            the variables a web server sets for a CGI program are passed (the\n"
    "            CGI ones, HTTP_*, SERVER_*, REMOTE_*, mod_ssl's SSL_*, REDIRECT_*,\n"
    "            CONTEXT_*, REQUEST_URI, DOCUMENT_ROOT and the like); every other\n"
    "            entry (BASH_ENV, PERL5OPT, LD_PRELOAD, SSL_CERT_FILE, HTTP_PROXY,\n"
    "            ...) is left out with a note.  The record's PATH becomes\n"
    "            /usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin.\n"
    "  --keep NAME  passes the entry NAME too (repeatable); --keep-all passes\n"
    "            every entry; --keep-loader-variables passes the entries that\n"
    "            change how a program is loaded (LD_*, MALLOC_*, GCONV_PATH, ...).\n"
    "  --body    write the recorded body, raw, to standard output.\n"
    "  --curl    print one shell command that sends the request again with curl,\n"
    "            to BASE (scheme://host:port) or to the recorded host.  A body of\n"
    "            up to 64 KiB is part of the command (printf 'BYTES' | curl ...);\n"
    "            a larger one is refused unless --body-file FILE is given.\n"
    "  --body-file FILE  write the body to FILE, a new file of mode 0600 (an\n"
    "            existing FILE is never overwritten), and let the command send\n"
    "            it from there, whatever its size.\n";

enum class Art { LAUFEN, INHALT, CURL };

struct Aufruf {
    Art art = Art::LAUFEN;
    const char *datei = nullptr; // DUMPFILE
    CurlWahl curl;               // --url, --body-file
    Laufwahl lauf;               // PROGRAM, --keep...
};

// The argument of the option at argv[i]; null, with a message, when none follows.
const char *argument(int argc, char **argv, int &i, const char *was)
{
    if (i + 1 >= argc) {
        meldung("%s needs %s", sichtbar(argv[i]).c_str(), was);
        return nullptr;
    }
    return argv[++i];
}

bool option(Aufruf &auf, int argc, char **argv, int &i)
{
    std::string_view o = argv[i];
    if (o == "--keep-loader-variables" || o == "--keep-all") {
        (o == "--keep-all" ? auf.lauf.alle_behalten : auf.lauf.lader_behalten) = true;
    } else if (o == "--keep") {
        const char *name = argument(argc, argv, i, "a NAME");
        if (name == nullptr)
            return false;
        auf.lauf.behalten.emplace_back(name);
    } else if (o == "--body" || o == "--curl") {
        if (auf.art != Art::LAUFEN) {
            meldung("--body and --curl exclude each other");
            return false;
        }
        auf.art = o == "--body" ? Art::INHALT : Art::CURL;
    } else if (o == "--url" || o == "--body-file") {
        const char *w = argument(argc, argv, i, o == "--url" ? "a BASE (scheme://host:port)" : "a FILE");
        if (w == nullptr)
            return false;
        (o == "--url" ? auf.curl.url : auf.curl.inhaltsdatei) = w;
    } else {
        meldung("unknown option %s (--help shows the usage)", sichtbar(argv[i]).c_str());
        return false;
    }
    return true;
}

// Which options go with which way of replaying.
bool passend(const Aufruf &auf)
{
    if ((auf.curl.url != nullptr || auf.curl.inhaltsdatei != nullptr) && auf.art != Art::CURL) {
        meldung("%s belongs to --curl", auf.curl.url != nullptr ? "--url" : "--body-file");
        return false;
    }
    bool behalten = auf.lauf.alle_behalten || auf.lauf.lader_behalten || !auf.lauf.behalten.empty();
    if (behalten && auf.art != Art::LAUFEN) {
        meldung("--keep, --keep-all and --keep-loader-variables belong to running a PROGRAM");
        return false;
    }
    if (auf.art == Art::LAUFEN && auf.lauf.programm == nullptr) {
        meldung("%s: no PROGRAM given to run", dateiname(auf.datei).c_str());
        return false;
    }
    if (auf.art != Art::LAUFEN && auf.lauf.programm != nullptr) {
        meldung("unexpected argument %s", dateiname(auf.lauf.programm[0]).c_str());
        return false;
    }
    return true;
}

// Options stand before PROGRAM; everything from PROGRAM on is its own.
bool argumente(Aufruf &auf, int argc, char **argv)
{
    int i = vor_programm(argc, argv, auf.datei, [&](int &j) { return option(auf, argc, argv, j); });
    if (i < 0)
        return false;
    if (i < argc)
        auf.lauf.programm = argv + i;
    if (auf.datei == nullptr) {
        meldung("no DUMPFILE given (--help shows the usage)");
        return false;
    }
    return passend(auf);
}

int inhalt_ausgeben(const Aufruf &auf, int quelle, const Aufzeichnung &a)
{
    if (!kopieren(quelle, a, 1)) {
        meldung("%s: copying the body: %s", dateiname(auf.datei).c_str(), std::strerror(errno));
        return 1;
    }
    return 0;
}

// The body as the command sends it, into w: read into *inhalt when the
// command holds it, or copied to the --body-file, whose full path goes into
// *voll.  False after a message.
bool inhalt_bereitstellen(const Aufruf &auf, int quelle, const Aufzeichnung &a, CurlWahl &w, std::string *inhalt,
                          std::string *voll)
{
    if (!curl_mit_inhalt(a)) {
        if (auf.curl.inhaltsdatei != nullptr)
            meldung("%s: the request has no body; %s is not written", dateiname(auf.datei).c_str(),
                    dateiname(auf.curl.inhaltsdatei).c_str());
        return true;
    }
    if (auf.curl.inhaltsdatei != nullptr) {
        if (!inhaltsdatei_schreiben(auf.curl.inhaltsdatei, quelle, a, voll))
            return false;
        w.inhaltsdatei = voll->c_str();
        return true;
    }
    if (!inhalt_holen(quelle, a, inhalt)) {
        meldung("%s: reading the body: %s", dateiname(auf.datei).c_str(), std::strerror(errno));
        return false;
    }
    w.inhalt = *inhalt;
    return true;
}

// The refusal is known before the body is read or its file made; the
// reader's notes follow the body, the command's notes follow them.
int curl_ausgeben(const Aufruf &auf, int quelle, const Aufzeichnung &a)
{
    CurlWahl w = auf.curl;
    std::string verweigert = curl_verweigert(a, w);
    if (!verweigert.empty()) {
        meldung("%s: %s", dateiname(auf.datei).c_str(), verweigert.c_str());
        return FEHLER;
    }
    std::string inhalt, voll;
    if (!inhalt_bereitstellen(auf, quelle, a, w, &inhalt, &voll))
        return FEHLER;
    lesehinweise(auf.datei, a);
    CurlErgebnis e = curl_befehl(a, w); // not refused: curl_verweigert() said so
    for (const std::string &h : e.hinweise)
        meldung("%s: %s", dateiname(auf.datei).c_str(), h.c_str());
    const std::string &t = e.befehl;
    return std::fwrite(t.data(), 1, t.size(), stdout) == t.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(USAGE, stderr);
        return argc < 2 ? FEHLER : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0)
        return std::puts("vokt-replay " VOKT_VERSION) >= 0 ? 0 : FEHLER;
    Aufruf auf;
    if (!argumente(auf, argc, argv))
        return FEHLER;
    Aufzeichnung a;
    int quelle = laden(auf.datei, a);
    if (quelle < 0)
        return FEHLER;
    switch (auf.art) {
    case Art::INHALT: return inhalt_ausgeben(auf, quelle, a);
    case Art::CURL: return curl_ausgeben(auf, quelle, a);
    case Art::LAUFEN: break;
    }
    return laufen(auf.lauf, auf.datei, quelle, a);
}
