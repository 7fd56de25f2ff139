// vokt.cgi run as a web server runs it, one request at a time: the page,
// standard error, the exit status and the dump file, for plain requests
// and hostile ones (lengths that lie, slow and broken delivery, escapes at
// the very end, zero bytes, huge names, values and pair counts, odd
// environment entries, long home directories, things planted at the dump
// path, a lost reader), and requests at the same time.
//
// The same tests run under valgrind (VOKT_WRAPPER), which passes on only
// entries with '=' and adds entries of its own (and of Debian's valgrind
// script); there the added entries are taken out of page and dump before
// they are compared.
#include "requests.h"
#include "sandbox.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;

bool wrapped()
{
    return std::getenv("VOKT_WRAPPER") != nullptr;
}

// How the page begins: head and the environment section, head alone (the
// request ended before the section), or no page at all.
enum Form { WITH_ENV, NO_ENV, NO_PAGE };

struct Case {
    std::string name;
    Request request;
    std::function<void(Sandbox &)> prepare = nullptr;
    Form form = WITH_ENV;
    std::optional<std::vector<std::string>> listed = std::nullopt;  // the section's entries; the request's when not given
    std::optional<std::string> page = std::nullopt;               // what follows the section (or the head); nullopt: not looked at
    int status = 0;
    std::optional<std::string> err = "";
    std::string at = DUMP;                           // the dump file the page names
    std::optional<std::string> record = std::nullopt;             // the dump from its '*' line on; nullopt: not looked at
    std::optional<std::string> entries = std::nullopt;            // the dump's lines before it; the request's entries when not given
    std::optional<size_t> fed = std::nullopt;                     // the bytes of a piped body the program took
    std::function<void(const Result &, Sandbox &)> then = nullptr;
    bool exact_env = false;  // the program must see entries without '=', which valgrind drops
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

// Under the wrapper, which passes on the request's entries in an order of
// its own and adds its own: text with each of the entries (line_end after
// each) taken out once, and every entry the wrapper added.
const char *const ADDED[] = {"LD_LIBRARY_PATH=", "GLIBCPP_FORCE_NEW=", "GLIBCXX_FORCE_NEW=", "PWD=", "LD_PRELOAD="};

std::string without_entries(std::string text, const std::vector<std::string> &entries, const std::string &line_end)
{
    for (const auto &e : entries) {
        size_t at = text.find("\n" + e + line_end);
        if (at != std::string::npos)
            text.erase(at + 1, e.size() + line_end.size());
    }
    for (const char *name : ADDED)
        for (size_t at = text.find(std::string("\n") + name); at != std::string::npos;
             at = text.find(std::string("\n") + name, at)) {
            size_t end = text.find(line_end, at + 1);
            text.erase(at + 1, end == std::string::npos ? std::string::npos : end + line_end.size() - at - 1);
        }
    return text;
}

// What the program sees of the request's entries.
std::vector<std::string> seen(const std::vector<std::string> &env)
{
    std::vector<std::string> s;
    for (const auto &e : env)
        if (!wrapped() || e.find('=') != std::string::npos)
            s.push_back(e);
    return s;
}

// The dump from its '*' line on, with the line feed before it.
std::string from_star(const std::string &dump)
{
    size_t at = dump.find("\n*");
    return at == std::string::npos ? "<no '*' line>" : dump.substr(at);
}

void expect_outcome(const Case &c, const Result &res, Sandbox &box)
{
    const Request &r = c.request;
    EXPECT_EQ(res.status, c.status) << res.err;
    if (c.err) {
        EXPECT_EQ(res.err, *c.err);
    }
    if (c.fed) {
        EXPECT_EQ(res.fed, *c.fed);
    }
    if (c.page) {
        std::string top = c.form == NO_PAGE ? "" : head(c.at, static_cast<int>(r.uid));
        std::vector<std::string> listed = c.listed.value_or(seen(r.env));
        std::string section = c.form == WITH_ENV ? env_section(listed) : "";
        if (!wrapped()) {
            EXPECT_TRUE(res.out == top + section + *c.page) << testing::PrintToString(res.out.substr(0, 3000));
        } else {
            // A page that ends early lists the entries before the method, in
            // the wrapper's order: any of the request's.
            std::vector<std::string> any = seen(r.env);
            any.insert(any.end(), listed.begin(), listed.end());
            std::string rest = without_entries(res.out, any, "<p>\n");
            EXPECT_TRUE(rest == top + (c.form == WITH_ENV ? env_section({}) : "") + *c.page)
                << testing::PrintToString(rest.substr(0, 3000));
        }
    }
    if (c.record) {
        std::string dump = box.read(c.at);
        if (!wrapped()) {
            std::string want = c.entries.value_or(entry_lines(r.env)) + *c.record;
            EXPECT_TRUE(dump == want) << testing::PrintToString(dump.substr(0, 3000));
        } else if (c.entries) {
            EXPECT_EQ(from_star(dump), from_star(*c.entries + *c.record));
        } else {
            std::string rest = without_entries("\n" + dump, seen(r.env), "\n");
            EXPECT_TRUE(rest == "\n" + *c.record) << testing::PrintToString(rest.substr(0, 3000));
        }
    }
    if (c.then)
        c.then(res, box);
}

// The listing of a POST of body without reports: length line, echo,
// the heading of the list.
std::string echoed(const std::string &body, const std::string &shown)
{
    return length_line(std::to_string(body.size())) + "<PRE>" + shown + "</PRE>\n" + VARS;
}

size_t count(const std::string &s, const std::string &what)
{
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size()))
        ++n;
    return n;
}

void plant_target(Sandbox &box)
{
    ASSERT_TRUE(write_file(box.host("/tmp/target"), "precious"));
    ASSERT_EQ(chmod(box.host("/tmp/target").c_str(), 0666), 0);
}

void expect_target_untouched(const Result &, Sandbox &box)
{
    EXPECT_EQ(box.read("/tmp/target"), "precious");
}

void expect_regular_dump(const Result &, Sandbox &box)
{
    struct stat st{};
    ASSERT_EQ(lstat(box.host(DUMP).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

void users_directory_at_dump(Sandbox &box)
{
    ASSERT_EQ(mkdir(box.host(DUMP).c_str(), 0777), 0);
    ASSERT_EQ(chown(box.host(DUMP).c_str(), 65534, 65534), 0);
}

std::vector<Case> cases()
{
    std::vector<Case> t;
    auto post_of = [](const std::string &body) { return post(body, std::to_string(body.size())); };

    // ---- Plain requests
    {
        Request r = get("a=1");
        r.env.insert(r.env.begin(), "SERVER_NAME=localhost");
        t.push_back({.name = "GetWholePageAndDump", .request = r, .page = VARS + "a = 1<p>\n", .record = "*0\n",
                     .then = [](const Result &, Sandbox &box) {
                         struct stat st{};
                         ASSERT_EQ(stat(box.host(DUMP).c_str(), &st), 0);
                         EXPECT_EQ(st.st_mode & 07777, 0600u) << "the dump holds cookies: private";
                         EXPECT_EQ(st.st_uid, 65534u);
                     }});
    }
    // A body that comes with a GET is neither shown nor recorded, but taken
    // to its end while the page is held: a server that writes the whole
    // body before it reads the page would otherwise wait on a large page.
    {
        Request r = get("a=1");
        r.env.insert(r.env.begin() + 1, "CONTENT_LENGTH=300000");
        r.body = std::string(300000, 'b');
        r.chunk = 65536;
        t.push_back({.name = "GetWithABodyTakesItUnshown", .request = r, .page = VARS + "a = 1<p>\n",
                     .record = "*300000\n", .fed = 300000});
    }
    t.push_back({.name = "PostWithQueryStringWinning", .request = post("x=1&y=a+b", "9", {"QUERY_STRING=y=c"}),
                 .page = echoed("x=1&y=a+b", "x=1&amp;y=a+b") + "x = 1<p>\ny = c<p>\n", .record = "*9\nx=1&y=a+b"});
    {
        Request r = get();
        r.args = {"x", "<y>"};
        t.push_back({.name = "ArgumentsAreListedEscaped", .request = r,
                     .page = "<H2>Die Argumente</H2>\nx\n&lt;y&gt;\n" + VARS, .record = "*0\n"});
        r.args = {};
        r.no_argv0 = true;
        t.push_back({.name = "NoArgumentsNotEvenArgv0", .request = r, .page = VARS, .record = "*0\n"});
    }
    // The request variables without a value.
    // The dump marks each with a zero byte, so that a reader never joins it
    // to the entry before it.
    t.push_back({.name = "RequestVariablesWithoutValue", .request = post("x=1", "0", {"QUERY_STRING", "CONTENT_LENGTH"}),
                 .page = length_line("0") + "<PRE></PRE>\n" + VARS, .record = "*0\n",
                 .entries = "REQUEST_METHOD=POST\nCONTENT_LENGTH=0\n\0QUERY_STRING\n\0CONTENT_LENGTH\n"s});
    // Environment entries without '=' are listed as they are, and dumped
    // after the mark; so are entries that start with a tab or a '*'.
    {
        Request r;
        r.env = {"NOEQUALS", "", "=", "CONTENT_LENGTH", "QUERY_STRING", "REQUEST_METHOD=GET", "X=1", "\tY=2", "*0"};
        t.push_back({.name = "EnvironmentEntriesWithoutEquals", .request = r, .page = VARS, .record = "*0\n",
                     .entries = "\0NOEQUALS\n\0\n=\n\0CONTENT_LENGTH\n\0QUERY_STRING\nREQUEST_METHOD=GET\nX=1\n"
                                "\0\tY=2\n\0*0\n"s});
    }
    {
        Request r = get("a=1%26lt%3D2&%3Cb%3E=%22");
        r.env.insert(r.env.begin(), "HTTP_X=<script>\"&\"</script>");
        t.push_back({.name = "RequestTextIsEscapedOnThePageAndRawInTheDump", .request = r,
                     .listed = std::vector<std::string>{"HTTP_X=&lt;script&gt;&quot;&amp;&quot;&lt;/script&gt;",
                                                        "REQUEST_METHOD=GET", "QUERY_STRING=a=1%26lt%3D2&amp;%3Cb%3E=%22"},
                     .page = VARS + "a = 1&amp;lt=2<p>\n&lt;b&gt; = &quot;<p>\n", .record = "*0\n"});
    }
    // A line feed inside a value (Apache decodes %0A in PATH_INFO) goes onto
    // the page as it is, and into the dump followed by a tab: it can forge
    // neither an entry nor the length line.
    t.push_back({.name = "LineFeedsInValuesCannotForgeRecordLines",
                 .request = post("real=1", "6", {"PATH_INFO=/x\n*0\nREMOTE_ADDR=6.6.6.6", "HTTP_X=\n\n", "A\nB=\n"}),
                 .page = echoed("real=1", "real=1") + "real = 1<p>\n", .record = "*6\nreal=1",
                 .entries = "REQUEST_METHOD=POST\nCONTENT_LENGTH=6\nPATH_INFO=/x\n\t*0\n\tREMOTE_ADDR=6.6.6.6\n"
                            "HTTP_X=\n\t\n\t\nA\n\tB=\n\t\n"});

    // ---- Methods: anything but GET and POST ends the page at the method,
    // but the dump holds the whole request, for its replay.
    const std::pair<std::string, std::string> methods[] = {
        {"Head", "REQUEST_METHOD=HEAD"}, {"Bare", "REQUEST_METHOD"}, {"MisnamedVariable", "REQUEST_METHODS=POST"}};
    for (const auto &[name, method] : methods) {
        Request r;
        r.env = {"A=1", method, "QUERY_STRING=a=1", "CONTENT_LENGTH=3"};
        r.body = "b=2";
        t.push_back({.name = "RefusedMethod" + name, .request = r, .listed = std::vector<std::string>{"A=1", method},
                     .page = refused_method(method.size() > 15 ? method.substr(15) : ""), .status = 1,
                     .record = "*3\nb=2",
                     .entries = "A=1\n" + std::string(method == "REQUEST_METHOD" ? "\0"s : "") + method +
                                "\nQUERY_STRING=a=1\nCONTENT_LENGTH=3\n",
                     .exact_env = method == "REQUEST_METHOD"});
    }
    {
        Request r;
        r.env = {"A=1", "REQUEST_METHOD=DELETE", "QUERY_STRING=a=1"};
        t.push_back({.name = "RefusedMethodWithoutBody", .request = r,
                     .listed = std::vector<std::string>{"A=1", "REQUEST_METHOD=DELETE"},
                     .page = refused_method("DELETE"), .status = 1, .record = "*0\n"});
    }
    // A refused method's body that trickles, with pauses longer than the
    // wait for a body's first byte: bytes keep coming, the record needs
    // them all (before, it kept "part1&").
    {
        Request r;
        r.env = {"CONTENT_LENGTH=17", "REQUEST_METHOD=PUT"};
        r.body = "part1&part2&part3";
        r.chunk = 6;
        r.pause_ms = 2000;
        t.push_back({.name = "RefusedMethodsTricklingBodyIsRecordedWhole", .request = r,
                     .page = refused_method("PUT"), .status = 1, .record = "*17\npart1&part2&part3"});
    }
    // Method and length are read leniently: case does not matter, a length
    // is read as far as it is a number, no method is GET.
    {
        Request r = post("x=1", "3abc");
        r.env[0] = "REQUEST_METHOD=postx";
        t.push_back({.name = "MethodAndLengthReadLeniently", .request = r,
                     .page = length_line("3") + "<PRE>x=1</PRE>\n" + VARS + "x = 1<p>\n", .record = "*3\nx=1"});
        r = post("x=1&y=2", "3");
        r.env[0] = "OTHER=1";
        t.push_back({.name = "NoMethodIsGet", .request = r, .page = VARS, .record = "*3\n"});
    }

    // ---- Lengths that lie
    t.push_back({.name = "LengthNotANumberIsZero", .request = post("x=1", "abc"),
                 .page = length_line("0") + "<PRE></PRE>\n" + VARS, .record = "*0\n"});
    t.push_back({.name = "BodyLongerThanAnnouncedIsReadOnlySoFar", .request = post("x=1&y=2", "3"),
                 .page = length_line("3") + "<PRE>x=1</PRE>\n" + VARS + "x = 1<p>\n", .record = "*3\nx=1"});
    t.push_back({.name = "ShortBodyIsReportedAndWhatArrivedIsUsed", .request = post("a=1", "10"),
                 .page = length_line("10") + internal_error(SHORT_READ) + ENDE + "<PRE>a=1</PRE>\n" + VARS + "a = 1<p>\n",
                 .err = SHORT_READ + "\n", .record = "*10\na=1"});
    t.push_back({.name = "NegativeLengthIsAUserError", .request = post("x=1", "-5"),
                 .page = length_line("-5") + user_error("Ung\xFCltige L\xE4nge des Inhalts: -5") + ENDE + "<PRE></PRE>\n" + VARS,
                 .record = "*-5\n"});
    // No memory is taken for a length nobody sent.
    {
        Request r = post("x=1234567", "2000000000");
        r.chunk = 3;
        t.push_back({.name = "HugeAnnouncedLengthTakesOnlyWhatArrives", .request = r,
                     .page = length_line("2000000000") + internal_error(SHORT_READ) + ENDE + "<PRE>x=1234567</PRE>\n" +
                             VARS + "x = 1234567<p>\n",
                     .err = SHORT_READ + "\n", .record = "*2000000000\nx=1234567"});
    }
    // Beyond the int range: said, and clamped.
    {
        std::string too_big = user_error("L\xE4nge des Inhalts zu gro\xDF: 99999999999999999999") + ENDE;
        t.push_back({.name = "LengthBeyondTheIntRangeFromAFile", .request = post("x=1", "99999999999999999999"),
                     .page = too_big + length_line("2147483647") + internal_error(SHORT_READ) + ENDE +
                             "<PRE>x=1</PRE>\n" + VARS + "x = 1<p>\n",
                     .err = SHORT_READ + "\n", .record = "*2147483647\nx=1"});
        Request r = post("x=1", "99999999999");
        r.env.insert(r.env.begin() + 1, "QUERY_STRING=q=2");  // the length's report ends the section
        r.chunk = 3;  // a pipe that ends after the three bytes
        t.push_back({.name = "LengthBeyondTheIntRangeThroughAPipe", .request = r,
                     .page = user_error("L\xE4nge des Inhalts zu gro\xDF: 99999999999") + ENDE + length_line("2147483647") +
                             internal_error(SHORT_READ) + ENDE + "<PRE>x=1</PRE>\n" + VARS + "q = 2<p>\nx = 1<p>\n",
                     .err = SHORT_READ + "\n", .record = "*2147483647\nx=1"});
    }

    // ---- Delivery
    {
        Request r = post("a=1&b=2&c=3", "11");
        r.chunk = 1;  // byte by byte, with a pause between
        t.push_back({.name = "BodyByteByByte", .request = r,
                     .page = echoed(r.body, "a=1&amp;b=2&amp;c=3") + "a = 1<p>\nb = 2<p>\nc = 3<p>\n",
                     .record = "*11\na=1&b=2&c=3"});
        r.chunk = 2;
        r.deliver = 5;  // the client goes away after five bytes
        t.push_back({.name = "ClientGoesAwayMidBody", .request = r,
                     .page = length_line("11") + internal_error(SHORT_READ) + ENDE + "<PRE>a=1&amp;b</PRE>\n" + VARS +
                             "a = b<p>\n",
                     .err = SHORT_READ + "\n", .record = "*11\na=1&b"});
    }
    {
        std::string body(1 << 20, '\0');
        std::mt19937 rng(7);
        for (auto &c : body)
            c = static_cast<char>('a' + rng() % 26);
        body.replace(0, 2, "k=");
        Request r = post_of(body);
        r.chunk = 4096;
        r.nonblocking = true;  // as some servers hand over their socket
        t.push_back({.name = "BodyInPiecesThroughANonBlockingPipe", .request = r,
                     .page = echoed(body, body) + "k = " + body.substr(2) + "<p>\n", .record = "*1048576\n" + body});
    }
    // The reader of the page goes away, or was never there: the dump is
    // whole all the same, and the page never lands in it.
    {
        Request r = post("x=1", "3");
        r.stdout_pipe_closed = true;
        t.push_back({.name = "LostReaderStillCompletesTheDump", .request = r, .form = NO_PAGE, .page = "",
                     .status = 1, .err = std::nullopt, .record = "*3\nx=1"});
        r.stdout_pipe_closed = false;
        r.close_stdout = true;
        t.push_back({.name = "ClosedStandardOutputStillCompletesTheDump", .request = r, .form = NO_PAGE, .page = "",
                     .status = 1, .err = std::nullopt, .record = "*3\nx=1"});
    }

    // ---- Escapes at the very end, zero bytes, escaped separators
    const std::pair<std::string, std::string> at_the_end[] = {
        {"%", " = <p>\n"},       {"a=%", "a = <p>\n"},   {"a=%4", "a = @<p>\n"},
        {"a=%41", "a = A<p>\n"}, {"a=x%", "a = x<p>\n"}, {"a=%%%", "a = <p>\n"},
    };
    int n = 0;
    for (const auto &[body, shown] : at_the_end)
        t.push_back({.name = "PercentNearTheEnd" + std::to_string(++n), .request = post_of(body),
                     .page = echoed(body, body) + shown, .record = "*" + std::to_string(body.size()) + "\n" + body});
    // In the query string too, which has no spare byte of its own.
    t.push_back({.name = "PercentAtTheEndOfTheQueryString", .request = get("q=%4"), .page = VARS + "q = @<p>\n",
                 .record = "*0\n"});
    {
        std::string body("a=x\0y&b=2&c=%00z", 16);
        t.push_back({.name = "ZeroBytesEndTheEchoAndValuesNotTheDump", .request = post_of(body),
                     .page = echoed(body, "a=x") + "a = x<p>\nb = 2<p>\nc = <p>\n", .record = "*16\n" + body});
    }
    t.push_back({.name = "EscapedSeparatorsAreData", .request = get("a=%26%3D%2B%25&b=%3Cscript%3E&%3D=%26"),
                 .listed = std::vector<std::string>{"REQUEST_METHOD=GET",
                                                    "QUERY_STRING=a=%26%3D%2B%25&amp;b=%3Cscript%3E&amp;%3D=%26"},
                 .page = VARS + "a = &amp;=+%<p>\nb = &lt;script&gt;<p>\n= = &amp;<p>\n", .record = "*0\n"});

    // ---- Sizes
    {
        std::string name(1 << 20, 'n');
        std::string value(1 << 20, 'v');
        std::string body = name + "=" + value + "&k=" + value.substr(0, 100000);
        t.push_back({.name = "VeryLongNamesAndValues", .request = post_of(body),
                     .page = echoed(body, name + "=" + value + "&amp;k=" + value.substr(0, 100000)) + "k = " +
                             value.substr(0, 100000) + "<p>\n" + name + " = " + value + "<p>\n",
                     .record = "*" + std::to_string(body.size()) + "\n" + body});
    }
    // The flooding attack: 100 000 pairs whose names all fall into one
    // bucket.  The first 10 000 are stored, the excess is reported once,
    // and the dump still holds the whole body.
    {
        std::string body;
        for (int i = 0; i < 100000; ++i)
            body += "a" + std::to_string(i) + "a=" + std::to_string(i) + "&";
        body.pop_back();
        t.push_back({.name = "HundredThousandPairsInOneBucket", .request = post(body, std::to_string(body.size()), {"QUERY_STRING=q=1"}),
                     .record = "*" + std::to_string(body.size()) + "\n" + body,
                     .then = [](const Result &res, Sandbox &) {
                         EXPECT_EQ(count(res.out, TOO_MANY + "<p>\n"), 1u);
                         size_t at = res.out.rfind(VARS);
                         ASSERT_NE(at, std::string::npos);
                         std::string vars = res.out.substr(at + VARS.size());
                         EXPECT_EQ(count(vars, "<p>\n"), 10001u) << "10 000 pairs of the body, one of the query string";
                         EXPECT_NE(vars.find("a9999a = 9999<p>\n"), std::string::npos);
                         EXPECT_EQ(vars.find("a10000a = "), std::string::npos);
                     }});
    }

    // ---- Home directories
    t.push_back({.name = "UnwritableHomeIsFatalAndTmpIsNotTried", .request = get("", 1000),
                 .prepare = [](Sandbox &box) { box.set_home(1000, "/tmp/home0"); },  // root's
                 .form = NO_ENV, .page = cannot_write("/tmp/home0/cgidump"), .status = 1, .at = "/tmp/home0/cgidump",
                 .then = [](const Result &, Sandbox &box) {
                     EXPECT_NE(access(box.host("/tmp/cgidump1000").c_str(), F_OK), 0);
                 }});
    {
        std::string home = "/tmp/home1000";
        for (int i = 0; i < 3; ++i)
            home += "/" + std::string(120, char('a' + i));
        t.push_back({.name = "HomeDirectoryOfAnyLength", .request = get("", 1000),
                     .prepare =
                         [](Sandbox &box) {
                             std::string dir = "/tmp/home1000";
                             for (int i = 0; i < 3; ++i) {
                                 dir += "/" + std::string(120, char('a' + i));
                                 mkdir(box.host(dir).c_str(), 0755);
                                 ASSERT_EQ(chown(box.host(dir).c_str(), 1000, 1000), 0);
                             }
                             box.set_home(1000, dir);
                         },
                     .page = VARS, .at = home + "/cgidump", .record = "*0\n"});
        // Built at full length, never cut: too long a name to be made.
        home = "/tmp/" + std::string(9995, 'h');
        t.push_back({.name = "HomeDirectoryOf10000Bytes", .request = get("a=1", 1000),
                     .prepare = [home](Sandbox &box) { box.set_home(1000, home); }, .form = NO_ENV,
                     .page = cannot_write(home + "/cgidump"), .status = 1, .at = home + "/cgidump"});
        t.push_back({.name = "HomeDirectoryIsTheRoot", .request = get("", 1000),
                     .prepare = [](Sandbox &box) { box.set_home(1000, "/"); }, .form = NO_ENV,
                     .page = cannot_write("//cgidump"), .status = 1, .at = "//cgidump"});
    }

    // ---- Things planted at the dump path: the dump is made beside it and
    // renamed over it, so that a link is replaced, never followed.
    t.push_back({.name = "RootsLinkAtTheDumpPathIsRefused", .request = get(),
                 .prepare =
                     [](Sandbox &box) {
                         plant_target(box);
                         // Planted by another user in the sticky /tmp: cannot be replaced.
                         ASSERT_EQ(symlink("/tmp/target", box.host(DUMP).c_str()), 0);
                     },
                 .form = NO_ENV, .page = cannot_write(DUMP), .status = 1, .then = expect_target_untouched});
    t.push_back({.name = "UsersLinkAtTheDumpPathIsReplaced", .request = get(),
                 .prepare =
                     [](Sandbox &box) {
                         plant_target(box);
                         ASSERT_EQ(symlink("/tmp/target", box.host(DUMP).c_str()), 0);
                         ASSERT_EQ(lchown(box.host(DUMP).c_str(), 65534, 65534), 0);
                     },
                 .page = VARS, .record = "*0\n",
                 .then = [](const Result &res, Sandbox &box) {
                     expect_target_untouched(res, box);
                     expect_regular_dump(res, box);
                 }});
    t.push_back({.name = "FifoAtTheDumpPathNeitherBlocksNorReceivesTheDump", .request = get(),
                 .prepare =
                     [](Sandbox &box) {
                         ASSERT_EQ(mkfifo(box.host(DUMP).c_str(), 0666), 0);
                         ASSERT_EQ(chown(box.host(DUMP).c_str(), 65534, 65534), 0);
                     },
                 .page = VARS, .record = "*0\n", .then = expect_regular_dump});
    t.push_back({.name = "AnotherUsersFileAtTheDumpPathIsLeftAlone", .request = get(),
                 .prepare =
                     [](Sandbox &box) {
                         ASSERT_TRUE(write_file(box.host(DUMP), "root's"));
                         ASSERT_EQ(chmod(box.host(DUMP).c_str(), 0666), 0);
                     },
                 .form = NO_ENV, .page = cannot_write(DUMP), .status = 1,
                 .then = [](const Result &, Sandbox &box) { EXPECT_EQ(box.read(DUMP), "root's"); }});
    t.push_back({.name = "UsersDirectoryAtTheDumpPath", .request = get(), .prepare = users_directory_at_dump,
                 .form = NO_ENV, .page = cannot_write(DUMP), .status = 1});
    t.push_back({.name = "RootsDirectoryAtTheDumpPath", .request = get(),
                 .prepare = [](Sandbox &box) { ASSERT_EQ(mkdir(box.host(DUMP).c_str(), 0777), 0); }, .form = NO_ENV,
                 .page = cannot_write(DUMP), .status = 1});
    // A body still arriving is taken to its end before the page goes out:
    // a server that writes the whole body first would wait otherwise.
    {
        Request r = post(std::string(300000, 'b'), "300000");
        r.chunk = 65536;
        t.push_back({.name = "BodyStillArrivingWhenTheDumpCannotBeMade", .request = r,
                     .prepare = users_directory_at_dump, .form = NO_ENV, .page = cannot_write(DUMP), .status = 1,
                     .fed = 300000});
    }
    return t;
}

class Requests : public SandboxTest, public testing::WithParamInterface<Case> {};

TEST_P(Requests, GiveTheirPageStatusAndDump)
{
    const Case &c = GetParam();
    if (c.exact_env && wrapped())
        GTEST_SKIP() << "valgrind passes on only entries with '='";
    if (c.prepare) {
        c.prepare(*box);
        if (HasFatalFailure())
            return;
    }
    expect_outcome(c, box->run(c.request), *box);
}

INSTANTIATE_TEST_SUITE_P(Table, Requests, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case> &row) { return row.param.name; });

// Each request writes its own temporary file and renames it into place:
// the dump is always one whole record, never a mix.
TEST_F(SandboxTest, ConcurrentRequestsLeaveOneWholeRecord)
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
        EXPECT_EQ(results[i].status, 0) << results[i].err;
        size_t at = results[i].out.rfind(VARS);
        EXPECT_TRUE(at != std::string::npos && has(results[i].out.substr(at), "n = " + std::to_string(i) + "<p>\n"));
    }
    std::string dump = box->read(DUMP);
    if (!wrapped()) {
        EXPECT_NE(std::find(records.begin(), records.end(), dump), records.end()) << dump.substr(0, 200);
    }
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [&](const std::string &r) { return from_star(r) == from_star(dump); }),
              1)
        << "one request's record, whole";
    EXPECT_EQ(count(dump, "\n*"), 1u) << "no mix of two records";
}

} // namespace
