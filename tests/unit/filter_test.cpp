// The filter language: what is no filter and where it says so, what each
// test matches on a set of records (the manual's examples among them, kept
// in step with vokt(1)), a body searched across the pieces it is read in,
// a body never read for a test on the entries; and the commands that take
// --where, run on a folder.
#include "aufzeichnungsdatei.h"
#include "filter.h"
#include "pruefling.h"
#include "vokt_lauf.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using vokt::intern::Aufzeichnung;

// 2026-12-08T13:00:00Z, the "now" of the tests' ages.
constexpr Zeitpunkt JETZT{1796734800, 0};

struct Satz {
    std::string daten;
    Zeitpunkt zeit;
};

std::string grosser_inhalt()
{
    return std::string(2 << 20, 'a') + "\xff"
                                       "END";
}

const std::vector<Satz> &saetze()
{
    static const std::vector<Satz> s = {
        // 0: a form POST, 2026-12-08T10:00Z
        {"REQUEST_METHOD=POST\nREQUEST_URI=/login\nCONTENT_TYPE=application/x-www-form-urlencoded\n*20\n"
         "user=anna&password=x",
         {1796724000, 0}},
        // 1: JSON, cut short, with a bearer token, 2026-12-07T00:00Z
        {"REQUEST_METHOD=POST\nREQUEST_URI=/api/v2/items\nCONTENT_TYPE=application/json\n"
         "HTTP_AUTHORIZATION=Bearer t\n*100\n{\"a\":1}",
         {1796601600, 0}},
        // 2: a GET from the loopback address, 2026-12-08T12:00Z
        {"REQUEST_METHOD=GET\nREQUEST_URI=/index?debug=1\nQUERY_STRING=debug=1\nREMOTE_ADDR=127.0.0.1\n*0\n",
         {1796731200, 0}},
        // 3: 2 MiB and a bit, 2026-12-08T11:00Z
        {"REQUEST_METHOD=PUT\nREQUEST_URI=/up\n*2097156\n" + grosser_inhalt(), {1796727600, 0}},
        // 4: refused before its body, 2026-12-01T00:00Z
        {"REQUEST_METHOD=HEAD\nREQUEST_URI=/x\nREMOTE_ADDR=127.0.0.1\n", {1796083200, 0}},
    };
    return s;
}

// Which records the filter matches: "10010" for the first and the fourth.
std::string treffer_von(const std::string &text)
{
    Filter f;
    Filterfehler fehler;
    if (!f.lesen(text, JETZT, &fehler))
        return "error at " + std::to_string(fehler.bei + 1) + ": " + fehler.was;
    std::string erg;
    for (const Satz &s : saetze()) {
        Aufzeichnung a;
        EXPECT_TRUE(a.zerlegen(s.daten));
        Pruefling p(a, s.zeit, -1);
        erg += f.trifft(p) ? '1' : '0';
    }
    return erg;
}

struct Fall {
    const char *filter;
    const char *treffer;
};

// The examples of vokt(1), FILTERS.
const Fall BEISPIELE[] = {
    {"method=POST and body~\"password\"", "10000"},
    {"header:Content-Type~json and not whole", "01000"},
    {"path=~\"^/api/v[0-9]+/\" or query~debug=1", "01100"},
    {"form:user=anna since=2026-12-08", "10000"},
    {"header:authorization", "01000"},
    {"size>1M and age<1d", "00010"},
    {"method=post and note~shorter", "01000"},
    {"entry:REMOTE_ADDR=\"127.0.0.1\" (method=GET or method=HEAD)", "00101"},
    {"path=~^/api/", "01000"},
};

TEST(Filter, TheManualsExamplesMatchWhatItSays)
{
    for (const Fall &f : BEISPIELE)
        EXPECT_EQ(treffer_von(f.filter), f.treffer) << f.filter;
    // Every example in the manual is one of them, and each of them is there.
    std::string seite = vokt_lauf::lies(VOKT_QUELLE "/man/vokt.1.scd");
    std::set<std::string> im_handbuch, hier;
    for (std::size_t ab = seite.find("--where '"); ab != std::string::npos; ab = seite.find("--where '", ab + 1)) {
        std::size_t anfang = ab + 9;
        im_handbuch.insert(seite.substr(anfang, seite.find('\'', anfang) - anfang));
    }
    for (const Fall &f : BEISPIELE)
        hier.insert(f.filter);
    EXPECT_EQ(im_handbuch, hier);
}

TEST(Filter, EachFieldOnTheRecordsBytes)
{
    const Fall faelle[] = {
        {"method=post", "11000"}, // the method without regard to case
        {"METHOD~OS", "11000"},
        {"method=~^p", "11010"},
        {"target=/index?debug=1", "00100"},
        {"path=/index", "00100"},
        {"query=debug=1", "00100"},
        {"query=\"\"", "11011"}, // empty: quoted
        {"body=\"user=anna&password=x\"", "10000"},
        {"body=user", "00000"}, // equal is all of it
        {"body~\"\\xffEND\"", "00010"},
        {"body=~\"\\xff\"", "00010"}, // bytes, not UTF-8
        {"form~anna", "10000"},
        {"form:debug=1", "00100"}, // from the query too
        {"form:password", "10000"},
        {"header~Bearer", "01000"},
        {"header:AUTHORIZATION=~^bearer", "00000"}, // a value keeps its case
        {"header:Authorization=~\"(?i)^bearer\"", "01000"},
        {"header:content-type", "11000"},
        {"header:remote-addr", "00000"}, // an entry, no header
        {"entry:REMOTE_ADDR", "00101"},
        {"entry:remote_addr", "00000"}, // an entry's name is exact
        {"none", "00001"},
        {"short", "01000"},
        {"whole", "10110"},
        {"more", "00000"},
        {"size=0", "00101"},
        {"size<=20", "11101"},
        {"size>=2M", "00010"},
        {"until=2026-12-08", "01001"},
        {"since=2026-12-08T11:00:00Z", "00110"},
        {"since=2026-12-08T10:00:00.000001", "00110"},
        {"age>1d", "01001"},
        {"age<=2h", "00110"},
        {"note~shorter", "01000"},
        {"method=GET method=HEAD", "00000"}, // side by side: and
        {"not (method=GET or method=HEAD) and not size>1k", "11000"},
        {"not not none", "00001"},
        {"method=get OR (NOT method=get AND none)", "00101"},
    };
    for (const Fall &f : faelle)
        EXPECT_EQ(treffer_von(f.filter), f.treffer) << f.filter;
}

TEST(Filter, WhatIsNoFilterIsSaidWithItsPosition)
{
    const struct {
        std::string text;
        const char *bei_und_was;
    } faelle[] = {
        {"", "error at 1: a test expected"},
        {"method", "error at 1: method takes =, ~ or =~"},
        {"method=", "error at 8: a value expected"},
        {"foo=1", "error at 1: unknown field 'foo'"},
        {"(method=GET", "error at 12: the '(' at byte 1 is not closed"},
        {"method=GET)", "error at 11: an operator"},
        {"body=\"abc", "error at 6: the '\"' at byte 6 is not closed"},
        {"body=~\"(a\"", "error at 7: no regular expression"},
        {"size>5x", "error at 6: a size expected"},
        {"age=1d", "error at 1: age takes <, >"},
        {"method<3", "error at 1: method takes ="},
        {"since=2026-02-30", "error at 7: a time expected"},
        {"until=2026-12-08T10", "error at 7: a time expected"},
        {"whole=1", "error at 1: whole takes no value"},
        {"method:x=1", "error at 1: method takes no ':NAME'"},
        {"entry=1", "error at 1: entry needs a NAME"},
        {"header:=1", "error at 8: a NAME expected"},
        {"not", "error at 4: a test expected"},
        {"method=GET or", "error at 14: a test expected"},
        {std::string(200, '(') + "none", "error at 101: nested more than 100 deep"},
    };
    for (const auto &f : faelle)
        EXPECT_EQ(treffer_von(f.text).substr(0, std::string(f.bei_und_was).size()), f.bei_und_was) << f.text;
    std::string viele;
    for (int i = 0; i < 600; ++i)
        viele += "none ";
    EXPECT_NE(treffer_von(viele).find("more than 1000 tests"), std::string::npos);
}

class FilterOnAFile : public vokt_lauf::Ordner {
protected:
    // The record in a file, its entries read, its body in the file.
    int oeffnen(const std::string &daten, Aufzeichnung &a)
    {
        std::string pfad = ordner + "/r";
        vokt_lauf::schreib(pfad, daten);
        return laden(pfad.c_str(), a);
    }

    static bool trifft(const char *text, Pruefling &p)
    {
        Filter f;
        Filterfehler fehler;
        EXPECT_TRUE(f.lesen(text, JETZT, &fehler)) << fehler.was;
        return f.trifft(p);
    }
};

// The body is searched in pieces of 1 MiB: a match across their seam.
TEST_F(FilterOnAFile, BodySearchFindsAMatchAcrossThePiecesItReads)
{
    std::string inhalt(3 << 20, 'x');
    inhalt.replace((1 << 20) - 2, 5, "NADEL");
    inhalt.replace((2 << 20) - 1, 4, "ENDE");
    Aufzeichnung a;
    int fd = oeffnen("REQUEST_METHOD=PUT\n*" + std::to_string(inhalt.size()) + "\n" + inhalt, a);
    ASSERT_GE(fd, 0);
    Pruefling p(a, {}, fd);
    EXPECT_TRUE(trifft("body~NADEL", p));
    EXPECT_TRUE(trifft("body~ENDE", p));
    EXPECT_FALSE(trifft("body~NADELN", p));
    EXPECT_TRUE(trifft("body~xxxxxx", p));
    EXPECT_EQ(p.lesefehler(), 0);
    close(fd);
}

// The body is cut off the file after its entries were read: a test that
// reads it fails, and says so; the tests on the entries never touch it.
TEST_F(FilterOnAFile, ATestOnTheEntriesNeverReadsTheBody)
{
    Aufzeichnung a;
    std::string kopf = "REQUEST_METHOD=POST\nCONTENT_TYPE=application/x-www-form-urlencoded\n*5\n";
    int fd = oeffnen(kopf + "a=b&c", a);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(truncate((ordner + "/r").c_str(), static_cast<off_t>(kopf.size())), 0);
    fd = open((ordner + "/r").c_str(), O_RDONLY);
    for (const char *text : {"method=POST", "size=5 whole", "body~zzz or method=POST", "body~a and method=GET",
                             "form:a and not method=POST", "note~x and since=2027-01-01"}) {
        Pruefling p(a, {}, fd);
        trifft(text, p);
        EXPECT_EQ(p.lesefehler(), 0) << text;
    }
    for (const char *text : {"body~a", "form:a", "note~x"}) {
        Pruefling p(a, {}, fd);
        EXPECT_FALSE(trifft(text, p)) << text;
        EXPECT_EQ(p.lesefehler(), ENODATA) << text;
    }
    close(fd);
}

using WhereCommand = vokt_lauf::Ordner;

// A history of three records and a file that is no record.
void verlauf(const std::string &ordner)
{
    ASSERT_EQ(mkdir((ordner + "/h").c_str(), 0700), 0);
    vokt_lauf::schreib(ordner + "/h/20261208T101502.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/eins\n*0\n");
    vokt_lauf::schreib(ordner + "/h/20261208T101503.000001Z-2",
                       "REQUEST_METHOD=POST\nREQUEST_URI=/bad\nCONTENT_TYPE=text/plain\n*3\nzwei");
    vokt_lauf::schreib(ordner + "/h/20261208T101501.000001Z-3",
                       "REQUEST_METHOD=POST\nREQUEST_URI=/drei\nCONTENT_TYPE=text/plain\n*4\ndrei");
    vokt_lauf::schreib(ordner + "/h/kein", "nur Text\n");
}

TEST_F(WhereCommand, ListShowBodyAndHarTakeTheMatchesInTimeOrder)
{
    verlauf(ordner);
    vokt_lauf::Lauf l = vokt({"list", "--where", "method=POST and body~e", "h"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, "TIME                         METHOD  TARGET  CONTENT-TYPE  LENGTH  BODY\n"
                     "2026-12-08T10:15:03.000001Z  POST    /bad    text/plain    4       more\n"
                     "2026-12-08T10:15:01.000001Z  POST    /drei   text/plain    4       whole\n");
    EXPECT_NE(l.fehler.find("skipped kein"), std::string::npos) << l.fehler;
    l = vokt({"body", "--where", "method=POST", "h"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, "dreizwei"); // oldest first
    l = vokt({"show", "--where", "body~e", "h"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus.find("POST /bad"), 0U) << l.aus; // the newest
    l = vokt({"har", "--where", "not method=GET", "h"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    std::size_t drei = l.aus.find("/drei"), bad = l.aus.find("/bad");
    EXPECT_LT(drei, bad);
    EXPECT_EQ(l.aus.find("/eins"), std::string::npos);
    EXPECT_EQ(l.aus.find("/drei", drei + 1), std::string::npos); // one entry each
}

TEST_F(WhereCommand, NoMatchIsExitOneAndABadFilterOneLineAndExitTwo)
{
    verlauf(ordner);
    for (const char *befehl : {"list", "har", "show", "body"}) {
        vokt_lauf::Lauf l = vokt({befehl, "--where", "method=DELETE", "h"});
        EXPECT_EQ(l.status, 1) << befehl;
        EXPECT_EQ(l.aus, "") << befehl;
        EXPECT_NE(l.fehler.find("no record at h matches the filter"), std::string::npos) << l.fehler;
        l = vokt({befehl, "--where", "method=GET and (size>1", "h"});
        EXPECT_EQ(l.status, 2) << befehl;
        EXPECT_EQ(l.aus, "") << befehl;
        EXPECT_EQ(l.fehler,
                  std::string("vokt: ") + befehl + ": bad filter at byte 23: the '(' at byte 16 is not closed\n");
    }
    vokt_lauf::Lauf l = vokt({"replay", "--where", "method=DELETE", "h", "--", "/bin/true"});
    EXPECT_EQ(l.status, 1);
    l = vokt({"replay", "--where", "method=", "h", "--", "/bin/true"});
    EXPECT_EQ(l.status, 2);
    EXPECT_EQ(l.fehler, "vokt: replay: bad filter at byte 8: a value expected\n");
}

TEST_F(WhereCommand, ReplayRunsEachMatchAndSaysWhichFailed)
{
    verlauf(ordner);
    std::string programm = ordner + "/p.cgi";
    vokt_lauf::schreib(programm, "#!/bin/sh\ncase \"$REQUEST_URI\" in /bad) exit 3;; esac\n"
                                 "printf 'Content-Type: text/plain\\n\\n'; cat\n");
    ASSERT_EQ(chmod(programm.c_str(), 0700), 0);
    vokt_lauf::Lauf l = vokt({"replay", "--where", "not none", "h", "--set", "X=1", "--", programm});
    EXPECT_EQ(l.status, 1) << l.fehler;
    EXPECT_EQ(l.aus,
              "2026-12-08T10:15:01.000001Z  /drei  exit 0  a valid CGI response (Content-Type; lines end in LF)\n"
              "2026-12-08T10:15:02.000001Z  /eins  exit 0  a valid CGI response (Content-Type; lines end in LF)\n"
              "2026-12-08T10:15:03.000001Z  /bad  exit 3  no valid CGI response: no output\n");
    l = vokt({"replay", "--where", "method=GET", "h", "--", programm});
    EXPECT_EQ(l.status, 0) << l.fehler;
    l = vokt({"replay", "--where", "method=GET", "h", programm});
    EXPECT_EQ(l.status, 2);
    EXPECT_NE(l.fehler.find("then -- PROGRAM"), std::string::npos) << l.fehler;
}

} // namespace
