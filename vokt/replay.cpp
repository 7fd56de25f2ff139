// vokt replay, curl and body: not built yet.
#include "befehle.h"
#include "meldung.h"

int befehl_replay(int, char **)
{
    meldung("replay: not built yet");
    return FEHLER;
}

int befehl_curl(int, char **)
{
    meldung("curl: not built yet");
    return FEHLER;
}

int befehl_body(int, char **)
{
    meldung("body: not built yet");
    return FEHLER;
}
