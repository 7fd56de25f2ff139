// The record reader on arbitrary bytes: its results must hang together
// whatever the file holds; and a record written the way vokt.cgi writes it,
// from entries made out of the input, must read back exactly.
#include "dumpleser.h"
#include "model.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

void zusammenhang(const std::string &input)
{
    Aufzeichnung a;
    bool record = a.zerlegen(input);
    std::string_view body(a.inhalt(), a.inhaltlaenge());
    std::string_view vorne(input.data(), input.size() - body.size());
    model::check(std::string_view(input).ends_with(body), "the body is not the input's end");
    model::check(a.mit_laenge() || body.empty(), "a body without a length line");
    for (const std::string &e : a.eintraege())
        model::check(e.find('\0') == std::string::npos, "an entry holds a zero byte");
    model::check(record == (vorne.find('=') != std::string_view::npos), "record or not, against its lines");
    std::set<std::string_view> namen;
    for (const std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        model::check(namen.insert(name).second, "a name twice in the environment", std::string(name));
        auto w = a.wert(name);
        model::check(e.find('=') == std::string::npos || (w && e.ends_with(*w)), "wert() is not the last value");
    }
    model::check(a.doppelt().size() + namen.size() <= a.eintraege().size(), "duplicate count");
}

// Entries that the writer can produce and the reader must take back as
// they are: no zero byte, '=' in the first line, none in a later line, and
// no later line that reads as the length line.
std::string als_eintrag(std::string_view roh)
{
    std::string e = "N=";
    bool erste = true;
    std::size_t ab = 0;
    for (;;) {
        std::size_t lf = roh.find('\n', ab);
        std::string zeile(roh.substr(ab, lf == std::string_view::npos ? std::string_view::npos : lf - ab));
        std::erase(zeile, '\0');
        if (!erste)
            std::erase(zeile, '=');
        long long n = 0;
        if (!erste && ist_laengenzeile(zeile, &n))
            zeile.insert(0, 1, 'x');
        e += (erste ? "" : "\n") + zeile;
        erste = false;
        if (lf == std::string_view::npos)
            return e;
        ab = lf + 1;
    }
}

void rundreise(std::string_view input)
{
    std::size_t trenn = input.find('\x02');
    std::string_view teil = input.substr(0, trenn);
    std::string_view body = trenn == std::string_view::npos ? "" : input.substr(trenn + 1);
    std::vector<std::string> eintraege;
    std::string datei;
    for (std::size_t ab = 0; ab <= teil.size();) {
        std::size_t ende = teil.find('\x01', ab);
        eintraege.push_back(als_eintrag(teil.substr(ab, ende == std::string_view::npos ? ende : ende - ab)));
        datei += eintraege.back() + "\n";
        ab = ende == std::string_view::npos ? teil.size() + 1 : ende + 1;
    }
    long long angesagt = static_cast<long long>(body.size()) - static_cast<long long>(input.size() % 3);
    datei += "*" + std::to_string(angesagt) + "\n";
    datei += body;
    Aufzeichnung a;
    model::check(a.zerlegen(datei), "a written record is no record");
    model::check(a.eintraege() == eintraege, "entries differ after a round trip");
    model::check(a.mit_laenge() && a.angesagt() == angesagt, "length line differs after a round trip");
    model::check(std::string_view(a.inhalt(), a.inhaltlaenge()) == body, "body differs after a round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    zusammenhang(input);
    rundreise(input);
    return 0;
}
