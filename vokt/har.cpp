// vokt har: not built yet.
#include "befehle.h"
#include "meldung.h"

int befehl_har(int, char **)
{
    meldung("har: not built yet");
    return FEHLER;
}
