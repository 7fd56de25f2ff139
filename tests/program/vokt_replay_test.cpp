// vokt-replay as a user runs it: run mode, --body, the errors, and --curl,
// whose printed command bash runs against a small loopback server that
// captures what arrives.  Every file lives in a folder the test owns.
#include "fangserver.h"
#include "process.h"
#include "skip.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;
using Liste = std::vector<std::string>;

const std::string REPLAY = VOKT_REPLAY;
const std::string VOKT = VOKT_BIN;

using Ergebnis = Outcome;

class Replay : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *t = std::getenv("TMPDIR");
        std::string vorlage = std::string(t != nullptr && *t == '/' ? t : "/tmp") + "/vokt-replay-test.XXXXXX";
        ASSERT_NE(mkdtemp(vorlage.data()), nullptr);
        dir_ = vorlage;
    }
    void TearDown() override
    {
        std::string befehl = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(befehl.c_str()), 0);
    }

    std::string datei(const std::string &name, const std::string &inhalt)
    {
        std::string pfad = dir_ + "/" + name;
        EXPECT_TRUE(write_file(pfad, inhalt)) << pfad;
        return pfad;
    }

    // Runs argv in the test's folder with the caller's environment plus
    // extra, standard input empty, standard output and error collected;
    // within an address space of `speicher` bytes when given, and killed
    // (by SIGALRM) after 60 s.
    Ergebnis starte(const Liste &argv, const Liste &extra = {}, rlim_t speicher = 0)
    {
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        return run_captured([&] {
            rlimit grenze{speicher, speicher};
            if (chdir(dir_.c_str()) != 0 || (speicher > 0 && setrlimit(RLIMIT_AS, &grenze) != 0))
                _exit(120);
            alarm(60);
            for (const std::string &x : extra)
                putenv(const_cast<char *>(x.c_str()));
            execv(args[0], args.data());
            _exit(121);
        });
    }

    std::string dir_;
};

// A program that prints its whole environment (NUL-separated, in order),
// a '|', and what it reads on standard input up to its end.
const Liste ZEIGE = {"/bin/sh", "-c", "cat /proc/$$/environ; printf '|'; cat"};

Liste mit(Liste vorne, const Liste &hinten)
{
    vorne.insert(vorne.end(), hinten.begin(), hinten.end());
    return vorne;
}

TEST_F(Replay, RunModeGivesExactlyTheRecordedEntriesAndTheBody)
{
    std::string rec = datei("rec", "CONTENT_LENGTH=5\nSERVER_SIGNATURE=<address>x</address>\n\t\n"
                                   "HTTP_X=a b\nREQUEST_METHOD=POST\n*5\na\0\nb\n"s);
    Ergebnis r = starte(mit({REPLAY, rec}, ZEIGE), {"VOM_AUFRUFER=1"});
    EXPECT_EQ(r.out, "CONTENT_LENGTH=5\0SERVER_SIGNATURE=<address>x</address>\n\0HTTP_X=a b\0REQUEST_METHOD=POST\0|a\0\nb\n"s);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Replay, LargeBodyArrivesWholeThenEndOfInput)
{
    std::mt19937 zufall(7);
    std::string body(3 << 20, '\0');
    for (char &c : body)
        c = static_cast<char>(zufall());
    std::string rec = datei("rec", "REQUEST_METHOD=POST\n*" + std::to_string(body.size()) + "\n" + body);
    Ergebnis r = starte({REPLAY, rec, "/bin/sh", "-c", "cat; echo ende"});
    EXPECT_TRUE(r.out == body + "ende\n") << r.out.size();
    EXPECT_EQ(r.status, 0);
}

TEST_F(Replay, StatusPassesThroughAndASignalGives128Plus)
{
    std::string rec = datei("rec", "REQUEST_METHOD=GET\n*0\n");
    EXPECT_EQ(starte({REPLAY, rec, "/bin/sh", "-c", "exit 42"}).status, 42);
    EXPECT_EQ(starte({REPLAY, rec, "--", "/bin/sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
}

TEST_F(Replay, NotesOnStandardError)
{
    std::string rec = datei("rec", "REMOTE_ADDR=1\nREMOTE_ADDR=2\nHTTP_N=a\0b\nHTTP_M=x\nweiter\nREQUEST_METHOD=PUT\n"s);
    Ergebnis r = starte(mit({REPLAY, rec}, ZEIGE));
    EXPECT_EQ(r.out, "REMOTE_ADDR=2\0HTTP_N=a\0HTTP_M=x\nweiter\0REQUEST_METHOD=PUT\0|"s) << "no body without a '*' line";
    EXPECT_NE(r.err.find("REMOTE_ADDR appears more than once; the replay uses the last one"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(rec + ": lines without '=' were read as parts of the entry before them (a record of an older"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("1 entries hold a zero byte"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no '*' line"), std::string::npos) << r.err;
    rec = datei("kurz", "REQUEST_METHOD=POST\n*10\nabc");
    EXPECT_NE(starte(mit({REPLAY, rec}, ZEIGE)).err.find("arrived short: 3 of 10"), std::string::npos);
    rec = datei("lang", "REQUEST_METHOD=POST\n*0\nabc");
    EXPECT_NE(starte(mit({REPLAY, rec}, ZEIGE)).err.find("3 bytes, more than the 0 announced"), std::string::npos);
}

TEST_F(Replay, OnlyWhatAWebServerSetsReachesTheProgramUnlessKept)
{
    const Liste eintraege = {"SERVER_NAME=s",        "BASH_ENV=/b",        "ENV=/e",
                             "HTTP_X=1",             "PERL5OPT=-d",        "PERL5DB=BEGIN{}",
                             "PYTHONSTARTUP=/p",     "NODE_OPTIONS=-r /n", "LD_PRELOAD=",
                             "REQUEST_METHOD=GET",   "GCONV_PATH=/x",      "MALLOC_CHECK_=3",
                             "GLIBC_TUNABLES=x",     "LD_LIBRARY_PATH=/n",
                             "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"};
    std::string inhalt;
    for (const std::string &e : eintraege)
        inhalt += e + "\n";
    std::string rec = datei("rec", inhalt + "*0\n");
    const Liste server = {"SERVER_NAME", "HTTP_X", "REQUEST_METHOD", "PATH"};
    const Liste lader = {"LD_PRELOAD", "GCONV_PATH", "MALLOC_CHECK_", "GLIBC_TUNABLES", "LD_LIBRARY_PATH"};
    struct Fall {
        Liste optionen, behalten;
    };
    const Fall faelle[] = {
        {{}, server},
        {{"--keep", "BASH_ENV", "--keep", "LD_PRELOAD", "--keep", "NIRGENDS"}, mit(server, {"BASH_ENV", "LD_PRELOAD"})},
        {{"--keep-loader-variables"}, mit(server, lader)},
        {{"--keep-all"}, {}},
    };
    for (const Fall &f : faelle) {
        Ergebnis r = starte(mit(mit(mit({REPLAY}, f.optionen), {rec}), ZEIGE));
        std::string erwartet;
        std::size_t weggelassen = 0;
        for (const std::string &e : eintraege) {
            std::string name = e.substr(0, e.find('='));
            bool bleibt = f.behalten.empty() || std::count(f.behalten.begin(), f.behalten.end(), name) > 0;
            erwartet += bleibt ? e + '\0' : "";
            weggelassen += bleibt ? 0 : 1;
            bool gemeldet = r.err.find("vokt-replay: " + rec + ": left out " + name + ", which") != std::string::npos;
            EXPECT_NE(bleibt, gemeldet) << name << "\n" << r.err;
        }
        EXPECT_EQ(r.out, erwartet + "|") << f.optionen.size();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), weggelassen) << r.err;
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(Replay, ASearchPathProxyOrTrustStoreOfTheRecordIsNeverTheProgramsUnlessKept)
{
    // A record with PATH=. (an older record's forged line, or made by hand)
    // and a ./cat in the folder the replay runs in; the TLS library's own
    // SSL_* and a client's Proxy header beside mod_ssl's SSL_*.
    std::string gelaufen = dir_ + "/gelaufen";
    std::string cat = datei("cat", "#!/bin/sh\n/usr/bin/touch " + gelaufen + "\n");
    chmod(cat.c_str(), 0755);
    const std::string fest = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    std::string rec = datei("rec", "REQUEST_METHOD=POST\nPATH=.\nSSL_CERT_FILE=/x/ca.pem\nSSL_CERT_DIR=/x\n"
                                   "SSL_PROTOCOL=TLSv1.3\nSSL_CLIENT_S_DN=CN=a\nHTTP_PROXY=http://6.6.6.6:1\n*2\nab");
    const std::string ueber_pfad = rec + ": gave the program " + fest + " instead of the record's PATH=., a search path";
    struct Fall {
        Liste optionen;
        std::string umgebung;
        std::size_t hinweise;
        bool cat_der_aufzeichnung;
    };
    const Fall faelle[] = {
        {{}, "REQUEST_METHOD=POST\0"s + fest + "\0SSL_PROTOCOL=TLSv1.3\0SSL_CLIENT_S_DN=CN=a\0"s, 4, false},
        {{"--keep", "SSL_CERT_FILE", "--keep", "HTTP_PROXY"},
         "REQUEST_METHOD=POST\0"s + fest +
             "\0SSL_CERT_FILE=/x/ca.pem\0SSL_PROTOCOL=TLSv1.3\0SSL_CLIENT_S_DN=CN=a\0HTTP_PROXY=http://6.6.6.6:1\0"s,
         2, false},
        {{"--keep", "PATH"}, "", 3, true},
        {{"--keep-all"}, "", 0, true},
    };
    for (const Fall &f : faelle) {
        unlink(gelaufen.c_str());
        Ergebnis r = starte(mit(mit(mit({REPLAY}, f.optionen), {rec}), ZEIGE));
        struct stat st {};
        EXPECT_EQ(stat(gelaufen.c_str(), &st) == 0, f.cat_der_aufzeichnung) << f.optionen.size() << r.err;
        if (!f.cat_der_aufzeichnung) {
            EXPECT_EQ(r.out, f.umgebung + "|ab") << f.optionen.size();
        }
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), f.hinweise) << r.err;
        bool pfad_behalten = f.optionen.size() > 1 && f.optionen[1] == "PATH";
        bool ersetzt = !pfad_behalten;
        EXPECT_EQ(r.err.find(ueber_pfad) != std::string::npos, ersetzt && f.hinweise > 0) << r.err;
        EXPECT_EQ(r.err.find("left out HTTP_PROXY, which a client's header sets") != std::string::npos,
                  f.optionen.empty() || pfad_behalten)
            << r.err;
    }
    // vokt replay runs the program the same way.
    unlink(gelaufen.c_str());
    Ergebnis v = starte(mit({VOKT, "replay", rec, "--"}, ZEIGE));
    struct stat st {};
    EXPECT_NE(stat(gelaufen.c_str(), &st), 0) << v.err;
    EXPECT_TRUE(v.out.starts_with(faelle[0].umgebung + "|ab")) << v.out;
    EXPECT_NE(v.err.find(ueber_pfad), std::string::npos) << v.err;
    // The fixed path is no news when the record has it, and none is added
    // when the record has no PATH (lighttpd and nginx set none).
    rec = datei("rec2", fest + "\nREQUEST_METHOD=GET\n*0\n");
    Ergebnis r = starte(mit({REPLAY, rec}, ZEIGE));
    EXPECT_EQ(r.out, fest + "\0REQUEST_METHOD=GET\0|"s);
    EXPECT_EQ(r.err, "");
    rec = datei("rec3", "REQUEST_METHOD=GET\n*0\n");
    EXPECT_EQ(starte(mit({REPLAY, rec}, ZEIGE)).out, "REQUEST_METHOD=GET\0|"s);
}

TEST_F(Replay, AForgedBashEnvRunsNothing)
{
    // An older record where PATH_INFO held a line feed and a forged entry.
    std::string gemacht = dir_ + "/gemacht";
    std::string rec = datei("rec", "PATH_INFO=/x\nBASH_ENV=$(touch " + gemacht + ")\nREQUEST_METHOD=GET\n*0\n");
    std::string cgi = datei("cgi", "#!/bin/bash\necho seite\n");
    chmod(cgi.c_str(), 0755);
    Ergebnis r = starte({REPLAY, rec, cgi});
    EXPECT_EQ(r.out, "seite\n");
    EXPECT_NE(r.err.find("left out BASH_ENV"), std::string::npos) << r.err;
    struct stat st {};
    EXPECT_NE(stat(gemacht.c_str(), &st), 0) << "the record's BASH_ENV ran";
    starte({REPLAY, "--keep-all", rec, cgi});
    EXPECT_EQ(stat(gemacht.c_str(), &st), 0) << "bash did not run BASH_ENV: the test shows nothing";
}

TEST_F(Replay, ABodyOfAnySizeTakesLittleMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit";
#endif
    // A sparse record with a body of 256 MiB; vokt-replay gets 64 MiB of
    // address space for the body raw, copied to a file, and as the input
    // of a program.
    const std::string kopf = "REQUEST_METHOD=POST\nREQUEST_URI=/p\n*268435456\n";
    const off_t groesse = static_cast<off_t>(kopf.size()) + (off_t{256} << 20);
    std::string rec = datei("rec", kopf);
    ASSERT_EQ(truncate(rec.c_str(), groesse), 0);
    int fd = open(rec.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, "ende", 4, groesse - 4), 4);
    close(fd);
    const rlim_t speicher = 64 << 20;
    const std::string cmp = "cmp -s -i " + std::to_string(kopf.size()) + ":0 " + rec + " ";
    auto gleich = [&](const std::string &kopie) { return std::system((cmp + kopie).c_str()) == 0; };
    Ergebnis r = starte({"/bin/sh", "-c", "exec \"$0\" --body rec >roh", REPLAY}, {}, speicher);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(gleich(dir_ + "/roh"));
    r = starte({REPLAY, "--curl", rec, "--body-file", "kopie"}, {}, speicher);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" --data-binary @'" + dir_ + "/kopie'\n"), std::string::npos) << r.out;
    EXPECT_TRUE(gleich(dir_ + "/kopie"));
    r = starte({REPLAY, rec, "/bin/sh", "-c", cmp + "- && echo gleich"}, {}, speicher);
    EXPECT_EQ(r.out, "gleich\n") << r.err;
    r = starte({REPLAY, "--curl", rec}, {}, speicher);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("more than the 65536 a command holds"), std::string::npos) << r.err;
}

TEST_F(Replay, BodyModeWritesTheRawBody)
{
    std::string rec = datei("rec", "REQUEST_METHOD=POST\n*4\n\0\xFF\n'"s);
    Ergebnis r = starte({REPLAY, "--body", rec});
    EXPECT_EQ(r.out, "\0\xFF\n'"s);
    EXPECT_EQ(r.status, 0);
}

TEST_F(Replay, ErrorsGiveOneLineStatus2AndRunNothing)
{
    std::string gut = datei("gut", "REQUEST_METHOD=POST\n*3\nabc");
    std::string leer = datei("leer", "");
    std::string binaer = datei("binaer", "\x7F"
                                         "ELF\0\0\0\n\xFF\xFE\n*12\n"s);
    std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string vorhanden = datei("vorhanden", "bleibt");
    std::string link = dir_ + "/link";
    ASSERT_EQ(symlink((dir_ + "/linkziel").c_str(), link.c_str()), 0);
    std::string gross = datei("gross", "REQUEST_METHOD=POST\n*65537\n" + std::string(65537, 'x'));
    const Liste toucher = {"/bin/sh", "-c", "touch gelaufen"};
    struct Fall {
        Liste argv;
        std::string erwartet;
    };
    const std::string token = ": the method is no HTTP token";
    const Fall faelle[] = {
        {mit({REPLAY, dir_ + "/fehlt"}, toucher), dir_ + "/fehlt: No such file or directory"},
        {mit({REPLAY, dir_}, toucher), dir_ + ": Is a directory"},
        {{REPLAY, "--curl", dir_}, dir_ + ": Is a directory"},
        {mit({REPLAY, fifo}, toucher), fifo + ": not a regular file"},
        {{REPLAY, "--body", fifo}, fifo + ": not a regular file"},
        {{REPLAY, "--curl", "/dev/zero"}, "/dev/zero: not a regular file"},
        {{REPLAY, "--body", "/dev/zero"}, "/dev/zero: not a regular file"},
        {mit({REPLAY, leer}, toucher), leer + ": no record"},
        {mit({REPLAY, binaer}, toucher), binaer + ": no record"},
        {{REPLAY, "--curl", datei("m1", "REQUEST_METHOD=G T\n*0\n")}, dir_ + "/m1" + token + " (\"G T\")"},
        {{REPLAY, "--curl", datei("m2", "REQUEST_METHOD=GET\n\t*0\n*0\n")}, dir_ + "/m2" + token + " (\"GET\\x0A*0\")"},
        {{REPLAY, "--curl", datei("m3", "REQUEST_METHOD=\n*0\n")}, dir_ + "/m3" + token},
        {{REPLAY, "--curl", gross}, gross + ": the body has 65537 bytes, more than the 65536 a command holds"},
        {{REPLAY, "--curl", gut, "--body-file", vorhanden}, vorhanden + ": cannot make the body's file: File exists"},
        {{REPLAY, "--curl", gut, "--body-file", link}, link + ": cannot make the body's file: File exists"},
        {mit({REPLAY, "--frisch", gut}, toucher), "unknown option --frisch"},
        {{REPLAY, gut, "gibt-es-nicht-vokt"}, "gibt-es-nicht-vokt: program not found"},
        {{REPLAY, gut, dir_}, dir_ + ": program not found"},
        {{REPLAY, gut}, gut + ": no PROGRAM given"},
        {{REPLAY, "--curl", gut, "--url"}, "--url needs a BASE"},
        {{REPLAY, "--keep"}, "--keep needs a NAME"},
        {{REPLAY, "--curl", "--keep", "X", gut}, "--keep, --keep-all and --keep-loader-variables belong to running"},
        {{REPLAY, "--body", gut, "--body-file", "f"}, "--body-file belongs to --curl"},
        {{REPLAY, "--body", gut, "x"}, "unexpected argument x"},
        {{REPLAY}, "usage: vokt-replay"},
    };
    for (const Fall &f : faelle) {
        Ergebnis r = starte(f.argv);
        EXPECT_EQ(r.status, 2) << f.erwartet;
        EXPECT_NE(r.err.find(f.erwartet), std::string::npos) << r.err;
        if (f.argv.size() > 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_EQ(r.out, "");
    }
    struct stat st {};
    EXPECT_NE(stat((dir_ + "/gelaufen").c_str(), &st), 0) << "a program ran";
    EXPECT_EQ(read_file(vorhanden), "bleibt");
    EXPECT_NE(stat((dir_ + "/linkziel").c_str(), &st), 0) << "--body-file followed a link";
    Ergebnis hilfe = starte({REPLAY, "--help"});
    EXPECT_EQ(hilfe.status, 0);
    EXPECT_NE(hilfe.err.find("--curl"), std::string::npos);
    EXPECT_NE(hilfe.err.find("--version"), std::string::npos);
    for (const std::string &programm : {REPLAY, VOKT}) {
        Ergebnis version = starte({programm, "--version"});
        EXPECT_EQ(version.status, 0) << programm;
        EXPECT_EQ(version.out, programm.substr(programm.rfind('/') + 1) + " " VOKT_VERSION "\n");
        EXPECT_EQ(version.err, "");
    }
}

// ---- --curl against a loopback server that captures what arrives ---------

bool hat_curl()
{
    return std::system("curl --version >/dev/null 2>&1") == 0;
}

// Sends a record with --curl through bash to the capture server.
struct Gesendet {
    std::string befehl, err, angekommen;
    int status = -1;
};

class CurlReplay : public Replay {
protected:
    // The record is gone before bash runs the command (as when the next
    // request overwrites the dump): the command must need nothing of it.
    Gesendet senden(const std::string &rec, const Liste &optionen = {}, const Liste &programm = {REPLAY, "--curl"})
    {
        Gesendet g;
        std::string base = "http://127.0.0.1:" + std::to_string(server_.port());
        Ergebnis b = starte(mit(mit(programm, {rec, "--url", base + "/"}), optionen));
        g.befehl = b.out;
        g.err = b.err;
        unlink(rec.c_str());
        EXPECT_TRUE(write_file(dir_ + "/befehl", g.befehl));
        std::string angekommen;
        std::thread t([&] { angekommen = server_.erfasse(); });
        Ergebnis r = starte({"/bin/bash", "befehl"});
        t.join();
        g.angekommen = angekommen;
        g.status = r.status;
        return g;
    }
    Fangserver server_;
};

// Pieces of hostile header values; none begins or ends in a blank, which
// every server strips.
const Liste STUECKE = {"'", "\"", "''", "$(touch boese1)", "`touch boese2`", "\\", "\\'", "';touch boese3;'",
                       ";", "a;", "x: y", "%s%n", "$HOME", "${IFS}", "!!", "*", "~", "{a,b}", "[1]",
                       "@/etc/passwd", "-H", "\xFC\xE4\xFF\x80", "a\tb", "#", "&&", "|", "<>", "\x7F"};
const Liste NAMEN = {"HTTP_X_A", "HTTP_ACCEPT_LANGUAGE", "HTTP_COOKIE", "HTTP_X_FORWARDED_FOR", "HTTP_REFERER",
                     "HTTP_USER_AGENT", "HTTP_ACCEPT", "HTTP_X_LEER"};
const Liste METHODEN = {"GET", "POST", "PUT", "DELETE", "PATCH", "OPTIONS", "post"};
const Liste ZIELTEILE = {"/cgi-bin/vokt.cgi", "/a/../b", "?", "a=1&b=", "'", "\"", "$(touch${IFS}boese4)", "`touch${IFS}boese5`",
                         "\\",  "%FF",     "\xFC", "[1]", "{a,b}", ";", "*", "=", "&"};

std::string waehle(std::mt19937 &z, const Liste &l)
{
    return l[z() % l.size()];
}

std::string kopfname(const std::string &env)
{
    std::string n;
    bool anfang = true;
    for (char c : env.substr(5)) {
        n += c == '_' ? '-' : anfang ? c : static_cast<char>(std::tolower(c));
        anfang = c == '_';
    }
    return n;
}

TEST_F(CurlReplay, HostileRecordsArriveExactlyAndRunNothing)
{
    if (!hat_curl())
        SKIP_UNLESS_CI("curl is not installed");
    ASSERT_NE(server_.port(), 0);
    std::mt19937 z(20261208);
    for (int runde = 0; runde < 40; ++runde) {
        std::string methode = waehle(z, METHODEN), ziel, rec, koepfe;
        while (ziel.size() < 3 || z() % 3 != 0)
            ziel += waehle(z, ZIELTEILE);
        if (ziel[0] != '/')
            ziel = "/" + ziel;
        Liste namen = NAMEN;
        std::shuffle(namen.begin(), namen.end(), z);
        bool zeilenumbruch = z() % 6 == 0;
        std::size_t anzahl = z() % 5;
        zeilenumbruch = zeilenumbruch && anzahl > 0;
        bool steuerzeichen = false;
        for (std::size_t i = 0; i < anzahl; ++i) {
            std::string wert;
            for (std::size_t k = 0, m = z() % 4; k < m; ++k)
                wert += (k > 0 && z() % 3 == 0 ? "x" : "") + waehle(z, STUECKE);
            if (zeilenumbruch && i == 0) {
                // As the writer writes it, and as older ones did.
                rec += namen[i] + (runde % 2 == 0 ? "=a\n\tfortgesetzt\n" : "=a\nfortgesetzt\n");
                continue; // left out, with a note
            }
            rec += namen[i] + "=" + wert + "\n";
            if (wert.find('\x7F') != std::string::npos) {
                steuerzeichen = true;
                continue; // left out, with a note
            }
            koepfe += kopfname(namen[i]) + (wert.empty() ? ":" : ": " + wert) + "\r\n";
        }
        std::string body;
        bool mit_body = methode == "POST" || z() % 3 == 0;
        for (std::size_t i = 0, n = mit_body ? z() % 3000 : 0; i < n; ++i)
            body += static_cast<char>(z());
        rec += "REQUEST_METHOD=" + methode + "\nREQUEST_URI=" + ziel + "\nHTTP_HOST=anderswo.example\n";
        if (mit_body) {
            rec += "CONTENT_TYPE=application/octet-stream\n";
            koepfe += "Content-Type: application/octet-stream\r\n";
            koepfe += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        }
        rec += "*" + std::to_string(body.size()) + "\n" + body;
        if (!mit_body && z() % 2 == 0)
            rec.resize(rec.rfind("*")); // a refused method: no '*' line

        Gesendet g = senden(datei("rec", rec));
        std::string erwartet = methode + " " + ziel + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                               std::to_string(server_.port()) + "\r\n" + koepfe + "\r\n" + body;
        ASSERT_EQ(g.angekommen, erwartet) << "round " << runde << ", command:\n" << g.befehl << g.err;
        EXPECT_EQ(g.status, 0) << g.befehl;
        EXPECT_EQ(zeilenumbruch || steuerzeichen, g.err.find("line break or another control byte") != std::string::npos)
            << g.err;
        EXPECT_EQ(g.befehl.find(dir_), std::string::npos) << "the command names the record: " << g.befehl;
    }
    struct stat st {};
    for (const char *b : {"boese1", "boese2", "boese3", "boese4", "boese5"})
        EXPECT_NE(stat((dir_ + "/" + b).c_str(), &st), 0) << "a record's value ran a command: " << b;
}

TEST_F(CurlReplay, RecordWithoutHostOrUriAndHostileNames)
{
    if (!hat_curl())
        SKIP_UNLESS_CI("curl is not installed");
    // No REQUEST_URI: SCRIPT_NAME, PATH_INFO and the query string; blanks
    // in the target are sent as %20; a name that is no header name is left
    // out; CONTENT_LENGTH and TRANSFER_ENCODING headers are curl's business.
    Gesendet g = senden(datei("rec", "SCRIPT_NAME=/cgi-bin/x.cgi\nPATH_INFO=/p q\nQUERY_STRING=a=1\n"
                                     "HTTP_A:B=1\nHTTP_=2\nHTTP_TRANSFER_ENCODING=chunked\n"
                                     "HTTP_CONTENT_LENGTH=99\nREQUEST_METHOD=POST\n*0\nabc"));
    EXPECT_EQ(g.angekommen, "POST /cgi-bin/x.cgi/p%20q?a=1 HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(server_.port()) + "\r\nContent-Length: 3\r\n\r\nabc")
        << g.befehl;
    EXPECT_NE(g.err.find("left out HTTP_A:B, which is no header name"), std::string::npos) << g.err;
    EXPECT_NE(g.err.find("left out HTTP_,"), std::string::npos) << g.err;
    EXPECT_NE(g.err.find("sent as %XX"), std::string::npos) << g.err;
}

TEST_F(CurlReplay, TheBodyIsInTheCommandOrInAFileOfItsOwn)
{
    if (!hat_curl())
        SKIP_UNLESS_CI("curl is not installed");
    // Up to 64 KiB in the command, more with --body-file only, which is
    // used whatever the size; an empty POST still says Content-Length: 0.
    struct Fall {
        std::size_t groesse;
        bool mit_datei;
    };
    const Fall faelle[] = {{0, false}, {0, true}, {65536, false}, {65537, true}, {5, true}};
    std::mt19937 zufall(11);
    for (const Fall &f : faelle) {
        std::string body(f.groesse, '\0');
        for (char &c : body)
            c = static_cast<char>(zufall());
        if (body.size() >= 2)
            body.replace(0, 2, "--"); // as a multipart body starts
        std::string datei_pfad = dir_ + "/body-" + std::to_string(f.groesse);
        Gesendet g = senden(datei("rec", "REQUEST_METHOD=POST\nREQUEST_URI=/p\n*" + std::to_string(f.groesse) + "\n" + body),
                            f.mit_datei ? Liste{"--body-file", "body-" + std::to_string(f.groesse)} : Liste{});
        std::string erwartet = "POST /p HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) +
                               "\r\nContent-Length: " + std::to_string(f.groesse) + "\r\n\r\n" + body;
        EXPECT_TRUE(g.angekommen == erwartet) << f.groesse << g.err << g.befehl.substr(0, 300);
        EXPECT_EQ(g.status, 0);
        struct stat st {};
        EXPECT_EQ(stat(datei_pfad.c_str(), &st) == 0, f.mit_datei) << f.groesse;
        if (f.mit_datei) {
            EXPECT_EQ(st.st_mode & 07777, 0600U);
            EXPECT_TRUE(read_file(datei_pfad) == body);
            EXPECT_NE(g.befehl.find(" --data-binary @'" + datei_pfad + "'\n"), std::string::npos) << g.befehl;
        }
    }
}

// ---- vokt replay, curl and body ----------------------------------------------

// A CGI script that shows the method, the length, the query, the cookie
// and its body.
const char ZEIGE_CGI[] = "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\n'\n"
                         "echo \"$REQUEST_METHOD $CONTENT_LENGTH q=$QUERY_STRING c=${HTTP_COOKIE-none}\"\ncat\n";

TEST_F(Replay, VoktReplayEditsACopyOfTheRecord)
{
    const std::string text = "REQUEST_METHOD=POST\nCONTENT_LENGTH=3\nQUERY_STRING=a=1\nHTTP_COOKIE=s=1\n"
                             "HTTP_COOKIE=s=2\n*3\nx=1";
    std::string rec = datei("rec", text);
    std::string cgi = datei("cgi", ZEIGE_CGI);
    chmod(cgi.c_str(), 0755);
    datei("neu", "y=22&z");
    datei("leer", "");
    struct Fall {
        Liste optionen;
        std::string erwartet;
    };
    const Fall faelle[] = {
        {{}, "POST 3 q=a=1 c=s=2\nx=1"},
        {{"--set", "QUERY_STRING=b=2"}, "POST 3 q=b=2 c=s=2\nx=1"},
        {{"--set", "HTTP_COOKIE=t=1"}, "POST 3 q=a=1 c=t=1\nx=1"},
        {{"--unset", "HTTP_COOKIE"}, "POST 3 q=a=1 c=none\nx=1"},
        {{"--body-file", "neu"}, "POST 6 q=a=1 c=s=2\ny=22&z"},
        {{"--body-file", "neu", "--set", "CONTENT_LENGTH=99"}, "POST 99 q=a=1 c=s=2\ny=22&z"},
        {{"--set", "REQUEST_METHOD=PUT", "--body-file", "leer", "--unset", "QUERY_STRING"}, "PUT 0 q= c=s=2\n"},
    };
    for (const Fall &f : faelle) {
        Ergebnis r = starte(mit(mit({VOKT, "replay", rec}, f.optionen), {"--", cgi}));
        EXPECT_EQ(r.out, "Content-Type: text/plain\n\n" + f.erwartet) << r.err;
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.err.find("vokt: " + cgi + ": a valid CGI response (Content-Type; lines end in LF)"),
                  std::string::npos)
            << r.err;
    }
    Ergebnis r = starte({"/bin/sh", "-c", "printf p=1 | \"$0\" replay rec --body-file /dev/stdin ./cgi", VOKT});
    EXPECT_EQ(r.out, "Content-Type: text/plain\n\nPOST 3 q=a=1 c=s=2\np=1") << r.err;
    EXPECT_EQ(read_file(rec), text) << "the record was changed";
}

// Whether pid sleeps in the system call nr.
bool schlaeft_in(pid_t pid, long nr)
{
    std::string s = read_file("/proc/" + std::to_string(pid) + "/syscall");
    return s.rfind(std::to_string(nr) + " ", 0) == 0;
}

// A writer that waits in open() on the --body-file FIFO before vokt
// comes: vokt keeps the descriptor that let it in and reads its body to the
// end (before, vokt closed it and opened the FIFO again, the writer lost its
// body and vokt waited for another writer forever).  Both on one CPU, where
// that always happened.
TEST_F(Replay, VoktReplayKeepsTheWriterOfAFifoThatWaitsAlready)
{
    std::string rec = datei("rec", "REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nx=1");
    std::string cgi = datei("cgi", ZEIGE_CGI);
    chmod(cgi.c_str(), 0755);
    std::string fifo = dir_ + "/rohr";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cpu_set_t vorher, eine;
    ASSERT_EQ(sched_getaffinity(0, sizeof vorher, &vorher), 0);
    CPU_ZERO(&eine);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &vorher)) {
            CPU_SET(c, &eine);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof eine, &eine), 0);
    for (int lauf = 0; lauf < 3; ++lauf) {
        pid_t schreiber = spawn([&fifo] {
            signal(SIGPIPE, SIG_IGN);
            int fd = open(fifo.c_str(), O_WRONLY);
            _exit(fd >= 0 && write(fd, "p=12", 4) == 4 ? 0 : 3);
        });
        for (int i = 0; i < 5000 && !schlaeft_in(schreiber, SYS_openat); ++i)
            usleep(1000);
        Ergebnis r = starte({"/usr/bin/timeout", "-s", "KILL", "10", VOKT, "replay", rec, "--body-file", fifo, cgi});
        kill(schreiber, SIGKILL); // when it still waits
        int ws = 0;
        waitpid(schreiber, &ws, 0);
        EXPECT_EQ(r.out, "Content-Type: text/plain\n\nPOST 4 q= c=none\np=12") << r.err;
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0) << "the writer lost its body";
    }
    sched_setaffinity(0, sizeof vorher, &vorher);
}

TEST_F(Replay, VoktReplaySumsUpTheProgramsResponse)
{
    std::string rec = datei("rec", "REQUEST_METHOD=GET\n*0\n");
    struct Fall {
        std::string skript;
        int status;
        std::string ausgabe, fehler; // the program's
        Liste summe;                 // the summary, after "vokt: /bin/sh: "
    };
    const std::string gross(200000, 'x');
    const Fall faelle[] = {
        {"printf 'X-A: b\\n\\nhallo'", 0, "X-A: b\n\nhallo", "",
         {"exit status 0",
          "no valid CGI response: no Content-Type, Location or Status header; lines end in LF, 13 bytes of output",
          "0 bytes on standard error"}},
        {"printf 'Status: abc\\nContent-Type: text/plain\\n\\n'; exit 3", 3, "Status: abc\nContent-Type: text/plain\n\n",
         "",
         {"exit status 3",
          "no valid CGI response: a malformed Status line (\"Status: abc\"); lines end in LF, 38 bytes of output",
          "0 bytes on standard error"}},
        {"printf 'Status: 404 Not Found\\r\\nContent-Type: text/html\\r\\n\\r\\n<p>'; printf oops >&2", 0,
         "Status: 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>", "oops\n",
         {"exit status 0", "a valid CGI response (Content-Type, Status 404 Not Found; lines end in CRLF), 53 bytes of output",
          "4 bytes on standard error"}},
        {"printf 'Location: /x\\n\\n'; kill -TERM $$", 128 + SIGTERM, "Location: /x\n\n", "",
         {"ended by signal 15 (Terminated), exit status 143",
          "a valid CGI response (Location; lines end in LF), 14 bytes of output", "0 bytes on standard error"}},
        {"printf 'Content-Type: a\\n\\n'; printf %200000s '' | tr ' ' x", 0, "Content-Type: a\n\n" + gross, "",
         {"exit status 0", "a valid CGI response (Content-Type; lines end in LF), 200017 bytes of output",
          "0 bytes on standard error"}},
        {"true", 0, "", "", {"exit status 0", "no valid CGI response: no output, 0 bytes of output", "0 bytes on standard error"}},
        {"printf 'Status: 200 OK\\n\\nHello'", 0, "Status: 200 OK\n\nHello", "",
         {"exit status 0",
          "no valid CGI response: a body follows, but no Content-Type header (a response with a body needs one); "
          "lines end in LF, 21 bytes of output",
          "0 bytes on standard error"}},
    };
    for (const Fall &f : faelle) {
        Ergebnis r = starte({VOKT, "replay", rec, "/bin/sh", "-c", f.skript});
        std::string summe;
        for (const std::string &z : f.summe)
            summe += "vokt: /bin/sh: " + z + "\n";
        EXPECT_EQ(r.status, f.status) << f.skript;
        EXPECT_TRUE(r.out == f.ausgabe) << f.skript << "\n" << r.out.substr(0, 200);
        EXPECT_EQ(r.err, f.fehler + summe) << f.skript;
    }
}

TEST_F(Replay, VoktBodyWritesTheRawBody)
{
    for (const std::string &text : {"REQUEST_METHOD=POST\n*4\n\0\xFF\n'"s, "REQUEST_METHOD=GET\n"s, "A=1\n*0\n"s}) {
        std::string rec = datei("rec", text);
        Ergebnis r = starte({VOKT, "body", rec});
        EXPECT_TRUE(r.out == starte({REPLAY, "--body", rec}).out) << text;
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(Replay, VoktErrorsGiveOneLineStatus2AndRunNothing)
{
    std::string rec = datei("rec", "REQUEST_METHOD=POST\n*3\nabc");
    std::string gross = datei("gross", "REQUEST_METHOD=POST\n*65537\n" + std::string(65537, 'x'));
    std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Liste toucher = {"--", "/bin/sh", "-c", "touch gelaufen"};
    struct Fall {
        Liste argv;
        std::string erwartet;
    };
    const Fall faelle[] = {
        {{VOKT, "replay", rec}, rec + ": no PROGRAM given"},
        {mit({VOKT, "replay", rec, "--set", "=x"}, toucher), "--set needs NAME=VALUE, not \"=x\""},
        {mit({VOKT, "replay", rec, "--set", "X"}, toucher), "--set needs NAME=VALUE, not \"X\""},
        {mit({VOKT, "replay", rec, "--unset", "A=b"}, toucher), "--unset needs a NAME without '=', not \"A=b\""},
        {{VOKT, "replay", rec, "--set"}, "--set needs NAME=VALUE"},
        {mit({VOKT, "replay", rec, "--body-file", "fehlt"}, toucher), "fehlt: No such file or directory"},
        {mit({VOKT, "replay", rec, "--body-file", "/dev/zero"}, toucher), "/dev/zero: not a regular file or a pipe"},
        {mit({VOKT, "replay", rec, "--url", "http://x"}, toucher), "--url belongs to vokt curl"},
        {mit({VOKT, "replay", dir_ + "/fehlt"}, toucher), dir_ + "/fehlt: No such file or directory"},
        {{VOKT, "replay", rec, "gibt-es-nicht-vokt"}, "gibt-es-nicht-vokt: program not found"},
        {{VOKT, "curl", rec, "--body-file", fifo}, fifo + ": not a regular file (the command reads it)"},
        {{VOKT, "curl", rec, "--keep", "X"}, "--keep belongs to vokt replay"},
        {{VOKT, "curl", rec, "weiter"}, "unexpected argument weiter"},
        {{VOKT, "curl", gross}, gross + ": the body has 65537 bytes, more than the 65536 a command holds ('vokt body"},
        {{VOKT, "curl", datei("m", "REQUEST_METHOD=G T\n*0\n"), "--body-file", "gross"},
         dir_ + "/m: the method is no HTTP token"},
        {{VOKT, "curl"}, "no RECORD given"},
        {{VOKT, "body"}, "no RECORD given"},
        {{VOKT, "body", rec, "x"}, "usage: vokt body RECORD"},
        {{VOKT, "body", fifo}, fifo + ": not a regular file"},
    };
    for (const Fall &f : faelle) {
        Ergebnis r = starte(f.argv);
        EXPECT_EQ(r.status, 2) << f.erwartet;
        EXPECT_NE(r.err.find("vokt: " + f.erwartet), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    struct stat st {};
    EXPECT_NE(stat((dir_ + "/gelaufen").c_str(), &st), 0) << "a program ran";
    for (const char *befehl : {"replay", "curl", "body"}) {
        Ergebnis hilfe = starte({VOKT, befehl, "--help"});
        EXPECT_EQ(hilfe.status, 0);
        EXPECT_EQ(hilfe.out.rfind("usage: vokt "s + befehl + " RECORD", 0), 0u) << hilfe.out;
    }
}

// vokt.cgi replayed with edits records the edited request.  It runs as
// nobody, in a mount namespace of its own whose /tmp is a folder of the
// test: its dump goes there, no real user's dump is written.  vokt and
// vokt.cgi are copied into that folder: a build folder below /tmp is hidden
// in the namespace.
TEST_F(Replay, VoktReplayIntoVoktCgiRecordsTheEditedRequest)
{
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        SKIP_UNLESS_CI("needs root, unshare and setpriv");
    const std::string kopf = "GATEWAY_INTERFACE=CGI/1.1\nSERVER_PROTOCOL=HTTP/1.1\nREQUEST_METHOD=POST\n"
                             "CONTENT_TYPE=application/x-www-form-urlencoded\n";
    std::string rec = datei("rec", kopf + "CONTENT_LENGTH=3\nQUERY_STRING=a=1\nHTTP_COOKIE=s=1\n*3\nx=1");
    std::string neu = datei("neu", "y=22&z=3");
    ASSERT_EQ(mkdir((dir_ + "/tmp").c_str(), 01777), 0);
    ASSERT_EQ(chmod((dir_ + "/tmp").c_str(), 01777), 0);
    ASSERT_EQ(mkdir((dir_ + "/tmp/bin").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(dir_ + "/tmp/bin/vokt", read_file(VOKT)));
    ASSERT_TRUE(write_file(dir_ + "/tmp/bin/vokt.cgi", read_file(VOKT_CGI)));
    for (const std::string &p : {dir_, rec, neu, dir_ + "/tmp/bin/vokt", dir_ + "/tmp/bin/vokt.cgi"})
        ASSERT_EQ(chmod(p.c_str(), 0755), 0);
    const std::string skript = "mount --bind \"$1/tmp\" /tmp && exec setpriv --reuid=65534 --regid=65534 "
                               "--clear-groups /tmp/bin/vokt replay rec --set QUERY_STRING=b=2 --unset HTTP_COOKIE "
                               "--body-file neu -- /tmp/bin/vokt.cgi";
    Ergebnis r = starte({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", skript, "sh", dir_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("b=2"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(": a valid CGI response (Content-Type"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir_ + "/tmp/cgidump65534"), kopf + "CONTENT_LENGTH=8\nQUERY_STRING=b=2\n*8\ny=22&z=3");
}

TEST_F(CurlReplay, VoktCurlSendsTheEditedRequest)
{
    if (!hat_curl())
        SKIP_UNLESS_CI("curl is not installed");
    const std::string text = "REQUEST_METHOD=POST\nREQUEST_URI=/p\nHTTP_COOKIE=s=1\nHTTP_X_A=1\n"
                             "CONTENT_TYPE=text/plain\n*3\nabc";
    datei("neu", "new body\n");
    struct Fall {
        std::string rec;
        Liste optionen;
        std::string koepfe, body, hinweis;
    };
    const std::string lang = "REQUEST_METHOD=POST\nREQUEST_URI=/p\n*65537\n" + std::string(65537, 'x');
    const Fall faelle[] = {
        {text, {}, "Cookie: s=1\r\nX-A: 1\r\nContent-Type: text/plain\r\nContent-Length: 3", "abc", ""},
        {text, {"--set", "HTTP_COOKIE=s=2", "--unset", "HTTP_X_A"},
         "Cookie: s=2\r\nContent-Type: text/plain\r\nContent-Length: 3", "abc", ""},
        {text, {"--set", "HTTP_X_B=1\n2"}, "Cookie: s=1\r\nX-A: 1\r\nContent-Type: text/plain\r\nContent-Length: 3",
         "abc", "left out the header X-B, whose value holds a line break"},
        {text, {"--body-file", "neu"}, "Cookie: s=1\r\nX-A: 1\r\nContent-Type: text/plain\r\nContent-Length: 9",
         "new body\n", ""},
        {lang, {"--body-file", "neu", "--set", "HTTP_X=1"}, "X: 1\r\nContent-Length: 9", "new body\n", ""},
    };
    for (const Fall &f : faelle) {
        Gesendet g = senden(datei("rec", f.rec), f.optionen, {VOKT, "curl"});
        std::string erwartet = "POST /p HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n" +
                               f.koepfe + "\r\n\r\n" + f.body;
        EXPECT_EQ(g.angekommen, erwartet) << g.befehl << g.err;
        EXPECT_EQ(g.status, 0);
        EXPECT_NE(g.err.find(f.hinweis), std::string::npos) << g.err;
    }
    EXPECT_EQ(read_file(dir_ + "/neu"), "new body\n") << "the body's file was written";
}

} // namespace
