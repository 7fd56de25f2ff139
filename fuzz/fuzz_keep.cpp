// The history's setting (the text of <dump>.d/keep) on arbitrary bytes:
// every result must be within the limits, and a text that is used must
// read the same with blanks added around its words.
#include "intern/verlaufsgrenzen.h"
#include "model.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace vokt::intern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *text = reinterpret_cast<const char *>(data);
    Verlaufsgrenzen g;
    Einstellung e = verlauf_grenzen_aus(text, size, g);
    if (e == Einstellung::UNGUELTIG) {
        Verlaufsgrenzen vorher;
        model::check(g.anzahl == vorher.anzahl && g.alter == 0 && g.umfang == 0, "an unused text changed the limits");
        return 0;
    }
    model::check(g.anzahl >= 1 && g.anzahl <= VERLAUF_HOECHSTENS, "a count out of range");
    model::check(g.alter >= 0 && g.umfang >= 0, "a negative limit");
    std::string mehr = " \n" + std::string(text, size) + "\r\t";
    Verlaufsgrenzen h;
    model::check(verlauf_grenzen_aus(mehr.data(), mehr.size(), h) == e, "blanks changed the verdict");
    model::check(h.anzahl == g.anzahl && h.alter == g.alter && h.umfang == g.umfang, "blanks changed the limits");
    return 0;
}
