// The request intake of the library (getcgienv) in the ways vokt.cgi itself
// does not use it, and with what servers hand over: run in a child process
// so that page output and the process's end can be examined.
#include "cgivar.h"
#include "intern/inhalt.h"
#include "map_contents.h"
#include "pages.h"
#include "process.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// getcgienv without the dump: no page head, and environment variables in
// the map when asked for.
TEST(Intake, EnvironmentVariablesEnterTheMapBeforeFormData)
{
    Outcome c = run_captured([] {
        std::string a = "a=env", q = "QUERY_STRING=a=q&b=2", other = "HTTP_HOST=h", odd = "NOEQ";
        std::vector<char *> env{a.data(), q.data(), other.data(), odd.data(), nullptr};
        Varmap m;
        getcgienv(&m, env.data(), GCV_ENVVARS);
        std::string seen;
        for (const auto &[n, v] : walk(m))
            seen += n + "=" + v + ";";
        std::printf("[%s][%s]", seen.c_str(), a.c_str());
    });
    EXPECT_EQ(c.out, internal_error("ENV_Variable NOEQ ohne '='") + ENDE +
                         "[HTTP_HOST=h;a=q;b=2;][a]");
    EXPECT_EQ(c.err, "ENV_Variable NOEQ ohne '='\n");
}

TEST(Intake, WithoutOptionsNothingIsWritten)
{
    Outcome c = run_captured(
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
        return run_captured(
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
    pid_t pid = spawn(
        [] {
            fcntl(1, F_SETFL, O_NONBLOCK);
            std::string m = "REQUEST_METHOD=POST", l = "CONTENT_LENGTH=" + std::to_string(1 << 20);
            std::vector<char *> env{m.data(), l.data(), nullptr};
            Varmap map;
            getcgienv(&map, env.data(), GCV_DEBUGL2);
            _exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 3);
        },
        fileno(in), rohr[1]);
    close(rohr[1]);
    usleep(200 * 1000); // the pipe is full long before
    std::string out = read_fd(rohr[0]);
    close(rohr[0]);
    std::fclose(in);
    EXPECT_EQ(finish(pid), 0);
    EXPECT_TRUE(out == "<H2>Die Environmentvariablen</H2>\nREQUEST_METHOD=POST<p>\nCONTENT_LENGTH=1048576<p>\n<PRE>" +
                           body + "</PRE>\n")
        << out.size() << " bytes";
}

// A server may give standard error the same pipe as the page: a report
// made while the page is held follows the held page, never precedes it.
TEST(Intake, ReportsOnStandardErrorFollowTheHeldPage)
{
    Outcome c = run_captured(
        [] {
            dup2(1, 2);
            std::string m = "REQUEST_METHOD=POST", l = "CONTENT_LENGTH=10";
            std::vector<char *> env{m.data(), l.data(), nullptr};
            Varmap map;
            getcgienv(&map, env.data(), GCV_DEBUGALL);
        },
        "x=1");
    EXPECT_EQ(c.out, env_section({"REQUEST_METHOD=POST", "CONTENT_LENGTH=10"}) + length_line("10") +
                         internal_error(SHORT_READ) + ENDE + SHORT_READ + "\n<PRE>x=1</PRE>\n");
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
        pid_t pid = spawn(
            [&methode] {
                std::string m = "REQUEST_METHOD=" + methode, l = "CONTENT_LENGTH=1000";
                std::vector<char *> env{m.data(), l.data(), nullptr};
                Varmap map;
                getcgienv(&map, env.data(), 0);
                std::fputs("page", stdout);
            },
            rohr[0], aus[1]);
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
        std::string out = read_fd(aus[0]);
        EXPECT_EQ(out, methode == "GET" ? "page" : refused_method("PUT"));
        close(aus[0]);
        close(rohr[0]);
        close(rohr[1]);
    }
}

// The bounds of a body the page does not use: the first byte is waited
// for briefly, later ones each for longer, all of them within a whole
// time even while bytes keep coming.  Each case feeds pieces after pauses
// and sees how much was taken and whether the reader ended by itself.
TEST(Intake, AnUnusedBodyIsReadWithinItsBounds)
{
    const vokt::intern::Fristen f = {200, 2000, 3000};
    struct Stueck {
        int pause_ms;
        std::string text;
    };
    struct Fall {
        const char *name;
        std::vector<Stueck> stuecke;
        size_t genommen_min, genommen_max;
    };
    std::vector<Stueck> tropfen;
    for (int i = 0; i < 20; ++i)
        tropfen.push_back({i == 0 ? 0 : 400, "x"});
    const Fall faelle[] = {
        {"pauses between bytes shorter than the later bound", {{0, "part1&"}, {700, "part2&"}, {700, "part3"}}, 17, 17},
        {"a first byte later than its bound", {{700, "late"}}, 0, 0},
        {"bytes that keep coming past the whole time", tropfen, 3, 12},
    };
    for (const Fall &c : faelle) {
        SCOPED_TRACE(c.name);
        int rohr[2];
        ASSERT_EQ(pipe(rohr), 0);
        pid_t pid = spawn([&f] { vokt::intern::verwirf_inhalt(1000, false, nullptr, f); }, rohr[0]);
        for (const Stueck &s : c.stuecke) {
            usleep(static_cast<useconds_t>(s.pause_ms) * 1000);
            ASSERT_EQ(write(rohr[1], s.text.data(), s.text.size()), static_cast<ssize_t>(s.text.size()));
        }
        size_t gesendet = 0;
        for (const Stueck &s : c.stuecke)
            gesendet += s.text.size();
        bool von_selbst = false;
        int ws = 0;
        for (int i = 0; i < 100 && !von_selbst; ++i) {
            von_selbst = waitpid(pid, &ws, WNOHANG) == pid;
            usleep(100 * 1000);
        }
        if (!von_selbst) {
            kill(pid, SIGKILL);
            waitpid(pid, &ws, 0);
        }
        EXPECT_TRUE(von_selbst) << "still reading after 10 s";
        close(rohr[1]);
        size_t genommen = gesendet - read_fd(rohr[0]).size();
        close(rohr[0]);
        EXPECT_GE(genommen, c.genommen_min);
        EXPECT_LE(genommen, c.genommen_max);
    }
}

TEST(Intake, RefusedMethodEndsTheProcess)
{
    Outcome c = run_captured([] {
        std::string m = "REQUEST_METHOD=HEAD";
        std::vector<char *> env{m.data(), nullptr};
        Varmap map;
        getcgienv(&map, env.data(), 0);
        std::printf("not reached");
    });
    EXPECT_EQ(c.out, refused_method("HEAD"));
    EXPECT_EQ(c.status, 1);
}

} // namespace
