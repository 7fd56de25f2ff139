// vokt diff: not built yet.
#include "befehle.h"
#include "meldung.h"

int befehl_diff(int, char **)
{
    meldung("diff: not built yet");
    return FEHLER;
}
