#include "aendern.h"

#include "intern/aufzeichnung.h"

#include <algorithm>

using namespace vokt::intern;

namespace {

void setzen(std::vector<std::string> &eintraege, std::string_view name, std::string_view wert)
{
    std::string neu;
    neu.reserve(name.size() + 1 + wert.size());
    neu.append(name).append(1, '=').append(wert);
    bool gesetzt = false;
    std::erase_if(eintraege, [&](std::string &e) {
        if (eintragsname(e) != name)
            return false;
        if (gesetzt)
            return true;
        e = neu;
        gesetzt = true;
        return false;
    });
    if (!gesetzt)
        eintraege.push_back(std::move(neu));
}

void entfernen(std::vector<std::string> &eintraege, std::string_view name)
{
    std::erase_if(eintraege, [&](const std::string &e) { return eintragsname(e) == name; });
}

void anhaengen(void *kontext, const char *daten, std::size_t n)
{
    static_cast<std::string *>(kontext)->append(daten, n);
}

} // namespace

std::vector<std::string> aendern(std::vector<std::string> eintraege, const Aenderungen &ae)
{
    bool laenge_genannt = false;
    for (const Aenderung &s : ae.schritte) {
        laenge_genannt = laenge_genannt || s.name == "CONTENT_LENGTH";
        if (s.wert)
            setzen(eintraege, s.name, *s.wert);
        else
            entfernen(eintraege, s.name);
    }
    if (ae.neuer_inhalt && !laenge_genannt)
        setzen(eintraege, "CONTENT_LENGTH", std::to_string(*ae.neuer_inhalt));
    return eintraege;
}

std::string kopfteil(const std::vector<std::string> &eintraege, bool mit_laenge, long long laenge)
{
    std::string text;
    for (const std::string &e : eintraege)
        eintrag_schreiben(e.c_str(), anhaengen, &text);
    if (mit_laenge)
        text.append(1, '*').append(std::to_string(laenge)).append(1, '\n');
    return text;
}
