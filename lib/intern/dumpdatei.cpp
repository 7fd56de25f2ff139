#include "dumpdatei.h"

#include "aufzeichnung.h"
#include "verlauf.h"

#include <cerrno>
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

// A fresh file beside the path, renamed over it; -1 with errno when it
// cannot be made.  mkstemp's mode is cut by the umask: the mode is set
// again.  With a history, the file gets a second name there before it is
// renamed into place (*verlinkt): the same file, no second write; it is
// locked before, so that no pass prunes it while it is written.
int frische_datei(const char *pfad, int verlauf, const char *eintrag, bool *verlinkt)
{
    std::size_t size = std::strlen(pfad) + sizeof ".XXXXXX";
    auto *neu = static_cast<char *>(std::malloc(size));
    if (neu == nullptr)
        return -1;
    std::snprintf(neu, size, "%s.XXXXXX", pfad);
    int fd = mkstemp(neu);
    *verlinkt = fd >= 0 && verlauf >= 0 && flock(fd, LOCK_SH) == 0 && linkat(AT_FDCWD, neu, verlauf, eintrag, 0) == 0;
    // (A file system without flock: no second name, the history gets a copy.)
    if (fd >= 0 && (fchmod(fd, 0600) != 0 || std::rename(neu, pfad) != 0)) {
        int fehler = errno;
        unlink(neu);
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
char *ordner(const char *pfad)
{
    const char *letzter = std::strrchr(pfad, '/');
    if (letzter == nullptr)
        return strdup(".");
    return strndup(pfad, letzter == pfad ? 1 : static_cast<std::size_t>(letzter - pfad));
}

// Where the record goes, as a copy: the path itself, or the target of a
// link at the path when root owns the link and the folder that holds it,
// and the user cannot write that folder (the rule of the kernel's
// protected_symlinks): an administrator's way to put the record into a
// folder of the server's user, where every request makes a fresh file.
// Followed once; the target itself is never followed.
char *linkziel(const char *pfad)
{
    struct stat st {};
    if (lstat(pfad, &st) != 0 || !S_ISLNK(st.st_mode) || st.st_uid != 0)
        return strdup(pfad);
    char *dir = ordner(pfad);
    struct stat d {};
    bool vertraut =
        dir != nullptr && stat(dir, &d) == 0 && d.st_uid == 0 && faccessat(AT_FDCWD, dir, W_OK, AT_EACCESS) != 0;
    char ziel[4096];
    ssize_t n = vertraut ? readlink(pfad, ziel, sizeof ziel - 1) : -1;
    char *erg = nullptr;
    if (n <= 0) {
        erg = strdup(pfad);
    } else if (ziel[0] == '/') {
        erg = strndup(ziel, static_cast<std::size_t>(n));
    } else {
        std::size_t size = std::strlen(dir) + static_cast<std::size_t>(n) + 2;
        erg = static_cast<char *>(std::malloc(size));
        if (erg != nullptr)
            std::snprintf(erg, size, "%s/%.*s", dir, static_cast<int>(n), ziel);
    }
    std::free(dir);
    return erg;
}

// A regular file of the effective user at the path, opened without
// following a link and without blocking on a FIFO; -1 for anything else.
int vorbereitete_datei(const char *pfad)
{
    struct stat vorher {};
    if (lstat(pfad, &vorher) != 0 || !S_ISREG(vorher.st_mode) || vorher.st_uid != geteuid() || vorher.st_nlink != 1)
        return -1;
    int fd = open(pfad, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

Dumpdatei::~Dumpdatei()
{
    schliesse();
}

Dumpdatei::Oeffnung Dumpdatei::oeffne(const char *pfad)
{
    if (pfad == nullptr || (pfad_ = linkziel(pfad)) == nullptr)
        return VERWEIGERT;
    verlauf_ = verlauf_oeffnen(pfad_);
    if (verlauf_ >= 0) {
        einstellung_ = verlauf_grenzen(verlauf_, grenzen_);
        verlauf_name(eintrag_, sizeof eintrag_);
    }
    bool verlinkt = false;
    int fd = frische_datei(pfad_, verlauf_, eintrag_, &verlinkt);
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
    fd = vorbereitete_datei(pfad_);
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
    const char *pfad = pfad_ != nullptr ? pfad_ : "";
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
        melder_(pfad_ != nullptr ? pfad_ : "", fehlernummer);
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
    std::free(pfad_);
    pfad_ = nullptr;
}

} // namespace vokt::intern
