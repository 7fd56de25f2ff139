#include "gelandet.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>

Schreiber schreiber(int fd)
{
    // A lease is broken by another process opening the file for writing:
    // the kernel then sends SIGIO, whose default ends the program.  The
    // lease is given back at once, so nothing waits on it.
    std::signal(SIGIO, SIG_IGN);
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return Schreiber::KEINER;
    }
    return errno == EAGAIN ? Schreiber::OFFEN : Schreiber::UNKLAR;
}

bool gelandet(const Beobachtung &b)
{
    switch (b.schreiber) {
    case Schreiber::KEINER: return true;
    case Schreiber::OFFEN: return false;
    case Schreiber::UNKLAR: break;
    }
    return b.geschlossen || b.ganz || b.still_ms >= STILL_MS;
}

bool ganz_angesagt(const vokt::intern::Aufzeichnung &a)
{
    return a.mit_laenge() && a.wert("CONTENT_LENGTH").has_value() && !a.wert("HTTP_TRANSFER_ENCODING").has_value() &&
           a.angesagt() >= 0 && a.inhaltlaenge() == static_cast<std::uint64_t>(a.angesagt());
}
