// vokt diff: the form pairs decoded as vokt.cgi decodes them, the
// comparison of two records as a table of records and the lines it
// gives, and one run of vokt diff with its exit statuses.
#include "form_reference.h"
#include "anfrage.h"
#include "intern/aufzeichnung.h"
#include "vergleich.h"
#include "vokt_lauf.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using vokt::intern::Aufzeichnung;

TEST(DiffForm, PairsAsTheProgramStoresThem)
{
    struct {
        std::string text;
        Formpaare paare;
    } faelle[] = {
        {"", {}},
        {"a=1&b=x+y", {{"a", "1"}, {"b", "x y"}}},
        {"a=1&b", {{"a", "1"}, {"a", "b"}}}, // a pair without '=' keeps the name before
        {"=x&y", {{"", "x"}, {"", "y"}}},
        {"a=b=c", {{"b", "c"}}},
        {"a=1&", {{"a", "1"}, {"a", ""}}},
        {"%41%2b%4", {{"", "A+@"}}},
        {"n=%zz1&m=%00x&k%00z=1", {{"n", ""}, {"m", ""}, {"k", "1"}}},
        {"%=%", {{"\0"s.substr(0, 0), ""}}},
        {"x=M%FC%", {{"x", "M\xFC\0"s.substr(0, 2)}}},
    };
    for (const auto &f : faelle) {
        EXPECT_EQ(formpaare(f.text), f.paare) << f.text;
        // The last value of each name is what the program's map holds.
        Formpaare modell;
        for (const auto &[name, wert] : reference::decode(f.text).pairs)
            modell.push_back({name, wert});
        EXPECT_EQ(letzte_werte(formpaare(f.text)), modell) << f.text;
    }
}

Aufzeichnung lies(const std::string &daten)
{
    Aufzeichnung a;
    EXPECT_TRUE(a.zerlegen(daten)) << daten;
    return a;
}

TEST(DiffCompare, TwoRecordsGiveTheirDifferences)
{
    const std::vector<std::string> ohne = stets_anders();
    struct {
        std::string a, b;
        std::vector<std::string> zeilen;
        bool verschieden;
    } faelle[] = {
        {"A=1\nB=2\n*1\nx", "A=1\nB=2\n*1\nx", {}, false},
        {"A=1\nREMOTE_PORT=1\nUNIQUE_ID=u\n*0\n", "A=1\nREMOTE_PORT=2\nUNIQUE_ID=v\n*0\n", {}, false},
        {"A=1\nB=2\n*0\n", "B=3\nC=4\n*0\n", {"- A = \"1\"", "~ B: \"2\" -> \"3\"", "+ C = \"4\""}, true},
        {"A=1\nA=2\n*0\n", "A=2\n*0\n", {"# A appears more than once in A: its last value is compared"}, false},
        {"A=1\nA=2\n*0\n",
         "A=2\nA=3\n*0\n",
         {"# A appears more than once in A and B: its last value is compared", "~ A: \"2\" -> \"3\""},
         true},
        {"A=\x1b[1m\"\n*0\n", "A=\n*0\n", {"~ A: \"\\x1B[1m\\x22\" -> \"\""}, true},
        {"A=1\n*3\nabc",
         "A=1\n*3\nabd",
         {"~ body: differs from byte 2 on (A 3 bytes, B 3 bytes)", "~ form : \"abc\" -> \"abd\""},
         true},
        {"A=1\n*3\nabc", "A=1\n*5\nabc", {"~ length line: *3 -> *5"}, true},
        {"A=1\n", "A=1\n*0\n", {"~ length line: none -> *0"}, true},
        {"A=1\n*0\n",
         "A=1\n*2\nab",
         {"~ length line: *0 -> *2", "~ body: differs from byte 0 on (A 0 bytes, B 2 bytes)", "+ form  = \"ab\""},
         true},
        {"QUERY_STRING=a=1&b=%41\n*0\n",
         "QUERY_STRING=b=A&a=1\n*0\n",
         {"~ QUERY_STRING: \"a=1&b=%41\" -> \"b=A&a=1\""},
         true},
        {"CONTENT_TYPE=application/x-www-form-urlencoded\n*5\nx=1&y",
         "CONTENT_TYPE=application/x-www-form-urlencoded\n*7\nx=2&z=1",
         {"~ length line: *5 -> *7", "~ body: differs from byte 2 on (A 5 bytes, B 7 bytes)",
          "~ form x: \"y\" -> \"2\"", "+ form z = \"1\""},
         true},
        {"CONTENT_TYPE=multipart/form-data\n*3\na=1",
         "CONTENT_TYPE=multipart/form-data\n*3\na=2",
         {"~ body: differs from byte 2 on (A 3 bytes, B 3 bytes)"},
         true},
    };
    for (const auto &f : faelle) {
        SCOPED_TRACE(f.a + " | " + f.b);
        Aufzeichnung a = lies(f.a);
        Aufzeichnung b = lies(f.b);
        auto liste = vergleichen({a, a.inhalt()}, {b, b.inhalt()}, ohne);
        std::vector<std::string> zeilen;
        for (const Unterschied &u : liste)
            zeilen.push_back(beschreibung(u));
        EXPECT_EQ(zeilen, f.zeilen);
        EXPECT_EQ(verschieden(liste), f.verschieden);
    }
}

TEST(DiffCompare, IgnoredNamesAreLeftOutOnlyWhenAsked)
{
    Aufzeichnung a = lies("REMOTE_PORT=1\nX=1\n*0\n");
    Aufzeichnung b = lies("REMOTE_PORT=2\nX=2\n*0\n");
    EXPECT_EQ(vergleichen({a, ""}, {b, ""}, {}).size(), 2U);
    EXPECT_EQ(vergleichen({a, ""}, {b, ""}, {"X", "REMOTE_PORT"}).size(), 0U);
}

using DiffCommand = vokt_lauf::Ordner;

TEST_F(DiffCommand, ExitStatusAsDiff)
{
    vokt_lauf::schreib(ordner + "/a", "REQUEST_METHOD=POST\nREMOTE_PORT=1\nHTTP_X=1\n*3\na=1");
    vokt_lauf::schreib(ordner + "/b", "REQUEST_METHOD=POST\nREMOTE_PORT=2\n*3\na=2");
    vokt_lauf::Lauf l = vokt("diff a b");
    EXPECT_EQ(l.status, 1) << l.fehler;
    EXPECT_EQ(l.aus,
              "- HTTP_X = \"1\"\n~ body: differs from byte 2 on (A 3 bytes, B 3 bytes)\n~ form a: \"1\" -> \"2\"\n");
    EXPECT_EQ(vokt("diff a b --all").aus.find("~ REMOTE_PORT: \"1\" -> \"2\"\n"), 0U);
    l = vokt("diff a a --ignore HTTP_X");
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.aus, "");
    EXPECT_EQ(vokt("diff a fehlt").status, 2);
    EXPECT_EQ(vokt("diff a").status, 2);
}

} // namespace
