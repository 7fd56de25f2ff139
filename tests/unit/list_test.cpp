// vokt list: the time in a history name, a record's row, the table's order
// and its safety for a terminal; runs of vokt list on folders, hostile ones
// and the package's layout; names escaped in every command's messages.
#include "aufzeichnungszeit.h"
#include "intern/aufzeichnung.h"
#include "verlaufsliste.h"
#include "vokt_lauf.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using vokt::intern::Aufzeichnung;

TEST(ListTime, HistoryNamesGiveTheirTimeAndOthersNone)
{
    struct {
        const char *name;
        bool ok;
        const char *iso; // with microseconds
    } faelle[] = {
        {"20261208T101502.123456Z-4711", true, "2026-12-08T10:15:02.123456Z"},
        {"20240229T235959.000001Z-1", true, "2024-02-29T23:59:59.000001Z"},
        {"20250229T000000.000000Z-1", false, ""}, // no leap year
        {"20261131T000000.000000Z-1", false, ""}, // 31 November
        {"20261208T246000.000000Z-1", false, ""},
        {"20261208T101502.123456Z-", false, ""},
        {"20261208T101502.123456Z-47x", false, ""},
        {"20261208T101502.12345Z-4711", false, ""},
        {"cgidump", false, ""},
        {"", false, ""},
    };
    for (const auto &f : faelle) {
        Zeitpunkt z;
        EXPECT_EQ(zeit_aus_verlaufsname(f.name, &z), f.ok) << f.name;
        if (f.ok) {
            EXPECT_EQ(iso8601(z, 6), f.iso);
        }
    }
    Zeitpunkt z{1, 987654};
    EXPECT_EQ(iso8601(z, 3), "1970-01-01T00:00:01.987Z");
    EXPECT_EQ(iso8601(z, 0), "1970-01-01T00:00:01Z");
}

TEST(ListRow, MethodTargetTypeLengthAndWhetherAllArrived)
{
    struct {
        const char *daten;
        const char *methode, *ziel, *typ, *laenge, *ganz;
    } faelle[] = {
        {"REQUEST_METHOD=POST\nREQUEST_URI=/a?b\nSCRIPT_NAME=/x\nCONTENT_TYPE=text/plain\n*3\nabc", "POST", "/a?b",
         "text/plain", "3", "whole"},
        {"REQUEST_METHOD=GET\nSCRIPT_NAME=/s\nPATH_INFO=/p\nQUERY_STRING=q=1\n*0\n", "GET", "/s/p?q=1", "", "0",
         "whole"},
        {"REQUEST_METHOD=GET\nSCRIPT_NAME=/s\nQUERY_STRING=\n*0\n", "GET", "/s", "", "0", "whole"},
        {"REQUEST_METHOD=POST\n*10\nabc", "POST", "", "", "3", "short"},
        {"REQUEST_METHOD=POST\n*-1\nabc", "POST", "", "", "3", "more"},
        {"REQUEST_METHOD=DELETE\nA=1\n", "DELETE", "", "", "-", "none"},
    };
    for (const auto &f : faelle) {
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(f.daten)) << f.daten;
        Listenzeile z = listenzeile(a, {}, "f");
        EXPECT_EQ(z.methode, f.methode);
        EXPECT_EQ(z.ziel, f.ziel);
        EXPECT_EQ(z.typ, f.typ);
        EXPECT_EQ(z.laenge, f.laenge);
        EXPECT_EQ(z.ganz, f.ganz);
    }
}

TEST(ListTable, NewestFirstAndNoRawControlByte)
{
    std::string boese = "/x\x1b]0;owned\x07\r\n\x9b\\";
    std::vector<Listenzeile> zeilen = {
        {{100, 5}, "b", "GET", "/alt", "", "0", "whole"},
        {{200, 0}, "a", "GET\x1b[2J", boese, "text/\x7f", "1", "short"},
        {{100, 5}, "c", "PUT", "/gleich", "", "-", "none"},
    };
    std::string t = tabelle(zeilen);
    EXPECT_EQ(t.find("TIME"), 0U);
    EXPECT_LT(t.find("GET\\x1B[2J"), t.find("/gleich"));
    EXPECT_LT(t.find("/gleich"), t.find("/alt")); // same time: by name, c before b
    EXPECT_NE(t.find("/x\\x1B]0;owned\\x07\\x0D\\x0A\\x9B\\x5C"), std::string::npos);
    EXPECT_NE(t.find("text/\\x7F"), std::string::npos);
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 4);
    for (char c : t)
        EXPECT_TRUE((c >= 0x20 && c < 0x7f) || c == '\n') << static_cast<int>(c);
}

using ListCommand = vokt_lauf::Ordner;

// A dump with its history beside it: the history's records, newest first,
// a file that is no record skipped with a note.
TEST_F(ListCommand, ListsTheHistoryBesideADump)
{
    vokt_lauf::schreib(ordner + "/cgidump", "REQUEST_METHOD=GET\n*0\n");
    ASSERT_EQ(mkdir((ordner + "/cgidump.d").c_str(), 0700), 0);
    vokt_lauf::schreib(ordner + "/cgidump.d/20261208T101502.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/eins\n*0\n");
    vokt_lauf::schreib(ordner + "/cgidump.d/20261208T101503.000001Z-2",
                       "REQUEST_METHOD=POST\nREQUEST_URI=/zwei\nCONTENT_TYPE=a/b\n*5\nab");
    vokt_lauf::schreib(ordner + "/cgidump.d/kein", "nur Text\n");
    vokt_lauf::Lauf l = vokt("list cgidump");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, "TIME                         METHOD  TARGET  CONTENT-TYPE  LENGTH  BODY\n"
                     "2026-12-08T10:15:03.000001Z  POST    /zwei   a/b           2       short\n"
                     "2026-12-08T10:15:02.000001Z  GET     /eins   -             0       whole\n");
    EXPECT_NE(l.fehler.find("skipped kein"), std::string::npos) << l.fehler;
    EXPECT_EQ(vokt("list --bogus").status, 2);
}

// Only printable ASCII and line feeds.
void ohne_steuerbytes(const std::string &text)
{
    for (char c : text)
        EXPECT_TRUE((c >= 0x20 && c < 0x7f) || c == '\n') << static_cast<int>(c) << " in " << text;
}

// The server's user can plant anything in its history: names that are
// terminal commands, a link to /dev/ptmx and one to a record elsewhere, a
// FIFO, a folder.  Only regular files are opened, every name is escaped,
// the keep file is passed over without a word.
TEST_F(ListCommand, AHostileFolderOpensOnlyRegularFilesAndPrintsNoNameRaw)
{
    std::string h = ordner + "/h";
    ASSERT_EQ(mkdir(h.c_str(), 0700), 0);
    vokt_lauf::schreib(h + "/20261208T101502.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/eins\n*0\n");
    vokt_lauf::schreib(h + "/\x1b]0;owned\x07", "nur Text\n");
    vokt_lauf::schreib(h + "/keep", "5\n");
    vokt_lauf::schreib(ordner + "/draussen", "REQUEST_METHOD=GET\nREQUEST_URI=/draussen\n*0\n");
    ASSERT_EQ(mkdir((h + "/\x1b[2Jdir").c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/ptmx", (h + "/tty").c_str()), 0);
    ASSERT_EQ(symlink("../draussen", (h + "/nah").c_str()), 0);
    ASSERT_EQ(mkfifo((h + "/fifo").c_str(), 0600), 0);
    vokt_lauf::Lauf l = vokt("list h");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, "TIME                         METHOD  TARGET  CONTENT-TYPE  LENGTH  BODY\n"
                     "2026-12-08T10:15:02.000001Z  GET     /eins   -             0       whole\n");
    ohne_steuerbytes(l.fehler);
    for (const char *notiz : {"list: skipped tty (a link, not opened)\n", "list: skipped nah (a link, not opened)\n",
                              "list: skipped fifo (a FIFO, not opened)\n",
                              "list: skipped \\x1B[2Jdir (a folder, not opened)\n",
                              "h/\\x1B]0;owned\\x07: no record", "list: skipped \\x1B]0;owned\\x07\n"})
        EXPECT_NE(l.fehler.find(notiz), std::string::npos) << notiz << " in " << l.fehler;
    EXPECT_EQ(l.fehler.find("keep"), std::string::npos) << l.fehler;
}

// A name from a folder reaches every command through a glob: none prints
// it raw, in any message.
TEST_F(ListCommand, EveryCommandEscapesTheNamesItPrints)
{
    const std::string fehlt = "\x1b[2J\x1b]0;x\x07" "fehlt";
    const std::string rec = "\x1b[31mrec";
    vokt_lauf::schreib(ordner + "/" + rec, "REQUEST_METHOD=POST\nCONTENT_TYPE=a/b\n");
    for (const std::string &aufruf :
         {"show " + fehlt, "diff " + fehlt + " " + fehlt, "har " + fehlt, "replay " + fehlt + " -- /bin/true",
          "curl " + fehlt, "body " + fehlt, "list " + fehlt, "replay " + rec + " -- " + fehlt, "curl " + rec,
          "curl " + rec + " " + fehlt, "show " + rec + " " + fehlt, "nix" + fehlt}) {
        SCOPED_TRACE(aufruf);
        vokt_lauf::Lauf l = vokt(aufruf);
        EXPECT_NE(l.fehler.find("\\x1B"), std::string::npos) << l.fehler;
        ohne_steuerbytes(l.fehler);
    }
}

// The package's layout: root's link /var/www/cgidump into a folder of
// www-data's, the history beside the target.  vokt list on the link finds
// that history as vokt.cgi does; a link in a folder that others may write
// is not followed, and the dump alone is listed.
TEST_F(ListCommand, FindsTheHistoryBesideTheTargetOfRootsLink)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root (root's link, another user's folder)";
    std::string www = ordner + "/www", lib = ordner + "/lib";
    ASSERT_EQ(mkdir(www.c_str(), 0755), 0);
    ASSERT_EQ(chmod(www.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(lib.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((lib + "/cgidump.d").c_str(), 0700), 0);
    vokt_lauf::schreib(lib + "/cgidump", "REQUEST_METHOD=GET\nREQUEST_URI=/neu\n*0\n");
    vokt_lauf::schreib(lib + "/cgidump.d/20261208T101502.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/alt\n*0\n");
    vokt_lauf::schreib(lib + "/cgidump.d/20261208T101503.000001Z-2", "REQUEST_METHOD=GET\nREQUEST_URI=/neu\n*0\n");
    vokt_lauf::schreib(lib + "/cgidump.d/keep", "100\n");
    for (const std::string &p : {lib, lib + "/cgidump", lib + "/cgidump.d", lib + "/cgidump.d/keep"})
        ASSERT_EQ(chown(p.c_str(), 1000, 1000), 0);
    ASSERT_EQ(symlink("../lib/cgidump", (www + "/cgidump").c_str()), 0);
    const std::string historie = "TIME                         METHOD  TARGET  CONTENT-TYPE  LENGTH  BODY\n"
                                 "2026-12-08T10:15:03.000001Z  GET     /neu    -             0       whole\n"
                                 "2026-12-08T10:15:02.000001Z  GET     /alt    -             0       whole\n";
    vokt_lauf::Lauf l = vokt("list www/cgidump");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, historie);
    EXPECT_EQ(l.fehler, "");
    // The manual's own example: a glob over the history.
    l = vokt("har lib/cgidump.d/20261208T101502.000001Z-1 lib/cgidump.d/20261208T101503.000001Z-2 "
             "lib/cgidump.d/keep");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_NE(l.aus.find("/alt"), std::string::npos);
    EXPECT_EQ(l.fehler, "");
    // A keep file elsewhere, named: no record, an error as before.
    vokt_lauf::schreib(ordner + "/keep", "100\n");
    EXPECT_EQ(vokt("har keep").status, 2);
    EXPECT_EQ(vokt("har lib/cgidump lib/../keep").status, 2);

    ASSERT_EQ(chown(www.c_str(), 0, 1000), 0);
    ASSERT_EQ(chmod(www.c_str(), 0775), 0);
    l = vokt("list www/cgidump");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus.find("/alt"), std::string::npos) << "the link in a group-writable folder was followed";
    EXPECT_NE(l.aus.find("/neu"), std::string::npos);
}

} // namespace
