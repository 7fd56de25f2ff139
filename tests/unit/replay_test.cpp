// The record reader, the shell quoting and the curl command of vokt-replay,
// including records that no server writes: every one gives its defined
// result.
#include "curl.h"
#include "intern/aufzeichnung.h"
#include "shellwort.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vokt::intern;

namespace {

using Liste = std::vector<std::string>;
using namespace std::string_literals;

std::string inhalt(const Aufzeichnung &a)
{
    EXPECT_EQ(a.inhalt().size(), a.inhaltlaenge());
    return std::string(a.inhalt());
}

TEST(RecordReader, EntriesLengthAndBodyOfAPost)
{
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("CONTENT_LENGTH=9\nQUERY_STRING=y=c\nREQUEST_METHOD=POST\n*9\nx=1&y=a+b"));
    EXPECT_EQ(a.eintraege(), (Liste{"CONTENT_LENGTH=9", "QUERY_STRING=y=c", "REQUEST_METHOD=POST"}));
    EXPECT_TRUE(a.mit_laenge());
    EXPECT_EQ(a.angesagt(), 9);
    EXPECT_EQ(inhalt(a), "x=1&y=a+b");
    EXPECT_EQ(a.wert("QUERY_STRING"), "y=c");
    EXPECT_FALSE(a.wert("QUERY").has_value());
    EXPECT_TRUE(a.doppelt().empty());
}

TEST(RecordReader, LinesWithoutEqualsSignContinueTheEntryBefore)
{
    // Apache's SERVER_SIGNATURE ends in a line feed: an empty line follows.
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("SERVER_SIGNATURE=<address>x</address>\n\nA=1\nB=zwei\nZeilen\n\n*0\n"));
    EXPECT_EQ(a.eintraege(), (Liste{"SERVER_SIGNATURE=<address>x</address>\n", "A=1", "B=zwei\nZeilen\n"}));
    EXPECT_EQ(a.inhaltlaenge(), 0U);
    EXPECT_TRUE(a.alte_regel());
    ASSERT_TRUE(a.zerlegen("A=1\nB=2\n*0\n"));
    EXPECT_FALSE(a.alte_regel()) << "no line was joined";
}

// A record as the writer writes it: a line feed in an entry as a line feed
// and a tab.
std::string geschrieben(const Liste &eintraege, const std::string &body)
{
    std::string d;
    for (const std::string &e : eintraege) {
        for (char z : e)
            d += z == '\n' ? "\n\t" : std::string(1, z);
        d += '\n';
    }
    return d + "*" + std::to_string(body.size()) + "\n" + body;
}

TEST(RecordReader, TabLinesContinueAnEntryAndNoValueForgesALine)
{
    // Values that would forge a length line, an entry, empty lines; a value
    // that ends in a line feed or is nothing else; a tab after a line feed.
    const Liste werte = {"/x\n*0\nREMOTE_ADDR=6.6.6.6", "\n", "a\n", "\n\n\nb", "=\n=", "a\n\tb", "x\n\n*-1\n=\n"};
    for (const std::string &w : werte) {
        Liste eintraege = {"PATH_INFO=" + w, "ohne Gleichheitszeichen", "REMOTE_ADDR=127.0.0.1", "B=1"};
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(geschrieben(eintraege, "*0\nC=3")));
        EXPECT_EQ(a.eintraege(), eintraege) << w;
        EXPECT_EQ(inhalt(a), "*0\nC=3") << w;
        EXPECT_TRUE(a.doppelt().empty()) << w;
        EXPECT_FALSE(a.alte_regel()) << w;
    }
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("PATH_INFO=/x\n\t*0\n\tB=1\n*0\n"));
    EXPECT_EQ(a.eintraege(), (Liste{"PATH_INFO=/x\n*0\nB=1"}));
    // A tab line before any entry is one of its own.
    ASSERT_TRUE(a.zerlegen("\tX=1\nA=2\n\t3\n*0\n"));
    EXPECT_EQ(a.eintraege(), (Liste{"\tX=1", "A=2\n3"}));
}

TEST(RecordReader, AMarkedLineIsAnEntryOfItsOwn)
{
    // After the mark (a zero byte) a tab, a length line or no '=' at all;
    // a mark makes the whole record one of the newer form.
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("A=1\n\0\tB=2\n\t3\n\0*0\n\0NOEQ\nweiter\n\0\n*2\nab"s));
    EXPECT_EQ(a.eintraege(), (Liste{"A=1", "\tB=2\n3", "*0", "NOEQ", "weiter", ""}));
    EXPECT_EQ(inhalt(a), "ab");
    EXPECT_FALSE(a.alte_regel());
    EXPECT_EQ(a.mit_nullbyte(), 0U);
    // A zero byte after the mark still cuts the entry, with the note.
    ASSERT_TRUE(a.zerlegen("\0A=x\0y\n\tz\nB=1\n*0\n"s));
    EXPECT_EQ(a.eintraege(), (Liste{"A=x", "B=1"}));
    EXPECT_EQ(a.mit_nullbyte(), 1U);
}

TEST(RecordReader, OnlyTheFirstStrictLengthLineEndsTheEntries)
{
    Aufzeichnung a;
    // '*', '*-', '*5x' and ' *5' are no length lines; the body may hold one.
    ASSERT_TRUE(a.zerlegen("A=1\n*\n*-\n*5x\n *5\n*-5\nB=2\n*7\n"));
    EXPECT_EQ(a.eintraege(), (Liste{"A=1\n*\n*-\n*5x\n *5"}));
    EXPECT_EQ(a.angesagt(), -5);
    EXPECT_EQ(inhalt(a), "B=2\n*7\n");
    long long n = 0;
    EXPECT_TRUE(ist_laengenzeile("*99999999999999999999999", &n));
    EXPECT_EQ(n, LLONG_MAX);
}

TEST(RecordReader, EveryByteAfterTheLengthLineIsTheBody)
{
    // Short, longer than announced (a chunked upload), and raw bytes.
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("REQUEST_METHOD=POST\n*10\nabc"));
    EXPECT_EQ(a.angesagt(), 10);
    EXPECT_EQ(inhalt(a), "abc");
    ASSERT_TRUE(a.zerlegen("REQUEST_METHOD=POST\nHTTP_TRANSFER_ENCODING=chunked\n*0\n\0\n\xFF*1\n"s));
    EXPECT_EQ(inhalt(a), "\0\n\xFF*1\n"s);
    ASSERT_TRUE(a.zerlegen("REQUEST_METHOD=GET\n*0"));
    EXPECT_TRUE(a.mit_laenge()) << "a length line at the very end, without its line feed";
    EXPECT_EQ(a.inhaltlaenge(), 0U);
}

TEST(HostileRecords, EmptyFileAndFilesWithoutEntriesAreNoRecords)
{
    Aufzeichnung a;
    EXPECT_FALSE(a.zerlegen(""));
    EXPECT_FALSE(a.zerlegen("*0\nA=1"));
    EXPECT_FALSE(a.zerlegen("\n\n\nkeine Eintraege\n*3\nabc"));
    // A line with '=' behind a zero byte makes a record of one empty entry.
    EXPECT_TRUE(a.zerlegen("\0\0=\0"s));
    EXPECT_EQ(a.eintraege(), (Liste{""}));
}

TEST(HostileRecords, NoLengthLineIsARefusedMethodWithoutBody)
{
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("QUERY_STRING=a=1\nREQUEST_METHOD=DELETE\n"));
    EXPECT_FALSE(a.mit_laenge());
    EXPECT_EQ(a.eintraege(), (Liste{"QUERY_STRING=a=1", "REQUEST_METHOD=DELETE"}));
    EXPECT_EQ(a.inhaltlaenge(), 0U);
    ASSERT_TRUE(a.zerlegen("A=abgeschnitten"));
    EXPECT_EQ(a.eintraege(), (Liste{"A=abgeschnitten"}));
}

TEST(HostileRecords, TenThousandByteLine)
{
    std::string lang(10000, 'x');
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("HTTP_X=" + lang + "\n" + lang + "\n*1\nz"));
    ASSERT_EQ(a.eintraege().size(), 1U);
    EXPECT_EQ(a.eintraege()[0], "HTTP_X=" + lang + "\n" + lang);
    EXPECT_EQ(inhalt(a), "z");
}

TEST(HostileRecords, EntriesAreCutAtAZeroByteAndTakeNoContinuation)
{
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("A=x\0y\nweiter\nB\0=1\nC=3\n*0\n"s));
    EXPECT_EQ(a.eintraege(), (Liste{"A=x", "B", "C=3"}));
    EXPECT_EQ(a.mit_nullbyte(), 2U);
    ASSERT_TRUE(a.zerlegen("A=x\0y\n\tweiter\nB=1\n*0\n"s));
    EXPECT_EQ(a.eintraege(), (Liste{"A=x", "B=1"}));
    EXPECT_EQ(a.mit_nullbyte(), 1U);
}

TEST(HostileRecords, ZeroByteBody)
{
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("REQUEST_METHOD=POST\nCONTENT_LENGTH=0\n*0\n"));
    EXPECT_TRUE(a.mit_laenge());
    EXPECT_EQ(a.angesagt(), 0);
    EXPECT_EQ(a.inhaltlaenge(), 0U);
}

TEST(HostileRecords, AForgedSecondRemoteAddrIsReportedAndTheLastWins)
{
    // A header value "a\nREMOTE_ADDR=6.6.6.6" reads as two entries.
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("REMOTE_ADDR=127.0.0.1\nHTTP_X=a\nREMOTE_ADDR=6.6.6.6\nHTTP_X=b\n*0\n"));
    EXPECT_EQ(a.doppelt(), (Liste{"REMOTE_ADDR", "HTTP_X"}));
    EXPECT_EQ(a.umgebung(), (Liste{"REMOTE_ADDR=6.6.6.6", "HTTP_X=b"}));
    EXPECT_EQ(a.wert("REMOTE_ADDR"), "6.6.6.6");
    EXPECT_EQ(a.eintraege().size(), 4U) << "the reader keeps every entry; the warning names the name";
}

TEST(HostileRecords, ManyContinuationLinesCostLinearTime)
{
    // 4 million continuation lines: a quadratic join would not end in time.
    std::string daten = "A=1\n" + std::string(4'000'000, '\n') + "*0\n";
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen(daten));
    EXPECT_EQ(a.eintraege()[0].size(), 3U + 4'000'000U);
}

// A record file in memory, as kopf_lesen() reads it.
int als_datei(const std::string &daten)
{
    int fd = memfd_create("record", MFD_CLOEXEC);
    EXPECT_EQ(write(fd, daten.data(), daten.size()), static_cast<ssize_t>(daten.size()));
    return fd;
}

TEST(RecordFile, OnlyTheEntriesPartIsReadTheBodyStaysInTheFile)
{
    // Entries over several 64 KiB pieces, the '*' line across the seam of
    // two pieces, lines without a line feed at the file's end; a limit.
    std::string lang = "HTTP_X=" + std::string(65536 - 9, 'x') + "\n";
    struct Fall {
        std::string daten;
        std::size_t hoechstens;
        Aufzeichnung::Lesen erg;
        std::size_t eintraege, inhalt_ab;
    };
    const Fall faelle[] = {
        {lang + "*12345\n" + std::string(200000, 'b'), KOPF_HOECHSTENS, Aufzeichnung::GELESEN, 1, lang.size() + 7},
        {lang + "A=1\n" + lang + "*0", KOPF_HOECHSTENS, Aufzeichnung::GELESEN, 3, 2 * lang.size() + 6},
        {"A=1\n\tzwei\nB=2", KOPF_HOECHSTENS, Aufzeichnung::GELESEN, 2, 13},
        {"A=1\n*5\nabcde", 7, Aufzeichnung::GELESEN, 1, 7},
        {"A=1\n*5\nabcde", 6, Aufzeichnung::ZU_GROSS, 0, 0},
        {"A=1\nB=2\n", 8, Aufzeichnung::GELESEN, 2, 8},
        {"A=1\nB=2\nC", 8, Aufzeichnung::ZU_GROSS, 0, 0},
        {"keine\n*1\n=", KOPF_HOECHSTENS, Aufzeichnung::KEIN_DUMP, 0, 0},
        {"", KOPF_HOECHSTENS, Aufzeichnung::KEIN_DUMP, 0, 0},
    };
    for (const Fall &f : faelle) {
        int fd = als_datei(f.daten);
        Aufzeichnung a;
        ASSERT_EQ(a.kopf_lesen(fd, f.daten.size(), f.hoechstens), f.erg) << f.daten.substr(0, 20);
        close(fd);
        if (f.erg != Aufzeichnung::GELESEN)
            continue;
        EXPECT_EQ(a.eintraege().size(), f.eintraege) << f.daten.substr(0, 20);
        EXPECT_EQ(a.inhalt_ab(), f.inhalt_ab) << f.daten.substr(0, 20);
        EXPECT_EQ(a.inhaltlaenge(), f.daten.size() - f.inhalt_ab);
        EXPECT_TRUE(a.inhalt().empty()) << "the body is not held in memory";
        Aufzeichnung ganz;
        ganz.zerlegen(f.daten);
        EXPECT_EQ(a.eintraege(), ganz.eintraege()) << "kopf_lesen() reads as zerlegen() does";
    }
    // A file that got shorter since its size was taken ends there.
    int fd = als_datei("A=1\nB=2");
    Aufzeichnung a;
    ASSERT_EQ(a.kopf_lesen(fd, 1000), Aufzeichnung::GELESEN);
    close(fd);
    EXPECT_EQ(a.eintraege(), (Liste{"A=1", "B=2"}));
    EXPECT_EQ(a.inhaltlaenge(), 0U);
}

TEST(ServerVariables, OnlyWhatAWebServerSetsForACgiProgram)
{
    // Of SSL_* only the names that mod_ssl and lighttpd set; PATH and
    // HTTP_PROXY, which a server may set, choose what runs or where a
    // program's own requests go.
    for (const char *n : {"SERVER_", "HTTP_", "REMOTE_USER", "PATH_INFO", "REDIRECT_STATUS", "SSL_CLIENT_S_DN",
                          "CONTEXT_PREFIX", "HTTPS", "FCGI_ROLE", "SSL_PROTOCOL", "SSL_CIPHER", "SSL_CIPHER_USEKEYSIZE",
                          "SSL_SESSION_ID", "SSL_SERVER_S_DN_CN", "SSL_VERSION_LIBRARY", "SSL_TLS_SNI",
                          "SSL_CLIENT_CERT", "SSL_SECURE_RENEG", "HTTP_PROXY_AUTHORIZATION", "SCRIPT_FILENAME"})
        EXPECT_TRUE(ist_servervariable(n)) << n;
    for (const char *n : {"BASH_ENV", "PERL5OPT", "IFS", "LD_PRELOAD", "PATHX", "PATH_", "HTTP", "SERVER", "http_x",
                          "HTTPS_X", "XHTTP_A", "", "SSL", "PATH", "HTTP_PROXY", "SSL_CERT_FILE", "SSL_CERT_DIR",
                          "SSL_", "SSL_CIPHERS", "SSLKEYLOGFILE", "SSL_PROTOCOLX"})
        EXPECT_FALSE(ist_servervariable(n)) << n;
    EXPECT_TRUE(ist_umlenkvariable("PATH") && ist_umlenkvariable("HTTP_PROXY") && !ist_umlenkvariable("HTTP_PROXYX"));
}

TEST(ShellQuoting, SingleQuotesWithEscapedQuote)
{
    EXPECT_EQ(shellwort(""), "''");
    EXPECT_EQ(shellwort("a b"), "'a b'");
    EXPECT_EQ(shellwort("it's"), "'it'\\''s'");
    EXPECT_EQ(shellwort("$(id)`id`\\\n"), "'$(id)`id`\\\n'");
}

// The standard output of a shell command line.
std::string ausgabe(const std::string &aufruf)
{
    FILE *p = popen(aufruf.c_str(), "r");
    std::string erg;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        erg.append(buf, n);
    pclose(p);
    return erg;
}

// What bash makes of a quoted word: printf's output of its one argument,
// and the number of arguments, when bash runs "printf ... WORD".
std::string durch_bash(const std::string &text)
{
    std::string befehl = "set -- " + shellwort(text) + "; printf '%s|%d' \"$1\" $#";
    return ausgabe("bash -c " + shellwort(befehl));
}

TEST(ShellQuoting, EveryByteSurvivesBashAsOneWord)
{
    std::string alle;
    for (int b = 1; b < 256; ++b)
        alle += static_cast<char>(b);
    for (const std::string &t : {alle, "'"s, "''\\'"s, "$(touch nie)"s, "a\nb c\td"s, "!!"s, "*"s, "~"s, "-n"s})
        EXPECT_EQ(durch_bash(t), t + "|1");
}

// ---- the pieces of the curl command -----------------------------------------

TEST(CurlCommand, EveryByteBoundForTheRequestLineOrAHeaderIsChecked)
{
    struct Fall {
        std::string text;
        bool token, kopfwert, host;
    };
    const Fall faelle[] = {
        {"GET", true, true, true},
        {"M-SEARCH", true, true, true},
        {"!#$%&'*+-.^_`|~09azAZ", true, true, false},
        {"", false, true, false},
        {"G T", false, true, false},
        {"GET /x HTTP/1.1\r\nX: y", false, false, false},
        {"a\nb", false, false, false},
        {"a\tb", false, true, false},
        {"a\0b"s, false, false, false},
        {"\x7F", false, false, false},
        {"\x01", false, false, false},
        {"\x1F", false, false, false},
        {"\xFC\xE4", false, true, false},
        {"a:b", false, true, true},
        {"(x)", false, true, false},
        {"\"", false, true, false},
        {"[::1]:8080", false, true, true},
        {"a/b", false, true, false},
        {"a@b", false, true, false},
    };
    for (const Fall &f : faelle) {
        EXPECT_EQ(ist_token(f.text), f.token) << f.text;
        EXPECT_EQ(ist_kopfwert(f.text), f.kopfwert) << f.text;
        EXPECT_EQ(ist_host(f.text), f.host) << f.text;
    }
}

// curl's own headers, which a record without them leaves out; with a body
// Content-Type and Expect too.
const std::string OHNE = " -H 'User-Agent:' -H 'Accept:'";
const std::string OHNE_MIT_INHALT = OHNE + " -H 'Content-Type:' -H 'Expect:'";
const std::string NACH_H = " --url 'http://h' --request-target '/'\n";
const std::string GROSS = "REQUEST_METHOD=POST\nHTTP_HOST=h\n*65537\n" + std::string(65537, 'x');

// curl_befehl()'s result as one text: a refusal with its status, the
// command, each note after "note: ".
std::string als_text(const CurlErgebnis &e)
{
    std::string t = e.befehl;
    if (e.status != 0 || !e.verweigert.empty())
        t = "refused (" + std::to_string(e.status) + "): " + e.verweigert + "\n" + t;
    for (const std::string &h : e.hinweise)
        t += "note: " + h + "\n";
    return t;
}

TEST(CurlCommand, ARecordGivesOneCommandAndItsNotesOrARefusal)
{
    struct Fall {
        std::string aufzeichnung, erwartet;
        const char *url = nullptr, *inhaltsdatei = nullptr;
    };
    const std::string ohne_kopf = "left out the header ";
    const std::string steuerzeichen = ", whose value holds a line break or another control byte\n";
    const Fall faelle[] = {
        {"REQUEST_METHOD=G\xC3\\T\nHTTP_HOST=h\n*0\n",
         "refused (2): the method is no HTTP token (\"G\\xC3\\x5CT\"), it would break the request line: refused\n"},
        {GROSS, "refused (2): the body has 65537 bytes, more than the 65536 a command holds (--body-file FILE writes "
                "it to a file that the command reads): refused\n"},
        {GROSS,
         "curl -sS -g" + OHNE_MIT_INHALT + " --url 'http://h' --request-target '/' --data-binary @'/k o'\\''p'\n",
         nullptr, "/k o'p"},
        {"REQUEST_METHOD=POST\nHTTP_HOST=h\n*65536\n" + std::string(65536, 'x'),
         "printf '" + std::string(65536, 'x') + "' | curl -sS -g" + OHNE_MIT_INHALT +
             " --url 'http://h' --request-target '/' --data-binary @-\n"},
        // Names restored, values checked and quoted, the last of a name.
        {"REQUEST_METHOD=GET\nHTTP_HOST=h\nHTTP_ACCEPT_LANGUAGE=de\nHTTP_X_LEER=\nHTTP_X_BAD=a\x01z\nHTTP_X_LF=a\n\tb\n"
         "HTTP_BAD(NAME=1\nHTTP_\xC3\x9C=1\nHTTP_X=1\nHTTP_X=2\nHTTP_CONTENT_LENGTH=5\nHTTP_TRANSFER_ENCODING=c\n*0\n",
         "curl -sS -g -H 'Accept-Language: de' -H 'X-Leer;' -H 'X: 2'" + OHNE + NACH_H + "note: " + ohne_kopf +
             "X-Bad" + steuerzeichen + "note: " + ohne_kopf + "X-Lf" + steuerzeichen +
             "note: left out HTTP_BAD(NAME, which is no header name\n"
             "note: left out HTTP_\\xC3\\x9C, which is no header name\n"},
        {"HTTP_HOST=h\nHTTP_X=$(id) 'q'\tz\n*0\n", "curl -sS -g -H 'X: $(id) '\\''q'\\''\tz'" + OHNE + NACH_H},
        {"REQUEST_METHOD=POST\nHTTP_USER_AGENT=ua\nHTTP_ACCEPT=*/*\nCONTENT_TYPE=text/plain\nHTTP_CONTENT_TYPE=x\n"
         "HTTP_EXPECT=100-continue\nHTTP_HOST=h\n*4\n-a'%",
         "printf '\\055a\\047%%' | curl -sS -g -H 'User-Agent: ua' -H 'Accept: */*' -H 'Content-Type: text/plain' "
         "-H 'Expect: 100-continue' --url 'http://h' --request-target '/' --data-binary @-\n"},
        {"REQUEST_METHOD=POST\nHTTP_CONTENT_TYPE=a/b\nHTTP_HOST=h\n*0\n",
         "curl -sS -g -H 'Content-Type: a/b'" + OHNE +
             " -H 'Expect:' --url 'http://h' --request-target '/' "
             "--data-binary ''\n"},
        {"REQUEST_METHOD=POST\nHTTP_HOST=h\n*0\n",
         "curl -sS -g" + OHNE_MIT_INHALT + " --url 'http://h' --request-target '/' --data-binary @'k'\n", nullptr, "k"},
        // nginx sets CONTENT_TYPE empty where the request had none; an empty
        // one that was sent stands in HTTP_CONTENT_TYPE too.
        {"REQUEST_METHOD=GET\nCONTENT_TYPE=\nCONTENT_LENGTH=\nSERVER_SOFTWARE=nginx/1.22.1\nHTTP_HOST=h\n*0\n",
         "curl -sS -g" + OHNE + NACH_H},
        {"REQUEST_METHOD=GET\nCONTENT_TYPE=\nSERVER_SOFTWARE=nginx/1.22.1\nHTTP_HOST=h\nHTTP_CONTENT_TYPE=\n*0\n",
         "curl -sS -g -H 'Content-Type;'" + OHNE + NACH_H},
        {"REQUEST_METHOD=GET\nCONTENT_TYPE=\nHTTP_HOST=h\n*0\n", "curl -sS -g -H 'Content-Type;'" + OHNE + NACH_H},
        {"REQUEST_METHOD=HEAD\nHTTP_HOST=h\n*0\n", "curl -sS -g --head" + OHNE + NACH_H},
        {"REQUEST_METHOD=HEAD\nHTTP_HOST=h\n*1\nz", "printf 'z' | curl -sS -g -X 'HEAD'" + OHNE_MIT_INHALT +
                                                        " --url 'http://h' --request-target '/' --data-binary @-\n"},
        // A refused method's record: no '*' line, no body.
        {"REQUEST_METHOD=DELETE\nHTTP_HOST=h\n", "curl -sS -g -X 'DELETE'" + OHNE + NACH_H, nullptr, "k"},
        // The host: HTTP_HOST, else SERVER_NAME and a port that is not the
        // scheme's, else localhost; --url without its trailing slashes.
        {"HTTPS=on\nSERVER_NAME=s\nSERVER_PORT=443\n*0\n",
         "curl -sS -g" + OHNE + " --url 'https://s' --request-target '/'\n"},
        {"HTTPS=1\nHTTP_HOST=[::1]:8443\n*0\n",
         "curl -sS -g" + OHNE + " --url 'https://[::1]:8443' --request-target '/'\n"},
        {"HTTPS=off\nHTTP_HOST=a/b\nSERVER_NAME=s\nSERVER_PORT=443\n*0\n",
         "curl -sS -g" + OHNE + " --url 'http://s:443' --request-target '/'\n"},
        {"SERVER_NAME=s\nSERVER_PORT=8 0\n*0\n", "curl -sS -g" + OHNE + " --url 'http://s' --request-target '/'\n"},
        {"HTTP_HOST=a b\nSERVER_NAME=\n*0\n",
         "curl -sS -g" + OHNE +
             " --url 'http://localhost' --request-target '/'\n"
             "note: the record names no host, localhost is taken (--url BASE chooses one)\n"},
        {"HTTP_HOST=a b\n*0\n", "curl -sS -g" + OHNE + " --url 'https://x:1' --request-target '/'\n", "https://x:1//"},
        // The request target: REQUEST_URI, else put together; bytes that
        // would break the request line as %XX.
        {"HTTP_HOST=h\nREQUEST_URI=/a b\x7F\tc?d\n*0\n",
         "curl -sS -g" + OHNE +
             " --url 'http://h' --request-target '/a%20b%7F%09c?d'\n"
             "note: the request target holds blanks or control bytes; they are sent as %XX\n"},
        {"HTTP_HOST=h\nREQUEST_URI=\nSCRIPT_NAME=/s\nPATH_INFO=/p\nQUERY_STRING=x=1\n*0\n",
         "curl -sS -g" + OHNE + " --url 'http://h' --request-target '/s/p?x=1'\n"},
        {"HTTP_HOST=h\nSCRIPT_NAME=/s\nQUERY_STRING=\n*0\n",
         "curl -sS -g" + OHNE + " --url 'http://h' --request-target '/s'\n"},
    };
    for (const Fall &f : faelle) {
        std::string fall = f.aufzeichnung.substr(0, 60);
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(f.aufzeichnung)) << fall;
        CurlWahl w{f.url, f.inhaltsdatei, f.inhaltsdatei != nullptr ? "" : a.inhalt()};
        EXPECT_EQ(als_text(curl_befehl(a, w)), f.erwartet) << fall;
        // The caller asks before it reads the body.
        std::string verweigert = curl_verweigert(a, CurlWahl{f.url, f.inhaltsdatei, {}});
        EXPECT_EQ(f.erwartet.starts_with("refused"), !verweigert.empty()) << fall;
        EXPECT_NE(f.erwartet.find(verweigert), std::string::npos) << fall;
    }
}

TEST(CurlCommand, EveryByteSurvivesTheShellsPrintf)
{
    // Every byte value, an octal escape before digits, and a leading "--"
    // (as a multipart body starts), as bash's and dash's builtin printf and
    // the printf program write it.
    std::string alle = "--";
    for (int b = 0; b < 256; ++b)
        alle += static_cast<char>(b);
    alle += "\x01"
            "12\\0%%d\\n'";
    for (const char *shell : {"bash", "dash"})
        for (const char *printf : {"printf ", "/usr/bin/printf "})
            EXPECT_TRUE(ausgabe(std::string(shell) + " -c " + shellwort(printf + printf_format(alle))) == alle)
                << shell << " " << printf;
}

} // namespace
