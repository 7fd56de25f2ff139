// A snapshot file on arbitrary bytes (people edit them): what is read
// writes a text that reads back as the same response and compares the
// same, and an escaped text is printable ASCII and line feeds alone.
#include "model.h"
#include "schnappschuss.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    Antwort a;
    std::string fehler;
    if (!schnappschuss_lesen(text, &a, &fehler)) {
        model::check(!fehler.empty(), "no reason for an unread snapshot");
        return 0;
    }
    model::check(a.status >= 100 && a.status <= 599, "a status out of range");
    std::string neu = schnappschuss_text(a);
    Antwort b;
    model::check(schnappschuss_lesen(neu, &b, &fehler), "its own text is unread", fehler);
    model::check(b.status == a.status && b.kopf == a.kopf && b.inhalt == a.inhalt, "the round trip changed it");
    model::check(schnappschuss_text(b) == neu, "the text changed on the second round");
    model::check(erster_unterschied(a, b).empty(), "the same response differs");
    // The first line says whether the body is escaped; the header lines
    // never hold a control byte.
    std::size_t kopfende = neu.find("\n\n");
    bool escaped = neu.substr(0, neu.find('\n')).ends_with(" escaped");
    for (std::size_t i = 0; i < neu.size(); ++i) {
        auto z = static_cast<unsigned char>(neu[i]);
        if (i < kopfende || escaped)
            model::check(z == '\n' || (z >= 0x20 && z < 0x7F), "an unreadable byte in the file");
    }
    return 0;
}
