// vokt verify's readers of signature headers on arbitrary bytes: the
// input's first line names the scheme (--scheme's text, else the first
// byte picks a known one), its second is the signature header's value,
// its third the timestamp header's, the rest the body.  Each check stays
// within the header's parts; a match needs a signature that matches; the
// signature made here with the same secret matches, added to any header
// (the sender's bytes cannot hide it); and hex and base64 read back to what
// they were written from.
#include "model.h"
#include "signatur.h"

#include <nettle/base64.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view GEHEIMNIS = "fuzz secret";
constexpr long long ZEIT = 1796724902;

std::string_view zeile(std::string_view *rest)
{
    std::size_t lf = rest->find('\n');
    std::string_view z = rest->substr(0, lf);
    rest->remove_prefix(lf == std::string_view::npos ? rest->size() : lf + 1);
    return z;
}

std::string hex(std::string_view bytes)
{
    static const char ziffern[] = "0123456789abcdef";
    std::string aus;
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        aus.append(1, ziffern[u >> 4]).append(1, ziffern[u & 15]);
    }
    return aus;
}

std::string base64(std::string_view bytes)
{
    std::string aus(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(aus.data(), bytes.size(), reinterpret_cast<const std::uint8_t *>(bytes.data()));
    return aus;
}

// The header with a right signature of the scheme added.
std::string mit_richtiger(const Verfahren &v, const Nachricht &n, std::string_view wert)
{
    std::string w(wert);
    switch (v.art) {
    case Art::TOKEN: return std::string(GEHEIMNIS);
    case Art::STRIPE: {
        std::string t = std::to_string(ZEIT);
        return "t=" + t + ",v1=" + hex(hmac(v.hash, GEHEIMNIS, t + "." + std::string(n.inhalt))) + "," + w;
    }
    case Art::SLACK:
        return v.praefix + hex(hmac(v.hash, GEHEIMNIS, "v0:" + std::string(n.zeitwert) + ":" + std::string(n.inhalt))) +
               "," + w;
    case Art::HMAC: break;
    }
    std::string digest = hmac(v.hash, GEHEIMNIS, n.inhalt);
    return v.praefix + (v.form == Form::BASE64 ? base64(digest) : hex(digest)) + "," + w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    std::string_view name = zeile(&rest);
    Verfahren v;
    if (!verfahren_lesen(name, &v)) {
        const auto &liste = bekannte_verfahren();
        v = liste[name.empty() ? 0 : static_cast<unsigned char>(name[0]) % liste.size()];
    }
    Nachricht n;
    n.kopfwert = zeile(&rest);
    n.zeitwert = zeile(&rest);
    n.mit_zeitwert = true;
    n.inhalt = rest;
    n.zeit = ZEIT;
    Ergebnis e = pruefen(v, n, GEHEIMNIS);
    std::string detail(reinterpret_cast<const char *>(data), size);
    model::check(!e.passt || e.signatur_passt, "a match without a matching signature", detail);
    model::check(!e.signatur_passt || e.signaturen >= 1, "a match without a signature", detail);
    model::check(e.signaturen + e.fremde <= n.kopfwert.size() + 1, "more parts than the header has bytes", detail);

    // The right signature matches among any others; with the timestamp the
    // record's own when the scheme signs one.
    std::string zeit = std::to_string(ZEIT);
    if (v.art == Art::SLACK)
        n.zeitwert = zeit;
    std::string richtig = mit_richtiger(v, n, n.kopfwert);
    n.kopfwert = richtig;
    Ergebnis r = pruefen(v, n, GEHEIMNIS);
    model::check(r.passt, "the right signature did not match", detail);

    // hex and base64 of the header's bytes read back.
    std::string bytes;
    if (hex_lesen(n.kopfwert, &bytes))
        model::check(bytes.size() * 2 == n.kopfwert.size(), "hex of another length", detail);
    if (base64_lesen(n.kopfwert, &bytes))
        model::check(bytes.size() <= n.kopfwert.size(), "base64 longer than its text", detail);
    std::string_view wert(reinterpret_cast<const char *>(data), size);
    std::string h;
    model::check(hex_lesen(hex(wert), &h) && h == wert, "hex did not read back", detail);
    Stripekopf k = stripekopf_lesen(wert);
    model::check(k.v1.size() + k.fremde <= wert.size() + 1, "more of Stripe's parts than bytes", detail);
    return 0;
}
