// The edits that vokt replay and vokt curl make to a record before they
// use it: --set, --unset and a new body.  A pure function on the record's
// entries, and the entries part of a record file that holds the result.
#ifndef VOKT_AENDERN_H
#define VOKT_AENDERN_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One --set NAME=VALUE (wert given) or --unset NAME (no wert).
struct Aenderung {
    std::string_view name;
    std::optional<std::string_view> wert;
};

struct Aenderungen {
    std::vector<Aenderung> schritte;           // in the order given
    std::optional<std::uint64_t> neuer_inhalt; // the new body's length, when the body is replaced

    bool leer() const { return schritte.empty() && !neuer_inhalt; }
};

// The entries ("name=value", the record's order, duplicates too) after the
// edits, each in turn: --set gives the first entry of the name the new
// value and drops the later ones, or appends the entry when there is none;
// --unset drops every entry of the name.  A new body sets CONTENT_LENGTH
// to its length, unless a --set or --unset names CONTENT_LENGTH: the
// caller's choice wins (a wrong length is a request worth replaying).
std::vector<std::string> aendern(std::vector<std::string> eintraege, const Aenderungen &ae);

// The entries part of a record file for the entries, as vokt.cgi writes
// it (a line feed in a value continues on a line that starts with a tab),
// and, when mit_laenge, the '*' line with the length; the body follows it.
std::string kopfteil(const std::vector<std::string> &eintraege, bool mit_laenge, long long laenge);

#endif
