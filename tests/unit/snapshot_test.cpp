// Snapshots of responses: the file's text and its reading back (any body,
// binary ones too, survives the round trip; what a person's editor does
// to a file), the first difference in each place, ignored headers, the
// expectations, the file's name from a record's, and a CGI program's output
// as the response a web server makes of it.
#include "antwort.h"
#include "schnappschuss.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Liste = std::vector<std::string>;

bool gleich(const Antwort &x, const Antwort &y)
{
    return x.status == y.status && x.kopf == y.kopf && x.inhalt == y.inhalt;
}

struct Format {
    Antwort antwort;
    std::string text; // the file's text; empty: only the round trip is checked
};

TEST(Snapshot, TextReadsBackAsTheResponse)
{
    std::string alle_bytes;
    for (int b = 0; b < 256; ++b)
        alle_bytes += static_cast<char>(b);
    std::string zeile_von_x01;
    for (int i = 0; i < 64; ++i)
        zeile_von_x01 += "\\x01";
    const Format faelle[] = {
        {{200, {"Content-Type: text/plain"}, "hallo\n"}, "status 200\nContent-Type: text/plain\n\nhallo\n"},
        {{404, {}, ""}, "status 404\n\n"},
        // No line feed at the end: none in the file either.
        {{200, {"Content-Type: text/plain"}, "ohne Ende"}, "status 200\nContent-Type: text/plain\n\nohne Ende"},
        // UTF-8 and the tab stand as they are, the backslash too.
        {{200,
          {"X-A: 1", "x-a: 2"},
          "Gr\xC3\xBC\xC3\x9F"
          "e\t\\n\n"},
         "status 200\nX-A: 1\nx-a: 2\n\nGr\xC3\xBC\xC3\x9F"
         "e\t\\n\n"},
        // A header value's bytes beyond ASCII and its backslash, escaped.
        {{302, {"Location: /a\\b", "X-L: \xE4"}, ""}, "status 302\nLocation: /a\\x5Cb\nX-L: \\xE4\n\n"},
        // CR, NUL, ISO 8859-1: the body escaped, a line after each \x0A.
        {{200, {"Content-Type: text/plain"}, "a\r\nb\0c\xE4\n"s},
         "status 200 escaped\nContent-Type: text/plain\n\na\\x0D\\x0A\nb\\x00c\\xE4\\x0A\n"},
        // 64 bytes to a line, without a line feed among them.
        {{200, {}, std::string(65, '\x01')}, "status 200 escaped\n\n" + zeile_von_x01 + "\n\\x01\n"},
        {{200, {"Content-Type: application/octet-stream"}, alle_bytes}, ""},
        {{599, {"A: b"}, std::string(100000, 'x') + '\0'}, ""},
        {{100, {"Set-Cookie: a=1; Path=/", "Set-Cookie: b=2"}, "\n\n\n"}, ""},
    };
    for (const Format &f : faelle) {
        std::string text = schnappschuss_text(f.antwort);
        if (!f.text.empty()) {
            EXPECT_EQ(text, f.text);
        }
        Antwort zurueck;
        std::string fehler;
        ASSERT_TRUE(schnappschuss_lesen(text, &zurueck, &fehler)) << fehler << "\n" << text;
        EXPECT_TRUE(gleich(zurueck, f.antwort)) << text;
        // Readable: no byte but printable ASCII and the line feed, except
        // in a body that stands as it is.
        if (text.find(" escaped\n") == std::string::npos)
            continue;
        for (char z : text) {
            EXPECT_TRUE(z == '\n' || (z >= 0x20 && z < 0x7F)) << static_cast<int>(z);
        }
    }
}

TEST(Snapshot, IgnoredHeadersAreLeftOutOfTheFile)
{
    Antwort a{200, {"Date: Tue, 08 Dec 2026", "Content-Type: text/plain", "set-cookie: s=1"}, "x"};
    EXPECT_EQ(schnappschuss_text(a, {"date", "Set-Cookie"}), "status 200\nContent-Type: text/plain\n\nx");
}

struct Lesefall {
    const char *text;
    const char *ergebnis; // the error, or the response's text again
};

TEST(Snapshot, WhatAPersonsEditorDoesToAFile)
{
    const Lesefall faelle[] = {
        // CRLF in the head (a checkout that converts line ends); blanks
        // around a value.
        {"status 201\r\nA:   b  \r\n\r\nbody", "status 201\nA: b\n\nbody"},
        // An escaped body's line breaks are no part of it, CRs neither.
        {"status 200 escaped\n\n\\x00\r\n\n\\x41\\x4a\n\n", "status 200 escaped\n\n\\x00AJ\n"},
        {"", "line 1: the file ends before the empty line after the header lines"},
        {"status 200\nA: b\n", "line 3: the file ends before the empty line after the header lines"},
        {"HTTP/1.1 200 OK\n\n", "line 1: no \"status NNN\" line (100..599, \" escaped\" after it or nothing)"},
        {"status 600\n\n", "line 1: no \"status NNN\" line (100..599, \" escaped\" after it or nothing)"},
        {"status 200 gzip\n\n", "line 1: no \"status NNN\" line (100..599, \" escaped\" after it or nothing)"},
        {"status 20x\n\n", "line 1: no \"status NNN\" line (100..599, \" escaped\" after it or nothing)"},
        {"status 200\nkeine Zeile\n\n", "line 2: no header line \"Name: value\""},
        {"status 200\nA B: c\n\n", "line 2: no header line \"Name: value\""},
        {"status 200\n: c\n\n", "line 2: no header line \"Name: value\""},
        {"status 200\nA: \\x0D\\x0ASet-Cookie: x\n\n", "line 2: a backslash that is no \\xHH, or a control byte"},
        {"status 200\nA: \\y\n\n", "line 2: a backslash that is no \\xHH, or a control byte"},
        {"status 200\nA: \\x4\n\n", "line 2: a backslash that is no \\xHH, or a control byte"},
        {"status 200 escaped\n\nab\\", "the escaped body holds a backslash that is no \\xHH"},
        {"status 200 escaped\n\n\\xG0", "the escaped body holds a backslash that is no \\xHH"},
    };
    for (const Lesefall &f : faelle) {
        Antwort a;
        std::string fehler;
        std::string erg = schnappschuss_lesen(f.text, &a, &fehler) ? schnappschuss_text(a) : fehler;
        EXPECT_EQ(erg, f.ergebnis) << f.text;
    }
}

struct Unterschied {
    Antwort neu, alt;
    Liste ohne;
    const char *erster; // empty: the same
};

TEST(Snapshot, TheFirstDifferenceInEachPlace)
{
    const Antwort basis{200, {"Content-Type: text/plain", "Date: 1"}, "hallo welt"};
    const Unterschied faelle[] = {
        {basis, basis, {}, ""},
        {{404, basis.kopf, "ganz anders"}, basis, {}, "status 404 (snapshot: 200)"},
        {{200, {"Content-Type: text/html", "Date: 1"}, "x"},
         basis,
         {},
         "header Content-Type: \"text/html\" (snapshot: \"text/plain\")"},
        // Names in any case, blanks around the value not counted.
        {{200, {"content-type:text/plain  ", "DATE: 1"}, "hallo welt"}, basis, {}, ""},
        {{200, {"Content-Type: text/plain"}, "hallo welt"}, basis, {}, "header Date is missing (snapshot: \"1\")"},
        {{200, {"Content-Type: text/plain", "Date: 1", "X-Neu: ja"}, "hallo welt"},
         basis,
         {},
         "header X-Neu: \"ja\" is not in the snapshot"},
        {{200, {"Date: 1", "Content-Type: text/plain"}, "hallo welt"},
         basis,
         {},
         "header Date: \"1\" where the snapshot has Content-Type: \"text/plain\""},
        // An ignored header: another value, or none, on either side.
        {{200, {"Content-Type: text/plain", "Date: 2"}, "hallo welt"}, basis, {"date"}, ""},
        {{200, {"Content-Type: text/plain"}, "hallo welt"}, basis, {"DATE"}, ""},
        {{200, {"Set-Cookie: a", "Content-Type: text/plain"}, "hallo welt"}, basis, {"Date", "set-cookie"}, ""},
        {{200, {"Content-Type: text/plain", "Date: 2"}, "hallo Welt"},
         basis,
         {"Date"},
         "body at offset 6: \"Welt\" (snapshot: \"welt\")"},
        {{200, basis.kopf, "hallo"}, basis, {}, "body at offset 5: ends (snapshot: 5 more bytes, \" welt\")"},
        {{200, basis.kopf, "hallo welt!\n"}, basis, {}, "body at offset 10: 2 more bytes, \"!\\x0A\" (snapshot: ends)"},
        // A binary body: the excerpt escaped, 24 bytes of each.
        {{200, {}, "\x89PNG\r\n\x1A\n"s + std::string(40, '\0')},
         {200, {}, "\x89PNG\r\n\x1A\n"s + std::string(20, '\0') + "\xFF"},
         {},
         "body at offset 28: "
         "\"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
         "\\x00\" (snapshot: \"\\xFF\")"},
    };
    for (const Unterschied &u : faelle)
        EXPECT_EQ(erster_unterschied(u.neu, u.alt, u.ohne), u.erster) << u.erster;
}

struct Erwartet {
    Erwartung e;
    Liste verfehlt;
};

TEST(Snapshot, ExpectationsOneLineForEachFailed)
{
    const Antwort a{303, {"Location: https://example.org/thanks", "Set-Cookie: a=1", "Set-Cookie: b=2"}, ""};
    const Erwartet faelle[] = {
        {{}, {}},
        {{303, {"location: https://example.org/thanks"}}, {}},
        {{0, {"Set-Cookie: b=2"}}, {}}, // one of several
        {{200, {}}, {"expected status 200, got 303"}},
        {{0, {"Set-Cookie: c=3"}}, {"expected header Set-Cookie: \"c=3\", got \"a=1\", \"b=2\""}},
        {{201, {"Content-Type: text/html", "Location:https://example.org/thanks "}},
         {"expected status 201, got 303", "expected header Content-Type: \"text/html\", got none"}},
    };
    for (const Erwartet &f : faelle)
        EXPECT_EQ(erwartung_verfehlt(a, f.e), f.verfehlt);
    EXPECT_TRUE(ist_erwarteter_kopf("X-A: 1"));
    EXPECT_TRUE(ist_erwarteter_kopf("X-A:"));
    EXPECT_FALSE(ist_erwarteter_kopf("X-A"));
    EXPECT_FALSE(ist_erwarteter_kopf("X A: 1"));
    EXPECT_FALSE(ist_erwarteter_kopf(": 1"));
}

TEST(Snapshot, FileNameFromTheRecordsNeverHiddenNeverAWayOut)
{
    const std::pair<const char *, const char *> faelle[] = {
        {"/var/lib/vokt/cgidump.d/20261208T101502.000001Z-4711", "20261208T101502.000001Z-4711"},
        {"post.rec", "post.rec"},
        {".hidden", "%2Ehidden"},
        {"dir/..", "%2E."},
        {"a b%c", "a%20b%25c"},
        {"zeile\nund\x1B[31m", "zeile%0Aund%1B%5B31m"},
        {"\xE4rger", "%E4rger"},
        {"a_b", "a_b"}, // two names never meet: "a b" is a%20b
    };
    for (const auto &[pfad, name] : faelle)
        EXPECT_EQ(schnappschussname(pfad), name) << pfad;
}

struct Ausgabe {
    std::string ausgabe;
    Antwort antwort;
};

TEST(Snapshot, ACgiProgramsOutputAsTheResponseOfAWebServer)
{
    const Ausgabe faelle[] = {
        {"Content-Type: text/plain\n\nhallo", {200, {"Content-Type: text/plain"}, "hallo"}},
        {"Status: 404 Not Found\r\nContent-Type:  text/html \r\n\r\n<p>", {404, {"Content-Type: text/html"}, "<p>"}},
        {"Location: https://example.org/\n\n", {302, {"Location: https://example.org/"}, ""}},
        {"Location: /anders\n\n", {302, {"Location: /anders"}, ""}},
        {"Status: 301\nLocation: https://example.org/\nContent-Type: text/plain\n\nmoved",
         {301, {"Location: https://example.org/", "Content-Type: text/plain"}, "moved"}},
        // No valid CGI response: what a web server answers, the output kept.
        {"hallo\n", {500, {}, "hallo\n"}},
        {"", {500, {}, ""}},
        {"Content-Type: text/plain\n", {500, {}, "Content-Type: text/plain\n"}},
    };
    for (const Ausgabe &f : faelle)
        EXPECT_TRUE(gleich(cgi_antwort(f.ausgabe), f.antwort)) << f.ausgabe;
}

} // namespace
