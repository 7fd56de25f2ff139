// vokt show's multipart reader and body views on arbitrary bytes: the
// input's first line is the Content-Type, the rest the body.  The parts
// lie in the body, in order, without overlap; a body is either closed or
// says what broke, and the start of a closed one is closed or cut, never
// broken; what the views write is safe for terminal and page.
// The input as a whole, when it reads as a record, goes through the
// record's view and its notes too.
#include "anfrageansicht.h"
#include "ausgabe.h"
#include "hinweise.h"
#include "inhaltsansicht.h"
#include "intern/aufzeichnung.h"
#include "multipart.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool innerhalb(std::string_view teil, std::string_view ganz)
{
    return teil.empty() || (teil.data() >= ganz.data() && teil.data() + teil.size() <= ganz.data() + ganz.size());
}

void teile_pruefen(std::string_view typ, std::string_view body)
{
    Multipart m = multipart_zerlegen(body, parameter(typ, "boundary").value_or(""));
    model::check(m.abgeschlossen == m.fehler.empty(), "closed and broken alike");
    model::check(m.teile.size() <= TEILE_HOECHSTENS, "more parts than the limit");
    model::check(!m.am_ende || !m.fehler.empty(), "cut at the end, but nothing broke");
    model::check(m.abgeschnitten == 0 || (m.am_ende && m.abgeschnitten <= m.teile.size() + 1), "cut part unknown");
    // Any start of a whole body is whole too, or cut at its end: never broken.
    if (m.abgeschlossen && !body.empty()) {
        Multipart anfang =
            multipart_zerlegen(body.substr(0, body.size() * 7 / 11), parameter(typ, "boundary").value_or(""));
        model::check(anfang.abgeschlossen || anfang.am_ende, "the start of a whole body is said to be broken");
    }
    const char *bisher = body.data();
    for (const Teil &t : m.teile) {
        model::check(innerhalb(t.kopf, body) && innerhalb(t.inhalt, body), "a part outside the body");
        model::check(t.inhalt.empty() || t.inhalt.data() >= bisher, "parts out of order or overlapping");
        if (!t.inhalt.empty())
            bisher = t.inhalt.data() + t.inhalt.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::size_t lf = input.find('\n');
    std::string_view typ = input.substr(0, lf);
    std::string_view body = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
    teile_pruefen(typ, body);
    ausgabe::pruefen(Ansicht{"", {Abschnitt{"", inhalt_zeilen(typ, body, size % 2 == 0)}}});

    vokt::intern::Aufzeichnung a;
    if (a.zerlegen(std::string(input))) {
        std::string_view praefix = a.inhalt().substr(0, a.inhalt().size() - size % 3);
        ausgabe::pruefen(anfrage_ansicht(a, praefix));
        hinweise(a, praefix);
    }
    return 0;
}
