// vokt-replay: replays a request that vokt.cgi recorded in its dump file,
// into any CGI program as a web server would have started it, or as a curl
// command that sends it to a web server again.
#include "curlbefehl.h"
#include "intern/aufzeichnung.h"
#include "shellwort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

const char USAGE[] =
    "usage: vokt-replay [--keep NAME]... [--keep-all] [--keep-loader-variables] DUMPFILE [--] PROGRAM [ARG...]\n"
    "       vokt-replay --body DUMPFILE\n"
    "       vokt-replay --curl DUMPFILE [--url BASE] [--body-file FILE]\n"
    "\n"
    "Replays a request that vokt.cgi recorded in DUMPFILE (a regular file).\n"
    "  PROGRAM   run it as a web server would have run it for that request: the\n"
    "            recorded entries are its environment, the recorded body is its\n"
    "            standard input; its output and exit status pass through.  Only\n"
    "            the variables a web server sets for a CGI program are passed (the\n"
    "            CGI ones, HTTP_*, SERVER_*, REMOTE_*, SSL_*, REDIRECT_*, CONTEXT_*,\n"
    "            REQUEST_URI, DOCUMENT_ROOT, PATH and the like); every other entry\n"
    "            (BASH_ENV, PERL5OPT, LD_PRELOAD, ...) is left out with a note.\n"
    "  --keep NAME  passes the entry NAME too (repeatable); --keep-all passes\n"
    "            every entry; --keep-loader-variables passes the entries that\n"
    "            change how a program is loaded (LD_*, MALLOC_*, GCONV_PATH, ...).\n"
    "  --body    write the recorded body, raw, to standard output.\n"
    "  --curl    print one shell command that sends the request again with curl,\n"
    "            to BASE (scheme://host:port) or to the recorded host.  A body of\n"
    "            up to 64 KiB is part of the command (printf 'BYTES' | curl ...);\n"
    "            a larger one is refused unless --body-file FILE is given.\n"
    "  --body-file FILE  write the body to FILE, a new file of mode 0600 (an\n"
    "            existing FILE is never overwritten), and let the command send\n"
    "            it from there, whatever its size.\n";

// Exit status of every error of the call or the record: nothing was run.
constexpr int FEHLER = 2;
// The largest body that the printed curl command holds itself.
constexpr std::uint64_t IM_BEFEHL_HOECHSTENS = 64 * 1024;

enum class Art { LAUFEN, INHALT, CURL };

struct Aufruf {
    Art art = Art::LAUFEN;
    const char *datei = nullptr;
    const char *url = nullptr;
    const char *inhaltsdatei = nullptr;     // --body-file
    std::vector<std::string_view> behalten; // --keep
    bool alle_behalten = false;
    bool lader_behalten = false;
    char **programm = nullptr; // PROGRAM and its arguments, null-ended
};

__attribute__((format(printf, 1, 2))) void meldung(const char *format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    // The analyzer does not follow va_start into a variadic function that
    // it inlines into a caller: a known false finding.
    std::vsnprintf(text, sizeof text, format, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    std::fprintf(stderr, "vokt-replay: %s\n", text);
}

// Text from a record for a note: printable ASCII as it is, every other
// byte as \xHH, so that a note stays one line and sends nothing to the
// terminal; at most 64 bytes of it, then "...".
std::string sichtbar(std::string_view text)
{
    std::string erg;
    for (std::size_t i = 0; i < text.size() && i < 64; ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", b);
        erg += b >= 0x20 && b < 0x7F && b != '\\' ? std::string(1, text[i]) : std::string(hex);
    }
    return text.size() > 64 ? erg + "..." : erg;
}

// The argument of the option at argv[i]; null, with a message, when none follows.
const char *argument(int argc, char **argv, int &i, const char *was)
{
    if (i + 1 >= argc) {
        meldung("%s needs %s", argv[i], was);
        return nullptr;
    }
    return argv[++i];
}

bool option(Aufruf &a, int argc, char **argv, int &i)
{
    std::string_view o = argv[i];
    if (o == "--keep-loader-variables" || o == "--keep-all") {
        (o == "--keep-all" ? a.alle_behalten : a.lader_behalten) = true;
    } else if (o == "--keep") {
        const char *name = argument(argc, argv, i, "a NAME");
        if (name == nullptr)
            return false;
        a.behalten.emplace_back(name);
    } else if (o == "--body" || o == "--curl") {
        if (a.art != Art::LAUFEN) {
            meldung("--body and --curl exclude each other");
            return false;
        }
        a.art = o == "--body" ? Art::INHALT : Art::CURL;
    } else if (o == "--url" || o == "--body-file") {
        const char *w = argument(argc, argv, i, o == "--url" ? "a BASE (scheme://host:port)" : "a FILE");
        if (w == nullptr)
            return false;
        (o == "--url" ? a.url : a.inhaltsdatei) = w;
    } else {
        meldung("unknown option %s (--help shows the usage)", argv[i]);
        return false;
    }
    return true;
}

// Which options go with which way of replaying.
bool passend(const Aufruf &a)
{
    if ((a.url != nullptr || a.inhaltsdatei != nullptr) && a.art != Art::CURL) {
        meldung("%s belongs to --curl", a.url != nullptr ? "--url" : "--body-file");
        return false;
    }
    bool behalten = a.alle_behalten || a.lader_behalten || !a.behalten.empty();
    if (behalten && a.art != Art::LAUFEN) {
        meldung("--keep, --keep-all and --keep-loader-variables belong to running a PROGRAM");
        return false;
    }
    if (a.art == Art::LAUFEN && a.programm == nullptr) {
        meldung("%s: no PROGRAM given to run", a.datei);
        return false;
    }
    if (a.art != Art::LAUFEN && a.programm != nullptr) {
        meldung("unexpected argument %s", a.programm[0]);
        return false;
    }
    return true;
}

// Options stand before PROGRAM; everything from PROGRAM on is its own.
bool argumente(Aufruf &a, int argc, char **argv)
{
    int i = 1;
    for (; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            if (a.datei == nullptr && i < argc)
                a.datei = argv[i++];
            break;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            if (!option(a, argc, argv, i))
                return false;
        } else if (a.datei == nullptr) {
            a.datei = argv[i];
        } else {
            break;
        }
    }
    if (i < argc)
        a.programm = argv + i;
    if (a.datei == nullptr) {
        meldung("no DUMPFILE given (--help shows the usage)");
        return false;
    }
    return passend(a);
}

// Opens the record without waiting (a FIFO would block until a writer
// came) and refuses anything but a regular file: a FIFO or a device such
// as /dev/zero never ends.  The descriptor, or -1 after a message.
int oeffnen(const char *datei, std::uint64_t *groesse)
{
    int fd = open(datei, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        meldung("%s: %s", datei, std::strerror(errno));
    } else if (S_ISDIR(st.st_mode)) {
        meldung("%s: %s", datei, std::strerror(EISDIR));
    } else if (!S_ISREG(st.st_mode)) {
        meldung("%s: not a regular file (a FIFO, a device or a socket): refused", datei);
    } else {
        *groesse = static_cast<std::uint64_t>(st.st_size);
        return fd;
    }
    if (fd >= 0)
        close(fd);
    return -1;
}

// The record's entries part, read into a; its body stays in the file,
// whose descriptor is returned (-1 after a message).
int laden(const char *datei, Aufzeichnung &a)
{
    std::uint64_t groesse = 0;
    int fd = oeffnen(datei, &groesse);
    if (fd < 0)
        return -1;
    switch (a.kopf_lesen(fd, groesse)) {
    case Aufzeichnung::GELESEN: return fd;
    case Aufzeichnung::FEHLER: meldung("%s: %s", datei, std::strerror(errno)); break;
    case Aufzeichnung::KEIN_DUMP: meldung("%s: no record (no line with '=' before the '*' line)", datei); break;
    case Aufzeichnung::ZU_GROSS:
        meldung("%s: no record (no '*' line within its first %zu MiB)", datei, KOPF_HOECHSTENS >> 20);
        break;
    }
    close(fd);
    return -1;
}

// What the reader noticed about the record, on standard error.
void hinweise(const char *datei, const Aufzeichnung &a)
{
    if (a.alte_regel())
        meldung("%s: lines without '=' were read as parts of the entry before them (a record of an older "
                "vokt.cgi; such a record's lines can be forged)",
                datei);
    for (const std::string &name : a.doppelt())
        meldung("%s: %s appears more than once; the replay uses the last one", datei, sichtbar(name).c_str());
    if (a.mit_nullbyte() > 0)
        meldung("%s: %zu entries hold a zero byte and are cut there", datei, a.mit_nullbyte());
    if (!a.mit_laenge()) {
        meldung("%s: no '*' line (the request was refused before its body was read): no body", datei);
        return;
    }
    long long soll = a.angesagt() < 0 ? 0 : a.angesagt();
    auto hat = static_cast<long long>(a.inhaltlaenge());
    if (hat < soll)
        meldung("%s: the body arrived short: %lld of %lld announced bytes", datei, hat, soll);
    else if (hat > soll)
        meldung("%s: the body has %lld bytes, more than the %lld announced (a chunked upload?)", datei, hat, soll);
}

// ---- the body, from the record file ----------------------------------------

bool alles_schreiben(int fd, const char *p, std::size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Up to n bytes of the file at offset ab: how many came, 0 with errno
// ENODATA when the file ends there (it got shorter while it was read), -1
// with errno set when reading failed.
ssize_t lesen_bei(int fd, char *puffer, std::size_t n, std::uint64_t ab)
{
    ssize_t r;
    while ((r = pread(fd, puffer, n, static_cast<off_t>(ab))) < 0 && errno == EINTR) {
    }
    if (r == 0)
        errno = ENODATA;
    return r;
}

// Copies the body from the record file to ziel in pieces of 64 KiB, so the
// memory it takes does not grow with the body.  False with errno set.
bool kopieren(int quelle, const Aufzeichnung &a, int ziel)
{
    static char puffer[64 * 1024];
    std::uint64_t ab = a.inhalt_ab();
    for (std::uint64_t rest = a.inhaltlaenge(); rest > 0;) {
        ssize_t n =
            lesen_bei(quelle, puffer, static_cast<std::size_t>(std::min<std::uint64_t>(rest, sizeof puffer)), ab);
        if (n <= 0 || !alles_schreiben(ziel, puffer, static_cast<std::size_t>(n)))
            return false;
        ab += static_cast<std::uint64_t>(n);
        rest -= static_cast<std::uint64_t>(n);
    }
    return true;
}

int inhalt_ausgeben(const Aufruf &auf, int quelle, const Aufzeichnung &a)
{
    if (!kopieren(quelle, a, 1)) {
        meldung("%s: copying the body: %s", auf.datei, std::strerror(errno));
        return 1;
    }
    return 0;
}

// ---- run mode -------------------------------------------------------------

// Whether the program gets the entry of that name: what a web server sets
// for a CGI program, and what the caller asked for.
bool behalten(const Aufruf &auf, std::string_view name)
{
    if (auf.alle_behalten || (auf.lader_behalten && ist_ladervariable(name)))
        return true;
    for (std::string_view k : auf.behalten)
        if (k == name)
            return true;
    return ist_servervariable(name) && !ist_ladervariable(name);
}

// The program's environment.  A record is data from the network (and an
// older one can hold forged entries): a name that no web server sets, such
// as BASH_ENV or PERL5OPT, would make the program run what a client wrote.
std::vector<std::string> umgebung(const Aufruf &auf, const Aufzeichnung &a)
{
    std::vector<std::string> env;
    for (std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        if (behalten(auf, name)) {
            env.push_back(std::move(e));
        } else if (ist_ladervariable(name)) {
            meldung("%s: left out %s, which changes how a program is loaded (--keep-loader-variables keeps it)",
                    auf.datei, sichtbar(name).c_str());
        } else {
            std::string n = sichtbar(name);
            meldung("%s: left out %s, which a web server does not set for a CGI program (--keep %s keeps it)",
                    auf.datei, n.c_str(), n.c_str());
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
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = dir + "/vokt-replay.XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            unlink(name.c_str());
    }
    if (fd >= 0 && (!kopieren(quelle, a, fd) || lseek(fd, 0, SEEK_SET) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

[[noreturn]] void kind(int ein, int meldekanal, const std::string &pfad, char **argv, char **envp)
{
    if (ein != 0) {
        dup2(ein, 0);
        close(ein);
    } else {
        fcntl(0, F_SETFD, 0);
    }
    execve(pfad.c_str(), argv, envp);
    int fehler = errno;
    alles_schreiben(meldekanal, reinterpret_cast<const char *>(&fehler), sizeof fehler);
    _exit(127);
}

int warten(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return FEHLER;
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int laufen(const Aufruf &auf, int quelle, const Aufzeichnung &a)
{
    std::string pfad = programm_finden(auf.programm[0]);
    if (pfad.empty()) {
        meldung("%s: program not found or not executable (record %s)", auf.programm[0], auf.datei);
        return FEHLER;
    }
    hinweise(auf.datei, a);
    std::vector<std::string> env = umgebung(auf, a);
    std::vector<char *> envp;
    envp.reserve(env.size() + 1);
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int ein = eingabe(quelle, a);
    int melde[2];
    if (ein < 0 || pipe2(melde, O_CLOEXEC) != 0) {
        meldung("%s: cannot hand the body over: %s", auf.datei, std::strerror(errno));
        return FEHLER;
    }
    pid_t pid = fork();
    if (pid < 0) {
        meldung("%s: cannot start %s: %s", auf.datei, auf.programm[0], std::strerror(errno));
        return FEHLER;
    }
    if (pid == 0)
        kind(ein, melde[1], pfad, auf.programm, envp.data());
    close(ein);
    close(melde[1]);
    // Ctrl-C reaches the program; its status is then ours to pass on.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    int fehler = 0;
    ssize_t n;
    while ((n = read(melde[0], &fehler, sizeof fehler)) < 0 && errno == EINTR) {
    }
    close(melde[0]);
    int status = warten(pid);
    if (n == static_cast<ssize_t>(sizeof fehler)) {
        meldung("%s: cannot run: %s (record %s)", auf.programm[0], std::strerror(fehler), auf.datei);
        return FEHLER;
    }
    return status;
}

// ---- --curl -----------------------------------------------------------------

struct Befehl {
    std::vector<std::string> woerter;
    bool user_agent = false, accept = false, content_type = false, expect = false;

    void fest(const char *wort) { woerter.emplace_back(wort); }
    void wert(std::string_view text) { woerter.push_back(shellwort(text)); }
    std::string text() const
    {
        std::string t;
        for (const std::string &w : woerter)
            t += (t.empty() ? "" : " ") + w;
        return t + "\n";
    }
};

// One -H, or a note why the header cannot be sent: curl sends a line feed
// in a value as it is, and the receiver would read a header of its own; a
// control byte has no place in a header line either.
void kopf(Befehl &b, const char *datei, const std::string &name, std::string_view wert)
{
    if (!ist_kopfwert(wert)) {
        meldung("%s: left out the header %s, whose value holds a line break or another control byte", datei,
                name.c_str());
        return;
    }
    b.user_agent = b.user_agent || name == "User-Agent";
    b.accept = b.accept || name == "Accept";
    b.content_type = b.content_type || name == "Content-Type";
    b.expect = b.expect || name == "Expect";
    b.fest("-H");
    // "Name:" alone would tell curl to leave the header out; "Name;" sends
    // it with an empty value.
    b.wert(wert.empty() ? name + ";" : name + ": " + std::string(wert));
}

void koepfe(Befehl &b, const char *datei, const Aufzeichnung &a)
{
    bool mit_content_type = a.wert("CONTENT_TYPE").has_value();
    for (const std::string &e : a.umgebung()) {
        std::string_view name = eintragsname(e);
        std::string_view wert = std::string_view(e).substr(std::min(name.size() + 1, e.size()));
        if (name == "CONTENT_TYPE") {
            kopf(b, datei, "Content-Type", wert);
            continue;
        }
        if (!name.starts_with("HTTP_") || name == "HTTP_HOST" || name == "HTTP_CONTENT_LENGTH" ||
            name == "HTTP_TRANSFER_ENCODING" || (name == "HTTP_CONTENT_TYPE" && mit_content_type))
            continue;
        std::string kname = kopfname(name.substr(5));
        if (kname.empty()) {
            meldung("%s: left out %s, which is no header name", datei, sichtbar(name).c_str());
            continue;
        }
        kopf(b, datei, kname, wert);
    }
}

std::string basis(const char *datei, const Aufzeichnung &a, const char *url)
{
    if (url != nullptr) {
        std::string b = url;
        while (!b.empty() && b.back() == '/')
            b.pop_back();
        return b;
    }
    auto https = a.wert("HTTPS");
    bool sicher = https && (*https == "on" || *https == "ON" || *https == "1");
    std::string b = sicher ? "https://" : "http://";
    auto host = a.wert("HTTP_HOST");
    auto server = a.wert("SERVER_NAME");
    auto port = a.wert("SERVER_PORT");
    if (host && ist_host(*host))
        return b + std::string(*host);
    if (server && ist_host(*server)) {
        b += *server;
        bool standard = !port || *port == (sicher ? "443" : "80");
        if (!standard && ist_host(*port))
            b += ":" + std::string(*port);
        return b;
    }
    meldung("%s: the record names no host, localhost is taken (--url BASE chooses one)", datei);
    return b + "localhost";
}

// The request target as it was sent: bytes that would break the request
// line (controls, blanks) are written as %XX, with a note.
std::string ziel(const char *datei, const Aufzeichnung &a)
{
    std::string roh;
    auto uri = a.wert("REQUEST_URI");
    if (uri && !uri->empty()) {
        roh = *uri;
    } else {
        roh = std::string(a.wert("SCRIPT_NAME").value_or("")) + std::string(a.wert("PATH_INFO").value_or(""));
        auto qs = a.wert("QUERY_STRING");
        if (qs && !qs->empty())
            roh += "?" + std::string(*qs);
    }
    bool geaendert = false;
    std::string erg = ziel_kodiert(roh.empty() ? "/" : roh, &geaendert);
    if (geaendert)
        meldung("%s: the request target holds blanks or control bytes; they are sent as %%XX", datei);
    return erg;
}

// A body small enough for the command, into memory.
bool inhalt_holen(int quelle, const Aufzeichnung &a, std::string *inhalt)
{
    inhalt->assign(static_cast<std::size_t>(a.inhaltlaenge()), '\0');
    for (std::size_t ab = 0; ab < inhalt->size();) {
        ssize_t n = lesen_bei(quelle, inhalt->data() + ab, inhalt->size() - ab, a.inhalt_ab() + ab);
        if (n <= 0)
            return false;
        ab += static_cast<std::size_t>(n);
    }
    return true;
}

// A copy of the body in a new file of the caller's, which the command reads:
// it stays as it is when the next request overwrites the dump.  The word
// for curl's --data-binary, empty after a message.
std::string inhaltsdatei_schreiben(const char *pfad, int quelle, const Aufzeichnung &a)
{
    int fd = open(pfad, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        meldung("%s: cannot make the body's file: %s", pfad, std::strerror(errno));
        return "";
    }
    bool ok = kopieren(quelle, a, fd);
    int fehler = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        fehler = errno;
    }
    if (!ok) {
        meldung("%s: writing the body: %s", pfad, std::strerror(fehler));
        unlink(pfad);
        return "";
    }
    char *voll = realpath(pfad, nullptr);
    std::string wort = "@" + shellwort(voll != nullptr ? voll : pfad);
    std::free(voll);
    return wort;
}

// The body's part of the command: *vorne what stands before curl (printf
// and its format, when the body is in the command), the word that follows
// --data-binary.  An empty word after a message.
std::string daten(const Aufruf &auf, int quelle, const Aufzeichnung &a, std::string *vorne)
{
    if (auf.inhaltsdatei != nullptr)
        return inhaltsdatei_schreiben(auf.inhaltsdatei, quelle, a);
    std::string inhalt;
    if (!inhalt_holen(quelle, a, &inhalt)) {
        meldung("%s: reading the body: %s", auf.datei, std::strerror(errno));
        return "";
    }
    if (inhalt.empty())
        return "''"; // still a POST with Content-Length: 0
    *vorne = "printf " + printf_format(inhalt) + " |";
    return "@-";
}

// Why no command is printed, before any note: a method that would break
// the request line, a body too large to be part of the command.
bool verweigert(const Aufruf &auf, const Aufzeichnung &a, std::string_view methode, bool mit_inhalt)
{
    if (!ist_token(methode)) {
        meldung("%s: the method is no HTTP token (\"%s\"), it would break the request line: refused", auf.datei,
                sichtbar(methode).c_str());
        return true;
    }
    if (mit_inhalt && auf.inhaltsdatei == nullptr && a.inhaltlaenge() > IM_BEFEHL_HOECHSTENS) {
        meldung("%s: the body has %llu bytes, more than the %llu a command holds (--body-file FILE writes it to a "
                "file that the command reads): refused",
                auf.datei, static_cast<unsigned long long>(a.inhaltlaenge()),
                static_cast<unsigned long long>(IM_BEFEHL_HOECHSTENS));
        return true;
    }
    return false;
}

// curl's own headers, which the recorded request did not have, left out.
void ohne_curls_koepfe(Befehl &b, bool mit_inhalt)
{
    const std::pair<bool, const char *> eigene[] = {{b.user_agent, "User-Agent:"},
                                                    {b.accept, "Accept:"},
                                                    {b.content_type || !mit_inhalt, "Content-Type:"},
                                                    {b.expect || !mit_inhalt, "Expect:"}};
    for (const auto &[hatte, kopfzeile] : eigene) {
        if (!hatte) {
            b.fest("-H");
            b.wert(kopfzeile);
        }
    }
}

int curl_ausgeben(const Aufruf &auf, int quelle, const Aufzeichnung &a)
{
    std::string methode(a.wert("REQUEST_METHOD").value_or("GET"));
    bool mit_inhalt = a.mit_laenge() && (a.inhaltlaenge() > 0 || methode == "POST");
    if (verweigert(auf, a, methode, mit_inhalt))
        return FEHLER;
    std::string vorne, wort;
    if (mit_inhalt && (wort = daten(auf, quelle, a, &vorne)).empty())
        return FEHLER;
    if (!mit_inhalt && auf.inhaltsdatei != nullptr)
        meldung("%s: the request has no body; %s is not written", auf.datei, auf.inhaltsdatei);
    hinweise(auf.datei, a);
    Befehl b;
    if (!vorne.empty())
        b.woerter.push_back(vorne);
    b.fest("curl -sS -g");
    if (methode == "HEAD" && !mit_inhalt) {
        b.fest("--head");
    } else if (methode != (mit_inhalt ? "POST" : "GET")) {
        b.fest("-X");
        b.wert(methode);
    }
    koepfe(b, auf.datei, a);
    ohne_curls_koepfe(b, mit_inhalt);
    b.fest("--url");
    b.wert(basis(auf.datei, a, auf.url));
    b.fest("--request-target");
    b.wert(ziel(auf.datei, a));
    if (mit_inhalt) {
        b.fest("--data-binary");
        b.woerter.push_back(wort);
    }
    std::string t = b.text();
    return std::fwrite(t.data(), 1, t.size(), stdout) == t.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(USAGE, stderr);
        return argc < 2 ? FEHLER : 0;
    }
    Aufruf auf;
    if (!argumente(auf, argc, argv))
        return FEHLER;
    Aufzeichnung a;
    int quelle = laden(auf.datei, a);
    if (quelle < 0)
        return FEHLER;
    switch (auf.art) {
    case Art::INHALT: return inhalt_ausgeben(auf, quelle, a);
    case Art::CURL: return curl_ausgeben(auf, quelle, a);
    case Art::LAUFEN: break;
    }
    return laufen(auf, quelle, a);
}
