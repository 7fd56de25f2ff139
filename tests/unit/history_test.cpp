// The history's setting (the keep file's text), one pass of pruning on a
// folder of the test's own, and vokt pin and vokt list on pinned records.
#include "intern/verlauf.h"
#include "vokt_lauf.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vokt::intern;

TEST(HistorySetting, CountAgeAndSizeAloneOrTogether)
{
    constexpr long long TAG = 24 * 3600;
    struct {
        const char *text;
        Einstellung e;
        int anzahl;
        long long alter, umfang;
    } faelle[] = {
        {"1000", Einstellung::GUT, 1000, 0, 0},
        {" 7 \r\n", Einstellung::GUT, 7, 0, 0},
        {"7d", Einstellung::GUT, VERLAUF_HOECHSTENS, 7 * TAG, 0},
        {"12h", Einstellung::GUT, VERLAUF_HOECHSTENS, 12 * 3600, 0},
        {"2w", Einstellung::GUT, VERLAUF_HOECHSTENS, 14 * TAG, 0},
        {"500M", Einstellung::GUT, VERLAUF_HOECHSTENS, 0, 500LL << 20},
        {"1000 7d 500M\n", Einstellung::GUT, 1000, 7 * TAG, 500LL << 20},
        {"2G\t30d", Einstellung::GUT, VERLAUF_HOECHSTENS, 30 * TAG, 2LL << 30},
        {"4K", Einstellung::GUT, VERLAUF_HOECHSTENS, 0, 4096},
        {"99999999999999999999T", Einstellung::GUT, VERLAUF_HOECHSTENS, 0, 9223372036854775807LL},
        {"10001", Einstellung::GEKAPPT, VERLAUF_HOECHSTENS, 0, 0},
        {"99999999999999999999 1d", Einstellung::GEKAPPT, VERLAUF_HOECHSTENS, TAG, 0},
        {"", Einstellung::UNGUELTIG, 0, 0, 0},
        {" \n", Einstellung::UNGUELTIG, 0, 0, 0},
        {"0", Einstellung::UNGUELTIG, 0, 0, 0},
        {"0d", Einstellung::UNGUELTIG, 0, 0, 0},
        {"-5", Einstellung::UNGUELTIG, 0, 0, 0},
        {"+5", Einstellung::UNGUELTIG, 0, 0, 0},
        {"3 4", Einstellung::UNGUELTIG, 0, 0, 0},   // two counts
        {"7d 12h", Einstellung::UNGUELTIG, 0, 0, 0}, // two ages
        {"1M 1G", Einstellung::UNGUELTIG, 0, 0, 0},
        {"500m", Einstellung::UNGUELTIG, 0, 0, 0}, // minutes or megabytes: neither
        {"500k", Einstellung::UNGUELTIG, 0, 0, 0},
        {"7dd", Einstellung::UNGUELTIG, 0, 0, 0},
        {"d", Einstellung::UNGUELTIG, 0, 0, 0},
        {"1,000", Einstellung::UNGUELTIG, 0, 0, 0},
        {"5\v", Einstellung::UNGUELTIG, 0, 0, 0},
    };
    for (const auto &f : faelle) {
        Verlaufsgrenzen g;
        g.anzahl = 0;
        EXPECT_EQ(verlauf_grenzen_aus(f.text, std::strlen(f.text), g), f.e) << f.text;
        EXPECT_EQ(g.anzahl, f.anzahl) << f.text;
        EXPECT_EQ(g.alter, f.alter) << f.text;
        EXPECT_EQ(g.umfang, f.umfang) << f.text;
    }
    std::string nul("5\0", 2);
    Verlaufsgrenzen g;
    EXPECT_EQ(verlauf_grenzen_aus(nul.data(), nul.size(), g), Einstellung::UNGUELTIG);
}

class HistoryPass : public vokt_lauf::Ordner {
protected:
    // A record named for the time t seconds from now, of n bytes.
    std::string plant(long t, int nr, std::size_t n = 10)
    {
        std::time_t zeit = std::time(nullptr) + t;
        tm z{};
        gmtime_r(&zeit, &z);
        char name[64];
        std::strftime(name, sizeof name, "%Y%m%dT%H%M%S", &z);
        std::string s = std::string(name) + ".000000Z-" + std::to_string(nr);
        vokt_lauf::schreib(ordner + "/" + s, std::string(n, 'x'));
        return s;
    }
    std::vector<std::string> namen()
    {
        std::vector<std::string> n;
        DIR *d = opendir(ordner.c_str());
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                n.emplace_back(e->d_name);
        closedir(d);
        std::sort(n.begin(), n.end());
        return n;
    }
    void kuerzen(const Verlaufsgrenzen &g)
    {
        int fd = open(ordner.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        verlauf_kuerzen(fd, g);
        close(fd);
    }
};

// The oldest go first; pinned records stay and do not count; a record
// being written (locked) stays; other names are never touched.
TEST_F(HistoryPass, OldestGoButNotPinnedLockedOrOtherNames)
{
    std::vector<std::string> n;
    for (int i = 0; i < 8; ++i)
        n.push_back(plant(-100 + i, i));
    vokt_lauf::schreib(ordner + "/keep", "3\n");
    vokt_lauf::schreib(ordner + "/notes", "");
    chmod((ordner + "/" + n[1]).c_str(), 0400); // pinned
    int schreiber = open((ordner + "/" + n[2]).c_str(), O_RDONLY);
    ASSERT_EQ(flock(schreiber, LOCK_SH), 0); // being written
    Verlaufsgrenzen g;
    g.anzahl = 3;
    kuerzen(g);
    EXPECT_EQ(namen(), (std::vector<std::string>{n[1], n[2], n[5], n[6], n[7], "keep", "notes"}));
    close(schreiber);
    kuerzen(g);
    EXPECT_EQ(namen(), (std::vector<std::string>{n[1], n[5], n[6], n[7], "keep", "notes"}));
}

// Names from the future count as older than all others: they go before
// any other, by count, by size, and as soon as a record goes by its age.
TEST_F(HistoryPass, FutureNamesRankOldestAgeAndSizeLimits)
{
    plant(100000, 9);
    plant(-3 * 24 * 3600, 1, 100);
    std::string mitte = plant(-2 * 3600, 2, 100);
    std::string neu = plant(-1, 3, 100);
    Verlaufsgrenzen g;
    g.anzahl = 10;
    g.alter = 24 * 3600;
    kuerzen(g);
    EXPECT_EQ(namen(), (std::vector<std::string>{mitte, neu})) << "too old, and what ranks after it";
    plant(100000, 9);
    g.alter = 0;
    g.umfang = 200;
    std::string vier = plant(-3600, 4, 100);
    kuerzen(g);
    EXPECT_EQ(namen(), (std::vector<std::string>{vier, neu})) << "the two newest fill 200 bytes, the rest go";
    plant(100000, 8);
    g.umfang = 0;
    g.anzahl = 1;
    kuerzen(g);
    EXPECT_EQ(namen(), (std::vector<std::string>{neu})) << "the one from the future went, not the newest";
}

// The count in .prune: the request that brings it to the threshold
// prunes, one at keep 16 and below, every sixteenth at 10000.
TEST_F(HistoryPass, PrunedOnlyWhenTheCountSaysSo)
{
    int fd = open(ordner.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    Verlaufsgrenzen g;
    g.anzahl = 160; // a pass every 10 records
    for (int i = 0; i < 170; ++i)
        plant(-1000 + i, i);
    verlauf_nachtragen(fd, g, 10); // the first: .prune is new
    EXPECT_EQ(namen().size(), 160u);
    for (int i = 0; i < 9; ++i) {
        plant(-500 + i, 1000 + i);
        verlauf_nachtragen(fd, g, 10);
    }
    EXPECT_EQ(namen().size(), 169u) << "nine more, not yet pruned";
    plant(-400, 2000);
    verlauf_nachtragen(fd, g, 10);
    EXPECT_EQ(namen().size(), 160u);
    // A record that alone is a sixteenth of the size limit prunes at once.
    g.umfang = 16000;
    plant(-300, 3000, 1000);
    verlauf_nachtragen(fd, g, 1000);
    EXPECT_LE(namen().size(), 16000u / 10);
    close(fd);
}

using PinCommand = vokt_lauf::Ordner;

TEST_F(PinCommand, PinsAndLetsGoWithoutChangingTheBytes)
{
    const std::string rec = "REQUEST_METHOD=GET\nREQUEST_URI=/eins\n*0\n";
    ASSERT_EQ(mkdir((ordner + "/cgidump.d").c_str(), 0700), 0);
    std::string pfad = ordner + "/cgidump.d/20261208T101502.000001Z-1";
    vokt_lauf::schreib(pfad, rec);
    chmod(pfad.c_str(), 0600);
    vokt_lauf::schreib(ordner + "/cgidump.d/keep", "5 1x\n");
    vokt_lauf::Lauf l = vokt("pin cgidump.d/20261208T101502.000001Z-1");
    EXPECT_EQ(l.status, 0) << l.fehler;
    struct stat st {};
    ASSERT_EQ(stat(pfad.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0400u);
    EXPECT_TRUE(verlauf_angeheftet(st.st_mode));
    EXPECT_EQ(vokt_lauf::lies(pfad), rec);
    l = vokt("list cgidump.d");
    EXPECT_EQ(l.aus, "TIME                         METHOD  TARGET  CONTENT-TYPE  LENGTH  BODY\n"
                     "2026-12-08T10:15:02.000001Z  GET     /eins   -             0       whole  pinned\n");
    EXPECT_NE(l.fehler.find("vokt: list: cgidump.d/keep names no limit (such as 1000, 7d, 500M); vokt.cgi prunes "
                            "nothing until it is mended\n"),
              std::string::npos)
        << l.fehler;
    l = vokt("pin --undo cgidump.d/20261208T101502.000001Z-1");
    EXPECT_EQ(l.status, 0) << l.fehler;
    ASSERT_EQ(stat(pfad.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(vokt("list cgidump.d").aus.find("pinned"), std::string::npos);
    // No record, a link, a FIFO, nothing: refused, nothing changed.
    ASSERT_EQ(symlink("20261208T101502.000001Z-1", (ordner + "/cgidump.d/link").c_str()), 0);
    ASSERT_EQ(mkfifo((ordner + "/fifo").c_str(), 0600), 0);
    for (const char *arg : {"pin cgidump.d/link", "pin fifo", "pin missing", "pin", "pin --undo", "pin -x a"}) {
        SCOPED_TRACE(arg);
        EXPECT_EQ(vokt(arg).status, 2);
    }
    ASSERT_EQ(stat(pfad.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "the link was followed";
}

} // namespace
