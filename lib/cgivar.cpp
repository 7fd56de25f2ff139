#include "cgivar.h"

#include "cgiausg.h"
#include "dumpdatei.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

namespace {

const char REQUEST_METHOD[] = "REQUEST_METHOD";
const char CONTENT_LENGTH[] = "CONTENT_LENGTH";
const char QUERY_STRING[] = "QUERY_STRING";

// The user whose dump always goes to /tmp, whatever home it has.
constexpr int NOBODY = 65534;
// The first read is at most this large; the buffer then grows with what
// arrives, never beyond the announced length.
constexpr std::size_t ERSTER_PUFFER = 64 * 1024;

struct Zustand {
    int post = 0;
    char *querystring = nullptr;
    int querystringlen = 0;
    int inhaltlang = 0;
    FILE *fp = nullptr;
};

// The home directory of uid, as a copy the caller owns; null if unknown.
char *gethomedir(int uid)
{
    const passwd *pw = getpwuid(static_cast<uid_t>(uid));
    return pw != nullptr && pw->pw_dir != nullptr ? strdup(pw->pw_dir) : nullptr;
}

// Like atoi, but a value beyond the int range saturates.
int zahl(const char *s)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    bool negativ = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    long long n = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        n = n * 10 + (*s - '0');
        if (n > INT_MAX)
            return negativ ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negativ ? -n : n);
}

// The value of a request variable: the text after the name and the one
// byte where the '=' should stand, or empty when the entry ends before it.
char *wert(char *entry, std::size_t namelen)
{
    static char leer[1];
    for (std::size_t i = 0; i <= namelen; ++i)
        if (entry[i] == '\0')
            return leer;
    return entry + namelen + 1;
}

[[noreturn]] void methodenfehler(Zustand &z, const char *methode)
{
    std::fputs("Fehler auf HTML_Seite: Zugriffsmethode: ", stdout);
    html_text(methode);
    std::fputs("<p>\n", stdout);
    html_ende();
    if (z.fp != nullptr)
        std::fclose(z.fp);
    std::exit(1);
}

void als_variable(Varmap *erg, char *entry)
{
    char *gleich = std::strchr(entry, '=');
    if (gleich == nullptr) {
        cgi_error("ENV_Variable %s ohne '='", entry);
        return;
    }
    *gleich = '\0';
    erg->insert(entry, gleich + 1);
}

void klassifiziere(Zustand &z, Varmap *erg, char *entry, int options)
{
    if (std::strncmp(entry, REQUEST_METHOD, 14) == 0) {
        const char *methode = wert(entry, 14);
        if (strncasecmp(methode, "POST", 4) == 0)
            z.post = 1;
        else if (strncasecmp(methode, "GET", 3) == 0)
            z.post = 0;
        else
            methodenfehler(z, methode);
    } else if (std::strncmp(entry, CONTENT_LENGTH, 14) == 0) {
        z.inhaltlang = zahl(wert(entry, 14));
    } else if (std::strncmp(entry, QUERY_STRING, 12) == 0) {
        z.querystring = wert(entry, 12);
        z.querystringlen = static_cast<int>(std::strlen(z.querystring));
    } else if (options & GCV_ENVVARS) {
        als_variable(erg, entry);
    }
}

// Page head, user line, and the dump file opened; ends the process when
// the dump file cannot be written.
FILE *dump_beginnen()
{
    int euid = static_cast<int>(geteuid());
    // The account database is asked only when its answer is used.
    char *home = euid != NOBODY ? gethomedir(euid) : nullptr;
    html_kopf("Cgi-Dump");
    char *filename = dumppfad(euid, home, NOBODY);
    const char *zeige = filename != nullptr ? filename : "";
    std::fprintf(stdout, "<H2>User-Information</H2>Ich bin effektiv Nutzer %d und pinsele daher in ", euid);
    html_text(zeige);
    std::fputs("<p>\n", stdout);
    FILE *fp = dump_oeffnen(filename);
    if (fp == nullptr) {
        std::fputs("Datei ", stdout);
        html_text(zeige);
        std::fputs(" kann leider nicht geschrieben werden!\n", stdout);
        html_ende();
        std::exit(1);
    }
    std::free(filename);
    std::free(home);
    return fp;
}

// Reads up to inhaltlang bytes from standard input into a buffer that grows
// with what arrives.  *gelesen is the count that arrived; the buffer has one
// byte more for a terminator.  Reports a short or failed read.
char *lies_inhalt(int inhaltlang, std::size_t *gelesen)
{
    const auto soll = static_cast<std::size_t>(inhaltlang);
    std::size_t platz = soll < ERSTER_PUFFER ? soll : ERSTER_PUFFER;
    auto *puffer = static_cast<char *>(std::malloc(platz + 1));
    std::size_t hat = 0;
    bool ohne_speicher = puffer == nullptr;
    while (!ohne_speicher && hat < soll) {
        if (hat == platz) {
            std::size_t neu = platz > soll - platz ? soll : 2 * platz;
            auto *groesser = static_cast<char *>(std::realloc(puffer, neu + 1));
            if (groesser == nullptr) {
                ohne_speicher = true;
                break;
            }
            puffer = groesser;
            platz = neu;
        }
        ssize_t n = read(0, puffer + hat, platz - hat);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A server may hand over a non-blocking socket: wait for data.
            pollfd pfd{0, POLLIN, 0};
            if (poll(&pfd, 1, -1) >= 0 || errno == EINTR)
                continue;
        }
        if (n <= 0)
            break;
        hat += static_cast<std::size_t>(n);
    }
    if (ohne_speicher)
        cgi_error("Nicht genug Speicher f\xFCr den Inhalt");
    else if (hat < soll)
        cgi_error("Das kann eigendlich nicht vorkommen, da\xDF ich nicht alles lesen kann, ist es aber ...");
    *gelesen = hat;
    return puffer;
}

void post_inhalt(Zustand &z, Varmap *erg, int options)
{
    if (options & GCV_DEBUGL1)
        std::fprintf(stdout, "L\xE4nge des Inhalts:%d\n", z.inhaltlang);
    static char leer[1];
    char *puffer = leer;
    std::size_t hat = 0;
    if (z.inhaltlang < 0)
        cgi_usererror("Ung\xFCltige L\xE4nge des Inhalts: %d", z.inhaltlang);
    else
        puffer = lies_inhalt(z.inhaltlang, &hat);
    if (puffer == nullptr)
        puffer = leer;
    if (z.fp != nullptr)
        std::fwrite(puffer, 1, hat, z.fp);
    puffer[hat] = '\0';
    if (options & GCV_DEBUGL2) {
        std::fputs("<PRE>", stdout);
        html_text(puffer);
        std::fputs("</PRE>\n", stdout);
    }
    aufspalt(erg, puffer, static_cast<int>(hat));
    if (puffer != leer)
        std::free(puffer);
}

} // namespace

int getcgienv(Varmap *erg, char **env, int options)
{
    Zustand z;
    if (options & GCV_DUMP)
        z.fp = dump_beginnen();
    if (options & GCV_DEBUGL2) {
        std::fputs("<H2>Die Environmentvariablen</H2>\n", stdout);
        std::fflush(stdout);
    }
    for (char **e = env; *e != nullptr; ++e) {
        if (options & GCV_DEBUGL2) {
            html_text(*e);
            std::fputs("<p>\n", stdout);
        }
        if (z.fp != nullptr) {
            std::fputs(*e, z.fp);
            std::fputc('\n', z.fp);
        }
        klassifiziere(z, erg, *e, options);
    }
    if (z.fp != nullptr) {
        std::fprintf(z.fp, "*%d\n", z.inhaltlang);
        std::fflush(z.fp);
    }
    if (z.post == 1)
        post_inhalt(z, erg, options);
    if (z.querystring != nullptr)
        aufspalt(erg, z.querystring, z.querystringlen);
    if (z.fp != nullptr)
        std::fclose(z.fp);
    return 0;
}

namespace {

// Stores one decoded pair unless the call has stored its share already;
// the first pair beyond it is reported.  False: decode no further.
bool speichere(Varmap *erg, const char *name, const char *wert, int &paare)
{
    if (paare == MAXPAARE) {
        cgi_usererror("Zu viele Formularvariablen, nur die ersten %d wurden \xFC"
                      "bernommen",
                      MAXPAARE);
        return false;
    }
    ++paare;
    erg->insert(name, wert);
    return true;
}

// The bytes with a meaning of their own in urlencoded form data.
constexpr auto SONDERZEICHEN = [] {
    std::array<bool, 256> t{};
    t['='] = t['&'] = t['+'] = t['%'] = true;
    return t;
}();

// hex() of every byte, looked up rather than computed.
constexpr auto HEXWERT = [] {
    std::array<char, 256> t{};
    for (int z = 0; z < 256; ++z)
        t[static_cast<std::size_t>(z)] = hex(static_cast<char>(z));
    return t;
}();

} // namespace

int aufspalt(Varmap *erg, char *puffer, int inhaltlang)
{
    if (inhaltlang <= 0)
        return -1;
    int paare = 0;
    const char *ende = puffer + inhaltlang;
    char *l = puffer;
    char *s = puffer;
    char *m = puffer;
    // A value before the first '=' is stored under the empty name.
    const char *lname = "";
    while (l < ende) {
        // Most bytes are plain and copied as they are.
        if (!SONDERZEICHEN[static_cast<unsigned char>(*l)]) {
            *s++ = *l++;
            continue;
        }
        switch (*l) {
        case '=':
            *s++ = '\0';
            lname = m;
            m = s;
            ++l;
            break;
        case '&':
            *s++ = '\0';
            if (!speichere(erg, lname, m, paare))
                return 0;
            m = s;
            ++l;
            break;
        case '+':
            *s++ = ' ';
            ++l;
            break;
        case '%': {
            // Digits missing at the end of the input count as '0'.
            std::ptrdiff_t rest = ende - l - 1;
            char hoch = rest >= 1 ? HEXWERT[static_cast<unsigned char>(l[1])] : 0;
            char tief = rest >= 2 ? HEXWERT[static_cast<unsigned char>(l[2])] : 0;
            *s++ = static_cast<char>(hoch * 16 + tief);
            l += rest >= 2 ? 3 : rest + 1;
            break;
        }
        default: *s++ = *l++;
        }
    }
    *s = '\0';
    speichere(erg, lname, m, paare);
    return 0;
}

void probeausgabe(const Varmap *tab)
{
    Varmapiter it(tab);
    for (; it() != nullptr; it.next()) {
        const char *name;
        const char *inhalt;
        it.inhalt(name, inhalt);
        html_text(name);
        std::fputs(" = ", stdout);
        html_text(inhalt);
        std::fputs("<p>\n", stdout);
        std::fflush(stdout);
    }
}
