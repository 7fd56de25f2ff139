#include "anfrage.h"

#include "cgivar.h"
#include "curl.h"

#include <algorithm>
#include <cstdio>
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

std::string anfragebasis(const Aufzeichnung &a)
{
    auto https = a.wert("HTTPS");
    bool sicher = (https && (*https == "on" || *https == "ON" || *https == "1")) ||
                  a.wert("REQUEST_SCHEME").value_or("") == "https";
    std::string erg = sicher ? "https://" : "http://";
    auto host = a.wert("HTTP_HOST");
    auto server = a.wert("SERVER_NAME");
    auto port = a.wert("SERVER_PORT");
    if (host && ist_host(*host))
        return erg + std::string(*host);
    if (!server || !ist_host(*server))
        return erg + "localhost";
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

namespace {

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
    for (std::size_t i = 0; i < text.size(); ++i) {
        char z = text[i];
        if (z == '=') {
            name = bis_null(jetzt);
            jetzt.clear();
        } else if (z == '&') {
            erg.emplace_back(name, bis_null(jetzt));
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
    erg.emplace_back(name, bis_null(jetzt));
    return erg;
}

Formpaare letzte_werte(const Formpaare &paare)
{
    std::map<std::string, std::string> karte;
    for (const auto &[name, wert] : paare)
        karte[name] = wert;
    return {karte.begin(), karte.end()};
}

std::string anzeigbar(std::string_view text, std::size_t hoechstens)
{
    std::string erg;
    for (std::size_t i = 0; i < text.size() && i < hoechstens; ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        if (b >= 0x20 && b < 0x7F && b != '\\')
            erg += text[i];
        else
            erg += hex;
    }
    return text.size() > hoechstens ? erg + "..." : erg;
}
