// vokt verify RECORD [--scheme S] (--secret-file FILE | --secret-env NAME)
// [--tolerance SECONDS]: checks the webhook signature that a record
// carries against its exact body (see signatur.h), says which scheme it
// used, over how many bytes, and the verdict, and on a mismatch what it can
// tell of the cause.  Exit status 0 match, 1 mismatch, 2 cannot check.
// The secret never comes from the command line and is never printed.
#include "anfrage.h"
#include "aufzeichnungsdatei.h"
#include "aufzeichnungszeit.h"
#include "befehle.h"
#include "meldung.h"
#include "signatur.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

// The most bytes a secret may have: a larger file is no secret.
constexpr std::size_t GEHEIMNIS_HOECHSTENS = 64 * 1024;
// The largest tolerance that --tolerance takes: ten years.
constexpr long long TOLERANZ_HOECHSTENS = 10LL * 366 * 24 * 3600;

int hilfe()
{
    std::fputs("usage: vokt verify RECORD [--scheme S] (--secret-file FILE | --secret-env NAME)\n"
               "                   [--tolerance SECONDS]\n\n"
               "Checks the webhook signature that RECORD carries against its exact body, with\n"
               "the secret from FILE (all its bytes) or the environment variable NAME.  The\n"
               "scheme is found from the record's headers unless --scheme names one:\n"
               "  github        X-Hub-Signature-256: sha256=HEX, HMAC-SHA256 of the body\n"
               "  github-sha1   X-Hub-Signature: sha1=HEX, HMAC-SHA1 of the body\n"
               "  stripe        Stripe-Signature: t=TIME,v1=HEX..., HMAC-SHA256 of TIME.BODY\n"
               "  slack         X-Slack-Signature: v0=HEX, HMAC-SHA256 of v0:TIME:BODY, TIME\n"
               "                from X-Slack-Request-Timestamp\n"
               "  shopify       X-Shopify-Hmac-Sha256: BASE64, HMAC-SHA256 of the body\n"
               "  gitlab        X-Gitlab-Token: the secret itself\n"
               "  hmac-HASH[-FORM]:HEADER[:PREFIX]\n"
               "                HEADER: PREFIX and the HMAC of the body, HASH sha1, sha256 or\n"
               "                sha512, FORM hex or base64 (told by its length without it)\n"
               "A header may hold several signatures, separated by commas: one must match.\n"
               "Stripe's and Slack's timestamps must be within SECONDS (300) of the record's\n"
               "time.\n\n"
               "Exit status: 0 the signature matches, 1 it does not, 2 it cannot be checked\n"
               "(no signature header, an unknown scheme, no secret).\n",
               stdout);
    return 0;
}

int falsch()
{
    meldung("usage: vokt verify RECORD [--scheme S] (--secret-file FILE | --secret-env NAME) [--tolerance SECONDS] "
            "(vokt verify --help tells more)");
    return FEHLER;
}

struct Wahl {
    const char *datei = nullptr;
    const char *schema = nullptr;
    const char *geheimdatei = nullptr;
    const char *geheimvariable = nullptr;
    long long toleranz = 300;
};

bool toleranz_lesen(const char *text, long long *toleranz)
{
    return zeit_lesen(text, toleranz) && *toleranz <= TOLERANZ_HOECHSTENS;
}

// The words of the call into w; false when they are no call of verify.
bool woerter(int argc, char **argv, Wahl *w, bool *hilfe_verlangt)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool mit_wert = i + 1 < argc;
        if (arg == "--help") {
            *hilfe_verlangt = true;
            return true;
        }
        if (arg == "--scheme" && mit_wert)
            w->schema = argv[++i];
        else if (arg == "--secret-file" && mit_wert)
            w->geheimdatei = argv[++i];
        else if (arg == "--secret-env" && mit_wert)
            w->geheimvariable = argv[++i];
        else if (arg == "--tolerance" && mit_wert) {
            if (!toleranz_lesen(argv[++i], &w->toleranz))
                return false;
        } else if ((arg.size() > 1 && arg[0] == '-') || w->datei != nullptr)
            return false;
        else
            w->datei = argv[i];
    }
    return w->datei != nullptr && (w->geheimdatei == nullptr || w->geheimvariable == nullptr);
}

// The secret's bytes, wiped from memory when it goes.
class Geheimnis {
public:
    Geheimnis() = default;
    Geheimnis(const Geheimnis &) = delete;
    Geheimnis &operator=(const Geheimnis &) = delete;
    ~Geheimnis() { explicit_bzero(text.data(), text.size()); }
    std::string text;
    std::string woher; // "the secret file" or "the variable NAME", for the causes
};

// The secret of a file: a regular file or a pipe (as of <(...)), at most
// GEHEIMNIS_HOECHSTENS bytes; false after a message.
bool aus_datei(const char *pfad, Geheimnis *g)
{
    // Opened without waiting (a FIFO without a writer would keep it), then
    // read as usual.
    int fd = open(pfad, O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    const char *grund = nullptr;
    bool art = fd >= 0 && fstat(fd, &st) == 0;
    if (art && !S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        grund = "neither a file nor a pipe";
    else if (!art || fcntl(fd, F_SETFL, 0) != 0)
        grund = std::strerror(errno);
    char stueck[4096];
    while (grund == nullptr) {
        ssize_t n = read(fd, stueck, sizeof stueck);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            grund = std::strerror(errno);
        else if (n == 0)
            break;
        else if (g->text.size() + static_cast<std::size_t>(n) > GEHEIMNIS_HOECHSTENS)
            grund = "larger than 64 KiB: no secret";
        else
            g->text.append(stueck, static_cast<std::size_t>(n));
    }
    explicit_bzero(stueck, sizeof stueck);
    if (fd >= 0)
        close(fd);
    if (grund != nullptr) {
        meldung("cannot check: --secret-file %s: %s", dateiname(pfad).c_str(), grund);
        return false;
    }
    g->woher = "the secret file";
    return true;
}

// The secret from the call's source; false after a message.
bool geheimnis_holen(const Wahl &w, Geheimnis *g)
{
    if (w.geheimdatei == nullptr && w.geheimvariable == nullptr) {
        meldung("cannot check: no secret (--secret-file FILE or --secret-env NAME)");
        return false;
    }
    if (w.geheimdatei != nullptr) {
        if (!aus_datei(w.geheimdatei, g))
            return false;
    } else {
        const char *wert = std::getenv(w.geheimvariable);
        if (wert == nullptr) {
            meldung("cannot check: --secret-env %s: not set", sichtbar(w.geheimvariable).c_str());
            return false;
        }
        g->text = wert;
        g->woher = "the variable " + sichtbar(w.geheimvariable);
    }
    if (g->text.empty()) {
        meldung("cannot check: no secret: %s is empty", g->woher.c_str());
        return false;
    }
    return true;
}

// The scheme: *v when --scheme named it, else the one whose header the
// record holds; false after a message.
bool verfahren_finden(const Wahl &w, const Aufzeichnung &a, Verfahren *v)
{
    if (w.schema != nullptr)
        return true; // *v is the one it names
    std::vector<const Verfahren *> gefunden;
    for (const Verfahren &b : bekannte_verfahren()) {
        // GitHub sends both of its headers: the SHA-256 one is taken.
        bool github_schon = !gefunden.empty() && gefunden.back()->name == "github";
        if (a.wert(kopfeintrag(b.kopf)) && !(github_schon && b.name == "github-sha1"))
            gefunden.push_back(&b);
    }
    if (gefunden.size() == 1) {
        *v = *gefunden[0];
        return true;
    }
    std::string namen;
    for (const Verfahren *g : gefunden)
        namen += (namen.empty() ? "" : ", ") + g->kopf;
    if (gefunden.empty())
        meldung("cannot check: %s: no signature header (X-Hub-Signature-256, X-Hub-Signature, Stripe-Signature, "
                "X-Slack-Signature, X-Shopify-Hmac-Sha256, X-Gitlab-Token; --scheme names another)",
                dateiname(w.datei).c_str());
    else
        meldung("cannot check: %s: the headers of several schemes (%s): --scheme names the one to check",
                dateiname(w.datei).c_str(), namen.c_str());
    return false;
}

// What the scheme signs, for the scheme's line.
std::string was_signiert(const Verfahren &v)
{
    switch (v.art) {
    case Art::STRIPE: return std::string(hashname(v.hash)) + " of t, \".\" and the body";
    case Art::SLACK: return std::string(hashname(v.hash)) + " of \"v0:\", " + v.zeitkopf + ", \":\" and the body";
    case Art::TOKEN: return "a plain token, compared with the secret";
    case Art::HMAC: break;
    }
    std::string text = hashname(v.hash);
    text += " of the body, ";
    if (!v.praefix.empty())
        text.append("\"").append(sichtbar(v.praefix)).append("\" and ");
    text += v.form == Form::HEX ? "hex" : v.form == Form::BASE64 ? "base64" : "hex or base64";
    return text;
}

// The likely causes of a mismatch, one line each.
std::vector<std::string> ursachen(const Verfahren &v, const Nachricht &n, const Geheimnis &g, const Ergebnis &e,
                                  const Aufzeichnung &a)
{
    std::vector<std::string> liste;
    if (g.text.back() == '\n') {
        std::string_view ohne(g.text);
        ohne.remove_suffix(ohne.size() >= 2 && ohne[ohne.size() - 2] == '\r' ? 2 : 1);
        bool dann = !ohne.empty() && pruefen(v, n, ohne).signatur_passt;
        liste.push_back(g.woher + " ends in a line feed; without it the signature " +
                        (dann ? "matches" : "does not match either"));
    }
    if (e.ohne_zeit)
        liste.push_back(v.art == Art::STRIPE ? "Stripe-Signature has no timestamp t= of digits"
                                             : v.zeitkopf + " is missing or holds no timestamp of digits");
    if (e.zeit_ausserhalb)
        liste.push_back("the timestamp is " + std::to_string(e.abstand < 0 ? -e.abstand : e.abstand) + " s " +
                        (e.abstand < 0 ? "after" : "before") + " the record's time " +
                        iso8601(Zeitpunkt{n.zeit, 0}, 0) + ", outside the tolerance of " + std::to_string(n.toleranz) +
                        " s (--tolerance SECONDS)" + (e.signatur_passt ? "; the signature itself matches" : ""));
    if (a.mit_laenge() && a.angesagt() >= 0 && static_cast<std::uint64_t>(a.angesagt()) > a.inhaltlaenge())
        liste.push_back("the record is short: its body has " + std::to_string(a.inhaltlaenge()) + " of the " +
                        std::to_string(a.angesagt()) + " bytes that CONTENT_LENGTH announced");
    if (e.signaturen > 1 && !e.signatur_passt)
        liste.push_back(v.kopf + " holds " + std::to_string(e.signaturen) + " signatures and none matches");
    if (e.signaturen == 0 && !e.ohne_zeit)
        liste.push_back(e.fremde == 0 ? v.kopf + " is empty"
                                      : v.kopf + " holds no signature in the scheme's form (" + was_signiert(v) + ")");
    return liste;
}

int ausgeben(const Verfahren &v, const Ergebnis &e, const std::vector<std::string> &gruende)
{
    std::printf("scheme: %s (%s, %s)\n", sichtbar(v.name, 256).c_str(), sichtbar(v.kopf, 256).c_str(),
                was_signiert(v).c_str());
    if (v.art == Art::TOKEN)
        std::printf("signed: nothing (the body is not signed)\n");
    else if (e.ohne_zeit)
        std::printf("signed: unknown (no timestamp)\n");
    else
        std::printf("signed: %zu bytes\n", e.signiert);
    std::printf("verdict: %s\n", e.passt ? "match" : "mismatch");
    for (const std::string &g : gruende)
        std::printf("cause: %s\n", g.c_str());
    if (!e.passt && gruende.empty())
        std::printf("cause: none that the record shows: the secret differs from the sender's, or the sender "
                    "signed other bytes\n");
    if (std::fflush(stdout) != 0)
        return FEHLER;
    return e.passt ? 0 : 1;
}

} // namespace

int befehl_verify(int argc, char **argv)
{
    Wahl w;
    bool hilfe_verlangt = false;
    if (!woerter(argc, argv, &w, &hilfe_verlangt))
        return falsch();
    if (hilfe_verlangt)
        return hilfe();
    Verfahren v;
    if (w.schema != nullptr && !verfahren_lesen(w.schema, &v)) {
        meldung("cannot check: unknown scheme %s (vokt verify --help lists them)", sichtbar(w.schema).c_str());
        return FEHLER;
    }
    Geheimnis g;
    if (!geheimnis_holen(w, &g))
        return FEHLER;
    Aufzeichnung a;
    int fd = laden(w.datei, a);
    if (fd < 0)
        return FEHLER;
    lesehinweise(w.datei, a);
    std::string inhalt;
    bool gelesen = inhalt_laden(w.datei, fd, a, &inhalt);
    Zeitpunkt zeit = aufzeichnungszeit(w.datei, fd);
    close(fd);
    if (!gelesen || !verfahren_finden(w, a, &v))
        return FEHLER;
    std::optional<std::string_view> kopf = a.wert(kopfeintrag(v.kopf));
    if (!kopf) {
        meldung("cannot check: %s: no %s header", dateiname(w.datei).c_str(), sichtbar(v.kopf, 256).c_str());
        return FEHLER;
    }
    Nachricht n;
    n.kopfwert = *kopf;
    if (!v.zeitkopf.empty()) {
        std::optional<std::string_view> zeitwert = a.wert(kopfeintrag(v.zeitkopf));
        n.mit_zeitwert = zeitwert.has_value();
        n.zeitwert = zeitwert.value_or("");
    }
    n.inhalt = inhalt;
    n.zeit = zeit.sekunden;
    n.toleranz = w.toleranz;
    Ergebnis e = pruefen(v, n, g.text);
    return ausgeben(v, e, e.passt ? std::vector<std::string>{} : ursachen(v, n, g, e, a));
}
