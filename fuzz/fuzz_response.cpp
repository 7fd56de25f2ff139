// vokt send's response on arbitrary bytes from a server: the input up to
// its first zero byte is the header part, cut into lines after each line
// feed as libcurl's header callback gives them; the rest is the body, in
// pieces of 1 to 256 bytes as its first byte says.  Whatever comes, what
// is kept stays within its bounds and hangs together, and the summary is
// one line of printable ASCII.
#include "httpantwort.h"
#include "model.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void kopf_zerlegen(HttpAntwort &r, std::string_view kopf)
{
    while (!kopf.empty()) {
        std::size_t lf = kopf.find('\n');
        std::size_t n = lf == std::string_view::npos ? kopf.size() : lf + 1;
        bool ok = kopfzeile_nehmen(r, kopf.substr(0, n));
        model::check(ok == r.abbruch.empty(), "a header line refused without a reason, or taken with one");
        kopf.remove_prefix(n);
    }
}

void inhalt_zerlegen(HttpAntwort &r, std::string_view inhalt)
{
    std::size_t stueck = inhalt.empty() ? 1 : static_cast<unsigned char>(inhalt[0]) + 1;
    while (!inhalt.empty()) {
        std::size_t vorher = r.inhalt.size();
        std::string_view s = inhalt.substr(0, stueck);
        bool ok = inhalt_nehmen(r, s);
        model::check(!ok || r.inhalt.size() == vorher + s.size(), "a piece of the body not kept whole");
        inhalt.remove_prefix(s.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view eingabe(reinterpret_cast<const char *>(data), size);
    std::size_t null = eingabe.find('\0');
    HttpAntwort r;
    kopf_zerlegen(r, eingabe.substr(0, null));
    if (null != std::string_view::npos)
        inhalt_zerlegen(r, eingabe.substr(null + 1));
    model::check(r.kopfbytes <= ANTWORTKOPF_HOECHSTENS || !r.abbruch.empty(), "header lines past the bound");
    model::check(r.inhalt.size() <= ANTWORTINHALT_HOECHSTENS, "a body past the bound");
    model::check(r.status == 0 || (r.status >= 100 && r.status <= 999), "a status of other than three digits");
    model::check(r.status == 0 || r.statuszeile.starts_with("HTTP/"), "a status without a status line");
    std::size_t gehalten = r.statuszeile.size();
    for (const std::string &k : r.koepfe) {
        model::check(k.find('\n') == std::string::npos && !k.empty(), "a header line with a line feed, or empty");
        gehalten += k.size();
    }
    model::check(gehalten <= r.kopfbytes, "more header bytes kept than came");
    for (char z : antwort_text(r))
        model::check(z >= 0x20 && z < 0x7F, "a byte of the summary that is no printable ASCII");
    return 0;
}
