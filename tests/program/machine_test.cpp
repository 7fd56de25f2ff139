// The record on a real machine: accounts from any name service, full
// disks and file size limits, killed requests, missing descriptors, and a
// dump file prepared by an administrator.
#include "requests.h"
#include "sandbox.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Machine = SandboxTest;

// The account lookup follows nsswitch.conf as getent would, and never
// crashes, whatever sources it names.  A row of several lines is the
// whole file, read as glibc reads it (each answer is getent's): blanks
// around the name, the last line of a database counts, a last line
// without its newline does not, lines of any length, '#' opens a comment
// only at a line's start, and a file that does not parse finds nobody.
TEST_F(Machine, HomeDirectoryFromEveryKindOfAccountDatabase)
{
    mkdir(box->host("/tmp/extra").c_str(), 0755);
    ASSERT_EQ(chown(box->host("/tmp/extra").c_str(), 4243, 4243), 0);
    box->set_extrausers("extra:x:4243:4243::/tmp/extra:/bin/sh\n");
    const std::string extra = "/tmp/extra/cgidump", none = "/tmp/cgidump4243", blanks(1100, ' ');
    struct Case {
        std::string sources;
        uid_t uid;
        std::string dump;
    } cases[] = {
        {"files systemd", 4242, "/tmp/cgidump4242"},
        {"files", 4242, "/tmp/cgidump4242"},
        {"files", 1000, "/tmp/home1000/cgidump"},
        {"files systemd", 1000, "/tmp/home1000/cgidump"},
        {"files extrausers", 4243, "/tmp/extra/cgidump"},
        {"files [NOTFOUND=return] extrausers", 4243, "/tmp/cgidump4243"},
        {"extrausers files", 1000, "/tmp/home1000/cgidump"},
        {"passwd : extrausers\n", 4243, extra},
        {"\tpasswd\textrausers\n", 4243, extra},
        {"passwd: files\npasswd: extrausers\n", 4243, extra},
        {"passwd: extrausers\npasswd: files", 1000, "/tmp/cgidump1000"},
        {"#" + blanks + "passwd: extrausers\npasswd: files\n", 4243, none},
        {"passwd: files" + blanks + "extrausers\n", 4243, extra},
        {"# passwd: extrausers\npasswd: files # extrausers\n", 4243, extra},
        {"passwd: files [!NOTFOUND=return] extrausers\n", 4243, extra},
        {"passwd:\n", 1000, "/tmp/cgidump1000"},
        {"passwd: files [NOTFOUND=return extrausers\n", 1000, "/tmp/cgidump1000"},
        {"hosts: files [bogus]\npasswd: files\n", 1000, "/tmp/cgidump1000"},
    };
    for (const auto &c : cases) {
        if (c.sources.find('\n') == std::string::npos)
            box->set_nsswitch(c.sources);
        else
            box->set_nsswitch_text(c.sources);
        Result res = box->run(get("a=1", c.uid));
        SCOPED_TRACE(c.sources.substr(0, 60) + " uid " + std::to_string(c.uid));
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_TRUE(has(res.out, user_line(c.dump, static_cast<int>(c.uid)))) << res.out.substr(0, 400);
        EXPECT_TRUE(has(res.out, "a = 1<p>\n"));
        EXPECT_EQ(res.err, "");
    }
    if (access("/usr/lib/x86_64-linux-gnu/libnss_extrausers.so.2", F_OK) != 0 &&
        access("/usr/lib/libnss_extrausers.so.2", F_OK) != 0)
        ADD_FAILURE() << "libnss-extrausers is not installed: the extrausers case proved nothing";
}

TEST_F(Machine, UnreadableAccountDatabaseIsReportedAndTreatedAsNoAccount)
{
    box->set_nsswitch("files");
    // /etc/passwd that cannot be read by the user.
    chmod(box->host("/passwd").c_str(), 0600);
    Result res = box->run(get("a=1", 1000));
    EXPECT_EQ(res.status, 0);
    EXPECT_TRUE(has(res.out, internal_error("Nutzerdatenbank nicht lesbar: Permission denied")))
        << res.out.substr(0, 500);
    EXPECT_EQ(res.err, "Nutzerdatenbank nicht lesbar: Permission denied\n");
    EXPECT_TRUE(has(res.out, user_line("/tmp/cgidump1000", 1000)));
}

// /etc/passwd as glibc's files backend reads it for a uid, in time linear
// in the file: a line of 10 MB before the user's is merely read.
TEST_F(Machine, PasswdLinesAreReadAsTheFilesBackendReadsThem)
{
    box->set_nsswitch("files");
    const std::string good = "u:x:1000:1000::/tmp/home1000:/bin/sh", home = "/tmp/home1000/cgidump";
    const std::string wrong = ":/tmp/www:/bin/sh\n";  // a home that must not be taken
    struct Case {
        std::string passwd;
        std::string dump;
    } cases[] = {
        {"big:x:5:5:" + std::string(10 << 20, 'g') + ":/big:/bin/sh\n" + good + "\n", home},
        {"u:x:1000:1000:" + std::string(2000, 'g') + ":/tmp/home1000:/bin/sh\n", home},
        {" \tu:x:+01000:1000::/tmp/home1000:/bin/sh", home},
        {"# " + good + "\n\n  \n+u:x:1000:1000:" + wrong + "-u:x:1000:1000:" + wrong + good + "\n", home},
        {"u:x:1000x:1000:" + wrong + "u:x:1000:-1:" + wrong + "u:x:1000::" + wrong + good + "\n", home},
        {"u:x:1000:99999999999:" + wrong + "u:x: 1000 :1000:" + wrong + good + "\n", home},
        {good + "\nv:x:1000:1000:" + wrong, home},
        {"+" + good + "\nu:x:1000" + wrong, "/tmp/cgidump1000"},
    };
    for (const auto &c : cases) {
        box->set_passwd_text(c.passwd);
        Result res = box->run(get("a=1", 1000));
        SCOPED_TRACE(c.passwd.substr(0, 60));
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_TRUE(has(res.out, user_line(c.dump, 1000))) << res.out.substr(0, 400);
        EXPECT_EQ(res.err, "");
    }
}

// Whether pid runs; a zombie, killed and not yet reaped, does not.
bool runs(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

// A moment after the lookup, no process the fake getent wrote down in
// /tmp/getent.pids runs (those that do are killed here).
void expect_no_getent_left(const Sandbox &box)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::istringstream pids(box.read("/tmp/getent.pids"));
    int n = 0;
    for (pid_t pid; pids >> pid; ++n) {
        EXPECT_FALSE(runs(pid)) << "process " << pid << " of getent lives on";
        if (runs(pid))
            kill(pid, SIGKILL);
    }
    EXPECT_GT(n, 0) << "the fake getent never ran";
}

// Lines of the fake getent that write down the process's pid as the test
// sees it (getent may run in a pid namespace of its own, where $$ and $!
// mean other processes).
const std::string NOTE_PID =
    "while read k v r; do [ \"$k\" = NSpid: ] && echo $v >>/tmp/getent.pids; done </proc/self/status\n";
const std::string SLEEPS = "exec /bin/sleep 1000\n";
const std::string CHILD_HOLDS_OUTPUT = "(" + NOTE_PID + "exec /bin/sleep 1000) &\n";
// A child that leaves getent's process group and session.
std::string setsid_child(const std::string &output)
{
    return "setsid /bin/sh -c '" + NOTE_PID + "exec /bin/sleep 1000' " + output + "&\n";
}
const std::string LINE = "echo u:x:4242:4242::/tmp/h4242:/bin/sh\n";

// Whether a process of uid 4242 may make a user and a pid namespace here.
bool users_get_pid_namespaces()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(setresgid(4242, 4242, 4242) == 0 && setresuid(4242, 4242, 4242) == 0 &&
                      unshare(CLONE_NEWUSER | CLONE_NEWPID) == 0
                  ? 0
                  : 1);
    int ws = 0;
    return pid > 0 && waitpid(pid, &ws, 0) == pid && WIFEXITED(ws) && WEXITSTATUS(ws) == 0;
}

// A getent that hangs, leaves a child holding its output, or writes
// without end: the lookup gives up within its bounds and reports it, and
// the user counts as without account.  Or the server ends the program
// meanwhile.  Either way nothing of getent is left, even after SIGKILL,
// and even of a child that left getent's session (setsid): getent runs in
// a pid namespace of its own where one can be made.
TEST_F(Machine, GetentThatHangsOrFloodsIsStoppedWithAllItStarted)
{
    box->set_nsswitch("files extrausers");
    mkdir(box->host("/tmp/h4242").c_str(), 0755);
    ASSERT_EQ(chown(box->host("/tmp/h4242").c_str(), 4242, 4242), 0);
    struct Case {
        std::string script;
        std::string error;  // named in the report; none: the lookup succeeds
        int sig;            // sent to vokt.cgi; the page then is not checked
    } cases[] = {
        {SLEEPS, "Connection timed out", 0},
        {CHILD_HOLDS_OUTPUT + LINE, "Connection timed out", 0},
        {setsid_child("") + LINE, "Connection timed out", 0},
        {setsid_child(">/dev/null") + LINE, "", 0},
        {"exec /usr/bin/yes u:x:4242:4242::/tmp/home1000:/bin/sh\n", "File too large", 0},
        {CHILD_HOLDS_OUTPUT + "wait\n", "", SIGTERM},
        {setsid_child("") + "wait\n", "", SIGTERM},
        {SLEEPS, "", SIGHUP},
        {SLEEPS, "", SIGKILL},
    };
    const bool pid_namespaces = users_get_pid_namespaces();
    if (!pid_namespaces)
        std::fprintf(stderr, "no user namespaces here: a child that calls setsid() may outlive the lookup\n");
    for (const auto &c : cases) {
        if (!pid_namespaces && c.script.find("setsid") != std::string::npos)
            continue;
        unlink(box->host("/tmp/getent.pids").c_str());
        box->set_getent("#!/bin/sh\n" + NOTE_PID + c.script);
        Request r = get("a=1", 4242);
        r.chunk = c.sig != 0 ? 1 : 0;  // standard input a pipe, and the signal after 300 ms
        r.kill_signal = c.sig;
        auto start = std::chrono::steady_clock::now();
        Result res = box->run(r);
        SCOPED_TRACE(c.script + " signal " + std::to_string(c.sig));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        std::string msg = "Nutzerdatenbank nicht lesbar: " + c.error;
        EXPECT_EQ(res.status, c.sig != 0 ? 128 + c.sig : 0) << res.err;
        if (c.sig == 0 && !c.error.empty()) {
            EXPECT_TRUE(has(res.out, internal_error(msg))) << res.out.substr(0, 400);
            EXPECT_EQ(res.err, msg + "\n");
            EXPECT_TRUE(has(res.out, user_line("/tmp/cgidump4242", 4242)));
        } else if (c.sig == 0) {
            EXPECT_TRUE(has(res.out, user_line("/tmp/h4242/cgidump", 4242))) << res.out.substr(0, 400);
            EXPECT_EQ(res.err, "");
        }
        expect_no_getent_left(*box);
    }
}

TEST_F(Machine, FullDiskIsReportedAndFails)
{
    box->small_tmp(64 * 1024);
    std::string body(1000000, 'a');
    Result res = box->run(post(body, "1000000"));
    std::string msg = write_failed(DUMP, "No space left on device");
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(has(res.out, internal_error(msg)));
    EXPECT_EQ(res.err, msg + "\n") << "reported once";
    EXPECT_TRUE(has(res.out, "<PRE>" + body + "</PRE>")) << "the page goes on";
}

TEST_F(Machine, FileSizeLimitIsAReportedWriteFailureNotAKill)
{
    Request r = post(std::string(30000, 'b'), "30000");
    r.file_size_limit = 16 * 1024;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.err, write_failed(DUMP, "File too large") + "\n");
    // The limit holds for the page file of this test too: the page is
    // written as far as the limit lets it, with the report in it.
    EXPECT_TRUE(has(res.out, "<B>Interner Fehler:</B>Datei /tmp/cgidump65534 konnte nicht"));
}

TEST_F(Machine, DumpIsPrivateWhateverTheUmask)
{
    for (int bits : {0, 0777}) {
        Request r = get("a=1", 65534);
        r.umask_bits = bits;
        EXPECT_EQ(box->run(r).status, 0);
        struct stat st{};
        ASSERT_EQ(stat(box->host(DUMP).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << "umask " << bits;
    }
}

TEST_F(Machine, ClosedDescriptorsWithoutDevNeverReachTheDump)
{
    Request r = post("x=1", "3");
    r.no_dev = true;
    r.closed_fds = 7;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 1);
    std::string dump = box->read(DUMP);
    EXPECT_FALSE(has(dump, "Content-type")) << dump;
    EXPECT_FALSE(has(dump, "Interner Fehler")) << dump;
    // Only standard error closed: the page is delivered, the dump is whole.
    r.closed_fds = 4;
    res = box->run(r);
    EXPECT_EQ(res.status, 0);
    EXPECT_TRUE(has(res.out, "x = 1<p>\n"));
    EXPECT_EQ(box->read(DUMP), "REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nx=1");
}

// What arrived of a stalled body is in the dump when the server kills the
// program (Apache sends SIGTERM on its timeout, then SIGKILL).
TEST_F(Machine, KilledDuringAStalledBodyKeepsWhatArrived)
{
    for (int sig : {SIGTERM, SIGKILL}) {
        Request r = post("good=1&" + std::string(9000, 'z'), "100000");
        r.chunk = 1000;
        r.deliver = 9007;
        r.kill_signal = sig;
        Result res = box->run(r);
        EXPECT_EQ(res.status, 128 + sig);
        EXPECT_EQ(box->read(DUMP), "REQUEST_METHOD=POST\nCONTENT_LENGTH=100000\n*100000\n" + r.body);
    }
}

// Memory that runs out does not cost the dump.
TEST_F(Machine, OutOfMemoryKeepsTheDumpWhole)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit leaves";
#endif
    std::string body = "a=" + std::string(48 << 20, 'x');
    Request r = post(body, std::to_string(body.size()));
    r.address_space_limit = 44 << 20;
    r.chunk = 1 << 20;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_TRUE(has(res.err, "Nicht genug Speicher f\xFCr den Inhalt\n")) << res.err;
    // The value is decoded where it lies in the buffer: it needs no more.
    EXPECT_TRUE(has(res.out, VARS + "a = xxxx")) << res.err;
    std::string dump = box->read(DUMP);
    EXPECT_EQ(dump.size(), 54 + body.size());
    EXPECT_TRUE(dump == "REQUEST_METHOD=POST\nCONTENT_LENGTH=" + std::to_string(body.size()) + "\n*" +
                            std::to_string(body.size()) + "\n" + body);
}

// A body without a length, read to the end of its input, and a body that
// is only drained, stop at the int range when the input never ends: the
// cut is said for a POST, and a GET's drain ends.
TEST_F(Machine, EndlessInputStopsAtTheIntRange)
{
    Request get;
    get.env = {"REQUEST_METHOD=GET", "HTTP_TRANSFER_ENCODING=chunked", "QUERY_STRING=a=1"};
    get.zero_input = true;
    Result res = box->run(get);
    EXPECT_EQ(res.status, 0);
    EXPECT_TRUE(has(res.out, VARS + "a = 1<p>\n"));
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit leaves";
#endif
    Request r;
    r.env = {"REQUEST_METHOD=POST", "HTTP_TRANSFER_ENCODING=chunked"};
    r.zero_input = true;
    r.file_size_limit = 1 << 20;         // the dump stops early
    r.address_space_limit = 512l << 20;  // and so does the memory
    res = box->run(r);
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(has(res.out, user_error("L\xE4nge des Inhalts zu gro\xDF: mehr als 2147483647")));
}

// A root-owned home with a dump file prepared for the user, as Debian's
// web servers need it for www-data.
class Prepared : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        if (!box)
            return;
        mkdir(box->host("/tmp/www").c_str(), 0755);
        box->set_home(1000, "/tmp/www");
        prepare(1000, 0644);
    }
    void prepare(uid_t owner, mode_t mode)
    {
        std::string file = box->host(path);
        unlink(file.c_str());
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "an older and longer record\n", 27), 27);
        close(fd);
        ASSERT_EQ(chown(file.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
    }
    const std::string path = "/tmp/www/cgidump";
};

TEST_F(Prepared, IsEmptiedAndWrittenPrivately)
{
    Request r = post("x=1", "3");
    r.uid = 1000;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.out;
    EXPECT_TRUE(has(res.out, user_line(path, 1000)));
    EXPECT_TRUE(has(res.out, VARS + "x = 1<p>\n"));
    EXPECT_EQ(box->read(path), "REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nx=1");
    struct stat st{};
    ASSERT_EQ(stat(box->host(path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(access(box->host("/tmp/www/cgidump.XXXXXX").c_str(), F_OK), -1);
}

TEST_F(Prepared, AnythingButTheUsersOwnRegularFileIsRefused)
{
    std::string fatal = cannot_write(path);
    prepare(0, 0666);  // root's file, writable for all: still not the user's
    Result res = box->run(get("a=1", 1000));
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(has(res.out, fatal));
    EXPECT_EQ(box->read(path), "an older and longer record\n");

    // A link of the user's to a file the user may write: not followed.
    std::string target = box->host("/tmp/home1000/target");
    prepare(1000, 0600);
    ASSERT_EQ(rename(box->host(path).c_str(), target.c_str()), 0);
    ASSERT_EQ(symlink("/tmp/home1000/target", box->host(path).c_str()), 0);
    ASSERT_EQ(lchown(box->host(path).c_str(), 1000, 1000), 0);
    res = box->run(get("a=1", 1000));
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(box->read("/tmp/home1000/target"), "an older and longer record\n");

    // A FIFO of the user's: refused at once, never waited on.
    unlink(box->host(path).c_str());
    ASSERT_EQ(mkfifo(box->host(path).c_str(), 0600), 0);
    ASSERT_EQ(chown(box->host(path).c_str(), 1000, 1000), 0);
    res = box->run(get("a=1", 1000));
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(has(res.out, fatal));

    // The user's file with a second name (a record of the history): never
    // emptied.
    prepare(1000, 0600);
    unlink(target.c_str());
    ASSERT_EQ(link(box->host(path).c_str(), target.c_str()), 0);
    res = box->run(get("a=1", 1000));
    EXPECT_EQ(res.status, 1);
    EXPECT_TRUE(has(res.out, fatal));
    EXPECT_EQ(box->read(path), "an older and longer record\n");
}

// Root's link in root's folder, which the user cannot write, leads the
// record into a folder of the user's: a fresh file there for every
// request, no lock, the link left as it is.  Anyone else's link there is
// not followed.
TEST_F(Prepared, RootsLinkLeadsToAFreshFileInTheUsersFolder)
{
    unlink(box->host(path).c_str());
    struct Case {
        std::string target, written;
        uid_t owner;
        int status;
    } cases[] = {
        {"/tmp/home1000/cgidump", "/tmp/home1000/cgidump", 0, 0},
        {"../home1000/relative", "/tmp/home1000/relative", 0, 0},
        {"/tmp/home1000/users", "", 1000, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        unlink(box->host(path).c_str());
        ASSERT_EQ(symlink(c.target.c_str(), box->host(path).c_str()), 0);
        ASSERT_EQ(lchown(box->host(path).c_str(), c.owner, c.owner), 0);
        Result res = box->run(get("a=1", 1000));
        EXPECT_EQ(res.status, c.status) << res.out;
        EXPECT_TRUE(has(res.out, user_line(path, 1000)));
        struct stat st{};
        EXPECT_EQ(lstat(box->host(path).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays";
        if (c.written.empty())
            continue;
        EXPECT_EQ(box->read(c.written), "REQUEST_METHOD=GET\nQUERY_STRING=a=1\n*0\n");
        // Another request holding the target does not make this one wait.
        int fd = open(box->host(c.written).c_str(), O_RDONLY);
        ASSERT_EQ(flock(fd, LOCK_EX), 0);
        Request post_r = post("x=1", "3");
        post_r.uid = 1000;
        res = box->run(post_r);
        close(fd);
        EXPECT_EQ(res.status, 0) << res.out;
        EXPECT_EQ(box->read(c.written), "REQUEST_METHOD=POST\nCONTENT_LENGTH=3\n*3\nx=1");
    }
}

// Root's link in root's folder that others may write, though the user may
// not: a member of that group could swap the link between its check and
// its use, so it is not followed (before, a group-writable folder was
// trusted as long as the user was no member).
TEST_F(Prepared, RootsLinkInAFolderOthersMayWriteIsNotFollowed)
{
    std::string folder = box->host("/tmp/www");
    // Writable for the user too (0757): the link is replaced by the dump.
    for (mode_t mode : {mode_t{0775}, mode_t{0757}, mode_t{01777}}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(chown(folder.c_str(), 0, 2000), 0);
        ASSERT_EQ(chmod(folder.c_str(), mode), 0);
        unlink(box->host(path).c_str());
        ASSERT_EQ(symlink("/tmp/home1000/swapped", box->host(path).c_str()), 0);
        Result res = box->run(get("a=1", 1000));
        EXPECT_EQ(access(box->host("/tmp/home1000/swapped").c_str(), F_OK), -1) << "the link was followed";
        struct stat st{};
        ASSERT_EQ(lstat(box->host(path).c_str(), &st), 0);
        if (mode == 0757) {
            EXPECT_EQ(res.status, 0) << res.out;
            EXPECT_TRUE(S_ISREG(st.st_mode));
        } else {
            EXPECT_EQ(res.status, 1) << res.out;
            EXPECT_TRUE(has(res.out, cannot_write(path)));
            EXPECT_TRUE(S_ISLNK(st.st_mode));
        }
    }
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
}

TEST_F(Prepared, BusyFileIsReportedAndTheRequestGoesOnWithoutARecord)
{
    int fd = open(box->host(path).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    Result res = box->run(get("a=1", 1000));
    EXPECT_EQ(res.status, 1);
    std::string msg = "Datei " + path + " ist gerade belegt, diese Anfrage wird nicht aufgezeichnet";
    EXPECT_TRUE(has(res.out, internal_error(msg)));
    EXPECT_EQ(res.err, msg + "\n");
    EXPECT_TRUE(has(res.out, VARS + "a = 1<p>\n"));
    EXPECT_EQ(box->read(path), "an older and longer record\n") << "the other request's record is untouched";

    // Released within the wait: the request waits and records.
    std::thread release([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        flock(fd, LOCK_UN);
    });
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    res = box->run(get("a=1", 1000));
    release.join();
    close(fd);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(box->read(path), "REQUEST_METHOD=GET\nQUERY_STRING=a=1\n*0\n");
}

TEST_F(Prepared, ConcurrentRequestsNeverMixTheirRecords)
{
    std::vector<Request> rs;
    std::vector<std::string> records;
    for (int i = 0; i < 10; ++i) {
        std::string body = "n=" + std::to_string(i) + "&pad=" + std::string(20000, char('a' + i));
        Request r = post(body, std::to_string(body.size()));
        r.uid = 1000;
        r.chunk = 4000;
        rs.push_back(r);
        records.push_back("REQUEST_METHOD=POST\nCONTENT_LENGTH=" + std::to_string(body.size()) + "\n*" +
                          std::to_string(body.size()) + "\n" + body);
    }
    std::vector<Result> results = box->run_all(rs);
    for (const auto &res : results)
        EXPECT_TRUE(res.status == 0 || has(res.out, "ist gerade belegt")) << res.out.substr(0, 300);
    std::string dump = box->read(path);
    EXPECT_NE(std::find(records.begin(), records.end(), dump), records.end()) << dump.substr(0, 200);
}

} // namespace
