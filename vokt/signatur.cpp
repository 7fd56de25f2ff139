#include "signatur.h"
#include "zeichen.h"

#include <nettle/base64.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <nettle/sha2.h>

#include <cstdint>

namespace {

// The most signatures of one header that are compared: a header with more
// is hostile or broken, and the time stays bounded.
constexpr std::size_t HOECHSTENS = 32;

const unsigned char *bytes(std::string_view s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

std::size_t laenge(Hash h)
{
    switch (h) {
    case Hash::SHA1: return SHA1_DIGEST_SIZE;
    case Hash::SHA256: return SHA256_DIGEST_SIZE;
    case Hash::SHA512: return SHA512_DIGEST_SIZE;
    }
    return 0;
}

bool gleich(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && memeql_sec(a.data(), b.data(), a.size()) != 0;
}

// One signature as the scheme writes it, as n raw bytes; false when it is
// in no form of the scheme.
bool signatur_lesen(std::string_view text, Form form, std::size_t n, std::string *roh)
{
    if (form != Form::BASE64 && text.size() == 2 * n && hex_lesen(text, roh))
        return true;
    return form != Form::HEX && text.size() <= (n + 2) / 3 * 4 && base64_lesen(text, roh) && roh->size() == n;
}

// The signatures of the header compared with the digest; counts them in e.
void vergleichen(std::string_view wert, const Verfahren &v, const std::string &digest, Ergebnis *e)
{
    std::size_t mehr = 0;
    for (std::string_view teil : teile(wert, HOECHSTENS, &mehr)) {
        std::string roh;
        if (teil.substr(0, v.praefix.size()) != v.praefix ||
            !signatur_lesen(teil.substr(v.praefix.size()), v.form, digest.size(), &roh)) {
            ++e->fremde;
            continue;
        }
        ++e->signaturen;
        if (gleich(roh, digest))
            e->signatur_passt = true;
    }
    e->fremde += mehr;
}

// A timestamp t held against the record's time.
void zeit_pruefen(long long t, const Nachricht &n, Ergebnis *e)
{
    e->abstand = n.zeit - t;
    e->zeit_ausserhalb = e->abstand > n.toleranz || -e->abstand > n.toleranz;
}

Ergebnis stripe(const Verfahren &v, const Nachricht &n, std::string_view geheimnis)
{
    Ergebnis e;
    Stripekopf k = stripekopf_lesen(n.kopfwert);
    long long t = 0;
    e.fremde = k.fremde;
    if (!k.mit_zeit || !zeit_lesen(k.zeit, &t)) {
        e.ohne_zeit = true;
        e.signaturen = k.v1.size();
        return e;
    }
    std::string daten;
    daten.reserve(k.zeit.size() + 1 + n.inhalt.size());
    daten.append(k.zeit).append(1, '.').append(n.inhalt);
    e.signiert = daten.size();
    std::string digest = hmac(v.hash, geheimnis, daten);
    for (std::string_view s : k.v1) {
        std::string roh;
        if (s.size() != 2 * digest.size() || !hex_lesen(s, &roh)) {
            ++e.fremde;
            continue;
        }
        ++e.signaturen;
        if (gleich(roh, digest))
            e.signatur_passt = true;
    }
    zeit_pruefen(t, n, &e);
    return e;
}

Ergebnis slack(const Verfahren &v, const Nachricht &n, std::string_view geheimnis)
{
    Ergebnis e;
    long long t = 0;
    if (!n.mit_zeitwert || !zeit_lesen(n.zeitwert, &t)) {
        e.ohne_zeit = true;
        return e;
    }
    std::string daten = "v0:";
    daten.reserve(4 + n.zeitwert.size() + n.inhalt.size());
    daten.append(n.zeitwert).append(1, ':').append(n.inhalt);
    e.signiert = daten.size();
    vergleichen(n.kopfwert, v, hmac(v.hash, geheimnis, daten), &e);
    zeit_pruefen(t, n, &e);
    return e;
}

Ergebnis token(const Nachricht &n, std::string_view geheimnis)
{
    // Hashed first, so that the comparison takes the same time whatever
    // the lengths.
    Ergebnis e;
    e.signaturen = n.kopfwert.empty() ? 0 : 1;
    e.signatur_passt = gleich(hmac(Hash::SHA256, "vokt", n.kopfwert), hmac(Hash::SHA256, "vokt", geheimnis));
    return e;
}

bool hash_lesen(std::string_view text, Hash *h)
{
    if (text == "sha1")
        *h = Hash::SHA1;
    else if (text == "sha256")
        *h = Hash::SHA256;
    else if (text == "sha512")
        *h = Hash::SHA512;
    else
        return false;
    return true;
}

bool ist_kopfzeichen(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// A prefix can stand before a signature: no comma (which parts the
// header), no blank at its start (which is cut off each part), no control
// byte.
bool praefix_gilt(std::string_view p)
{
    if (!p.empty() && (p.front() == ' ' || p.front() == '\t'))
        return false;
    for (char c : p)
        if (c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

} // namespace

const std::vector<Verfahren> &bekannte_verfahren()
{
    static const std::vector<Verfahren> liste = {
        {"github", Art::HMAC, Hash::SHA256, Form::HEX, "X-Hub-Signature-256", "sha256=", ""},
        {"github-sha1", Art::HMAC, Hash::SHA1, Form::HEX, "X-Hub-Signature", "sha1=", ""},
        {"stripe", Art::STRIPE, Hash::SHA256, Form::HEX, "Stripe-Signature", "", ""},
        {"slack", Art::SLACK, Hash::SHA256, Form::HEX, "X-Slack-Signature", "v0=", "X-Slack-Request-Timestamp"},
        {"shopify", Art::HMAC, Hash::SHA256, Form::BASE64, "X-Shopify-Hmac-Sha256", "", ""},
        {"gitlab", Art::TOKEN, Hash::SHA256, Form::ERKENNEN, "X-Gitlab-Token", "", ""},
    };
    return liste;
}

bool verfahren_lesen(std::string_view text, Verfahren *v)
{
    for (const Verfahren &b : bekannte_verfahren())
        if (text == b.name) {
            *v = b;
            return true;
        }
    std::size_t doppelpunkt = text.find(':');
    if (text.substr(0, 5) != "hmac-" || doppelpunkt == std::string_view::npos)
        return false;
    std::string_view art = text.substr(5, doppelpunkt - 5);
    std::string_view kopf = text.substr(doppelpunkt + 1);
    std::string_view praefix;
    if (std::size_t zweiter = kopf.find(':'); zweiter != std::string_view::npos) {
        praefix = kopf.substr(zweiter + 1);
        kopf = kopf.substr(0, zweiter);
    }
    Verfahren neu;
    std::size_t strich = art.find('-');
    std::string_view form = strich == std::string_view::npos ? "" : art.substr(strich + 1);
    if (!hash_lesen(art.substr(0, strich), &neu.hash))
        return false;
    if (form == "hex")
        neu.form = Form::HEX;
    else if (form == "base64")
        neu.form = Form::BASE64;
    else if (!form.empty())
        return false;
    if (kopf.empty() || kopf.size() > 200 || !praefix_gilt(praefix))
        return false;
    for (char c : kopf)
        if (!ist_kopfzeichen(c))
            return false;
    neu.name = std::string(text.substr(0, doppelpunkt)) + ":" + std::string(kopf);
    neu.kopf = kopf;
    neu.praefix = praefix;
    *v = neu;
    return true;
}

const char *hashname(Hash h)
{
    switch (h) {
    case Hash::SHA1: return "HMAC-SHA1";
    case Hash::SHA256: return "HMAC-SHA256";
    case Hash::SHA512: return "HMAC-SHA512";
    }
    return "";
}

Ergebnis pruefen(const Verfahren &v, const Nachricht &n, std::string_view geheimnis)
{
    Ergebnis e;
    switch (v.art) {
    case Art::STRIPE: e = stripe(v, n, geheimnis); break;
    case Art::SLACK: e = slack(v, n, geheimnis); break;
    case Art::TOKEN: e = token(n, geheimnis); break;
    case Art::HMAC:
        e.signiert = n.inhalt.size();
        vergleichen(n.kopfwert, v, hmac(v.hash, geheimnis, n.inhalt), &e);
        break;
    }
    e.passt = e.signatur_passt && !e.zeit_ausserhalb;
    return e;
}

std::string hmac(Hash h, std::string_view schluessel, std::string_view daten)
{
    std::string digest(laenge(h), '\0');
    auto *aus = reinterpret_cast<unsigned char *>(digest.data());
    switch (h) {
    case Hash::SHA1: {
        hmac_sha1_ctx c{};
        hmac_sha1_set_key(&c, schluessel.size(), bytes(schluessel));
        hmac_sha1_update(&c, daten.size(), bytes(daten));
        hmac_sha1_digest(&c, digest.size(), aus);
        break;
    }
    case Hash::SHA256: {
        hmac_sha256_ctx c{};
        hmac_sha256_set_key(&c, schluessel.size(), bytes(schluessel));
        hmac_sha256_update(&c, daten.size(), bytes(daten));
        hmac_sha256_digest(&c, digest.size(), aus);
        break;
    }
    case Hash::SHA512: {
        hmac_sha512_ctx c{};
        hmac_sha512_set_key(&c, schluessel.size(), bytes(schluessel));
        hmac_sha512_update(&c, daten.size(), bytes(daten));
        hmac_sha512_digest(&c, digest.size(), aus);
        break;
    }
    }
    return digest;
}

bool hex_lesen(std::string_view text, std::string *bytes_aus)
{
    if (text.size() % 2 != 0)
        return false;
    std::string aus;
    aus.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hoch = hexziffer(text[i]);
        int tief = hexziffer(text[i + 1]);
        if (hoch < 0 || tief < 0)
            return false;
        aus += static_cast<char>(hoch * 16 + tief);
    }
    *bytes_aus = std::move(aus);
    return true;
}

bool base64_lesen(std::string_view text, std::string *bytes_aus)
{
    // nettle's decoder passes over blanks and takes only padded text: the
    // alphabet is checked here, and missing padding added.
    std::string_view kern = text;
    while (!kern.empty() && kern.back() == '=' && text.size() - kern.size() < 2)
        kern.remove_suffix(1);
    if (kern.empty() || kern.size() % 4 == 1 || (kern.size() != text.size() && text.size() % 4 != 0))
        return false;
    for (char c : kern)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/'))
            return false;
    std::string voll(kern);
    voll.append((4 - voll.size() % 4) % 4, '=');
    std::string aus(BASE64_DECODE_LENGTH(voll.size()), '\0');
    base64_decode_ctx c{};
    base64_decode_init(&c);
    std::size_t n = aus.size();
    if (base64_decode_update(&c, &n, reinterpret_cast<std::uint8_t *>(aus.data()), voll.size(), voll.data()) == 0 ||
        base64_decode_final(&c) == 0)
        return false;
    aus.resize(n);
    *bytes_aus = std::move(aus);
    return true;
}

std::vector<std::string_view> teile(std::string_view wert, std::size_t hoechstens, std::size_t *mehr)
{
    std::vector<std::string_view> liste;
    std::size_t dazu = 0;
    while (true) {
        std::size_t komma = wert.find(',');
        std::string_view teil = ohne_blanks(wert.substr(0, komma));
        if (!teil.empty()) {
            if (liste.size() < hoechstens)
                liste.push_back(teil);
            else
                ++dazu;
        }
        if (komma == std::string_view::npos)
            break;
        wert.remove_prefix(komma + 1);
    }
    if (mehr != nullptr)
        *mehr = dazu;
    return liste;
}

Stripekopf stripekopf_lesen(std::string_view wert)
{
    Stripekopf k;
    std::size_t mehr = 0;
    for (std::string_view teil : teile(wert, HOECHSTENS, &mehr)) {
        std::size_t gleich_bei = teil.find('=');
        if (gleich_bei == std::string_view::npos || gleich_bei == 0) {
            ++k.fremde;
            continue;
        }
        std::string_view schluessel = teil.substr(0, gleich_bei);
        std::string_view inhalt = teil.substr(gleich_bei + 1);
        if (schluessel == "t" && !k.mit_zeit) {
            k.zeit = inhalt;
            k.mit_zeit = true;
        } else if (schluessel == "v1") {
            k.v1.push_back(inhalt);
        }
    }
    k.fremde += mehr;
    return k;
}

bool zeit_lesen(std::string_view text, long long *sekunden)
{
    if (text.empty() || text.size() > 15)
        return false;
    long long z = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        z = z * 10 + (c - '0');
    }
    *sekunden = z;
    return true;
}
