#include "hinweise.h"
#include "herkunft.h"
#include "inhaltsansicht.h"
#include "multipart.h"
#include "zeichen.h"

#include <cstdio>
#include <map>

using namespace vokt::intern;

namespace {

using Hinweise = std::vector<std::string>;

std::string hex_byte(std::string_view s, std::size_t bei)
{
    char z[8];
    std::snprintf(z, sizeof z, "0x%02X", static_cast<unsigned char>(s[bei]));
    return z;
}

bool gesetzt(const Aufzeichnung &a, std::string_view name)
{
    return a.wert(name).has_value();
}

bool chunked_angesagt(const Aufzeichnung &a)
{
    std::string te = medientyp(a.wert("HTTP_TRANSFER_ENCODING").value_or(""));
    return te.find("chunked") != std::string::npos;
}

// What the server of the record does with the Authorization header; empty
// where that is not known.
std::string autorisierungsregel(Server s)
{
    switch (s) {
    case Server::APACHE: return ": Apache passes it on only with CGIPassAuth On";
    case Server::PYTHON: return ": Python's http.server never passes it on (REMOTE_USER holds a Basic user)";
    case Server::MINI_HTTPD: return ": mini_httpd never passes it on";
    default: return "";
    }
}

// A header that the server passes twice, as CONTENT_TYPE and as
// HTTP_CONTENT_TYPE (or CONTENT_LENGTH and HTTP_CONTENT_LENGTH).
void doppelter_kopf(const Aufzeichnung &a, std::string_view name, const char *kopf, Hinweise &h)
{
    std::string http = "HTTP_" + std::string(name);
    auto zweiter = a.wert(http);
    if (!zweiter || !als_kopf_gesendet(a, name))
        return;
    if (*zweiter == a.wert(name))
        h.push_back(http + " repeats " + std::string(name) + ": " + servername(server_von(a)) + " passes the " + kopf +
                    " header both ways; the view lists it once");
    else
        h.push_back(http + " and " + std::string(name) + " differ: a program sees one " + kopf +
                    " or the other, as it reads them");
}

// Names that a shell sets and no web server does: a record with some of
// them holds the environment the server was started with.
const char *const SHELLNAMEN[] = {"HOME", "SHELL", "PWD", "OLDPWD", "TERM", "SHLVL", "USER", "LOGNAME", "_"};

void shellumgebung(const Aufzeichnung &a, Hinweise &h)
{
    std::string namen;
    int anzahl = 0;
    for (const char *name : SHELLNAMEN) {
        if (gesetzt(a, name)) {
            namen += (namen.empty() ? "" : ", ") + std::string(name);
            ++anzahl;
        }
    }
    if (anzahl < 2)
        return;
    Server s = server_von(a);
    std::string wer = s == Server::NGINX ? "fcgiwrap, started by hand rather than by its unit," : servername(s);
    h.push_back("the record holds the environment the server was started with (" + namen + "): " + wer +
                " hands its own environment on to every program");
}

void uebergabe(const Aufzeichnung &a, Hinweise &h)
{
    if ((gesetzt(a, "AUTH_TYPE") || gesetzt(a, "REDIRECT_HTTP_AUTHORIZATION")) && !gesetzt(a, "HTTP_AUTHORIZATION"))
        h.push_back("the server kept the Authorization header back (AUTH_TYPE or REDIRECT_HTTP_AUTHORIZATION set, "
                    "HTTP_AUTHORIZATION absent)" +
                    autorisierungsregel(server_von(a)));
    doppelter_kopf(a, "CONTENT_LENGTH", "Content-Length", h);
    doppelter_kopf(a, "CONTENT_TYPE", "Content-Type", h);
    shellumgebung(a, h);
    if (gesetzt(a, "HTTP_PROXY"))
        h.push_back("HTTP_PROXY is set from the request's Proxy header (httpoxy): a program that takes it for its "
                    "proxy sends its requests where the client says");
    if (chunked_angesagt(a) && !gesetzt(a, "CONTENT_LENGTH"))
        h.push_back("a chunked upload without CONTENT_LENGTH: the program learns the body's length only at its end");
}

void koerper(const Aufzeichnung &a, std::string_view praefix, Hinweise &h)
{
    if (!a.mit_laenge())
        return;
    auto hat = static_cast<long long>(a.inhaltlaenge());
    if (chunked_angesagt(a) && hat == 0)
        h.push_back("the request announced chunked delivery but brought no body");
    if (mit_chunkrahmen(praefix))
        h.push_back("the body still carries its chunk framing (hex size lines between the pieces): the server "
                    "passed the chunked upload on undecoded");
    if (hat < a.angesagt())
        h.push_back("the body is shorter than announced: " + std::to_string(hat) + " of " +
                    std::to_string(a.angesagt()) + " bytes arrived");
    else if (hat > a.angesagt() && a.angesagt() >= 0)
        h.push_back("the body has " + std::to_string(hat) + " bytes, more than the " + std::to_string(a.angesagt()) +
                    " announced");
}

// Apache's SERVER_SIGNATURE ends in a line feed, in every record: no news.
bool signatur(std::string_view name, std::string_view wert)
{
    return name == "SERVER_SIGNATURE" && !wert.empty() && wert.find('\n') == wert.size() - 1;
}

void eintraege(const Aufzeichnung &a, Hinweise &h)
{
    for (const std::string &e : a.eintraege()) {
        std::string_view name = eintragsname(e);
        std::string_view wert = std::string_view(e).substr(name.size() + (name.size() < e.size() ? 1 : 0));
        if (signatur(name, wert))
            wert.remove_suffix(1);
        for (std::size_t i = 0; i < wert.size(); ++i) {
            auto b = static_cast<unsigned char>(wert[i]);
            if ((b < 0x20 && b != '\t') || b == 0x7F) {
                h.push_back(std::string(name) + " holds " + (b == '\n' ? "a line feed" : "a control byte") + " (" +
                            hex_byte(wert, i) + " at byte " + std::to_string(i) + " of its value)");
                break;
            }
        }
    }
    for (const std::string &name : a.doppelt())
        h.push_back(name + " occurs more than once in the record; a program sees only one of them");
    if (a.alte_regel())
        h.push_back("lines without '=' were read as part of the entry before them (the record of an older vokt.cgi, "
                    "whose lines a value can forge)");
    if (a.mit_nullbyte() > 0)
        h.push_back(std::to_string(a.mit_nullbyte()) + " entries hold a zero byte and are cut there");
}

// A field's bytes against the charset its form declares.
void feld_pruefen(std::string_view wo, const std::string &name, std::string_view bytes, std::string_view cs,
                  Hinweise &h)
{
    Zeichensatz zs = zeichensatz(cs);
    std::size_t bei = 0;
    bool falsch = zs == Zeichensatz::UTF8 && !ist_utf8(bytes, &bei);
    for (std::size_t i = 0; !falsch && i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        falsch = (zs == Zeichensatz::ASCII && b >= 0x80) || (zs == Zeichensatz::LATIN1 && b >= 0x80 && b <= 0x9F);
        bei = i;
    }
    if (falsch)
        h.push_back("form field " + name + " in the " + std::string(wo) + ": byte " + hex_byte(bytes, bei) +
                    " is no character of " + std::string(cs) + ", the charset its form declares");
}

void felder(std::string_view wo, const std::vector<Paar> &paare, std::string_view cs, Hinweise &h)
{
    std::map<std::string, int> anzahl;
    for (const Paar &p : paare) {
        if (++anzahl[p.name] == 2)
            h.push_back("form field " + p.name + " occurs more than once in the " + std::string(wo) +
                        "; vokt.cgi keeps the last value");
        feld_pruefen(wo, p.name, p.name + p.wert, cs, h);
    }
}

// The text fields of a multipart form, with their charset: their own, the
// form's _charset_ field or the body's.
std::vector<Paar> multipart_felder(std::string_view ct, std::string_view praefix, std::string *cs)
{
    Multipart m = multipart_zerlegen(praefix, parameter(ct, "boundary").value_or(""));
    std::vector<Paar> paare;
    for (const Teil &t : m.teile)
        if (!t.dateiname && charset_von(t.typ).empty())
            paare.push_back({t.name, std::string(t.inhalt)});
    *cs = formular_charset(paare, charset_von(ct));
    return paare;
}

void formulare(const Aufzeichnung &a, std::string_view praefix, Hinweise &h)
{
    std::vector<Paar> query = formpaare(a.wert("QUERY_STRING").value_or(""));
    felder("query", query, formular_charset(query, ""), h);
    std::string_view ct = a.wert("CONTENT_TYPE").value_or("");
    std::string mt = medientyp(ct);
    std::string cs = charset_von(ct);
    std::size_t bei = 0;
    if (mt == "application/x-www-form-urlencoded") {
        std::vector<Paar> paare = formpaare(praefix);
        felder("body", paare, formular_charset(paare, cs), h);
    } else if (mt == "multipart/form-data") {
        std::vector<Paar> paare = multipart_felder(ct, praefix, &cs);
        felder("body", paare, cs, h);
    } else if (zeichensatz(cs) == Zeichensatz::UTF8 && !ist_utf8(praefix, &bei) &&
               (praefix.size() == a.inhaltlaenge() || bei + 4 <= praefix.size())) {
        h.push_back("the body is declared UTF-8, but byte " + hex_byte(praefix, bei) + " at offset " +
                    std::to_string(bei) + " is no UTF-8");
    }
}

// A chunk's size line from pos on: its size, or -1 when there is none;
// pos ends after its line end.
long long groessenzeile(std::string_view b, std::size_t &pos)
{
    long long groesse = 0;
    std::size_t ziffern = 0;
    for (; pos < b.size() && ziffern < 15 && hexziffer(b[pos]) >= 0; ++pos, ++ziffern)
        groesse = groesse * 16 + hexziffer(b[pos]);
    std::size_t ende = b.find("\r\n", pos);
    if (ziffern == 0 || ende == std::string_view::npos || (ende != pos && b[pos] != ';'))
        return -1;
    pos = ende + 2;
    return groesse;
}

} // namespace

bool mit_chunkrahmen(std::string_view b)
{
    std::size_t pos = 0;
    for (bool erstes = true;; erstes = false) {
        long long groesse = groessenzeile(b, pos);
        if (groesse < 0)
            return !erstes && pos >= b.size();
        if (groesse == 0)
            return !erstes || b.substr(pos, 2) == "\r\n";
        auto n = static_cast<std::size_t>(groesse);
        if (b.size() - pos < n + 2)
            return !erstes;
        if (b.substr(pos + n, 2) != "\r\n")
            return false;
        pos += n + 2;
    }
}

std::vector<std::string> hinweise(const Aufzeichnung &a, std::string_view praefix)
{
    Hinweise h;
    uebergabe(a, h);
    koerper(a, praefix, h);
    eintraege(a, h);
    formulare(a, praefix, h);
    return h;
}
