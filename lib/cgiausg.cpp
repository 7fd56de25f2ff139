#include "cgiausg.h"

#include <cstdarg>
#include <cstdio>
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

void schreibe_entity(const char *ent)
{
    fwrite_unlocked(ent, 1, std::strlen(ent), stdout);
}

} // namespace

void html_text(const char *text, std::size_t len)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const char *ent = entity(static_cast<unsigned char>(text[i]));
        if (ent == nullptr)
            continue;
        fwrite_unlocked(text + start, 1, i - start, stdout);
        schreibe_entity(ent);
        start = i + 1;
    }
    fwrite_unlocked(text + start, 1, len - start, stdout);
}

// The terminator bounds the text, so strcspn can look for the four bytes
// many at a time: a large body's echo costs little more than its write.
void html_text(const char *text)
{
    std::size_t lauf = std::strcspn(text, "&<>\"");
    while (text[lauf] != '\0') {
        fwrite_unlocked(text, 1, lauf, stdout);
        schreibe_entity(entity(static_cast<unsigned char>(text[lauf])));
        text += lauf + 1;
        lauf = std::strcspn(text, "&<>\"");
    }
    fwrite_unlocked(text, 1, lauf, stdout);
}
