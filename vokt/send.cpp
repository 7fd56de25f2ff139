#include "send.h"

#include "aufzeichnungsdatei.h"
#include "curl.h"
#include "meldung.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <string>
#include <unistd.h>

using namespace vokt::intern;

const char SEND_USAGE[] = "usage: vokt send RECORD --url BASE [--cacert FILE | --insecure] [EDIT]... [CHECK]...\n"
                          "       vokt send --where FILTER [DUMP | FOLDER] --url BASE [...] [CHECK]...\n"
                          "\n"
                          "Sends the request recorded in RECORD to BASE (http://HOST[:PORT] or\n"
                          "https://HOST[:PORT]) with libcurl: its method, its target as it was sent,\n"
                          "the headers the client sent and the body, by the rules of vokt curl (a\n"
                          "header whose value holds a line break or another control byte is left out\n"
                          "with a note, a method that is no token is refused).  The response is\n"
                          "written to standard output as it came: the status line, the header lines,\n"
                          "an empty line, the body (at most 64 KiB of header lines and 64 MiB of body).\n"
                          "Then a summary on standard error: the status, how many header lines and\n"
                          "body bytes, how long connecting, TLS, the first byte and all of it took.\n"
                          "Exit status 0 when a whole response came, whatever its status; 2 when none\n"
                          "came (no connection, a certificate that is not trusted, no answer within 5\n"
                          "minutes) or it was cut off.\n"
                          "\n"
                          "The server's certificate is checked against the system's certificates,\n"
                          "or against those in FILE (PEM) with --cacert FILE; --insecure checks none\n"
                          "(with a note).  HTTP/1.1 always; no proxy (http_proxy and the like are not\n"
                          "used), no redirect followed, no cookie or .netrc added.\n"
                          "\n"
                          "EDIT, applied in the order given, to a copy (RECORD stays as it is):\n"
                          "  --set NAME=VALUE  the entry NAME gets VALUE (added when there is none):\n"
                          "                    --set HTTP_COOKIE=a=1 sends \"Cookie: a=1\"\n"
                          "  --unset NAME      every entry NAME is left out\n"
                          "  --body-file FILE  send FILE's content (a pipe such as /dev/stdin too)\n"
                          "                    instead of the recorded body\n"
                          "\n"
                          "With a CHECK (or --where, every record that FILTER matches, oldest first),\n"
                          "the response is kept, not shown, and checked: one line for each record (its\n"
                          "time, the target sent, the status, the snapshot's word), then one for each\n"
                          "expectation that failed; exit status 1 when any check failed.  How the body\n"
                          "came (Transfer-Encoding, Content-Length) and Connection, Keep-Alive are no\n"
                          "part of the response checked.  CHECK:\n";

namespace {

// How long vokt send waits: for the connection, and for all of it.
constexpr long VERBINDEN_SEKUNDEN = 30;
constexpr long GESAMT_SEKUNDEN = 300;

struct CurlLoeschen {
    void operator()(CURL *c) const { curl_easy_cleanup(c); }
};
struct ListeLoeschen {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
using Griff = std::unique_ptr<CURL, CurlLoeschen>;
using Liste = std::unique_ptr<curl_slist, ListeLoeschen>;

// What the callbacks share: the body's file, the response, whether its
// header is printed already, and a failed write to standard output.
struct Transfer {
    int quelle = -1;
    std::uint64_t ab = 0, rest = 0; // the body: where it starts in quelle, how much is left
    HttpAntwort *antwort = nullptr;
    bool kopf_gedruckt = false;
    bool still = false; // nothing written: the response is only kept
    bool ausgabe_fehler = false;
    int fehlernummer = 0; // errno of the failed write
};

bool schreiben(Transfer &t, std::string_view text)
{
    if (!t.still && !t.ausgabe_fehler && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        t.ausgabe_fehler = true;
        t.fehlernummer = errno;
    }
    return !t.ausgabe_fehler;
}

void kopf_drucken(Transfer &t)
{
    std::string k = t.antwort->statuszeile + "\r\n";
    for (const std::string &z : t.antwort->koepfe)
        k.append(z).append("\r\n");
    schreiben(t, k + "\r\n");
    t.kopf_gedruckt = true;
}

std::size_t kopf_nehmen(char *daten, std::size_t groesse, std::size_t n, void *kontext)
{
    auto &t = *static_cast<Transfer *>(kontext);
    if (!kopfzeile_nehmen(*t.antwort, std::string_view(daten, groesse * n)))
        return 0;
    if (t.antwort->kopf_fertig && !t.kopf_gedruckt)
        kopf_drucken(t);
    return t.ausgabe_fehler ? 0 : groesse * n;
}

std::size_t inhalt_schreiben(char *daten, std::size_t groesse, std::size_t n, void *kontext)
{
    auto &t = *static_cast<Transfer *>(kontext);
    HttpAntwort &r = *t.antwort;
    std::size_t vorher = r.inhalt.size();
    bool ganz = inhalt_nehmen(r, std::string_view(daten, groesse * n));
    bool ok = schreiben(t, std::string_view(r.inhalt).substr(vorher));
    return ganz && ok ? groesse * n : 0;
}

// The body for libcurl, read from the record's file piece by piece.
std::size_t inhalt_lesen(char *puffer, std::size_t groesse, std::size_t n, void *kontext)
{
    auto &t = *static_cast<Transfer *>(kontext);
    std::size_t will = static_cast<std::size_t>(std::min<std::uint64_t>(t.rest, groesse * n));
    ssize_t k;
    while ((k = pread(t.quelle, puffer, will, static_cast<off_t>(t.ab))) < 0 && errno == EINTR) {
    }
    if (k < 0 || (k == 0 && will > 0))
        return CURL_READFUNC_ABORT;
    t.ab += static_cast<std::uint64_t>(k);
    t.rest -= static_cast<std::uint64_t>(k);
    return static_cast<std::size_t>(k);
}

// The method and the body: GET and HEAD without a body are libcurl's own;
// with a body, a POST whose method is then replaced.  A HEAD's response
// has no body, whatever its Content-Length says: libcurl must not wait
// for one.
void methode_setzen(CURL *c, const Neuanfrage &n, Transfer &t)
{
    if (n.methode == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        return;
    }
    if (n.mit_inhalt) {
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.rest));
        curl_easy_setopt(c, CURLOPT_READFUNCTION, inhalt_lesen);
        curl_easy_setopt(c, CURLOPT_READDATA, &t);
    }
    if (n.methode != (n.mit_inhalt ? "POST" : "GET"))
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, n.methode.c_str());
}

// Everything that libcurl would take from elsewhere is turned off: the
// proxy variables, redirects, protocols other than HTTP(S), HTTP/2.
void einstellen(CURL *c, const Sendewahl &w, char *fehlertext)
{
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, fehlertext);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, VERBINDEN_SEKUNDEN);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, GESAMT_SEKUNDEN);
    if (w.zertifikate != nullptr)
        curl_easy_setopt(c, CURLOPT_CAINFO, w.zertifikate);
    if (w.unsicher) {
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

Antwortzeiten zeiten(CURL *c)
{
    Antwortzeiten z;
    const std::pair<CURLINFO, std::int64_t *> felder[] = {{CURLINFO_CONNECT_TIME_T, &z.verbunden},
                                                          {CURLINFO_APPCONNECT_TIME_T, &z.tls},
                                                          {CURLINFO_STARTTRANSFER_TIME_T, &z.erstes_byte},
                                                          {CURLINFO_TOTAL_TIME_T, &z.gesamt}};
    for (const auto &[was, wohin] : felder) {
        curl_off_t t = 0;
        if (curl_easy_getinfo(c, was, &t) == CURLE_OK)
            *wohin = t;
    }
    return z;
}

// The header lines as libcurl's list; false when memory ran out.
bool kopfliste(const Neuanfrage &n, Liste &liste)
{
    for (const std::string &k : n.koepfe) {
        curl_slist *neu = curl_slist_append(liste.get(), k.c_str());
        if (neu == nullptr)
            return false;
        (void)liste.release(); // neu is the same list, one line longer
        liste.reset(neu);
    }
    return true;
}

// What came, after "BASE: " on standard error: the summary of the
// response and its times when some of it came, then why it is not whole
// or none came.  0 when it is whole, else FEHLER.
int berichten(CURL *c, CURLcode e, const Transfer &t, const std::string &b, const char *fehlertext)
{
    const HttpAntwort &r = *t.antwort;
    bool etwas = r.kopf_fertig || !r.abbruch.empty(); // some of a response came
    if (r.kopf_fertig && !t.still)
        meldung("%s: %s", b.c_str(), antwort_text(r).c_str());
    if (etwas && !t.still)
        meldung("%s: %s", b.c_str(), zeiten_text(zeiten(c)).c_str());
    if (!r.abbruch.empty()) {
        meldung("%s: the response is not whole: %s", b.c_str(), r.abbruch.c_str());
        return FEHLER;
    }
    if (t.ausgabe_fehler) {
        meldung("%s: writing the response: %s", b.c_str(), std::strerror(t.fehlernummer));
        return FEHLER;
    }
    if (e == CURLE_OK)
        return 0;
    bool zertifikat = e == CURLE_PEER_FAILED_VERIFICATION;
    meldung("%s: %s: %s%s", b.c_str(), etwas ? "the response is not whole" : "no response",
            sichtbar(*fehlertext != '\0' ? fehlertext : curl_easy_strerror(e), 300).c_str(),
            zertifikat ? " (--cacert FILE trusts its certificate, --insecure checks none)" : "");
    return FEHLER;
}

// The transfer itself; 0, or FEHLER after a message.
int uebertragen(const Sendewahl &w, const Neuanfrage &n, Transfer &t)
{
    Griff c(curl_easy_init());
    Liste koepfe;
    if (c == nullptr || !kopfliste(n, koepfe)) {
        meldung("%s: libcurl cannot be set up", sichtbar(n.basis, 200).c_str());
        return FEHLER;
    }
    char fehlertext[CURL_ERROR_SIZE] = "";
    std::string url = n.basis + "/";
    einstellen(c.get(), w, fehlertext);
    curl_easy_setopt(c.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(c.get(), CURLOPT_REQUEST_TARGET, n.ziel.c_str());
    curl_easy_setopt(c.get(), CURLOPT_HTTPHEADER, koepfe.get());
    curl_easy_setopt(c.get(), CURLOPT_HEADERFUNCTION, kopf_nehmen);
    curl_easy_setopt(c.get(), CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, inhalt_schreiben);
    curl_easy_setopt(c.get(), CURLOPT_WRITEDATA, &t);
    methode_setzen(c.get(), n, t);
    CURLcode e = curl_easy_perform(c.get());
    if (std::fflush(stdout) != 0 && !t.ausgabe_fehler) {
        t.ausgabe_fehler = true;
        t.fehlernummer = errno;
    }
    return berichten(c.get(), e, t, sichtbar(n.basis, 200), fehlertext);
}

} // namespace

bool sendewahl_pruefen(const Sendewahl &w)
{
    if (w.url == nullptr) {
        meldung("send needs --url BASE (http://HOST[:PORT] or https://HOST[:PORT])");
        return false;
    }
    if (!ist_basis(w.url)) {
        meldung("--url needs http://HOST[:PORT] or https://HOST[:PORT], not \"%s\"", sichtbar(w.url, 200).c_str());
        return false;
    }
    if (w.unsicher && w.zertifikate != nullptr) {
        meldung("--insecure checks no certificate, --cacert FILE names those to trust: give one of them");
        return false;
    }
    return true;
}

int senden(const Sendewahl &w, int quelle, const Aufzeichnung &a, const Aufzeichnung &b, HttpAntwort *r)
{
    std::string datei = dateiname(w.datei);
    std::string v = methode_verweigert(b);
    if (!v.empty()) {
        meldung("%s: %s", datei.c_str(), v.c_str());
        return FEHLER;
    }
    lesehinweise(w.datei, a);
    Neuanfrage n = neuanfrage(b, w.url);
    for (const std::string &h : n.hinweise)
        meldung("%s: %s", datei.c_str(), h.c_str());
    if (n.methode == "HEAD" && n.mit_inhalt)
        meldung("%s: a HEAD is sent without its body", datei.c_str());
    if (w.unsicher)
        meldung("%s: --insecure: the server's certificate and name are not checked", sichtbar(n.basis, 200).c_str());
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        meldung("libcurl cannot be set up");
        return FEHLER;
    }
    Transfer t;
    t.quelle = quelle;
    t.ab = b.inhalt_ab();
    t.rest = n.mit_inhalt ? b.inhaltlaenge() : 0;
    t.antwort = r;
    t.still = w.still;
    int status = uebertragen(w, n, t);
    curl_global_cleanup();
    return status;
}
