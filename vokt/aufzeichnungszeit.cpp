#include "aufzeichnungszeit.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace {

// The number in the digits text[ab, ab + n), which the caller has checked.
int zahl(std::string_view text, std::size_t ab, std::size_t n)
{
    int erg = 0;
    for (std::size_t i = ab; i < ab + n; ++i)
        erg = erg * 10 + (text[i] - '0');
    return erg;
}

// "ddddddddTdddddd.ddddddZ-" and one or more digits.
bool hat_form(std::string_view name)
{
    constexpr std::string_view FORM = "ddddddddTdddddd.ddddddZ-";
    if (name.size() <= FORM.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        bool ziffer = name[i] >= '0' && name[i] <= '9';
        bool soll_ziffer = i >= FORM.size() || FORM[i] == 'd';
        if (soll_ziffer ? !ziffer : name[i] != FORM[i])
            return false;
    }
    return true;
}

} // namespace

bool zeit_aus_verlaufsname(std::string_view name, Zeitpunkt *zeit)
{
    if (!hat_form(name))
        return false;
    tm t{};
    t.tm_year = zahl(name, 0, 4) - 1900;
    t.tm_mon = zahl(name, 4, 2) - 1;
    t.tm_mday = zahl(name, 6, 2);
    t.tm_hour = zahl(name, 9, 2);
    t.tm_min = zahl(name, 11, 2);
    t.tm_sec = zahl(name, 13, 2);
    tm soll = t;
    time_t s = timegm(&t);
    // timegm moves a 31st of November on to December: no real date.
    if (t.tm_mon != soll.tm_mon || t.tm_mday != soll.tm_mday || t.tm_hour != soll.tm_hour || t.tm_sec != soll.tm_sec)
        return false;
    zeit->sekunden = s;
    zeit->mikro = zahl(name, 16, 6);
    return true;
}

std::string iso8601(const Zeitpunkt &zeit, int stellen)
{
    auto s = static_cast<time_t>(zeit.sekunden);
    tm t{};
    char text[64] = "";
    if (gmtime_r(&s, &t) == nullptr)
        return "?";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &t);
    std::string erg = text;
    if (stellen > 0) {
        std::snprintf(text, sizeof text, ".%06ld", zeit.mikro);
        std::size_t ziffern = stellen > 6 ? 6 : static_cast<std::size_t>(stellen);
        erg.append(text, 1 + ziffern);
    }
    return erg + "Z";
}

Zeitpunkt aufzeichnungszeit(const char *pfad, int fd)
{
    Zeitpunkt zeit;
    const char *strich = std::strrchr(pfad, '/');
    if (zeit_aus_verlaufsname(strich != nullptr ? strich + 1 : pfad, &zeit))
        return zeit;
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        zeit.sekunden = st.st_mtim.tv_sec;
        zeit.mikro = st.st_mtim.tv_nsec / 1000;
    }
    return zeit;
}
