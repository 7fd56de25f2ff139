#include "multipart.h"

namespace {

bool leer(char z)
{
    return z == ' ' || z == '\t';
}

std::string_view ohne_raender(std::string_view s)
{
    while (!s.empty() && leer(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && leer(s.back()))
        s.remove_suffix(1);
    return s;
}

char klein(char z)
{
    return z >= 'A' && z <= 'Z' ? static_cast<char>(z - 'A' + 'a') : z;
}

bool gleich_ohne_fall(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (klein(a[i]) != klein(b[i]))
            return false;
    return true;
}

// A quoted string from s[i] (the byte after the opening quote) up to its
// closing quote or the end; i ends after it.
std::string zitat(std::string_view s, std::size_t &i)
{
    std::string erg;
    for (; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\'))
            ++i;
        erg += s[i];
    }
    ++i;
    return erg;
}

// One parameter from s[i] on: its name and value; i ends at the next ';'
// or the end.
void ein_parameter(std::string_view s, std::size_t &i, std::string_view &name, std::string &wert)
{
    std::size_t anfang = i;
    while (i < s.size() && s[i] != '=' && s[i] != ';')
        ++i;
    name = ohne_raender(s.substr(anfang, i - anfang));
    wert.clear();
    if (i >= s.size() || s[i] == ';')
        return;
    ++i;
    while (i < s.size() && leer(s[i]))
        ++i;
    bool zitiert = i < s.size() && s[i] == '"';
    if (zitiert) {
        ++i;
        wert = zitat(s, i);
    }
    std::size_t rest = i;
    while (i < s.size() && s[i] != ';')
        ++i;
    if (!zitiert)
        wert = ohne_raender(s.substr(rest, i - rest));
}

// The header lines of a part, read for its name, file name and type.
void kopf_lesen(Teil &t)
{
    std::string_view k = t.kopf;
    while (!k.empty()) {
        std::size_t ende = k.find("\r\n");
        std::string_view zeile = k.substr(0, ende);
        k = ende == std::string_view::npos ? std::string_view() : k.substr(ende + 2);
        std::size_t dp = zeile.find(':');
        if (dp == std::string_view::npos)
            continue;
        std::string_view name = ohne_raender(zeile.substr(0, dp));
        std::string_view wert = ohne_raender(zeile.substr(dp + 1));
        if (gleich_ohne_fall(name, "Content-Type")) {
            t.typ = wert;
        } else if (gleich_ohne_fall(name, "Content-Disposition")) {
            t.name = parameter(wert, "name").value_or("");
            t.dateiname = parameter(wert, "filename");
        }
    }
}

// One part from ab (after its delimiter line's line end) on; the position
// of its closing delimiter's "\r\n", or npos after a note in m.
std::size_t teil_lesen(std::string_view body, std::size_t ab, std::string_view trenner, Multipart &m)
{
    Teil t;
    std::size_t inhalt_ab = ab;
    if (body.substr(ab, 2) != "\r\n") {
        std::size_t kopfende = body.find("\r\n\r\n", ab);
        if (kopfende == std::string_view::npos) {
            m.fehler = "part " + std::to_string(m.teile.size() + 1) + ": its headers do not end";
            m.am_ende = true;
            m.abgeschnitten = m.teile.size() + 1;
            return std::string_view::npos;
        }
        t.kopf = body.substr(ab, kopfende - ab);
        inhalt_ab = kopfende + 2;
    }
    inhalt_ab += 2;
    kopf_lesen(t);
    std::size_t ende = body.find("\r\n" + std::string(trenner), inhalt_ab);
    t.inhalt = body.substr(inhalt_ab, ende == std::string_view::npos ? std::string_view::npos : ende - inhalt_ab);
    m.teile.push_back(t);
    if (ende == std::string_view::npos) {
        m.fehler = "part " + std::to_string(m.teile.size()) + " does not end: no delimiter follows it";
        m.am_ende = true;
        m.abgeschnitten = m.teile.size();
    }
    return ende;
}

// Where the first delimiter line starts: at the body's start or after a
// preamble's line end.
std::size_t erster_trenner(std::string_view body, std::string_view trenner)
{
    if (body.starts_with(trenner))
        return 0;
    std::size_t bei = body.find("\r\n" + std::string(trenner));
    return bei == std::string_view::npos ? bei : bei + 2;
}

} // namespace

std::string medientyp(std::string_view wert)
{
    std::string erg(ohne_raender(wert.substr(0, wert.find(';'))));
    for (char &z : erg)
        z = klein(z);
    return erg;
}

std::optional<std::string> parameter(std::string_view wert, std::string_view name)
{
    std::size_t i = wert.find(';');
    while (i < wert.size()) {
        ++i;
        std::string_view n;
        std::string w;
        ein_parameter(wert, i, n, w);
        if (gleich_ohne_fall(n, name))
            return w;
    }
    return std::nullopt;
}

Multipart multipart_zerlegen(std::string_view body, std::string_view grenze)
{
    Multipart m;
    if (grenze.empty()) {
        m.fehler = "no boundary in the Content-Type";
        return m;
    }
    std::string trenner = "--" + std::string(grenze);
    std::size_t bei = erster_trenner(body, trenner);
    if (bei == std::string_view::npos) {
        m.fehler = "the boundary never occurs in the body";
        m.am_ende = true;
    }
    while (bei != std::string_view::npos) {
        std::size_t p = bei + trenner.size();
        if (body.substr(p, 2) == "--") {
            m.abgeschlossen = true;
            return m;
        }
        while (p < body.size() && leer(body[p]))
            ++p;
        if (body.substr(p, 2) != "\r\n") {
            // A delimiter line that the end cuts: "--" or "\r\n" would follow.
            m.am_ende = std::string_view("\r\n").starts_with(body.substr(p)) ||
                        std::string_view("--").starts_with(body.substr(bei + trenner.size()));
            m.abgeschnitten = m.am_ende ? m.teile.size() + 1 : 0;
            m.fehler = p >= body.size() ? "the body ends after a delimiter" : "a delimiter line holds more";
            return m;
        }
        if (m.teile.size() == TEILE_HOECHSTENS) {
            m.fehler = "more than " + std::to_string(TEILE_HOECHSTENS) + " parts: the rest is not read";
            return m;
        }
        bei = teil_lesen(body, p + 2, trenner, m);
        bei = bei == std::string_view::npos ? bei : bei + 2;
    }
    return m;
}
