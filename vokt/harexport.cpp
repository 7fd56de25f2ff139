#include "harexport.h"
#include "anfrage.h"
#include "ansicht.h"
#include "curl.h"
#include "meldung.h"
#include "zeichen.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

using namespace vokt::intern;

namespace {

bool ist_url_byte(char z)
{
    auto b = static_cast<unsigned char>(z);
    return b > 0x20 && b < 0x7F;
}

template <class Paare> Json namenswerte(const Paare &paare)
{
    Json erg = Json::array();
    for (const auto &[name, wert] : paare)
        erg.push_back({{"name", name}, {"value", wert}});
    return erg;
}

} // namespace

std::string har_url(const Aufzeichnung &a)
{
    std::string ziel = anfrageziel(a);
    bool absolut = ziel.starts_with("http://") || ziel.starts_with("https://");
    std::string erg = absolut ? "" : anfragebasis(a);
    if (!absolut && !ziel.starts_with("/"))
        erg.push_back('/');
    for (char z : ziel) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(z));
        if (ist_url_byte(z))
            erg.push_back(z);
        else
            erg.append(hex);
    }
    return erg;
}

std::vector<std::pair<std::string, std::string>> kekse(std::string_view kopf)
{
    std::vector<std::pair<std::string, std::string>> erg;
    while (!kopf.empty()) {
        std::size_t ende = std::min(kopf.find(';'), kopf.size());
        std::string_view keks = ohne_blanks(kopf.substr(0, ende));
        kopf.remove_prefix(std::min(ende + 1, kopf.size()));
        if (keks.empty())
            continue;
        std::size_t gleich = keks.find('=');
        if (gleich == std::string_view::npos)
            erg.emplace_back("", keks);
        else
            erg.emplace_back(ohne_blanks(keks.substr(0, gleich)), ohne_blanks(keks.substr(gleich + 1)));
    }
    return erg;
}

Json har_koepfe(const Aufzeichnung &a, std::vector<std::string> *hinweise)
{
    bool mit_typ = a.wert("CONTENT_TYPE").has_value();
    bool mit_laenge = a.wert("CONTENT_LENGTH").value_or("") != "";
    std::vector<std::pair<std::string, std::string>> koepfe;
    for (const std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        std::string wert = e.substr(std::min(name.size() + 1, e.size()));
        if (name == "CONTENT_TYPE" || (name == "CONTENT_LENGTH" && mit_laenge)) {
            koepfe.emplace_back(kopfname(name), wert);
            continue;
        }
        if (!name.starts_with("HTTP_") || (name == "HTTP_CONTENT_TYPE" && mit_typ) ||
            (name == "HTTP_CONTENT_LENGTH" && mit_laenge))
            continue;
        std::string kname = kopfname(name.substr(5));
        if (kname.empty())
            hinweise->push_back(std::string("left out ").append(sichtbar(name)).append(", which is no header name"));
        else
            koepfe.emplace_back(kname, wert);
    }
    return namenswerte(koepfe);
}

std::string base64(std::string_view bytes)
{
    static const char ZEICHEN[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string erg;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned long block = 0;
        for (std::size_t k = 0; k < 3; ++k)
            block = block << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
        for (std::size_t k = 0; k < 4; ++k)
            erg.push_back(k <= n ? ZEICHEN[(block >> (18 - 6 * k)) & 0x3F] : '=');
    }
    return erg;
}

namespace {

Json post_daten(const Aufzeichnung &a, std::string_view inhalt)
{
    std::string typ(a.wert("CONTENT_TYPE").value_or(""));
    Json erg = {{"mimeType", typ}};
    if (ist_utf8(inhalt)) {
        erg["text"] = inhalt;
    } else {
        erg["text"] = base64(inhalt);
        erg["encoding"] = "base64";
        erg["comment"] = "the body is no UTF-8: text holds it in base64";
    }
    // HAR 1.2 allows text or params, never both: the body's own bytes are
    // kept, a form's pairs are for the reader to decode.
    return erg;
}

Json anfrage(const Aufzeichnung &a, std::string_view inhalt, std::vector<std::string> *hinweise)
{
    std::string methode(a.wert("REQUEST_METHOD").value_or(""));
    Json erg = {{"method", methode},
                {"url", har_url(a)},
                {"httpVersion", a.wert("SERVER_PROTOCOL").value_or("")},
                {"cookies", namenswerte(kekse(a.wert("HTTP_COOKIE").value_or("")))},
                {"headers", har_koepfe(a, hinweise)},
                {"queryString", namenswerte(formpaare(a.wert("QUERY_STRING").value_or("")))}};
    if (!inhalt.empty() || (a.mit_laenge() && methode == "POST"))
        erg["postData"] = post_daten(a, inhalt);
    erg["headersSize"] = -1;
    erg["bodySize"] = a.mit_laenge() ? static_cast<std::uint64_t>(inhalt.size()) : 0U;
    return erg;
}

Json antwort()
{
    return {{"status", 0},
            {"statusText", ""},
            {"httpVersion", ""},
            {"cookies", Json::array()},
            {"headers", Json::array()},
            {"content", {{"size", 0}, {"mimeType", "x-unknown"}}},
            {"redirectURL", ""},
            {"headersSize", -1},
            {"bodySize", -1}};
}

} // namespace

Json har_eintrag(const Aufzeichnung &a, std::string_view inhalt, const Zeitpunkt &zeit,
                 std::vector<std::string> *hinweise)
{
    return {{"startedDateTime", iso8601(zeit, 3)},
            {"time", 0},
            {"request", anfrage(a, inhalt, hinweise)},
            {"response", antwort()},
            {"cache", Json::object()},
            {"timings", {{"send", 0}, {"wait", 0}, {"receive", 0}}}};
}

Json har_log(Json eintraege, const char *version)
{
    return {{"log",
             {{"version", "1.2"},
              {"creator", {{"name", "vokt"}, {"version", version}}},
              {"entries", std::move(eintraege)}}}};
}
