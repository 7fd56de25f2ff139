// vokt replay --snapshot and --expect-...: a history replayed into a small
// CGI program whose answer changes between runs; the files in the
// snapshot folder, a link planted there, a snapshot a person broke, the
// bound; and the examples of vokt(1).
#include "vokt_lauf.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Liste = std::vector<std::string>;

class Snapshots : public vokt_lauf::Ordner {
protected:
    // A history of two records, and the program p.cgi that answers each
    // with its target, its body and, with datum, a Date that changes.
    void SetUp() override
    {
        vokt_lauf::Ordner::SetUp();
        ASSERT_EQ(mkdir((ordner + "/h").c_str(), 0700), 0);
        vokt_lauf::schreib(ordner + "/h/20261208T101502.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/eins\n*0\n");
        vokt_lauf::schreib(ordner + "/h/20261208T101503.000001Z-2",
                           "REQUEST_METHOD=POST\nREQUEST_URI=/zwei\nCONTENT_TYPE=text/plain\n*4\nzwei");
        programm("printf 'Content-Type: text/plain\\n\\n'; echo \"hallo $REQUEST_URI\"; cat");
    }

    void programm(const std::string &rumpf) const
    {
        std::string pfad = ordner + "/p.cgi";
        vokt_lauf::schreib(pfad, "#!/bin/sh\n" + rumpf + "\n");
        ASSERT_EQ(chmod(pfad.c_str(), 0700), 0);
    }

    vokt_lauf::Lauf alle(Liste optionen) const
    {
        Liste w{"replay", "--where", "not none", "h"};
        w.insert(w.end(), optionen.begin(), optionen.end());
        w.insert(w.end(), {"--", "./p.cgi"});
        return vokt(w);
    }

    // The names in the snapshot folder, hidden ones too.
    std::set<std::string> namen() const
    {
        std::set<std::string> erg;
        DIR *d = opendir((ordner + "/snap").c_str());
        for (dirent *e = d != nullptr ? readdir(d) : nullptr; e != nullptr; e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                erg.insert(e->d_name);
        if (d != nullptr)
            closedir(d);
        return erg;
    }
};

const std::string EINS = "2026-12-08T10:15:02.000001Z  /eins  exit 0  ";
const std::string ZWEI = "2026-12-08T10:15:03.000001Z  /zwei  exit 0  ";

TEST_F(Snapshots, FirstRunWritesThenSameThenTheChangeIsNamedAndUpdateMakesItPass)
{
    vokt_lauf::Lauf l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "new\n" + ZWEI + "new\n");
    EXPECT_EQ(namen(), (std::set<std::string>{"20261208T101502.000001Z-1", "20261208T101503.000001Z-2"}));
    EXPECT_EQ(vokt_lauf::lies(ordner + "/snap/20261208T101503.000001Z-2"),
              "status 200\nContent-Type: text/plain\n\nhallo /zwei\nzwei");

    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "same\n" + ZWEI + "same\n");

    programm("printf 'Content-Type: text/plain\\n\\n'; echo \"hallo $REQUEST_URI\"; "
             "if [ \"$REQUEST_URI\" = /zwei ]; then printf 'drei'; fi");
    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 1) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "same\n" + ZWEI + "differs: body at offset 12: \"drei\" (snapshot: \"zwei\")\n");

    l = alle({"--snapshot", "snap", "--update"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "same\n" + ZWEI + "updated: body at offset 12: \"drei\" (snapshot: \"zwei\")\n");
    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "same\n" + ZWEI + "same\n");
    // Every file written was renamed into place: no temporary one stays.
    EXPECT_EQ(namen().size(), 2U);

    // The status, then a header, as the first difference.
    programm("printf 'Status: 404 Not Found\\nContent-Type: text/html\\n\\n'");
    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.aus, EINS + "differs: status 404 (snapshot: 200)\n" + ZWEI + "differs: status 404 (snapshot: 200)\n");
    programm("printf 'Content-Type: text/html\\n\\n'");
    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.aus.substr(0, l.aus.find('\n')),
              EINS + "differs: header Content-Type: \"text/html\" (snapshot: \"text/plain\")");
}

TEST_F(Snapshots, AVaryingDateHeaderPassesWhenIgnored)
{
    programm("printf 'Content-Type: text/plain\\nDate: %s\\n\\nx' \"$$\"");
    vokt_lauf::Lauf l = alle({"--snapshot", "snap", "--ignore-header", "date"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(vokt_lauf::lies(ordner + "/snap/20261208T101502.000001Z-1"),
              "status 200\nContent-Type: text/plain\n\nx"); // left out of the file too
    l = alle({"--snapshot", "snap", "--ignore-header", "Date"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "same\n" + ZWEI + "same\n");
    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 1);
    EXPECT_NE(l.aus.find("exit 0  differs: header Date: \""), std::string::npos) << l.aus;
}

TEST_F(Snapshots, ABinaryBodyIsKeptEscapedAndComparedByteForByte)
{
    programm("printf 'Content-Type: image/png\\n\\n\\211PNG\\r\\n\\032\\n\\000\\377'");
    vokt_lauf::Lauf l = vokt({"replay", "h/20261208T101502.000001Z-1", "--snapshot", "snap", "--", "./p.cgi"});
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "new\n");
    EXPECT_EQ(vokt_lauf::lies(ordner + "/snap/20261208T101502.000001Z-1"),
              "status 200 escaped\nContent-Type: image/png\n\n\\x89PNG\\x0D\\x0A\n\\x1A\\x0A\n\\x00\\xFF\n");
    l = vokt({"replay", "h/20261208T101502.000001Z-1", "--snapshot", "snap", "--", "./p.cgi"});
    EXPECT_EQ(l.aus, EINS + "same\n");
    programm("printf 'Content-Type: image/png\\n\\n\\211PNG\\r\\n\\032\\n\\000\\376'");
    l = vokt({"replay", "h/20261208T101502.000001Z-1", "--snapshot", "snap", "--", "./p.cgi"});
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.aus, EINS + "differs: body at offset 9: \"\\xFE\" (snapshot: \"\\xFF\")\n");
}

struct Erwartungsfall {
    Liste optionen;
    int status;
    std::string aus;
};

TEST_F(Snapshots, ExpectationsWithoutASnapshotOneLineForEachFailed)
{
    programm("printf 'Status: 201 Created\\nContent-Type: text/plain\\nX-Id: 7\\n\\n'");
    const std::string vorne1 = "2026-12-08T10:15:02.000001Z  /eins  ";
    const std::string gueltig = "a valid CGI response (Content-Type, Status 201 Created; lines end in LF)\n";
    const Erwartungsfall faelle[] = {
        {{"--expect-status", "201"}, 0, EINS + gueltig},
        {{"--expect-status", "201", "--expect-header", "x-id: 7"}, 0, EINS + gueltig},
        {{"--expect-status", "200"}, 1, EINS + gueltig + vorne1 + "expected status 200, got 201\n"},
        {{"--expect-header", "X-Id: 8", "--expect-header", "Location: /"},
         1,
         EINS + gueltig + vorne1 + "expected header X-Id: \"8\", got \"7\"\n" + vorne1 +
             "expected header Location: \"/\", got none\n"},
        // With a snapshot too.
        {{"--snapshot", "snap", "--expect-status", "404"},
         1,
         EINS + "new\n" + vorne1 + "expected status 404, got 201\n"},
    };
    for (const Erwartungsfall &f : faelle) {
        Liste w{"replay", "h/20261208T101502.000001Z-1"};
        w.insert(w.end(), f.optionen.begin(), f.optionen.end());
        w.insert(w.end(), {"--", "./p.cgi"});
        vokt_lauf::Lauf l = vokt(w);
        EXPECT_EQ(l.status, f.status) << f.optionen[1] << l.fehler;
        EXPECT_EQ(l.aus, f.aus) << f.optionen[1];
    }
}

TEST_F(Snapshots, AProgramThatFailsFailsItsRecordAndTheOthersStillRun)
{
    // Exit status 2 is the program's, not vokt's "could not run".
    programm("[ \"$REQUEST_URI\" = /eins ] && exit 2; printf 'Content-Type: text/plain\\n\\nok'");
    vokt_lauf::Lauf l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 1) << l.fehler;
    EXPECT_EQ(l.aus,
              "2026-12-08T10:15:02.000001Z  /eins  exit 2  new  no valid CGI response: no output\n" + ZWEI + "new\n");
    EXPECT_EQ(vokt_lauf::lies(ordner + "/snap/20261208T101502.000001Z-1"), "status 500\n\n");
    l = alle({});
    EXPECT_EQ(l.status, 1) << l.fehler;
    EXPECT_NE(l.aus.find(ZWEI), std::string::npos) << l.aus;
}

TEST_F(Snapshots, ALinkPlantedInTheFolderIsNeverFollowed)
{
    ASSERT_EQ(mkdir((ordner + "/snap").c_str(), 0700), 0);
    vokt_lauf::schreib(ordner + "/draussen", "unberuehrt");
    ASSERT_EQ(symlink("../draussen", (ordner + "/snap/20261208T101502.000001Z-1").c_str()), 0);
    for (const Liste &o : {Liste{"--snapshot", "snap"}, Liste{"--snapshot", "snap", "--update"}}) {
        vokt_lauf::Lauf l = alle(o);
        EXPECT_EQ(l.status, 2) << o.size();
        EXPECT_EQ(l.aus, "");
        EXPECT_EQ(l.fehler, "vokt: snap/20261208T101502.000001Z-1: a link, not followed\n");
        EXPECT_EQ(vokt_lauf::lies(ordner + "/draussen"), "unberuehrt");
    }
    // A folder or a FIFO in its place: no regular file, nothing waits.
    std::string pfad = ordner + "/snap/20261208T101502.000001Z-1";
    ASSERT_EQ(unlink(pfad.c_str()), 0);
    ASSERT_EQ(mkdir(pfad.c_str(), 0700), 0);
    vokt_lauf::Lauf l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 2);
    EXPECT_EQ(l.fehler, "vokt: snap/20261208T101502.000001Z-1: not a regular file\n");
    ASSERT_EQ(rmdir(pfad.c_str()), 0);
    ASSERT_EQ(mkfifo(pfad.c_str(), 0600), 0);
    l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 2);
    EXPECT_EQ(l.fehler, "vokt: snap/20261208T101502.000001Z-1: not a regular file\n");
}

TEST_F(Snapshots, ASnapshotAPersonBrokeDiffersAndUpdateRewritesIt)
{
    ASSERT_EQ(alle({"--snapshot", "snap"}).status, 0);
    vokt_lauf::schreib(ordner + "/snap/20261208T101502.000001Z-1", "status 200\nContent-Type text/plain\n\nx");
    vokt_lauf::Lauf l = alle({"--snapshot", "snap"});
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.aus,
              EINS + "differs: the snapshot is unreadable: line 2: no header line \"Name: value\"\n" + ZWEI + "same\n");
    l = alle({"--snapshot", "snap", "--update"});
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(vokt_lauf::lies(ordner + "/snap/20261208T101502.000001Z-1"),
              "status 200\nContent-Type: text/plain\n\nhallo /eins\n");
}

TEST_F(Snapshots, OutputBeyondTheBoundFailsTheRecordAndWritesNothing)
{
    programm("printf 'Content-Type: text/plain\\n\\n'; head -c 16777216 /dev/zero");
    vokt_lauf::Lauf l = vokt({"replay", "h/20261208T101502.000001Z-1", "--snapshot", "snap", "--", "./p.cgi"});
    EXPECT_EQ(l.status, 1) << l.fehler;
    EXPECT_EQ(l.aus, EINS + "too large: 16777242 bytes of output, more than the 16 MiB a response is checked in\n");
    EXPECT_EQ(namen(), std::set<std::string>{});
}

TEST_F(Snapshots, OptionsThatDoNotGoTogetherRunNothing)
{
    const std::pair<Liste, const char *> faelle[] = {
        {{"--update"}, "vokt: --update needs --snapshot DIR\n"},
        {{"--ignore-header", "Date"}, "vokt: --ignore-header needs --snapshot DIR\n"},
        {{"--expect-status", "99"}, "vokt: --expect-status needs a status 100..599, not \"99\"\n"},
        {{"--expect-status", "20x"}, "vokt: --expect-status needs a status 100..599, not \"20x\"\n"},
        {{"--expect-header", "X-Id"}, "vokt: --expect-header needs 'Name: value', not \"X-Id\"\n"},
        {{"--snapshot", "snap", "--ignore-header", "Da te"},
         "vokt: --ignore-header needs a header NAME, not \"Da te\"\n"},
    };
    for (const auto &[o, meldung] : faelle) {
        vokt_lauf::Lauf l = alle(o);
        EXPECT_EQ(l.status, 2) << meldung;
        EXPECT_EQ(l.fehler, meldung);
        Liste w{"replay", "h/20261208T101502.000001Z-1"};
        w.insert(w.end(), o.begin(), o.end());
        w.insert(w.end(), {"--", "./p.cgi"});
        EXPECT_EQ(vokt(w).fehler, meldung);
    }
    // An edit that cannot be made: nothing runs, nothing is written.
    EXPECT_EQ(
        vokt({"replay", "h/20261208T101502.000001Z-1", "--snapshot", "snap", "--body-file", "fehlt", "--", "./p.cgi"})
            .status,
        2);
    EXPECT_EQ(namen(), std::set<std::string>{});
    EXPECT_EQ(vokt({"curl", "h/20261208T101502.000001Z-1", "--expect-status", "200"}).status, 2);
}

// ---- the examples of vokt(1) -------------------------------------------------

// The words of a line as a POSIX shell splits them: blanks between words,
// '...' quoting (all the examples need).
Liste woerter(const std::string &zeile)
{
    Liste erg;
    std::string w;
    bool in_wort = false, zitat = false;
    for (char z : zeile) {
        if (z == '\'') {
            zitat = !zitat;
            in_wort = true;
        } else if (z == ' ' && !zitat) {
            if (in_wort)
                erg.push_back(w);
            w.clear();
            in_wort = false;
        } else {
            w += z;
            in_wort = true;
        }
    }
    if (in_wort)
        erg.push_back(w);
    return erg;
}

struct Beispiel {
    const char *zeile;
    int status;
    const char *aus; // all of the output
};

// In order: the history of /var/lib/vokt/cgidump.d is the test's own.
const Beispiel BEISPIELE[] = {
    {"vokt replay --where 'path=~^/api/' /var/lib/vokt/cgidump.d --snapshot api-snapshots --ignore-header Date -- "
     "./api.cgi",
     0, "2026-12-08T10:15:02.000001Z  /api/v1/items  exit 0  new\n"},
    {"vokt replay --where 'path=~^/api/' /var/lib/vokt/cgidump.d --snapshot api-snapshots --ignore-header Date "
     "--update -- ./api.cgi",
     0, "2026-12-08T10:15:02.000001Z  /api/v1/items  exit 0  same\n"},
    {"vokt replay post.rec --expect-status 303 --expect-header 'Location: https://example.org/thanks' -- ./form.cgi", 0,
     "2026-12-08T10:15:03.000001Z  /form  exit 0  a valid CGI response (Content-Type, Location, Status 303 See "
     "Other; lines end in LF)\n"},
};

TEST_F(Snapshots, TheManualsExamplesDoWhatItSays)
{
    vokt_lauf::schreib(ordner + "/h/20261208T101502.000001Z-1", "REQUEST_METHOD=GET\nREQUEST_URI=/api/v1/items\n*0\n");
    vokt_lauf::schreib(ordner + "/post.rec", "REQUEST_METHOD=POST\nREQUEST_URI=/form\n*3\na=1");
    for (const char *name : {"api.cgi", "form.cgi"}) {
        std::string pfad = ordner + "/" + name;
        vokt_lauf::schreib(pfad, std::string(name) == "api.cgi"
                                     ? "#!/bin/sh\nprintf 'Content-Type: application/json\\nDate: %s\\n\\n{}' \"$$\"\n"
                                     : "#!/bin/sh\nprintf 'Status: 303 See Other\\nLocation: "
                                       "https://example.org/thanks\\nContent-Type: text/plain\\n\\nthanks'\n");
        ASSERT_EQ(chmod(pfad.c_str(), 0700), 0);
    }
    for (const Beispiel &b : BEISPIELE) {
        Liste w = woerter(b.zeile);
        ASSERT_EQ(w[0], "vokt");
        w.erase(w.begin());
        for (std::string &x : w)
            x = x == "/var/lib/vokt/cgidump.d" ? "h" : x;
        vokt_lauf::Lauf l = vokt(w);
        EXPECT_EQ(l.status, b.status) << b.zeile << "\n" << l.fehler;
        std::string aus = l.aus;
        if (std::string(b.zeile).find("post.rec") != std::string::npos) // its time is the file's
            aus.replace(0, aus.find("  "), "2026-12-08T10:15:03.000001Z");
        EXPECT_EQ(aus, b.aus) << b.zeile;
    }
    // Every example of the snapshot options in the manual is one of them.
    std::string seite = vokt_lauf::lies(VOKT_QUELLE "/man/vokt.1.scd");
    std::set<std::string> im_handbuch, hier;
    for (std::size_t ab = seite.find("\nvokt replay "); ab != std::string::npos;
         ab = seite.find("\nvokt replay ", ab + 1)) {
        std::string zeile = seite.substr(ab + 1, seite.find('\n', ab + 1) - ab - 1);
        if (zeile.find("--snapshot") != std::string::npos || zeile.find("--expect-") != std::string::npos)
            im_handbuch.insert(zeile);
    }
    for (const Beispiel &b : BEISPIELE)
        hier.insert(b.zeile);
    EXPECT_EQ(im_handbuch, hier);
}

} // namespace
