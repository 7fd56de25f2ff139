#include "aufzeichnung.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace vokt::intern {

void eintrag_schreiben(const char *eintrag, Senke senke, void *kontext)
{
    // The mark goes before an entry whose first line the reader would take
    // for a continuation or the length line, and before one without '=',
    // which the older rule would join to the entry before it.  An ordinary
    // entry costs a look at its first byte and at its name.
    static const char marke = '\0';
    if (*eintrag == '\t' || *eintrag == '*' || std::strchr(eintrag, '=') == nullptr)
        senke(kontext, &marke, 1);
    for (const char *lf; (lf = std::strchr(eintrag, '\n')) != nullptr; eintrag = lf + 1) {
        senke(kontext, eintrag, static_cast<std::size_t>(lf - eintrag));
        senke(kontext, "\n\t", 2);
    }
    senke(kontext, eintrag, std::strlen(eintrag));
    senke(kontext, "\n", 1);
}

void laenge_schreiben(int inhaltlang, Senke senke, void *kontext)
{
    char text[32];
    int n = std::snprintf(text, sizeof text, "*%d\n", inhaltlang);
    senke(kontext, text, static_cast<std::size_t>(n));
}

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The pieces in which kopf_lesen() reads; the fuzz build makes them small,
// so that its short inputs cross the seams between pieces.
#ifdef VOKT_STUECK
constexpr std::size_t LESESTUECK = VOKT_STUECK;
#else
constexpr std::size_t LESESTUECK = 64 * 1024;
#endif

// The line that starts at ab, without its line feed; *weiter is where the
// next line starts (the end when this line is the last).
std::string_view zeile_ab(std::string_view daten, std::size_t ab, std::size_t *weiter)
{
    std::size_t lf = daten.find('\n', ab);
    if (lf == npos) {
        *weiter = daten.size();
        return daten.substr(ab);
    }
    *weiter = lf + 1;
    return daten.substr(ab, lf - ab);
}

// Where the first length line among the lines of daten from *ab on starts,
// or npos; *ab moves past every line looked at.  A last line without its
// line feed counts only when daten is all of the record (ganz): in a file
// read in pieces, the rest of it may still come.
std::size_t laengenzeile_suchen(std::string_view daten, std::size_t *ab, bool ganz, long long *zahl)
{
    while (*ab < daten.size()) {
        std::size_t lf = daten.find('\n', *ab);
        if (lf == npos && !ganz)
            return npos;
        std::size_t ende = lf == npos ? daten.size() : lf;
        if (ist_laengenzeile(daten.substr(*ab, ende - *ab), zahl))
            return *ab;
        *ab = lf == npos ? daten.size() : lf + 1;
    }
    return npos;
}

// *daten holds the beginning of the file fd: appends up to n bytes more;
// how many came (0 at the file's end), -1 with errno set when reading failed.
ssize_t anhaengen(int fd, std::string *daten, std::size_t n)
{
    std::size_t alt = daten->size();
    daten->resize(alt + n);
    ssize_t r;
    while ((r = pread(fd, daten->data() + alt, n, static_cast<off_t>(alt))) < 0 && errno == EINTR) {
    }
    daten->resize(alt + static_cast<std::size_t>(std::max<ssize_t>(r, 0)));
    return r;
}

} // namespace

std::string_view eintragsname(std::string_view eintrag)
{
    return eintrag.substr(0, eintrag.find('='));
}

bool ist_servervariable(std::string_view name)
{
    // The meta-variables of CGI/1.1 (RFC 3875), by name and by prefix:
    // SERVER_* holds SERVER_SIGNATURE and SERVER_ADMIN of Apache too,
    // REMOTE_* REMOTE_USER and REMOTE_IDENT.  Then what Apache, nginx and
    // lighttpd add: the URI, scheme and document root of the request,
    // mod_rewrite's SCRIPT_URI and SCRIPT_URL, the CONTEXT_* of an alias,
    // REDIRECT_* of an internal redirect (REDIRECT_STATUS, which PHP wants),
    // HTTPS and the SSL_* of mod_ssl and lighttpd's mod_openssl (by their
    // names: SSL_CERT_FILE and SSL_CERT_DIR are the TLS library's own, and
    // choose what a program trusts), mod_unique_id's UNIQUE_ID, FCGI_ROLE of
    // a FastCGI bridge.  Not PATH, which Apache passes on (it chooses what
    // the program runs), nor HTTP_PROXY (see ist_umlenkvariable).
    // SCRIPT_FILENAME and PATH_TRANSLATED pass: every server sets them, and
    // an interpreter such as php-cgi runs the file they name, as it does
    // under the server.
    static const char *const namen[] = {
        "GATEWAY_INTERFACE",   "REQUEST_METHOD", "QUERY_STRING",     "PATH_INFO",
        "PATH_TRANSLATED",     "SCRIPT_NAME",    "AUTH_TYPE",        "CONTENT_TYPE",
        "CONTENT_LENGTH",      "REQUEST_URI",    "REQUEST_SCHEME",   "SCRIPT_FILENAME",
        "SCRIPT_URI",          "SCRIPT_URL",     "DOCUMENT_ROOT",    "DOCUMENT_URI",
        "DOCUMENT_NAME",       "HTTPS",          "UNIQUE_ID",        "FCGI_ROLE",
        "SSL_PROTOCOL",        "SSL_CIPHER",     "SSL_TLS_SNI",      "SSL_SECURE_RENEG",
        "SSL_COMPRESS_METHOD", "SSL_SRP_USER",   "SSL_SRP_USERINFO", "SSL_HANDSHAKE_RTT"};
    static const char *const praefixe[] = {"SERVER_",     "REMOTE_",      "HTTP_",           "CONTEXT_",
                                           "REDIRECT_",   "SSL_CLIENT_",  "SSL_SERVER_",     "SSL_SESSION_",
                                           "SSL_CIPHER_", "SSL_VERSION_", "SSL_CLIENTHELLO_"};
    if (ist_umlenkvariable(name))
        return false;
    for (const char *p : praefixe)
        if (name.starts_with(p))
            return true;
    for (const char *n : namen)
        if (name == n)
            return true;
    return false;
}

bool ist_umlenkvariable(std::string_view name)
{
    return name == "PATH" || name == "HTTP_PROXY";
}

bool ist_ladervariable(std::string_view name)
{
    static const char *const liste[] = {"GCONV_PATH",       "GETCONF_DIR", "GLIBC_TUNABLES", "HOSTALIASES",
                                        "LOCALDOMAIN",      "LOCPATH",     "NIS_PATH",       "NLSPATH",
                                        "RESOLV_HOST_CONF", "RES_OPTIONS", "TMPDIR",         "TZDIR"};
    if (name.starts_with("LD_") || name.starts_with("MALLOC_"))
        return true;
    for (const char *l : liste)
        if (name == l)
            return true;
    return false;
}

bool ist_laengenzeile(std::string_view zeile, long long *zahl)
{
    if (zeile.empty() || zeile[0] != '*')
        return false;
    std::size_t i = 1;
    bool negativ = i < zeile.size() && zeile[i] == '-';
    if (negativ)
        ++i;
    if (i == zeile.size())
        return false;
    long long n = 0;
    for (; i < zeile.size(); ++i) {
        char c = zeile[i];
        if (c < '0' || c > '9')
            return false;
        int ziffer = c - '0';
        n = n > (LLONG_MAX - ziffer) / 10 ? LLONG_MAX : n * 10 + ziffer;
    }
    *zahl = negativ ? -n : n;
    return true;
}

bool Aufzeichnung::zerlegen(std::string daten)
{
    daten_ = std::move(daten);
    groesse_ = daten_.size();
    angesagt_ = 0;
    std::size_t ab = 0;
    return eintraege_lesen(laengenzeile_suchen(daten_, &ab, true, &angesagt_));
}

Aufzeichnung::Lesen Aufzeichnung::kopf_lesen(int fd, std::uint64_t groesse, std::size_t hoechstens)
{
    *this = Aufzeichnung();
    std::string kopf;
    std::size_t ab = 0;
    std::size_t zeile = npos;
    while (zeile == npos && kopf.size() < groesse) {
        if (kopf.size() >= hoechstens)
            return ZU_GROSS;
        std::uint64_t rest = std::min<std::uint64_t>(groesse, hoechstens) - kopf.size();
        ssize_t n = anhaengen(fd, &kopf, static_cast<std::size_t>(std::min<std::uint64_t>(rest, LESESTUECK)));
        if (n < 0)
            return FEHLER;
        if (n == 0)
            groesse = kopf.size(); // the file got shorter since its size was taken
        zeile = laengenzeile_suchen(kopf, &ab, kopf.size() == groesse, &angesagt_);
    }
    if (zeile != npos)
        kopf.resize(std::min(kopf.find('\n', zeile), kopf.size() - 1) + 1);
    daten_ = std::move(kopf);
    groesse_ = groesse;
    return eintraege_lesen(zeile) ? GELESEN : KEIN_DUMP;
}

// Takes apart the lines before the length line that starts at `zeile`
// (npos: there is none, all of daten_ is entries).
bool Aufzeichnung::eintraege_lesen(std::size_t zeile)
{
    eintraege_.clear();
    doppelt_.clear();
    mit_nullbyte_ = 0;
    letzter_abgeschnitten_ = false;
    alte_regel_ = false;
    mit_laenge_ = zeile != npos;
    std::string_view alles(daten_);
    std::size_t lf = mit_laenge_ ? alles.find('\n', zeile) : npos;
    inhalt_ab_ = lf == npos ? alles.size() : lf + 1;
    std::string_view kopf = alles.substr(0, mit_laenge_ ? zeile : alles.size());
    bool neue_form = kopf.starts_with('\t') || kopf.find("\n\t") != npos || kopf.starts_with('\0') ||
                     kopf.find(std::string_view("\n\0", 2)) != npos;
    bool mit_gleich = false;
    for (std::size_t ab = 0; ab < kopf.size();) {
        std::size_t weiter = 0;
        std::string_view text = zeile_ab(kopf, ab, &weiter);
        ab = weiter;
        mit_gleich = mit_gleich || text.find('=') != npos;
        eintrag(text, neue_form);
    }
    doppelte_suchen();
    return mit_gleich;
}

void Aufzeichnung::eintrag(std::string_view zeile, bool neue_form)
{
    // A marked line (only in a record of the newer form) starts an entry,
    // whatever follows the mark.
    bool markiert = zeile.starts_with('\0');
    if (markiert)
        zeile.remove_prefix(1);
    bool tab = !markiert && neue_form && zeile.starts_with('\t');
    bool ohne_gleich = !markiert && !neue_form && zeile.find('=') == npos;
    bool fortsetzung = (tab || ohne_gleich) && !eintraege_.empty();
    alte_regel_ = alte_regel_ || (fortsetzung && ohne_gleich);
    if (fortsetzung && letzter_abgeschnitten_)
        return; // a value already cut at a zero byte takes nothing more
    if (fortsetzung && tab)
        zeile.remove_prefix(1);
    std::size_t nul = zeile.find('\0');
    if (fortsetzung) {
        eintraege_.back() += '\n';
        eintraege_.back().append(zeile.substr(0, nul));
    } else {
        eintraege_.emplace_back(zeile.substr(0, nul));
    }
    letzter_abgeschnitten_ = nul != npos;
    if (letzter_abgeschnitten_)
        ++mit_nullbyte_;
}

void Aufzeichnung::doppelte_suchen()
{
    std::unordered_set<std::string_view> gesehen;
    std::unordered_set<std::string_view> gemeldet;
    for (const std::string &e : eintraege_) {
        std::string_view name = eintragsname(e);
        if (!gesehen.insert(name).second && gemeldet.insert(name).second)
            doppelt_.emplace_back(name);
    }
}

std::vector<std::string> Aufzeichnung::umgebung() const
{
    std::unordered_map<std::string_view, std::size_t> letzter;
    for (std::size_t i = 0; i < eintraege_.size(); ++i)
        letzter[eintragsname(eintraege_[i])] = i;
    std::vector<std::string> erg;
    for (std::size_t i = 0; i < eintraege_.size(); ++i)
        if (letzter[eintragsname(eintraege_[i])] == i)
            erg.push_back(eintraege_[i]);
    return erg;
}

std::optional<std::string_view> Aufzeichnung::wert(std::string_view name) const
{
    for (auto e = eintraege_.rbegin(); e != eintraege_.rend(); ++e) {
        std::size_t gleich = e->find('=');
        if (gleich != std::string::npos && std::string_view(*e).substr(0, gleich) == name)
            return std::string_view(*e).substr(gleich + 1);
    }
    return std::nullopt;
}

} // namespace vokt::intern
