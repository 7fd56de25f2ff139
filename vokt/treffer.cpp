#include "treffer.h"
#include "aufzeichnungsdatei.h"
#include "meldung.h"
#include "pruefling.h"
#include "verlaufsordner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

using namespace vokt::intern;

Zeitpunkt jetzt()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return {static_cast<long long>(t.tv_sec), t.tv_nsec / 1000};
}

bool filter_uebersetzen(const char *befehl, const char *text, Filter *f)
{
    Filterfehler fehler;
    if (f->lesen(text, jetzt(), &fehler))
        return true;
    meldung("%s: bad filter at byte %zu: %s", befehl, fehler.bei + 1, sichtbar(fehler.was).c_str());
    return false;
}

bool passt(const Filter &f, const char *pfad, const Aufzeichnung &a, int fd, Zeitpunkt *zeit)
{
    *zeit = aufzeichnungszeit(pfad, fd);
    Pruefling p(a, *zeit, fd);
    bool ja = f.trifft(p);
    if (p.lesefehler() != 0)
        meldung("%s: reading the body: %s", sichtbar(pfad).c_str(), std::strerror(p.lesefehler()));
    return ja;
}

int treffer(const char *befehl, const char *ort, const Filter &f, std::vector<Fund> *funde)
{
    std::string pfad = ort_bestimmen(befehl, ort);
    std::string ordner;
    auto besuch = [&](const char *p, const std::string &datei, const Aufzeichnung &a, int fd) {
        Zeitpunkt zeit;
        if (passt(f, p, a, fd, &zeit))
            funde->push_back({p, datei, zeit});
    };
    if (pfad.empty() || !durchgehen(befehl, pfad, besuch, &ordner))
        return FEHLER;
    std::sort(funde->begin(), funde->end(),
              [](const Fund &x, const Fund &y) { return x.zeit != y.zeit ? x.zeit < y.zeit : x.datei < y.datei; });
    if (funde->empty()) {
        meldung("%s: no record at %s matches the filter", befehl, sichtbar(pfad).c_str());
        return KEIN_TREFFER;
    }
    return 0;
}
