#include "schnappschussordner.h"

#include "curl.h"
#include "intern/dumpdatei.h"
#include "meldung.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

const char SCHNAPPSCHUSS_USAGE[] = "  --snapshot DIR        keep each response in DIR, one file per record named\n"
                                   "                        after it: the first run writes it (\"new\"), a later\n"
                                   "                        one compares (\"same\", or \"differs\" and the first\n"
                                   "                        difference; exit status 1)\n"
                                   "  --update              rewrite the snapshots that differ\n"
                                   "  --ignore-header NAME  leave the header NAME out of the snapshots and the\n"
                                   "                        comparison (any case; repeatable)\n"
                                   "  --expect-status N     the response's status must be N (exit status 1)\n"
                                   "  --expect-header 'Name: value'\n"
                                   "                        the response must have that header (repeatable)\n";

namespace {

// A snapshot file read is at most this large: the largest response's
// body escaped (four bytes each and the line breaks), and its header.
constexpr off_t LESEN_HOECHSTENS = off_t{5} * SCHNAPPSCHUSS_HOECHSTENS;

bool zahl(std::string_view t, int *n)
{
    *n = 0;
    for (char z : t) {
        if (z < '0' || z > '9' || *n > 1000)
            return false;
        *n = *n * 10 + (z - '0');
    }
    return !t.empty();
}

// The option's argument, checked; false after a message.
bool argument_nehmen(Schnappschusswahl &w, std::string_view o, const char *a)
{
    if (o == "--snapshot") {
        w.ordner = a;
    } else if (o == "--ignore-header" && ist_token(a)) {
        w.ohne.emplace_back(a);
    } else if (o == "--expect-header" && ist_erwarteter_kopf(a)) {
        w.erwartung.kopf.emplace_back(a);
    } else if (o == "--expect-status" && zahl(a, &w.erwartung.status) && w.erwartung.status >= 100 &&
               w.erwartung.status <= 599) {
    } else {
        const char *was = o == "--ignore-header"   ? "a header NAME"
                          : o == "--expect-header" ? "'Name: value'"
                                                   : "a status 100..599";
        meldung("%s needs %s, not \"%s\"", o.data(), was, sichtbar(a).c_str());
        return false;
    }
    return true;
}

// The folder's descriptor, the folder made when it is missing; -1 after a
// message.
int ordner_oeffnen(const char *ordner)
{
    int fd = open(ordner, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && mkdir(ordner, 0777) == 0)
        fd = open(ordner, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        meldung("%s: %s", dateiname(ordner).c_str(), std::strerror(errno));
    return fd;
}

enum class Gelesen { DA, FEHLT, FEHLER };

// The snapshot `name` in the folder d into *text: only a regular file, no
// link followed, at most LESEN_HOECHSTENS bytes.
Gelesen lesen(int d, const std::string &pfad, const std::string &name, std::string *text)
{
    int fd = openat(d, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return Gelesen::FEHLT;
    struct stat st {};
    const char *grund = fd < 0 && errno == ELOOP        ? "a link, not followed"
                        : fd < 0 || fstat(fd, &st) != 0 ? std::strerror(errno)
                        : !S_ISREG(st.st_mode)          ? "not a regular file"
                        : st.st_size > LESEN_HOECHSTENS ? "larger than any snapshot"
                                                        : nullptr;
    if (grund == nullptr) {
        text->resize(static_cast<std::size_t>(st.st_size));
        ssize_t n = 0;
        std::size_t ab = 0;
        while (ab < text->size() &&
               ((n = read(fd, text->data() + ab, text->size() - ab)) > 0 || (n < 0 && errno == EINTR)))
            ab += n > 0 ? static_cast<std::size_t>(n) : 0;
        text->resize(ab);
        grund = n < 0 ? std::strerror(errno) : nullptr;
    }
    if (fd >= 0)
        close(fd);
    if (grund == nullptr)
        return Gelesen::DA;
    meldung("%s: %s", dateiname(pfad).c_str(), grund);
    return Gelesen::FEHLER;
}

// text as the snapshot `name` in the folder d: a new file there, renamed
// over whatever has that name (a link is replaced, never followed); false
// after a message.
bool schreiben(int d, const std::string &pfad, const std::string &name, const std::string &text)
{
    std::string neu = "." + name + ".XXXXXX";
    int fd = vokt::intern::neue_datei(d, neu.data());
    mode_t maske = umask(0);
    umask(maske);
    bool ok = fd >= 0 && fchmod(fd, 0666 & ~maske) == 0 && alles_schreiben(fd, text.data(), text.size()) &&
              renameat(d, neu.c_str(), d, name.c_str()) == 0;
    int fehler = errno;
    if (fd >= 0)
        close(fd);
    if (ok)
        return true;
    if (fd >= 0)
        unlinkat(d, neu.c_str(), 0);
    meldung("%s: cannot write the snapshot: %s", dateiname(pfad).c_str(), std::strerror(fehler));
    return false;
}

// How the response compares with the snapshot's text: the first
// difference, or why the text is no snapshot; empty when they are the
// same.
std::string vergleichen(const Antwort &a, const std::string &text, const Ohne &ohne)
{
    Antwort alt;
    std::string fehler;
    if (!schnappschuss_lesen(text, &alt, &fehler))
        return "the snapshot is unreadable: " + fehler;
    return erster_unterschied(a, alt, ohne);
}

} // namespace

int schnappschussoption(Schnappschusswahl &w, int argc, char **argv, int &i)
{
    std::string_view o = argv[i];
    if (o == "--update") {
        w.erneuern = true;
        return 1;
    }
    if (o != "--snapshot" && o != "--ignore-header" && o != "--expect-status" && o != "--expect-header")
        return -1;
    if (i + 1 >= argc) {
        meldung("%s needs an argument", o.data());
        return 0;
    }
    return argument_nehmen(w, o, argv[++i]) ? 1 : 0;
}

bool schnappschusswahl_pruefen(const Schnappschusswahl &w)
{
    if (w.ordner != nullptr || (!w.erneuern && w.ohne.empty()))
        return true;
    meldung("%s needs --snapshot DIR", w.erneuern ? "--update" : "--ignore-header");
    return false;
}

Abgleich abgleichen(const Antwort &a, const std::string &name, const Schnappschusswahl &w)
{
    std::string pfad = std::string(w.ordner) + "/" + name;
    int d = ordner_oeffnen(w.ordner);
    std::string text;
    Gelesen g = d >= 0 ? lesen(d, pfad, name, &text) : Gelesen::FEHLER;
    Abgleich erg;
    std::string unterschied = g == Gelesen::DA ? vergleichen(a, text, w.ohne) : "";
    if (g == Gelesen::DA && unterschied.empty())
        erg = {Abgleich::GLEICH, "same"};
    else if (g == Gelesen::DA && !w.erneuern)
        erg = {Abgleich::ANDERS, "differs: " + unterschied};
    else if (g != Gelesen::FEHLER && schreiben(d, pfad, name, schnappschuss_text(a, w.ohne)))
        erg = g == Gelesen::FEHLT ? Abgleich{Abgleich::NEU, "new"}
                                  : Abgleich{Abgleich::ERNEUERT, "updated: " + unterschied};
    if (d >= 0)
        close(d);
    return erg;
}
