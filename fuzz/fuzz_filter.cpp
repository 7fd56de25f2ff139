// The filter language on arbitrary text, and the parsed filter asked of an
// arbitrary record: the input's first line is the filter, the rest the
// record.  An error names a byte within the text (or just past it); a
// filter reads the same each time; "not (F)" matches exactly where F does
// not, and "(F) or (F)" where F does.
#include "filter.h"
#include "model.h"
#include "pruefling.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace vokt::intern;

namespace {

constexpr Zeitpunkt JETZT{1796734800, 0};

bool lesen(Filter &f, const std::string &text)
{
    Filterfehler fehler;
    bool ok = f.lesen(text, JETZT, &fehler);
    model::check(ok || fehler.bei <= text.size(), "an error beyond the text", text);
    model::check(ok || !fehler.was.empty(), "an error without a reason", text);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::size_t lf = input.find('\n');
    std::string text(input.substr(0, lf));
    Filter f;
    bool ok = lesen(f, text);
    Filter nochmal;
    model::check(lesen(nochmal, text) == ok, "the same text read twice differently", text);
    Aufzeichnung a;
    if (!ok || lf == std::string_view::npos || !a.zerlegen(std::string(input.substr(lf + 1))))
        return 0;
    Pruefling p(a, {1796731200, 0}, -1);
    bool ja = f.trifft(p);
    Filter nicht, oder;
    bool klammer = lesen(nicht, "not (" + text + ")") && lesen(oder, "(" + text + ") or (" + text + ")");
    if (klammer) {
        model::check(nicht.trifft(p) == !ja, "not (F) is not the opposite of F", text);
        model::check(oder.trifft(p) == ja, "(F) or (F) is not F", text);
    }
    return 0;
}
