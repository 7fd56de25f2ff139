#include "antwort.h"
#include "zeichen.h"

#include "curl.h"
#include "meldung.h"

namespace {

bool gleich_ohne_gross(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

bool ziffer(char z)
{
    return z >= '0' && z <= '9';
}

// "404", "404 Not Found": three digits, 100..599, then the end or a blank.
bool ist_status(std::string_view w)
{
    return w.size() >= 3 && w[0] >= '1' && w[0] <= '5' && ziffer(w[1]) && ziffer(w[2]) &&
           (w.size() == 3 || w[3] == ' ');
}

void zeilenende_merken(Urteil &u, bool crlf)
{
    Urteil::Zeilenende z = crlf ? Urteil::CRLF : Urteil::LF;
    u.zeilenende = u.zeilenende == Urteil::KEINE || u.zeilenende == z ? z : Urteil::GEMISCHT;
}

// What the header lines say beyond the verdict: how often each CGI field
// came, the Location's value, the first other field's name.
struct Gelesen {
    int content_type = 0, location = 0, status = 0;
    std::string ort;
    std::string anderes;
};

// One header line, without its line end: false, with the reason, when it
// is none.
bool kopfzeile(Urteil &u, Gelesen &g, std::string_view zeile, int nummer)
{
    std::size_t doppelpunkt = zeile.find(':');
    std::string_view name = zeile.substr(0, doppelpunkt);
    if (doppelpunkt == std::string_view::npos || !ist_token(name)) {
        u.grund = "line " + std::to_string(nummer) + " is no header line (\"" + sichtbar(zeile) + "\")";
        return false;
    }
    std::string_view wert = ohne_blanks(zeile.substr(doppelpunkt + 1));
    if (!ist_kopfwert(wert)) {
        u.grund = "a control byte in the header " + std::string(name);
        return false;
    }
    bool ct = gleich_ohne_gross(name, "content-type");
    bool ort = gleich_ohne_gross(name, "location");
    bool status = gleich_ohne_gross(name, "status");
    g.content_type += ct ? 1 : 0;
    g.location += ort ? 1 : 0;
    g.status += status ? 1 : 0;
    if (ort)
        g.ort = wert;
    if (!ct && !ort && !status && g.anderes.empty())
        g.anderes = name;
    u.content_type = u.content_type || ct;
    u.location = u.location || ort;
    if (status) {
        if (ist_status(wert)) {
            u.status = wert;
        } else if (!u.status_falsch) {
            u.status_falsch = true;
            u.grund = "a malformed Status line (\"" + sichtbar(zeile) + "\")";
        }
    }
    return true;
}

// An absolute URI: a scheme (a letter, then letters, digits, + - .) and ':'.
bool ist_absolute_uri(std::string_view ort)
{
    std::size_t i = 0;
    auto buchstabe = [](char z) { return (z >= 'a' && z <= 'z') || (z >= 'A' && z <= 'Z'); };
    if (ort.empty() || !buchstabe(ort[0]))
        return false;
    while (++i < ort.size() && (buchstabe(ort[i]) || ziffer(ort[i]) || ort[i] == '+' || ort[i] == '-' || ort[i] == '.'))
        ;
    return i < ort.size() && ort[i] == ':';
}

// Why a Location response breaks its rules; empty when it keeps them.
// Local redirect (a path): the Location alone, no body.  Client redirect
// (an absolute URI): with a body, a Status of 3xx and a Content-Type.
std::string umleitung(const Urteil &u, const Gelesen &g, bool inhalt)
{
    if (!g.ort.starts_with("/")) {
        if (!ist_absolute_uri(g.ort))
            return "the Location (\"" + sichtbar(g.ort) + "\") is neither a local path (/...) nor an absolute URI";
        if (inhalt && (u.status.empty() || u.status[0] != '3'))
            return "a client redirect with a body needs a Status of 3xx (302 Found)";
        return "";
    }
    if (inhalt)
        return "a local redirect (Location " + sichtbar(g.ort) + ") has no body";
    if (g.content_type > 0 || g.status > 0 || !g.anderes.empty())
        return "a local redirect (Location " + sichtbar(g.ort) + ") has no other header field (" +
               (g.content_type > 0 ? "Content-Type"
                : g.status > 0     ? "Status"
                                   : sichtbar(g.anderes)) +
               ")";
    return "";
}

// The rules of the kinds of response, once the header is read; inhalt:
// a body follows it.
std::string regeln(const Urteil &u, const Gelesen &g, bool inhalt)
{
    const std::pair<int, const char *> felder[] = {
        {g.content_type, "Content-Type"}, {g.location, "Location"}, {g.status, "Status"}};
    for (const auto &[anzahl, name] : felder)
        if (anzahl > 1)
            return std::string(name) + " appears more than once";
    if (g.content_type + g.location + g.status == 0)
        return "no Content-Type, Location or Status header";
    if (g.location > 0)
        return umleitung(u, g, inhalt);
    if (inhalt && g.content_type == 0)
        return "a body follows, but no Content-Type header (a response with a body needs one)";
    return "";
}

} // namespace

Urteil antwort_pruefen(std::string_view anfang, bool ganz)
{
    Urteil u;
    Gelesen g;
    if (anfang.empty()) {
        u.grund = "no output";
        return u;
    }
    std::size_t ab = 0;
    for (int nummer = 1;; ++nummer) {
        std::size_t lf = anfang.find('\n', ab);
        if (lf == std::string_view::npos) {
            u.grund = ganz ? "the header does not end (no empty line)" : "no empty line within the first 64 KiB";
            return u;
        }
        std::string_view zeile = anfang.substr(ab, lf - ab);
        bool crlf = !zeile.empty() && zeile.back() == '\r';
        zeile.remove_suffix(crlf ? 1 : 0);
        zeilenende_merken(u, crlf);
        ab = lf + 1;
        if (zeile.empty())
            break;
        if (!kopfzeile(u, g, zeile, nummer))
            return u;
    }
    if (u.grund.empty())
        u.grund = regeln(u, g, ab < anfang.size() || !ganz);
    u.gueltig = u.grund.empty();
    return u;
}

std::string urteil_text(const Urteil &u)
{
    const char *enden[] = {"", "LF", "CRLF", "LF and CRLF mixed"};
    std::string was;
    if (u.content_type)
        was += "Content-Type";
    if (u.location)
        was += was.empty() ? "Location" : ", Location";
    if (!u.status.empty())
        was += (was.empty() ? "Status " : ", Status ") + sichtbar(u.status);
    std::string ende = u.zeilenende == Urteil::KEINE ? "" : std::string("lines end in ") + enden[u.zeilenende];
    if (u.gueltig)
        return "a valid CGI response (" + was + "; " + ende + ")";
    return "no valid CGI response: " + u.grund + (ende.empty() ? "" : "; " + ende);
}

Antwort cgi_antwort(std::string_view ausgabe)
{
    Antwort a;
    Urteil u = antwort_pruefen(ausgabe, true);
    if (!u.gueltig) {
        a.status = 500;
        a.inhalt = ausgabe;
        return a;
    }
    a.status = u.location ? 302 : 200;
    for (;;) {
        std::size_t lf = ausgabe.find('\n');
        std::string_view zeile = ausgabe.substr(0, lf);
        ausgabe.remove_prefix(lf + 1);
        zeile.remove_suffix(!zeile.empty() && zeile.back() == '\r' ? 1 : 0);
        if (zeile.empty())
            break;
        std::size_t doppelpunkt = zeile.find(':');
        std::string_view name = zeile.substr(0, doppelpunkt);
        if (!gleich_ohne_gross(name, "status"))
            a.kopf.push_back(std::string(name) + ": " + std::string(ohne_blanks(zeile.substr(doppelpunkt + 1))));
    }
    if (!u.status.empty())
        a.status = (u.status[0] - '0') * 100 + (u.status[1] - '0') * 10 + (u.status[2] - '0');
    a.inhalt = ausgabe;
    return a;
}
