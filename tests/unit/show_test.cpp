// vokt show: the body's views by type, the multipart reader, the form
// decoding against the library's, the notes on a record, what reaches a
// terminal or a page, and one run of the program on a record file.
#include "anfrageansicht.h"
#include "ansicht.h"
#include "cgivar.h"
#include "hinweise.h"
#include "inhaltsansicht.h"
#include "intern/aufzeichnung.h"
#include "multipart.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace vokt::intern;
using namespace std::string_literals;

namespace {

using Liste = std::vector<std::string>;

std::string text_von(const std::vector<Zeile> &zeilen)
{
    return als_text(Ansicht{"T", {Abschnitt{"A", zeilen}}});
}

// A record of these entries, announcing angesagt bytes, with this body.
Aufzeichnung aufzeichnung(const Liste &eintraege, long long angesagt, const std::string &inhalt)
{
    std::string daten;
    for (const std::string &e : eintraege)
        daten += e + "\n";
    Aufzeichnung a;
    EXPECT_TRUE(a.zerlegen(daten + "*" + std::to_string(angesagt) + "\n" + inhalt));
    return a;
}

const std::string MP_TYP = "multipart/form-data; boundary=\"--b 1\"";

std::string teil(const std::string &kopf, const std::string &inhalt)
{
    return "----b 1\r\n" + kopf + "\r\n\r\n" + inhalt + "\r\n";
}

struct Sicht {
    std::string typ;
    std::string inhalt;
    Liste soll; // lines the text view holds
};

TEST(ShowBody, EachTypeHasItsView)
{
    const Sicht faelle[] = {
        {MP_TYP,
         teil("Content-Disposition: form-data; name=\"t\"", "hallo\r\nwelt") +
             teil("content-disposition: form-data; name=\"f\"; filename=\"x\\\".bin\"\r\nContent-Type: image/png",
                  "\x89PNG\0\x01"s) +
             "----b 1--\r\n",
         {"  multipart/form-data, 2 parts", "  part 1: name \"t\", 11 bytes", "    hallo", "    welt",
          "  part 2: name \"f\", filename \"x\".bin\", type image/png, 6 bytes",
          "    00000000  89 50 4e 47 00 01" + std::string(33, ' ') + "|.PNG..|"}},
        {MP_TYP,
         teil("Content-Disposition: form-data; name=\"t\"", "abc") + "----b 1",
         {"  multipart/form-data, 1 part", "    abc", "  broken multipart: the body ends after a delimiter"}},
        {MP_TYP,
         "----b 1\r\nContent-Disposition: form-data; name=\"t\"\r\nx",
         {"  multipart/form-data, 0 parts", "  broken multipart: part 1: its headers do not end"}},
        {"multipart/form-data", "--x\r\n\r\n", {"  broken multipart: no boundary in the Content-Type"}},
        {"application/json",
         "{\"a\":[1,\"\\u00fc\"],\"b\":null}",
         {"  JSON", "    {", "      \"a\": [", "        1,", "        \"\xC3\xBC\"", "      \"b\": null"}},
        {"application/json",
         "{\"a\":tru}",
         {"  invalid JSON, shown as it came: it breaks at byte 9 (parse error at line 1, column 9: syntax error "
          "while parsing value - invalid literal; last read: '\"a\":tru}')",
          "    {\"a\":tru}"}},
        {"", "[1,2]", {"  JSON", "    [", "      2"}},
        {"application/x-www-form-urlencoded; charset=ISO-8859-1",
         "n=M%FCller&_charset_=&x=%80",
         {"  urlencoded form, 3 pairs, charset iso-8859-1", "    n = M\xC3\xBCller", "    x = \\u{0080}"}},
        {"application/x-www-form-urlencoded",
         "n=M%C3%BCller+%26+S%F6hne",
         {"  urlencoded form, 1 pair, no charset declared", "    n = M\xC3\xBCller & S\\xF6hne"}},
        {"application/x-www-form-urlencoded", "_charset_=windows-1252&e=%80", {"    e = \xE2\x82\xAC"}},
        {"application/octet-stream",
         "\x00\x01\xFFz"s,
         {"  binary (application/octet-stream)", "    00000000  00 01 ff 7a" + std::string(39, ' ') + "|...z|"}},
        {"text/plain; charset=\"latin1\"",
         "Gr\xFC\xDF\tdich\r\n",
         {"  text (text/plain), charset latin1", "    Gr\xC3\xBC\xC3\x9F\\tdich"}},
        {"", "plain words", {"  text (no type), no charset declared; the bytes are UTF-8", "    plain words"}},
        {"text/plain", "", {"  empty"}},
    };
    for (const Sicht &f : faelle) {
        SCOPED_TRACE(f.typ + " | " + f.inhalt);
        std::string aus = text_von(inhalt_zeilen(f.typ, f.inhalt, true));
        for (const std::string &zeile : f.soll)
            EXPECT_NE(aus.find("\n" + zeile + "\n"), std::string::npos) << zeile << "\nin:\n" << aus;
    }
}

TEST(ShowBody, ACutBodyIsSaidToBeCut)
{
    EXPECT_NE(text_von(json_zeilen("{\"a\":", false)).find("only the start of the body"), std::string::npos);
    std::string gross(3000, 'x');
    std::string aus = text_von(inhalt_zeilen(MP_TYP, teil("Content-Disposition: form-data; name=\"g\"", gross), true));
    EXPECT_NE(aus.find("... the first 512 bytes of 3002 bytes"), std::string::npos) << aus;
    EXPECT_NE(aus.find("part 1 does not end"), std::string::npos) << aus;
    // The same bytes as the start of a longer body: cut by the view, not
    // broken; so too a delimiter line or a part's headers that the end cuts.
    const std::string anfaenge[] = {teil("Content-Disposition: form-data; name=\"g\"", gross),
                                    teil("Content-Disposition: form-data; name=\"g\"", "x") + "----b 1\r",
                                    "----b 1\r\nContent-Disposition: form-"};
    for (const std::string &anfang : anfaenge) {
        aus = text_von(inhalt_zeilen(MP_TYP, anfang, false));
        EXPECT_EQ(aus.find("broken"), std::string::npos) << aus;
        EXPECT_NE(aus.find("\n  the view ends within part "), std::string::npos) << aus;
    }
    EXPECT_NE(aus.find("(vokt show --all shows all of it, --part 1 -o FILE writes it)"), std::string::npos) << aus;
    aus = text_von(inhalt_zeilen(MP_TYP, teil("Content-Disposition: form-data; name=\"g\"", gross), false));
    EXPECT_NE(aus.find("\n  multipart/form-data, 1 part in the view\n  part 1: name \"g\", 3002 bytes in the view\n"),
              std::string::npos)
        << aus;
    // What no more bytes could mend is broken, cut or not.
    aus = text_von(inhalt_zeilen(MP_TYP, "----b 1 x\r\n", false));
    EXPECT_NE(aus.find("broken multipart: a delimiter line holds more"), std::string::npos) << aus;
}

TEST(ShowBody, NestingBeyondTheLimitIsShownAsItCame)
{
    std::string tief = std::string(600, '[') + std::string(600, ']');
    EXPECT_NE(text_von(json_zeilen(tief, true)).find("nested deeper than 500"), std::string::npos);
}

// The view's pairs, last value per name, are the map that aufspalt fills.
TEST(ShowForm, PairsAreTheProgramsPairs)
{
    const char *faelle[] = {"a=1&b=2", "a=1&", "a&b=1&c", "%zz=%4", "a=b=c&d", "=x&&y=", "+%2B+=%00z&q=1%", "%%%"};
    for (const char *f : faelle) {
        SCOPED_TRACE(f);
        std::map<std::string, std::string> soll;
        for (const Paar &p : formpaare(f))
            soll[p.name] = p.wert;
        std::string puffer = f;
        Varmap m;
        aufspalt(&m, puffer.data(), static_cast<int>(puffer.size()));
        std::map<std::string, std::string> ist;
        for (Varmapiter it(&m); it() != nullptr; it.next()) {
            const char *n;
            const char *w;
            it.inhalt(n, w);
            ist[n] = w;
        }
        EXPECT_EQ(ist, soll);
    }
    EXPECT_TRUE(formpaare("").empty());
}

TEST(ShowMultipart, ParametersAndParts)
{
    EXPECT_EQ(parameter("multipart/form-data; BOUNDARY=\"a;b\\\\c\"; x=1", "boundary"), "a;b\\c");
    EXPECT_EQ(parameter("text/plain;charset = utf-8 ;q=\"\"", "charset"), "utf-8");
    EXPECT_EQ(parameter("text/plain; q=\"\"", "q"), "");
    EXPECT_FALSE(parameter("text/plain", "charset").has_value());
    EXPECT_EQ(medientyp(" Text/HTML ; charset=x"), "text/html");

    struct Fall {
        std::string inhalt;
        Liste namen;
        bool abgeschlossen;
        std::string fehler;
    };
    const Fall faelle[] = {
        {"preamble\r\n--q \t\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n--q\r\n\r\n2\r\n--q--",
         {"a", ""},
         true,
         ""},
        {"--q\r\n\r\n\r\n--q--trailing", {""}, true, ""},
        {"--q\n\nx\n--q--\n", {}, false, "a delimiter line holds more"},
        {"no delimiter", {}, false, "the boundary never occurs in the body"},
        {"--q\r\nX: y\r\n\r\n--qq\r\n--q--", {""}, true, ""},
    };
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.inhalt);
        Multipart m = multipart_zerlegen(f.inhalt, "q");
        Liste namen;
        for (const Teil &t : m.teile)
            namen.push_back(t.name);
        EXPECT_EQ(namen, f.namen);
        EXPECT_EQ(m.abgeschlossen, f.abgeschlossen);
        EXPECT_EQ(m.fehler, f.fehler);
    }
    EXPECT_EQ(multipart_zerlegen("--q\r\nX: y\r\n\r\n--qq\r\n--q--", "q").teile.at(0).inhalt, "--qq");
}

struct Notiz {
    Liste eintraege;
    long long angesagt;
    std::string inhalt;
    std::string soll; // the one note's start; empty: no note
};

const Liste POST = {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded"};

Liste mit(Liste l, const Liste &mehr)
{
    l.insert(l.end(), mehr.begin(), mehr.end());
    return l;
}

TEST(ShowNotes, EachOnItsRecord)
{
    const Notiz faelle[] = {
        {{"AUTH_TYPE=Basic"}, 0, "", "the server kept the Authorization header back"},
        {{"REDIRECT_HTTP_AUTHORIZATION=Basic eA=="}, 0, "", "the server kept the Authorization header back"},
        {{"HTTP_PROXY=http://evil:3128"}, 0, "", "HTTP_PROXY is set"},
        {mit(POST, {"HTTP_TRANSFER_ENCODING=chunked"}), 3, "a=1", "a chunked upload without CONTENT_LENGTH"},
        {mit(POST, {"CONTENT_LENGTH=17"}), 17, "7\r\na=1&b=2\r\n0\r\n\r\n", "the body still carries its chunk framing"},
        {mit(POST, {"CONTENT_LENGTH=17"}), 17, "3;x\r\na=1\r\n3\r\n&b=2", "the body still carries its chunk framing"},
        {mit(POST, {"HTTP_TRANSFER_ENCODING=Chunked", "CONTENT_LENGTH=0"}), 0, "",
         "the request announced chunked delivery but brought no body"},
        {POST, 10, "a=1", "the body is shorter than announced: 3 of 10 bytes arrived"},
        {POST, 1, "a=1", "the body has 3 bytes, more than the 1 announced"},
        {{"PATH_INFO=/x\n\tB=1"}, 0, "", "PATH_INFO holds a line feed (0x0A at byte 2 of its value)"},
        {{"HTTP_X=a\x1b[31m"}, 0, "", "HTTP_X holds a control byte (0x1B at byte 1 of its value)"},
        {{"SERVER_SIGNATURE=a\n\tb"}, 0, "", "SERVER_SIGNATURE holds a line feed (0x0A at byte 1 of its value)"},
        {{"HTTP_HOST=a", "HTTP_HOST=b"}, 0, "", "HTTP_HOST occurs more than once in the record"},
        {{"QUERY_STRING=a=1&a=2"}, 0, "", "form field a occurs more than once in the query"},
        {{"CONTENT_TYPE=text/plain; charset=UTF-8"},
         3,
         "a\xFC"
         "b",
         "the body is declared UTF-8, but byte 0xFC"},
        {{"CONTENT_TYPE=application/x-www-form-urlencoded; charset=utf-8"},
         7,
         "n=M%FCx",
         "form field n in the body: byte 0xFC is no character of utf-8"},
        {{"CONTENT_TYPE=application/x-www-form-urlencoded"}, 21, "_charset_=UTF-8&n=%FC", "form field n in the body"},
        {{"CONTENT_TYPE=application/x-www-form-urlencoded; charset=iso-8859-1"},
         5,
         "n=%85",
         "form field n in the body: byte 0x85 is no character of iso-8859-1"},
        {{"CONTENT_TYPE=multipart/form-data; boundary=q; charset=utf-8"},
         55,
         "--q\r\nContent-Disposition: form-data; name=f\r\n\r\n\xFC\r\n--q--",
         "form field f in the body"},
    };
    for (const Notiz &f : faelle) {
        SCOPED_TRACE(f.soll);
        Aufzeichnung a = aufzeichnung(f.eintraege, f.angesagt, f.inhalt);
        Liste h = hinweise(a, a.inhalt());
        ASSERT_EQ(h.size(), 1u) << ::testing::PrintToString(h);
        EXPECT_EQ(h[0].rfind(f.soll, 0), 0u) << h[0];
    }
}

// The notes that depend on the server whose record it is.
TEST(ShowNotes, EachServersOwnRule)
{
    const std::string AUTH = "the server kept the Authorization header back (AUTH_TYPE or "
                             "REDIRECT_HTTP_AUTHORIZATION set, HTTP_AUTHORIZATION absent)";
    const std::pair<Liste, std::string> faelle[] = {
        {{"SERVER_SOFTWARE=Apache/2.4.71 (Debian)", "AUTH_TYPE=Basic"},
         AUTH + ": Apache passes it on only with CGIPassAuth On"},
        {{"SERVER_SIGNATURE=<address>x</address>\n\t", "REDIRECT_HTTP_AUTHORIZATION=Basic eA=="},
         AUTH + ": Apache passes it on only with CGIPassAuth On"},
        {{"SERVER_SOFTWARE=SimpleHTTP/0.6 Python/3.11.2", "AUTH_TYPE=Basic", "REMOTE_USER=x"},
         AUTH + ": Python's http.server never passes it on (REMOTE_USER holds a Basic user)"},
        {{"SERVER_SOFTWARE=mini_httpd/1.30 26Oct2018", "AUTH_TYPE=Basic"}, AUTH + ": mini_httpd never passes it on"},
        {{"SERVER_SOFTWARE=other/1", "AUTH_TYPE=Basic"}, AUTH},
        {{"SERVER_SOFTWARE=lighttpd/1.4.69", "CONTENT_LENGTH=0", "HTTP_CONTENT_LENGTH=0"},
         "HTTP_CONTENT_LENGTH repeats CONTENT_LENGTH: lighttpd passes the Content-Length header both ways; the view "
         "lists it once"},
        {{"FCGI_ROLE=RESPONDER", "DOCUMENT_URI=/", "CONTENT_TYPE=a/b", "HTTP_CONTENT_TYPE=a/b"},
         "HTTP_CONTENT_TYPE repeats CONTENT_TYPE: nginx passes the Content-Type header both ways; the view lists it "
         "once"},
        {{"CONTENT_LENGTH=0", "HTTP_CONTENT_LENGTH=5"},
         "HTTP_CONTENT_LENGTH and CONTENT_LENGTH differ: a program sees one Content-Length or the other, as it reads "
         "them"},
        {{"SERVER_SOFTWARE=busybox httpd/1.35.0", "SHLVL=1", "HOME=/root", "TERM=xterm"},
         "the record holds the environment the server was started with (HOME, TERM, SHLVL): busybox httpd hands its "
         "own environment on to every program"},
        {{"SERVER_SOFTWARE=nginx/1.22.1", "PWD=/", "_=/usr/sbin/fcgiwrap"},
         "the record holds the environment the server was started with (PWD, _): fcgiwrap, started by hand rather "
         "than by its unit, hands its own environment on to every program"},
        {{"HOME=/", "SHELL=/bin/sh"},
         "the record holds the environment the server was started with (HOME, SHELL): the server hands its own "
         "environment on to every program"},
    };
    for (const auto &[eintraege, soll] : faelle) {
        Aufzeichnung a = aufzeichnung(eintraege, 0, "");
        EXPECT_EQ(hinweise(a, ""), Liste{soll});
    }
}

// The headers a client sent, each once: not nginx's empty CONTENT_TYPE and
// CONTENT_LENGTH, not lighttpd's second Content-Length; those entries
// stay under Environment.
TEST(ShowHeaders, OnlyWhatTheClientSentOnce)
{
    auto koepfe = [](const Liste &eintraege) {
        Ansicht v = anfrage_ansicht(aufzeichnung(eintraege, 0, ""), "");
        std::string text = als_text(v);
        EXPECT_NE(text.find("\nEnvironment\n"), std::string::npos);
        return text.substr(0, text.find("\nEnvironment\n")).substr(text.find("\nHeaders\n"));
    };
    std::string k = koepfe({"CONTENT_TYPE=", "CONTENT_LENGTH=", "SERVER_SOFTWARE=nginx/1.22.1"});
    EXPECT_EQ(k.rfind("\nHeaders\n  none\n", 0), 0u) << k;
    k = koepfe({"CONTENT_LENGTH=0", "SERVER_SOFTWARE=lighttpd/1.4.69"});
    EXPECT_EQ(k.rfind("\nHeaders\n  none\n", 0), 0u) << k;
    k = koepfe({"CONTENT_LENGTH=0", "SERVER_SOFTWARE=lighttpd/1.4.69", "HTTP_CONTENT_LENGTH=0"});
    EXPECT_EQ(k.rfind("\nHeaders\n  Content-Length: 0\n\n", 0), 0u) << k;
    k = koepfe({"CONTENT_TYPE=", "HTTP_CONTENT_TYPE=", "SERVER_SOFTWARE=nginx/1.22.1", "HTTP_CONTENT_LENGTH=1"});
    EXPECT_EQ(k.rfind("\nHeaders\n  Content-Type: \n  Content-Length: 1\n\n", 0), 0u) << k;
    Ansicht v = anfrage_ansicht(aufzeichnung({"CONTENT_TYPE=", "SERVER_SOFTWARE=nginx/1.22.1"}, 0, ""), "");
    EXPECT_NE(als_text(v).find("\nEnvironment\n  CONTENT_TYPE = \n"), std::string::npos) << als_text(v);
}

TEST(ShowNotes, RecordsThatGiveNone)
{
    const Notiz faelle[] = {
        {{"REQUEST_METHOD=GET", "QUERY_STRING=a=1&b=%C3%BC", "HTTP_HOST=x", "HTTP_X=tab\there"}, 0, "", ""},
        {{"AUTH_TYPE=Basic", "HTTP_AUTHORIZATION=Basic eA=="}, 0, "", ""},
        {mit(POST, {"HTTP_TRANSFER_ENCODING=chunked", "CONTENT_LENGTH=7"}), 7, "a=1&b=2", ""},
        {{"CONTENT_TYPE=text/plain"}, 4, "1\r\nx", ""},
        {{"CONTENT_TYPE=text/plain"}, 8, "abc\r\ndef", ""},
        {{"CONTENT_TYPE=application/x-www-form-urlencoded; charset=latin1"}, 5, "n=%FC", ""},
        {{"CONTENT_TYPE=application/json; charset=utf-8"}, 6, "[\"\xC3\xBC\"]", ""},
        // Apache's signature with its line feed, one shell name alone,
        // nginx's empty CONTENT_TYPE and CONTENT_LENGTH on a GET.
        {{"SERVER_SIGNATURE=<address>Apache/2.4.71 (Debian) Server at h Port 80</address>\n\t"}, 0, "", ""},
        {{"REQUEST_METHOD=GET", "HOME=/var/www"}, 0, "", ""},
        {{"REQUEST_METHOD=GET", "CONTENT_TYPE=", "CONTENT_LENGTH=", "SERVER_SOFTWARE=nginx/1.22.1"}, 0, "", ""},
    };
    for (const Notiz &f : faelle) {
        Aufzeichnung a = aufzeichnung(f.eintraege, f.angesagt, f.inhalt);
        EXPECT_EQ(hinweise(a, a.inhalt()), Liste{}) << f.eintraege[0];
    }
    // A character cut by the end of the views' prefix is no fault.
    Aufzeichnung a = aufzeichnung({"CONTENT_TYPE=text/plain; charset=utf-8"}, 5,
                                  "ab\xC3\xBC"
                                  "c");
    EXPECT_EQ(hinweise(a, a.inhalt().substr(0, 3)), Liste{});
}

TEST(ShowSafety, EveryByteIsEscaped)
{
    const std::pair<std::string, std::string> faelle[] = {
        {"a\x1b[31m\a\b", "a\\x1B[31m\\x07\\x08"},
        {"\r\n\t\\", "\\r\\n\\t\\\\"},
        {"\x7F\xFF\xC3", "\\x7F\\xFF\\xC3"},
        {"\xC2\x9B"
         "2J",
         "\\u{009B}2J"},
        {"\xE2\x80\xAE"
         "txt",
         "\\u{202E}txt"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"}, // a surrogate
        {"\xC0\xAF", "\\xC0\\xAF"},          // an overlong slash
        {"M\xC3\xBC\xF0\x9F\x98\x80", "M\xC3\xBC\xF0\x9F\x98\x80"},
    };
    for (const auto &[roh, soll] : faelle)
        EXPECT_EQ(sicher(roh), soll);
}

// A record full of hostile bytes: the terminal gets no control byte but
// line feeds, the page no markup of the record's.
TEST(ShowSafety, NothingFromTheRecordReachesTerminalOrPage)
{
    const std::string boese = "<script>alert(1)</script>\x1b]0;x\a\r\xC2\x85\xFF&\"'";
    Aufzeichnung a = aufzeichnung(
        {"REQUEST_METHOD=" + boese, "HTTP_" + boese + "=" + boese, "QUERY_STRING=" + boese, "CONTENT_TYPE=" + MP_TYP},
        0, teil("Content-Disposition: form-data; name=\"" + boese + "\"", boese));
    Ansicht v = anfrage_ansicht(a, a.inhalt());
    std::string text = als_text(v);
    for (char z : text)
        EXPECT_TRUE(z == '\n' || static_cast<unsigned char>(z) >= 0x20) << static_cast<int>(z);
    EXPECT_EQ(text.find("\x7F"), std::string::npos);
    EXPECT_EQ(text.find("\xC2\x85"), std::string::npos);

    std::string html = als_html(v);
    EXPECT_TRUE(ist_utf8(html));
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("href="), std::string::npos);
}

// The program itself on a record file in a folder of the test's own.
TEST(ShowProgram, ARecordFileAndANonRecord)
{
    char vorlage[] = "/tmp/vokt-show-test.XXXXXX";
    ASSERT_NE(mkdtemp(vorlage), nullptr);
    std::string ordner = vorlage;
    std::ofstream(ordner + "/rec") << "REQUEST_METHOD=POST\nREQUEST_URI=/a?x=1\nSERVER_PROTOCOL=HTTP/1.1\n"
                                      "HTTP_ACCEPT_LANGUAGE=de\nCONTENT_TYPE=application/json\n*8\n{\"k\":[]}";
    std::ofstream(ordner + "/kein") << "no record\n";
    auto lauf = [&](const std::string &datei, std::string *aus) {
        int s = std::system(("'" VOKT "' show '" + ordner + "/" + datei + "' >'" + ordner + "/aus' 2>&1").c_str());
        std::stringstream puffer;
        puffer << std::ifstream(ordner + "/aus").rdbuf();
        *aus = puffer.str();
        return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    };
    std::string aus;
    EXPECT_EQ(lauf("rec", &aus), 0);
    EXPECT_EQ(aus.rfind("POST /a?x=1 HTTP/1.1\n", 0), 0u) << aus;
    EXPECT_NE(aus.find("\n  Accept-Language: de\n"), std::string::npos) << aus;
    EXPECT_NE(aus.find("\n  8 bytes, whole (8 announced)\n  JSON\n    {\n      \"k\": []\n    }\n"), std::string::npos)
        << aus;
    EXPECT_EQ(lauf("kein", &aus), 2);
    EXPECT_EQ(aus, "vokt: " + ordner + "/kein: no record (no line with '=' before the '*' line)\n");
    std::system(("rm -rf '" + ordner + "'").c_str());
}

// A multipart upload beyond the view's 1 MiB: cut by the view, not broken;
// --all shows all of it, --part N -o FILE writes one part's bytes whole.
TEST(ShowProgram, AnUploadBeyondTheViewIsCutNotBroken)
{
    char vorlage[] = "/tmp/vokt-show-test.XXXXXX";
    ASSERT_NE(mkdtemp(vorlage), nullptr);
    std::string ordner = vorlage;
    std::string datei(3 << 20, '\0');
    for (std::size_t i = 0; i < datei.size(); ++i)
        datei[i] = static_cast<char>(i * 7 % 251);
    std::string body = teil("Content-Disposition: form-data; name=\"t\"", "hallo") +
                       teil("Content-Disposition: form-data; name=\"f\"; filename=\"a.bin\"", datei) + "----b 1--\r\n";
    std::ofstream(ordner + "/rec") << "REQUEST_METHOD=POST\nCONTENT_TYPE=" + MP_TYP + "\n*" +
                                          std::to_string(body.size()) + "\n" + body;
    auto lauf = [&](const std::string &woerter, std::string *aus) {
        int s = std::system(("'" VOKT "' show '" + ordner + "/rec' " + woerter + " >'" + ordner + "/aus' 2>&1").c_str());
        std::stringstream puffer;
        puffer << std::ifstream(ordner + "/aus").rdbuf();
        *aus = puffer.str();
        return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    };
    std::string aus;
    EXPECT_EQ(lauf("", &aus), 0);
    EXPECT_EQ(aus.find("broken"), std::string::npos) << aus;
    EXPECT_NE(aus.find("\n  the view ends within part 2: the body goes on past the bytes shown (vokt show --all "
                       "shows all of it, --part 2 -o FILE writes it)\n"),
              std::string::npos)
        << aus;
    EXPECT_EQ(lauf("--all", &aus), 0);
    EXPECT_EQ(aus.find("broken"), std::string::npos) << aus;
    EXPECT_EQ(aus.find("the view ends"), std::string::npos) << aus;
    EXPECT_NE(aus.find("\n  part 2: name \"f\", filename \"a.bin\", 3145728 bytes\n"), std::string::npos) << aus;

    EXPECT_EQ(lauf("--part 2 -o '" + ordner + "/teil'", &aus), 0) << aus;
    std::stringstream teil2;
    teil2 << std::ifstream(ordner + "/teil").rdbuf();
    EXPECT_TRUE(teil2.str() == datei) << teil2.str().size();
    EXPECT_EQ(lauf("--part 2 -o '" + ordner + "/teil'", &aus), 2) << "never overwritten";
    EXPECT_EQ(lauf("--part 1 -o -", &aus), 0);
    EXPECT_EQ(aus, "hallo");
    EXPECT_EQ(lauf("--part 3 -o -", &aus), 2);
    EXPECT_EQ(aus, "vokt: " + ordner + "/rec: the body has 2 parts, no part 3\n");
    EXPECT_EQ(lauf("--part 1", &aus), 2);
    std::system(("rm -rf '" + ordner + "'").c_str());
}

} // namespace
