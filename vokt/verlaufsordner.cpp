#include "verlaufsordner.h"
#include "aufzeichnungsdatei.h"
#include "intern/dumpdatei.h"
#include "intern/nutzerdb.h"
#include "meldung.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

} // namespace

std::string ort_bestimmen(const char *befehl, const char *argument)
{
    if (argument != nullptr)
        return argument;
    std::string pfad = eigener_dump(befehl);
    if (!pfad.empty() && access(pfad.c_str(), F_OK) != 0) {
        meldung("%s: no dump at %s, where vokt.cgi would write yours (vokt %s DUMP | FOLDER names one)", befehl,
                sichtbar(pfad).c_str(), befehl);
        return "";
    }
    return pfad;
}

std::string verlaufsordner(const std::string &pfad)
{
    return ist_ordner(pfad) ? pfad : ist_ordner(pfad + ".d") ? pfad + ".d" : "";
}

bool durchgehen(const char *befehl, const std::string &pfad, const Besuch &besuch, std::string *ordner)
{
    *ordner = verlaufsordner(pfad);
    if (ordner->empty())
        return besuchen(pfad, pfad, besuch);
    DIR *d = opendir(ordner->c_str());
    if (d == nullptr) {
        meldung("%s: %s", sichtbar(*ordner).c_str(), std::strerror(errno));
        return false;
    }
    std::vector<std::string> namen;
    while (const dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            namen.emplace_back(e->d_name);
    closedir(d);
    std::sort(namen.begin(), namen.end());
    for (const std::string &n : namen)
        if (!besuchen(*ordner + "/" + n, n, besuch))
            meldung("%s: skipped %s", befehl, sichtbar(n).c_str());
    return true;
}
