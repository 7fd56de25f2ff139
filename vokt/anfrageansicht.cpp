#include "anfrageansicht.h"
#include "anfrage.h"
#include "curl.h"
#include "herkunft.h"
#include "hinweise.h"
#include "inhaltsansicht.h"

using namespace vokt::intern;

namespace {

std::string wert_von(const Aufzeichnung &a, std::string_view name)
{
    return std::string(a.wert(name).value_or(""));
}

std::string_view wert_in(std::string_view eintrag)
{
    std::size_t gleich = eintrag.find('=');
    return gleich == std::string_view::npos ? std::string_view() : eintrag.substr(gleich + 1);
}

// The header name of an entry, empty when it is none.
std::string kopfname_von(std::string_view name)
{
    if (name == "CONTENT_TYPE")
        return "Content-Type";
    if (name == "CONTENT_LENGTH")
        return "Content-Length";
    if (!name.starts_with("HTTP_") || name.size() == 5)
        return "";
    std::string k = kopfname(name.substr(5));
    return k.empty() ? std::string(name) : k;
}

// Whether the entry is a header to show: not CONTENT_TYPE or
// CONTENT_LENGTH where the client sent no such header, not
// HTTP_CONTENT_TYPE or HTTP_CONTENT_LENGTH where they repeat that header.
bool als_kopf(const Aufzeichnung &a, std::string_view name, std::string_view wert)
{
    if (name == "CONTENT_TYPE" || name == "CONTENT_LENGTH")
        return als_kopf_gesendet(a, name);
    if (name == "HTTP_CONTENT_TYPE" || name == "HTTP_CONTENT_LENGTH")
        return !als_kopf_gesendet(a, name.substr(5)) || a.wert(name.substr(5)) != wert;
    return true;
}

// The headers, and every other entry as it is.
void umgebung(const Aufzeichnung &a, Abschnitt &koepfe, Abschnitt &rest)
{
    for (const std::string &e : a.eintraege()) {
        std::string_view name = eintragsname(e);
        std::string k = als_kopf(a, name, wert_in(e)) ? kopfname_von(name) : "";
        if (!k.empty())
            koepfe.zeilen.push_back(Zeile{Zeile::KOPF, 0, k, std::string(wert_in(e)), 0});
        else
            rest.zeilen.push_back(Zeile{Zeile::PAAR, 0, std::string(name), std::string(wert_in(e)), 0});
    }
    if (koepfe.zeilen.empty())
        koepfe.zeilen.push_back(Zeile{Zeile::SATZ, 0, "", "none", 0});
}

Abschnitt query(const Aufzeichnung &a)
{
    Abschnitt q{"Query", {}};
    std::vector<Paar> paare = formpaare(wert_von(a, "QUERY_STRING"));
    std::string cs = formular_charset(paare, "");
    for (const Paar &p : paare)
        q.zeilen.push_back(Zeile{Zeile::PAAR, 0, als_utf8(p.name, cs), als_utf8(p.wert, cs), 0});
    return q;
}

// How long the body is, against what was announced.
std::string laenge(const Aufzeichnung &a)
{
    auto hat = static_cast<long long>(a.inhaltlaenge());
    std::string n = std::to_string(hat) + (hat == 1 ? " byte" : " bytes");
    if (hat == a.angesagt())
        return n + ", whole (" + std::to_string(a.angesagt()) + " announced)";
    if (hat < a.angesagt())
        return n + " of " + std::to_string(a.angesagt()) + " announced: cut short";
    return n + ", more than the " + std::to_string(a.angesagt()) + " announced";
}

Abschnitt inhalt(const Aufzeichnung &a, std::string_view praefix)
{
    Abschnitt b{"Body", {}};
    if (!a.mit_laenge()) {
        b.zeilen.push_back(Zeile{Zeile::SATZ, 0, "", "none: the request was refused before its body was read", 0});
        return b;
    }
    b.zeilen.push_back(Zeile{Zeile::SATZ, 0, "", laenge(a), 0});
    bool ganz = praefix.size() == a.inhaltlaenge();
    if (!ganz)
        b.zeilen.push_back(
            Zeile{Zeile::SATZ, 0, "", "shown: its first " + std::to_string(praefix.size()) + " bytes", 0});
    for (const Zeile &z : inhalt_zeilen(wert_von(a, "CONTENT_TYPE"), praefix, ganz))
        b.zeilen.push_back(z);
    return b;
}

} // namespace

std::string anfragezeile(const Aufzeichnung &a)
{
    std::string ziel = anfrageziel(a);
    std::string methode = wert_von(a, "REQUEST_METHOD");
    std::string protokoll = wert_von(a, "SERVER_PROTOCOL");
    return (methode.empty() ? "?" : methode) + " " + (ziel.empty() ? "?" : ziel) + " " +
           (protokoll.empty() ? "?" : protokoll);
}

Ansicht anfrage_ansicht(const Aufzeichnung &a, std::string_view praefix)
{
    Ansicht v{anfragezeile(a), {}};
    Abschnitt koepfe{"Headers", {}};
    Abschnitt rest{"Environment", {}};
    umgebung(a, koepfe, rest);
    v.abschnitte.push_back(koepfe);
    if (!wert_von(a, "QUERY_STRING").empty())
        v.abschnitte.push_back(query(a));
    v.abschnitte.push_back(inhalt(a, praefix));
    Abschnitt notizen{"Notes", {}};
    for (std::string &h : hinweise(a, praefix))
        notizen.zeilen.push_back(Zeile{Zeile::SATZ, 0, "", "- " + h, 0});
    if (notizen.zeilen.empty())
        notizen.zeilen.push_back(Zeile{Zeile::SATZ, 0, "", "none", 0});
    v.abschnitte.push_back(notizen);
    v.abschnitte.push_back(rest);
    return v;
}
