// The history of records, switched on by a directory "<dump path>.d".
#include "requests.h"
#include "sandbox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class History : public SandboxTest {
protected:
    void make_dir(const std::string &inner, uid_t owner)
    {
        ASSERT_EQ(mkdir(box->host(inner).c_str(), 0700), 0);
        ASSERT_EQ(chown(box->host(inner).c_str(), owner, owner), 0);
    }
    std::vector<std::string> entries(const std::string &inner)
    {
        std::vector<std::string> names;
        DIR *d = opendir(box->host(inner).c_str());
        if (d == nullptr)
            return names;
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        return names;
    }
    static Request numbered(int i)
    {
        std::string body = "n=" + std::to_string(i) + "&pad=" + std::string(3000, char('a' + i % 26));
        return post(body, std::to_string(body.size()));
    }
    static std::string record(const Request &r)
    {
        return dump_head(r.env, std::to_string(r.body.size())) + r.body;
    }
    void set_keep(const std::string &text)
    {
        std::string keep = box->host(dir + "/keep");
        FILE *d = std::fopen(keep.c_str(), "w");
        std::fputs(text.c_str(), d);
        std::fclose(d);
        chmod(keep.c_str(), 0644);
    }
    // The records (names of the history's form), oldest first.
    std::vector<std::string> records()
    {
        auto names = entries(dir);
        std::erase_if(names, [](const std::string &n) { return n[0] != '2'; });
        return names;
    }
    const std::string dir = DUMP + ".d";
};

TEST_F(History, EachRecordIsKeptUnderATimeName)
{
    make_dir(dir, 65534);
    Request first = numbered(1);
    Request second = numbered(2);
    Result res = box->run(first);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(box->run(second).status, 0);
    auto names = entries(dir);
    ASSERT_EQ(names.size(), 2u);
    for (const auto &n : names) {
        // 20261208T101502.123456Z-4711
        std::string shape = n;
        for (char &c : shape)
            c = c >= '0' && c <= '9' ? 'd' : c;
        EXPECT_EQ(shape.substr(0, 25), "ddddddddTdddddd.ddddddZ-d") << n;
        EXPECT_EQ(shape.find_first_not_of('d', 24), std::string::npos) << n;
    }
    EXPECT_EQ(box->read(dir + "/" + names[0]), record(first));
    EXPECT_EQ(box->read(dir + "/" + names[1]), record(second));
    struct stat st{};
    ASSERT_EQ(stat(box->host(DUMP).c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u) << "the newest record and the dump are one file";
    EXPECT_EQ(res.out.find(".d"), std::string::npos) << "nothing of the history on the page";
}

TEST_F(History, OnlyTheNewestHundredAreKept)
{
    make_dir(dir, 65534);
    // Something of another form in the directory is left alone.
    std::string other = box->host(dir + "/notes.txt");
    std::fclose(std::fopen(other.c_str(), "w"));
    Request last;
    for (int i = 0; i < 105; ++i) {
        last = numbered(i);
        last.env.push_back("NR=" + std::to_string(i));
        ASSERT_EQ(box->run(last).status, 0);
    }
    auto names = entries(dir);
    EXPECT_EQ(names.back(), "notes.txt");
    // Pruned every sixth record (a sixteenth of 100): at most 5 more.
    auto kept = records();
    ASSERT_GE(kept.size(), 100u);
    ASSERT_LE(kept.size(), 105u);
    for (size_t i = 0; i < kept.size(); ++i) {
        std::string nr = "NR=" + std::to_string(105 - kept.size() + i) + "\n";
        EXPECT_NE(box->read(dir + "/" + kept[i]).find(nr), std::string::npos) << "the oldest went first: " << nr;
    }
    EXPECT_EQ(box->read(dir + "/" + kept.back()), record(last));
}

TEST_F(History, ConcurrentRequestsLeaveOnlyWholeRecords)
{
    make_dir(dir, 65534);
    std::vector<Request> rs;
    std::vector<std::string> records;
    for (int i = 0; i < 50; ++i) {
        rs.push_back(numbered(i));
        rs.back().chunk = 1000;
        records.push_back(record(rs.back()));
    }
    for (const auto &res : box->run_all(rs))
        EXPECT_EQ(res.status, 0);
    auto names = entries(dir);
    EXPECT_EQ(names.size(), 50u);
    std::vector<std::string> seen;
    for (const auto &n : names) {
        std::string text = box->read(dir + "/" + n);
        EXPECT_NE(std::find(records.begin(), records.end(), text), records.end()) << n;
        seen.push_back(text);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()) << "each request its own record";
}

TEST_F(History, LinksAndForeignDirectoriesAreIgnored)
{
    make_dir("/tmp/elsewhere", 65534);
    ASSERT_EQ(symlink("/tmp/elsewhere", box->host(dir).c_str()), 0);
    ASSERT_EQ(lchown(box->host(dir).c_str(), 65534, 65534), 0);
    Request r = numbered(1);
    EXPECT_EQ(box->run(r).status, 0);
    EXPECT_TRUE(entries("/tmp/elsewhere").empty()) << "the link was followed";
    EXPECT_EQ(box->read(DUMP), record(r));

    unlink(box->host(dir).c_str());
    make_dir(dir, 0);
    ASSERT_EQ(chmod(box->host(dir).c_str(), 0777), 0);
    EXPECT_EQ(box->run(r).status, 0);
    EXPECT_TRUE(entries(dir).empty()) << "root's directory was used";
}

TEST_F(History, APreparedDumpFileGetsACopy)
{
    mkdir(box->host("/tmp/www").c_str(), 0755);
    box->set_home(1000, "/tmp/www");
    int fd = open(box->host("/tmp/www/cgidump").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(chown(box->host("/tmp/www/cgidump").c_str(), 1000, 1000), 0);
    make_dir("/tmp/www/cgidump.d", 1000);
    Request first = numbered(1);
    Request second = numbered(2);
    first.uid = second.uid = 1000;
    EXPECT_EQ(box->run(first).status, 0);
    EXPECT_EQ(box->run(second).status, 0);
    auto names = entries("/tmp/www/cgidump.d");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(box->read("/tmp/www/cgidump.d/" + names[0]), record(first)) << "overwritten by the next request";
    EXPECT_EQ(box->read("/tmp/www/cgidump.d/" + names[1]), record(second));
    EXPECT_EQ(box->read("/tmp/www/cgidump"), record(second));
}

// Out of inodes, the program makes no fresh dump: it must not fall back
// to the file at the path, which is the newest record of the history.
TEST_F(History, OutOfInodesNeverOverwritesARecord)
{
    box->small_tmp(1 << 20, 8);
    make_dir(dir, 65534);
    Request first = numbered(1);
    ASSERT_EQ(box->run(first).status, 0);
    for (int i = 0; i < 16; ++i) // the remaining inodes taken
        close(open(box->host("/tmp/fill" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0600));
    Result res = box->run(numbered(2));
    std::string msg = write_failed(DUMP, "No space left on device");
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(has(res.out, internal_error(msg))) << res.out;
    EXPECT_EQ(res.err, msg + "\n");
    auto names = entries(dir);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(box->read(dir + "/" + names[0]), record(first));
    EXPECT_EQ(box->read(DUMP), record(first));
}

// A history on a file system of its own cannot take a second link of the
// dump: it gets a copy.  When not even that can be made, the page and
// standard error say so and the request fails.
TEST_F(History, AnEntryThatCannotBeLinkedIsCopiedOrReported)
{
    box->small_tmp(8 << 20);
    make_dir(dir, 65534);
    for (size_t inodes : {0, 1}) {
        SCOPED_TRACE(inodes);
        std::string opts = "mode=0700,uid=65534,gid=65534";
        if (inodes > 0)
            opts += ",nr_inodes=" + std::to_string(inodes);
        ASSERT_EQ(mount("none", box->host(dir).c_str(), "tmpfs", 0, opts.c_str()), 0);
        Request r = numbered(static_cast<int>(inodes));
        Result res = box->run(r);
        auto names = entries(dir);
        EXPECT_EQ(box->read(DUMP), record(r)) << "the dump itself is whole";
        if (inodes == 0) {
            EXPECT_EQ(res.status, 0) << res.out;
            ASSERT_EQ(names.size(), 1u);
            EXPECT_EQ(box->read(dir + "/" + names[0]), record(r));
        } else {
            EXPECT_EQ(res.status, 1);
            EXPECT_TRUE(names.empty());
            std::string msg = " konnte nicht vollst\xE4ndig geschrieben werden: No space left on device\n";
            EXPECT_EQ(res.err.substr(0, 6 + dir.size()), "Datei " + dir) << res.err;
            EXPECT_EQ(res.err.substr(res.err.size() - msg.size()), msg);
            EXPECT_TRUE(res.out.find("<B>Interner Fehler:</B>Datei " + dir + "/") != std::string::npos);
        }
        umount2(box->host(dir).c_str(), MNT_DETACH);
    }
}

// The administrator sets the limits in <dump>.d/keep.  Old records of the
// history's form (of the year 2000, 2000 bytes each) lie ready; one
// request then prunes the history (its first request always does).  The
// keep file is never taken for a record; one that is a link or a FIFO is
// not read, and a setting that cannot be used is reported and prunes
// nothing.
TEST_F(History, TheKeepFileSetsTheLimits)
{
    enum Art { DATEI, LINK, FIFO };
    const std::string keep = dir + "/keep";
    const std::string unlesbar = "Datei " + keep + " ist nicht lesbar, der Verlauf wird nicht gek\xFCrzt\n";
    const std::string ungueltig =
        "Datei " + keep + " nennt keine Grenze des Verlaufs (wie 1000, 7d, 500M), er wird nicht gek\xFCrzt\n";
    const std::string gekappt = "Datei " + keep + " nennt mehr als 10000 Aufzeichnungen, es bleiben 10000\n";
    struct Fall {
        std::string inhalt;
        Art art;
        int alte, bleiben; // planted records; records after the request
        std::string meldung;
    };
    const Fall faelle[] = {
        {"3\n", DATEI, 5, 3, ""},
        {"  7 \r\n", DATEI, 9, 7, ""},
        {"", DATEI, 104, 100, ""}, // no keep file at all: 100 (see below)
        {"abc", DATEI, 104, 105, ungueltig},
        {"-5", DATEI, 104, 105, ungueltig},
        {"0", DATEI, 104, 105, ungueltig},
        {"\n", DATEI, 104, 105, ungueltig},
        {"3 4", DATEI, 104, 105, ungueltig},
        {"500m", DATEI, 4, 5, ungueltig},
        {"7d 7d", DATEI, 4, 5, ungueltig},
        {"99999999999999999999", DATEI, 10004, 10000, gekappt},
        {"10001", DATEI, 10004, 10000, gekappt},
        {"3", LINK, 104, 105, unlesbar},
        {"", FIFO, 104, 105, unlesbar},
        {"7d", DATEI, 30, 1, ""},        // every planted one is older
        {"5 7d", DATEI, 30, 1, ""},
        {"8K", DATEI, 30, 3, ""},          // the new record (3 KiB) and two of 2000 bytes
        {"10 8K 2000w", DATEI, 30, 3, ""}, // the size is reached first
        {"2 8K", DATEI, 30, 2, ""},        // the count is
    };
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.inhalt + " " + std::to_string(f.art));
        std::system(("rm -rf '" + box->host(dir) + "'").c_str());
        make_dir(dir, 65534);
        for (int i = 0; i < f.alte; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/20000101T000000.%06dZ-1", i);
            FILE *d = std::fopen(box->host(dir + name).c_str(), "w");
            std::fputs(std::string(2000, 'x').c_str(), d);
            std::fclose(d);
        }
        std::string pfad = box->host(keep);
        if (f.art == FIFO) {
            ASSERT_EQ(mkfifo(pfad.c_str(), 0644), 0);
        } else if (f.art == LINK) {
            set_keep(f.inhalt);
            ASSERT_EQ(rename(pfad.c_str(), box->host(dir + "/three").c_str()), 0);
            ASSERT_EQ(symlink("three", pfad.c_str()), 0);
        } else if (!f.inhalt.empty()) {
            set_keep(f.inhalt);
        }
        Request r = numbered(1);
        Result res = box->run(r);
        EXPECT_EQ(res.status, 0) << "the record is whole";
        EXPECT_EQ(res.err, f.meldung);
        if (!f.meldung.empty()) {
            EXPECT_TRUE(has(res.out, internal_error(f.meldung.substr(0, f.meldung.size() - 1)))) << res.out;
        }
        auto names = records();
        EXPECT_EQ(static_cast<int>(names.size()), f.bleiben);
        if (f.art != DATEI || !f.inhalt.empty()) {
            auto alle = entries(dir);
            EXPECT_NE(std::find(alle.begin(), alle.end(), "keep"), alle.end()) << "the keep file went";
        }
        ASSERT_GE(names.size(), 1u);
        EXPECT_EQ(box->read(dir + "/" + names.back()), record(r)) << "the newest stays";
        if (f.bleiben >= 2) {
            char erste[64]; // the oldest that stays
            std::snprintf(erste, sizeof erste, "20000101T000000.%06dZ-1", f.alte + 1 - f.bleiben);
            EXPECT_EQ(names[0], erste);
        }
    }
}

// A request whose body takes its time while later ones come and go: its
// record is being written and no pass prunes it (keep 2: the two later
// ones are the newest two).  It goes only once it is whole, when the next
// request prunes.
TEST_F(History, ARecordBeingWrittenIsNeverPruned)
{
    make_dir(dir, 65534);
    set_keep("2");
    Request slow = numbered(1);
    slow.chunk = 20; // 150 pieces, 20 ms apart: 3 s, long after the GETs, on a busy machine too
    slow.pause_ms = 20;
    Request get1 = get("a=1");
    Request get2 = get("a=2");
    auto res = box->run_all({slow, get1, get2});
    for (const auto &r : res)
        EXPECT_EQ(r.status, 0) << r.err;
    auto names = records();
    ASSERT_EQ(names.size(), 3u) << "two and the one being written";
    std::vector<std::string> texts;
    for (const auto &n : names)
        texts.push_back(box->read(dir + "/" + n));
    EXPECT_NE(std::find(texts.begin(), texts.end(), record(slow)), texts.end()) << "the slow POST's record";
    Request next = get("a=3");
    ASSERT_EQ(box->run(next).status, 0);
    names = records();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(box->read(dir + "/" + names.back()), record(next));
}

// A record that goes all the same before it is whole (removed by hand, or
// by an older program) is reported: the request says so.
TEST_F(History, ARecordPrunedBeforeItIsWholeIsReported)
{
    make_dir(dir, 65534);
    Request slow = numbered(1);
    slow.chunk = 20;
    Result res;
    std::thread t([&] { res = box->run(slow); });
    std::string gone;
    for (int i = 0; i < 200 && gone.empty(); ++i) {
        auto names = records();
        if (!names.empty() && unlink(box->host(dir + "/" + names[0]).c_str()) == 0)
            gone = names[0];
        else
            usleep(2000);
    }
    t.join();
    ASSERT_FALSE(gone.empty());
    std::string msg = write_failed(dir + "/" + gone, "No such file or directory");
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.err, msg + "\n");
    EXPECT_TRUE(has(res.out, internal_error(msg))) << res.out;
    EXPECT_EQ(box->read(DUMP), record(slow)) << "the dump itself is whole";
}

// Names from the future (a clock set back, or planted) count as older
// than every record being made: they go first, and never push a new
// record out.
TEST_F(History, NamesFromTheFutureNeverOutrankNewRecords)
{
    make_dir(dir, 65534);
    set_keep("2");
    for (const char *n : {"/20990101T000000.000000Z-1", "/20990101T000000.000001Z-1"})
        std::fclose(std::fopen(box->host(dir + n).c_str(), "w"));
    std::vector<Request> made;
    for (int i = 0; i < 3; ++i) {
        made.push_back(numbered(i));
        ASSERT_EQ(box->run(made.back()).status, 0);
        auto names = records();
        ASSERT_FALSE(names.empty());
        std::string newest; // the newest of the present, before any future name
        for (const auto &n : names)
            if (n.compare(0, 4, "2099") != 0)
                newest = n;
        EXPECT_EQ(box->read(dir + "/" + newest), record(made.back())) << i;
    }
    auto names = records();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(box->read(dir + "/" + names[0]), record(made[1]));
    EXPECT_EQ(box->read(dir + "/" + names[1]), record(made[2]));
}

// 200 requests at once: every record left is whole, and the newest stay.
// At keep 5 a pass may have run while others were still being written, so
// more than 5 may stay until the next request, which prunes to 5.
TEST_F(History, ManyConcurrentRequestsLeaveTheNewestWhole)
{
    for (const char *keep : {"5", "10000"}) {
        SCOPED_TRACE(keep);
        std::system(("rm -rf '" + box->host(dir) + "'").c_str());
        make_dir(dir, 65534);
        set_keep(keep);
        std::vector<Request> rs;
        std::vector<std::string> alle;
        for (int i = 0; i < 200; ++i) {
            rs.push_back(numbered(i));
            alle.push_back(record(rs.back()));
        }
        for (const auto &res : box->run_all(rs))
            EXPECT_EQ(res.status, 0) << res.err;
        auto names = records();
        size_t limit = std::string(keep) == "5" ? 5 : 200;
        EXPECT_GE(names.size(), limit);
        if (limit == 200) {
            EXPECT_EQ(names.size(), 200u);
        }
        for (const auto &n : names) {
            std::string text = box->read(dir + "/" + n);
            EXPECT_NE(std::find(alle.begin(), alle.end(), text), alle.end()) << n << " is no whole record";
        }
        Request last = numbered(200);
        ASSERT_EQ(box->run(last).status, 0);
        names = records();
        EXPECT_EQ(names.size(), limit == 5 ? 5u : 201u);
        EXPECT_EQ(box->read(dir + "/" + names.back()), record(last));
    }
}

} // namespace
