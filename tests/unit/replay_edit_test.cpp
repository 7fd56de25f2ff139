// What vokt replay and vokt curl do to a record and make of a program's
// output, without I/O: the edits (aendern.h) and the response verdict
// (antwort.h), each as a table.
#include "aendern.h"
#include "antwort.h"
#include "intern/aufzeichnung.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Liste = std::vector<std::string>;

const Liste AUFNAHME = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_COOKIE=a",   "HTTP_X=1",
                        "HTTP_COOKIE=b",       "HTTP_X_Y=2",       "QUERY_STRING=q=1"};

// The edits as written in a table: "NAME=VALUE" a --set, "-NAME" an
// --unset; neu the new body's length, -1 for none.
Aenderungen edits(const Liste &schritte, long neu)
{
    Aenderungen ae;
    for (const std::string &s : schritte) {
        std::string_view t = s;
        std::size_t gleich = t.find('=');
        if (t[0] == '-')
            ae.schritte.push_back({t.substr(1), std::nullopt});
        else
            ae.schritte.push_back({t.substr(0, gleich), t.substr(gleich + 1)});
    }
    if (neu >= 0)
        ae.neuer_inhalt = static_cast<std::uint64_t>(neu);
    return ae;
}

TEST(Edit, EachEditInTurnOnTheEntries)
{
    struct Fall {
        const char *was;
        Liste schritte;
        long neu;
        Liste erwartet;
    };
    const Fall faelle[] = {
        {"nothing", {}, -1, AUFNAHME},
        {"set in place",
         {"HTTP_X=neu"},
         -1,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_COOKIE=a", "HTTP_X=neu", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING=q=1"}},
        {"set a repeated name: one entry, where the first was",
         {"HTTP_COOKIE=c"},
         -1,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_COOKIE=c", "HTTP_X=1", "HTTP_X_Y=2", "QUERY_STRING=q=1"}},
        {"set a new name, a value with '=' and a line feed",
         {"HTTP_NEU=a=b\nc"},
         -1,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING=q=1", "HTTP_NEU=a=b\nc"}},
        {"set empty",
         {"QUERY_STRING="},
         -1,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING="}},
        {"unset every entry of the name, no other",
         {"-HTTP_COOKIE", "-HTTP_X"},
         -1,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_X_Y=2", "QUERY_STRING=q=1"}},
        {"unset what is not there", {"-NIRGENDS", "-HTTP"}, -1, AUFNAHME},
        {"set, then unset",
         {"HTTP_X=2", "-HTTP_X"},
         -1,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=7", "HTTP_COOKIE=a", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING=q=1"}},
        {"unset, then set: at the end",
         {"-REQUEST_METHOD", "REQUEST_METHOD=PUT"},
         -1,
         {"CONTENT_LENGTH=7", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2", "QUERY_STRING=q=1",
          "REQUEST_METHOD=PUT"}},
        {"a new body: its length",
         {},
         12,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=12", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING=q=1"}},
        {"a new empty body",
         {},
         0,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=0", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING=q=1"}},
        {"a new body and a length of the caller's",
         {"CONTENT_LENGTH=99"},
         12,
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=99", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2",
          "QUERY_STRING=q=1"}},
        {"a new body, the length unset",
         {"-CONTENT_LENGTH"},
         12,
         {"REQUEST_METHOD=POST", "HTTP_COOKIE=a", "HTTP_X=1", "HTTP_COOKIE=b", "HTTP_X_Y=2", "QUERY_STRING=q=1"}},
    };
    for (const Fall &f : faelle)
        EXPECT_EQ(aendern(AUFNAHME, edits(f.schritte, f.neu)), f.erwartet) << f.was;
    EXPECT_EQ(aendern({"REQUEST_METHOD=GET"}, edits({}, 3)), (Liste{"REQUEST_METHOD=GET", "CONTENT_LENGTH=3"}))
        << "a body for a request that had none";
}

// The edited entries, written as a record's entries part, read back as
// they are, whatever they hold: a value with a line feed cannot end the
// entries or forge one.
TEST(Edit, TheEditedRecordReadsBackAsItWasEdited)
{
    struct Fall {
        Liste eintraege;
        bool mit_laenge;
        long long laenge;
        std::string inhalt;
    };
    const Fall faelle[] = {
        {{"REQUEST_METHOD=POST", "PATH_INFO=/x\n*0\nREMOTE_ADDR=6.6.6.6", "HTTP_A=\tb"}, true, 3, "a\nb"},
        {{"REQUEST_METHOD=GET", "QUERY_STRING="}, true, 0, ""},
        {{"REQUEST_METHOD=BREW", "HTTP_X=a\n"}, false, 0, ""},
        {{"REQUEST_METHOD=POST"}, true, -1, "*5\nx"},
    };
    for (const Fall &f : faelle) {
        vokt::intern::Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(kopfteil(f.eintraege, f.mit_laenge, f.laenge) + f.inhalt)) << f.eintraege[0];
        EXPECT_EQ(a.eintraege(), f.eintraege);
        EXPECT_EQ(a.mit_laenge(), f.mit_laenge);
        EXPECT_EQ(a.angesagt(), f.laenge);
        EXPECT_EQ(a.inhalt(), f.inhalt);
        EXPECT_FALSE(a.alte_regel());
    }
}

TEST(Response, TheVerdictOnTheOutputsStart)
{
    const auto LF = Urteil::LF, CRLF = Urteil::CRLF, MIX = Urteil::GEMISCHT, KEINE = Urteil::KEINE;
    struct Fall {
        std::string anfang;
        bool ganz;
        bool gueltig;
        Urteil::Zeilenende ende;
        std::string status; // the well-formed Status value
        std::string grund;  // part of the reason
    };
    const Fall faelle[] = {
        {"Content-Type: text/html\n\n<p>x</p>\n", true, true, LF, "", ""},
        {"Content-Type: text/html\r\n\r\n<p>x</p>\r\n\n", true, true, CRLF, "", ""},
        {"content-type:text/plain\n\n", true, true, LF, "", ""},
        {"Location: /anders\n\n", true, true, LF, "", ""},
        {"Status: 404 Not Found\r\nContent-Type: text/plain\r\n\r\n", true, true, CRLF, "404 Not Found", ""},
        {"Status:  204  \n\n", true, true, LF, "204", ""},
        {"Content-Type: a\r\nX-A: b\n\n", true, true, MIX, "", ""},
        {"Content-Type: a\n\r\n", true, true, MIX, "", ""},
        {"X-Powered-By: sh\n\n<p>", true, false, LF, "", "no Content-Type, Location or Status header"},
        {"\nContent-Type: text/html\n\n", true, false, LF, "", "no Content-Type, Location or Status header"},
        {"Status: abc\nContent-Type: text/plain\n\n", true, false, LF, "", "a malformed Status line (\"Status: abc\")"},
        {"Content-Type: t\nStatus: 2000 x\n\n", true, false, LF, "", "malformed Status line"},
        {"Status: 099 Low\n\n", true, false, LF, "", "malformed Status line"},
        {"Status: 600\n\n", true, false, LF, "", "malformed Status line"},
        {"Status: 20\n\n", true, false, LF, "", "malformed Status line"},
        {"Status: 200OK\n\n", true, false, LF, "", "malformed Status line"},
        {"<html><body>hi</body></html>\n", true, false, LF, "",
         "line 1 is no header line (\"<html><body>hi</body></html>\")"},
        {"Content-Type: a\nContent Type: text/html\n\n", true, false, LF, "", "line 2 is no header line"},
        {" Content-Type: text/html\n\n", true, false, LF, "", "no header line"},
        {"Content-Type: a\rb\n\n", true, false, LF, "", "a control byte in the header Content-Type"},
        {"Content-Type: text/html\n<p>", true, false, LF, "", "the header does not end"},
        {"Content-Type: text/html", true, false, KEINE, "", "the header does not end"},
        {"Content-Type: text/html\n" + std::string(70000, 'x'), false, false, LF, "", "within the first 64 KiB"},
        {"", true, false, KEINE, "", "no output"},
        // The kinds of response: a document, a local and a client redirect.
        {"Status: 200 OK\n\nHello", true, false, LF, "200 OK", "a body follows, but no Content-Type header"},
        {"Status: 200 OK\n\n", false, false, LF, "200 OK", "a body follows, but no Content-Type header"},
        {"Status: 204 No Content\n\n", true, true, LF, "204 No Content", ""},
        {"Location: /anders\n\nbody", true, false, LF, "", "a local redirect (Location /anders) has no body"},
        {"Location: /anders\nX-A: b\n\n", true, false, LF, "", "has no other header field (X-A)"},
        {"Location: /anders\nStatus: 302 Found\n\n", true, false, LF, "302 Found", "has no other header field (Status)"},
        {"Location: https://example.org/x#y\nSet-Cookie: a=1\n\n", true, true, LF, "", ""},
        {"Location: http://example.org/\nStatus: 302 Found\nContent-Type: text/html\n\n<a>", true, true, LF,
         "302 Found", ""},
        {"Location: http://example.org/\nContent-Type: text/html\n\n<a>", true, false, LF, "",
         "a client redirect with a body needs a Status of 3xx"},
        {"Location: anders\n\n", true, false, LF, "", "is neither a local path (/...) nor an absolute URI"},
        {"Content-Type: a\ncontent-type: b\n\n", true, false, LF, "", "Content-Type appears more than once"},
        {"Status: 200 OK\nContent-Type: a\nStatus: 404 x\n\n", true, false, LF, "404 x",
         "Status appears more than once"},
    };
    for (const Fall &f : faelle) {
        Urteil u = antwort_pruefen(f.anfang, f.ganz);
        std::string zeile = f.anfang.substr(0, 40);
        EXPECT_EQ(u.gueltig, f.gueltig) << zeile;
        EXPECT_EQ(u.gueltig, u.grund.empty()) << zeile;
        EXPECT_EQ(u.zeilenende, f.ende) << zeile;
        EXPECT_EQ(u.status, f.status) << zeile;
        EXPECT_NE(u.grund.find(f.grund), std::string::npos) << zeile << ": " << u.grund;
        EXPECT_EQ(urteil_text(u).find('\n'), std::string::npos) << "one line";
    }
}

} // namespace
