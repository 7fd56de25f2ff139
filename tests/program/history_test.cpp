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
    ASSERT_EQ(names.size(), 101u);
    EXPECT_EQ(names.back(), "notes.txt");
    EXPECT_NE(box->read(dir + "/" + names[0]).find("NR=5\n"), std::string::npos) << "the five oldest went";
    EXPECT_EQ(box->read(dir + "/" + names[99]), record(last));
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

// The administrator sets the count in <dump>.d/keep.  Old records of the
// history's form lie ready; one request then cuts the history down.  The
// keep file is never taken for a record, and one that is a link or a FIFO
// is not read.
TEST_F(History, TheKeepFileSetsTheCount)
{
    enum Art { DATEI, LINK, FIFO };
    struct Fall {
        std::string inhalt;
        Art art;
        int alte, bleiben;
    };
    const Fall faelle[] = {
        {"3\n", DATEI, 5, 3},           {"  7 \r\n", DATEI, 9, 7},   {"abc", DATEI, 104, 100},
        {"-5", DATEI, 104, 100},         {"0", DATEI, 104, 100},       {"", DATEI, 104, 100},
        {"3 4", DATEI, 104, 100},        {"99999999999999999999", DATEI, 10004, 10000},
        {"10001", DATEI, 10004, 10000},  {"3", LINK, 104, 100},        {"", FIFO, 104, 100},
    };
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.inhalt + " " + std::to_string(f.art));
        std::system(("rm -rf '" + box->host(dir) + "'").c_str());
        make_dir(dir, 65534);
        for (int i = 0; i < f.alte; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/20000101T000000.%06dZ-1", i);
            std::fclose(std::fopen(box->host(dir + name).c_str(), "w"));
        }
        std::string keep = box->host(dir + "/keep");
        if (f.art == FIFO) {
            ASSERT_EQ(mkfifo(keep.c_str(), 0644), 0);
        } else {
            std::string ziel = f.art == LINK ? box->host(dir + "/three") : keep;
            FILE *d = std::fopen(ziel.c_str(), "w");
            std::fputs(f.inhalt.c_str(), d);
            std::fclose(d);
            chmod(ziel.c_str(), 0644);
            if (f.art == LINK) {
                ASSERT_EQ(symlink("three", keep.c_str()), 0);
            }
        }
        Request r = numbered(1);
        ASSERT_EQ(box->run(r).status, 0);
        auto names = entries(dir);
        auto records = std::count_if(names.begin(), names.end(), [](const std::string &n) { return n[0] == '2'; });
        EXPECT_EQ(records, f.bleiben);
        EXPECT_NE(std::find(names.begin(), names.end(), "keep"), names.end()) << "the keep file went";
        ASSERT_GE(records, 2);
        EXPECT_EQ(box->read(dir + "/" + names[static_cast<size_t>(records - 1)]), record(r)) << "the newest stays";
        char erste[64]; // the oldest that stays
        std::snprintf(erste, sizeof erste, "20000101T000000.%06dZ-1", f.alte + 1 - f.bleiben);
        EXPECT_EQ(names[0], erste);
    }
}

} // namespace
