// A record as the filter (filter.h) looks at it: its entries, its time,
// and its body, which stays in the record file until a test needs it.
// Each fact is found once, on first use: the body's start, the form
// pairs, the notes of vokt show.  A search for bytes in the body reads it
// in pieces and never holds all of it.
#ifndef VOKT_PRUEFLING_H
#define VOKT_PRUEFLING_H

#include "anfrage.h"
#include "aufzeichnungszeit.h"
#include "intern/aufzeichnung.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The most bytes of a body that a test holds in memory: a regular
// expression, the form pairs and equality see this much of it.
constexpr std::size_t PRUEFINHALT_HOECHSTENS = std::size_t{64} << 20;

class Pruefling {
public:
    // The record a, made at zeit, whose body is in the record file fd
    // (-1: a holds its body itself, as after zerlegen()).
    Pruefling(const vokt::intern::Aufzeichnung &a, const Zeitpunkt &zeit, int fd) : a_(a), zeit_(zeit), fd_(fd) {}

    const vokt::intern::Aufzeichnung &aufzeichnung() const { return a_; }
    const Zeitpunkt &zeit() const { return zeit_; }

    // Whether the body holds the bytes muster (an empty one: always).
    bool enthaelt(std::string_view muster);
    // The body's first n bytes (all of it when it is shorter), at most
    // PRUEFINHALT_HOECHSTENS.
    std::string_view anfang(std::size_t n = PRUEFINHALT_HOECHSTENS);
    // The pairs of the query string, then those of a urlencoded body.
    const Formpaare &paare();
    // The notes that vokt show gives on the record.
    const std::vector<std::string> &hinweise();
    // Why reading the body failed (an errno; 0: it did not), in which
    // case a test that needed it did not match.
    int lesefehler() const { return lesefehler_; }

private:
    const vokt::intern::Aufzeichnung &a_;
    Zeitpunkt zeit_;
    int fd_;
    int lesefehler_ = 0;
    bool lesen(std::uint64_t ab, char *puffer, std::size_t n);

    std::string inhalt_; // the body's start, as far as it was needed
    std::optional<Formpaare> paare_;
    std::optional<std::vector<std::string>> hinweise_;
};

#endif
