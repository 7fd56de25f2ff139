#include "curl.h"
#include "anfrage.h"
#include "herkunft.h"
#include "meldung.h"
#include "shellwort.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace vokt::intern;

namespace {

bool ist_tchar(char z)
{
    return (z >= 'A' && z <= 'Z') || (z >= 'a' && z <= 'z') || (z >= '0' && z <= '9') ||
           (z != '\0' && std::strchr("!#$%&'*+-.^_`|~", z) != nullptr);
}

bool ist_steuerzeichen(char z)
{
    auto b = static_cast<unsigned char>(z);
    return b < 0x20 || b == 0x7F;
}

} // namespace

bool ist_token(std::string_view text)
{
    if (text.empty())
        return false;
    for (char z : text)
        if (!ist_tchar(z))
            return false;
    return true;
}

std::string kopfname(std::string_view name)
{
    if (!ist_token(name))
        return "";
    std::string erg;
    bool wortanfang = true;
    for (char z : name) {
        if (wortanfang && z >= 'a' && z <= 'z')
            z = static_cast<char>(z - 'a' + 'A');
        else if (!wortanfang && z >= 'A' && z <= 'Z')
            z = static_cast<char>(z - 'A' + 'a');
        wortanfang = z == '_';
        erg += wortanfang ? '-' : z;
    }
    return erg;
}

bool ist_kopfwert(std::string_view wert)
{
    for (char z : wert)
        if (ist_steuerzeichen(z) && z != '\t')
            return false;
    return true;
}

bool ist_host(std::string_view host)
{
    if (host.empty())
        return false;
    for (char z : host)
        if (!((z >= 'A' && z <= 'Z') || (z >= 'a' && z <= 'z') || (z >= '0' && z <= '9') ||
              (z != '\0' && std::strchr(".-_:[]", z) != nullptr)))
            return false;
    return true;
}

bool ist_basis(std::string_view url)
{
    std::size_t trenner = url.find("://");
    if (trenner == std::string_view::npos)
        return false;
    std::string schema(url.substr(0, trenner));
    for (char &z : schema)
        z = z >= 'A' && z <= 'Z' ? static_cast<char>(z - 'A' + 'a') : z;
    std::string_view host = url.substr(trenner + 3);
    while (host.ends_with('/'))
        host.remove_suffix(1);
    return (schema == "http" || schema == "https") && ist_host(host);
}

std::string ziel_kodiert(std::string_view roh, bool *geaendert)
{
    std::string erg;
    *geaendert = false;
    for (char z : roh) {
        if (ist_steuerzeichen(z) || z == ' ') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(z));
            erg += hex;
            *geaendert = true;
        } else {
            erg += z;
        }
    }
    return erg;
}

std::string printf_format(std::string_view bytes)
{
    std::string f = "'";
    f.reserve(bytes.size() * 4 + 2);
    for (char z : bytes) {
        switch (z) {
        case '\\': f += "\\\\"; continue;
        case '%': f += "%%"; continue;
        case '\n': f += "\\n"; continue;
        case '\t': f += "\\t"; continue;
        case '\r': f += "\\r"; continue;
        default: break;
        }
        auto b = static_cast<unsigned char>(z);
        bool option = z == '-' && f.size() == 1; // printf would take it for one
        if (b >= 0x20 && b < 0x7F && z != '\'' && !option) {
            f += z;
        } else {
            char okt[5];
            std::snprintf(okt, sizeof okt, "\\%03o", b);
            f += okt;
        }
    }
    return f + "'";
}

// ---- the request sent again ---------------------------------------------------

namespace {

std::string_view methode(const Aufzeichnung &a)
{
    return a.wert("REQUEST_METHOD").value_or("GET");
}

bool hat_kopf(const Neuanfrage &n, std::string_view name)
{
    for (const std::string &k : n.koepfe)
        if (k.size() > name.size() && k.starts_with(name) && (k[name.size()] == ':' || k[name.size()] == ';'))
            return true;
    return false;
}

// One header line, or a note why the header cannot be sent: libcurl sends
// a line feed in a value as it is, and the receiver would read a header of
// its own; a control byte has no place in a header line either.
void kopf(Neuanfrage &n, const std::string &name, std::string_view wert)
{
    if (!ist_kopfwert(wert)) {
        n.hinweise.push_back("left out the header " + name +
                             ", whose value holds a line break or another control byte");
        return;
    }
    // "Name:" alone would tell libcurl to leave the header out; "Name;"
    // sends it with an empty value.
    n.koepfe.push_back(wert.empty() ? name + ";" : name + ": " + std::string(wert));
}

void koepfe(Neuanfrage &n, const Aufzeichnung &a)
{
    bool mit_content_type = a.wert("CONTENT_TYPE").has_value();
    for (const std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        std::string_view wert = std::string_view(e).substr(std::min(name.size() + 1, e.size()));
        if (name == "CONTENT_TYPE") {
            if (als_kopf_gesendet(a, name))
                kopf(n, "Content-Type", wert);
            continue;
        }
        if (!name.starts_with("HTTP_") || name == "HTTP_HOST" || name == "HTTP_CONTENT_LENGTH" ||
            name == "HTTP_TRANSFER_ENCODING" || (name == "HTTP_CONTENT_TYPE" && mit_content_type))
            continue;
        std::string kname = kopfname(name.substr(5));
        if (kname.empty()) {
            n.hinweise.push_back("left out " + sichtbar(name) + ", which is no header name");
            continue;
        }
        kopf(n, kname, wert);
    }
}

// libcurl's own headers, which the recorded request did not have, left out.
void ohne_eigene_koepfe(Neuanfrage &n)
{
    const std::pair<bool, const char *> eigene[] = {{hat_kopf(n, "User-Agent"), "User-Agent"},
                                                    {hat_kopf(n, "Accept"), "Accept"},
                                                    {hat_kopf(n, "Content-Type") || !n.mit_inhalt, "Content-Type"},
                                                    {hat_kopf(n, "Expect") || !n.mit_inhalt, "Expect"}};
    for (const auto &[hatte, name] : eigene)
        if (!hatte)
            n.koepfe.push_back(std::string(name) + ":");
}

std::string basis(Neuanfrage &n, const Aufzeichnung &a, const char *url)
{
    if (url != nullptr) {
        std::string erg = url;
        while (!erg.empty() && erg.back() == '/')
            erg.pop_back();
        return erg;
    }
    bool ohne_host = false;
    std::string erg = anfragebasis(a, &ohne_host);
    if (ohne_host)
        n.hinweise.emplace_back("the record names no host, localhost is taken (--url BASE chooses one)");
    return erg;
}

// The request target as it was sent: bytes that would break the request
// line (controls, blanks) are written as %XX, with a note.
std::string ziel(Neuanfrage &n, const Aufzeichnung &a)
{
    std::string roh = anfrageziel(a);
    bool geaendert = false;
    std::string erg = ziel_kodiert(roh.empty() ? "/" : roh, &geaendert);
    if (geaendert)
        n.hinweise.emplace_back("the request target holds blanks or control bytes; they are sent as %XX");
    return erg;
}

} // namespace

Neuanfrage neuanfrage(const Aufzeichnung &a, const char *url)
{
    Neuanfrage n;
    n.methode = methode(a);
    n.mit_inhalt = curl_mit_inhalt(a);
    koepfe(n, a);
    ohne_eigene_koepfe(n);
    n.basis = basis(n, a, url);
    n.ziel = ziel(n, a);
    return n;
}

// ---- the command ------------------------------------------------------------

namespace {

struct Befehl {
    std::vector<std::string> woerter;

    void fest(const char *text) { woerter.emplace_back(text); }
    void wort(std::string_view text) { woerter.push_back(shellwort(text)); }
    std::string text() const
    {
        std::string t;
        for (const std::string &w : woerter)
            t += (t.empty() ? "" : " ") + w;
        return t + "\n";
    }
};

// The method as curl sends it: GET without a body and POST with one are
// its own choice; HEAD without a body is --head.
void methode_waehlen(Befehl &b, std::string_view m, bool mit_inhalt)
{
    if (m == "HEAD" && !mit_inhalt) {
        b.fest("--head");
    } else if (m != (mit_inhalt ? "POST" : "GET")) {
        b.fest("-X");
        b.wort(m);
    }
}

// The word after --data-binary: the body's file, the body from printf's
// output, or none at all (still a POST with Content-Length: 0).
std::string datenwort(const CurlWahl &w)
{
    if (w.inhaltsdatei != nullptr)
        return std::string("@").append(shellwort(w.inhaltsdatei));
    return w.inhalt.empty() ? "''" : "@-";
}

} // namespace

bool curl_mit_inhalt(const Aufzeichnung &a)
{
    return a.mit_laenge() && (a.inhaltlaenge() > 0 || methode(a) == "POST");
}

std::string methode_verweigert(const Aufzeichnung &a)
{
    std::string_view m = methode(a);
    if (!ist_token(m))
        return "the method is no HTTP token (\"" + sichtbar(m) + "\"), it would break the request line: refused";
    return "";
}

std::string curl_verweigert(const Aufzeichnung &a, const CurlWahl &w)
{
    std::string v = methode_verweigert(a);
    if (!v.empty())
        return v;
    if (curl_mit_inhalt(a) && w.inhaltsdatei == nullptr && a.inhaltlaenge() > IM_BEFEHL_HOECHSTENS)
        return "the body has " + std::to_string(a.inhaltlaenge()) + " bytes, more than the " +
               std::to_string(IM_BEFEHL_HOECHSTENS) +
               " a command holds (--body-file FILE writes it to a file that the command reads): refused";
    return "";
}

CurlErgebnis curl_befehl(const Aufzeichnung &a, const CurlWahl &w)
{
    CurlErgebnis e;
    e.verweigert = curl_verweigert(a, w);
    if (!e.verweigert.empty()) {
        e.status = FEHLER;
        return e;
    }
    Neuanfrage n = neuanfrage(a, w.url);
    Befehl b;
    if (n.mit_inhalt && w.inhaltsdatei == nullptr && !w.inhalt.empty())
        b.woerter.push_back("printf " + printf_format(w.inhalt) + " |");
    b.fest("curl -sS -g");
    methode_waehlen(b, n.methode, n.mit_inhalt);
    for (const std::string &k : n.koepfe) {
        b.fest("-H");
        b.wort(k);
    }
    b.fest("--url");
    b.wort(n.basis);
    b.fest("--request-target");
    b.wort(n.ziel);
    if (n.mit_inhalt) {
        b.fest("--data-binary");
        b.woerter.push_back(datenwort(w));
    }
    e.befehl = b.text();
    e.hinweise = std::move(n.hinweise);
    return e;
}
