// The signature schemes of webhooks, checked on a request's exact bytes:
// which header carries the signature, what the sender signs (the body,
// with a timestamp before it for some), the HMAC (from nettle) and how the
// signature is written (hex or base64, after a prefix).  The header values
// come from the request's sender and are hostile: every part is read with
// bounds, and nothing of them is printed here.
#ifndef VOKT_SIGNATUR_H
#define VOKT_SIGNATUR_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class Hash { SHA1, SHA256, SHA512 };
enum class Form { ERKENNEN, HEX, BASE64 };
enum class Art {
    HMAC,   // HMAC over the body: GitHub, Shopify, the generic schemes
    STRIPE, // "t=TIME,v1=HEX,...": HMAC-SHA256 over TIME "." BODY
    SLACK,  // PREFIX HEX, HMAC-SHA256 over "v0:" TIME ":" BODY
    TOKEN,  // the header holds the secret itself (GitLab)
};

struct Verfahren {
    std::string name; // "github", ..., "hmac-sha256:X-Signature"
    Art art = Art::HMAC;
    Hash hash = Hash::SHA256;
    Form form = Form::ERKENNEN;
    std::string kopf;     // the signature's header, "X-Hub-Signature-256"
    std::string praefix;  // before each signature, "sha256="
    std::string zeitkopf; // Slack: the timestamp's header
};

// The schemes that are found by their header, in the order they are
// looked for.
const std::vector<Verfahren> &bekannte_verfahren();

// The scheme that --scheme names: a known one by its name, or
// "hmac-HASH[-FORM]:HEADER[:PREFIX]" with HASH sha1, sha256 or sha512 and
// FORM hex or base64 (without it, the form is told by the signature's
// length), PREFIX without a comma, a control byte or a blank at its start.
// False for any other text.
bool verfahren_lesen(std::string_view text, Verfahren *v);

// "HMAC-SHA256", ...
const char *hashname(Hash h);

// What a check sees of the request: the values of the scheme's headers
// and the body, the record's time and the tolerance for timestamps.
struct Nachricht {
    std::string_view kopfwert;
    std::string_view zeitwert; // Slack's timestamp header
    bool mit_zeitwert = false;
    std::string_view inhalt;
    long long zeit = 0;
    long long toleranz = 300;
};

struct Ergebnis {
    bool passt = false;           // the signature matches, its time in tolerance
    bool signatur_passt = false;  // the HMAC (or token) matches, its time aside
    std::size_t signiert = 0;     // how many bytes the HMAC ran over
    std::size_t signaturen = 0;   // signatures in the header in the scheme's form
    std::size_t fremde = 0;       // parts of the header in no form of the scheme
    bool ohne_zeit = false;       // Stripe, Slack: no timestamp to be read
    bool zeit_ausserhalb = false; // the timestamp is further from the record's time than the tolerance
    long long abstand = 0;        // seconds from the record's time to the timestamp
};

// The signature of n checked with the secret, every comparison in
// constant time.
Ergebnis pruefen(const Verfahren &v, const Nachricht &n, std::string_view geheimnis);

// The HMAC of the bytes with the key, as raw bytes (for the tests and the
// fuzz target too).
std::string hmac(Hash h, std::string_view schluessel, std::string_view daten);

// Hex digits (either case) or base64 (with or without its padding) as
// bytes; false for any other text.
bool hex_lesen(std::string_view text, std::string *bytes);
bool base64_lesen(std::string_view text, std::string *bytes);

// The header value's signatures: the parts between commas, without the
// blanks around them, at most `hoechstens` of them (the rest are counted
// in *mehr when it is given).
std::vector<std::string_view> teile(std::string_view wert, std::size_t hoechstens, std::size_t *mehr = nullptr);

// Stripe's header: its t= (the first) and every v1=.
struct Stripekopf {
    std::string_view zeit;
    bool mit_zeit = false;
    std::vector<std::string_view> v1;
    std::size_t fremde = 0; // parts that are neither t=, v1= nor another key=value
};
Stripekopf stripekopf_lesen(std::string_view wert);

// A timestamp: 1 to 15 decimal digits; false for anything else.
bool zeit_lesen(std::string_view text, long long *sekunden);

#endif
