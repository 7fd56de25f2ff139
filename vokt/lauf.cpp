#include "lauf.h"
#include "aufzeichnungsdatei.h"
#include "meldung.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vokt::intern;

namespace {

// Whether the program gets the entry of that name: what a web server sets
// for a CGI program, and what the caller asked for.
bool behalten(const Laufwahl &w, std::string_view name)
{
    if (w.alle_behalten || (w.lader_behalten && ist_ladervariable(name)))
        return true;
    for (std::string_view k : w.behalten)
        if (k == name)
            return true;
    return ist_servervariable(name) && !ist_ladervariable(name);
}

// The record's PATH entry as the program gets it: the search path that
// Debian's Apache gives its CGI programs, with a note when the record's
// differs.
std::string suchpfad(const char *datei, const std::string &e)
{
    std::string neu = "PATH=" + std::string(SUCHPFAD);
    if (e != neu)
        meldung(
            "%s: gave the program PATH=%s instead of the record's %s, a search path that the record chooses (--keep "
            "PATH keeps it)",
            datei, SUCHPFAD, sichtbar(e).c_str());
    return neu;
}

// The program's environment.  A record is data from the network (and an
// older one can hold forged entries): a name that no web server sets, such
// as BASH_ENV or PERL5OPT, would make the program run what a client wrote,
// and so would a search path of the record's.
std::vector<std::string> umgebung(const Laufwahl &w, const char *datei, const Aufzeichnung &a)
{
    std::vector<std::string> env;
    for (std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        if (behalten(w, name)) {
            env.push_back(std::move(e));
        } else if (name == "PATH") {
            env.push_back(suchpfad(datei, e));
        } else if (ist_umlenkvariable(name)) {
            std::string n = sichtbar(name);
            meldung("%s: left out %s, which a client's header sets and which HTTP libraries take for their proxy "
                    "(--keep %s keeps it)",
                    datei, n.c_str(), n.c_str());
        } else if (ist_ladervariable(name)) {
            meldung("%s: left out %s, which changes how a program is loaded (--keep-loader-variables keeps it)",
                    dateiname(datei).c_str(), sichtbar(name).c_str());
        } else {
            std::string n = sichtbar(name);
            meldung("%s: left out %s, which a web server does not set for a CGI program (--keep %s keeps it)",
                    dateiname(datei).c_str(), n.c_str(), n.c_str());
        }
    }
    return env;
}

bool ausfuehrbar(const std::string &pfad)
{
    struct stat st {};
    return stat(pfad.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(pfad.c_str(), X_OK) == 0;
}

// PROGRAM as the caller's shell would find it: a path when it holds a '/',
// else the first executable file of that name in the caller's PATH.
std::string programm_finden(const char *programm)
{
    if (std::strchr(programm, '/') != nullptr)
        return ausfuehrbar(programm) ? programm : "";
    const char *path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (;;) {
        std::size_t doppelpunkt = rest.find(':');
        std::string dir(rest.substr(0, doppelpunkt));
        std::string pfad = (dir.empty() ? std::string(".") : dir) + "/" + programm;
        if (*programm != '\0' && ausfuehrbar(pfad))
            return pfad;
        if (doppelpunkt == std::string_view::npos)
            return "";
        rest.remove_prefix(doppelpunkt + 1);
    }
}

// An unnamed temporary file that holds the body, read from its start.
int temporaer(int quelle, const Aufzeichnung &a)
{
    int fd = unbenannte_datei();
    if (fd >= 0 && (!kopieren(quelle, a, fd) || lseek(fd, 0, SEEK_SET) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

// A descriptor from which the body reads, followed by end of input: a pipe
// that holds it whole, or an unnamed temporary file for a larger body;
// either filled from the record file piece by piece.
int eingabe(int quelle, const Aufzeichnung &a)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    int platz = fcntl(fds[1], F_GETPIPE_SZ);
    if (platz > 0 && a.inhaltlaenge() <= static_cast<std::uint64_t>(platz)) {
        bool ok = kopieren(quelle, a, fds[1]);
        close(fds[1]);
        if (ok)
            return fds[0];
        close(fds[0]);
        return -1;
    }
    close(fds[0]);
    close(fds[1]);
    return temporaer(quelle, a);
}

// Makes fd the descriptor ziel of the program, open across execve.
void umlenken(int fd, int ziel)
{
    if (fd == ziel) {
        fcntl(fd, F_SETFD, 0);
        return;
    }
    dup2(fd, ziel);
    close(fd);
}

// The forked child: the body on standard input, its output into the
// pipes aus (when aus[0] is one), then the program; when execve fails, its
// errno goes to the parent through fehlerkanal.
[[noreturn]] void kindprozess(int ein, const int *aus, int fehlerkanal, const std::string &pfad, char **argv,
                              char **envp)
{
    umlenken(ein, 0);
    if (aus[0] >= 0) {
        umlenken(aus[0], 1);
        umlenken(aus[1], 2);
    }
    execve(pfad.c_str(), argv, envp);
    int fehler = errno;
    alles_schreiben(fehlerkanal, reinterpret_cast<const char *>(&fehler), sizeof fehler);
    _exit(127);
}

// What came from the pipe of descriptor i (1 the output, 2 standard
// error): counted, the output's start kept, passed on to ours as long as
// ours takes it.
void weitergeben(Mitschnitt &m, int i, const char *p, std::size_t n, bool *offen)
{
    if (i == 1) {
        std::size_t platz = m.anfang_hoechstens - std::min(m.anfang.size(), m.anfang_hoechstens);
        m.anfang.append(p, std::min(n, platz));
    }
    (i == 1 ? m.ausgabe : m.fehlerausgabe) += n;
    m.fehlerende = i == 2 && n > 0 ? p[n - 1] : m.fehlerende;
    *offen = *offen && alles_schreiben(i, p, n);
}

// Reads both pipes to their end (the program and whatever it started has
// closed them) and hands what comes on.
void mitschneiden(Mitschnitt &m, const int *lesen)
{
    static char puffer[64 * 1024];
    pollfd p[2] = {{lesen[0], POLLIN, 0}, {lesen[1], POLLIN, 0}};
    bool offen[2] = {m.weitergeben, m.weitergeben};
    while (p[0].fd >= 0 || p[1].fd >= 0) {
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || p[i].revents == 0)
                continue;
            ssize_t n = read(p[i].fd, puffer, sizeof puffer);
            if (n > 0) {
                weitergeben(m, i + 1, puffer, static_cast<std::size_t>(n), &offen[i]);
            } else if (n == 0 || errno != EINTR) {
                close(p[i].fd);
                p[i].fd = -1;
            }
        }
    }
    for (const pollfd &q : p)
        if (q.fd >= 0)
            close(q.fd);
}

int warten(pid_t pid, int *signal)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return FEHLER;
    }
    if (WIFSIGNALED(status)) {
        *signal = WTERMSIG(status);
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

// Two pipes for the program's output and standard error when they are
// passed through: lesen[] the read ends, aus[] the write ends; aus[0] -1
// when not.  False with errno set.
bool ausgaberohre(const Laufwahl &w, int *lesen, int *aus)
{
    int rohr[2][2];
    aus[0] = aus[1] = -1;
    if (w.mitschnitt == nullptr)
        return true;
    if (pipe2(rohr[0], O_CLOEXEC) != 0)
        return false;
    if (pipe2(rohr[1], O_CLOEXEC) != 0) {
        close(rohr[0][0]);
        close(rohr[0][1]);
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        lesen[i] = rohr[i][0];
        aus[i] = rohr[i][1];
    }
    return true;
}

// Starts the program with its environment and input, and waits for it.
int starten(const Laufwahl &w, const char *datei, const std::string &pfad, int ein, char **envp)
{
    int fehlerkanal[2], lesen[2] = {-1, -1}, aus[2];
    if (ein < 0 || !ausgaberohre(w, lesen, aus) || pipe2(fehlerkanal, O_CLOEXEC) != 0) {
        meldung("%s: cannot hand the body over: %s", dateiname(datei).c_str(), std::strerror(errno));
        return FEHLER;
    }
    pid_t pid = fork();
    if (pid < 0) {
        meldung("%s: cannot start %s: %s", dateiname(datei).c_str(), dateiname(w.programm[0]).c_str(),
                std::strerror(errno));
        return FEHLER;
    }
    if (pid == 0)
        kindprozess(ein, aus, fehlerkanal[1], pfad, w.programm, envp);
    close(ein);
    close(fehlerkanal[1]);
    // Ctrl-C reaches the program; its status is then ours to pass on.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    int fehler = 0;
    ssize_t n;
    while ((n = read(fehlerkanal[0], &fehler, sizeof fehler)) < 0 && errno == EINTR) {
    }
    close(fehlerkanal[0]);
    Mitschnitt leer;
    Mitschnitt &m = w.mitschnitt != nullptr ? *w.mitschnitt : leer;
    if (w.mitschnitt != nullptr) {
        // A reader of our output that went away ends the passing on, not us.
        std::signal(SIGPIPE, SIG_IGN);
        close(aus[0]);
        close(aus[1]);
        mitschneiden(m, lesen);
    }
    int status = warten(pid, &m.signal);
    if (n == static_cast<ssize_t>(sizeof fehler)) {
        meldung("%s: cannot run: %s (record %s)", dateiname(w.programm[0]).c_str(), std::strerror(fehler),
                dateiname(datei).c_str());
        return FEHLER;
    }
    m.gelaufen = true;
    return status;
}

} // namespace

int laufen(const Laufwahl &w, const char *datei, int quelle, const Aufzeichnung &a)
{
    std::string pfad = programm_finden(w.programm[0]);
    if (pfad.empty()) {
        meldung("%s: program not found or not executable (record %s)", dateiname(w.programm[0]).c_str(),
                dateiname(datei).c_str());
        return FEHLER;
    }
    lesehinweise(datei, w.urschrift != nullptr ? *w.urschrift : a);
    std::vector<std::string> env = umgebung(w, datei, a);
    std::vector<char *> envp;
    envp.reserve(env.size() + 1);
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    return starten(w, datei, pfad, eingabe(quelle, a), envp.data());
}
