// The library's offers that vokt.cgi itself does not use, run in a child
// process so that page output and the process's end can be examined.
#include "capture.h"
#include "cgiausg.h"
#include "cgivar.h"
#include "map_contents.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string ENDE = "</BODY>\n</HTML>\n";

TEST(PageFrame, HeadAndEnd)
{
    Captured c = capture([] {
        html_kopf("T");
        html_ende();
    });
    EXPECT_EQ(c.out, "Content-type: text/html\n\n<HTML>\n<TITLE>T</TITLE>\n</HEAD>\n<BODY>\n<H1>T</H1>\n" + ENDE);
}

TEST(ErrorReports, InternalErrorGoesToPageEscapedAndRawToStderr)
{
    Captured c = capture([] { cgi_error("Wert %d <%s>", 7, "a&b"); });
    EXPECT_EQ(c.out, "<B>Interner Fehler:</B>Wert 7 &lt;a&amp;b&gt;<p>\n" + ENDE);
    EXPECT_EQ(c.err, "Wert 7 <a&b>\n");
    EXPECT_EQ(c.status, 0) << "a report does not end the process";
}

TEST(ErrorReports, UserErrorGoesToPageOnly)
{
    Captured c = capture([] { cgi_usererror("Feld %s fehlt", "\"x\""); });
    EXPECT_EQ(c.out, "<B>F E H L E R:</B>Feld &quot;x&quot; fehlt<p>\n" + ENDE);
    EXPECT_EQ(c.err, "");
}

TEST(ErrorReports, LongMessagesAreCutAt1023Bytes)
{
    std::string text(2000, 'x');
    Captured c = capture([&] { cgi_error("%s", text.c_str()); });
    EXPECT_EQ(c.out, "<B>Interner Fehler:</B>" + std::string(1023, 'x') + "<p>\n" + ENDE);
    EXPECT_EQ(c.err, std::string(1023, 'x') + "\n");
}

TEST(HtmlText, EscapesOnlyTheFourMarkupBytes)
{
    Captured c = capture([] { html_text("<a href=\"x\">&amp;</a> \xE4'"); });
    EXPECT_EQ(c.out, "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt; \xE4'");
}

// getcgienv without the dump: no page head, and environment variables in
// the map when asked for.
TEST(Intake, EnvironmentVariablesEnterTheMapBeforeFormData)
{
    Captured c = capture([] {
        std::string a = "a=env", q = "QUERY_STRING=a=q&b=2", other = "HTTP_HOST=h", odd = "NOEQ";
        std::vector<char *> env{a.data(), q.data(), other.data(), odd.data(), nullptr};
        Varmap m;
        getcgienv(&m, env.data(), GCV_ENVVARS);
        std::string seen;
        for (const auto &[n, v] : walk(m))
            seen += n + "=" + v + ";";
        std::printf("[%s][%s]", seen.c_str(), a.c_str());
    });
    EXPECT_EQ(c.out, "<B>Interner Fehler:</B>ENV_Variable NOEQ ohne '='<p>\n" + ENDE +
                         "[HTTP_HOST=h;a=q;b=2;][a]");
    EXPECT_EQ(c.err, "ENV_Variable NOEQ ohne '='\n");
}

TEST(Intake, WithoutOptionsNothingIsWritten)
{
    Captured c = capture(
        [] {
            std::string m = "REQUEST_METHOD=POST", l = "CONTENT_LENGTH=3";
            std::vector<char *> env{m.data(), l.data(), nullptr};
            Varmap map;
            getcgienv(&map, env.data(), 0);
            std::printf("x=%s", map["x"]);
        },
        "x=1");
    EXPECT_EQ(c.out, "x=1");
}

TEST(Intake, LengthLineAndEchoFollowTheirOwnBits)
{
    auto run = [](int options) {
        return capture(
            [options] {
                std::string m = "REQUEST_METHOD=post", l = "CONTENT_LENGTH=3";
                std::vector<char *> env{m.data(), l.data(), nullptr};
                Varmap map;
                getcgienv(&map, env.data(), options);
            },
            "x<1");
    };
    EXPECT_EQ(run(GCV_DEBUGL1).out, "L\xE4nge des Inhalts:3\n");
    EXPECT_EQ(run(GCV_DEBUGL2).out,
              "<H2>Die Environmentvariablen</H2>\nREQUEST_METHOD=post<p>\nCONTENT_LENGTH=3<p>\n"
              "<PRE>x&lt;1</PRE>\n");
}

// A server may hand over standard output as a non-blocking socket: the page
// waits for a slow reader and arrives whole.
TEST(Intake, NonBlockingOutputGetsTheWholePage)
{
    std::string body(1 << 20, 'x');
    FILE *in = std::tmpfile();
    std::fwrite(body.data(), 1, body.size(), in);
    std::rewind(in);
    int rohr[2];
    ASSERT_EQ(pipe(rohr), 0);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(in), 0);
        dup2(rohr[1], 1);
        fcntl(1, F_SETFL, O_NONBLOCK);
        std::string m = "REQUEST_METHOD=POST", l = "CONTENT_LENGTH=" + std::to_string(1 << 20);
        std::vector<char *> env{m.data(), l.data(), nullptr};
        Varmap map;
        getcgienv(&map, env.data(), GCV_DEBUGL2);
        _exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 3);
    }
    close(rohr[1]);
    usleep(200 * 1000); // the pipe is full long before
    std::string out = slurp_fd(rohr[0]);
    close(rohr[0]);
    std::fclose(in);
    int ws = 0;
    waitpid(pid, &ws, 0);
    EXPECT_EQ(WEXITSTATUS(ws), 0);
    EXPECT_TRUE(out == "<H2>Die Environmentvariablen</H2>\nREQUEST_METHOD=POST<p>\nCONTENT_LENGTH=1048576<p>\n<PRE>" +
                           body + "</PRE>\n")
        << out.size() << " bytes";
}

// A server may give standard error the same pipe as the page: a report
// made while the page is held follows the held page, never precedes it.
TEST(Intake, ReportsOnStandardErrorFollowTheHeldPage)
{
    Captured c = capture(
        [] {
            dup2(1, 2);
            std::string m = "REQUEST_METHOD=POST", l = "CONTENT_LENGTH=10";
            std::vector<char *> env{m.data(), l.data(), nullptr};
            Varmap map;
            getcgienv(&map, env.data(), GCV_DEBUGALL);
        },
        "x=1");
    std::string kurz = "Das kann eigendlich nicht vorkommen, da\xDF ich nicht alles lesen kann, ist es aber ...";
    EXPECT_EQ(c.out, "<H2>Die Environmentvariablen</H2>\nREQUEST_METHOD=POST<p>\nCONTENT_LENGTH=10<p>\n"
                     "L\xE4nge des Inhalts:10\n<B>Interner Fehler:</B>" +
                         kurz + "<p>\n" + ENDE + kurz + "\n<PRE>x=1</PRE>\n");
}

// A body the page does not use (a GET's, a refused method's) that is
// announced but never comes does not hold the page: the program stops
// waiting for it after a short silence.
TEST(Intake, AnUnusedBodyThatNeverComesDoesNotHoldThePage)
{
    for (std::string methode : {"GET", "PUT"}) {
        SCOPED_TRACE(methode);
        int rohr[2];
        ASSERT_EQ(pipe(rohr), 0);
        ASSERT_EQ(write(rohr[1], "12345", 5), 5); // and no more, but no end either
        int aus[2];
        ASSERT_EQ(pipe(aus), 0);
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(rohr[0], 0);
            dup2(aus[1], 1);
            std::string m = "REQUEST_METHOD=" + methode, l = "CONTENT_LENGTH=1000";
            std::vector<char *> env{m.data(), l.data(), nullptr};
            Varmap map;
            getcgienv(&map, env.data(), 0);
            std::fputs("page", stdout);
            std::fflush(stdout);
            _exit(0);
        }
        close(aus[1]);
        int ws = 0;
        bool von_selbst = false;
        for (int i = 0; i < 100 && !von_selbst; ++i) {
            von_selbst = waitpid(pid, &ws, WNOHANG) == pid;
            usleep(100 * 1000);
        }
        if (!von_selbst) {
            kill(pid, SIGKILL);
            waitpid(pid, &ws, 0);
        }
        EXPECT_TRUE(von_selbst) << "still waiting for the body after 10 s";
        std::string out = slurp_fd(aus[0]);
        EXPECT_EQ(out, methode == "GET" ? "page" : "Fehler auf HTML_Seite: Zugriffsmethode: PUT<p>\n" + ENDE);
        close(aus[0]);
        close(rohr[0]);
        close(rohr[1]);
    }
}

TEST(Intake, RefusedMethodEndsTheProcess)
{
    Captured c = capture([] {
        std::string m = "REQUEST_METHOD=HEAD";
        std::vector<char *> env{m.data(), nullptr};
        Varmap map;
        getcgienv(&map, env.data(), 0);
        std::printf("not reached");
    });
    EXPECT_EQ(c.out, "Fehler auf HTML_Seite: Zugriffsmethode: HEAD<p>\n" + ENDE);
    EXPECT_EQ(c.status, 1);
}

} // namespace

namespace {

// A million pairs that all fall into one bucket: only the first 10 000 are
// stored, the excess is reported once, and the work stays bounded.
TEST(Decode, PairsPerCallAreBounded)
{
    Captured c = capture([] {
        std::string form;
        for (int i = 0; i < 1000000; ++i)
            form += "a" + std::to_string(i % 20000) + "a=" + std::to_string(i) + "&";
        Varmap m;
        int r = aufspalt(&m, form.data(), static_cast<int>(form.size() - 1));
        std::printf("[%d][%zu][%s][%s]", r, walk(m).size(), m["a9999a"], m["a10000a"] ? "stored" : "-");
    });
    EXPECT_EQ(c.out, "<B>F E H L E R:</B>Zu viele Formularvariablen, nur die ersten 10000 wurden \xFC"
                     "bernommen<p>\n" +
                         ENDE + "[0][10000][9999][-]");

    // Replacements count: 10 000 stores of one name, then the report.
    c = capture([] {
        std::string form;
        for (int i = 0; i < 10001; ++i)
            form += "x=" + std::to_string(i) + "&";
        Varmap m;
        aufspalt(&m, form.data(), static_cast<int>(form.size() - 1));
        std::printf("[%s]", m["x"]);
    });
    EXPECT_EQ(c.out.substr(c.out.size() - 6), "[9999]");
    EXPECT_NE(c.out.find("Zu viele"), std::string::npos);
}

// A value the map cannot store for lack of memory is reported, not lost
// without a word.  The sanitizers reserve address space of their own.
TEST(Decode, AValueWithoutMemoryIsReported)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address space limit does not work under AddressSanitizer";
#else
    Captured c = capture([] {
        std::string form = "klein=1&gross=" + std::string(32 << 20, 'v');
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit lim{};
        getrlimit(RLIMIT_AS, &lim);
        lim.rlim_cur = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (4 << 20);
        setrlimit(RLIMIT_AS, &lim);
        Varmap m;
        aufspalt(&m, form.data(), static_cast<int>(form.size()));
        std::printf("|%s|%d", m["klein"], m["gross"] == nullptr);
    });
    EXPECT_EQ(c.err, "Nicht genug Speicher f\xFCr die Variable gross\n");
    EXPECT_EQ(c.out, "<B>Interner Fehler:</B>Nicht genug Speicher f\xFCr die Variable gross<p>\n" + ENDE + "|1|1");
#endif
}

} // namespace
