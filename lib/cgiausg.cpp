#include "cgiausg.h"

#include "intern/bytemaske.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace vokt::intern;

void html_kopf(const char *titel)
{
    std::fputs("Content-type: text/html\n\n<HTML>\n<TITLE>", stdout);
    std::fputs(titel, stdout);
    std::fputs("</TITLE>\n</HEAD>\n<BODY>\n<H1>", stdout);
    std::fputs(titel, stdout);
    std::fputs("</H1>\n", stdout);
}

void html_ende()
{
    std::fputs("</BODY>\n</HTML>\n", stdout);
}

namespace {

// Which bytes need an entity, and which one.
constexpr const char *entity(unsigned char c)
{
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    default: return nullptr;
    }
}

// Each entity padded to 8 bytes, so that one store writes it, and its
// length; 0 for a byte that stands for itself.
struct Entities {
    char text[256][8] = {};
    unsigned char laenge[256] = {};
};
constexpr Entities ENTITIES = [] {
    Entities e;
    for (int c = 0; c < 256; ++c) {
        const char *ent = entity(static_cast<unsigned char>(c));
        for (int i = 0; ent != nullptr && ent[i] != '\0'; ++i) {
            e.text[c][i] = ent[i];
            e.laenge[c] = static_cast<unsigned char>(i + 1);
        }
    }
    return e;
}();

// Escaped text is gathered here and goes to the page in large pieces: one
// library call per piece rather than one per entity and run between them.
// Long runs go to the page as they are, without the copy.
class Sammler {
public:
    // n bytes at text, of which lesbar may be read.
    void an(const char *text, std::size_t n, std::size_t lesbar)
    {
        if (n > LANG) {
            leeren();
            fwrite_unlocked(text, 1, n, stdout);
            return;
        }
        if (n > PLATZ - voll)
            leeren();
        if (n <= 32 && lesbar >= 32)
            kopiere32(platz + voll, text);
        else
            std::memcpy(platz + voll, text, n);
        voll += n;
    }
    void entity_an(unsigned char c)
    {
        if (PLATZ - voll < 8)
            leeren();
        std::memcpy(platz + voll, ENTITIES.text[c], 8);
        voll += ENTITIES.laenge[c];
    }
    void leeren()
    {
        fwrite_unlocked(platz, 1, voll, stdout);
        voll = 0;
    }

private:
    static constexpr std::size_t PLATZ = 8192;
    static constexpr std::size_t LANG = 2048;
    char platz[PLATZ + 32]; // a short run's copy writes up to 32 bytes
    std::size_t voll = 0;
};

// The four bytes (and a zero byte, when it ends the text) are found 64 at
// a time; the runs between them are gathered with vector copies, so that
// a large value costs little more than its write.  True when a zero byte
// ended the text.
template <bool BisNull> bool escape(const char *text, std::size_t n)
{
    Sammler seite;
    const char *ende = text + n;
    const char *lauf = text;
    const char *b = text;
    for (; ende - b >= 64; b += 64) {
        std::uint64_t m = BisNull ? maske64<'&', '<', '>', '"', '\0'>(b) : maske64<'&', '<', '>', '"'>(b);
        for (; m != 0; m &= m - 1) {
            const char *bei = b + __builtin_ctzll(m);
            seite.an(lauf, static_cast<std::size_t>(bei - lauf), static_cast<std::size_t>(ende - lauf));
            if (BisNull && *bei == '\0') {
                seite.leeren();
                return true;
            }
            seite.entity_an(static_cast<unsigned char>(*bei));
            lauf = bei + 1;
        }
    }
    for (; b < ende; ++b) {
        auto c = static_cast<unsigned char>(*b);
        if (ENTITIES.laenge[c] == 0 && (!BisNull || c != '\0'))
            continue;
        seite.an(lauf, static_cast<std::size_t>(b - lauf), static_cast<std::size_t>(ende - lauf));
        if (BisNull && c == '\0') {
            seite.leeren();
            return true;
        }
        seite.entity_an(c);
        lauf = b + 1;
    }
    seite.an(lauf, static_cast<std::size_t>(ende - lauf), static_cast<std::size_t>(ende - lauf));
    seite.leeren();
    return false;
}

} // namespace

void html_text_n(const char *text, std::size_t n)
{
    escape<false>(text, n);
}

bool html_text_bis_null(const char *text, std::size_t n)
{
    return escape<true>(text, n);
}

void html_text(const char *text)
{
    html_text_n(text, std::strlen(text));
}

namespace {

// 1023 characters and the terminator; longer messages are cut.
constexpr std::size_t MELDUNGSIZE = 1024;

void melde(const char *kopf, const char *text)
{
    std::fputs(kopf, stdout);
    html_text(text);
    std::fputs("<p>\n", stdout);
}

// The real standard output while the page is held, else null.
FILE *gehalten_fuer = nullptr;
char *gehalten = nullptr;
std::size_t gehalten_laenge = 0;

// While the page is held, what goes to standard error is held too: a
// server may give both the same pipe, and a report must not stand before
// the page's header.
char *gehaltene_fehler = nullptr;
std::size_t gehaltene_fehler_laenge = 0;
FILE *fehler_speicher = nullptr;

void fehler_text(const char *text)
{
    if (gehalten_fuer != nullptr && fehler_speicher == nullptr)
        fehler_speicher = open_memstream(&gehaltene_fehler, &gehaltene_fehler_laenge);
    bool halten = gehalten_fuer != nullptr && fehler_speicher != nullptr;
    std::fprintf(halten ? fehler_speicher : stderr, "%s\n", text);
}

} // namespace

void cgi_error(const char *errmsg, ...)
{
    char text[MELDUNGSIZE];
    va_list args;
    va_start(args, errmsg);
    std::vsnprintf(text, sizeof text, errmsg, args);
    va_end(args);
    melde("<B>Interner Fehler:</B>", text);
    fehler_text(text);
    html_ende();
}

void cgi_usererror(const char *errmsg, ...)
{
    char text[MELDUNGSIZE];
    va_list args;
    va_start(args, errmsg);
    std::vsnprintf(text, sizeof text, errmsg, args);
    va_end(args);
    melde("<B>F E H L E R:</B>", text);
    html_ende();
}

namespace {

// A write to a non-blocking standard output (a server may hand over a
// socket so) that waits whenever the reader is behind, as the body's read
// does, instead of failing with EAGAIN and cutting the page.  0 on an error.
ssize_t wartend_schreiben(void *, const char *daten, std::size_t n)
{
    std::size_t ganz = 0;
    while (ganz < n) {
        ssize_t w = write(1, daten + ganz, n - ganz);
        if (w > 0) {
            ganz += static_cast<std::size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{1, POLLOUT, 0};
            if (poll(&pfd, 1, -1) < 0 && errno != EINTR)
                break;
        } else if (w == 0 || errno != EINTR) {
            break;
        }
    }
    return static_cast<ssize_t>(ganz);
}

// Once per process: a non-blocking standard output gets a stream whose
// writes wait (with a buffer as large as the program's own).
void ausgabe_wartend_machen()
{
    static bool geprueft = false;
    if (geprueft)
        return;
    geprueft = true;
    int flags = fcntl(1, F_GETFL);
    if (flags < 0 || (flags & O_NONBLOCK) == 0)
        return;
    FILE *wartend = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, wartend_schreiben, nullptr, nullptr});
    if (wartend == nullptr)
        return;
    static char puffer[64 * 1024];
    std::setvbuf(wartend, puffer, _IOFBF, sizeof puffer);
    std::fflush(stdout);
    stdout = wartend;
}

} // namespace

void seite_halten()
{
    if (gehalten_fuer != nullptr)
        return;
    ausgabe_wartend_machen();
    FILE *speicher = open_memstream(&gehalten, &gehalten_laenge);
    if (speicher == nullptr)
        return; // without memory the page goes out as it is written
    gehalten_fuer = stdout;
    stdout = speicher;
}

void seite_freigeben()
{
    if (gehalten_fuer == nullptr)
        return;
    std::fclose(stdout);
    stdout = gehalten_fuer;
    gehalten_fuer = nullptr;
    fwrite_unlocked(gehalten, 1, gehalten_laenge, stdout);
    std::free(gehalten);
    gehalten = nullptr;
    gehalten_laenge = 0;
    if (fehler_speicher == nullptr)
        return;
    std::fclose(fehler_speicher);
    fehler_speicher = nullptr;
    if (gehaltene_fehler_laenge > 0) {
        std::fflush(stdout);
        std::fwrite(gehaltene_fehler, 1, gehaltene_fehler_laenge, stderr);
    }
    std::free(gehaltene_fehler);
    gehaltene_fehler = nullptr;
    gehaltene_fehler_laenge = 0;
}
