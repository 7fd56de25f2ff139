// The parameters of a header value such as Content-Type, and a body of
// multipart/form-data taken apart into its parts (RFC 7578, RFC 2046):
// made for bytes from a record, which may be anything, cut or broken.
#ifndef VOKT_MULTIPART_H
#define VOKT_MULTIPART_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The media type of a Content-Type value, "type/subtype" in lower case,
// without its parameters and blanks; empty when the value is empty.
std::string medientyp(std::string_view wert);

// The parameter of that name (case does not matter) of a header value
// such as 'multipart/form-data; boundary="x y"': a token, or a quoted
// string with \" and \\ taken as the bytes they quote.  The first one.
std::optional<std::string> parameter(std::string_view wert, std::string_view name);

// The most parts taken apart: the rest of the body is left as it is.
constexpr std::size_t TEILE_HOECHSTENS = 10000;

// One part: its header lines, what Content-Disposition and Content-Type
// say, and its bytes (a view into the body).
struct Teil {
    std::string_view kopf;
    std::string name;
    std::optional<std::string> dateiname;
    std::string typ; // the part's Content-Type value, as it is
    std::string_view inhalt;
};

struct Multipart {
    std::vector<Teil> teile;
    bool abgeschlossen = false; // the closing delimiter was found
    std::string fehler;         // what broke, one line; empty when nothing did
    // What broke is the end of the bytes, which more bytes could mend;
    // abgeschnitten is the part (from 1) that the end cuts, 0: none.
    bool am_ende = false;
    std::size_t abgeschnitten = 0;
};

// The parts of body, whose delimiter lines are "--" + grenze.  It never
// fails: what it cannot read is said in fehler, and the parts before it
// are there.
Multipart multipart_zerlegen(std::string_view body, std::string_view grenze);

#endif
