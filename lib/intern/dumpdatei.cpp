#include "dumpdatei.h"

#include "aufzeichnung.h"
#include "verlauf.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vokt::intern {

char *dumppfad(int euid, const char *home, int nobody)
{
    if (home != nullptr && euid != nobody) {
        std::size_t size = std::strlen(home) + sizeof "/cgidump";
        auto *pfad = static_cast<char *>(std::malloc(size));
        if (pfad != nullptr)
            std::snprintf(pfad, size, "%s/cgidump", home);
        return pfad;
    }
    constexpr std::size_t size = sizeof "/tmp/cgidump-2147483648";
    auto *pfad = static_cast<char *>(std::malloc(size));
    if (pfad != nullptr)
        std::snprintf(pfad, size, "/tmp/cgidump%d", euid);
    return pfad;
}

namespace {

// How long a request waits for another one that writes the prepared file.
constexpr long WARTEZEIT_MS = 2000;
constexpr long SCHRITT_MS = 10;

// Errors with which a directory says it is full rather than that it
// refuses new files.
bool ist_voll(int fehlernummer)
{
    return fehlernummer == ENOSPC || fehlernummer == EDQUOT;
}

// Bits for a file name that no other request picks at the same time:
// the clock (no system call) and where this stack lies (ASLR), mixed.  No
// secret is needed: O_EXCL never lets a name replace a file.
unsigned long long namensbits(unsigned long long versuch)
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    unsigned long long z =
        static_cast<unsigned long long>(t.tv_sec) * 1000000007ULL + static_cast<unsigned long long>(t.tv_nsec) +
        (static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&t)) << 20) + versuch * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// A fresh file beside the dump, renamed over it; -1 with errno when it
// cannot be made.  The mode is cut by the umask: it is set again.  With a
// history, the file gets a second name there before it is renamed into
// place (*verlinkt): the same file, no second write.
int frische_datei(const Dumpziel &ziel, int verlauf, const char *eintrag, bool *verlinkt)
{
    std::size_t size = std::strlen(ziel.name()) + sizeof ".XXXXXX";
    auto *neu = static_cast<char *>(std::malloc(size));
    if (neu == nullptr)
        return -1;
    std::snprintf(neu, size, "%s.XXXXXX", ziel.name());
    int d = ziel.ordner();
    int fd = neue_datei(d, neu);
    // The file is locked before it gets its history name, so that no pass
    // prunes it while it is written (a file system without flock: no second
    // name, the history gets a copy).
    *verlinkt = fd >= 0 && verlauf >= 0 && flock(fd, LOCK_SH) == 0 && linkat(d, neu, verlauf, eintrag, 0) == 0;
    if (fd >= 0 && (fchmod(fd, 0600) != 0 || renameat(d, neu, d, ziel.name()) != 0)) {
        int fehler = errno;
        unlinkat(d, neu, 0);
        if (*verlinkt)
            unlinkat(verlauf, eintrag, 0);
        close(fd);
        fd = -1;
        *verlinkt = false;
        errno = fehler;
    }
    int fehler = errno;
    std::free(neu);
    errno = fehler;
    return fd;
}

// The folder part of a path, as a copy: "." when it has none.
char *ordnerteil(const char *pfad)
{
    const char *letzter = std::strrchr(pfad, '/');
    if (letzter == nullptr)
        return strdup(".");
    return strndup(pfad, letzter == pfad ? 1 : static_cast<std::size_t>(letzter - pfad));
}

// The part after the last '/'.
const char *letzter_teil(const char *pfad)
{
    const char *letzter = std::strrchr(pfad, '/');
    return letzter == nullptr ? pfad : letzter + 1;
}

// The folder that holds root's link, opened, when root owns it and nobody
// else can write it; -1 otherwise.
int vertrauter_ordner(const char *pfad)
{
    char *dir = ordnerteil(pfad);
    int d = dir != nullptr ? open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    std::free(dir);
    struct stat st {};
    if (d >= 0 && (fstat(d, &st) != 0 || st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        close(d);
        d = -1;
    }
    return d;
}

// The text of root's link named name in the folder d, read through the
// descriptor that was checked; false when it is no such link.
bool wurzellink_lesen(int d, const char *name, char *ziel, std::size_t size)
{
    int l = openat(d, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (l < 0)
        return false;
    struct stat st {};
    ssize_t n = -1;
    if (fstat(l, &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid == 0)
        n = readlinkat(l, "", ziel, size - 1);
    close(l);
    if (n <= 0 || static_cast<std::size_t>(n) >= size - 1)
        return false;
    ziel[n] = '\0';
    return true;
}

// A regular file of the effective user in the folder, opened without
// following a link and without blocking on a FIFO; -1 for anything else.
int vorbereitete_datei(int d, const char *pfad)
{
    struct stat vorher {};
    if (fstatat(d, pfad, &vorher, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(vorher.st_mode) || vorher.st_uid != geteuid() ||
        vorher.st_nlink != 1)
        return -1;
    int fd = openat(d, pfad, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    // A second link may be a record of the history: it is never emptied.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_ino != vorher.st_ino ||
        st.st_dev != vorher.st_dev || st.st_nlink != 1) {
        close(fd);
        return -1;
    }
    return fd;
}

// The exclusive lock of a prepared file, waited for a limited time.
bool sperre(int fd)
{
    for (long gewartet = 0;; gewartet += SCHRITT_MS) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || gewartet >= WARTEZEIT_MS)
            return false;
        timespec schritt{0, SCHRITT_MS * 1000 * 1000};
        nanosleep(&schritt, nullptr);
    }
}

} // namespace

int neue_datei(int ordner, char *vorlage)
{
    static const char ZEICHEN[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    char *x = vorlage + std::strlen(vorlage) - 6;
    for (unsigned long long versuch = 0; versuch < 100; ++versuch) {
        unsigned long long bits = namensbits(versuch);
        for (int i = 0; i < 6; ++i, bits /= sizeof ZEICHEN - 1)
            x[i] = ZEICHEN[bits % (sizeof ZEICHEN - 1)];
        int fd = openat(ordner, vorlage, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool Dumpziel::finden(const char *pfad)
{
    freigeben();
    struct stat st {};
    if (lstat(pfad, &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid == 0 && folgen(pfad))
        return true;
    freigeben();
    pfad_ = strdup(pfad);
    name_ = pfad_;
    return pfad_ != nullptr;
}

// Root's link at pfad in a trusted folder, followed once: the target's
// folder opened, its name and the whole path kept.  False when the link
// is not followed.
bool Dumpziel::folgen(const char *pfad)
{
    int d = vertrauter_ordner(pfad);
    char ziel[4096];
    if (d < 0 || !wurzellink_lesen(d, letzter_teil(pfad), ziel, sizeof ziel) || *letzter_teil(ziel) == '\0') {
        if (d >= 0)
            close(d);
        return false;
    }
    name_ = strdup(letzter_teil(ziel));
    if (std::strchr(ziel, '/') == nullptr) {
        ordner_ = d;
    } else {
        char *zdir = ordnerteil(ziel);
        ordner_ = zdir != nullptr ? openat(ziel[0] == '/' ? AT_FDCWD : d, zdir, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
        std::free(zdir);
        close(d);
    }
    char *dir = ordnerteil(pfad);
    std::size_t size = (dir != nullptr ? std::strlen(dir) : 0) + std::strlen(ziel) + 2;
    pfad_ = dir != nullptr ? static_cast<char *>(std::malloc(size)) : nullptr;
    if (pfad_ != nullptr && ziel[0] == '/')
        std::snprintf(pfad_, size, "%s", ziel);
    else if (pfad_ != nullptr)
        std::snprintf(pfad_, size, "%s/%s", dir, ziel);
    std::free(dir);
    if (ordner_ < 0)
        ordner_ = AT_FDCWD; // freigeben() then has no descriptor to close
    return name_ != nullptr && pfad_ != nullptr && gefolgt();
}

void Dumpziel::freigeben()
{
    if (ordner_ != AT_FDCWD)
        close(ordner_);
    ordner_ = AT_FDCWD;
    if (name_ != pfad_)
        std::free(name_);
    std::free(pfad_);
    name_ = nullptr;
    pfad_ = nullptr;
}

Dumpdatei::~Dumpdatei()
{
    schliesse();
}

Dumpdatei::Oeffnung Dumpdatei::oeffne(const char *pfad)
{
    if (pfad == nullptr || !ziel_.finden(pfad))
        return VERWEIGERT;
    verlauf_ = verlauf_oeffnen(ziel_.ordner(), ziel_.name());
    if (verlauf_ >= 0) {
        einstellung_ = verlauf_grenzen(verlauf_, grenzen_);
        verlauf_name(eintrag_, sizeof eintrag_);
    }
    bool verlinkt = false;
    int fd = frische_datei(ziel_, verlauf_, eintrag_, &verlinkt);
    if (fd < 0 && ist_voll(errno)) {
        // A full disk is a failed write, never a reason to write into a
        // file that is already there.
        melde_fehler(errno);
        return OFFEN;
    }
    if (fd < 0) {
        Oeffnung o = vorbereitet_oeffnen(fd);
        if (o != OFFEN)
            return o;
    }
    fd_ = fd;
    eingetragen_ = verlinkt;
    // The history gets a copy, written as the record is, where it cannot
    // have a second name of the same file (another file system, a prepared
    // file that the next request reuses).
    if (verlauf_ >= 0 && !verlinkt)
        kopie_anlegen();
    return OFFEN;
}

// The prepared file at the path, locked and emptied.
Dumpdatei::Oeffnung Dumpdatei::vorbereitet_oeffnen(int &fd)
{
    fd = vorbereitete_datei(ziel_.ordner(), ziel_.name());
    if (fd < 0)
        return VERWEIGERT;
    if (!sperre(fd)) {
        close(fd);
        fehler_ = true;
        return BELEGT;
    }
    if (ftruncate(fd, 0) != 0 || fchmod(fd, 0600) != 0) {
        close(fd);
        return VERWEIGERT;
    }
    return OFFEN;
}

void Dumpdatei::kopie_anlegen()
{
    kopie_ = openat(verlauf_, eintrag_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (kopie_ < 0)
        melde_verlauf(errno);
    // Locked, as the second name of a fresh file is, before anything is
    // written into it.
    eingetragen_ = kopie_ >= 0 && flock(kopie_, LOCK_SH) == 0;
}

void Dumpdatei::melde_verlauf(int fehlernummer)
{
    if (verlauf_fehler_)
        return;
    verlauf_fehler_ = true;
    if (melder_ == nullptr)
        return;
    const char *pfad = ziel_.pfad() != nullptr ? ziel_.pfad() : "";
    std::size_t size = std::strlen(pfad) + sizeof ".d/" + std::strlen(eintrag_);
    auto *name = static_cast<char *>(std::malloc(size));
    if (name != nullptr)
        std::snprintf(name, size, "%s.d/%s", pfad, eintrag_);
    melder_(name != nullptr ? name : pfad, fehlernummer);
    std::free(name);
}

// The history's copy follows the record; when it cannot, it is removed
// rather than left as a part of a record.
void Dumpdatei::kopiere(const char *daten, std::size_t n)
{
    while (n > 0 && kopie_ >= 0) {
        ssize_t w = write(kopie_, daten, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            int fehler = w < 0 ? errno : ENOSPC;
            close(kopie_);
            kopie_ = -1;
            eingetragen_ = false;
            unlinkat(verlauf_, eintrag_, 0);
            melde_verlauf(fehler);
            return;
        }
        daten += w;
        n -= static_cast<std::size_t>(w);
    }
}

void Dumpdatei::melde_fehler(int fehlernummer)
{
    if (fehler_)
        return;
    fehler_ = true;
    if (melder_ != nullptr)
        melder_(ziel_.pfad() != nullptr ? ziel_.pfad() : "", fehlernummer);
}

void Dumpdatei::schreibe(const char *daten, std::size_t n)
{
    geschrieben_ += n;
    kopiere(daten, n);
    while (n > 0 && !fehler_) {
        ssize_t w = write(fd_, daten, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            // A write that takes nothing without an error: the disk is full.
            melde_fehler(w < 0 ? errno : ENOSPC);
            return;
        }
        daten += w;
        n -= static_cast<std::size_t>(w);
    }
}

void Dumpdatei::leeren()
{
    if (fd_ >= 0 && voll_ > 0)
        schreibe(puffer_, voll_);
    voll_ = 0;
}

void Dumpdatei::an(const char *daten, std::size_t n)
{
    if (fd_ < 0)
        return;
    if (n > sizeof puffer_ - voll_) {
        leeren();
        if (n > sizeof puffer_) {
            schreibe(daten, n);
            return;
        }
    }
    std::memcpy(puffer_ + voll_, daten, n);
    voll_ += n;
}

void Dumpdatei::senke(void *dump, const char *daten, std::size_t n)
{
    static_cast<Dumpdatei *>(dump)->an(daten, n);
}

void Dumpdatei::zeile(const char *text)
{
    eintrag_schreiben(text, senke, this);
}

void Dumpdatei::laenge(int inhaltlang)
{
    laenge_schreiben(inhaltlang, senke, this);
}

void Dumpdatei::roh(const char *daten, std::size_t n)
{
    if (fd_ < 0)
        return;
    leeren();
    schreibe(daten, n);
}

// The record is whole: still in the history (else said so), and counted
// there, which may prune the history; its own entry is still locked.
void Dumpdatei::verlauf_abschliessen()
{
    if (verlauf_ < 0 || !eingetragen_)
        return;
    int fd = kopie_ >= 0 ? kopie_ : fd_;
    struct stat meins {};
    struct stat dort {};
    if (fd < 0 || fstat(fd, &meins) != 0 || fstatat(verlauf_, eintrag_, &dort, AT_SYMLINK_NOFOLLOW) != 0 ||
        meins.st_ino != dort.st_ino || meins.st_dev != dort.st_dev) {
        melde_verlauf(ENOENT);
        return;
    }
    if (einstellung_gilt(einstellung_))
        verlauf_nachtragen(verlauf_, grenzen_, geschrieben_);
}

void Dumpdatei::schliesse()
{
    if (fd_ >= 0)
        leeren();
    verlauf_abschliessen();
    if (fd_ >= 0) {
        if (close(fd_) != 0)
            melde_fehler(errno);
        fd_ = -1;
    }
    if (kopie_ >= 0 && close(kopie_) != 0) {
        unlinkat(verlauf_, eintrag_, 0);
        melde_verlauf(errno);
    }
    kopie_ = -1;
    if (verlauf_ >= 0)
        close(verlauf_);
    verlauf_ = -1;
    ziel_.freigeben();
}

} // namespace vokt::intern
