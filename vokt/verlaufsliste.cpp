#include "verlaufsliste.h"
#include "anfrage.h"
#include "intern/verlauf.h"
#include "meldung.h"

#include <algorithm>
#include <array>

using namespace vokt::intern;

Listenzeile listenzeile(const Aufzeichnung &a, const Zeitpunkt &zeit, const std::string &datei)
{
    Listenzeile z{zeit,
                  datei,
                  std::string(a.wert("REQUEST_METHOD").value_or("")),
                  anfrageziel(a),
                  std::string(a.wert("CONTENT_TYPE").value_or("")),
                  "-",
                  "none"};
    if (!a.mit_laenge())
        return z;
    auto hat = a.inhaltlaenge();
    auto soll = static_cast<unsigned long long>(std::max(a.angesagt(), 0LL));
    z.laenge = std::to_string(hat);
    z.ganz = hat == soll ? "whole" : hat < soll ? "short" : "more";
    return z;
}

namespace {

constexpr std::size_t SPALTEN = 6;
using Felder = std::array<std::string, SPALTEN>;

// A text for the table: made safe, "-" when empty.
std::string feld(const std::string &text, std::size_t hoechstens)
{
    return text.empty() ? "-" : sichtbar(text, hoechstens);
}

Felder felder(const Listenzeile &z)
{
    return {iso8601(z.zeit, 6), feld(z.methode, 60), feld(z.ziel, 200), feld(z.typ, 60), z.laenge, z.ganz};
}

// The fields, each padded to its width (at least), two blanks apart.
std::string zeile(const Felder &f, const std::array<std::size_t, SPALTEN> &breite)
{
    std::string erg;
    for (std::size_t i = 0; i < SPALTEN; ++i) {
        erg += f[i];
        if (i + 1 < SPALTEN)
            erg.append(breite[i] > f[i].size() ? breite[i] - f[i].size() + 2 : 2, ' ');
    }
    return erg + "\n";
}

// A pinned record's row ends in "  pinned".
std::string mit_marke(std::string zeile, bool angeheftet)
{
    if (angeheftet)
        zeile.insert(zeile.size() - 1, "  pinned");
    return zeile;
}

const Felder KOPF{"TIME", "METHOD", "TARGET", "CONTENT-TYPE", "LENGTH", "BODY"};

// The widths of folgezeile: the time's, and room for the usual method,
// target, type and length.
constexpr std::array<std::size_t, SPALTEN> FOLGEBREITE{27, 7, 30, 33, 8, 5};

} // namespace

std::string tabelle(std::vector<Listenzeile> zeilen)
{
    std::sort(zeilen.begin(), zeilen.end(), [](const Listenzeile &x, const Listenzeile &y) {
        return x.zeit != y.zeit ? x.zeit > y.zeit : x.datei > y.datei;
    });
    std::vector<Felder> alle{KOPF};
    for (const Listenzeile &z : zeilen)
        alle.push_back(felder(z));
    std::array<std::size_t, SPALTEN> breite{};
    for (const Felder &f : alle)
        for (std::size_t i = 0; i < SPALTEN; ++i)
            breite[i] = std::max(breite[i], f[i].size());
    std::string erg;
    for (std::size_t r = 0; r < alle.size(); ++r)
        // Row r shows zeilen[r - 1], after the heading.
        erg += mit_marke(zeile(alle[r], breite), r > 0 && zeilen[r - 1].angeheftet);
    return erg;
}

bool verlaufseigen(const std::string &pfad)
{
    std::size_t strich = pfad.find_last_of('/');
    if (strich == std::string::npos || !verlauf_einstellung(pfad.c_str() + strich + 1))
        return false;
    std::string ordner = pfad.substr(0, strich);
    while (ordner.size() > 1 && ordner.back() == '/')
        ordner.pop_back();
    return ordner.ends_with(".d");
}

std::string folgekopf()
{
    return zeile(KOPF, FOLGEBREITE);
}

std::string folgezeile(const Listenzeile &z)
{
    return mit_marke(zeile(felder(z), FOLGEBREITE), z.angeheftet);
}
