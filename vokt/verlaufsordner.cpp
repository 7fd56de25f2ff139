#include "verlaufsordner.h"
#include "aufzeichnungsdatei.h"
#include "intern/dumpdatei.h"
#include "intern/nutzerdb.h"
#include "intern/verlauf.h"
#include "meldung.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

constexpr int NOBODY = 65534;

// The effective user's dump path, as vokt.cgi makes it; empty after a message.
std::string eigener_dump(const char *befehl)
{
    auto euid = static_cast<int>(geteuid());
    int fehlernummer = 0;
    char *home = euid != NOBODY ? heimverzeichnis(static_cast<uid_t>(euid), &fehlernummer) : nullptr;
    char *pfad = dumppfad(euid, home, NOBODY);
    std::string erg = pfad != nullptr ? pfad : "";
    std::free(home);
    std::free(pfad);
    if (fehlernummer != 0)
        meldung("%s: the account database cannot be read: %s", befehl, std::strerror(fehlernummer));
    return erg;
}

bool ist_ordner(const std::string &pfad)
{
    struct stat st {};
    return stat(pfad.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The record at pfad, handed to besuch; false when it is no record (said).
bool besuchen(const std::string &pfad, const std::string &datei, const Besuch &besuch)
{
    Aufzeichnung a;
    int fd = laden(pfad.c_str(), a);
    if (fd < 0)
        return false;
    besuch(pfad.c_str(), datei, a, fd);
    close(fd);
    return true;
}

// What a folder entry that is no regular file is, for the note.
const char *art(mode_t modus)
{
    if (S_ISLNK(modus))
        return "a link";
    if (S_ISDIR(modus))
        return "a folder";
    if (S_ISFIFO(modus))
        return "a FIFO";
    return "a device or a socket";
}

// The entry n of the open folder d, handed to besuch: only a regular file
// is opened, anything else is passed over with a note.
void eintrag_besuchen(const char *befehl, int d, const std::string &ordner, const std::string &n, const Besuch &besuch)
{
    struct stat st {};
    if (fstatat(d, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        meldung("%s: skipped %s: %s", befehl, dateiname(n).c_str(), std::strerror(errno));
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        meldung("%s: skipped %s (%s, not opened)", befehl, dateiname(n).c_str(), art(st.st_mode));
        return;
    }
    std::string pfad = ordner + "/" + n;
    Aufzeichnung a;
    int fd = laden_aus(d, n.c_str(), pfad.c_str(), a);
    if (fd < 0) {
        meldung("%s: skipped %s", befehl, dateiname(n).c_str());
        return;
    }
    besuch(pfad.c_str(), n, a, fd);
    close(fd);
}

// The names in the open folder d, sorted; false when it cannot be read.
bool namen_lesen(int d, std::vector<std::string> &namen)
{
    int kopie = dup(d);
    DIR *dir = kopie >= 0 ? fdopendir(kopie) : nullptr;
    if (dir == nullptr) {
        if (kopie >= 0)
            close(kopie);
        return false;
    }
    while (const dirent *e = readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            namen.emplace_back(e->d_name);
    closedir(dir);
    std::sort(namen.begin(), namen.end());
    return true;
}

// The history of the dump at pfad: "<pfad>.d" beside it, else the one
// beside the target of root's link at pfad, followed under vokt.cgi's own
// rule (Dumpziel), where vokt.cgi keeps it.  Empty when there is none.
std::string verlauf_zum_dump(const std::string &pfad)
{
    if (ist_ordner(pfad + ".d"))
        return pfad + ".d";
    Dumpziel ziel;
    if (!ziel.finden(pfad.c_str()) || !ziel.gefolgt())
        return "";
    std::string beim_ziel = std::string(ziel.pfad()) + ".d";
    return ist_ordner(beim_ziel) ? beim_ziel : "";
}

} // namespace

std::string ort_bestimmen(const char *befehl, const char *argument)
{
    if (argument != nullptr)
        return argument;
    std::string pfad = eigener_dump(befehl);
    if (!pfad.empty() && access(pfad.c_str(), F_OK) != 0) {
        meldung("%s: no dump at %s, where vokt.cgi would write yours (vokt %s DUMP | FOLDER names one)", befehl,
                dateiname(pfad).c_str(), befehl);
        return "";
    }
    return pfad;
}

std::string verlaufsordner(const std::string &pfad)
{
    return ist_ordner(pfad) ? pfad : verlauf_zum_dump(pfad);
}

bool durchgehen(const char *befehl, const std::string &pfad, const Besuch &besuch, std::string *ordner)
{
    *ordner = verlaufsordner(pfad);
    if (ordner->empty())
        return besuchen(pfad, pfad, besuch);
    int d = open(ordner->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> namen;
    if (d < 0 || !namen_lesen(d, namen)) {
        meldung("%s: %s", dateiname(*ordner).c_str(), std::strerror(errno));
        if (d >= 0)
            close(d);
        return false;
    }
    // The history's own settings (its keep file) are no records: passed over.
    for (const std::string &n : namen)
        if (!verlauf_einstellung(n.c_str()))
            eintrag_besuchen(befehl, d, *ordner, n, besuch);
    close(d);
    return true;
}
