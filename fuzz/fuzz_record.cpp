// The record reader on arbitrary bytes: its results must hang together
// whatever the file holds, and reading the entries part from a file (in
// small pieces in this build, up to a limit) must agree with taking the
// bytes apart in memory; and a record that the writer writes from any
// entries made out of the input must read back exactly (an entry that
// needs no mark keeps the bytes older versions gave it), as must one
// written the way older versions wrote it, within their rule's reach.
#include "intern/aufzeichnung.h"
#include "model.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

void zusammenhang(const std::string &input, const Aufzeichnung &a, bool record)
{
    std::string_view body = a.inhalt();
    std::string_view vorne(input.data(), input.size() - body.size());
    model::check(body.size() == a.inhaltlaenge(), "the body in memory is not the whole body");
    model::check(std::string_view(input).ends_with(body), "the body is not the input's end");
    model::check(a.mit_laenge() || body.empty(), "a body without a length line");
    for (const std::string &e : a.eintraege())
        model::check(e.find('\0') == std::string::npos, "an entry holds a zero byte");
    model::check(record == (vorne.find('=') != std::string_view::npos), "record or not, against its lines");
    bool neu = vorne.starts_with('\t') || vorne.find("\n\t") != std::string_view::npos || vorne.starts_with('\0') ||
               vorne.find(std::string_view("\n\0", 2)) != std::string_view::npos;
    model::check(!a.alte_regel() || !neu, "the older rule in a record with a tab line or a mark");
    std::set<std::string_view> namen;
    for (const std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        model::check(namen.insert(name).second, "a name twice in the environment", std::string(name));
        auto w = a.wert(name);
        model::check(e.find('=') == std::string::npos || (w && e.ends_with(*w)), "wert() is not the last value");
    }
    model::check(a.doppelt().size() + namen.size() <= a.eintraege().size(), "duplicate count");
}

// The same input as a file, read with kopf_lesen() up to a limit that the
// input's first byte chooses: the same record as in memory, or too large.
void aus_datei(const std::string &input, const Aufzeichnung &ganz, bool record)
{
    int fd = memfd_create("record", MFD_CLOEXEC);
    model::check(fd >= 0 && write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size()), "memfd");
    std::size_t hoechstens = input.empty() ? 1 : static_cast<unsigned char>(input[0]) * input.size() / 128 + 1;
    Aufzeichnung a;
    Aufzeichnung::Lesen erg = a.kopf_lesen(fd, input.size(), hoechstens);
    close(fd);
    if (erg == Aufzeichnung::ZU_GROSS) {
        model::check(ganz.inhalt_ab() > hoechstens || !ganz.mit_laenge(), "too large, yet within the limit");
        return;
    }
    model::check(erg == (record ? Aufzeichnung::GELESEN : Aufzeichnung::KEIN_DUMP), "file and memory differ");
    model::check(a.eintraege() == ganz.eintraege() && a.mit_laenge() == ganz.mit_laenge() &&
                     a.angesagt() == ganz.angesagt() && a.alte_regel() == ganz.alte_regel(),
                 "the entries from a file differ");
    model::check(a.inhalt_ab() == ganz.inhalt_ab() && a.inhaltlaenge() == ganz.inhaltlaenge() && a.inhalt().empty(),
                 "the body from a file differs");
    model::check(a.inhalt_ab() <= hoechstens, "more read than the limit");
}

// The input's parts: entries separated by \x01 (without zero bytes, which
// no entry holds), then \x02 and the body.
std::vector<std::string> teile(std::string_view input, std::string_view *body)
{
    std::size_t trenn = input.find('\x02');
    std::string_view teil = input.substr(0, trenn);
    *body = trenn == std::string_view::npos ? "" : input.substr(trenn + 1);
    std::vector<std::string> erg;
    for (std::size_t ab = 0; ab <= teil.size();) {
        std::size_t ende = teil.find('\x01', ab);
        std::string e(teil.substr(ab, ende == std::string_view::npos ? ende : ende - ab));
        std::erase(e, '\0');
        erg.push_back(e);
        ab = ende == std::string_view::npos ? teil.size() + 1 : ende + 1;
    }
    return erg;
}

// An entry as the older writers could write it so that their rule reads it
// back: no '=' in a later line, none that starts with a tab or reads as the
// length line.
std::string fuer_alte_regel(const std::string &e)
{
    std::string erg;
    std::size_t ab = 0;
    for (bool erste = true;; erste = false) {
        std::size_t lf = e.find('\n', ab);
        std::string zeile = e.substr(ab, lf == std::string::npos ? std::string::npos : lf - ab);
        long long n = 0;
        if (!erste) {
            std::erase(zeile, '=');
            if (zeile.starts_with('\t') || ist_laengenzeile(zeile, &n))
                zeile.insert(0, 1, 'x');
        }
        erg += (erste ? "" : "\n") + zeile;
        if (lf == std::string::npos)
            return erg;
        ab = lf + 1;
    }
}

void anhaengen(void *kontext, const char *daten, std::size_t n)
{
    static_cast<std::string *>(kontext)->append(daten, n);
}

// The bytes older versions wrote for an entry: a line feed in it followed
// by a tab, then a line feed.
std::string alte_bytes(const std::string &e)
{
    std::string erg;
    for (char z : e)
        erg += z == '\n' ? "\n\t" : std::string(1, z);
    return erg + "\n";
}

// Written with the writer from any entries: each entry that needs no mark
// as older versions wrote it, and what it writes reads back exactly; a
// record needs an entry with '=' in it.
void rundreise(std::string_view input)
{
    std::string_view body;
    std::vector<std::string> eintraege = teile(input, &body);
    std::string datei;
    bool mit_gleich = false;
    for (const std::string &e : eintraege) {
        std::size_t vorher = datei.size();
        eintrag_schreiben(e.c_str(), anhaengen, &datei);
        bool marke = e.starts_with('\t') || e.starts_with('*') || e.find('=') == std::string::npos;
        model::check(datei.substr(vorher) == (marke ? std::string(1, '\0') : "") + alte_bytes(e), "an entry's bytes",
                     e);
        mit_gleich = mit_gleich || e.find('=') != std::string::npos;
    }
    int angesagt = static_cast<int>(body.size()) - static_cast<int>(input.size() % 3);
    laenge_schreiben(angesagt, anhaengen, &datei);
    datei += body;
    Aufzeichnung a;
    model::check(a.zerlegen(datei) == mit_gleich, "a written record is no record, or the other way round");
    if (!mit_gleich)
        return;
    model::check(a.eintraege() == eintraege, "entries differ after a round trip");
    model::check(!a.alte_regel() && a.mit_nullbyte() == 0, "a note on a record that the writer wrote");
    model::check(a.mit_laenge() && a.angesagt() == angesagt, "length line differs after a round trip");
    model::check(a.inhalt() == body, "body differs after a round trip");
}

// Written as older versions wrote it, from entries that hold a '=' in
// their first line and that their rule can read back.
void rundreise_alt(std::string_view input)
{
    std::string_view body;
    std::vector<std::string> eintraege = teile(input, &body);
    std::string datei;
    bool mit_lf = false;
    for (std::string &e : eintraege) {
        e.insert(0, "N=");
        e = fuer_alte_regel(e);
        mit_lf = mit_lf || e.find('\n') != std::string::npos;
        datei += e + "\n";
    }
    long long angesagt = static_cast<long long>(body.size()) - static_cast<long long>(input.size() % 3);
    datei += "*" + std::to_string(angesagt) + "\n";
    datei += body;
    Aufzeichnung a;
    model::check(a.zerlegen(datei), "a written record is no record", "older rule");
    model::check(a.eintraege() == eintraege, "entries differ after a round trip", "older rule");
    model::check(a.alte_regel() == mit_lf, "the older rule's note after a round trip");
    model::check(a.mit_laenge() && a.angesagt() == angesagt, "length line differs after a round trip");
    model::check(a.inhalt() == body, "body differs after a round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    Aufzeichnung a;
    bool record = a.zerlegen(input);
    zusammenhang(input, a, record);
    aus_datei(input, a, record);
    rundreise(input);
    rundreise_alt(input);
    return 0;
}
