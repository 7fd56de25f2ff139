#include "meldung.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

const char *programmname = "vokt-replay";

void meldung(const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    // The analyzer does not follow va_start into a variadic function that
    // it inlines into a caller: a known false finding.
    std::vsnprintf(text, sizeof text, format, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    std::fprintf(stderr, "%s: %s\n", programmname, text);
}

std::string sichtbar(std::string_view text, std::size_t hoechstens)
{
    std::string erg;
    for (std::size_t i = 0; i < text.size() && i < hoechstens; ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        erg += b >= 0x20 && b < 0x7F && b != '\\' ? std::string(1, text[i]) : std::string(hex);
    }
    return text.size() > hoechstens ? erg + "..." : erg;
}

std::string dateiname(std::string_view name)
{
    return sichtbar(name, 4096);
}

bool alles_schreiben(int fd, const char *p, std::size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}
