#include "verlaufsgrenzen.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vokt::intern {

namespace {

bool ist_leerraum(char z)
{
    return z == ' ' || z == '\t' || z == '\n' || z == '\r';
}

// What a unit letter multiplies by, and whether it is an age (else a size);
// 0 for anything else.
long long einheit(char z, bool *ist_alter)
{
    *ist_alter = z == 'h' || z == 'd' || z == 'w';
    switch (z) {
    case 'h': return 3600;
    case 'd': return 24 * 3600;
    case 'w': return 7 * 24 * 3600;
    case 'K': return 1LL << 10;
    case 'M': return 1LL << 20;
    case 'G': return 1LL << 30;
    case 'T': return 1LL << 40;
    default: return 0;
    }
}

// Digits from text[i], saturated at a value far beyond every limit.
long long zahl(const char *text, std::size_t n, std::size_t &i)
{
    constexpr long long SATT = 1000LL * 1000 * 1000 * 1000;
    long long z = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
        z = z >= SATT ? SATT : z * 10 + (text[i] - '0');
    return z;
}

struct Gelesen {
    long long anzahl = 0, alter = 0, umfang = 0;
};

// One word at text[i] ("1000", "7d", "500M") into g; false when it is of
// another form, 0, or names a limit that g has already.
bool wort(const char *text, std::size_t n, std::size_t &i, Gelesen &g)
{
    std::size_t anfang = i;
    long long z = zahl(text, n, i);
    if (i == anfang || z == 0)
        return false;
    if (i == n || ist_leerraum(text[i])) {
        bool neu = g.anzahl == 0;
        g.anzahl = z;
        return neu;
    }
    bool ist_alter = false;
    long long mal = einheit(text[i++], &ist_alter);
    if (mal == 0 || (i < n && !ist_leerraum(text[i])))
        return false;
    long long &ziel = ist_alter ? g.alter : g.umfang;
    bool neu = ziel == 0;
    ziel = z > LLONG_MAX / mal ? LLONG_MAX : z * mal;
    return neu;
}

} // namespace

Einstellung verlauf_grenzen_aus(const char *text, std::size_t n, Verlaufsgrenzen &g)
{
    Gelesen l;
    bool eins = false;
    for (std::size_t i = 0; i < n;) {
        if (ist_leerraum(text[i])) {
            ++i;
            continue;
        }
        if (!wort(text, n, i, l))
            return Einstellung::UNGUELTIG;
        eins = true;
    }
    if (!eins)
        return Einstellung::UNGUELTIG;
    bool gekappt = l.anzahl > VERLAUF_HOECHSTENS;
    g.anzahl = l.anzahl == 0 || gekappt ? VERLAUF_HOECHSTENS : static_cast<int>(l.anzahl);
    g.alter = l.alter;
    g.umfang = l.umfang;
    return gekappt ? Einstellung::GEKAPPT : Einstellung::GUT;
}

Einstellung verlauf_grenzen(int verzeichnis, Verlaufsgrenzen &g)
{
    // The directory belongs to the server's user, and so does what is in
    // it: a link is not followed, a FIFO not waited on, at most 127 bytes
    // read; a longer file is no setting.
    int fd = openat(verzeichnis, VERLAUF_ZAHLDATEI, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Einstellung::KEINE : Einstellung::UNLESBAR;
    struct stat st {};
    char text[128];
    ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, text, sizeof text) : -1;
    close(fd);
    if (n < 0 || static_cast<std::size_t>(n) == sizeof text)
        return Einstellung::UNLESBAR;
    return verlauf_grenzen_aus(text, static_cast<std::size_t>(n), g);
}

} // namespace vokt::intern
