// vokt list: not built yet.
#include "befehle.h"
#include "meldung.h"

int befehl_list(int, char **)
{
    meldung("list: not built yet");
    return FEHLER;
}
