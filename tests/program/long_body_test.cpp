// Bodies of more than one piece, through vokt.cgi.
//
// A body is echoed in pieces of 1 MiB and decoded in place while each piece
// is fresh, the decoder 128 bytes behind the echo; reports of the decoding
// wait until the echo is through.  The pages are compared whole with the
// byte-at-a-time models.
#include "form_reference.h"
#include "requests.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

using LongBody = SandboxTest;

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
    std::string page = head() + env_section(r.env) + length_line(std::to_string(body.size())) + "<PRE>" +
                       reference::escape(reference::ctext(body)) + "</PRE>\n" + after_echo + VARS;
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

TEST_F(LongBody, SeparatorsAtThePieceSeamsOfALongBody)
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

TEST_F(LongBody, TooManyPairsInALongBodyReportedAfterTheEcho)
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
        std::string report = user_error(TOO_MANY) + ENDE;
        EXPECT_EQ(difference(res.out, body_page(r, body, report)), "") << c.pair_bytes << "-byte pairs";
        EXPECT_TRUE(box->read(DUMP) == dump_head(r.env, std::to_string(body.size())) + body);
    }
}

TEST_F(LongBody, ZeroByteEndsTheEchoNotTheDecoding)
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
