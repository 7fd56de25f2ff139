#include "ansicht.h"

#include <cstdint>
#include <cstdio>

namespace {

// The code point of the well-formed character of n bytes at p.
std::uint32_t codepunkt(const unsigned char *p, std::size_t n)
{
    if (n == 1)
        return p[0];
    std::uint32_t cp = p[0] & (0x7Fu >> n);
    for (std::size_t i = 1; i < n; ++i)
        cp = (cp << 6) | (p[i] & 0x3Fu);
    return cp;
}

// Characters that a terminal or a browser takes for more than a letter:
// C1 controls, the marks and embeddings that turn the direction of the
// text, the line and paragraph separators.
bool heimtueckisch(std::uint32_t cp)
{
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::string steuerzeichen(unsigned char b)
{
    switch (b) {
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", b);
    return hex;
}

void maskiert(std::string &aus, const std::string &text, bool html)
{
    aus += html ? "<span class=\"e\">" + text + "</span>" : text;
}

void ascii(std::string &aus, char z, bool html)
{
    if (z == '\\')
        aus += "\\\\";
    else if (html && z == '&')
        aus += "&amp;";
    else if (html && z == '<')
        aus += "&lt;";
    else if (html && z == '>')
        aus += "&gt;";
    else if (html && z == '"')
        aus += "&quot;";
    else if (html && z == '\'')
        aus += "&#39;";
    else
        aus += z;
}

// The bytes made safe, for a terminal or (html) for a page.
void anhaengen(std::string &aus, std::string_view s, bool html)
{
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = utf8_laenge(s, i);
        if (n == 0 || b < 0x20 || b == 0x7F) {
            maskiert(aus, steuerzeichen(b), html);
            ++i;
            continue;
        }
        if (n == 1) {
            ascii(aus, s[i], html);
        } else if (std::uint32_t cp = codepunkt(reinterpret_cast<const unsigned char *>(s.data() + i), n);
                   heimtueckisch(cp)) {
            char u[16];
            std::snprintf(u, sizeof u, "\\u{%04X}", static_cast<unsigned>(cp));
            maskiert(aus, u, html);
        } else {
            aus += s.substr(i, n);
        }
        i += n;
    }
}

// Lines of 16 bytes: the offset, the bytes in hex, the printable ones.
std::vector<std::string> hex_zeilen(std::string_view bytes, std::size_t ab)
{
    std::vector<std::string> zeilen;
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        char z[16];
        std::snprintf(z, sizeof z, "%08zx ", ab + i);
        std::string hex = z;
        std::string lesbar;
        for (std::size_t j = i; j < i + 16; ++j) {
            if (j < bytes.size()) {
                auto b = static_cast<unsigned char>(bytes[j]);
                std::snprintf(z, sizeof z, " %02x", b);
                lesbar += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
            } else {
                std::snprintf(z, sizeof z, "   ");
            }
            hex += z;
            if (j == i + 7)
                hex += ' ';
        }
        hex += "  |";
        hex += lesbar;
        hex += '|';
        zeilen.push_back(hex);
    }
    return zeilen;
}

// The lines of a text block, each without its line feed (and a carriage
// return before it).
std::vector<std::string_view> zeilen_von(std::string_view text)
{
    std::vector<std::string_view> erg;
    while (!text.empty()) {
        std::size_t lf = text.find('\n');
        std::string_view zeile = text.substr(0, lf);
        if (lf != std::string_view::npos && zeile.ends_with('\r'))
            zeile.remove_suffix(1);
        erg.push_back(zeile);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    }
    return erg;
}

void text_zeile(std::string &aus, const Zeile &z)
{
    std::string einzug(static_cast<std::size_t>(2 * (z.tiefe + 1)), ' ');
    switch (z.art) {
    case Zeile::SATZ: aus += einzug + sicher(z.text) + "\n"; break;
    case Zeile::KOPF: aus += einzug + sicher(z.name) + ": " + sicher(z.text) + "\n"; break;
    case Zeile::PAAR: aus += einzug + sicher(z.name) + " = " + sicher(z.text) + "\n"; break;
    case Zeile::TEXT:
        for (std::string_view zeile : zeilen_von(z.text))
            aus += einzug + sicher(zeile) + "\n";
        break;
    case Zeile::BYTES:
        for (const std::string &zeile : hex_zeilen(z.text, z.ab))
            aus += einzug + zeile + "\n";
        break;
    }
}

std::string html_text(std::string_view s)
{
    std::string aus;
    anhaengen(aus, s, true);
    return aus;
}

void html_zeile(std::string &aus, const Zeile &z)
{
    std::string klasse = " class=\"t" + std::to_string(z.tiefe < 0 ? 0 : z.tiefe > 3 ? 3 : z.tiefe) + "\"";
    std::string block;
    switch (z.art) {
    case Zeile::SATZ: aus += "<p" + klasse + ">" + html_text(z.text) + "</p>\n"; return;
    case Zeile::KOPF:
    case Zeile::PAAR:
        aus += "<p" + klasse + "><b>" + html_text(z.name) + "</b>" + (z.art == Zeile::KOPF ? ": " : " = ") + "<code>" +
               html_text(z.text) + "</code></p>\n";
        return;
    case Zeile::TEXT:
        for (std::string_view zeile : zeilen_von(z.text))
            block += html_text(zeile) + "\n";
        break;
    case Zeile::BYTES:
        for (const std::string &zeile : hex_zeilen(z.text, z.ab))
            block += html_text(zeile) + "\n";
        break;
    }
    aus += "<pre" + klasse + ">" + block + "</pre>\n";
}

const char *const HTML_ANFANG =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
    "<style>\nbody { font-family: sans-serif; margin: 1em 2em; }\nh1, code, pre { font-family: monospace; }\n"
    "h1 { font-size: 1.3em; }\nh2 { font-size: 1.1em; border-bottom: 1px solid #ccc; }\n"
    "p, pre { margin: 0.2em 0; }\npre { background: #f4f4f4; padding: 0.3em; white-space: pre-wrap; }\n"
    ".t1 { margin-left: 2em; }\n.t2 { margin-left: 4em; }\n.t3 { margin-left: 6em; }\n"
    ".e { color: #b00; }\n</style>\n";

} // namespace

std::size_t utf8_laenge(std::string_view s, std::size_t i)
{
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80)
        return 1;
    std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || s.size() - i < n)
        return 0;
    auto b1 = static_cast<unsigned char>(s[i + 1]);
    // The second byte's range rules out overlong forms, surrogates and
    // code points beyond U+10FFFF.
    unsigned char unten = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char oben = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (b1 < unten || b1 > oben)
        return 0;
    for (std::size_t j = 2; j < n; ++j)
        if ((static_cast<unsigned char>(s[i + j]) & 0xC0) != 0x80)
            return 0;
    return n;
}

bool ist_utf8(std::string_view s, std::size_t *bei)
{
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = utf8_laenge(s, i);
        if (n == 0) {
            if (bei != nullptr)
                *bei = i;
            return false;
        }
        i += n;
    }
    return true;
}

std::string sicher(std::string_view bytes)
{
    std::string aus;
    anhaengen(aus, bytes, false);
    return aus;
}

std::string als_text(const Ansicht &a)
{
    std::string aus = sicher(a.titel) + "\n";
    for (const Abschnitt &ab : a.abschnitte) {
        aus += '\n';
        aus += sicher(ab.titel);
        aus += '\n';
        for (const Zeile &z : ab.zeilen)
            text_zeile(aus, z);
    }
    return aus;
}

std::string als_html(const Ansicht &a)
{
    std::string aus = HTML_ANFANG;
    aus += "<title>vokt show: " + html_text(a.titel) + "</title>\n</head>\n<body>\n";
    aus += "<h1>" + html_text(a.titel) + "</h1>\n";
    for (const Abschnitt &ab : a.abschnitte) {
        aus += "<h2>" + html_text(ab.titel) + "</h2>\n";
        for (const Zeile &z : ab.zeilen)
            html_zeile(aus, z);
    }
    return aus + "</body>\n</html>\n";
}
