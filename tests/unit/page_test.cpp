// The page frame, the error reports and the page escaping of the library,
// run in a child process so that page output and the process's end can be
// examined.
#include "cgiausg.h"
#include "pages.h"
#include "process.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(PageFrame, HeadAndEnd)
{
    Outcome c = run_captured([] {
        html_kopf("T");
        html_ende();
    });
    EXPECT_EQ(c.out, "Content-type: text/html\n\n<HTML>\n<TITLE>T</TITLE>\n</HEAD>\n<BODY>\n<H1>T</H1>\n" + ENDE);
}

TEST(ErrorReports, InternalErrorGoesToPageEscapedAndRawToStderr)
{
    Outcome c = run_captured([] { cgi_error("Wert %d <%s>", 7, "a&b"); });
    EXPECT_EQ(c.out, "<B>Interner Fehler:</B>Wert 7 &lt;a&amp;b&gt;<p>\n" + ENDE);
    EXPECT_EQ(c.err, "Wert 7 <a&b>\n");
    EXPECT_EQ(c.status, 0) << "a report does not end the process";
}

TEST(ErrorReports, UserErrorGoesToPageOnly)
{
    Outcome c = run_captured([] { cgi_usererror("Feld %s fehlt", "\"x\""); });
    EXPECT_EQ(c.out, "<B>F E H L E R:</B>Feld &quot;x&quot; fehlt<p>\n" + ENDE);
    EXPECT_EQ(c.err, "");
}

TEST(ErrorReports, LongMessagesAreCutAt1023Bytes)
{
    std::string text(2000, 'x');
    Outcome c = run_captured([&] { cgi_error("%s", text.c_str()); });
    EXPECT_EQ(c.out, "<B>Interner Fehler:</B>" + std::string(1023, 'x') + "<p>\n" + ENDE);
    EXPECT_EQ(c.err, std::string(1023, 'x') + "\n");
}

TEST(HtmlText, EscapesOnlyTheFourMarkupBytes)
{
    Outcome c = run_captured([] { html_text("<a href=\"x\">&amp;</a> \xE4'"); });
    EXPECT_EQ(c.out, "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt; \xE4'");
}

} // namespace
