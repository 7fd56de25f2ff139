// The filter asked of one record: each test on the record's bytes, the
// operators with their usual short cuts, a test that reads the body after
// one that does not.
#include "filter.h"
#include "verlaufsliste.h"

#include <algorithm>
#include <re2/re2.h>

using namespace vokt::intern;

namespace {

using Feld = Filter::Feld;
using Vergleich = Filter::Vergleich;
using Test = Filter::Test;

bool gleich_ohne_fall(std::string_view x, std::string_view y)
{
    auto klein = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return x.size() == y.size() &&
           std::equal(x.begin(), x.end(), y.begin(), [&](char a, char b) { return klein(a) == klein(b); });
}

bool enthaelt_ohne_fall(std::string_view text, std::string_view teil)
{
    for (std::size_t i = 0; i + teil.size() <= text.size(); ++i)
        if (gleich_ohne_fall(text.substr(i, teil.size()), teil))
            return true;
    return false;
}

// Whether a text passes the test's comparison.
bool passt(const Test &t, std::string_view text)
{
    bool ohne_fall = t.feld == Feld::METHODE;
    switch (t.op) {
    case Vergleich::GLEICH: return ohne_fall ? gleich_ohne_fall(text, t.wert) : text == t.wert;
    case Vergleich::ENTHAELT:
        return ohne_fall ? enthaelt_ohne_fall(text, t.wert) : text.find(t.wert) != std::string_view::npos;
    case Vergleich::MUSTER: return RE2::PartialMatch(text, *t.muster);
    default: return true; // DA: being there is all
    }
}

bool vergleiche(Vergleich op, long long x, long long y)
{
    switch (op) {
    case Vergleich::KLEINER: return x < y;
    case Vergleich::GROESSER: return x > y;
    case Vergleich::HOECHSTENS: return x <= y;
    case Vergleich::MINDESTENS: return x >= y;
    default: return x == y;
    }
}

bool ist_kopfeintrag(std::string_view name)
{
    return gleich_ohne_fall(name.substr(0, 5), "HTTP_") || gleich_ohne_fall(name, "CONTENT_TYPE") ||
           gleich_ohne_fall(name, "CONTENT_LENGTH");
}

// header[:NAME] and entry:NAME: every entry of the record, repeated ones
// too; a header's name without regard to case.
bool eintraege_passen(const Test &t, const Aufzeichnung &a)
{
    for (const std::string &e : a.eintraege()) {
        std::string_view name = eintragsname(e);
        bool gemeint = t.feld == Feld::EINTRAG ? name == t.name
                       : t.mit_name            ? gleich_ohne_fall(name, t.name)
                                               : ist_kopfeintrag(name);
        std::string_view wert = std::string_view(e).substr(std::min(name.size() + 1, e.size()));
        if (gemeint && passt(t, wert))
            return true;
    }
    return false;
}

bool form_passt(const Test &t, Pruefling &p)
{
    return std::any_of(p.paare().begin(), p.paare().end(),
                       [&](const auto &paar) { return (!t.mit_name || paar.name == t.name) && passt(t, paar.wert); });
}

bool inhalt_passt(const Test &t, Pruefling &p)
{
    switch (t.op) {
    case Vergleich::ENTHAELT: return p.enthaelt(t.wert);
    case Vergleich::GLEICH:
        return p.aufzeichnung().inhaltlaenge() == t.wert.size() && p.anfang(t.wert.size()) == t.wert;
    default: return passt(t, p.anfang());
    }
}

std::string_view pfad_von(std::string_view ziel, bool pfad)
{
    std::size_t frage = std::min(ziel.find('?'), ziel.size());
    return pfad ? ziel.substr(0, frage) : ziel.substr(std::min(frage + 1, ziel.size()));
}

bool zustand_passt(Feld feld, const Pruefling &p)
{
    std::string ganz = listenzeile(p.aufzeichnung(), p.zeit(), "").ganz;
    return ganz == (feld == Feld::GANZ ? "whole" : feld == Feld::KURZ ? "short" : feld == Feld::MEHR ? "more" : "none");
}

bool test_trifft(const Test &t, Pruefling &p)
{
    const Aufzeichnung &a = p.aufzeichnung();
    long long zeit = p.zeit().sekunden * 1000000 + p.zeit().mikro;
    switch (t.feld) {
    case Feld::METHODE: return passt(t, a.wert("REQUEST_METHOD").value_or(""));
    case Feld::ZIEL: return passt(t, anfrageziel(a));
    case Feld::PFAD:
    case Feld::ANFRAGE: return passt(t, pfad_von(anfrageziel(a), t.feld == Feld::PFAD));
    case Feld::KOPF:
    case Feld::EINTRAG: return eintraege_passen(t, a);
    case Feld::INHALT: return inhalt_passt(t, p);
    case Feld::FORM: return form_passt(t, p);
    case Feld::HINWEIS:
        return std::any_of(p.hinweise().begin(), p.hinweise().end(), [&](const std::string &h) { return passt(t, h); });
    case Feld::SEIT: return zeit >= t.zahl;
    case Feld::BIS: return zeit < t.zahl;
    // age < 2h: made after the time that is two hours ago.
    case Feld::ALTER: return vergleiche(t.op, t.zahl, zeit);
    case Feld::GROESSE: return vergleiche(t.op, static_cast<long long>(a.inhaltlaenge()), t.zahl);
    default: return zustand_passt(t.feld, p);
    }
}

} // namespace

bool Filter::trifft(Pruefling &p) const
{
    return wurzel_ >= 0 && knoten_trifft(wurzel_, p);
}

bool Filter::knoten_trifft(int k, Pruefling &p) const
{
    const Knoten &n = knoten_[static_cast<std::size_t>(k)];
    if (n.art == Knoten::TEST)
        return test_trifft(n.test, p);
    if (n.art == Knoten::NICHT)
        return !knoten_trifft(n.links, p);
    // Both sides are asked without side effects: the one that needs no
    // body first.
    int erst = n.links, dann = n.rechts;
    if (knoten_[static_cast<std::size_t>(erst)].teuer)
        std::swap(erst, dann);
    bool x = knoten_trifft(erst, p);
    if (x == (n.art == Knoten::ODER))
        return x;
    return knoten_trifft(dann, p);
}
