// A response kept as a snapshot: its status, its header lines and its
// body, written as a plain text file that a person can read and keep under
// version control, read back, and compared with a newer response; with no
// I/O (schnappschussordner.h keeps the files).
//
// The file: the line "status NNN" (with " escaped" after it when the body
// is written escaped), the header lines "Name: value" in the order the
// response gave them, an empty line, the body.  Header values, and an
// escaped body, hold each byte but printable ASCII, and the backslash, as
// \xHH.  A body that is UTF-8 without a control byte but the tab and the
// line feed stands as it is, to the file's end; any other is escaped, with
// a line break in the file after each \x0A and after 64 bytes of the body
// without one, which are not part of it.
#ifndef VOKT_SCHNAPPSCHUSS_H
#define VOKT_SCHNAPPSCHUSS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The largest response a snapshot holds: 16 MiB of body and header.
constexpr std::size_t SCHNAPPSCHUSS_HOECHSTENS = 16 << 20;

// A response however it was obtained: status code 100..599, its header
// lines ("Name: value", the name a token, no line end) in order, its body.
struct Antwort {
    int status = 200;
    std::vector<std::string> kopf;
    std::string inhalt;
};

// The header names left out (--ignore-header), compared without regard
// to case.
using Ohne = std::vector<std::string>;

// The header lines of a whose names ohne holds (in any case) taken out.
void koepfe_weglassen(Antwort &a, const Ohne &ohne);

// The snapshot file's text of a, the headers named in ohne left out.
std::string schnappschuss_text(const Antwort &a, const Ohne &ohne = {});

// The snapshot file's text read into *a; false, with *fehler saying where
// and why ("line 3: ..."), when it is none.
bool schnappschuss_lesen(std::string_view text, Antwort *a, std::string *fehler);

// The first difference of the response neu from the snapshot alt, one
// line (response bytes made visible): the status, a header (by its place
// in order; names compared without regard to case), or the body's first
// differing byte with a short excerpt of both; empty when they are the
// same.  The headers in ohne are left out of both.
std::string erster_unterschied(const Antwort &neu, const Antwort &alt, const Ohne &ohne = {});

// What a response is expected to give without a snapshot: a status
// (--expect-status; 0: none) and headers (--expect-header "Name: value").
struct Erwartung {
    int status = 0;
    std::vector<std::string> kopf;
};

// Whether text is an --expect-header argument: "Name: value", the name a
// token.
bool ist_erwarteter_kopf(std::string_view text);

// One line for each expectation that a does not meet; none when it meets
// them all.  A header is met when one of that name (without regard to
// case) has the value, blanks around it not counted.
std::vector<std::string> erwartung_verfehlt(const Antwort &a, const Erwartung &e);

// The snapshot's file name for a record at pfad: its last part, each byte
// but letters, digits and . _ - + = , @ written as %HH, a leading dot too,
// so that two names never meet and none is hidden, a folder or a link's
// way out.
std::string schnappschussname(std::string_view pfad);

#endif
