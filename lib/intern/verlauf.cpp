#include "verlauf.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
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

void verlauf_name(char *name, std::size_t size)
{
    timespec jetzt{};
    clock_gettime(CLOCK_REALTIME, &jetzt);
    tm zeit{};
    gmtime_r(&jetzt.tv_sec, &zeit);
    char sekunde[32];
    std::strftime(sekunde, sizeof sekunde, "%Y%m%dT%H%M%S", &zeit);
    std::snprintf(name, size, "%s.%06ldZ-%ld", sekunde, jetzt.tv_nsec / 1000, static_cast<long>(getpid()));
}

namespace {

bool ist_leerraum(char z)
{
    return z == ' ' || z == '\t' || z == '\n' || z == '\r';
}

} // namespace

bool verlauf_einstellung(const char *name)
{
    return std::strcmp(name, VERLAUF_ZAHLDATEI) == 0;
}

int verlauf_anzahl_aus(const char *text, std::size_t n)
{
    std::size_t i = 0;
    while (i < n && ist_leerraum(text[i]))
        ++i;
    long zahl = 0;
    std::size_t ziffern = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++ziffern)
        zahl = zahl > VERLAUF_HOECHSTENS ? zahl : zahl * 10 + (text[i] - '0');
    while (i < n && ist_leerraum(text[i]))
        ++i;
    if (i < n || ziffern == 0 || zahl == 0)
        return VERLAUF_ANZAHL;
    return zahl > VERLAUF_HOECHSTENS ? VERLAUF_HOECHSTENS : static_cast<int>(zahl);
}

int verlauf_anzahl(int verzeichnis)
{
    // The directory belongs to the server's user, and so does what is in
    // it: a link is not followed, a FIFO not waited on, at most 31 bytes
    // read; a longer file is no number.
    int fd = openat(verzeichnis, VERLAUF_ZAHLDATEI, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return VERLAUF_ANZAHL;
    char text[32];
    ssize_t n = read(fd, text, sizeof text);
    close(fd);
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof text)
        return VERLAUF_ANZAHL;
    return verlauf_anzahl_aus(text, static_cast<std::size_t>(n));
}

namespace {

// "YYYYmmddTHHMMSS.uuuuuuZ-" and digits.
bool ist_eintrag(const char *n)
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

int vergleiche(const void *a, const void *b)
{
    return std::strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

} // namespace

void verlauf_kuerzen(int verzeichnis)
{
    int fd = dup(verzeichnis);
    DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (d == nullptr) {
        if (fd >= 0)
            close(fd);
        return;
    }
    auto behalten = static_cast<std::size_t>(verlauf_anzahl(verzeichnis));
    char **namen = nullptr;
    std::size_t anzahl = 0;
    std::size_t platz = 0;
    while (const dirent *e = readdir(d)) {
        if (!ist_eintrag(e->d_name))
            continue;
        if (anzahl == platz) {
            platz = platz == 0 ? 2 * VERLAUF_ANZAHL : 2 * platz;
            auto *mehr = static_cast<char **>(std::realloc(namen, platz * sizeof *namen));
            if (mehr == nullptr)
                break;
            namen = mehr;
        }
        namen[anzahl] = strdup(e->d_name);
        if (namen[anzahl] != nullptr)
            ++anzahl;
    }
    if (anzahl > 0)
        std::qsort(namen, anzahl, sizeof *namen, vergleiche);
    for (std::size_t i = 0; i < anzahl; ++i) {
        if (i + behalten < anzahl)
            unlinkat(verzeichnis, namen[i], 0);
        std::free(namen[i]);
    }
    std::free(namen);
    closedir(d);
}

} // namespace vokt::intern
