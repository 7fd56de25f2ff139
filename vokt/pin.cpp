// vokt pin [--undo] RECORD...: keeps records of the history out of
// pruning, or lets them go again.  A pin is the owner's write permission
// taken away (see intern/verlauf.h): the bytes stay as they are, the pin
// outlives every process, and whoever may change the file's mode (its
// owner, the server's user, or root) may pin it.  The file is locked
// while its mode changes, as a pass locks what it removes, so a record
// is never pinned as it goes.
#include "aufzeichnungsdatei.h"
#include "befehle.h"
#include "intern/verlauf.h"
#include "meldung.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vokt::intern;

namespace {

int hilfe()
{
    std::fputs("usage: vokt pin [--undo] RECORD...\n\n"
               "Keeps each RECORD of a history out of pruning: vokt.cgi neither removes a\n"
               "pinned record nor counts it against the history's limits.  The record's\n"
               "bytes stay as they are: the pin is its owner's write permission taken away\n"
               "(mode 0400), which the record's owner (the server's user) or root may change.\n"
               "vokt list marks pinned records.\n\n"
               "--undo   lets the records go again (mode 0600)\n",
               stdout);
    return 0;
}

// One record pinned or let go; false after a message.
bool anheften(const char *datei, bool loesen)
{
    vokt::intern::Aufzeichnung a;
    int fd = laden(datei, a);
    if (fd < 0)
        return false;
    struct stat st {};
    struct stat pfad {};
    const char *fehler = nullptr;
    // A history folder is hostile: a link in it is never followed to
    // change the mode of what it points to.
    if (lstat(datei, &pfad) != 0 || S_ISLNK(pfad.st_mode)) {
        fehler = "a link (name the record itself)";
    } else if (flock(fd, LOCK_SH) != 0 || fstat(fd, &st) != 0) {
        fehler = std::strerror(errno);
    } else if (st.st_ino != pfad.st_ino || st.st_dev != pfad.st_dev) {
        fehler = "replaced while it was read";
    } else {
        mode_t modus = loesen ? (st.st_mode | 0200) : (st.st_mode & ~static_cast<mode_t>(0222));
        if (fchmod(fd, modus & 07777) != 0)
            fehler = std::strerror(errno);
        else if (fstat(fd, &st) == 0 && st.st_nlink == 0)
            fehler = "it was pruned meanwhile";
    }
    close(fd);
    if (fehler != nullptr)
        meldung("pin: %s: %s", sichtbar(datei).c_str(), fehler);
    return fehler == nullptr;
}

} // namespace

int befehl_pin(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return hilfe();
    int i = 1;
    bool loesen = i < argc && std::strcmp(argv[i], "--undo") == 0;
    if (loesen)
        ++i;
    if (i >= argc || argv[i][0] == '-') {
        meldung("usage: vokt pin [--undo] RECORD... (vokt pin --help tells more)");
        return FEHLER;
    }
    bool ok = true;
    for (; i < argc; ++i)
        ok = anheften(argv[i], loesen) && ok;
    return ok ? 0 : FEHLER;
}
