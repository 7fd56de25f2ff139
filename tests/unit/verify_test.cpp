// vokt verify: the schemes' signatures against GitHub's published example
// and against HMACs that Python's hmac module computes while the test runs
// (an implementation that is not ours); the readers of the signature
// headers on hostile text; and vokt verify run on records, with each exit
// status, each cause it names, and the examples of vokt(1).
#include "signatur.h"
#include "skip.h"
#include "vokt_lauf.h"

#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;

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

// Python's HMAC of the data with the key: hex and base64.
struct Referenz {
    std::string hex;
    std::string base64;
};

bool mit_python()
{
    return access("/usr/bin/python3", X_OK) == 0;
}

Referenz python_hmac(const std::string &hash, const std::string &schluessel, const std::string &daten)
{
    std::string k = hex(schluessel), d = hex(daten);
    Outcome o = run_captured([&] {
        execl("/usr/bin/python3", "python3", "-c",
              "import base64, hmac, sys\n"
              "m = hmac.new(bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3]), sys.argv[1]).digest()\n"
              "print(m.hex(), base64.b64encode(m).decode())\n",
              hash.c_str(), k.c_str(), d.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    });
    EXPECT_EQ(o.status, 0) << o.err;
    std::size_t blank = o.out.find(' ');
    std::string b64 = o.out.substr(blank + 1);
    while (!b64.empty() && b64.back() == '\n')
        b64.pop_back();
    return {o.out.substr(0, blank), b64};
}

// The template with {hex}, {HEX}, {b64} and {b64-} (without padding)
// replaced by the reference's forms.
std::string einsetzen(std::string vorlage, const Referenz &r)
{
    std::string gross = r.hex;
    for (char &c : gross)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string ohne = r.base64.substr(0, r.base64.find('='));
    const std::pair<std::string, std::string> ersatz[] = {
        {"{hex}", r.hex}, {"{HEX}", gross}, {"{b64-}", ohne}, {"{b64}", r.base64}};
    for (const auto &[platz, wert] : ersatz)
        for (std::size_t i; (i = vorlage.find(platz)) != std::string::npos;)
            vorlage.replace(i, platz.size(), wert);
    return vorlage;
}

constexpr long long ZEIT = 1796724902; // 2026-12-08T10:15:02Z

Verfahren verfahren(const char *name)
{
    Verfahren v;
    EXPECT_TRUE(verfahren_lesen(name, &v)) << name;
    return v;
}

TEST(VerifyScheme, GitHubsPublishedExample)
{
    Nachricht n;
    n.kopfwert = "sha256=757107ea0eb2509fc211221cce984b8a37570b6d7586c22c46f4379c8b043e17";
    n.inhalt = "Hello, World!";
    Ergebnis e = pruefen(verfahren("github"), n, "It's a Secret to Everybody");
    EXPECT_TRUE(e.passt);
    EXPECT_EQ(e.signiert, 13u);
    EXPECT_EQ(e.signaturen, 1u);
    EXPECT_FALSE(pruefen(verfahren("github"), n, "It's a Secret to Everybody\n").passt);
}

TEST(VerifyScheme, EachSchemeAgainstPythonsHmac)
{
    if (!mit_python())
        SKIP_UNLESS_CI("python3 is not installed");
    const std::string binaer = "a=1&b=\xE4\xFF\r\n\0tail"s;
    struct Fall {
        const char *schema;
        const char *hash;     // Python's name of the hash
        std::string signiert; // the bytes the sender signs
        std::string inhalt;
        std::string kopf; // the signature header, a template (see einsetzen)
        const char *zeit; // Slack's timestamp header, or nullptr
        bool passt;
    } faelle[] = {
        {"github", "sha256", "{\"a\":1}", "{\"a\":1}", "sha256={hex}", nullptr, true},
        {"github", "sha256", binaer, binaer, "sha256={HEX}", nullptr, true},      // hex in either case
        {"github", "sha256", binaer, binaer, "sha256={b64}", nullptr, false},     // GitHub's is hex
        {"github", "sha256", "", "", "sha256={hex}", nullptr, true},              // an empty body
        {"github", "sha256", "x", "y", "sha256={hex}", nullptr, false},           // other bytes
        {"github", "sha256", "x", "x", "sha1={hex}", nullptr, false},             // the other prefix
        {"github", "sha256", "x", "x", "sha256=00, sha256={hex}", nullptr, true}, // repeated header, joined
        {"github-sha1", "sha1", binaer, binaer, "sha1={hex}", nullptr, true},
        {"stripe", "sha256", "1796724902.{}", "{}", "t=1796724902,v1={hex},v0=0123", nullptr, true},
        {"stripe", "sha256", "1796724902.{}", "{}", "t=1796724902,v1=ab12,v1={hex}", nullptr, true},
        {"stripe", "sha256", "1796724902.{}", "{}", "v1={hex}, t=1796724902", nullptr, true},
        {"stripe", "sha256", "{}", "{}", "t=1796724902,v1={hex}", nullptr, false}, // the body alone
        {"stripe", "sha256", "1796724902.{}", "{}", "t=1796724902,v0={hex}", nullptr, false},
        {"slack", "sha256", "v0:1796724900:" + binaer, binaer, "v0={hex}", "1796724900", true},
        {"slack", "sha256", "v0:1796724900:x", "x", "v0={hex}", "1796724901", false},
        {"slack", "sha256", "x", "x", "v0={hex}", "1796724900", false},
        {"shopify", "sha256", binaer, binaer, "{b64}", nullptr, true},
        {"shopify", "sha256", binaer, binaer, "{hex}", nullptr, false},
        {"hmac-sha512:X-Sig", "sha512", binaer, binaer, "{hex}", nullptr, true},
        {"hmac-sha512:X-Sig", "sha512", binaer, binaer, "{b64}", nullptr, true},
        {"hmac-sha512:X-Sig", "sha512", binaer, binaer, "{b64-}", nullptr, true},
        {"hmac-sha1-hex:X-Sig", "sha1", binaer, binaer, "{b64}", nullptr, false},
        {"hmac-sha1-base64:X-Sig", "sha1", binaer, binaer, "{b64}", nullptr, true},
        {"hmac-sha256:X-Signature:sha256=", "sha256", "body", "body", "sha256={hex}", nullptr, true},
        {"hmac-sha256:X-Signature:sha256=", "sha256", "body", "body", "{hex}", nullptr, false},
        {"hmac-sha256:X-Sig:v1:", "sha256", "body", "body", "v1:{b64}", nullptr, true},
        {"hmac-sha256:X-Sig", "sha1", "body", "body", "{hex}", nullptr, false}, // SHA-1's length
    };
    const std::string geheimnis = "whsec_\x01 secret";
    for (const Fall &f : faelle) {
        std::string kopf = einsetzen(f.kopf, python_hmac(f.hash, geheimnis, f.signiert));
        Nachricht n;
        n.kopfwert = kopf;
        n.inhalt = f.inhalt;
        n.mit_zeitwert = f.zeit != nullptr;
        n.zeitwert = f.zeit != nullptr ? f.zeit : "";
        n.zeit = ZEIT;
        Ergebnis e = pruefen(verfahren(f.schema), n, geheimnis);
        EXPECT_EQ(e.passt, f.passt) << f.schema << " " << kopf;
        if (f.passt) {
            EXPECT_EQ(e.signiert, f.signiert.size()) << f.schema << " " << kopf;
        }
    }
}

TEST(VerifyScheme, TimestampsWithinTheTolerance)
{
    if (!mit_python())
        SKIP_UNLESS_CI("python3 is not installed");
    struct {
        long long zeit; // the record's
        long long toleranz;
        bool passt;
        long long abstand;
    } faelle[] = {
        {ZEIT, 300, true, 0},
        {ZEIT + 300, 300, true, 300},
        {ZEIT + 301, 300, false, 301},
        {ZEIT - 301, 300, false, -301}, // signed after the record was made
        {ZEIT + 3600, 3600, true, 3600},
        {ZEIT + 1, 0, false, 1},
    };
    Referenz stripe = python_hmac("sha256", "k", "1796724902.x");
    Referenz slack = python_hmac("sha256", "k", "v0:1796724902:x");
    for (const auto &f : faelle) {
        std::string kopf = "t=1796724902,v1=" + stripe.hex;
        Nachricht n;
        n.kopfwert = kopf;
        n.inhalt = "x";
        n.zeit = f.zeit;
        n.toleranz = f.toleranz;
        Ergebnis e = pruefen(verfahren("stripe"), n, "k");
        EXPECT_EQ(e.passt, f.passt) << f.zeit - ZEIT;
        EXPECT_TRUE(e.signatur_passt);
        EXPECT_EQ(e.zeit_ausserhalb, !f.passt);
        EXPECT_EQ(e.abstand, f.abstand);
        std::string slackkopf = "v0=" + slack.hex;
        n.kopfwert = slackkopf;
        n.zeitwert = "1796724902";
        n.mit_zeitwert = true;
        EXPECT_EQ(pruefen(verfahren("slack"), n, "k").passt, f.passt) << f.zeit - ZEIT;
    }
}

TEST(VerifyScheme, GitLabsTokenIsTheSecretItself)
{
    struct {
        const char *kopf;
        bool passt;
    } faelle[] = {{"glpat-s3cret", true}, {"glpat-s3cre", false}, {"glpat-s3cret ", false}, {"", false}};
    for (const auto &f : faelle) {
        Nachricht n;
        n.kopfwert = f.kopf;
        n.inhalt = "body";
        Ergebnis e = pruefen(verfahren("gitlab"), n, "glpat-s3cret");
        EXPECT_EQ(e.passt, f.passt) << f.kopf;
        EXPECT_EQ(e.signiert, 0u);
    }
}

TEST(VerifyScheme, NamesOfSchemes)
{
    struct {
        const char *text;
        bool gilt;
        const char *kopf;
        const char *praefix;
    } faelle[] = {
        {"github", true, "X-Hub-Signature-256", "sha256="},
        {"shopify", true, "X-Shopify-Hmac-Sha256", ""},
        {"hmac-sha256:X-Signature", true, "X-Signature", ""},
        {"hmac-sha256:X-Signature:sha256=", true, "X-Signature", "sha256="},
        {"hmac-sha256:X-Sig::", true, "X-Sig", ":"}, // all after the second colon
        {"hmac-sha512-base64:X-Sig", true, "X-Sig", ""},
        {"GitHub", false, "", ""},
        {"hmac-md5:X-Sig", false, "", ""},
        {"hmac-sha256-hexx:X-Sig", false, "", ""},
        {"hmac-sha256", false, "", ""},
        {"hmac-sha256:", false, "", ""},
        {"hmac-sha256:X Sig", false, "", ""}, // no header name
        {"hmac-sha256:X\nSig", false, "", ""},
        {"hmac-sha256:X-Sig:a,b", false, "", ""}, // a comma parts the header
        {"hmac-sha256:X-Sig: v1=", false, "", ""},
        {"hmac-sha256:X-Sig:v1\t", false, "", ""},
        {"hmac-sha256:X-Sig:v 1 ", true, "X-Sig", "v 1 "},
        {"", false, "", ""},
    };
    for (const auto &f : faelle) {
        Verfahren v;
        ASSERT_EQ(verfahren_lesen(f.text, &v), f.gilt) << f.text;
        if (f.gilt) {
            EXPECT_EQ(v.kopf, f.kopf) << f.text;
            EXPECT_EQ(v.praefix, f.praefix) << f.text;
        }
    }
}

TEST(VerifyHeader, HexAndBase64)
{
    struct {
        const char *text;
        bool hex_gilt;
        bool b64_gilt;
        std::string bytes;
    } faelle[] = {
        {"00ff7A", true, true, "\0\xff\x7a"s}, // base64 too, other bytes
        {"0", false, false, ""},
        {"0g", false, true, "\xd2"s}, // no hex, but base64
        {"", true, false, ""},
        {"AP96", false, true, "\0\xff\x7a"s}, // no hex
        {"AP8=", false, true, "\0\xff"s},
        {"AP8", false, true, "\0\xff"s}, // padding left out
        {"AP8==", false, false, ""},
        {"AA==", false, true, "\0"s},
        {"A===", false, false, ""},
        {"A", false, false, ""},
        {"AP 8", false, false, ""}, // nettle would pass over the blank
        {"AP8=AP8=", false, false, ""},
        {"AP-_", false, false, ""}, // base64url is another alphabet
    };
    for (const auto &f : faelle) {
        std::string h, b;
        EXPECT_EQ(hex_lesen(f.text, &h), f.hex_gilt) << f.text;
        EXPECT_EQ(base64_lesen(f.text, &b), f.b64_gilt) << f.text;
        if (f.b64_gilt && !f.hex_gilt) {
            EXPECT_EQ(b, f.bytes) << f.text;
        }
        if (f.hex_gilt && !f.b64_gilt) {
            EXPECT_EQ(h, f.bytes) << f.text;
        }
    }
    std::string h;
    ASSERT_TRUE(hex_lesen("00ff7A", &h));
    EXPECT_EQ(h, "\0\xff\x7a"s);
}

TEST(VerifyHeader, PartsAndStripesKeys)
{
    struct {
        std::string wert;
        std::vector<std::string_view> teile;
        std::size_t mehr;
    } faelle[] = {
        {"a", {"a"}, 0}, {" a , b,,\tc ", {"a", "b", "c"}, 0}, {",,,", {}, 0},
        {"", {}, 0},     {"1,2,3,4,5", {"1", "2", "3"}, 2}, // bounded
    };
    for (const auto &f : faelle) {
        std::size_t mehr = 99;
        EXPECT_EQ(teile(f.wert, 3, &mehr), f.teile) << f.wert;
        EXPECT_EQ(mehr, f.mehr) << f.wert;
    }
    Stripekopf k = stripekopf_lesen("v1=a, t=12,t=13,v0=b,junk,=x,v1=c");
    EXPECT_TRUE(k.mit_zeit);
    EXPECT_EQ(k.zeit, "12"); // the first
    EXPECT_EQ(k.v1, (std::vector<std::string_view>{"a", "c"}));
    EXPECT_EQ(k.fremde, 2u);
    EXPECT_FALSE(stripekopf_lesen("v1=a").mit_zeit);
    long long t = 0;
    EXPECT_TRUE(zeit_lesen("1796724902", &t));
    EXPECT_EQ(t, 1796724902);
    for (const char *falsch : {"", "-1", "+1", "1.5", " 1", "1234567890123456", "0x10"})
        EXPECT_FALSE(zeit_lesen(falsch, &t)) << falsch;
}

// ---- vokt verify, run on records ----------------------------------------

const char *const GITHUB_SIGNATUR = "sha256=757107ea0eb2509fc211221cce984b8a37570b6d7586c22c46f4379c8b043e17";
const char *const GITHUB_GEHEIMNIS = "It's a Secret to Everybody";

// A record of a POST with these header entries and body; the length line
// announces `laenge` bytes (the body's own size when negative).
std::string aufzeichnung(const std::string &eintraege, const std::string &inhalt, long long laenge = -1)
{
    long long l = laenge < 0 ? static_cast<long long>(inhalt.size()) : laenge;
    return "REQUEST_METHOD=POST\nCONTENT_LENGTH=" + std::to_string(l) + "\n" + eintraege + "*" + std::to_string(l) +
           "\n" + inhalt;
}

class Verify : public vokt_lauf::Ordner {};

// The record's time is its name's: 2026-12-08T10:15:02Z.
const char *const IN_DER_ZEIT = "20261208T101502.000000Z-1";

TEST_F(Verify, ExitStatusAndCauses)
{
    if (!mit_python())
        SKIP_UNLESS_CI("python3 is not installed");
    std::string stripe = python_hmac("sha256", "whsec", "1796724902.{}").hex;
    std::string stripe_spaet = python_hmac("sha256", "whsec", "1796720000.{}").hex;
    std::string slack = python_hmac("sha256", "whsec", "v0:1796724902:{}").hex;
    std::string gh = "HTTP_X_HUB_SIGNATURE_256="s + GITHUB_SIGNATUR + "\n";
    struct Fall {
        std::string datei;
        std::string geheimnis;
        std::string argumente;
        int status;
        std::string zeile; // a line the output holds (stdout, else stderr)
    } faelle[] = {
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS, "", 0, "verdict: match"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS, "", 0, "signed: 13 bytes"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS, "", 0, "scheme: github (X-Hub-Signature-256,"},
        {aufzeichnung(gh + "HTTP_X_HUB_SIGNATURE=sha1=00\n", "Hello, World!"), GITHUB_GEHEIMNIS, "", 0,
         "scheme: github ("},
        {aufzeichnung(gh, "Hello, World!"), "wrong", "", 1, "cause: none that the record shows"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS + "\n"s, "", 1,
         "cause: the secret file ends in a line feed; without it the signature matches"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS + "\r\n"s, "", 1,
         "cause: the secret file ends in a line feed; without it the signature matches"},
        {aufzeichnung(gh, "Hello, World!"), "wrong\n", "", 1,
         "cause: the secret file ends in a line feed; without it the signature does not match either"},
        {aufzeichnung(gh, "Hello, Wor", 13), GITHUB_GEHEIMNIS, "", 1,
         "cause: the record is short: its body has 10 of the 13 bytes that CONTENT_LENGTH announced"},
        {aufzeichnung("HTTP_X_HUB_SIGNATURE_256=sha256=" + std::string(64, '0') + ", sha256=" + std::string(64, '1') +
                          "\n",
                      "Hello, World!"),
         GITHUB_GEHEIMNIS, "", 1, "cause: X-Hub-Signature-256 holds 2 signatures and none matches"},
        {aufzeichnung("HTTP_X_HUB_SIGNATURE_256=" + std::string(GITHUB_SIGNATUR).substr(7) + "\n", "Hello, World!"),
         GITHUB_GEHEIMNIS, "", 1, "cause: X-Hub-Signature-256 holds no signature in the scheme's form"},
        {aufzeichnung("HTTP_X_HUB_SIGNATURE_256=\n", "Hello, World!"), GITHUB_GEHEIMNIS, "", 1,
         "cause: X-Hub-Signature-256 is empty"},
        {aufzeichnung("HTTP_STRIPE_SIGNATURE=t=1796724902,v1=" + stripe + "\n", "{}"), "whsec", "", 0,
         "signed: 13 bytes"},
        {aufzeichnung("HTTP_STRIPE_SIGNATURE=t=1796720000,v1=" + stripe_spaet + "\n", "{}"), "whsec", "", 1,
         "cause: the timestamp is 4902 s before the record's time 2026-12-08T10:15:02Z, outside the tolerance of "
         "300 s (--tolerance SECONDS); the signature itself matches"},
        {aufzeichnung("HTTP_STRIPE_SIGNATURE=t=1796720000,v1=" + stripe_spaet + "\n", "{}"), "whsec",
         "--tolerance 5000", 0, "verdict: match"},
        {aufzeichnung("HTTP_STRIPE_SIGNATURE=v1=" + stripe + "\n", "{}"), "whsec", "", 1,
         "cause: Stripe-Signature has no timestamp t= of digits"},
        {aufzeichnung("HTTP_STRIPE_SIGNATURE=t=x,v1=" + stripe + "\n", "{}"), "whsec", "", 1,
         "signed: unknown (no timestamp)"},
        {aufzeichnung("HTTP_X_SLACK_SIGNATURE=v0=" + slack + "\nHTTP_X_SLACK_REQUEST_TIMESTAMP=1796724902\n", "{}"),
         "whsec", "", 0, "signed: 16 bytes"},
        {aufzeichnung("HTTP_X_SLACK_SIGNATURE=v0=" + slack + "\n", "{}"), "whsec", "", 1,
         "cause: X-Slack-Request-Timestamp is missing or holds no timestamp of digits"},
        {aufzeichnung("HTTP_X_GITLAB_TOKEN=tok\n", "{}"), "tok", "", 0, "signed: nothing (the body is not signed)"},
        {aufzeichnung("HTTP_X_GITLAB_TOKEN=tok\n", "{}"), "tok2", "", 1, "verdict: mismatch"},
        // Cannot check: 2, with one line on standard error.
        {aufzeichnung("", "Hello, World!"), GITHUB_GEHEIMNIS, "", 2, "no signature header"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS, "--scheme shopify", 2, "no X-Shopify-Hmac-Sha256 header"},
        {aufzeichnung(gh + "HTTP_X_GITLAB_TOKEN=x\n", "Hello, World!"), GITHUB_GEHEIMNIS, "", 2,
         "the headers of several schemes (X-Hub-Signature-256, X-Gitlab-Token)"},
        {aufzeichnung(gh + "HTTP_X_GITLAB_TOKEN=x\n", "Hello, World!"), GITHUB_GEHEIMNIS, "--scheme github", 0,
         "verdict: match"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS, "--scheme sha256", 2, "unknown scheme sha256"},
        {aufzeichnung(gh, "Hello, World!"), "", "", 2, "no secret: the secret file is empty"},
        {aufzeichnung(gh, "Hello, World!"), GITHUB_GEHEIMNIS, "--tolerance -1", 2, "usage: vokt verify"},
        {"no record", GITHUB_GEHEIMNIS, "", 2, "no record"},
    };
    for (const Fall &f : faelle) {
        vokt_lauf::schreib(ordner + "/" + IN_DER_ZEIT, f.datei);
        vokt_lauf::schreib(ordner + "/secret", f.geheimnis);
        vokt_lauf::Lauf l = vokt("verify " + std::string(IN_DER_ZEIT) + " --secret-file secret " + f.argumente);
        EXPECT_EQ(l.status, f.status) << f.zeile << "\n" << l.aus << l.fehler;
        EXPECT_NE((f.status == 2 ? l.fehler : l.aus).find(f.zeile), std::string::npos) << f.zeile << "\n"
                                                                                       << l.aus << l.fehler;
        // The secret is never printed.
        if (f.geheimnis.size() > 3) {
            EXPECT_EQ((l.aus + l.fehler).find(f.geheimnis.substr(0, 4)), std::string::npos) << f.zeile;
        }
    }
}

TEST_F(Verify, WhereTheSecretComesFrom)
{
    vokt_lauf::schreib(ordner + "/hook.rec",
                       aufzeichnung("HTTP_X_HUB_SIGNATURE_256="s + GITHUB_SIGNATUR + "\n", "Hello, World!"));
    vokt_lauf::schreib(ordner + "/secret", GITHUB_GEHEIMNIS);
    mkdir((ordner + "/dir").c_str(), 0700);
    setenv("VOKT_TEST_SECRET", GITHUB_GEHEIMNIS, 1);
    setenv("VOKT_TEST_EMPTY", "", 1);
    unsetenv("VOKT_TEST_UNSET");
    struct {
        const char *argumente;
        int status;
        const char *fehler;
    } faelle[] = {
        {"--secret-env VOKT_TEST_SECRET", 0, ""},
        {"--secret-file secret", 0, ""},
        {"", 2, "no secret (--secret-file FILE or --secret-env NAME)"},
        {"--secret-env VOKT_TEST_UNSET", 2, "--secret-env VOKT_TEST_UNSET: not set"},
        {"--secret-env VOKT_TEST_EMPTY", 2, "no secret: the variable VOKT_TEST_EMPTY is empty"},
        {"--secret-file missing", 2, "--secret-file missing: No such file or directory"},
        {"--secret-file dir", 2, "--secret-file dir: neither a file nor a pipe"},
        {"--secret-file /dev/zero", 2, "--secret-file /dev/zero: neither a file nor a pipe"},
        {"--secret-file secret --secret-env VOKT_TEST_SECRET", 2, "usage: vokt verify"},
    };
    for (const auto &f : faelle) {
        vokt_lauf::Lauf l = vokt("verify hook.rec "s + f.argumente);
        EXPECT_EQ(l.status, f.status) << f.argumente << "\n" << l.aus << l.fehler;
        EXPECT_NE(l.fehler.find(f.fehler), std::string::npos) << f.argumente << "\n" << l.fehler;
    }
    // A pipe, as the shell's <(...) gives one.
    Outcome o = run_captured(
        [&] {
            if (chdir(ordner.c_str()) == 0)
                execl(VOKT, "vokt", "verify", "hook.rec", "--secret-file", "/dev/stdin", static_cast<char *>(nullptr));
            _exit(127);
        },
        GITHUB_GEHEIMNIS);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
}

// The examples of vokt(1), SIGNATURES, each on a record of its own.
TEST_F(Verify, TheManualsExamples)
{
    if (!mit_python())
        SKIP_UNLESS_CI("python3 is not installed");
    const std::string stripe = python_hmac("sha256", "whsec_test", "1796724902.{\"id\":1}").hex;
    const std::string eigen = python_hmac("sha256", GITHUB_GEHEIMNIS, "ping").hex;
    struct {
        const char *befehl;
        const char *datei;
        std::string aufzeichnung;
    } beispiele[] = {
        {"vokt verify github.rec --secret-file hook.secret", "github.rec",
         aufzeichnung("HTTP_X_HUB_SIGNATURE_256="s + GITHUB_SIGNATUR + "\n", "Hello, World!")},
        // Signed 8 minutes before the record was made.
        {"vokt verify stripe.rec --secret-env STRIPE_SECRET --tolerance 600", "stripe.rec",
         aufzeichnung("HTTP_STRIPE_SIGNATURE=t=1796724902,v1=" + stripe + "\n", "{\"id\":1}")},
        {"vokt verify own.rec --scheme hmac-sha256:X-Signature:sha256= --secret-file hook.secret", "own.rec",
         aufzeichnung("HTTP_X_SIGNATURE=sha256=" + eigen + "\n", "ping")},
        {"vokt verify gitlab.rec --scheme gitlab --secret-env GITLAB_TOKEN", "gitlab.rec",
         aufzeichnung("HTTP_X_GITLAB_TOKEN=glpat-1\n", "{}")},
    };
    vokt_lauf::schreib(ordner + "/hook.secret", GITHUB_GEHEIMNIS);
    setenv("STRIPE_SECRET", "whsec_test", 1);
    setenv("GITLAB_TOKEN", "glpat-1", 1);
    std::set<std::string> im_handbuch, hier;
    for (const auto &b : beispiele) {
        vokt_lauf::schreib(ordner + "/" + b.datei, b.aufzeichnung);
        // A record's time is its file's modification time: 8 minutes after
        // the Stripe timestamp.
        std::string pfad = ordner + "/" + b.datei;
        timespec zeiten[2] = {{ZEIT + 480, 0}, {ZEIT + 480, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, pfad.c_str(), zeiten, 0), 0);
        vokt_lauf::Lauf l = vokt(std::string(b.befehl).substr(5));
        EXPECT_EQ(l.status, 0) << b.befehl << "\n" << l.aus << l.fehler;
        hier.insert(b.befehl);
    }
    std::string seite = vokt_lauf::lies(VOKT_QUELLE "/man/vokt.1.scd");
    for (std::size_t ab = seite.find("\nvokt verify "); ab != std::string::npos;
         ab = seite.find("\nvokt verify ", ab + 1))
        im_handbuch.insert(seite.substr(ab + 1, seite.find('\n', ab + 1) - ab - 1));
    EXPECT_EQ(im_handbuch, hier);
}

} // namespace
