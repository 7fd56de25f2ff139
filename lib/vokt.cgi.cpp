// vokt.cgi: answers every request with a page that shows everything the
// request delivered, and records the raw request in a dump file.
#include "cgiausg.h"
#include "cgivar.h"
#include "varmap.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

Varmap tab;

namespace {

// A harmless descriptor at fd, which is the lowest free number: /dev/null,
// or where there is none (a chroot without /dev) an end of a pipe whose
// other end is closed, so reads see the end and writes fail.
bool fuelle(int fd)
{
    if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) == fd)
        return true;
    int rohr[2];
    if (pipe(rohr) != 0 || rohr[0] != fd)
        return false;
    if (fd != 0 && dup2(rohr[1], fd) != fd)
        return false;
    close(rohr[1]);
    return true;
}

// A closed standard descriptor would be handed to the dump file and the
// page would land in it: such a descriptor is filled with a harmless one.
// True when standard output was closed, so the page cannot be delivered.
// When not even that works the process ends before it opens any file.
bool oeffne_standardkanaele()
{
    bool ohne_ausgabe = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0)
            continue;
        if (!fuelle(fd))
            _exit(1);
        ohne_ausgabe = ohne_ausgabe || fd == 1;
    }
    return ohne_ausgabe;
}

void argumente(char **argv)
{
    if (argv[0] == nullptr || argv[1] == nullptr)
        return;
    std::fputs("<H2>Die Argumente</H2>\n", stdout);
    for (char **a = argv + 1; *a != nullptr; ++a) {
        html_text(*a);
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
}

} // namespace

int main(int, char **argv, char **env)
{
    // A client that goes away must not cost the dump: writes to a closed
    // pipe fail instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    bool ohne_ausgabe = oeffne_standardkanaele();
    // A file size limit must not kill the process in the middle of the
    // page: the write to the dump fails instead and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    // Large page writes: a big body's echo in few system calls.
    static char seite[64 * 1024];
    std::setvbuf(stdout, seite, _IOFBF, sizeof seite);
    int aufgezeichnet = getcgienv(&tab, env, GCV_DUMP | GCV_DEBUGALL);
    argumente(argv);
    std::fputs("<H2>Die Liste der Variablen</H2>\n", stdout);
    probeausgabe(&tab);
    bool geliefert = std::fflush(stdout) == 0 && !std::ferror(stdout);
    return geliefert && !ohne_ausgabe && aufgezeichnet == 0 ? 0 : 1;
}
