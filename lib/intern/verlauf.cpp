#include "verlauf.h"
#include "verlaufsgrenzen.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vokt::intern {

int verlauf_oeffnen(int ordner, const char *dump)
{
    std::size_t size = std::strlen(dump) + sizeof ".d";
    auto *name = static_cast<char *>(std::malloc(size));
    if (name == nullptr)
        return -1;
    std::snprintf(name, size, "%s.d", dump);
    int fd = openat(ordner, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    std::free(name);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_uid != geteuid())) {
        close(fd);
        fd = -1;
    }
    return fd;
}

namespace {

// The length of a name's time, "YYYYmmddTHHMMSS.uuuuuuZ".
constexpr std::size_t ZEITLAENGE = 23;

// A time as the names write it, for comparing with them.
void zeittext(char *text, std::size_t size, const timespec &t)
{
    // The civil date of the day count (H. Hinnant's days_from_civil turned
    // round), not gmtime_r or strftime: glibc reads the local time zone's
    // file for them, on every request.
    long long tage = t.tv_sec / 86400;
    long long sek = t.tv_sec % 86400;
    if (sek < 0) {
        sek += 86400;
        --tage;
    }
    long long z = tage + 719468;
    long long aera = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - aera * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long tag = doy - (153 * mp + 2) / 5 + 1;
    long long monat = mp < 10 ? mp + 3 : mp - 9;
    long long jahr = yoe + aera * 400 + (monat <= 2 ? 1 : 0);
    char puffer[128];
    std::snprintf(puffer, sizeof puffer, "%04lld%02lld%02lldT%02lld%02lld%02lld.%06ldZ", jahr, monat, tag, sek / 3600,
                  sek / 60 % 60, sek % 60, t.tv_nsec / 1000);
    std::size_t n = std::min(std::strlen(puffer), size - 1);
    std::memcpy(text, puffer, n);
    text[n] = '\0';
}

} // namespace

bool verlauf_einstellung(const char *name)
{
    return std::strcmp(name, VERLAUF_ZAHLDATEI) == 0 || std::strcmp(name, VERLAUF_STAND) == 0;
}

void verlauf_name(char *name, std::size_t size)
{
    timespec jetzt{};
    clock_gettime(CLOCK_REALTIME, &jetzt);
    char zeit[64];
    zeittext(zeit, sizeof zeit, jetzt);
    std::snprintf(name, size, "%s-%ld", zeit, static_cast<long>(getpid()));
}

bool ist_verlaufsname(const char *n)
{
    const char *form = "ddddddddTdddddd.ddddddZ-";
    for (; *form != '\0'; ++form, ++n) {
        bool ziffer = *n >= '0' && *n <= '9';
        if (*form == 'd' ? !ziffer : *n != *form)
            return false;
    }
    if (*n == '\0')
        return false;
    for (; *n != '\0'; ++n)
        if (*n < '0' || *n > '9')
            return false;
    return true;
}

namespace {

struct Satz {
    char *name;
    long long groesse;
    bool zukunft; // later than the clock after the folder was read
};

// Newest first: the names of the present by time, then those from the
// future, which count as older than all of them.
int neuer_zuerst(const void *a, const void *b)
{
    const auto *x = static_cast<const Satz *>(a);
    const auto *y = static_cast<const Satz *>(b);
    if (x->zukunft != y->zukunft)
        return x->zukunft ? 1 : -1;
    return std::strcmp(y->name, x->name);
}

// The seconds of a name's time (its form checked by ist_verlaufsname).
time_t sekunden(const char *name)
{
    auto feld = [name](int von, int n) {
        int z = 0;
        for (int i = von; i < von + n; ++i)
            z = z * 10 + (name[i] - '0');
        return z;
    };
    tm zeit{};
    zeit.tm_year = feld(0, 4) - 1900;
    zeit.tm_mon = feld(4, 2) - 1;
    zeit.tm_mday = feld(6, 2);
    zeit.tm_hour = feld(9, 2);
    zeit.tm_min = feld(11, 2);
    zeit.tm_sec = feld(13, 2);
    return timegm(&zeit);
}

// The records of the folder that count (regular, not pinned), with their
// sizes; *anzahl of them, in memory the caller frees (names too).
Satz *lesen(int verzeichnis, std::size_t *anzahl)
{
    *anzahl = 0;
    int fd = dup(verzeichnis);
    DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (d == nullptr) {
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    rewinddir(d); // the copy shares its position with the caller's descriptor
    Satz *saetze = nullptr;
    std::size_t platz = 0;
    while (const dirent *e = readdir(d)) {
        struct stat st {};
        if (!ist_verlaufsname(e->d_name) || fstatat(verzeichnis, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || verlauf_angeheftet(st.st_mode))
            continue;
        if (*anzahl == platz) {
            platz = platz == 0 ? 256 : 2 * platz;
            auto *mehr = static_cast<Satz *>(std::realloc(saetze, platz * sizeof *saetze));
            if (mehr == nullptr)
                break;
            saetze = mehr;
        }
        char *name = strdup(e->d_name);
        if (name != nullptr)
            saetze[(*anzahl)++] = Satz{name, static_cast<long long>(st.st_size), false};
    }
    closedir(d);
    return saetze;
}

// Removes a record unless it is being written (its writer holds a shared
// lock) or was pinned meanwhile; the lock is held while it goes, so that
// vokt pin, which takes a shared lock too, never pins a record that goes.
void entfernen(int verzeichnis, const char *name)
{
    int fd = openat(verzeichnis, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        !verlauf_angeheftet(st.st_mode))
        unlinkat(verzeichnis, name, 0);
    close(fd);
}

} // namespace

time_t verlauf_kuerzen(int verzeichnis, const Verlaufsgrenzen &g)
{
    std::size_t anzahl = 0;
    Satz *saetze = lesen(verzeichnis, &anzahl);
    timespec uhr{};
    clock_gettime(CLOCK_REALTIME, &uhr);
    char jetzt[64];
    char grenze[64]; // a name before this one is older than the age limit
    zeittext(jetzt, sizeof jetzt, uhr);
    timespec alt = uhr;
    alt.tv_sec -= g.alter > uhr.tv_sec ? uhr.tv_sec : static_cast<time_t>(g.alter);
    zeittext(grenze, sizeof grenze, alt);
    for (std::size_t i = 0; i < anzahl; ++i)
        saetze[i].zukunft = std::strncmp(saetze[i].name, jetzt, ZEITLAENGE) > 0;
    if (anzahl > 0)
        std::qsort(saetze, anzahl, sizeof *saetze, neuer_zuerst);
    time_t naechster = uhr.tv_sec + 3600;
    bool ueber = false;
    long long summe = 0;
    for (std::size_t i = 0; i < anzahl; ++i) {
        const Satz &s = saetze[i];
        summe += s.groesse;
        bool zu_alt = g.alter > 0 && !s.zukunft && std::strncmp(s.name, grenze, ZEITLAENGE) < 0;
        ueber = ueber || i >= static_cast<std::size_t>(g.anzahl) || (g.umfang > 0 && summe > g.umfang) || zu_alt;
        if (ueber)
            entfernen(verzeichnis, s.name);
        else if (g.alter > 0 && !s.zukunft)
            naechster = std::min(naechster, static_cast<time_t>(sekunden(s.name) + g.alter + 1));
        std::free(s.name);
    }
    std::free(saetze);
    return std::max(naechster, uhr.tv_sec + 1);
}

namespace {

// The part that a record of n bytes adds to the count: a sixteenth of the
// count limit in records reaches the threshold, and so does a sixteenth
// of the size limit in bytes (at most the threshold for one record).
off_t anteil(const Verlaufsgrenzen &g, unsigned long long n)
{
    constexpr unsigned long long STUFEN = 16;
    auto anzahl = static_cast<unsigned long long>(g.anzahl > 0 ? g.anzahl : 1);
    unsigned long long stufe = anzahl / STUFEN > 0 ? anzahl / STUFEN : 1;
    unsigned long long schwelle = VERLAUF_SCHWELLE;
    unsigned long long teil = (schwelle + stufe - 1) / stufe;
    if (g.umfang > 0)
        teil += n >= static_cast<unsigned long long>(g.umfang)
                    ? schwelle
                    : n * STUFEN * schwelle / static_cast<unsigned long long>(g.umfang);
    return static_cast<off_t>(teil < schwelle ? teil : schwelle);
}

bool faellig(const struct stat &st)
{
    return st.st_size >= VERLAUF_SCHWELLE || st.st_atim.tv_sec <= std::time(nullptr);
}

// The pass, by one request at a time: the count starts again before the
// folder is read, so a record counted after that is counted for the next.
void durchgang(int stand, int verzeichnis, const Verlaufsgrenzen &g)
{
    struct stat st {};
    if (flock(stand, LOCK_EX | LOCK_NB) != 0 || fstat(stand, &st) != 0 || !faellig(st) || ftruncate(stand, 0) != 0)
        return;
    timespec zeiten[2] = {{verlauf_kuerzen(verzeichnis, g), 0}, {0, UTIME_OMIT}};
    futimens(stand, zeiten);
}

} // namespace

void verlauf_nachtragen(int verzeichnis, const Verlaufsgrenzen &g, unsigned long long n)
{
    static const char nullen[VERLAUF_SCHWELLE] = {};
    int stand =
        openat(verzeichnis, VERLAUF_STAND, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (stand < 0)
        return;
    struct stat st {};
    // A new file's access time is now: its first request prunes.
    if (write(stand, nullen, static_cast<std::size_t>(anteil(g, n))) > 0 && fstat(stand, &st) == 0 &&
        S_ISREG(st.st_mode) && faellig(st))
        durchgang(stand, verzeichnis, g);
    close(stand);
}

} // namespace vokt::intern
