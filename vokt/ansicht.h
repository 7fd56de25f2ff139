// What vokt show writes about a record, as sections of lines that hold the
// record's bytes as they are; the two writers, plain text for a terminal
// and one HTML page, make every byte safe on its way out.
#ifndef VOKT_ANSICHT_H
#define VOKT_ANSICHT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct Zeile {
    enum Art : unsigned char {
        SATZ,  // one line
        KOPF,  // a header: "name: text"
        PAAR,  // a name and its value: "name = text"
        TEXT,  // a block of text, its lines ended by line feeds
        BYTES, // bytes as a hex dump, the first at offset ab
    };
    Art art = SATZ;
    int tiefe = 0; // how far it is indented
    std::string name;
    std::string text;
    std::size_t ab = 0;
};

struct Abschnitt {
    std::string titel;
    std::vector<Zeile> zeilen;
};

struct Ansicht {
    std::string titel; // the request line
    std::vector<Abschnitt> abschnitte;
};

// The length of the well-formed UTF-8 character at s[i] (no overlong
// form, no surrogate, at most U+10FFFF), 0 when there is none.
std::size_t utf8_laenge(std::string_view s, std::size_t i);
// Whether all of s is UTF-8; *bei gets where it is not.
bool ist_utf8(std::string_view s, std::size_t *bei = nullptr);

// Bytes shown as text for a person: printable ASCII and UTF-8 characters
// as they are; the backslash, control bytes (C0, DEL and C1), the
// characters that turn the direction of text and every byte that is no
// UTF-8 as escapes (\\ \n \r \t \xHH \u{HHHH}).  No line feed stays.
std::string sicher(std::string_view bytes);

// The view as plain text: sicher() for every byte from the record.
std::string als_text(const Ansicht &a);
// The view as one HTML page of its own: UTF-8, everything escaped, no
// script and nothing loaded from elsewhere.
std::string als_html(const Ansicht &a);

#endif
