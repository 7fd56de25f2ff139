// vokt show: not built yet.
#include "befehle.h"
#include "meldung.h"

int befehl_show(int, char **)
{
    meldung("show: not built yet");
    return FEHLER;
}
