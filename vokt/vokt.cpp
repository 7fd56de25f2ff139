// vokt: shows, compares, exports and replays the requests that vokt.cgi
// recorded, with subcommands in the manner of git.  Here: which subcommand
// runs, and the usage.
#include "aufzeichnungsdatei.h"
#include "befehle.h"
#include "meldung.h"

#include <cstdio>
#include <cstring>

namespace {

struct Befehl {
    const char *name;
    int (*lauf)(int, char **);
    const char *was;
};

const Befehl BEFEHLE[] = {
    {"show", befehl_show, "show RECORD [--html] [--all]  one record for a person to read"},
    {"list", befehl_list, "list [DUMP | FOLDER]          the history (or one dump), newest first"},
    {"follow", befehl_follow, "follow [-n N] [DUMP | FOLDER]  new records as they land (tail -f)"},
    {"diff", befehl_diff, "diff A B [--ignore NAME]...   what differs between two records"},
    {"replay", befehl_replay, "replay RECORD [EDITS] -- PROGRAM [ARG...]  run a CGI program on it"},
    {"curl", befehl_curl, "curl RECORD [--url BASE] [EDITS]  a curl command that sends it again"},
    {"send", befehl_send, "send RECORD --url BASE [EDITS]  send it to a server, show the response"},
    {"har", befehl_har, "har RECORD...                 HAR 1.2 on standard output"},
    {"body", befehl_body, "body RECORD                   the raw body"},
    {"pin", befehl_pin, "pin [--undo] RECORD...        keep records of the history out of pruning"},
    {"verify", befehl_verify, "verify RECORD --secret-file FILE  check a webhook's signature on the body"},
};

int usage(FILE *f, int status)
{
    std::fputs(
        "usage: vokt COMMAND [ARG...]\n\nShows, compares, exports and replays the requests that vokt.cgi recorded.\n\n",
        f);
    for (const Befehl &b : BEFEHLE)
        std::fprintf(f, "  vokt %s\n", b.was);
    std::fputs("\n'vokt COMMAND --help' tells more of each; 'vokt --version' prints the version.\n", f);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    programmname = "vokt";
    speichermangel_melden();
    if (argc < 2)
        return usage(stderr, FEHLER);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0)
        return usage(stdout, 0);
    if (std::strcmp(argv[1], "--version") == 0)
        return std::puts("vokt " VOKT_VERSION) >= 0 ? 0 : FEHLER;
    for (const Befehl &b : BEFEHLE)
        if (std::strcmp(argv[1], b.name) == 0)
            return b.lauf(argc - 1, argv + 1);
    meldung("unknown command %s (vokt --help lists them)", sichtbar(argv[1]).c_str());
    return FEHLER;
}
