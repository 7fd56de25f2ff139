#include "cgivar.h"

#include "cgiausg.h"
#include "intern/annahme.h"
#include "intern/formular.h"
#include "intern/nutzerdb.h"

#include <cstdio>

namespace vokt::intern {

// The account database's home directory of uid (see annahme.h).
char *gethomedir(int uid, int *fehlernummer)
{
    return heimverzeichnis(static_cast<uid_t>(uid), fehlernummer);
}

} // namespace vokt::intern

int getcgienv(Varmap *erg, char **env, int options)
{
    return vokt::intern::annahme(erg, env, options);
}

int aufspalt(Varmap *erg, char *puffer, int inhaltlang)
{
    return vokt::intern::zerlege(erg, puffer, inhaltlang);
}

void probeausgabe(const Varmap *tab)
{
    Varmapiter it(tab);
    for (; it() != nullptr; it.next()) {
        const char *name;
        const char *inhalt;
        it.inhalt(name, inhalt);
        html_text(name);
        std::fputs(" = ", stdout);
        html_text(inhalt);
        std::fputs("<p>\n", stdout);
        std::fflush(stdout);
    }
}
