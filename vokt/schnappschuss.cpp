#include "schnappschuss.h"
#include "zeichen.h"

#include "ansicht.h"
#include "curl.h"
#include "meldung.h"

#include <algorithm>
#include <cstdio>

namespace {

// Bytes of the body in one line of an escaped body.
constexpr std::size_t ZEILE = 64;
// Bytes of each side in the excerpt of a differing body.
constexpr std::size_t AUSZUG = 24;

bool gleich_ohne_gross(std::string_view a, std::string_view b)
{
    auto klein = [](char z) { return z >= 'A' && z <= 'Z' ? static_cast<char>(z - 'A' + 'a') : z; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return klein(x) == klein(y); });
}

struct Feld {
    std::string_view name, wert;
};

// A header line's name and value (without the blanks around it).
Feld feld(std::string_view zeile)
{
    std::size_t doppelpunkt = std::min(zeile.find(':'), zeile.size());
    return {zeile.substr(0, doppelpunkt), ohne_blanks(zeile.substr(std::min(doppelpunkt + 1, zeile.size())))};
}

// The header lines whose names ohne does not hold.
std::vector<Feld> felder(const std::vector<std::string> &kopf, const Ohne &ohne)
{
    std::vector<Feld> erg;
    for (const std::string &z : kopf) {
        Feld f = feld(z);
        if (std::none_of(ohne.begin(), ohne.end(), [&](const std::string &o) { return gleich_ohne_gross(o, f.name); }))
            erg.push_back(f);
    }
    return erg;
}

std::string ganz_sichtbar(std::string_view t)
{
    return sichtbar(t, t.size());
}

// Whether the body stands in the file as it is.
bool als_text(std::string_view inhalt)
{
    for (char z : inhalt) {
        auto b = static_cast<unsigned char>(z);
        if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F)
            return false;
    }
    return ist_utf8(inhalt);
}

std::string escaped(std::string_view inhalt)
{
    std::string erg;
    std::size_t in_zeile = 0;
    for (std::size_t i = 0; i < inhalt.size(); ++i) {
        erg += sichtbar(inhalt.substr(i, 1));
        if (inhalt[i] == '\n' || ++in_zeile == ZEILE) {
            erg += '\n';
            in_zeile = 0;
        }
    }
    if (in_zeile > 0)
        erg += '\n';
    return erg;
}

// Escaped text back to its bytes, line breaks left out when zeilen; false
// at a backslash without two hex digits after "\x".
bool entschluesseln(std::string_view text, bool zeilen, std::string *erg)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (zeilen && (text[i] == '\n' || text[i] == '\r'))
            continue;
        if (text[i] != '\\') {
            *erg += text[i];
            continue;
        }
        int hoch = i + 3 < text.size() && text[i + 1] == 'x' ? hexziffer(text[i + 2]) : -1;
        int tief = hoch >= 0 ? hexziffer(text[i + 3]) : -1;
        if (tief < 0)
            return false;
        *erg += static_cast<char>(hoch * 16 + tief);
        i += 3;
    }
    return true;
}

// "status NNN" or "status NNN escaped": the status, 0 when it is neither.
int statuszeile(std::string_view z, bool *escaped_inhalt)
{
    *escaped_inhalt = z.size() == 18 && z.substr(10) == " escaped";
    if ((z.size() != 10 && !*escaped_inhalt) || z.substr(0, 7) != "status ")
        return 0;
    int s = 0;
    for (char c : z.substr(7, 3)) {
        if (c < '0' || c > '9')
            return 0;
        s = s * 10 + (c - '0');
    }
    return s >= 100 && s <= 599 ? s : 0;
}

bool fehler_bei(std::string *fehler, int zeile, const std::string &was)
{
    *fehler = "line " + std::to_string(zeile) + ": " + was;
    return false;
}

std::string zitat(std::string_view t)
{
    std::string erg(1, '"');
    erg += sichtbar(t);
    return erg += '"';
}

std::string kopf_unterschied(const std::vector<Feld> &neu, const std::vector<Feld> &alt)
{
    for (std::size_t i = 0; i < std::max(neu.size(), alt.size()); ++i) {
        if (i >= alt.size())
            return "header " + sichtbar(neu[i].name) + ": " + zitat(neu[i].wert) + " is not in the snapshot";
        if (i >= neu.size())
            return "header " + sichtbar(alt[i].name) + " is missing (snapshot: " + zitat(alt[i].wert) + ")";
        const Feld &n = neu[i], &a = alt[i];
        if (!gleich_ohne_gross(n.name, a.name))
            return "header " + sichtbar(n.name) + ": " + zitat(n.wert) + " where the snapshot has " + sichtbar(a.name) +
                   ": " + zitat(a.wert);
        if (n.wert != a.wert)
            return "header " + sichtbar(n.name) + ": " + zitat(n.wert) + " (snapshot: " + zitat(a.wert) + ")";
    }
    return "";
}

std::string inhalt_unterschied(std::string_view neu, std::string_view alt)
{
    auto [n, a] = std::mismatch(neu.begin(), neu.end(), alt.begin(), alt.end());
    if (n == neu.end() && a == alt.end())
        return "";
    auto ab = static_cast<std::size_t>(n - neu.begin());
    std::string bei = "body at offset " + std::to_string(ab) + ": ";
    if (ab == neu.size())
        return bei + "ends (snapshot: " + std::to_string(alt.size() - ab) + " more bytes, " +
               zitat(alt.substr(ab, AUSZUG)) + ")";
    if (ab == alt.size())
        return bei + std::to_string(neu.size() - ab) + " more bytes, " + zitat(neu.substr(ab, AUSZUG)) +
               " (snapshot: ends)";
    return bei + zitat(neu.substr(ab, AUSZUG)) + " (snapshot: " + zitat(alt.substr(ab, AUSZUG)) + ")";
}

} // namespace

void koepfe_weglassen(Antwort &a, const Ohne &ohne)
{
    std::erase_if(a.kopf, [&](const std::string &z) {
        std::string_view name = feld(z).name;
        return std::any_of(ohne.begin(), ohne.end(), [&](const std::string &o) { return gleich_ohne_gross(o, name); });
    });
}

std::string schnappschuss_text(const Antwort &a, const Ohne &ohne)
{
    bool text = als_text(a.inhalt);
    std::string erg = "status " + std::to_string(a.status) + (text ? "\n" : " escaped\n");
    for (const Feld &f : felder(a.kopf, ohne))
        erg += std::string(f.name) + ": " + ganz_sichtbar(f.wert) + "\n";
    erg += "\n";
    return erg + (text ? a.inhalt : escaped(a.inhalt));
}

bool schnappschuss_lesen(std::string_view text, Antwort *a, std::string *fehler)
{
    *a = Antwort{};
    bool escaped_inhalt = false;
    for (int nummer = 1;; ++nummer) {
        std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos)
            return fehler_bei(fehler, nummer, "the file ends before the empty line after the header lines");
        std::string_view z = text.substr(0, lf);
        text.remove_prefix(lf + 1);
        if (!z.empty() && z.back() == '\r')
            z.remove_suffix(1);
        if (nummer == 1) {
            a->status = statuszeile(z, &escaped_inhalt);
            if (a->status == 0)
                return fehler_bei(fehler, 1, "no \"status NNN\" line (100..599, \" escaped\" after it or nothing)");
            continue;
        }
        if (z.empty())
            break;
        Feld f = feld(z);
        std::string wert;
        if (f.name.size() == z.size() || !ist_token(f.name))
            return fehler_bei(fehler, nummer, "no header line \"Name: value\"");
        if (!entschluesseln(f.wert, false, &wert) || !ist_kopfwert(wert))
            return fehler_bei(fehler, nummer, "a backslash that is no \\xHH, or a control byte");
        a->kopf.push_back(std::string(f.name) + ": " + std::string(ohne_blanks(wert)));
    }
    if (!escaped_inhalt) {
        a->inhalt = text;
        return true;
    }
    if (!entschluesseln(text, true, &a->inhalt)) {
        *fehler = "the escaped body holds a backslash that is no \\xHH";
        return false;
    }
    return true;
}

std::string erster_unterschied(const Antwort &neu, const Antwort &alt, const Ohne &ohne)
{
    if (neu.status != alt.status)
        return "status " + std::to_string(neu.status) + " (snapshot: " + std::to_string(alt.status) + ")";
    std::string k = kopf_unterschied(felder(neu.kopf, ohne), felder(alt.kopf, ohne));
    return k.empty() ? inhalt_unterschied(neu.inhalt, alt.inhalt) : k;
}

bool ist_erwarteter_kopf(std::string_view text)
{
    Feld f = feld(text);
    return f.name.size() < text.size() && ist_token(f.name);
}

std::vector<std::string> erwartung_verfehlt(const Antwort &a, const Erwartung &e)
{
    std::vector<std::string> erg;
    if (e.status != 0 && a.status != e.status)
        erg.push_back("expected status " + std::to_string(e.status) + ", got " + std::to_string(a.status));
    for (const std::string &k : e.kopf) {
        Feld soll = feld(k);
        std::string gekommen;
        bool da = false;
        for (const Feld &f : felder(a.kopf, {})) {
            if (!gleich_ohne_gross(f.name, soll.name))
                continue;
            da = da || f.wert == soll.wert;
            gekommen += (gekommen.empty() ? "" : ", ") + zitat(f.wert);
        }
        if (!da)
            erg.push_back("expected header " + sichtbar(soll.name) + ": " + zitat(soll.wert) + ", got " +
                          (gekommen.empty() ? "none" : gekommen));
    }
    return erg;
}

std::string schnappschussname(std::string_view pfad)
{
    std::string_view name = pfad.substr(pfad.rfind('/') + 1);
    std::string erg;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char z = name[i];
        bool sicher = (z >= 'a' && z <= 'z') || (z >= 'A' && z <= 'Z') || (z >= '0' && z <= '9') ||
                      std::string_view("._-+=,@").find(z) != std::string_view::npos;
        if (sicher && !(i == 0 && z == '.')) {
            erg += z;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(z));
            erg += hex;
        }
    }
    return erg;
}
