// vokt follow [-n N] [--where FILTER] [--show [--redact]] [DUMP | FOLDER]:
// the records of a history folder as they land, in the manner of tail -f:
// first the newest N, then one row (or vokt show's text) for each new
// record once its writer is done with it (see gelandet.h).  It waits on
// the folder with inotify: on the folder for new names, on each record in
// flight for its writer's close, on the folder's parent for a folder made
// anew.  Only names of the history's form are looked at, only regular
// files opened; what it keeps is the names of the records in flight and
// of the last ERLEDIGT_HOECHSTENS printed.
#include "aufzeichnungsdatei.h"
#include "aufzeichnungszeit.h"
#include "befehle.h"
#include "gelandet.h"
#include "meldung.h"
#include "treffer.h"
#include "verlaufsliste.h"
#include "verlaufsordner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

// Records in flight watched each on its own (the rest are looked at
// every NACHSEHEN_MS); a watch costs the user one of the kernel's
// max_user_watches.
constexpr std::size_t WACHEN_HOECHSTENS = 512;
constexpr int NACHSEHEN_MS = 1000;
// The names done that are kept (see erledigen).
constexpr std::size_t ERLEDIGT_HOECHSTENS = 4096;
constexpr int NACHSEHEN_GEWACHT_MS = 5000;

volatile sig_atomic_t ende = 0;

void beenden(int /*signal*/)
{
    ende = 1;
}

long long uhr_ms()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool ist_verlaufsname(const std::string &name)
{
    Zeitpunkt z;
    return zeit_aus_verlaufsname(name, &z);
}

struct Optionen {
    unsigned long anzahl = 10;
    const char *filtertext = nullptr;
    bool zeigen = false;
    bool schwaerzen = false;
    const char *ort = nullptr;
};

// A record in flight: its watch, whether its writer closed it, and when
// its size or mtime last changed.
struct Unterwegs {
    int wache = -1;
    bool geschlossen = false;
    long long groesse = -1;
    long long mtime_ns = -1;
    long long seit_ms = 0;
};

class Verfolgung {
public:
    Verfolgung(const Optionen &o, const Filter &f, std::string ordner);
    ~Verfolgung();
    Verfolgung(const Verfolgung &) = delete;
    Verfolgung &operator=(const Verfolgung &) = delete;
    bool starten();
    void laufen();

private:
    bool ordner_oeffnen();
    void ordner_schliessen();
    void durchsehen(bool anfang);
    void aufnehmen(const std::string &name);
    void pruefen(const std::string &name);
    Beobachtung beobachten(int fd, Unterwegs &u);
    void ausgeben(const std::string &name, int fd);
    void erledigen(const std::string &name);
    void ereignis(const inotify_event &e);
    void alle_pruefen();
    int wartezeit() const;

    const Optionen &o_;
    const Filter &f_;
    std::string ordner_, eltern_, name_;
    int in_ = -1, ordner_fd_ = -1, ordner_wache_ = -1, eltern_wache_ = -1;
    std::map<std::string, Unterwegs> unterwegs_;
    std::map<int, std::string> wachen_;
    std::set<std::string> erledigt_; // the newest names done
    std::string grenze_;             // the newest name done or there at the start
};

Verfolgung::Verfolgung(const Optionen &o, const Filter &f, std::string ordner)
    : o_(o), f_(f), ordner_(std::move(ordner))
{
    while (ordner_.size() > 1 && ordner_.back() == '/')
        ordner_.pop_back();
    std::size_t strich = ordner_.rfind('/');
    eltern_ = strich == std::string::npos ? "." : strich == 0 ? "/" : ordner_.substr(0, strich);
    name_ = strich == std::string::npos ? ordner_ : ordner_.substr(strich + 1);
}

Verfolgung::~Verfolgung()
{
    ordner_schliessen();
    if (in_ >= 0)
        close(in_);
}

bool Verfolgung::ordner_oeffnen()
{
    ordner_fd_ = open(ordner_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (ordner_fd_ < 0)
        return false;
    ordner_wache_ =
        inotify_add_watch(in_, ordner_.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    return ordner_wache_ >= 0;
}

// The folder is gone (removed or moved away): so are its records in flight.
void Verfolgung::ordner_schliessen()
{
    for (auto &[name, u] : unterwegs_)
        if (u.wache >= 0)
            inotify_rm_watch(in_, u.wache);
    unterwegs_.clear();
    wachen_.clear();
    if (ordner_wache_ >= 0)
        inotify_rm_watch(in_, ordner_wache_);
    if (ordner_fd_ >= 0)
        close(ordner_fd_);
    ordner_fd_ = ordner_wache_ = -1;
}

bool Verfolgung::starten()
{
    in_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (in_ < 0 ||
        (eltern_wache_ = inotify_add_watch(in_, eltern_.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR)) < 0 ||
        !ordner_oeffnen()) {
        meldung("follow: %s: %s", dateiname(ordner_).c_str(), std::strerror(errno));
        return false;
    }
    if (!o_.zeigen)
        std::fputs(folgekopf().c_str(), stdout);
    durchsehen(true);
    std::fflush(stdout);
    return true;
}

// The history names in the folder: at the start the newest o_.anzahl
// (all of them move grenze_ on), later (the folder made anew, events
// lost) those after grenze_ not yet seen.
void Verfolgung::durchsehen(bool anfang)
{
    int fd = dup(ordner_fd_);
    DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (d == nullptr) {
        if (fd >= 0)
            close(fd);
        return;
    }
    std::set<std::string> neu;
    while (const dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (!ist_verlaufsname(name) || unterwegs_.count(name) != 0 || erledigt_.count(name) != 0)
            continue;
        if (anfang) {
            grenze_ = std::max(grenze_, name);
            neu.insert(name);
            if (neu.size() > o_.anzahl)
                neu.erase(neu.begin());
        } else if (name > grenze_) {
            neu.insert(name);
        }
    }
    closedir(d);
    for (const std::string &name : neu)
        aufnehmen(name);
}

void Verfolgung::aufnehmen(const std::string &name)
{
    if (unterwegs_.count(name) != 0 || erledigt_.count(name) != 0)
        return;
    unterwegs_[name].seit_ms = uhr_ms();
    pruefen(name);
}

Beobachtung Verfolgung::beobachten(int fd, Unterwegs &u)
{
    Beobachtung b;
    b.schreiber = schreiber(fd);
    b.geschlossen = u.geschlossen;
    struct stat st {};
    if (b.schreiber != Schreiber::UNKLAR || fstat(fd, &st) != 0)
        return b;
    long long mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (st.st_size != u.groesse || mtime != u.mtime_ns) {
        u.groesse = st.st_size;
        u.mtime_ns = mtime;
        u.seit_ms = uhr_ms();
    }
    b.still_ms = uhr_ms() - u.seit_ms;
    Aufzeichnung a;
    b.ganz = a.kopf_lesen(fd, static_cast<std::uint64_t>(st.st_size)) == Aufzeichnung::GELESEN && ganz_angesagt(a);
    return b;
}

// The record in flight looked at again: printed once it has landed,
// forgotten when it is gone or no regular file.
void Verfolgung::pruefen(const std::string &name)
{
    auto it = unterwegs_.find(name);
    if (it == unterwegs_.end())
        return;
    Unterwegs &u = it->second;
    int fd = openat(ordner_fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0 || errno != ENOENT)
            meldung("follow: skipped %s: %s", dateiname(name).c_str(),
                    fd >= 0 || errno == ELOOP ? "not a regular file" : std::strerror(errno));
        if (fd >= 0)
            close(fd);
        unterwegs_.erase(it);
        return;
    }
    if (u.wache < 0 && wachen_.size() < WACHEN_HOECHSTENS) {
        // Through the descriptor: the watch is on the file that was opened.
        std::string eigen = "/proc/self/fd/" + std::to_string(fd);
        int w = inotify_add_watch(in_, eigen.c_str(), IN_CLOSE_WRITE | IN_DELETE_SELF);
        if (w >= 0 && wachen_.emplace(w, name).second)
            u.wache = w;
    }
    if (gelandet(beobachten(fd, u))) {
        ausgeben(name, fd);
        erledigen(name);
    }
    close(fd);
}

void Verfolgung::ausgeben(const std::string &name, int fd)
{
    struct stat st {};
    Aufzeichnung a;
    if (fstat(fd, &st) != 0 || a.kopf_lesen(fd, static_cast<std::uint64_t>(st.st_size)) != Aufzeichnung::GELESEN) {
        meldung("follow: skipped %s: no record", dateiname(name).c_str());
        return;
    }
    std::string pfad = ordner_ + "/" + name;
    Zeitpunkt zeit = aufzeichnungszeit(pfad.c_str(), fd);
    if (o_.filtertext != nullptr && !passt(f_, pfad.c_str(), a, fd, &zeit))
        return;
    if (o_.zeigen) {
        std::printf("==> %s <==\n", dateiname(name).c_str());
        std::fflush(stdout);
        zeigen(pfad.c_str(), fd, a, false, o_.schwaerzen);
        std::fputs("\n", stdout);
    } else {
        std::fputs(folgezeile(listenzeile(a, zeit, name)).c_str(), stdout);
    }
    std::fflush(stdout);
}

// Done with name.  The names done lately are kept, so that an event for
// one of them (a record that landed while the folder was read at the
// start) prints nothing twice.
void Verfolgung::erledigen(const std::string &name)
{
    auto it = unterwegs_.find(name);
    if (it->second.wache >= 0) {
        inotify_rm_watch(in_, it->second.wache);
        wachen_.erase(it->second.wache);
    }
    unterwegs_.erase(it);
    grenze_ = std::max(grenze_, name);
    erledigt_.insert(name);
    while (erledigt_.size() > ERLEDIGT_HOECHSTENS)
        erledigt_.erase(erledigt_.begin());
}

void Verfolgung::alle_pruefen()
{
    std::vector<std::string> namen;
    for (const auto &[name, u] : unterwegs_)
        namen.push_back(name);
    for (const std::string &name : namen)
        pruefen(name);
}

void Verfolgung::ereignis(const inotify_event &e)
{
    std::string name = e.len > 0 ? e.name : "";
    // The folder gone, or a folder made anew (or moved) at its path.
    bool gewechselt = (e.wd == ordner_wache_ && (e.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) ||
                      (e.wd == eltern_wache_ && name == name_ && (e.mask & IN_ISDIR) != 0);
    if ((e.mask & IN_Q_OVERFLOW) != 0) {
        if (ordner_fd_ >= 0)
            durchsehen(false);
        alle_pruefen();
    } else if (gewechselt) {
        ordner_schliessen();
        if (ordner_oeffnen())
            durchsehen(false);
    } else if (e.wd == ordner_wache_ && (e.mask & IN_ISDIR) == 0 && ist_verlaufsname(name)) {
        aufnehmen(name);
    } else if (auto w = wachen_.find(e.wd); w != wachen_.end()) {
        std::string datei = w->second;
        if ((e.mask & IN_IGNORED) != 0) {
            wachen_.erase(w);
            unterwegs_[datei].wache = -1;
        }
        unterwegs_[datei].geschlossen |= (e.mask & IN_CLOSE_WRITE) != 0;
        pruefen(datei);
    }
}

int Verfolgung::wartezeit() const
{
    if (unterwegs_.empty())
        return -1;
    for (const auto &[name, u] : unterwegs_)
        if (u.wache < 0)
            return NACHSEHEN_MS;
    return NACHSEHEN_GEWACHT_MS;
}

void Verfolgung::laufen()
{
    sigset_t leer;
    sigemptyset(&leer);
    alignas(inotify_event) static char puffer[64 * 1024];
    while (ende == 0) {
        pollfd p{in_, POLLIN, 0};
        int ms = wartezeit();
        timespec t{ms / 1000, (ms % 1000) * 1000000L};
        int r = ppoll(&p, 1, ms < 0 ? nullptr : &t, &leer);
        if (r == 0)
            alle_pruefen();
        ssize_t n = r > 0 ? read(in_, puffer, sizeof puffer) : 0;
        for (ssize_t ab = 0; ab < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(puffer + ab);
            ereignis(*e);
            ab += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
}

int hilfe()
{
    std::fputs("usage: vokt follow [-n N] [--where FILTER] [--show [--redact]] [DUMP | FOLDER]\n\n"
               "The records of a history folder as they land, like tail -f: first the newest N\n"
               "(10), then one row for each new record (the columns of vokt list) once its\n"
               "writer is done with it.  Ends at Ctrl-C, with exit status 0.\n\n"
               "-n N             the newest N records first (0: only new ones)\n"
               "--where FILTER   only the records that FILTER matches (see vokt(1), FILTERS)\n"
               "--show           each record whole, as vokt show prints it (--redact as there)\n"
               "DUMP | FOLDER    as for vokt list; the history folder must be there\n",
               stdout);
    return 0;
}

bool zahl_lesen(const char *text, unsigned long *n)
{
    char *ende_text = nullptr;
    errno = 0;
    *n = std::strtoul(text, &ende_text, 10);
    return *text >= '0' && *text <= '9' && *ende_text == '\0' && errno == 0;
}

bool argumente(int argc, char **argv, Optionen *o)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            if (!zahl_lesen(argv[++i], &o->anzahl))
                return false;
        } else if (std::strcmp(argv[i], "--where") == 0 && i + 1 < argc && o->filtertext == nullptr) {
            o->filtertext = argv[++i];
        } else if (std::strcmp(argv[i], "--show") == 0) {
            o->zeigen = true;
        } else if (std::strcmp(argv[i], "--redact") == 0) {
            o->schwaerzen = true;
        } else if ((argv[i][0] != '-' || argv[i][1] == '\0') && o->ort == nullptr) {
            o->ort = argv[i];
        } else {
            return false;
        }
    }
    return !o->schwaerzen || o->zeigen;
}

// The history folder of the argument, as vokt list finds it (beside the
// target of root's link at a dump too, the package's layout).
std::string ordner_finden(const char *ort)
{
    std::string pfad = ort_bestimmen("follow", ort);
    if (pfad.empty())
        return "";
    std::string ordner = verlaufsordner(pfad);
    if (ordner.empty())
        meldung("follow: no history folder at %s (vokt.cgi keeps one in DUMP.d when it is made)",
                dateiname(pfad).c_str());
    return ordner;
}

// Ctrl-C and the like end the loop; blocked but in ppoll, so none is lost.
void signale()
{
    struct sigaction s {};
    s.sa_handler = beenden;
    sigemptyset(&s.sa_mask);
    sigset_t block;
    sigemptyset(&block);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(sig, &s, nullptr);
        sigaddset(&block, sig);
    }
    sigprocmask(SIG_BLOCK, &block, nullptr);
}

} // namespace

int befehl_follow(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return hilfe();
    Optionen o;
    Filter filter;
    if (!argumente(argc, argv, &o)) {
        meldung("usage: vokt follow [-n N] [--where FILTER] [--show [--redact]] [DUMP | FOLDER] (vokt follow "
                "--help tells more)");
        return FEHLER;
    }
    if (o.filtertext != nullptr && !filter_uebersetzen("follow", o.filtertext, &filter))
        return FEHLER;
    std::string ordner = ordner_finden(o.ort);
    if (ordner.empty())
        return FEHLER;
    signale();
    Verfolgung v(o, filter, ordner);
    if (!v.starten())
        return FEHLER;
    v.laufen();
    return 0;
}
