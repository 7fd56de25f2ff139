// When a record was made: from its name in the history folder
// ("20261208T101502.123456Z-4711", UTC to the microsecond, then the pid;
// see intern/verlauf.h), else from the file's modification time; and that
// time written in ISO 8601.
#ifndef VOKT_AUFZEICHNUNGSZEIT_H
#define VOKT_AUFZEICHNUNGSZEIT_H

#include <string>
#include <string_view>

// Seconds since the epoch (UTC) and the microseconds within that second.
struct Zeitpunkt {
    long long sekunden = 0;
    long mikro = 0;
    auto operator<=>(const Zeitpunkt &) const = default;
};

// The time in a history name, when the name has the history's form and a
// real date in it.
bool zeit_aus_verlaufsname(std::string_view name, Zeitpunkt *zeit);

// "2026-12-08T10:15:02.123456Z" with `stellen` digits of the second's
// fraction (6: microseconds, 3: milliseconds, 0: none).
std::string iso8601(const Zeitpunkt &zeit, int stellen);

// The time of the record file at pfad, open as fd: from its name (the
// part after the last '/') when that is a history name, else its mtime.
Zeitpunkt aufzeichnungszeit(const char *pfad, int fd);

#endif
