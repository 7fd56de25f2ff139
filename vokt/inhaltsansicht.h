// How vokt show shows a request's body, by its Content-Type: urlencoded
// pairs, the parts of multipart/form-data, JSON, text in its charset, or
// bytes in hex; and the form decoding and charsets that the notes use too.
#ifndef VOKT_INHALTSANSICHT_H
#define VOKT_INHALTSANSICHT_H

#include "anfrage.h"
#include "ansicht.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The most pairs or parts shown, and the most bytes of a part.
constexpr std::size_t ZEILEN_HOECHSTENS = 1000;
constexpr std::size_t TEILTEXT_HOECHSTENS = 512;
constexpr std::size_t HEX_HOECHSTENS = 256;

// The charsets that are told apart: the bytes of the last three are
// shown converted to UTF-8.
enum class Zeichensatz { KEINER, ANDERER, UTF8, ASCII, LATIN1, CP1252 };
Zeichensatz zeichensatz(std::string_view name);

// The charset parameter of a Content-Type value, in lower case; empty
// when there is none.
std::string charset_von(std::string_view content_type);
// A form's charset: the value of its field _charset_ (as browsers fill
// it) unless empty, else the one declared.
std::string formular_charset(const std::vector<Paar> &paare, std::string_view erklaert);

// Bytes in that charset as UTF-8: ISO-8859-1 and windows-1252 converted,
// every other charset's bytes as they are.
std::string als_utf8(std::string_view bytes, std::string_view charset);

// Whether bytes read as text: UTF-8 with no control byte but tab, line
// feed and carriage return.
bool sieht_nach_text_aus(std::string_view bytes);

// The lines that show a body of that Content-Type; ganz: all of the
// body is at hand, not only its start.
std::vector<Zeile> inhalt_zeilen(std::string_view content_type, std::string_view inhalt, bool ganz);
// The pretty view of JSON takes at most JSON_FAKTOR times the body's
// bytes and JSON_SOCKEL more: deeper nesting would make it grow with the
// square of the body (two blanks for each level on every line).
constexpr std::size_t JSON_FAKTOR = 8;
constexpr std::size_t JSON_SOCKEL = 64 * 1024;
// The most bytes of the pretty view of a JSON text of so many bytes.
std::uint64_t json_schoen_hoechstens(std::size_t bytes);

// A body as JSON: pretty-printed, or as it came, with why: where it
// breaks, or that it nests too deep for a pretty view (deeper than 500
// levels, or a pretty view beyond json_schoen_hoechstens()).
std::vector<Zeile> json_zeilen(std::string_view text, bool ganz);
// A body of multipart/form-data, its boundary from the Content-Type; a
// part that the end of a body not ganz cuts is said to be cut by the
// view, never broken.
std::vector<Zeile> multipart_zeilen(std::string_view content_type, std::string_view inhalt, bool ganz = true);

#endif
