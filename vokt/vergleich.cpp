#include "vergleich.h"
#include "anfrage.h"
#include "meldung.h"

#include <algorithm>
#include <map>
#include <set>

using namespace vokt::intern;

const std::vector<std::string> &stets_anders()
{
    static const std::vector<std::string> namen = {"REMOTE_PORT",        "UNIQUE_ID",         "REQUEST_TIME",
                                                   "REQUEST_TIME_FLOAT", "HTTP_X_REQUEST_ID", "HTTP_TRACEPARENT"};
    return namen;
}

namespace {

using Paare = Formpaare;

// The entries as name and last value, in the order of each name's last
// appearance, without the names in ohne.
Paare eintragspaare(const Aufzeichnung &a, const std::vector<std::string> &ohne)
{
    std::set<std::string_view> ohne_namen(ohne.begin(), ohne.end());
    Paare erg;
    for (const std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        if (ohne_namen.count(name) == 0)
            erg.push_back({std::string(name), e.substr(std::min(name.size() + 1, e.size()))});
    }
    return erg;
}

// The value of each name (the names are unique), found in log time.
std::map<std::string_view, std::string_view> verzeichnis(const Paare &p)
{
    std::map<std::string_view, std::string_view> erg;
    for (const Paar &x : p)
        erg.emplace(x.name, x.wert);
    return erg;
}

// By name: what only A has, what both have with other values, then what
// only B has.
void paare_vergleichen(const Paare &a, const Paare &b, Unterschied::Teil teil, std::vector<Unterschied> &erg)
{
    auto in_a = verzeichnis(a);
    auto in_b = verzeichnis(b);
    for (const auto &[name, wert] : a) {
        auto anderer = in_b.find(name);
        if (anderer == in_b.end())
            erg.push_back({Unterschied::NUR_A, teil, name, wert, ""});
        else if (anderer->second != wert)
            erg.push_back({Unterschied::ANDERS, teil, name, wert, std::string(anderer->second)});
    }
    for (const auto &[name, wert] : b)
        if (in_a.count(name) == 0)
            erg.push_back({Unterschied::NUR_B, teil, name, "", wert});
}

void doppelte(const Aufzeichnung &a, const Aufzeichnung &b, std::vector<Unterschied> &erg)
{
    std::map<std::string, int> wo; // 1: in A, 2: in B, 3: in both
    for (const std::string &n : a.doppelt())
        wo[n] |= 1;
    for (const std::string &n : b.doppelt())
        wo[n] |= 2;
    const char *seiten[] = {"", "A", "B", "A and B"};
    for (const auto &[name, seite] : wo)
        erg.push_back({Unterschied::DOPPELT, Unterschied::EINTRAG, name, seiten[seite], ""});
}

std::string laengenzeile(const Aufzeichnung &a)
{
    if (!a.mit_laenge())
        return "none";
    std::string erg = "*";
    erg.append(std::to_string(a.angesagt()));
    return erg;
}

void koerper(const Vergleichsseite &a, const Vergleichsseite &b, std::vector<Unterschied> &erg)
{
    std::string la = laengenzeile(a.aufzeichnung);
    std::string lb = laengenzeile(b.aufzeichnung);
    if (la != lb)
        erg.push_back({Unterschied::LAENGE, Unterschied::KOERPER, "", la, lb});
    if (a.inhalt == b.inhalt)
        return;
    auto [pa, pb] = std::mismatch(a.inhalt.begin(), a.inhalt.end(), b.inhalt.begin(), b.inhalt.end());
    (void)pb;
    erg.push_back({Unterschied::INHALT, Unterschied::KOERPER, "", "", "",
                   static_cast<std::uint64_t>(pa - a.inhalt.begin()), a.inhalt.size(), b.inhalt.size()});
}

Paare form(const Vergleichsseite &s)
{
    auto typ = s.aufzeichnung.wert("CONTENT_TYPE");
    if (typ && !typ->empty() && !ist_urlencoded(*typ))
        return {};
    return letzte_werte(formpaare(s.inhalt));
}

Paare query(const Aufzeichnung &a)
{
    return letzte_werte(formpaare(a.wert("QUERY_STRING").value_or("")));
}

} // namespace

std::vector<Unterschied> vergleichen(const Vergleichsseite &a, const Vergleichsseite &b,
                                     const std::vector<std::string> &ohne)
{
    std::vector<Unterschied> erg;
    doppelte(a.aufzeichnung, b.aufzeichnung, erg);
    paare_vergleichen(eintragspaare(a.aufzeichnung, ohne), eintragspaare(b.aufzeichnung, ohne), Unterschied::EINTRAG,
                      erg);
    koerper(a, b, erg);
    paare_vergleichen(query(a.aufzeichnung), query(b.aufzeichnung), Unterschied::QUERY, erg);
    paare_vergleichen(form(a), form(b), Unterschied::FORM, erg);
    return erg;
}

bool verschieden(const std::vector<Unterschied> &liste)
{
    return std::any_of(liste.begin(), liste.end(), [](const Unterschied &u) { return u.art != Unterschied::DOPPELT; });
}

namespace {

constexpr std::size_t HOECHSTENS = 200;

// A value in quotes; a quote in it as \x22.  (Texts are built with
// append: g++ 12 warns falsely about chains of + at -O2, GCC PR105329.)
std::string wert(const std::string &w)
{
    std::string erg = "\"";
    for (char z : sichtbar(w, HOECHSTENS)) {
        if (z == '"')
            erg.append("\\x22");
        else
            erg.push_back(z);
    }
    erg.push_back('"');
    return erg;
}

std::string teilname(const Unterschied &u)
{
    std::string erg = u.teil == Unterschied::QUERY ? "query " : u.teil == Unterschied::FORM ? "form " : "";
    erg.append(sichtbar(u.name, HOECHSTENS));
    return erg;
}

std::string inhalt(const Unterschied &u)
{
    std::string erg = "~ body: differs from byte ";
    erg.append(std::to_string(u.ab)).append(" on (A ").append(std::to_string(u.laenge_a));
    erg.append(" bytes, B ").append(std::to_string(u.laenge_b)).append(" bytes)");
    return erg;
}

} // namespace

std::string beschreibung(const Unterschied &u)
{
    std::string erg;
    switch (u.art) {
    case Unterschied::NUR_A: erg.append("- ").append(teilname(u)).append(" = ").append(wert(u.a)); break;
    case Unterschied::NUR_B: erg.append("+ ").append(teilname(u)).append(" = ").append(wert(u.b)); break;
    case Unterschied::ANDERS:
        erg.append("~ ").append(teilname(u)).append(": ").append(wert(u.a)).append(" -> ").append(wert(u.b));
        break;
    case Unterschied::LAENGE: erg.append("~ length line: ").append(u.a).append(" -> ").append(u.b); break;
    case Unterschied::INHALT: erg = inhalt(u); break;
    case Unterschied::DOPPELT:
        erg.append("# ").append(teilname(u)).append(" appears more than once in ").append(u.a);
        erg.append(": its last value is compared");
        break;
    }
    return erg;
}
