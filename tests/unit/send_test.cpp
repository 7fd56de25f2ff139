// vokt send: the request that a record is sent as (the rules it shares
// with vokt curl), the BASE it takes, the response as libcurl hands it
// over, kept within its bounds; and the built vokt sending records to a
// loopback server inside the test, which answers with bytes of the test's
// choice, hostile ones too.
#include "curl.h"
#include "fangserver.h"
#include "httpantwort.h"
#include "intern/aufzeichnung.h"
#include "vokt_lauf.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace vokt::intern;

namespace {

using Liste = std::vector<std::string>;
using namespace std::string_literals;

std::string verbunden(const Liste &teile, const char *trenner = "|")
{
    std::string t;
    for (const std::string &s : teile)
        t += (t.empty() ? "" : trenner) + s;
    return t;
}

TEST(SendRequest, TheRequestOfARecordAsLibcurlSendsIt)
{
    struct Fall {
        std::string aufzeichnung;
        const char *url;
        std::string methode, basis, ziel, koepfe;
        bool mit_inhalt;
        std::string hinweise;
    };
    const std::string ohne = "User-Agent:|Accept:";
    const std::string ohne_mit_inhalt = ohne + "|Content-Type:|Expect:";
    const Fall faelle[] = {
        {"REQUEST_METHOD=PUT\nREQUEST_URI=/u?a=1\nHTTP_HOST=orig\nCONTENT_TYPE=text/plain\nCONTENT_LENGTH=2\n"
         "HTTP_CONTENT_LENGTH=2\nHTTP_X_A=1\n*2\nab",
         "http://127.0.0.1:8080//", "PUT", "http://127.0.0.1:8080", "/u?a=1",
         "Content-Type: text/plain|X-A: 1|User-Agent:|Accept:|Expect:", true, ""},
        // GET without a body: no Content-Type or Expect of libcurl's to keep out.
        {"HTTP_HOST=h\nHTTP_USER_AGENT=ua\nHTTP_ACCEPT=*/*\nHTTP_X_LEER=\n*0\n", "http://b", "GET", "http://b", "/",
         "User-Agent: ua|Accept: */*|X-Leer;", false, ""},
        // A POST with an empty body still sends Content-Length: 0.
        {"REQUEST_METHOD=POST\nHTTP_HOST=h\n*0\n", "http://b", "POST", "http://b", "/", ohne_mit_inhalt, true, ""},
        {"REQUEST_METHOD=DELETE\nHTTP_HOST=h\n", "http://b", "DELETE", "http://b", "/", ohne, false, ""},
        {"REQUEST_METHOD=POST\nHTTP_EXPECT=100-continue\nHTTP_TRANSFER_ENCODING=chunked\n*1\nx", "http://b", "POST",
         "http://b", "/", "Expect: 100-continue|User-Agent:|Accept:|Content-Type:", true, ""},
        // What cannot stand on a header line or in a request line.
        {"REQUEST_URI=/a b\x01\nHTTP_X_LF=a\n\tb\nHTTP_BAD(NAME=1\n*0\n", "http://b", "GET", "http://b", "/a%20b%01",
         ohne, false,
         "left out the header X-Lf, whose value holds a line break or another control byte|"
         "left out HTTP_BAD(NAME, which is no header name|"
         "the request target holds blanks or control bytes; they are sent as %XX"},
        // nginx's empty CONTENT_TYPE of a GET was never sent.
        {"CONTENT_TYPE=\nSERVER_SOFTWARE=nginx/1.22.1\n*0\n", "http://b", "GET", "http://b", "/", ohne, false, ""},
        // No BASE (vokt curl): the recorded host.
        {"HTTPS=on\nHTTP_HOST=h:8443\n*0\n", nullptr, "GET", "https://h:8443", "/", ohne, false, ""},
    };
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.aufzeichnung.substr(0, 60));
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(f.aufzeichnung));
        Neuanfrage n = neuanfrage(a, f.url);
        EXPECT_EQ(n.methode, f.methode);
        EXPECT_EQ(n.basis, f.basis);
        EXPECT_EQ(n.ziel, f.ziel);
        EXPECT_EQ(verbunden(n.koepfe), f.koepfe);
        EXPECT_EQ(n.mit_inhalt, f.mit_inhalt);
        EXPECT_EQ(verbunden(n.hinweise), f.hinweise);
    }
}

TEST(SendRequest, ABaseIsASchemeAndAHostAlone)
{
    const std::pair<const char *, bool> faelle[] = {
        {"http://127.0.0.1:8080", true},
        {"HTTPS://[::1]:8443/", true},
        {"https://h///", true},
        {"http://", false},
        {"ftp://h", false},
        {"file:///etc/passwd", false},
        {"http://u:p@h", false},
        {"http://h/pfad", false},
        {"http://h?q", false},
        {"http://h#f", false},
        {"h:80", false},
        {"http://h\r\nX: 1", false},
        {"gopher://h:70", false},
        {"http:/h", false},
    };
    for (const auto &[url, gut] : faelle)
        EXPECT_EQ(ist_basis(url), gut) << url;
}

// ---- the response ------------------------------------------------------------

struct Antwortfall {
    const char *was;
    Liste zeilen;  // header lines, as libcurl gives them
    Liste stuecke; // body pieces
    int status;
    std::string koepfe;
    bool kopf_fertig;
    std::string text;    // antwort_text
    std::string abbruch; // empty: kept whole
};

TEST(SendResponse, HeaderLinesAndBodyAsLibcurlHandsThemOver)
{
    const std::string gross(ANTWORTKOPF_HOECHSTENS - 20, 'x');
    const Antwortfall faelle[] = {
        {"a response",
         {"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain\r\n", "X-A: 1\n", "\r\n"},
         {"ab", "c"},
         200,
         "Content-Type: text/plain|X-A: 1",
         true,
         "status 200 (\"HTTP/1.1 200 OK\"), 2 header lines, 3 bytes of body",
         ""},
        {"interim responses first: the final one counts",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 103 Early Hints\r\n", "Link: </s>\r\n", "\r\n",
          "HTTP/1.1 404 Not Found\r\n", "X: y\r\n", "\r\n"},
         {},
         404,
         "X: y",
         true,
         "status 404 (\"HTTP/1.1 404 Not Found\"), 1 header line, 0 bytes of body",
         ""},
        {"trailers after the body are no header lines of it",
         {"HTTP/1.1 200 OK\r\n", "\r\n", "X-Trailer: 1\r\n", "\r\n"},
         {"z"},
         200,
         "",
         true,
         "status 200 (\"HTTP/1.1 200 OK\"), 0 header lines, 1 bytes of body",
         ""},
        {"a status line without a code, bytes for the terminal made visible",
         {"HTTP/1.1 2x0 \x1B[2J\r\n", "\r\n"},
         {},
         0,
         "",
         true,
         "no status (\"HTTP/1.1 2x0 \\x1B[2J\"), 0 header lines, 0 bytes of body",
         ""},
        {"HTTP/2's line, a code without a reason",
         {"HTTP/2 204\r\n", "\r\n"},
         {},
         204,
         "",
         true,
         "status 204 (\"HTTP/2 204\"), 0 header lines, 0 bytes of body",
         ""},
        {"a code of four digits is none", {"HTTP/1.1 2000 OK\r\n"}, {}, 0, "", false, "", ""},
        {"a code that starts with 0 is none", {"HTTP/1.1 020 OK\r\n"}, {}, 0, "", false, "", ""},
        {"header lines past the bound, over interim responses too",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "X: " + gross + "\r\n"},
         {},
         200,
         "",
         false,
         "",
         "its header lines take more than 65536 bytes: cut off"},
    };
    for (const Antwortfall &f : faelle) {
        SCOPED_TRACE(f.was);
        HttpAntwort r;
        bool ok = true;
        for (const std::string &z : f.zeilen)
            ok = kopfzeile_nehmen(r, z) && ok;
        for (const std::string &s : f.stuecke)
            ok = inhalt_nehmen(r, s) && ok;
        EXPECT_EQ(r.status, f.status);
        EXPECT_EQ(verbunden(r.koepfe), f.koepfe);
        EXPECT_EQ(r.kopf_fertig, f.kopf_fertig);
        EXPECT_EQ(r.kopf_fertig ? antwort_text(r) : "", f.text);
        EXPECT_EQ(r.abbruch, f.abbruch);
        EXPECT_EQ(ok, f.abbruch.empty());
    }
}

TEST(SendResponse, TheBodyIsKeptUpToItsBoundAndNoFurther)
{
    HttpAntwort r;
    ASSERT_TRUE(kopfzeile_nehmen(r, "HTTP/1.1 200 OK\r\n"));
    ASSERT_TRUE(kopfzeile_nehmen(r, "\r\n"));
    std::string stueck(1 << 20, 'a');
    for (std::size_t i = 0; i < ANTWORTINHALT_HOECHSTENS / stueck.size(); ++i)
        ASSERT_TRUE(inhalt_nehmen(r, stueck));
    EXPECT_FALSE(inhalt_nehmen(r, "bc"));
    EXPECT_EQ(r.inhalt.size(), ANTWORTINHALT_HOECHSTENS);
    EXPECT_EQ(r.abbruch, "its body goes on past 67108864 bytes: cut off");
    EXPECT_FALSE(inhalt_nehmen(r, "d"));
    EXPECT_EQ(r.inhalt.size(), ANTWORTINHALT_HOECHSTENS);
}

TEST(SendResponse, TheTimesInMilliseconds)
{
    EXPECT_EQ(zeiten_text({120, 0, 2500, 1002003}),
              "connected after 0.120 ms, first byte after 2.500 ms, done after 1002.003 ms");
    EXPECT_EQ(zeiten_text({1, 2, 3, 4}),
              "connected after 0.001 ms, TLS after 0.002 ms, first byte after 0.003 ms, done after 0.004 ms");
}

// ---- vokt send against a loopback server ---------------------------------------

class SendCommand : public vokt_lauf::Ordner {
protected:
    struct Gesendet {
        vokt_lauf::Lauf lauf;
        std::string angekommen;
    };

    // vokt send RECORD --url BASE and the words, the server answering with antwort.
    Gesendet senden(const std::string &aufzeichnung, const Liste &woerter, const std::string &antwort)
    {
        vokt_lauf::schreib(ordner + "/r.rec", aufzeichnung);
        Liste alle = {"send", "r.rec", "--url", basis()};
        alle.insert(alle.end(), woerter.begin(), woerter.end());
        Gesendet g;
        std::thread t([&] { g.angekommen = server_.erfasse(antwort); });
        g.lauf = vokt(alle);
        t.join();
        return g;
    }
    std::string basis() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
    std::string host() const { return "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n"; }

    // Standard error without the line of the times; *mit: it held one,
    // of the form "connected after N.NNN ms, [TLS after ...,] first byte
    // after ..., done after ... ms".
    std::string ohne_zeiten(const std::string &fehler, bool *mit) const
    {
        std::string anfang = "vokt: " + basis() + ": connected after ";
        std::size_t ab = fehler.find(anfang);
        *mit = ab != std::string::npos;
        if (!*mit)
            return fehler;
        std::size_t ende = fehler.find('\n', ab);
        std::string zeile = fehler.substr(ab, ende - ab);
        EXPECT_TRUE(zeile.find(" ms, first byte after ") != std::string::npos && zeile.ends_with(" ms") &&
                    zeile.find(" ms, done after ") != std::string::npos)
            << zeile;
        return fehler.substr(0, ab) + fehler.substr(ende + 1);
    }

    Fangserver server_;
};

const std::string OK = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

TEST_F(SendCommand, TheRecordedRequestArrivesAsItWasRecorded)
{
    struct Fall {
        std::string aufzeichnung;
        Liste woerter;
        std::string kopf, rest; // what arrives: the request line, then after Host
    };
    const Fall faelle[] = {
        {"REQUEST_METHOD=PUT\nREQUEST_URI=/a b?x=%FC\nHTTP_HOST=orig:1\nCONTENT_TYPE=application/octet-stream\n"
         "HTTP_X_A=1\nHTTP_X_LEER=\n*4\n\x00\r\n\xFF"s,
         {},
         "PUT /a%20b?x=%FC HTTP/1.1\r\n",
         "Content-Type: application/octet-stream\r\nX-A: 1\r\nX-Leer:\r\nContent-Length: 4\r\n\r\n\x00\r\n\xFF"s},
        {"REQUEST_METHOD=POST\nREQUEST_URI=/f\n*0\n", {}, "POST /f HTTP/1.1\r\n", "Content-Length: 0\r\n\r\n"},
        {"REQUEST_METHOD=GET\nREQUEST_URI=/g\nHTTP_COOKIE=alt\nHTTP_X_A=1\n*0\n",
         {"--set", "HTTP_COOKIE=a=1", "--unset", "HTTP_X_A", "--set", "REQUEST_METHOD=PATCH"},
         "PATCH /g HTTP/1.1\r\n",
         "Cookie: a=1\r\n\r\n"},
        {"REQUEST_METHOD=POST\nREQUEST_URI=/b\nHTTP_USER_AGENT=ua\n*3\nalt",
         {"--body-file", "neu"},
         "POST /b HTTP/1.1\r\n",
         "User-Agent: ua\r\nContent-Length: 5\r\n\r\nneu\n\n"},
        {"REQUEST_METHOD=HEAD\nREQUEST_URI=/h\n*0\n", {}, "HEAD /h HTTP/1.1\r\n", "\r\n"},
    };
    vokt_lauf::schreib(ordner + "/neu", "neu\n\n");
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.aufzeichnung.substr(0, 40));
        // A HEAD's answer has no body, whatever its Content-Length says.
        Gesendet g = senden(f.aufzeichnung, f.woerter, f.kopf.starts_with("HEAD") ? OK.substr(0, OK.size() - 2) : OK);
        EXPECT_EQ(g.lauf.status, 0) << g.lauf.fehler;
        EXPECT_EQ(g.angekommen, f.kopf + host() + f.rest);
    }
}

TEST_F(SendCommand, TheResponseAsItCameAndItsSummary)
{
    struct Fall {
        const char *was;
        std::string antwort;
        int status;
        std::string aus, fehler; // {} in fehler: the BASE
    };
    const std::string b = "vokt: {}: ";
    const std::string viele(ANTWORTKOPF_HOECHSTENS, 'k');
    const Fall faelle[] = {
        {"interim response, then the final one",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Made\r\nContent-Length: 3\r\nX-Bad: a\x1B[2Jb\r\n\r\nabc", 0,
         "HTTP/1.1 201 Made\r\nContent-Length: 3\r\nX-Bad: a\x1B[2Jb\r\n\r\nabc",
         b + "status 201 (\"HTTP/1.1 201 Made\"), 2 header lines, 3 bytes of body\n"},
        {"LF alone ends lines too; CR LF are written", "HTTP/1.1 500 \x1B]0;x\x07\nContent-Length: 1\n\nz", 0,
         "HTTP/1.1 500 \x1B]0;x\x07\r\nContent-Length: 1\r\n\r\nz",
         b + "status 500 (\"HTTP/1.1 500 \\x1B]0;x\\x07\"), 1 header line, 1 bytes of body\n"},
        {"a redirect is shown, not followed",
         "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/\r\nContent-Length: 0\r\n\r\n", 0,
         "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/\r\nContent-Length: 0\r\n\r\n",
         b + "status 302 (\"HTTP/1.1 302 Found\"), 2 header lines, 0 bytes of body\n"},
        {"header lines past the bound", "HTTP/1.1 200 OK\r\nX: " + viele + "\r\n\r\n", 2, "",
         b + "the response is not whole: its header lines take more than 65536 bytes: cut off\n"},
        {"a body that ends early", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", 2,
         "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc",
         b + "status 200 (\"HTTP/1.1 200 OK\"), 1 header line, 3 bytes of body\n" + b +
             "the response is not whole: transfer closed with 6 bytes remaining to read\n"},
        {"no answer at all", "", 2, "", b + "no response: Empty reply from server\n"},
    };
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.was);
        Gesendet g = senden("REQUEST_URI=/\n*0\n", {}, f.antwort);
        EXPECT_EQ(g.lauf.status, f.status);
        EXPECT_EQ(g.lauf.aus, f.aus);
        std::string fehler = f.fehler;
        for (std::size_t i; (i = fehler.find("{}")) != std::string::npos;)
            fehler.replace(i, 2, basis());
        bool mit = false;
        EXPECT_EQ(ohne_zeiten(g.lauf.fehler, &mit), fehler);
        // The times come with every response of which something came.
        EXPECT_EQ(mit, !f.aus.empty() || f.fehler.find("not whole") != std::string::npos);
    }
}

TEST_F(SendCommand, ABodyPastItsBoundIsCutOffThere)
{
    std::string kopf =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(ANTWORTINHALT_HOECHSTENS + 1) + "\r\n\r\n";
    Gesendet g = senden("REQUEST_URI=/\n*0\n", {}, kopf + std::string(ANTWORTINHALT_HOECHSTENS + 1, 'a'));
    EXPECT_EQ(g.lauf.status, 2);
    EXPECT_EQ(g.lauf.aus.size(), kopf.size() + ANTWORTINHALT_HOECHSTENS);
    EXPECT_NE(g.lauf.fehler.find(": the response is not whole: its body goes on past 67108864 bytes: cut off\n"),
              std::string::npos)
        << g.lauf.fehler;
}

TEST_F(SendCommand, WhatItRefusesBeforeItSendsAnything)
{
    struct Fall {
        std::string aufzeichnung;
        Liste woerter;
        std::string fehler;
    };
    const std::string rec = "REQUEST_URI=/\n*0\n";
    const Fall faelle[] = {
        {rec, {"send", "r.rec"}, "vokt: send needs --url BASE (http://HOST[:PORT] or https://HOST[:PORT])\n"},
        {rec,
         {"send", "r.rec", "--url", "http://127.0.0.1:1/x"},
         "vokt: --url needs http://HOST[:PORT] or https://HOST[:PORT], not \"http://127.0.0.1:1/x\"\n"},
        {rec,
         {"send", "r.rec", "--url", "http://127.0.0.1:1", "--redact"},
         "vokt: --redact is not for vokt send: it sends the recorded values as they are\n"},
        {rec,
         {"send", "r.rec", "--url", "https://127.0.0.1:1", "--insecure", "--cacert", "c.pem"},
         "vokt: --insecure checks no certificate, --cacert FILE names those to trust: give one of them\n"},
        {rec, {"send", "r.rec", "--url", "http://127.0.0.1:1", "prog"}, "vokt: unexpected argument prog\n"},
        {rec, {"send", "r.rec", "--url", "http://127.0.0.1:1", "--keep", "X"}, "vokt: --keep belongs to vokt replay\n"},
        {"REQUEST_METHOD=G T\n*0\n",
         {"send", "r.rec", "--url", "http://127.0.0.1:1"},
         "vokt: r.rec: the method is no HTTP token (\"G T\"), it would break the request line: refused\n"},
    };
    for (const Fall &f : faelle) {
        vokt_lauf::schreib(ordner + "/r.rec", f.aufzeichnung);
        vokt_lauf::Lauf l = vokt(f.woerter);
        EXPECT_EQ(l.status, 2) << f.fehler;
        EXPECT_EQ(l.aus, "");
        EXPECT_EQ(l.fehler, f.fehler);
    }
}

} // namespace
