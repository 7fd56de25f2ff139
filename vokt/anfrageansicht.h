// A record as vokt show shows it: the request line, the headers with
// their names restored, the rest of the environment, the query's pairs,
// the body by its type and the notes.  No I/O: the body's start is given.
#ifndef VOKT_ANFRAGEANSICHT_H
#define VOKT_ANFRAGEANSICHT_H

#include "ansicht.h"
#include "intern/aufzeichnung.h"

#include <cstddef>
#include <string>
#include <string_view>

// The most bytes of a body that the views read.
constexpr std::size_t PRAEFIX_HOECHSTENS = std::size_t{1} << 20;

// METHOD TARGET PROTOCOL: the target is anfrageziel(); "?" for what the
// record does not hold.
std::string anfragezeile(const vokt::intern::Aufzeichnung &a);

// The view of record a, whose body starts with praefix (all of it when it
// is as long as the body).
Ansicht anfrage_ansicht(const vokt::intern::Aufzeichnung &a, std::string_view praefix);

#endif
