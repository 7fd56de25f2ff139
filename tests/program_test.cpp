// vokt.cgi run as a web server runs it, checked byte for byte: the page,
// standard error, the exit status and the dump file.
#include "form_reference.h"
#include "requests.h"
#include "sandbox.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string ENDE = "</BODY>\n</HTML>\n";

std::string head(const std::string &path = DUMP, int uid = 65534)
{
    return "Content-type: text/html\n\n<HTML>\n<TITLE>Cgi-Dump</TITLE>\n</HEAD>\n<BODY>\n"
           "<H1>Cgi-Dump</H1>\n<H2>User-Information</H2>Ich bin effektiv Nutzer " +
           std::to_string(uid) + " und pinsele daher in " + path + "<p>\n";
}

std::string env_section(const std::vector<std::string> &env)
{
    std::string s = "<H2>Die Environmentvariablen</H2>\n";
    for (const auto &e : env)
        s += e + "<p>\n";
    return s;
}

std::string dump_head(const std::vector<std::string> &env, const std::string &length)
{
    std::string s;
    for (const auto &e : env)
        s += e + "\n";
    return s + "*" + length + "\n";
}

using Program = SandboxTest;

TEST_F(Program, GetRequestWholePageAndDump)
{
    Request r;
    r.env = {"SERVER_NAME=localhost", "REQUEST_METHOD=GET", "QUERY_STRING=a=1"};
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + VARS + "a = 1<p>\n");
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "0"));
    struct stat st{};
    ASSERT_EQ(stat(box->host(DUMP).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "the dump holds cookies: private";
    EXPECT_EQ(st.st_uid, 65534u);
}

// A body that comes with a GET is neither shown nor recorded, but taken to
// its end while the page is held: a server that writes the whole body
// before it reads the page would otherwise wait on a large page.
TEST_F(Program, GetWithABodyTakesItUnshown)
{
    Request r;
    r.env = {"REQUEST_METHOD=GET", "CONTENT_LENGTH=300000", "QUERY_STRING=a=1"};
    r.body = std::string(300000, 'b');
    r.chunk = 65536;
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + VARS + "a = 1<p>\n");
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.fed, 300000u);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "300000"));
}

TEST_F(Program, PostRoadWithQueryStringWinning)
{
    Request r = post("x=1&y=a+b", "9", {"QUERY_STRING=y=c"});
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "L\xE4nge des Inhalts:9\n<PRE>x=1&amp;y=a+b</PRE>\n" +
                           VARS + "x = 1<p>\ny = c<p>\n");
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "9") + "x=1&y=a+b");
}

TEST_F(Program, ArgumentsAreListedEscaped)
{
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    r.args = {"x", "<y>"};
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "<H2>Die Argumente</H2>\nx\n&lt;y&gt;\n" + VARS);
    r.args = {};
    r.no_argv0 = true;
    res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + VARS);
    EXPECT_EQ(res.status, 0);
}

TEST_F(Program, RefusedMethodIsFatal)
{
    for (const std::string method : {"REQUEST_METHOD=HEAD", "REQUEST_METHOD", "REQUEST_METHODS=POST"}) {
        Request r;
        r.env = {"A=1", method, "QUERY_STRING=a=1", "CONTENT_LENGTH=3"};
        r.body = "b=2";
        Result res = box->run(r);
        std::string shown = method.size() > 15 ? method.substr(15) : "";
        EXPECT_EQ(res.out, head() + env_section({"A=1", method}) +
                               "Fehler auf HTML_Seite: Zugriffsmethode: " + shown + "<p>\n" + ENDE);
        EXPECT_EQ(res.status, 1);
        EXPECT_EQ(box->read(DUMP), dump_head(r.env, "3") + "b=2") << "the whole request, for its replay";
    }
}

TEST_F(Program, MethodAndLengthAreReadLeniently)
{
    Request r = post("x=1", "3abc");
    r.env[0] = "REQUEST_METHOD=postx";
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "L\xE4nge des Inhalts:3\n<PRE>x=1</PRE>\n" + VARS +
                           "x = 1<p>\n");
    // No method is GET; a body longer than announced is read only so far.
    r = post("x=1&y=2", "3");
    r.env[0] = "OTHER=1";
    res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + VARS);
    r = post("x=1&y=2", "3");
    res = box->run(r);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "3") + "x=1");
}

TEST_F(Program, UnwritableHomeIsFatalAndTmpIsNotTried)
{
    box->set_home(1000, "/tmp/home0");  // root's, not writable for 1000
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    r.uid = 1000;
    Result res = box->run(r);
    EXPECT_EQ(res.out, head("/tmp/home0/cgidump", 1000) +
                           "Datei /tmp/home0/cgidump kann leider nicht geschrieben werden!\n" + ENDE);
    EXPECT_EQ(res.status, 1);
    EXPECT_NE(access(box->host("/tmp/cgidump1000").c_str(), F_OK), 0);
}

TEST_F(Program, HomeDirectoryOfAnyLength)
{
    std::string home = "/tmp/home1000";
    for (int i = 0; i < 3; ++i) {
        home += "/" + std::string(120, char('a' + i));
        mkdir(box->host(home).c_str(), 0755);
        ASSERT_EQ(chown(box->host(home).c_str(), 1000, 1000), 0);
    }
    box->set_home(1000, home);
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    r.uid = 1000;
    Result res = box->run(r);
    EXPECT_EQ(res.out, head(home + "/cgidump", 1000) + env_section(r.env) + VARS);
    EXPECT_EQ(box->read(home + "/cgidump"), dump_head(r.env, "0"));
    box->set_home(1000, "/");
    res = box->run(r);
    EXPECT_EQ(res.out.substr(0, head("//cgidump", 1000).size()), head("//cgidump", 1000));
}

TEST_F(Program, ShortBodyIsReportedAndOnlyWhatArrivedIsUsed)
{
    Request r = post("a=1", "10");
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "L\xE4nge des Inhalts:10\n<B>Interner Fehler:</B>" +
                           SHORT_READ + "<p>\n" + ENDE + "<PRE>a=1</PRE>\n" + VARS + "a = 1<p>\n");
    EXPECT_EQ(res.err, SHORT_READ + "\n");
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "10") + "a=1");
}

TEST_F(Program, BodyArrivingInPiecesIsReadWhole)
{
    std::string body(1 << 20, '\0');
    std::mt19937 rng(7);
    for (auto &c : body)
        c = static_cast<char>('a' + rng() % 26);
    body.replace(0, 2, "k=");
    Request r = post(body, std::to_string(body.size()));
    r.chunk = 4096;
    r.nonblocking = true;  // as some servers hand over their socket
    Result res = box->run(r);
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.status, 0);
    EXPECT_TRUE(box->read(DUMP) == dump_head(r.env, std::to_string(body.size())) + body);
    EXPECT_NE(res.out.find("<PRE>" + body + "</PRE>\n"), std::string::npos);
    EXPECT_NE(res.out.find("k = " + body.substr(2) + "<p>\n"), std::string::npos);
}

TEST_F(Program, HugeAnnouncedLengthTakesOnlyWhatArrives)
{
    Request r = post("x=1234567", "2000000000");
    r.chunk = 3;
    Result res = box->run(r);
    EXPECT_EQ(res.err, SHORT_READ + "\n") << "no memory failure for a length nobody sent";
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "2000000000") + "x=1234567");
    r = post("x=1", "99999999999");
    res = box->run(r);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "2147483647") + "x=1") << "a length beyond int saturates";
}

TEST_F(Program, NegativeLengthIsAUserError)
{
    Request r = post("x=1", "-5");
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "L\xE4nge des Inhalts:-5\n<B>F E H L E R:</B>Ung\xFCltige L\xE4nge des Inhalts: -5<p>\n" +
                           ENDE + "<PRE></PRE>\n" + VARS);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "-5"));
}

TEST_F(Program, RequestVariablesWithoutValue)
{
    Request r = post("x=1", "0", {"QUERY_STRING", "CONTENT_LENGTH"});
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "L\xE4nge des Inhalts:0\n<PRE></PRE>\n" + VARS);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "0"));
}

TEST_F(Program, RequestTextIsEscapedOnThePageAndRawInTheDump)
{
    Request r;
    r.env = {"HTTP_X=<script>\"&\"</script>", "REQUEST_METHOD=GET", "QUERY_STRING=a=1%26lt%3D2&%3Cb%3E=%22"};
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section({"HTTP_X=&lt;script&gt;&quot;&amp;&quot;&lt;/script&gt;",
                                             "REQUEST_METHOD=GET", "QUERY_STRING=a=1%26lt%3D2&amp;%3Cb%3E=%22"}) +
                           VARS + "a = 1&amp;lt=2<p>\n&lt;b&gt; = &quot;<p>\n");
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "0"));
}

// A line feed inside a value (Apache decodes %0A in PATH_INFO) goes onto
// the page as it is, and into the dump followed by a tab: it can forge
// neither an entry nor the length line.
TEST_F(Program, LineFeedsInValuesCannotForgeRecordLines)
{
    Request r = post("real=1", "6", {"PATH_INFO=/x\n*0\nREMOTE_ADDR=6.6.6.6", "HTTP_X=\n\n", "A\nB=\n"});
    Result res = box->run(r);
    EXPECT_EQ(res.out, head() + env_section(r.env) + "L\xE4nge des Inhalts:6\n<PRE>real=1</PRE>\n" + VARS +
                           "real = 1<p>\n");
    EXPECT_EQ(box->read(DUMP), "REQUEST_METHOD=POST\nCONTENT_LENGTH=6\nPATH_INFO=/x\n\t*0\n\tREMOTE_ADDR=6.6.6.6\n"
                               "HTTP_X=\n\t\n\t\nA\n\tB=\n\t\n*6\nreal=1");
}

TEST_F(Program, PlantedThingsAtTheDumpPathAreReplacedNotFollowed)
{
    std::string target = box->host("/tmp/target");
    {
        FILE *f = std::fopen(target.c_str(), "w");
        std::fputs("precious", f);
        std::fclose(f);
    }
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    // Planted by another user in the sticky /tmp: refused, not followed.
    ASSERT_EQ(symlink("/tmp/target", box->host(DUMP).c_str()), 0);
    EXPECT_EQ(box->run(r).status, 1);
    EXPECT_EQ(box->read("/tmp/target"), "precious");
    // Left by the same user: replaced by a plain file, still not followed.
    ASSERT_EQ(lchown(box->host(DUMP).c_str(), 65534, 65534), 0);
    EXPECT_EQ(box->run(r).status, 0);
    EXPECT_EQ(box->read("/tmp/target"), "precious");
    struct stat st{};
    ASSERT_EQ(lstat(box->host(DUMP).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "0"));

    unlink(box->host(DUMP).c_str());
    ASSERT_EQ(mkfifo(box->host(DUMP).c_str(), 0666), 0);
    ASSERT_EQ(chown(box->host(DUMP).c_str(), 65534, 65534), 0);
    EXPECT_EQ(box->run(r).status, 0) << "a FIFO neither blocks nor receives the dump";
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "0"));
}

TEST_F(Program, DumpPathThatCannotBeTakenIsFatal)
{
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    std::string fatal = head() + "Datei " + DUMP + " kann leider nicht geschrieben werden!\n" + ENDE;
    // Another user's file in the sticky /tmp.
    {
        FILE *f = std::fopen(box->host(DUMP).c_str(), "w");
        std::fputs("root's", f);
        std::fclose(f);
        chmod(box->host(DUMP).c_str(), 0666);
    }
    Result res = box->run(r);
    EXPECT_EQ(res.out, fatal);
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(box->read(DUMP), "root's");
    // A directory.
    unlink(box->host(DUMP).c_str());
    mkdir(box->host(DUMP).c_str(), 0777);
    chown(box->host(DUMP).c_str(), 65534, 65534);
    res = box->run(r);
    EXPECT_EQ(res.out, fatal);
    EXPECT_EQ(res.status, 1);
    // A body still arriving is taken to its end before the page goes out:
    // a server that writes the whole body first would wait otherwise.
    Request p = post(std::string(300000, 'b'), "300000");
    p.chunk = 65536;
    res = box->run(p);
    EXPECT_EQ(res.out, head() + "Datei " + DUMP + " kann leider nicht geschrieben werden!\n" + ENDE);
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(res.fed, 300000u);
}

TEST_F(Program, ConcurrentRequestsLeaveOneWholeRecord)
{
    std::vector<Request> rs;
    std::vector<std::string> records;
    for (int i = 0; i < 20; ++i) {
        std::string body = "n=" + std::to_string(i) + "&pad=" + std::string(20000, char('a' + i));
        Request r = post(body, std::to_string(body.size()), {"REQUEST_ID=" + std::to_string(i)});
        r.chunk = 1000;
        rs.push_back(r);
        records.push_back(dump_head(r.env, std::to_string(body.size())) + body);
    }
    std::vector<Result> results = box->run_all(rs);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].status, 0);
        EXPECT_NE(results[i].out.find("n = " + std::to_string(i) + "<p>\n"), std::string::npos);
    }
    std::string dump = box->read(DUMP);
    EXPECT_NE(std::find(records.begin(), records.end(), dump), records.end()) << dump.substr(0, 200);
}

TEST_F(Program, LostReaderStillCompletesTheDump)
{
    Request r = post("x=1", "3");
    r.stdout_pipe_closed = true;
    Result res = box->run(r);
    EXPECT_EQ(res.status, 1) << "killed by SIGPIPE or reported success";
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "3") + "x=1");

    r.stdout_pipe_closed = false;
    r.close_stdout = true;
    res = box->run(r);
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(box->read(DUMP), dump_head(r.env, "3") + "x=1") << "the page must not land in the dump";
}

// ---- Bodies of more than one piece ------------------------------------------
//
// A body is echoed in pieces of 1 MiB and decoded in place while each piece
// is fresh, the decoder 128 bytes behind the echo; reports of the decoding
// wait until the echo is through.  The pages are compared whole with the
// byte-at-a-time models.

const std::size_t MIB = std::size_t{1} << 20;

// "" when the pages agree, else where they part.
std::string difference(const std::string &got, const std::string &want)
{
    if (got == want)
        return "";
    std::size_t at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
    std::size_t from = at < 60 ? 0 : at - 60;
    return "pages of " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
           " bytes part at " + std::to_string(at) + ":\n got: " + testing::PrintToString(got.substr(from, 120)) +
           "\nwant: " + testing::PrintToString(want.substr(from, 120));
}

// The page of a POST of body: the echo up to its first zero byte, what
// comes between echo and list, and the list in the map's walk order.
std::string body_page(const Request &r, const std::string &body, const std::string &after_echo = "")
{
    std::string page = head() + env_section(r.env) + "L\xE4nge des Inhalts:" + std::to_string(body.size()) +
                       "\n<PRE>" + reference::escape(reference::ctext(body)) + "</PRE>\n" + after_echo + VARS;
    for (const auto &[name, value] : reference::walk_order(reference::decode(body).pairs))
        page += reference::escape(name) + " = " + reference::escape(value) + "<p>\n";
    return page;
}

// Separators, escapes (some cut short) and markup, densely; without
// escapes the decoder's output keeps pace with its input.
void append_dense(std::string &body, std::mt19937 &rng, std::size_t upto, bool escapes)
{
    static const char *tokens[] = {"&", "=", "+", "<", "k", "v", "w", ">", "\"", "=&", "&<", "++",
                                   "%3C", "%41", "%2", "%", "%26", "%3d", "%2B"};
    std::size_t choices = escapes ? std::size(tokens) : 12;
    while (body.size() < upto)
        body += tokens[rng() % choices];
    body.resize(upto);
}

// A plain run with '+' (and every so often an escape, which makes the
// decoder's output lag behind its input).
void append_plain(std::string &body, std::mt19937 &rng, std::size_t upto, bool escapes)
{
    while (body.size() < upto) {
        if (escapes && rng() % 40 == 0)
            body += "%7A";
        else
            body += "abcdefghij+KLMNOP"[rng() % 17];
    }
    body.resize(upto);
}

TEST_F(Program, SeparatorsAtThePieceSeamsOfALongBody)
{
    for (unsigned seed = 1; seed <= 9; ++seed) {
        std::mt19937 rng(seed);
        // No escapes at all; escapes only near the seams; escapes all along.
        bool near = seed % 3 != 0;
        bool along = seed % 3 == 2;
        // Dense from 1 MiB - 140 to 1 MiB + 10 and around 2 MiB the same.
        std::string body = "v=";
        append_plain(body, rng, MIB - 140 - seed, along);
        append_dense(body, rng, MIB + 10, near);
        append_plain(body, rng, 2 * MIB - 140 - seed, along);
        append_dense(body, rng, 2 * MIB + 10, near);
        append_plain(body, rng, 2 * MIB + 700, along);
        Request r = post(body, std::to_string(body.size()));
        Result res = box->run(r);
        EXPECT_EQ(res.status, 0) << "seed " << seed;
        EXPECT_EQ(res.err, "");
        EXPECT_EQ(difference(res.out, body_page(r, body)), "") << "seed " << seed;
        EXPECT_TRUE(box->read(DUMP) == dump_head(r.env, std::to_string(body.size())) + body);
    }
}

TEST_F(Program, TooManyPairsInALongBodyReportedAfterTheEcho)
{
    // The 10 001st pair in the first piece, in the second, and after the
    // last piece the decoder takes while the echo runs.
    struct Case {
        std::size_t pair_bytes;
        std::size_t body_bytes;
    };
    for (Case c : {Case{80, MIB + 5000}, Case{120, 2 * MIB + 5000}, Case{220, 2 * MIB + 300000}}) {
        std::string body;
        for (int i = 0; body.size() < c.body_bytes; ++i) {
            std::string pair = "p" + std::to_string(i) + "=%3C+";
            pair += std::string(c.pair_bytes - pair.size() - 1, static_cast<char>('a' + i % 26)) + "&";
            body += pair;
        }
        body.pop_back();
        ASSERT_TRUE(reference::decode(body).capped);
        Request r = post(body, std::to_string(body.size()));
        Result res = box->run(r);
        EXPECT_EQ(res.status, 0);
        std::string report = "<B>F E H L E R:</B>Zu viele Formularvariablen, nur die ersten 10000 wurden \xFC"
                             "bernommen<p>\n" +
                             ENDE;
        EXPECT_EQ(difference(res.out, body_page(r, body, report)), "") << c.pair_bytes << "-byte pairs";
        EXPECT_TRUE(box->read(DUMP) == dump_head(r.env, std::to_string(body.size())) + body);
    }
}

TEST_F(Program, ZeroByteEndsTheEchoNotTheDecoding)
{
    for (std::size_t zero : {MIB - 1, MIB, MIB + 500, 2 * MIB - 100}) {
        std::string body;
        for (int i = 0; body.size() < 2 * MIB + 3000; ++i)
            body += "n" + std::to_string(i % 700) + "=" + std::string(290, static_cast<char>('a' + i % 26)) + "+%3E&";
        body.pop_back();
        body[zero] = '\0';
        Request r = post(body, std::to_string(body.size()));
        Result res = box->run(r);
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(difference(res.out, body_page(r, body)), "") << "zero byte at " << zero;
        EXPECT_TRUE(box->read(DUMP) == dump_head(r.env, std::to_string(body.size())) + body);
    }
}

} // namespace
