#include "antwort.h"

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

std::string_view ohne_blanks(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.remove_suffix(1);
    return t;
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

// One header line, without its line end: false, with the reason, when it
// is none.
bool kopfzeile(Urteil &u, std::string_view zeile, int nummer)
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
    u.content_type = u.content_type || gleich_ohne_gross(name, "content-type");
    u.location = u.location || gleich_ohne_gross(name, "location");
    if (gleich_ohne_gross(name, "status")) {
        if (ist_status(wert)) {
            u.status = wert;
        } else if (!u.status_falsch) {
            u.status_falsch = true;
            u.grund = "a malformed Status line (\"" + sichtbar(zeile) + "\")";
        }
    }
    return true;
}

} // namespace

Urteil antwort_pruefen(std::string_view anfang, bool ganz)
{
    Urteil u;
    if (anfang.empty()) {
        u.grund = "no output";
        return u;
    }
    for (std::size_t ab = 0, nummer = 1;; ++nummer) {
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
        if (!kopfzeile(u, zeile, static_cast<int>(nummer)))
            return u;
    }
    if (!u.content_type && !u.location && !u.status_falsch && u.status.empty())
        u.grund = "no Content-Type, Location or Status header";
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
