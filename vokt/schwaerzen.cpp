#include "schwaerzen.h"
#include "aendern.h"
#include "anfrage.h"
#include "aufzeichnungsdatei.h"
#include "meldung.h"
#include "multipart.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace vokt::intern;

namespace {

std::string gross(std::string_view s)
{
    std::string g(s);
    for (char &c : g)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return g;
}

void maskieren(std::string &text, std::size_t ab, std::size_t n)
{
    text.replace(ab, n, n, '*');
}

// The values of the pairs with secret names in urlencoded text, from ab on.
void paare_schwaerzen(std::string &text, std::size_t ab)
{
    while (ab < text.size()) {
        std::size_t ende = std::min(text.find('&', ab), text.size());
        std::size_t gleich = text.find('=', ab);
        if (gleich < ende) {
            Formpaare p = formpaare(text.substr(ab, gleich + 1 - ab));
            if (!p.empty() && ist_geheim(p.front().name))
                maskieren(text, gleich + 1, ende - gleich - 1);
        }
        ab = ende + 1;
    }
}

// Each cookie's value in a Cookie header's value from ab on.
void kekse_schwaerzen(std::string &text, std::size_t ab)
{
    while (ab < text.size()) {
        std::size_t ende = std::min(text.find(';', ab), text.size());
        std::size_t gleich = text.find('=', ab);
        if (gleich < ende)
            maskieren(text, gleich + 1, ende - gleich - 1);
        ab = ende + 1;
    }
}

std::string eintrag_schwaerzen(std::string e)
{
    std::string name = gross(eintragsname(e));
    std::size_t wert = std::min(name.size() + 1, e.size());
    if (name == "HTTP_COOKIE")
        kekse_schwaerzen(e, wert);
    else if (ist_geheim(name))
        maskieren(e, wert, e.size() - wert);
    else if (name == "QUERY_STRING" || name == "REDIRECT_QUERY_STRING")
        paare_schwaerzen(e, wert);
    else if ((name == "REQUEST_URI" || name == "REDIRECT_URL") && e.find('?', wert) != std::string::npos)
        paare_schwaerzen(e, e.find('?', wert) + 1);
    return e;
}

} // namespace

bool ist_geheim(std::string_view name)
{
    std::string g = gross(name);
    for (char &c : g)
        c = c == '-' ? '_' : c;
    for (std::string_view ganz : {"AUTHORIZATION", "PROXY_AUTHORIZATION", "COOKIE"})
        if (g == ganz || g.ends_with("HTTP_" + std::string(ganz)))
            return true;
    constexpr std::array<std::string_view, 5> WOERTER{"TOKEN", "SECRET", "PASSWORD", "KEY", "SIGNATURE"};
    for (std::string_view w : WOERTER)
        if (g.find(w) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> eintraege_schwaerzen(const std::vector<std::string> &eintraege)
{
    std::vector<std::string> erg;
    erg.reserve(eintraege.size());
    for (const std::string &e : eintraege)
        erg.push_back(eintrag_schwaerzen(e));
    return erg;
}

void inhalt_schwaerzen(const Aufzeichnung &a, std::string &inhalt)
{
    std::string_view typ = a.wert("CONTENT_TYPE").value_or("");
    if (ist_urlencoded(typ)) {
        paare_schwaerzen(inhalt, 0);
        return;
    }
    auto grenze = parameter(typ, "boundary");
    if (medientyp(typ) != "multipart/form-data" || !grenze)
        return;
    Multipart m = multipart_zerlegen(inhalt, *grenze);
    for (const Teil &t : m.teile)
        if (ist_geheim(t.name))
            maskieren(inhalt, static_cast<std::size_t>(t.inhalt.data() - inhalt.data()), t.inhalt.size());
}

int schwaerzen(const Aufzeichnung &a, std::string *inhalt, Aufzeichnung &b)
{
    inhalt_schwaerzen(a, *inhalt);
    std::string kopf = kopfteil(eintraege_schwaerzen(a.eintraege()), a.mit_laenge(), a.angesagt());
    std::uint64_t groesse = kopf.size() + a.inhaltlaenge();
    int fd = unbenannte_datei();
    bool ok = fd >= 0 && alles_schreiben(fd, kopf.data(), kopf.size()) &&
              alles_schreiben(fd, inhalt->data(), inhalt->size()) && ftruncate(fd, static_cast<off_t>(groesse)) == 0;
    if (ok && b.kopf_lesen(fd, groesse) == Aufzeichnung::GELESEN)
        return fd;
    meldung("cannot make the masked copy: %s", ok ? "too large" : std::strerror(errno));
    if (fd >= 0)
        close(fd);
    return -1;
}
