#include "nutzerdb.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char NSSWITCH[] = "/etc/nsswitch.conf";
const char PASSWD[] = "/etc/passwd";
const char GETENT[] = "/usr/bin/getent";

// What the passwd line of nsswitch.conf asks for.
struct Quellen {
    bool dateien_zuerst = true; // `files` is the first source
    bool weitere = false;       // a source is asked after `files`
};

bool ist_wort(const char *&p, const char *wort)
{
    std::size_t n = std::strlen(wort);
    if (strncasecmp(p, wort, n) != 0)
        return false;
    p += n;
    return true;
}

void leer_ueberspringen(const char *&p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
}

// The sources of one "passwd:" line, from the text after the colon.
Quellen lies_quellen(const char *p)
{
    Quellen q;
    leer_ueberspringen(p);
    if (*p == '\0' || *p == '\n' || *p == '#')
        return q; // an empty line means the default: files
    const char *start = p;
    q.dateien_zuerst = ist_wort(p, "files") && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\0');
    if (!q.dateien_zuerst)
        p = start;
    leer_ueberspringen(p);
    // "[NOTFOUND=return]" right after files: the other sources are asked
    // only when files is unavailable, which reading it here reports.
    if (q.dateien_zuerst && *p == '[') {
        const char *zu = std::strchr(p, ']');
        const char *aktion = strcasestr(p, "NOTFOUND=return");
        if (zu != nullptr && aktion != nullptr && aktion < zu)
            return q;
    }
    q.weitere = *p != '\0' && *p != '\n' && *p != '#';
    return q;
}

Quellen quellen()
{
    Quellen q;
    FILE *f = std::fopen(NSSWITCH, "re");
    if (f == nullptr)
        return q; // without the file glibc asks files alone
    char zeile[1024];
    while (std::fgets(zeile, sizeof zeile, f) != nullptr) {
        const char *p = zeile;
        leer_ueberspringen(p);
        if (ist_wort(p, "passwd:")) {
            q = lies_quellen(p);
            break;
        }
    }
    std::fclose(f);
    return q;
}

// uid's home from /etc/passwd, parsed here (fgetpwent uses no modules).
char *aus_passwd(uid_t uid, int *fehlernummer)
{
    FILE *f = std::fopen(PASSWD, "re");
    if (f == nullptr) {
        *fehlernummer = errno;
        return nullptr;
    }
    char *home = nullptr;
    while (const passwd *pw = fgetpwent(f)) {
        if (pw->pw_uid == uid) {
            home = strdup(pw->pw_dir != nullptr ? pw->pw_dir : "");
            if (home == nullptr)
                *fehlernummer = ENOMEM;
            break;
        }
    }
    if (home == nullptr && std::ferror(f))
        *fehlernummer = EIO;
    std::fclose(f);
    return home;
}

// Everything the child writes, up to its end; null when memory runs out.
char *lies_alles(int fd)
{
    std::size_t platz = 4096;
    std::size_t voll = 0;
    auto *text = static_cast<char *>(std::malloc(platz));
    while (text != nullptr) {
        if (voll + 1 == platz) {
            auto *groesser = static_cast<char *>(std::realloc(text, 2 * platz));
            if (groesser == nullptr)
                break;
            text = groesser;
            platz *= 2;
        }
        ssize_t n = read(fd, text + voll, platz - voll - 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        voll += static_cast<std::size_t>(n);
    }
    if (text != nullptr)
        text[voll] = '\0';
    return text;
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

// Starts getent with its output on a pipe; the child's pid, or -1.
pid_t starte_getent(uid_t uid, int *lesen, int *fehlernummer)
{
    int rohr[2];
    if (pipe2(rohr, O_CLOEXEC) != 0) {
        *fehlernummer = errno;
        return -1;
    }
    char nummer[24];
    std::snprintf(nummer, sizeof nummer, "%u", static_cast<unsigned>(uid));
    char *argv[] = {const_cast<char *>("getent"), const_cast<char *>("passwd"), nummer, nullptr};
    char *envp[] = {nullptr};
    posix_spawn_file_actions_t aktionen;
    posix_spawn_file_actions_init(&aktionen);
    posix_spawn_file_actions_addopen(&aktionen, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&aktionen, rohr[1], 1);
    posix_spawn_file_actions_addopen(&aktionen, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int fehler = posix_spawn(&pid, GETENT, &aktionen, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&aktionen);
    close(rohr[1]);
    if (fehler != 0) {
        close(rohr[0]);
        *fehlernummer = fehler;
        return -1;
    }
    *lesen = rohr[0];
    return pid;
}

// getent's answer: 0 found, 2 no such account, anything else an error.
char *aus_getent(uid_t uid, int *fehlernummer)
{
    int lesen = -1;
    pid_t pid = starte_getent(uid, &lesen, fehlernummer);
    if (pid < 0)
        return nullptr;
    char *ausgabe = lies_alles(lesen);
    close(lesen);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    char *home = nullptr;
    bool gefunden = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (gefunden && ausgabe != nullptr)
        home = heim_aus_zeile(ausgabe);
    if (home == nullptr && !(WIFEXITED(status) && WEXITSTATUS(status) == 2))
        *fehlernummer = ausgabe == nullptr ? ENOMEM : EIO;
    std::free(ausgabe);
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
