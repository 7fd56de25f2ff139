// Hostile requests against the built vokt.cgi: lengths that lie, slow and
// broken delivery, escapes at the very end, zero bytes, huge names, values
// and pair counts, odd environment entries, an overlong home directory,
// things planted at the dump path, a closed standard output and requests
// at the same time.  Each must give a whole page or a clean refusal, and a
// dump that holds the request.
//
// The checks look at the parts of page and dump that the request decides,
// not at the environment section: the same tests run under valgrind
// (VOKT_WRAPPER), which adds variables of its own to the environment.
#include "requests.h"
#include "sandbox.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string CANNOT_WRITE = " kann leider nicht geschrieben werden!\n";
using Hostile = SandboxTest;

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The variable listing at the end of a page.
std::string listing(const Result &res)
{
    size_t at = res.out.rfind(VARS);
    return at == std::string::npos ? "<no listing>" : res.out.substr(at + VARS.size());
}

size_t count(const std::string &s, const std::string &what)
{
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size()))
        ++n;
    return n;
}

TEST_F(Hostile, LengthsThatLie)
{
    // Oversized: clamped, and only what arrives is read.
    Result res = box->run(post("x=1", "99999999999999999999"));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, SHORT_READ + "\n");
    EXPECT_EQ(listing(res), "x = 1<p>\n");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*2147483647\nx=1"));
    // Negative: refused as the user's error; nothing is read.
    res = box->run(post("x=1", "-1"));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_NE(res.out.find("<B>F E H L E R:</B>Ung\xFCltige L\xE4nge des Inhalts: -1<p>\n"), std::string::npos);
    EXPECT_EQ(listing(res), "");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*-1\n"));
    // Not a number: 0, nothing is read.
    res = box->run(post("x=1", "abc"));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(listing(res), "");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*0\n"));
    // A body shorter than announced: reported, what came is used.
    res = box->run(post("a=1", "10"));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, SHORT_READ + "\n");
    EXPECT_EQ(listing(res), "a = 1<p>\n");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*10\na=1"));
    // Longer than announced: the rest stays unread.
    res = box->run(post("x=1&y=2", "3"));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(listing(res), "x = 1<p>\n");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*3\nx=1"));
}

TEST_F(Hostile, SlowChunkedAndBrokenDelivery)
{
    Request r = post("a=1&b=2&c=3", "11");
    r.chunk = 1; // byte by byte, with a pause between
    Result res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    EXPECT_NE(res.out.find("<PRE>a=1&amp;b=2&amp;c=3</PRE>"), std::string::npos);
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*11\na=1&b=2&c=3"));
    // The client goes away after five bytes.
    r.chunk = 2;
    r.deliver = 5;
    res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, SHORT_READ + "\n");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*11\na=1&b"));
}

TEST_F(Hostile, PercentAtEveryPositionNearTheEnd)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"%", " = <p>\n"},       {"a=%", "a = <p>\n"},   {"a=%4", "a = @<p>\n"},
        {"a=%41", "a = A<p>\n"}, {"a=x%", "a = x<p>\n"}, {"a=%%%", "a = <p>\n"},
    };
    for (const auto &[body, shown] : cases) {
        Request r = post(body, std::to_string(body.size()));
        Result res = box->run(r);
        EXPECT_EQ(res.status, 0) << body << res.err;
        EXPECT_EQ(res.err, "") << body;
        EXPECT_EQ(listing(res), shown) << body;
        EXPECT_TRUE(ends_with(box->read(DUMP), "\n" + body)) << body;
    }
    // In the query string too, which has no spare byte of its own.
    Request r;
    r.env = {"REQUEST_METHOD=GET", "QUERY_STRING=q=%4"};
    Result res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(listing(res), "q = @<p>\n");
}

TEST_F(Hostile, ZeroBytesAndEscapedSeparators)
{
    std::string body("a=x\0y&b=2&c=%00z", 16);
    Result res = box->run(post(body, "16"));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(listing(res), "a = x<p>\nb = 2<p>\nc = <p>\n");
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*16\n" + body)) << "the dump keeps the raw bytes";

    Request r;
    r.env = {"REQUEST_METHOD=GET", "QUERY_STRING=a=%26%3D%2B%25&b=%3Cscript%3E&%3D=%26"};
    res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(listing(res), "a = &amp;=+%<p>\nb = &lt;script&gt;<p>\n= = &amp;<p>\n");
}

TEST_F(Hostile, VeryLongNamesAndValues)
{
    std::string name(1 << 20, 'n');
    std::string value(1 << 20, 'v');
    std::string body = name + "=" + value + "&k=" + value.substr(0, 100000);
    Result res = box->run(post(body, std::to_string(body.size())));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(res.err, "");
    EXPECT_TRUE(listing(res) == "k = " + value.substr(0, 100000) + "<p>\n" + name + " = " + value + "<p>\n");
    EXPECT_TRUE(ends_with(box->read(DUMP), body));
}

// The flooding attack: 100 000 pairs whose names all fall into one bucket.
// The first 10 000 are stored, the excess is reported once, and the dump
// still holds the whole body.
TEST_F(Hostile, HundredThousandPairsInOneBucket)
{
    std::string body;
    for (int i = 0; i < 100000; ++i)
        body += "a" + std::to_string(i) + "a=" + std::to_string(i) + "&";
    body.pop_back();
    Result res = box->run(post(body, std::to_string(body.size()), {"QUERY_STRING=q=1"}));
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(count(res.out, "Zu viele Formularvariablen, nur die ersten 10000 wurden \xFC"
                             "bernommen<p>\n"),
              1u);
    std::string vars = listing(res);
    EXPECT_EQ(count(vars, "<p>\n"), 10001u) << "10 000 pairs of the body, one of the query string";
    EXPECT_NE(vars.find("a9999a = 9999<p>\n"), std::string::npos);
    EXPECT_EQ(vars.find("a10000a = "), std::string::npos);
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*" + std::to_string(body.size()) + "\n" + body));
}

TEST_F(Hostile, EnvironmentEntriesWithoutEquals)
{
    Request r;
    r.env = {"NOEQUALS", "", "=", "CONTENT_LENGTH", "QUERY_STRING", "REQUEST_METHOD=GET", "X=1"};
    Result res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    // valgrind passes on only the entries with '=', so under it the program
    // never sees the others.
    if (std::getenv("VOKT_WRAPPER") == nullptr) {
        EXPECT_NE(res.out.find("NOEQUALS<p>\n<p>\n=<p>\nCONTENT_LENGTH<p>\nQUERY_STRING<p>\n"), std::string::npos);
        EXPECT_TRUE(
            ends_with(box->read(DUMP), "NOEQUALS\n\n=\nCONTENT_LENGTH\nQUERY_STRING\nREQUEST_METHOD=GET\nX=1\n*0\n"));
    }
    EXPECT_EQ(listing(res), "");
    // A method that is no method ends the request cleanly.
    r.env = {"REQUEST_METHOD=DELETE", "QUERY_STRING=a=1"};
    res = box->run(r);
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_TRUE(ends_with(res.out, "Fehler auf HTML_Seite: Zugriffsmethode: DELETE<p>\n</BODY>\n</HTML>\n"));
}

TEST_F(Hostile, HomeDirectoryOf10000Bytes)
{
    std::string home = "/tmp/" + std::string(9995, 'h');
    box->set_home(1000, home);
    Request r;
    r.env = {"REQUEST_METHOD=GET", "QUERY_STRING=a=1"};
    r.uid = 1000;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_NE(res.out.find("Ich bin effektiv Nutzer 1000 und pinsele daher in " + home + "/cgidump<p>\n"),
              std::string::npos);
    EXPECT_TRUE(ends_with(res.out, "Datei " + home + "/cgidump" + CANNOT_WRITE + "</BODY>\n</HTML>\n"));
}

TEST_F(Hostile, ThingsPlantedAtTheDumpPath)
{
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    std::string target = box->host("/tmp/target");
    {
        FILE *f = std::fopen(target.c_str(), "w");
        std::fputs("precious", f);
        std::fclose(f);
    }
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    // A link of the user's own: replaced, not followed.
    ASSERT_EQ(symlink("/tmp/target", box->host(DUMP).c_str()), 0);
    ASSERT_EQ(lchown(box->host(DUMP).c_str(), 65534, 65534), 0);
    Result res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(box->read("/tmp/target"), "precious");
    // A FIFO: neither blocks nor receives the dump.
    unlink(box->host(DUMP).c_str());
    ASSERT_EQ(mkfifo(box->host(DUMP).c_str(), 0666), 0);
    ASSERT_EQ(chown(box->host(DUMP).c_str(), 65534, 65534), 0);
    res = box->run(r);
    EXPECT_EQ(res.status, 0) << res.err;
    struct stat st {};
    ASSERT_EQ(lstat(box->host(DUMP).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    // A directory, and another user's file: a clean refusal.
    unlink(box->host(DUMP).c_str());
    ASSERT_EQ(mkdir(box->host(DUMP).c_str(), 0777), 0);
    res = box->run(r);
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_TRUE(ends_with(res.out, "Datei " + DUMP + CANNOT_WRITE + "</BODY>\n</HTML>\n"));
    rmdir(box->host(DUMP).c_str());
    {
        FILE *f = std::fopen(box->host(DUMP).c_str(), "w");
        std::fputs("root's", f);
        std::fclose(f);
    }
    res = box->run(r);
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_EQ(box->read(DUMP), "root's");
}

TEST_F(Hostile, ClosedStandardOutput)
{
    Request r = post("x=1", "3");
    r.close_stdout = true;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_TRUE(ends_with(box->read(DUMP), "\n*3\nx=1"));
}

TEST_F(Hostile, ConcurrentRequests)
{
    std::vector<Request> rs;
    std::vector<std::string> tails;
    for (int i = 0; i < 6; ++i) {
        std::string body = "n=" + std::to_string(i) + "&pad=" + std::string(50000, char('a' + i));
        Request r = post(body, std::to_string(body.size()));
        r.chunk = 5000;
        rs.push_back(r);
        tails.push_back("\n*" + std::to_string(body.size()) + "\n" + body);
    }
    std::vector<Result> results = box->run_all(rs);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].status, 0) << results[i].err;
        EXPECT_NE(listing(results[i]).find("n = " + std::to_string(i) + "<p>\n"), std::string::npos);
    }
    std::string dump = box->read(DUMP);
    size_t whole = 0;
    for (const auto &t : tails)
        whole += ends_with(dump, t) ? 1 : 0;
    EXPECT_EQ(whole, 1u) << "one request's record, whole";
    EXPECT_EQ(count(dump, "\n*"), 1u) << "no mix of two records";
}

} // namespace
