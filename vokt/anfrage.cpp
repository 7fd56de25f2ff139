#include "anfrage.h"

#include "cgivar.h"
#include "curl.h"

#include <algorithm>
#include <map>

using namespace vokt::intern;

std::string anfrageziel(const Aufzeichnung &a)
{
    auto uri = a.wert("REQUEST_URI");
    if (uri && !uri->empty())
        return std::string(*uri);
    std::string erg = std::string(a.wert("SCRIPT_NAME").value_or("")) + std::string(a.wert("PATH_INFO").value_or(""));
    auto qs = a.wert("QUERY_STRING");
    if (qs && !qs->empty())
        erg.append("?").append(*qs);
    return erg;
}

namespace {

bool ist_https(std::string_view schema)
{
    return schema.size() == 5 && std::equal(schema.begin(), schema.end(), "https", [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x) == y;
           });
}

} // namespace

std::string anfragebasis(const Aufzeichnung &a, bool *ohne_host)
{
    auto https = a.wert("HTTPS");
    bool sicher = (https && (*https == "on" || *https == "ON" || *https == "1")) ||
                  ist_https(a.wert("REQUEST_SCHEME").value_or(""));
    std::string erg = sicher ? "https://" : "http://";
    auto host = a.wert("HTTP_HOST");
    auto server = a.wert("SERVER_NAME");
    auto port = a.wert("SERVER_PORT");
    if (ohne_host != nullptr)
        *ohne_host = false;
    if (host && ist_host(*host))
        return erg + std::string(*host);
    if (!server || !ist_host(*server)) {
        if (ohne_host != nullptr)
            *ohne_host = true;
        return erg + "localhost";
    }
    erg += *server;
    if (port && *port != (sicher ? "443" : "80") && ist_host(*port))
        erg.append(":").append(*port);
    return erg;
}

bool ist_urlencoded(std::string_view typ)
{
    typ = typ.substr(0, typ.find(';'));
    while (!typ.empty() && (typ.front() == ' ' || typ.front() == '\t'))
        typ.remove_prefix(1);
    while (!typ.empty() && (typ.back() == ' ' || typ.back() == '\t'))
        typ.remove_suffix(1);
    constexpr std::string_view FORM = "application/x-www-form-urlencoded";
    return typ.size() == FORM.size() && std::equal(typ.begin(), typ.end(), FORM.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x) == y;
           });
}

std::string kopfeintrag(std::string_view kopf)
{
    std::string n;
    for (char c : kopf)
        n += c == '-' ? '_' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    return n == "CONTENT_TYPE" || n == "CONTENT_LENGTH" ? n : "HTTP_" + n;
}

namespace {

constexpr auto PAARE = static_cast<std::size_t>(MAXPAARE);

// A decoded text as the program's map keeps it: up to its first zero byte.
std::string bis_null(const std::string &text)
{
    return text.substr(0, text.find('\0'));
}

} // namespace

Formpaare formpaare(std::string_view text)
{
    Formpaare erg;
    if (text.empty())
        return erg;
    std::string name;
    std::string jetzt;
    for (std::size_t i = 0; i < text.size() && erg.size() < PAARE; ++i) {
        char z = text[i];
        if (z == '=') {
            name = bis_null(jetzt);
            jetzt.clear();
        } else if (z == '&') {
            erg.push_back({name, bis_null(jetzt)});
            jetzt.clear();
        } else if (z == '%') {
            std::size_t rest = std::min<std::size_t>(text.size() - i - 1, 2);
            int hoch = rest >= 1 ? hex(text[i + 1]) : 0;
            int tief = rest >= 2 ? hex(text[i + 2]) : 0;
            jetzt += static_cast<char>(hoch * 16 + tief);
            i += rest;
        } else {
            jetzt += z == '+' ? ' ' : z;
        }
    }
    if (erg.size() < PAARE)
        erg.push_back({name, bis_null(jetzt)});
    return erg;
}

std::size_t formpaare_anzahl(std::string_view text)
{
    return text.empty() ? 0 : static_cast<std::size_t>(std::count(text.begin(), text.end(), '&')) + 1;
}

Formpaare letzte_werte(const Formpaare &paare)
{
    std::map<std::string_view, std::string_view> karte;
    for (const Paar &p : paare)
        karte[p.name] = p.wert;
    Formpaare erg;
    for (const auto &[name, wert] : karte)
        erg.push_back({std::string(name), std::string(wert)});
    return erg;
}
