#include "httpantwort.h"

#include "meldung.h"

#include <cinttypes>
#include <cstdio>

namespace {

std::string_view ohne_zeilenende(std::string_view zeile)
{
    if (zeile.ends_with('\n'))
        zeile.remove_suffix(1);
    if (zeile.ends_with('\r'))
        zeile.remove_suffix(1);
    return zeile;
}

// The code of a status line "HTTP/1.1 200 OK" or "HTTP/2 200": three
// digits after the first blank, the first not 0 (100 to 999), then the
// end or a blank; 0 when there are none.
int statuscode(std::string_view zeile)
{
    std::size_t blank = zeile.find(' ');
    if (blank == std::string_view::npos || zeile.size() < blank + 4)
        return 0;
    std::string_view z = zeile.substr(blank + 1, 3);
    for (char c : z)
        if (c < '0' || c > '9')
            return 0;
    if (z[0] == '0' || (zeile.size() > blank + 4 && zeile[blank + 4] != ' '))
        return 0;
    return (z[0] - '0') * 100 + (z[1] - '0') * 10 + (z[2] - '0');
}

void neu_anfangen(HttpAntwort &r, std::string_view zeile)
{
    r.status = statuscode(zeile);
    r.statuszeile = zeile;
    r.koepfe.clear();
}

std::string ms(std::int64_t mikro)
{
    char t[32];
    std::snprintf(t, sizeof t, "%" PRId64 ".%03d ms", mikro / 1000, static_cast<int>(mikro % 1000));
    return t;
}

} // namespace

bool kopfzeile_nehmen(HttpAntwort &r, std::string_view zeile)
{
    if (!r.abbruch.empty())
        return false;
    r.kopfbytes += zeile.size();
    if (r.kopfbytes > ANTWORTKOPF_HOECHSTENS) {
        r.abbruch = "its header lines take more than " + std::to_string(ANTWORTKOPF_HOECHSTENS) + " bytes: cut off";
        return false;
    }
    zeile = ohne_zeilenende(zeile);
    if (r.kopf_fertig) // a trailer, after the body
        return true;
    if (zeile.starts_with("HTTP/"))
        neu_anfangen(r, zeile);
    else if (zeile.empty())
        r.kopf_fertig = !r.statuszeile.empty() && (r.status < 100 || r.status > 199);
    else if (!r.statuszeile.empty())
        r.koepfe.emplace_back(zeile);
    return true;
}

bool inhalt_nehmen(HttpAntwort &r, std::string_view stueck)
{
    if (!r.abbruch.empty())
        return false;
    std::size_t platz = ANTWORTINHALT_HOECHSTENS - r.inhalt.size();
    r.inhalt.append(stueck.substr(0, platz));
    if (stueck.size() <= platz)
        return true;
    r.abbruch = "its body goes on past " + std::to_string(ANTWORTINHALT_HOECHSTENS) + " bytes: cut off";
    return false;
}

std::string antwort_text(const HttpAntwort &r)
{
    std::string t = r.status == 0 ? "no status" : "status " + std::to_string(r.status);
    if (!r.statuszeile.empty())
        t += " (\"" + sichtbar(r.statuszeile, 200) + "\")";
    t += ", " + std::to_string(r.koepfe.size()) + (r.koepfe.size() == 1 ? " header line, " : " header lines, ");
    return t + std::to_string(r.inhalt.size()) + " bytes of body";
}

std::string zeiten_text(const Antwortzeiten &z)
{
    std::string t = "connected after " + ms(z.verbunden);
    if (z.tls > 0)
        t += ", TLS after " + ms(z.tls);
    return t + ", first byte after " + ms(z.erstes_byte) + ", done after " + ms(z.gesamt);
}
