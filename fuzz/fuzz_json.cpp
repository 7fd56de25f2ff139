// vokt show's JSON view on arbitrary bytes: valid JSON is pretty-printed
// to the same value, anything else shown as it came with where it breaks;
// the pretty view never takes more than its bound, and what it writes is
// safe for terminal and page.
#include "ausgabe.h"
#include "inhaltsansicht.h"

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

using nlohmann::json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<Zeile> z = json_zeilen(input, size % 2 == 0);
    model::check(z.size() >= 2 && z.back().art == Zeile::TEXT, "no text block");
    json j = json::parse(input.begin(), input.end(), nullptr, false);
    if (z.front().text == "JSON") {
        model::check(!j.is_discarded(), "invalid JSON pretty-printed");
        model::check(json::parse(z.back().text, nullptr, false) == j, "the pretty text is another value");
        model::check(z.back().text.size() <= json_schoen_hoechstens(size), "the pretty text exceeds its bound");
    } else {
        model::check(z.back().text == input, "invalid JSON not shown as it came");
    }
    ausgabe::pruefen(Ansicht{"", {Abschnitt{"", z}}});
    return 0;
}
