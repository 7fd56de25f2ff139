#include "aufzeichnungsdatei.h"
#include "meldung.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace vokt::intern;

namespace {

// Opens the record name in the folder ordner without waiting (a FIFO
// would block until a writer came), and only when it is a regular file: a
// device is never opened (opening /dev/ptmx makes a terminal); without
// folgen a link is not followed either.  The descriptor, or -1 after a
// message naming pfad.
int oeffnen(int ordner, const char *name, bool folgen, const char *pfad, std::uint64_t *groesse)
{
    struct stat st {};
    int fd = -1;
    const char *grund = nullptr; // why it is refused
    bool da = fstatat(ordner, name, &st, folgen ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
    if (!da ||
        (S_ISREG(st.st_mode) &&
         ((fd = openat(ordner, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (folgen ? 0 : O_NOFOLLOW))) < 0 ||
          fstat(fd, &st) != 0))) {
        grund = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        grund = std::strerror(EISDIR);
    } else if (S_ISLNK(st.st_mode)) {
        grund = "a link in the folder: not followed";
    } else if (S_ISREG(st.st_mode)) {
        *groesse = static_cast<std::uint64_t>(st.st_size);
        return fd;
    } else {
        // Not a regular file, or changed into none since it was looked at.
        grund = "not a regular file (a FIFO, a device or a socket): refused";
    }
    meldung("%s: %s", dateiname(pfad).c_str(), grund);
    if (fd >= 0)
        close(fd);
    return -1;
}

// The entries part of the open record, read into a; fd, or -1 after a
// message (the file then closed).
int kopf_laden(int fd, std::uint64_t groesse, const char *datei, Aufzeichnung &a)
{
    std::string n = dateiname(datei);
    switch (a.kopf_lesen(fd, groesse)) {
    case Aufzeichnung::GELESEN: return fd;
    case Aufzeichnung::FEHLER: meldung("%s: %s", n.c_str(), std::strerror(errno)); break;
    case Aufzeichnung::KEIN_DUMP: meldung("%s: no record (no line with '=' before the '*' line)", n.c_str()); break;
    case Aufzeichnung::ZU_GROSS:
        meldung("%s: no record (no '*' line within its first %zu MiB)", n.c_str(), KOPF_HOECHSTENS >> 20);
        break;
    }
    close(fd);
    return -1;
}

// Up to n bytes of the file at offset ab: how many came, 0 with errno
// ENODATA when the file ends there (it got shorter while it was read), -1
// with errno set when reading failed.
ssize_t lesen_bei(int fd, char *puffer, std::size_t n, std::uint64_t ab)
{
    ssize_t r;
    while ((r = pread(fd, puffer, n, static_cast<off_t>(ab))) < 0 && errno == EINTR) {
    }
    if (r == 0)
        errno = ENODATA;
    return r;
}

} // namespace

namespace {

// The record that laden() read last, escaped, for the line that
// ohne_speicher() writes without taking memory.
char zuletzt_geladen[320] = "the record";

[[noreturn]] void ohne_speicher()
{
    // No memory is left: the line is put together on the stack and
    // written as it is.
    char text[512];
    int n = std::snprintf(text, sizeof text, "%s: %s: out of memory: too large for this command\n", programmname,
                          zuletzt_geladen);
    if (n > 0)
        (void)!write(STDERR_FILENO, text, std::min(static_cast<std::size_t>(n), sizeof text - 1));
    _exit(FEHLER);
}

} // namespace

void speichermangel_melden()
{
    std::set_new_handler(ohne_speicher);
}

int laden(const char *datei, Aufzeichnung &a)
{
    std::snprintf(zuletzt_geladen, sizeof zuletzt_geladen, "%s", sichtbar(datei, 256).c_str());
    std::uint64_t groesse = 0;
    int fd = oeffnen(AT_FDCWD, datei, true, datei, &groesse);
    return fd < 0 ? -1 : kopf_laden(fd, groesse, datei, a);
}

int laden_aus(int ordner, const char *name, const char *pfad, Aufzeichnung &a)
{
    std::uint64_t groesse = 0;
    int fd = oeffnen(ordner, name, false, pfad, &groesse);
    return fd < 0 ? -1 : kopf_laden(fd, groesse, pfad, a);
}

void lesehinweise(const char *pfad, const Aufzeichnung &a)
{
    std::string n = dateiname(pfad);
    const char *datei = n.c_str();
    if (a.alte_regel())
        meldung("%s: lines without '=' were read as parts of the entry before them (a record of an older "
                "vokt.cgi; such a record's lines can be forged)",
                datei);
    for (const std::string &name : a.doppelt())
        meldung("%s: %s appears more than once; the replay uses the last one", datei, sichtbar(name).c_str());
    if (a.mit_nullbyte() > 0)
        meldung("%s: %zu entries hold a zero byte and are cut there", datei, a.mit_nullbyte());
    if (!a.mit_laenge()) {
        meldung("%s: no '*' line (the request was refused before its body was read): no body", datei);
        return;
    }
    long long soll = a.angesagt() < 0 ? 0 : a.angesagt();
    auto hat = static_cast<long long>(a.inhaltlaenge());
    if (hat < soll)
        meldung("%s: the body arrived short: %lld of %lld announced bytes", datei, hat, soll);
    else if (hat > soll)
        meldung("%s: the body has %lld bytes, more than the %lld announced (a chunked upload?)", datei, hat, soll);
}

bool kopieren(int quelle, const Aufzeichnung &a, int nach)
{
    static char puffer[64 * 1024];
    std::uint64_t ab = a.inhalt_ab();
    for (std::uint64_t rest = a.inhaltlaenge(); rest > 0;) {
        ssize_t n =
            lesen_bei(quelle, puffer, static_cast<std::size_t>(std::min<std::uint64_t>(rest, sizeof puffer)), ab);
        if (n <= 0 || !alles_schreiben(nach, puffer, static_cast<std::size_t>(n)))
            return false;
        ab += static_cast<std::uint64_t>(n);
        rest -= static_cast<std::uint64_t>(n);
    }
    return true;
}

bool inhalt_holen(int quelle, const Aufzeichnung &a, std::string *inhalt, std::uint64_t hoechstens)
{
    inhalt->assign(static_cast<std::size_t>(std::min(a.inhaltlaenge(), hoechstens)), '\0');
    for (std::size_t ab = 0; ab < inhalt->size();) {
        ssize_t n = lesen_bei(quelle, inhalt->data() + ab, inhalt->size() - ab, a.inhalt_ab() + ab);
        if (n <= 0)
            return false;
        ab += static_cast<std::size_t>(n);
    }
    return true;
}

bool inhalt_laden(const char *datei, int quelle, const Aufzeichnung &a, std::string *inhalt)
{
    if (a.inhaltlaenge() > INHALT_HOECHSTENS) {
        meldung("%s: the body has %llu bytes, more than the %llu MiB that vokt holds in memory: refused",
                dateiname(datei).c_str(), static_cast<unsigned long long>(a.inhaltlaenge()),
                static_cast<unsigned long long>(INHALT_HOECHSTENS >> 20));
        return false;
    }
    if (!inhalt_holen(quelle, a, inhalt)) {
        meldung("%s: reading the body: %s", dateiname(datei).c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

bool inhaltsdatei_schreiben(const char *pfad, int quelle, const Aufzeichnung &a, std::string *voll)
{
    int fd = open(pfad, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        meldung("%s: cannot make the body's file: %s", dateiname(pfad).c_str(), std::strerror(errno));
        return false;
    }
    bool ok = kopieren(quelle, a, fd);
    int fehler = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        fehler = errno;
    }
    if (!ok) {
        meldung("%s: writing the body: %s", dateiname(pfad).c_str(), std::strerror(fehler));
        unlink(pfad);
        return false;
    }
    char *echt = realpath(pfad, nullptr);
    *voll = echt != nullptr ? echt : pfad;
    std::free(echt);
    return true;
}

int unbenannte_datei()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = dir + "/vokt-replay.XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            unlink(name.c_str());
    }
    return fd;
}
