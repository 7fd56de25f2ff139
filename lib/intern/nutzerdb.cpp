#include "nutzerdb.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vokt::intern {

namespace {

const char NSSWITCH[] = "/etc/nsswitch.conf";
const char PASSWD[] = "/etc/passwd";
const char GETENT[] = "/usr/bin/getent";

// What getent may take before it is stopped and the lookup fails.
const long GETENT_MS = 2000;
const std::size_t GETENT_BYTES = 64 * 1024;

// What the passwd line of nsswitch.conf asks for.
struct Quellen {
    bool dateien_zuerst = true; // `files` is the first source
    bool weitere = false;       // a source is asked after `files`
};

// getent decides: the first source is not files, there is none, or the
// file does not parse (then glibc fails every lookup, and so does getent).
const Quellen GETENT_ENTSCHEIDET = {false, false};

// The databases glibc knows; lines naming others are skipped unread.
const char *const DATENBANKEN[] = {"aliases",    "ethers",   "group",    "group_compat", "gshadow",       "hosts",
                                   "initgroups", "netgroup", "networks", "passwd",       "passwd_compat", "protocols",
                                   "publickey",  "rpc",      "services", "shadow",       "shadow_compat"};

// isspace in the C locale, which glibc's parsers use.
bool leer(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

const char *ueber_leer(const char *p)
{
    while (leer(*p))
        ++p;
    return p;
}

bool ist(const char *wort, std::size_t n, const char *name)
{
    return std::strlen(name) == n && strncasecmp(wort, name, n) == 0;
}

// The next word of a criterion: up to a blank, '=' or ']'.
std::size_t kriteriumswort(const char *&p)
{
    const char *start = p;
    while (*p != '\0' && !leer(*p) && *p != '=' && *p != ']')
        ++p;
    return static_cast<std::size_t>(p - start);
}

// One "STATUS=action" (or "!STATUS=action") in brackets after a source;
// false when glibc rejects it.  *zurueck: whether NOTFOUND now returns.
bool lies_kriterium(const char *&p, bool *zurueck)
{
    bool ausser = *p == '!'; // every status but this one
    if (ausser)
        ++p;
    const char *status = p;
    std::size_t n = kriteriumswort(p);
    bool notfound = ist(status, n, "NOTFOUND");
    if (!notfound && !ist(status, n, "SUCCESS") && !ist(status, n, "UNAVAIL") && !ist(status, n, "TRYAGAIN"))
        return false;
    p = ueber_leer(p);
    if (*p != '=')
        return false;
    p = ueber_leer(p + 1);
    const char *aktion = p;
    n = kriteriumswort(p);
    bool ret = ist(aktion, n, "RETURN");
    if (!ret && !ist(aktion, n, "CONTINUE") && !ist(aktion, n, "MERGE"))
        return false;
    if (notfound != ausser)
        *zurueck = ret;
    p = ueber_leer(p);
    return true;
}

// "[...]" after a source, p on the '['.
bool lies_klammer(const char *&p, bool *zurueck)
{
    p = ueber_leer(p + 1);
    do {
        if (!lies_kriterium(p, zurueck))
            return false;
    } while (*p != ']');
    ++p;
    return true;
}

// The sources of one line, from the text after the database's name;
// false when they do not parse.  "[NOTFOUND=return]" after files: the
// other sources are asked only when files is unavailable, which reading
// it here reports.
bool lies_quellen(const char *p, Quellen *q)
{
    int anzahl = 0;
    bool zurueck = false; // the first source returns on NOTFOUND
    for (;; ++anzahl) {
        p = ueber_leer(p);
        const char *name = p;
        while (*p != '\0' && !leer(*p) && *p != '[')
            ++p;
        if (p == name)
            break;
        if (anzahl == 0)
            q->dateien_zuerst = p - name == 5 && std::strncmp(name, "files", 5) == 0;
        p = ueber_leer(p);
        bool nf = false;
        if (*p == '[' && !lies_klammer(p, &nf))
            return false;
        zurueck = anzahl == 0 ? nf : zurueck;
    }
    if (anzahl == 0)
        *q = GETENT_ENTSCHEIDET; // no source at all: getent finds nobody
    q->weitere = q->dateien_zuerst && anzahl > 1 && !zurueck;
    return true;
}

bool ist_datenbank(const char *name, std::size_t n)
{
    for (const char *d : DATENBANKEN)
        if (std::strlen(d) == n && std::strncmp(name, d, n) == 0)
            return true;
    return false;
}

// One line as glibc reads it: blanks, a database name, blanks and colons,
// its sources.  A passwd line sets *q; false when the sources of a known
// database do not parse.
bool lies_zeile(const char *zeile, Quellen *q)
{
    const char *p = ueber_leer(zeile);
    const char *name = p;
    while (*p != '\0' && !leer(*p) && *p != ':')
        ++p;
    auto n = static_cast<std::size_t>(p - name);
    if (*p == '\0' || n == 0 || !ist_datenbank(name, n))
        return true;
    while (leer(*p) || *p == ':')
        ++p;
    Quellen neu;
    if (!lies_quellen(p, &neu))
        return false;
    if (n == 6 && std::strncmp(name, "passwd", 6) == 0)
        *q = neu; // the last passwd line counts
    return true;
}

// Lines of any length; like glibc, a last line without its newline is
// not read, and there are no comments but lines naming no database.
Quellen quellen()
{
    Quellen q;
    FILE *f = std::fopen(NSSWITCH, "re");
    if (f == nullptr)
        return q; // without the file glibc asks files alone
    char *zeile = nullptr;
    std::size_t platz = 0;
    ssize_t n = 0;
    while ((n = getline(&zeile, &platz, f)) > 0 && zeile[n - 1] == '\n') {
        if (!lies_zeile(zeile, &q)) {
            q = GETENT_ENTSCHEIDET;
            break;
        }
    }
    if (std::ferror(f))
        q = GETENT_ENTSCHEIDET;
    std::free(zeile);
    std::fclose(f);
    return q;
}

// Past the next ':' of a passwd line, or at its end.
const char *nach_feld(const char *p)
{
    while (*p != '\0' && *p != ':')
        ++p;
    return *p == ':' ? p + 1 : p;
}

// A numeric field as glibc reads it: strtoul's number (blanks and a sign
// before it allowed), ending at ':' or the line's end, within 32 bits.
bool zahl_feld(const char *&p, unsigned long *wert)
{
    char *ende = nullptr;
    int gerettet = errno;
    *wert = std::strtoul(p, &ende, 10);
    errno = gerettet;
    if (ende == p || (*ende != ':' && *ende != '\0') || *wert > 0xffffffffUL)
        return false;
    p = nach_feld(ende);
    return true;
}

// One /etc/passwd line as glibc's files backend reads it for a uid
// lookup: leading blanks, blank and '#' lines, lines that do not parse
// and the '+' and '-' lines of compat are skipped.  The home's start and
// length when the uid is uid's.
bool passt(char *zeile, uid_t uid, const char **heim, std::size_t *laenge)
{
    zeile[std::strcspn(zeile, "\n")] = '\0';
    const char *p = ueber_leer(zeile);
    if (*p == '\0' || *p == '#' || *p == '+' || *p == '-')
        return false;
    p = nach_feld(nach_feld(p)); // name, password
    unsigned long nutzer = 0;
    unsigned long gruppe = 0;
    if (!zahl_feld(p, &nutzer) || !zahl_feld(p, &gruppe) || nutzer != uid)
        return false;
    *heim = nach_feld(p); // past the gecos field
    *laenge = std::strcspn(*heim, ":");
    return true;
}

// uid's home from /etc/passwd, read line by line in time linear in the
// file (fgetpwent takes time quadratic in a line's length); the first
// line of the uid counts.
char *aus_passwd(uid_t uid, int *fehlernummer)
{
    FILE *f = std::fopen(PASSWD, "re");
    if (f == nullptr) {
        *fehlernummer = errno;
        return nullptr;
    }
    char *zeile = nullptr;
    std::size_t platz = 0;
    const char *heim = nullptr;
    std::size_t laenge = 0;
    while (getline(&zeile, &platz, f) > 0 && !passt(zeile, uid, &heim, &laenge)) {
    }
    char *home = nullptr;
    if (heim != nullptr && (home = strndup(heim, laenge)) == nullptr)
        *fehlernummer = ENOMEM;
    else if (heim == nullptr && std::ferror(f))
        *fehlernummer = errno == ENOMEM ? ENOMEM : EIO;
    std::free(zeile);
    std::fclose(f);
    return home;
}

// The sixth field of a passwd line, as a copy.
char *heim_aus_zeile(const char *zeile)
{
    const char *p = zeile;
    for (int feld = 0; feld < 5; ++feld) {
        p = std::strchr(p, ':');
        if (p == nullptr)
            return nullptr;
        ++p;
    }
    return strndup(p, std::strcspn(p, ":\n"));
}

// While getent runs: its process group, for the handler of the signals
// that end this process, and the dispositions the program had for them.
const int ENDSIGNALE[] = {SIGTERM, SIGHUP, SIGINT};
volatile sig_atomic_t laufende_gruppe = 0;
struct sigaction vorherige[3];

// Kills getent's group, then hands the signal on to the program's own
// disposition: by default it ends the process when this handler returns.
// Async-signal-safe calls only.
extern "C" {
static void beim_ende(int sig)
{
    int gerettet = errno;
    if (laufende_gruppe > 0)
        kill(-laufende_gruppe, SIGKILL);
    for (std::size_t i = 0; i < 3; ++i)
        if (ENDSIGNALE[i] == sig)
            sigaction(sig, &vorherige[i], nullptr);
    raise(sig);
    errno = gerettet;
}
} // extern "C"

sigset_t endsignale()
{
    sigset_t s;
    sigemptyset(&s);
    for (int sig : ENDSIGNALE)
        sigaddset(&s, sig);
    return s;
}

// Blocks the ending signals (*maske: the mask before) and gives those
// the program does not ignore the handler.
void wache_aufstellen(sigset_t *maske)
{
    sigset_t s = endsignale();
    sigprocmask(SIG_BLOCK, &s, maske);
    struct sigaction neu {};
    neu.sa_handler = beim_ende;
    neu.sa_mask = s;
    for (std::size_t i = 0; i < 3; ++i) {
        sigaction(ENDSIGNALE[i], nullptr, &vorherige[i]);
        if (vorherige[i].sa_handler != SIG_IGN)
            sigaction(ENDSIGNALE[i], &neu, nullptr);
    }
}

void wache_abbauen()
{
    for (std::size_t i = 0; i < 3; ++i)
        if (vorherige[i].sa_handler != SIG_IGN)
            sigaction(ENDSIGNALE[i], &vorherige[i], nullptr);
}

// What the warden and getent need, made before the fork: they may only
// make async-signal-safe calls.
struct Auftrag {
    int aus = -1;     // write end of the output pipe
    int meldung = -1; // write end of the report pipe
    int nichts = -1;  // /dev/null
    int lesen = -1;   // the read ends, which this process keeps
    int melde_lesen = -1;
    sigset_t maske{}; // the program's signal mask
    char *argv[4] = {};
};

// The descriptors as the warden keeps them: above the standard ones, which
// may have been closed, and closed by exec.
struct Enden {
    int aus = -1;
    int meldung = -1;
    pid_t waechter = 0;
};

void schreibe_wort(int fd, int wort)
{
    while (write(fd, &wort, sizeof wort) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void scheitern(int meldung)
{
    schreibe_wort(meldung, errno);
    _exit(127);
}

// In getent's process, a child of the warden in its process group: dies
// with the warden; standard input and error /dev/null (the warden's), the
// output on the pipe; an exec that fails reports its error.
[[noreturn]] void kind(const Auftrag &a, const Enden &e)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != e.waechter)
        _exit(127); // the warden died before the line above
    if (dup2(e.aus, 1) < 0)
        scheitern(e.meldung);
    char *envp[] = {nullptr};
    execve(GETENT, a.argv, envp);
    scheitern(e.meldung);
}

// Whether this process's parent has gone: nobody reads the report pipe.
bool eltern_fort(int meldung)
{
    pollfd p{meldung, POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

// The warden's descriptors, or false: the report pipe's and the output's
// write ends above the standard ones (their old numbers closed), /dev/null
// on 0, 1 and 2 (it never holds the page's), every other descriptor closed
// by getent's exec.
bool enden_legen(const Auftrag &a, Enden *e)
{
    e->meldung = fcntl(a.meldung, F_DUPFD_CLOEXEC, 3);
    e->aus = fcntl(a.aus, F_DUPFD_CLOEXEC, 3);
    int nichts = fcntl(a.nichts, F_DUPFD_CLOEXEC, 3);
    if (e->meldung < 0 || e->aus < 0 || nichts < 0)
        return false;
    for (int fd = 0; fd < 3; ++fd)
        if (dup2(nichts, fd) < 0)
            return false;
    const int alte[] = {nichts, a.meldung, a.aus, a.nichts};
    for (int fd : alte)
        if (fd > 2)
            close(fd); // the pipes end when getent and the warden close them
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    return true;
}

// The warden: the parent of getent, in a process group of its own, and
// where one could be made the first process of a pid namespace of its own,
// whose end the kernel makes the end of every process in it.  It reports
// getent's wait status when getent ends (after its exec error, if any) and
// waits to be killed; it dies with this process.
[[noreturn]] void waechter(const Auftrag &a)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    close(a.lesen);
    close(a.melde_lesen);
    Enden e;
    if (eltern_fort(a.meldung) || !enden_legen(a, &e))
        _exit(127);
    for (std::size_t i = 0; i < 3; ++i)
        sigaction(ENDSIGNALE[i], &vorherige[i], nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &standard, nullptr); // getent's status is waited for
    sigprocmask(SIG_SETMASK, &a.maske, nullptr);
    e.waechter = getpid();
    pid_t pid = fork();
    if (pid == 0)
        kind(a, e);
    close(e.aus);
    int status = 127 << 8;
    if (pid < 0)
        schreibe_wort(e.meldung, errno);
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    schreibe_wort(e.meldung, status);
    close(e.meldung);
    for (;;)
        pause();
}

// fork() into new namespaces of the kinds art: the child goes on from here
// on a copy of this stack, as after fork (a stack of its own would puzzle
// the sanitizers).  Only the warden runs in it, which needs no more of the
// C library than a forked child does.
pid_t klone(int art)
{
#if defined(__s390__)
    long pid = syscall(SYS_clone, 0L, static_cast<long>(art | SIGCHLD), 0L, 0L, 0L); // stack first
#else
    long pid = syscall(SYS_clone, static_cast<long>(art | SIGCHLD), 0L, 0L, 0L, 0L);
#endif
    return static_cast<pid_t>(pid);
}

// The warden started in a new pid namespace where the kernel lets this
// process make one (with CAP_SYS_ADMIN; else within a new user namespace,
// where those are allowed), else forked: its pid, or -1.
pid_t abspalten(const Auftrag &a)
{
    const int ARTEN[] = {CLONE_NEWPID, CLONE_NEWUSER | CLONE_NEWPID};
    pid_t pid = -1;
    for (std::size_t i = 0; i < 2 && pid < 0; ++i)
        pid = klone(ARTEN[i]);
    if (pid < 0)
        pid = fork();
    if (pid == 0)
        waechter(a);
    return pid;
}

void schliesse(int fd)
{
    if (fd >= 0)
        close(fd);
}

// Starts the warden with the ending signals blocked; its pid (its group's
// id too), or -1.  *lesen, *meldung: the read ends of the pipes.
pid_t starte_waechter(Auftrag &a, int *lesen, int *meldung, int *fehlernummer)
{
    int aus[2] = {-1, -1};
    int melde[2] = {-1, -1};
    a.nichts = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t pid = -1;
    if (a.nichts >= 0 && pipe2(aus, O_CLOEXEC) == 0 && pipe2(melde, O_CLOEXEC) == 0) {
        a.aus = aus[1];
        a.meldung = melde[1];
        a.lesen = aus[0];
        a.melde_lesen = melde[0];
        pid = abspalten(a);
    }
    if (pid < 0)
        *fehlernummer = errno;
    else
        setpgid(pid, pid); // before anyone signals the group, whichever runs first
    schliesse(a.nichts);
    schliesse(aus[1]);
    schliesse(melde[1]);
    *lesen = aus[0];
    *meldung = melde[0];
    return pid;
}

long jetzt_ms()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// One read of fd by the deadline: a count, 0 at the end, or -1 with
// ETIMEDOUT past the deadline or the read's error.
ssize_t lies_bis(int fd, void *ziel, std::size_t n, long frist)
{
    for (;;) {
        long rest = frist - jetzt_ms();
        if (rest <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd p{fd, POLLIN, 0};
        int bereit = poll(&p, 1, static_cast<int>(rest));
        if (bereit < 0 && errno != EINTR)
            return -1;
        if (bereit <= 0)
            continue; // interrupted, or the deadline passed
        ssize_t r = read(fd, ziel, n);
        if (r >= 0 || (errno != EINTR && errno != EAGAIN))
            return r;
    }
}

// Reads getent's output to its end into text (GETENT_BYTES + 2 bytes):
// 0, ETIMEDOUT past the deadline, EFBIG past the limit.
int lies_antwort(int fd, char *text, long frist)
{
    std::size_t voll = 0;
    text[0] = '\0';
    for (;;) {
        ssize_t n = lies_bis(fd, text + voll, GETENT_BYTES + 1 - voll, frist);
        if (n <= 0)
            return n == 0 ? 0 : errno;
        voll += static_cast<std::size_t>(n);
        text[voll] = '\0';
        if (voll > GETENT_BYTES)
            return EFBIG;
    }
}

// The warden's report by the deadline: 0 and getent's wait status, the
// error of getent's failed exec, ETIMEDOUT while getent runs, EIO when the
// warden died without one.
int lies_bericht(int fd, long frist, int *status)
{
    int wort[2] = {0, 0};
    std::size_t voll = 0;
    ssize_t n = 0;
    while (voll < sizeof wort &&
           (n = lies_bis(fd, reinterpret_cast<char *>(wort) + voll, sizeof wort - voll, frist)) > 0)
        voll += static_cast<std::size_t>(n);
    if (n < 0)
        return errno;
    if (voll == sizeof wort)
        return wort[0] != 0 ? wort[0] : EIO;
    if (voll != sizeof wort[0])
        return EIO;
    *status = wort[0];
    return 0;
}

// Kills the warden with all it started, takes the handler away, and reaps
// the warden (in a pid namespace of its own, only once all in it ended).
void beende(pid_t pid)
{
    kill(-pid, SIGKILL);
    laufende_gruppe = 0;
    wache_abbauen();
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Runs getent within its bounds: 0 and its wait status in *status, or
// the error that ended the lookup.
int frage_getent(uid_t uid, char *text, int *status)
{
    char nummer[24];
    std::snprintf(nummer, sizeof nummer, "%u", static_cast<unsigned>(uid));
    Auftrag a;
    a.argv[0] = const_cast<char *>("getent");
    a.argv[1] = const_cast<char *>("passwd");
    a.argv[2] = nummer;
    int lesen = -1;
    int meldung = -1;
    int fehler = 0;
    wache_aufstellen(&a.maske);
    pid_t pid = starte_waechter(a, &lesen, &meldung, &fehler);
    if (pid > 0)
        laufende_gruppe = pid;
    sigprocmask(SIG_SETMASK, &a.maske, nullptr); // a signal that came meanwhile is handled here
    if (pid > 0) {
        long frist = jetzt_ms() + GETENT_MS;
        fehler = lies_antwort(lesen, text, frist);
        if (fehler == 0)
            fehler = lies_bericht(meldung, frist, status);
        beende(pid);
    } else {
        wache_abbauen();
    }
    schliesse(lesen);
    schliesse(meldung);
    return fehler;
}

// getent's answer: 0 found, 2 no such account, anything else an error.
char *aus_getent(uid_t uid, int *fehlernummer)
{
    auto *text = static_cast<char *>(std::malloc(GETENT_BYTES + 2));
    if (text == nullptr) {
        *fehlernummer = ENOMEM;
        return nullptr;
    }
    int status = 0;
    int fehler = frage_getent(uid, text, &status);
    char *home = nullptr;
    if (fehler != 0)
        *fehlernummer = fehler;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        home = heim_aus_zeile(text);
    if (fehler == 0 && home == nullptr && !(WIFEXITED(status) && WEXITSTATUS(status) == 2))
        *fehlernummer = EIO;
    std::free(text);
    return home;
}

} // namespace

char *heimverzeichnis(uid_t uid, int *fehlernummer)
{
    *fehlernummer = 0;
    Quellen q = quellen();
    if (!q.dateien_zuerst)
        return aus_getent(uid, fehlernummer);
    char *home = aus_passwd(uid, fehlernummer);
    if (home == nullptr && *fehlernummer == 0 && q.weitere)
        home = aus_getent(uid, fehlernummer);
    return home;
}

} // namespace vokt::intern
