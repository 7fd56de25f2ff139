#include "cgiausg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// 1023 characters and the terminator; longer messages are cut.
constexpr std::size_t MELDUNGSIZE = 1024;

void melde(const char *kopf, const char *text)
{
    std::fputs(kopf, stdout);
    html_text(text);
    std::fputs("<p>\n", stdout);
}

// Which bytes need an entity, and which one.
inline const char *entity(unsigned char c)
{
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    default: return nullptr;
    }
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
    std::fprintf(stderr, "%s\n", text);
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

// Escaped text is gathered here and goes to the page in large pieces: one
// library call per piece rather than one per entity and run between them.
class Sammler {
public:
    void an(const char *text, std::size_t len)
    {
        if (len > sizeof platz - voll) {
            leeren();
            if (len > sizeof platz / 2) {
                fwrite_unlocked(text, 1, len, stdout);
                return;
            }
        }
        std::memcpy(platz + voll, text, len);
        voll += len;
    }
    void entity_an(const char *ent) { an(ent, std::strlen(ent)); }
    void leeren()
    {
        fwrite_unlocked(platz, 1, voll, stdout);
        voll = 0;
    }

private:
    char platz[4096];
    std::size_t voll = 0;
};

} // namespace

// The terminator bounds the text, so strcspn can look for the four bytes
// many at a time: a large body's echo costs little more than its write.
void html_text(const char *text)
{
    Sammler seite;
    std::size_t lauf = std::strcspn(text, "&<>\"");
    while (text[lauf] != '\0') {
        seite.an(text, lauf);
        seite.entity_an(entity(static_cast<unsigned char>(text[lauf])));
        text += lauf + 1;
        lauf = std::strcspn(text, "&<>\"");
    }
    seite.an(text, lauf);
    seite.leeren();
}

namespace {

// The real standard output while the page is held, else null.
FILE *gehalten_fuer = nullptr;
char *gehalten = nullptr;
std::size_t gehalten_laenge = 0;

} // namespace

void seite_halten()
{
    if (gehalten_fuer != nullptr)
        return;
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
}
