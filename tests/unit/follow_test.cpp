// vokt follow: when a record has landed, the rows as they come, and one
// run on a folder that holds a record still being written.
#include "gelandet.h"
#include "intern/aufzeichnung.h"
#include "verlaufsliste.h"
#include "vokt_lauf.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using vokt::intern::Aufzeichnung;

TEST(FollowLanded, TheWriterDecidesAndWithoutALeaseCloseWholeOrStill)
{
    struct {
        Schreiber schreiber;
        bool geschlossen, ganz;
        long long still_ms;
        bool gelandet;
    } faelle[] = {
        {Schreiber::KEINER, false, false, 0, true},      // short, but nobody writes it: printed short
        {Schreiber::OFFEN, true, true, STILL_MS, false}, // still written: never printed
        {Schreiber::UNKLAR, false, false, 0, false},       {Schreiber::UNKLAR, true, false, 0, true},
        {Schreiber::UNKLAR, false, true, 0, true},         {Schreiber::UNKLAR, false, false, STILL_MS - 1, false},
        {Schreiber::UNKLAR, false, false, STILL_MS, true},
    };
    for (const auto &f : faelle) {
        Beobachtung b{f.schreiber, f.geschlossen, f.ganz, f.still_ms};
        EXPECT_EQ(gelandet(b), f.gelandet) << static_cast<int>(f.schreiber) << f.geschlossen << f.ganz << f.still_ms;
    }
}

TEST(FollowLanded, WholeByItsLengthLineNeverForAChunkedUpload)
{
    struct {
        const char *daten;
        bool ganz;
    } faelle[] = {
        {"REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nabc", true},
        {"REQUEST_METHOD=GET\nCONTENT_LENGTH=0\n*0\n", true},
        {"REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nab", false},
        {"REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nabcd", false},
        {"REQUEST_METHOD=POST\nHTTP_TRANSFER_ENCODING=chunked\n*0\n", false}, // the body still to come
        {"REQUEST_METHOD=POST\nCONTENT_LENGTH=0\nHTTP_TRANSFER_ENCODING=chunked\n*0\n", false},
        {"REQUEST_METHOD=GET\n*0\n", false},
        {"REQUEST_METHOD=DELETE\nCONTENT_LENGTH=0\n", false}, // no '*' line yet
    };
    for (const auto &f : faelle) {
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(f.daten)) << f.daten;
        EXPECT_EQ(ganz_angesagt(a), f.ganz) << f.daten;
    }
}

using FollowLease = vokt_lauf::Ordner;

TEST_F(FollowLease, AFileOpenForWritingIsBeingWrittenUntilItIsClosed)
{
    std::string pfad = ordner + "/r";
    int w = open(pfad.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(w, 0);
    int r = open(pfad.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(r, 0);
    EXPECT_EQ(schreiber(r), Schreiber::OFFEN);
    close(w);
    EXPECT_EQ(schreiber(r), Schreiber::KEINER);
    EXPECT_EQ(schreiber(r), Schreiber::KEINER); // the lease was given back
    close(r);
}

TEST(FollowRow, ListsColumnsAtFixedWidthsALongTextPushesOn)
{
    Aufzeichnung a;
    ASSERT_TRUE(a.zerlegen("REQUEST_METHOD=POST\nREQUEST_URI=/a\x1b[31m\nCONTENT_TYPE=text/plain\n*10\nabc"));
    std::string z = folgezeile(listenzeile(a, Zeitpunkt{1765188902, 123456}, "x"));
    EXPECT_EQ(z, "2025-12-08T10:15:02.123456Z  POST     /a\\x1B[31m                      text/plain"
                 "                         3         short\n");
    EXPECT_EQ(folgekopf(), "TIME                         METHOD   TARGET                          CONTENT-TYPE"
                           "                       LENGTH    BODY\n");
    ASSERT_TRUE(a.zerlegen("REQUEST_METHOD=GET\nREQUEST_URI=/" + std::string(40, 'p') + "\n*0\n"));
    z = folgezeile(listenzeile(a, Zeitpunkt{0, 0}, "x"));
    EXPECT_NE(z.find("/" + std::string(40, 'p') + "  -  "), std::string::npos) << z;
}

using FollowCommand = vokt_lauf::Ordner;

// vokt follow -n 4, ended by SIGINT after a second: of the newest four, those that
// landed, not the one that this test still writes, nor a link.
TEST_F(FollowCommand, TheNewestThatLandedThenExitZeroAtInterrupt)
{
    std::string h = ordner + "/cgidump.d";
    ASSERT_EQ(mkdir(h.c_str(), 0700), 0);
    vokt_lauf::schreib(ordner + "/cgidump", "REQUEST_METHOD=GET\n*0\n");
    vokt_lauf::schreib(h + "/20261208T101501.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/eins\n*0\n");
    vokt_lauf::schreib(h + "/20261208T101502.000001Z-2", "REQUEST_METHOD=GET\nREQUEST_URI=/zwei\n*0\n");
    vokt_lauf::schreib(h + "/20261208T101503.000001Z-3", "REQUEST_METHOD=POST\nREQUEST_URI=/drei\n*9\nabc");
    int w = open((h + "/20261208T101504.000001Z-4").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(w, 0);
    ASSERT_EQ(write(w, "REQUEST_METHOD=POST\nREQUEST_URI=/vier\n*9\nab", 43), 43);
    ASSERT_EQ(symlink("/etc/passwd", (h + "/20261208T101505.000001Z-5").c_str()), 0);
    std::string dir = ordner;
    Outcome o = run_captured([&] {
        if (chdir(dir.c_str()) == 0)
            execl("/usr/bin/timeout", "timeout", "--preserve-status", "-s", "INT", "1", VOKT, "follow", "-n", "4",
                  "cgidump", static_cast<char *>(nullptr));
        _exit(127);
    });
    close(w);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("/zwei"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("/drei"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("/eins"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("/vier"), std::string::npos) << o.out;
    EXPECT_LT(o.out.find("/zwei"), o.out.find("/drei"));
    EXPECT_NE(o.err.find("skipped 20261208T101505.000001Z-5: not a regular file"), std::string::npos) << o.err;
}

TEST_F(FollowCommand, AWrongCallOrNoHistoryFolderIsExitTwoAtOnce)
{
    vokt_lauf::schreib(ordner + "/cgidump", "REQUEST_METHOD=GET\n*0\n");
    struct {
        const char *argumente;
        const char *meldung;
    } faelle[] = {
        {"follow --redact cgidump", "usage: vokt follow"},
        {"follow -n x cgidump", "usage: vokt follow"},
        {"follow -n -1 cgidump", "usage: vokt follow"},
        {"follow cgidump nochmal", "usage: vokt follow"},
        {"follow --where ( cgidump", "follow: bad filter at byte"},
        {"follow cgidump", "follow: no history folder at cgidump"},
        {"follow fehlt", "follow: no history folder at fehlt"},
    };
    for (const auto &f : faelle) {
        vokt_lauf::Lauf l = vokt(f.argumente);
        EXPECT_EQ(l.status, 2) << f.argumente;
        EXPECT_EQ(l.aus, "") << f.argumente;
        EXPECT_NE(l.fehler.find(f.meldung), std::string::npos) << f.argumente << ": " << l.fehler;
    }
}

} // namespace
