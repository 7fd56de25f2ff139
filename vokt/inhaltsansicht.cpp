#include "inhaltsansicht.h"

#include "anfrage.h"
#include "multipart.h"

#include <cstdint>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

void utf8_anhaengen(std::string &aus, std::uint32_t cp)
{
    if (cp < 0x80) {
        aus += static_cast<char>(cp);
    } else if (cp < 0x800) {
        aus += static_cast<char>(0xC0 | (cp >> 6));
        aus += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        aus += static_cast<char>(0xE0 | (cp >> 12));
        aus += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        aus += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// windows-1252's characters for 0x80 to 0x9F; 0 where it has none.
constexpr std::uint16_t CP1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// n and the word, which gets an s unless n is 1.
std::string anzahl(std::size_t n, const std::string &wort)
{
    return std::to_string(n) + " " + wort + (n == 1 ? "" : "s");
}

std::string groesse(std::size_t n)
{
    return anzahl(n, "byte");
}

Zeile satz(std::string text, int tiefe = 0)
{
    return Zeile{Zeile::SATZ, tiefe, "", std::move(text), 0};
}

Zeile text(std::string t, int tiefe = 0)
{
    return Zeile{Zeile::TEXT, tiefe, "", std::move(t), 0};
}

Zeile bytes(std::string_view b, int tiefe = 0)
{
    return Zeile{Zeile::BYTES, tiefe, "", std::string(b), 0};
}

// The first bytes of a binary body or part, and how many there are.
void hex_auszug(std::vector<Zeile> &z, std::string_view b, int tiefe)
{
    z.push_back(bytes(b.substr(0, HEX_HOECHSTENS), tiefe));
    if (b.size() > HEX_HOECHSTENS)
        z.push_back(satz("... the first " + std::to_string(HEX_HOECHSTENS) + " of " + groesse(b.size()), tiefe));
}

std::vector<Zeile> formular_zeilen(std::string_view kodiert, std::string_view erklaert)
{
    std::vector<Paar> paare = formpaare(kodiert);
    std::size_t alle = formpaare_anzahl(kodiert);
    std::string cs = formular_charset(paare, erklaert);
    std::vector<Zeile> z{
        satz("urlencoded form, " + anzahl(alle, "pair") + (cs.empty() ? ", no charset declared" : ", charset " + cs))};
    for (std::size_t i = 0; i < paare.size() && i < ZEILEN_HOECHSTENS; ++i)
        z.push_back(Zeile{Zeile::PAAR, 1, als_utf8(paare[i].name, cs), als_utf8(paare[i].wert, cs), 0});
    if (alle > ZEILEN_HOECHSTENS)
        z.push_back(satz("... and " + anzahl(alle - ZEILEN_HOECHSTENS, "more pair"), 1));
    if (alle > paare.size())
        z.push_back(satz("vokt.cgi decodes only the first " + std::to_string(paare.size()) + " pairs", 1));
    return z;
}

// What the text of a body says of its charset.
std::string charset_satz(std::string_view cs, std::string_view inhalt)
{
    if (!cs.empty())
        return "charset " + std::string(cs);
    return ist_utf8(inhalt) ? "no charset declared; the bytes are UTF-8"
                            : "no charset declared; bytes that are no UTF-8 are shown as \\xHH";
}

std::vector<Zeile> text_zeilen(std::string_view mt, std::string_view cs, std::string_view inhalt)
{
    return {satz("text (" + (mt.empty() ? std::string("no type") : std::string(mt)) + "), " + charset_satz(cs, inhalt)),
            text(als_utf8(inhalt, cs), 1)};
}

bool ist_textart(std::string_view mt)
{
    return mt.starts_with("text/") || mt.ends_with("+xml") || mt == "application/xml" ||
           mt == "application/javascript" || mt == "application/x-ndjson";
}

bool ist_json(std::string_view mt, std::string_view inhalt)
{
    if (mt == "application/json" || mt.ends_with("+json"))
        return true;
    std::size_t erstes = inhalt.find_first_not_of(" \t\r\n");
    return mt.empty() && erstes != std::string_view::npos && (inhalt[erstes] == '{' || inhalt[erstes] == '[') &&
           json::accept(inhalt.begin(), inhalt.end());
}

// Reads a JSON text through without building it: whether it is whole,
// how deep it nests, where and why it breaks, and at most how many bytes
// its pretty view (two blanks per level) takes.
class JsonPruefung : public nlohmann::json_sax<json> {
public:
    bool null() override { return wert(4); }
    bool boolean(bool) override { return wert(5); }
    bool number_integer(number_integer_t) override { return wert(ZAHL); }
    bool number_unsigned(number_unsigned_t) override { return wert(ZAHL); }
    bool number_float(number_float_t, const string_t &) override { return wert(ZAHL); }
    bool string(string_t &s) override { return wert(text(s)); }
    bool binary(binary_t &) override { return true; }
    bool start_object(std::size_t) override { return tiefer(); }
    bool key(string_t &s) override
    {
        zeile(text(s) + 2);
        nach_schluessel = true;
        return true;
    }
    bool end_object() override { return flacher(); }
    bool start_array(std::size_t) override { return tiefer(); }
    bool end_array() override { return flacher(); }
    bool parse_error(std::size_t bei, const std::string &, const nlohmann::detail::exception &ex) override
    {
        std::string_view w = ex.what();
        std::size_t klammer = w.find("] ");
        grund = klammer == std::string_view::npos ? w : w.substr(klammer + 2);
        position = bei;
        return false;
    }

    static constexpr std::size_t TIEFE_HOECHSTENS = 500;
    std::string grund;
    std::size_t position = 0;
    bool zu_tief = false;
    std::uint64_t schoen = 0; // the pretty view's bytes, at most

private:
    // The most bytes that a number takes when it is written out again.
    static constexpr std::size_t ZAHL = 32;
    // A string written out again: every byte at most as \u00XX.
    static std::size_t text(const string_t &s) { return 6 * s.size() + 2; }
    // A line at the depth: its indentation unless it follows its key,
    // the bytes, a comma and the line feed.
    void zeile(std::size_t bytes)
    {
        schoen += (nach_schluessel ? 0 : 2 * tiefe) + bytes + 2;
        nach_schluessel = false;
    }
    bool wert(std::size_t bytes)
    {
        zeile(bytes);
        return true;
    }
    bool tiefer()
    {
        zeile(1);
        zu_tief = zu_tief || ++tiefe > TIEFE_HOECHSTENS;
        return true;
    }
    bool flacher()
    {
        --tiefe;
        zeile(1);
        return true;
    }
    std::uint64_t tiefe = 0;
    bool nach_schluessel = false;
};

// The charset of a part: its own, the form's, none.
std::string teil_charset(const Teil &t, std::string_view form)
{
    std::string eigen = charset_von(t.typ);
    return eigen.empty() ? std::string(form) : eigen;
}

// The start of a part's bytes shown as text: up to TEILTEXT_HOECHSTENS
// bytes, without a character cut at its end.
std::string_view textanfang(std::string_view inhalt)
{
    std::string_view anfang = inhalt.substr(0, TEILTEXT_HOECHSTENS);
    for (int i = 0; i < 3 && anfang.size() < inhalt.size() && !ist_utf8(anfang); ++i)
        anfang.remove_suffix(1);
    return anfang;
}

bool teil_als_text(const Teil &t, std::string_view anfang, std::string_view cs)
{
    std::string mt = medientyp(t.typ);
    return (mt.empty() || ist_textart(mt)) && sieht_nach_text_aus(als_utf8(anfang, cs));
}

void teil_zeilen(std::vector<Zeile> &z, std::size_t nr, const Teil &t, std::string_view form, bool geschnitten)
{
    std::string cs = teil_charset(t, form);
    std::string kopf = "part " + std::to_string(nr) + ": name \"" + als_utf8(t.name, cs) + "\"";
    if (t.dateiname)
        kopf += ", filename \"" + als_utf8(*t.dateiname, cs) + "\"";
    if (!t.typ.empty())
        kopf += ", type " + t.typ;
    z.push_back(satz(kopf + ", " + groesse(t.inhalt.size()) + (geschnitten ? " in the view" : "")));
    std::string_view anfang = textanfang(t.inhalt);
    if (t.inhalt.empty())
        return;
    if (!teil_als_text(t, anfang, cs)) {
        hex_auszug(z, t.inhalt, 1);
        return;
    }
    z.push_back(text(als_utf8(anfang, cs), 1));
    if (anfang.size() < t.inhalt.size())
        z.push_back(satz("... the first " + groesse(anfang.size()) + " of " + groesse(t.inhalt.size()), 1));
}

// The value of the part named _charset_, if any.
std::string charset_feld(const Multipart &m)
{
    for (const Teil &t : m.teile)
        if (t.name == "_charset_" && !t.dateiname)
            return std::string(t.inhalt);
    return "";
}

// What the view says of a body that its end cuts: the body goes on.
std::string vom_ansicht_geschnitten(const Multipart &m)
{
    std::string wo = m.abgeschnitten == 0 ? "before the first part" : "within part " + std::to_string(m.abgeschnitten);
    std::string teil = m.abgeschnitten == 0 ? "" : ", --part " + std::to_string(m.abgeschnitten) + " -o FILE writes it";
    return "the view ends " + wo + ": the body goes on past the bytes shown (vokt show --all shows all of it" + teil +
           ")";
}

} // namespace

Zeichensatz zeichensatz(std::string_view name)
{
    if (name.empty())
        return Zeichensatz::KEINER;
    if (name == "utf-8" || name == "utf8")
        return Zeichensatz::UTF8;
    if (name == "us-ascii" || name == "ascii")
        return Zeichensatz::ASCII;
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" || name == "latin-1" ||
        name == "l1")
        return Zeichensatz::LATIN1;
    if (name == "windows-1252" || name == "cp1252")
        return Zeichensatz::CP1252;
    return Zeichensatz::ANDERER;
}

std::string charset_von(std::string_view content_type)
{
    // A charset's name is a token: "UTF-8" and "utf-8" are one.
    return medientyp(parameter(content_type, "charset").value_or(""));
}

std::string formular_charset(const std::vector<Paar> &paare, std::string_view erklaert)
{
    for (const Paar &p : paare)
        if (p.name == "_charset_" && !p.wert.empty())
            return medientyp(p.wert);
    return std::string(erklaert);
}

std::string als_utf8(std::string_view bytes, std::string_view charset)
{
    Zeichensatz zs = zeichensatz(charset);
    if (zs != Zeichensatz::LATIN1 && zs != Zeichensatz::CP1252)
        return std::string(bytes);
    std::string aus;
    for (char z : bytes) {
        auto b = static_cast<unsigned char>(z);
        std::uint32_t cp = b;
        if (zs == Zeichensatz::CP1252 && b >= 0x80 && b <= 0x9F && CP1252[b - 0x80] != 0)
            cp = CP1252[b - 0x80];
        utf8_anhaengen(aus, cp);
    }
    return aus;
}

bool sieht_nach_text_aus(std::string_view bytes)
{
    for (char z : bytes) {
        auto b = static_cast<unsigned char>(z);
        if ((b < 0x20 && z != '\t' && z != '\n' && z != '\r') || b == 0x7F)
            return false;
    }
    return ist_utf8(bytes);
}

std::uint64_t json_schoen_hoechstens(std::size_t bytes)
{
    return JSON_FAKTOR * std::uint64_t{bytes} + JSON_SOCKEL;
}

std::vector<Zeile> json_zeilen(std::string_view t, bool ganz)
{
    JsonPruefung p;
    bool gut = json::sax_parse(t.begin(), t.end(), &p);
    bool zu_gross = p.schoen > json_schoen_hoechstens(t.size());
    if (gut && !p.zu_tief && !zu_gross) {
        json j = json::parse(t.begin(), t.end(), nullptr, false);
        return {satz("JSON"), text(j.dump(2, ' ', false, json::error_handler_t::replace), 1)};
    }
    std::string warum =
        !gut ? "invalid JSON, shown as it came: it breaks at byte " + std::to_string(p.position) + " (" + p.grund + ")"
        : p.zu_tief
            ? "JSON nested deeper than " + std::to_string(JsonPruefung::TIEFE_HOECHSTENS) + " levels, shown as it came"
            : "JSON nested so deep that its pretty view would take more than " + std::to_string(JSON_FAKTOR) +
                  " times its bytes and " + std::to_string(JSON_SOCKEL >> 10) + " KiB, shown as it came";
    std::vector<Zeile> z{satz(warum)};
    if (!gut && !ganz)
        z.push_back(satz("(the view holds only the start of the body)"));
    z.push_back(text(std::string(t), 1));
    return z;
}

std::vector<Zeile> multipart_zeilen(std::string_view content_type, std::string_view inhalt, bool ganz)
{
    Multipart m = multipart_zerlegen(inhalt, parameter(content_type, "boundary").value_or(""));
    std::string form = charset_feld(m);
    form = form.empty() ? charset_von(content_type) : medientyp(form);
    bool geschnitten = !ganz && m.am_ende;
    std::vector<Zeile> z{satz(medientyp(content_type) + ", " + anzahl(m.teile.size(), "part") +
                              (geschnitten ? " in the view" : "") + (form.empty() ? "" : ", charset " + form))};
    for (std::size_t i = 0; i < m.teile.size() && i < ZEILEN_HOECHSTENS; ++i)
        teil_zeilen(z, i + 1, m.teile[i], form, geschnitten && i + 1 == m.abgeschnitten);
    if (m.teile.size() > ZEILEN_HOECHSTENS)
        z.push_back(satz("... and " + anzahl(m.teile.size() - ZEILEN_HOECHSTENS, "more part")));
    if (geschnitten)
        z.push_back(satz(vom_ansicht_geschnitten(m)));
    else if (!m.fehler.empty())
        z.push_back(satz("broken multipart: " + m.fehler));
    return z;
}

std::vector<Zeile> inhalt_zeilen(std::string_view content_type, std::string_view inhalt, bool ganz)
{
    std::string mt = medientyp(content_type);
    std::string cs = charset_von(content_type);
    if (inhalt.empty())
        return {satz("empty")};
    if (mt == "application/x-www-form-urlencoded")
        return formular_zeilen(inhalt, cs);
    if (mt.starts_with("multipart/"))
        return multipart_zeilen(content_type, inhalt, ganz);
    if (ist_json(mt, inhalt))
        return json_zeilen(inhalt, ganz);
    if (ist_textart(mt) || !cs.empty() || sieht_nach_text_aus(inhalt))
        return text_zeilen(mt, cs, inhalt);
    std::vector<Zeile> z{satz("binary (" + (mt.empty() ? std::string("no type") : mt) + ")")};
    hex_auszug(z, inhalt, 1);
    return z;
}
