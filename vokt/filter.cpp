// The filter's parser: the text into a tree of tests, its nodes in one
// vector; each error names the byte where the text stops being a filter.
#include "filter.h"
#include "anfrage.h"
#include "zeichen.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <re2/re2.h>

namespace {

using Feld = Filter::Feld;
using Vergleich = Filter::Vergleich;
using Knoten = Filter::Knoten;
using Test = Filter::Test;

constexpr int TIEFE_HOECHSTENS = 100;

struct Feldname {
    std::string_view name;
    Feld feld;
};

constexpr std::array FELDER{
    Feldname{"method", Feld::METHODE}, Feldname{"target", Feld::ZIEL}, Feldname{"path", Feld::PFAD},
    Feldname{"query", Feld::ANFRAGE},  Feldname{"header", Feld::KOPF}, Feldname{"entry", Feld::EINTRAG},
    Feldname{"body", Feld::INHALT},    Feldname{"form", Feld::FORM},   Feldname{"note", Feld::HINWEIS},
    Feldname{"since", Feld::SEIT},     Feldname{"until", Feld::BIS},   Feldname{"age", Feld::ALTER},
    Feldname{"size", Feld::GROESSE},   Feldname{"whole", Feld::GANZ},  Feldname{"short", Feld::KURZ},
    Feldname{"more", Feld::MEHR},      Feldname{"none", Feld::KEINER},
};

char klein(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ist_buchstabe(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool ist_leer(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool ist_vergleichszeichen(char c)
{
    return c == '=' || c == '~' || c == '<' || c == '>';
}

// Digits from s[*i] on (at most 15): the number, -1 when there are none.
long long zahl_lesen(std::string_view s, std::size_t *i, std::size_t hoechstens = 15)
{
    long long z = 0;
    std::size_t anfang = *i;
    while (*i < s.size() && *i - anfang < hoechstens && s[*i] >= '0' && s[*i] <= '9')
        z = z * 10 + (s[(*i)++] - '0');
    return *i == anfang ? -1 : z;
}

// A size: digits, then k, M or G (KiB, MiB, GiB) or nothing.
bool groesse_lesen(std::string_view s, long long *zahl)
{
    std::size_t i = 0;
    long long z = zahl_lesen(s, &i, 12);
    if (z < 0)
        return false;
    std::string_view rest = s.substr(i);
    int schieben = rest.empty() ? 0 : rest == "k" || rest == "K" ? 10 : rest == "M" ? 20 : rest == "G" ? 30 : -1;
    *zahl = z << std::max(schieben, 0);
    return schieben >= 0;
}

// A duration: digits and one of s, m, h, d, w; in microseconds.
bool dauer_lesen(std::string_view s, long long *zahl)
{
    std::size_t i = 0;
    long long z = zahl_lesen(s, &i, 9);
    if (z < 0 || i + 1 != s.size())
        return false;
    constexpr std::string_view EINHEITEN = "smhdw";
    constexpr std::array<long long, 5> SEKUNDEN{1, 60, 3600, 86400, 604800};
    std::size_t e = EINHEITEN.find(s[i]);
    if (e == std::string_view::npos)
        return false;
    *zahl = z * SEKUNDEN[e] * 1000000;
    return true;
}

// A time in UTC: 2026-12-08, then optionally T10:15, :02, .123456 and Z;
// in microseconds since the epoch.
bool zeit_lesen(std::string_view s, long long *zahl)
{
    std::size_t i = 0;
    std::array<long long, 6> teil{0, 1, 1, 0, 0, 0};
    constexpr std::array<char, 6> VOR{'\0', '-', '-', 'T', ':', ':'};
    constexpr std::array<std::size_t, 6> STELLEN{4, 2, 2, 2, 2, 2};
    std::size_t n = 0;
    for (; n < teil.size() && i <= s.size(); ++n) {
        if (n > 0 && (i == s.size() || s[i] != VOR[n]))
            break;
        i += n > 0 ? 1 : 0;
        std::size_t vor = i;
        teil[n] = zahl_lesen(s, &i, STELLEN[n]);
        if (i - vor != STELLEN[n])
            return false;
    }
    long long mikro = 0;
    if (n == 6 && i < s.size() && s[i] == '.') {
        std::size_t vor = ++i;
        mikro = zahl_lesen(s, &i, 6);
        for (std::size_t k = i - vor; k < 6; ++k)
            mikro *= 10;
        if (i == vor)
            return false;
    }
    if (i < s.size() && s[i] == 'Z')
        ++i;
    if (n < 3 || n == 4 || i != s.size())
        return false;
    std::tm t{};
    t.tm_year = static_cast<int>(teil[0] - 1900);
    t.tm_mon = static_cast<int>(teil[1] - 1);
    t.tm_mday = static_cast<int>(teil[2]);
    t.tm_hour = static_cast<int>(teil[3]);
    t.tm_min = static_cast<int>(teil[4]);
    t.tm_sec = static_cast<int>(teil[5]);
    std::tm soll = t;
    time_t sek = timegm(&t);
    if (t.tm_mon != soll.tm_mon || t.tm_mday != soll.tm_mday || t.tm_hour != soll.tm_hour || t.tm_min != soll.tm_min ||
        t.tm_sec != soll.tm_sec)
        return false;
    *zahl = static_cast<long long>(sek) * 1000000 + mikro;
    return true;
}

class Leser {
public:
    Leser(std::string_view text, const Zeitpunkt &jetzt, std::vector<Knoten> &knoten)
        : text_(text), jetzt_(jetzt), knoten_(knoten)
    {
    }

    int filter()
    {
        int k = oder(0);
        leer();
        if (k >= 0 && i_ < text_.size())
            return fehler("an operator ('and', 'or') or the end expected");
        return k;
    }

    Filterfehler fehler_;

private:
    int fehler(std::string was, std::size_t bei = SIZE_MAX)
    {
        if (fehler_.was.empty())
            fehler_ = {bei == SIZE_MAX ? i_ : bei, std::move(was)};
        return -1;
    }

    void leer()
    {
        while (i_ < text_.size() && ist_leer(text_[i_]))
            ++i_;
    }

    // The next word of letters, lower case, without moving on.
    std::string wort() const
    {
        std::string w;
        for (std::size_t j = i_; j < text_.size() && ist_buchstabe(text_[j]); ++j)
            w += klein(text_[j]);
        return w;
    }

    // Whether the keyword w stands next (a word on its own).
    bool schluessel(std::string_view w) const
    {
        std::size_t ende = i_ + w.size();
        return wort() == w &&
               (ende == text_.size() || ist_leer(text_[ende]) || text_[ende] == '(' || text_[ende] == ')');
    }

    int neu(Knoten k)
    {
        if (knoten_.size() >= Filter::KNOTEN_HOECHSTENS)
            return fehler("more than " + std::to_string(Filter::KNOTEN_HOECHSTENS) + " tests and operators");
        knoten_.push_back(std::move(k));
        return static_cast<int>(knoten_.size() - 1);
    }

    int verbinden(Knoten::Art art, int links, int rechts)
    {
        Knoten k;
        k.art = art;
        k.links = links;
        k.rechts = rechts;
        k.teuer = knoten_[static_cast<std::size_t>(links)].teuer ||
                  (rechts >= 0 && knoten_[static_cast<std::size_t>(rechts)].teuer);
        return neu(std::move(k));
    }

    int oder(int tiefe)
    {
        int k = und(tiefe);
        for (leer(); k >= 0 && schluessel("or"); leer()) {
            i_ += 2;
            int r = und(tiefe);
            k = r < 0 ? -1 : verbinden(Knoten::ODER, k, r);
        }
        return k;
    }

    int und(int tiefe)
    {
        int k = nicht(tiefe);
        for (leer(); k >= 0 && i_ < text_.size() && text_[i_] != ')' && !schluessel("or"); leer()) {
            if (schluessel("and"))
                i_ += 3;
            int r = nicht(tiefe);
            k = r < 0 ? -1 : verbinden(Knoten::UND, k, r);
        }
        return k;
    }

    int nicht(int tiefe)
    {
        leer();
        if (tiefe >= TIEFE_HOECHSTENS)
            return fehler("nested more than " + std::to_string(TIEFE_HOECHSTENS) + " deep");
        if (schluessel("not")) {
            i_ += 3;
            int k = nicht(tiefe + 1);
            return k < 0 ? -1 : verbinden(Knoten::NICHT, k, -1);
        }
        if (i_ < text_.size() && text_[i_] == '(') {
            std::size_t auf = i_++;
            int k = oder(tiefe + 1);
            leer();
            if (k >= 0 && (i_ == text_.size() || text_[i_] != ')'))
                return fehler("the '(' at byte " + std::to_string(auf + 1) + " is not closed");
            ++i_;
            return k;
        }
        return test();
    }

    // A quoted text from the '"' at i_ on, or the bytes up to a blank or
    // ')' (or, for a name, an operator too).
    bool text_lesen(std::string *erg, bool als_name)
    {
        if (i_ < text_.size() && text_[i_] == '"')
            return zitat_lesen(erg);
        while (i_ < text_.size() && !ist_leer(text_[i_]) && text_[i_] != ')' &&
               !(als_name && (ist_vergleichszeichen(text_[i_]) || text_[i_] == '(')))
            *erg += text_[i_++];
        return true;
    }

    bool zitat_lesen(std::string *erg)
    {
        std::size_t auf = i_++;
        for (; i_ < text_.size() && text_[i_] != '"'; ++i_) {
            char c = text_[i_];
            if (c == '\\' && i_ + 1 < text_.size() && (text_[i_ + 1] == '"' || text_[i_ + 1] == '\\')) {
                c = text_[++i_];
            } else if (c == '\\' && i_ + 3 < text_.size() && text_[i_ + 1] == 'x' && hexziffer(text_[i_ + 2]) >= 0 &&
                       hexziffer(text_[i_ + 3]) >= 0) {
                c = static_cast<char>(hexziffer(text_[i_ + 2]) * 16 + hexziffer(text_[i_ + 3]));
                i_ += 3;
            }
            *erg += c;
        }
        if (i_ == text_.size())
            return falsch("the '\"' at byte " + std::to_string(auf + 1) + " is not closed", auf);
        ++i_;
        return true;
    }

    Vergleich vergleich()
    {
        constexpr std::array<std::pair<std::string_view, Vergleich>, 7> OPS{{
            {"=~", Vergleich::MUSTER},
            {"<=", Vergleich::HOECHSTENS},
            {">=", Vergleich::MINDESTENS},
            {"=", Vergleich::GLEICH},
            {"~", Vergleich::ENTHAELT},
            {"<", Vergleich::KLEINER},
            {">", Vergleich::GROESSER},
        }};
        for (const auto &[zeichen, op] : OPS)
            if (text_.substr(i_, zeichen.size()) == zeichen) {
                i_ += zeichen.size();
                return op;
            }
        return Vergleich::DA;
    }

    int test()
    {
        std::size_t anfang = i_;
        std::string w = wort();
        const Feldname *f = nullptr;
        for (const Feldname &n : FELDER)
            if (n.name == w)
                f = &n;
        if (f == nullptr)
            return fehler(w.empty() ? "a test expected (a field such as method, header:NAME, body)"
                                    : "unknown field '" + w + "'");
        i_ += w.size();
        Knoten k;
        k.test.feld = f->feld;
        if (i_ < text_.size() && text_[i_] == ':') {
            ++i_;
            k.test.mit_name = true;
            std::size_t bei = i_;
            if (!text_lesen(&k.test.name, true))
                return -1;
            if (k.test.name.empty())
                return fehler("a NAME expected after ':'", bei);
        }
        std::size_t opbei = i_;
        k.test.op = vergleich();
        if (k.test.op != Vergleich::DA) {
            std::size_t bei = i_;
            if (!text_lesen(&k.test.wert, false))
                return -1;
            if (i_ == bei)
                return fehler("a value expected", bei);
            opbei = bei;
        }
        if (!pruefen(k.test, anfang, opbei))
            return -1;
        k.teuer = f->feld == Feld::INHALT || f->feld == Feld::FORM || f->feld == Feld::HINWEIS;
        return neu(std::move(k));
    }

    // The comparisons a field takes, and how to say so.
    static std::pair<unsigned, const char *> erlaubt(const Test &t)
    {
        auto bit = [](Vergleich v) { return 1U << static_cast<unsigned>(v); };
        unsigned text = bit(Vergleich::GLEICH) | bit(Vergleich::ENTHAELT) | bit(Vergleich::MUSTER);
        unsigned ordnung = bit(Vergleich::KLEINER) | bit(Vergleich::GROESSER) | bit(Vergleich::HOECHSTENS) |
                           bit(Vergleich::MINDESTENS);
        switch (t.feld) {
        case Feld::GROESSE: return {ordnung | bit(Vergleich::GLEICH), "=, <, >, <= or >= and a size"};
        case Feld::ALTER: return {ordnung, "<, >, <= or >= and an age"};
        case Feld::SEIT:
        case Feld::BIS: return {bit(Vergleich::GLEICH), "'=' and a time"};
        case Feld::GANZ:
        case Feld::KURZ:
        case Feld::MEHR:
        case Feld::KEINER: return {bit(Vergleich::DA), "no value"};
        default: break;
        }
        if (t.mit_name)
            return {text | bit(Vergleich::DA), "=, ~ or =~ and a value, or nothing"};
        return {text, "=, ~ or =~ and a value"};
    }

    bool falsch(std::string was, std::size_t bei)
    {
        fehler(std::move(was), bei);
        return false;
    }

    // Whether the test's parts fit its field; the value read into its
    // number or regular expression.
    bool pruefen(Test &t, std::size_t anfang, std::size_t wertbei)
    {
        bool benannt = t.feld == Feld::KOPF || t.feld == Feld::FORM || t.feld == Feld::EINTRAG;
        std::string name(FELDER[static_cast<std::size_t>(t.feld)].name);
        if (t.mit_name && !benannt)
            return falsch(name + " takes no ':NAME'", anfang);
        if (t.feld == Feld::EINTRAG && !t.mit_name)
            return falsch("entry needs a NAME: entry:NAME", anfang);
        auto [bits, wie] = erlaubt(t);
        if ((bits & (1U << static_cast<unsigned>(t.op))) == 0)
            return falsch(name + " takes " + wie, anfang);
        if (t.feld == Feld::KOPF && t.mit_name)
            t.name = kopfeintrag(t.name);
        return wert_lesen(t, wertbei);
    }

    bool wert_lesen(Test &t, std::size_t bei)
    {
        bool ok = true;
        if (t.feld == Feld::GROESSE)
            ok = groesse_lesen(t.wert, &t.zahl) || falsch("a size expected (digits, then k, M or G)", bei);
        else if (t.feld == Feld::ALTER)
            ok = dauer_lesen(t.wert, &t.zahl) || falsch("an age expected (digits and s, m, h, d or w)", bei);
        else if (t.feld == Feld::SEIT || t.feld == Feld::BIS)
            ok = zeit_lesen(t.wert, &t.zahl) || falsch("a time expected (2026-12-08T10:15:02Z, UTC)", bei);
        if (t.feld == Feld::ALTER)
            t.zahl = jetzt_.sekunden * 1000000 + jetzt_.mikro - t.zahl; // the time that age stands for
        if (ok && t.op == Vergleich::MUSTER)
            ok = muster_lesen(t, bei);
        return ok;
    }

    bool muster_lesen(Test &t, std::size_t bei)
    {
        RE2::Options o;
        o.set_encoding(RE2::Options::EncodingLatin1);
        o.set_log_errors(false);
        o.set_case_sensitive(t.feld != Feld::METHODE);
        auto re = std::make_shared<const RE2>(t.wert, o);
        if (!re->ok())
            return falsch("no regular expression: " + re->error(), bei);
        t.muster = std::move(re);
        return true;
    }

    std::string_view text_;
    Zeitpunkt jetzt_;
    std::vector<Knoten> &knoten_;
    std::size_t i_ = 0;
};

} // namespace

bool Filter::lesen(std::string_view text, const Zeitpunkt &jetzt, Filterfehler *fehler)
{
    knoten_.clear();
    Leser l(text, jetzt, knoten_);
    wurzel_ = l.filter();
    if (wurzel_ < 0) {
        *fehler = l.fehler_;
        knoten_.clear();
    }
    return wurzel_ >= 0;
}
