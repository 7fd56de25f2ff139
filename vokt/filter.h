// The filter language of vokt's commands that take many records (list,
// har, replay, body, show, follow): parsed once, then asked of one record
// after another.  The grammar, as vokt(1) documents it:
//
//   filter  = oder
//   oder    = und { "or" und }
//   und     = nicht { ["and"] nicht }          (tests side by side: and)
//   nicht   = "not" nicht | "(" oder ")" | test
//   test    = FIELD [":" NAME] [OP VALUE] | "whole" | "short" | "more" | "none"
//   OP      = "=" (equal) | "~" (contains) | "=~" (regular expression)
//           | "<" | ">" | "<=" | ">="
//   VALUE   = '"' quoted text '"' (\" \\ \xHH) | bytes up to a blank or ')'
//
// Fields: method, target, path, query, header[:NAME], entry:NAME,
// body, form[:NAME], note, since, until, age, size.  Values are matched
// against the record's bytes as they are; the method and header names
// without regard to case, everything else exactly.  Regular expressions
// are RE2's (linear time, no backreferences), on bytes (Latin-1).
#ifndef VOKT_FILTER_H
#define VOKT_FILTER_H

#include "aufzeichnungszeit.h"
#include "pruefling.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

// Where the text is no filter (a byte offset from 0) and why, one line.
struct Filterfehler {
    std::size_t bei = 0;
    std::string was;
};

class Filter {
public:
    // The filter of text; age is measured from jetzt.  False with
    // *fehler set when text is no filter.
    bool lesen(std::string_view text, const Zeitpunkt &jetzt, Filterfehler *fehler);

    // Whether the record matches.
    bool trifft(Pruefling &p) const;

    enum class Feld : unsigned char {
        METHODE,
        ZIEL,
        PFAD,
        ANFRAGE,
        KOPF,
        EINTRAG,
        INHALT,
        FORM,
        HINWEIS,
        SEIT,
        BIS,
        ALTER,
        GROESSE,
        GANZ,
        KURZ,
        MEHR,
        KEINER,
    };
    enum class Vergleich : unsigned char { DA, GLEICH, ENTHAELT, MUSTER, KLEINER, GROESSER, HOECHSTENS, MINDESTENS };
    struct Test {
        Feld feld = Feld::METHODE;
        Vergleich op = Vergleich::DA;
        bool mit_name = false;
        std::string name; // for header: the entry's name (HTTP_X_Y)
        std::string wert;
        std::shared_ptr<const re2::RE2> muster;
        long long zahl = 0; // size in bytes, age in microseconds, a time in microseconds since the epoch
    };
    struct Knoten {
        enum Art : unsigned char { TEST, UND, ODER, NICHT } art = TEST;
        int links = -1, rechts = -1;
        bool teuer = false; // reads the body
        Test test;
    };

    // The most tests and operators in one filter.
    static constexpr std::size_t KNOTEN_HOECHSTENS = 1000;

private:
    bool knoten_trifft(int k, Pruefling &p) const;

    std::vector<Knoten> knoten_;
    int wurzel_ = -1;
};

#endif
