// The form decoder (aufspalt): the rules on short forms, its bounds on
// pairs and memory, and its block scanning against the byte-at-a-time model.
#include "cgiausg.h"
#include "cgivar.h"
#include "form_reference.h"
#include "map_contents.h"
#include "pages.h"
#include "process.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Decodes text (with the one spare byte the decoder may write) and gives
// the map's contents sorted by name, so cases read independent of buckets.
Pairs decode(const std::string &text, int *result = nullptr)
{
    Varmap m;
    std::string buf = text + '\0';
    int r = aufspalt(&m, buf.data(), static_cast<int>(text.size()));
    if (result != nullptr)
        *result = r;
    Pairs p = walk(m);
    std::sort(p.begin(), p.end());
    return p;
}

TEST(Hex, Digits)
{
    EXPECT_EQ(hex('0'), 0);
    EXPECT_EQ(hex('9'), 9);
    EXPECT_EQ(hex('a'), 10);
    EXPECT_EQ(hex('F'), 15);
    EXPECT_EQ(hex('g'), 0);
    EXPECT_EQ(hex('\0'), 0);
}

// Pairs, '+' and escapes; a name carries over to pairs without '='; zero
// bytes end names and values; a '%' at the end reads nothing beyond.
TEST(Decode, Forms)
{
    const struct {
        std::string form;
        Pairs pairs;
    } rows[] = {
        {"a=1&b=x+y%21", {{"a", "1"}, {"b", "x y!"}}},
        {"a=%41%62", {{"a", "Ab"}}},
        {"n=%e4%C4", {{"n", "\xE4\xC4"}}},
        {"a=%26%3D%2B;b", {{"a", "&=+;b"}}},  // escaped separators are data
        {"a=1&b", {{"a", "b"}}},
        {"a=1&b&c", {{"a", "c"}}},
        {"a=1&", {{"a", ""}}},
        {"a=b=c", {{"b", "c"}}},
        {"=x", {{"", "x"}}},
        {"x", {{"", "x"}}},  // before any '=' there is no name yet: the empty name
        {"a=x%zzy", {{"a", "x"}}},
        {"a=x%00y", {{"a", "x"}}},
        {std::string("a=x\0y&b=2", 9), {{"a", "x"}, {"b", "2"}}},
        {"a=x%", {{"a", "x"}}},
        {"a=%4", {{"a", "@"}}},
        {"%", {{"", ""}}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(decode(row.form), row.pairs) << testing::PrintToString(row.form);
}

TEST(Decode, EmptyInput)
{
    int r = 1;
    EXPECT_TRUE(decode("", &r).empty());
    EXPECT_EQ(r, -1);
    decode("a=1", &r);
    EXPECT_EQ(r, 0);
}

TEST(Decode, NothingBeyondTheGivenLength)
{
    // Bytes follow in the buffer, but the decoder must not look at them.
    Varmap m;
    std::string buf = "a=%4142";
    aufspalt(&m, buf.data(), 4);  // "a=%4" and the spare byte
    EXPECT_STREQ(m["a"], "@");
}

TEST(Decode, LaterValuesReplaceEarlierOnes)
{
    Varmap m;
    std::string body = "a=1&b=2";
    std::string query = "a=2";
    aufspalt(&m, body.data(), static_cast<int>(body.size()));
    aufspalt(&m, query.data(), static_cast<int>(query.size()));
    EXPECT_STREQ(m["a"], "2");
    EXPECT_STREQ(m["b"], "2");
}

// A million pairs that all fall into one bucket: only the first 10 000 are
// stored, the excess is reported once, and the work stays bounded.
TEST(Decode, PairsPerCallAreBounded)
{
    Outcome c = run_captured([] {
        std::string form;
        for (int i = 0; i < 1000000; ++i)
            form += "a" + std::to_string(i % 20000) + "a=" + std::to_string(i) + "&";
        Varmap m;
        int r = aufspalt(&m, form.data(), static_cast<int>(form.size() - 1));
        std::printf("[%d][%zu][%s][%s]", r, walk(m).size(), m["a9999a"], m["a10000a"] ? "stored" : "-");
    });
    EXPECT_EQ(c.out, user_error(TOO_MANY) + ENDE + "[0][10000][9999][-]");

    // Replacements count: 10 000 stores of one name, then the report.
    c = run_captured([] {
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
    Outcome c = run_captured([] {
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
    EXPECT_EQ(c.out, internal_error("Nicht genug Speicher f\xFCr die Variable gross") + ENDE + "|1|1");
#endif
}

// ---- The block decoder against the byte-at-a-time model --------------------
//
// The decoder looks for % = & 64 bytes at a time and copies the runs between
// them with 16-byte stores, which may write up to 15 bytes past a run; the
// last bytes go one at a time.  Where it writes depends on how far the
// output lags behind the input: not at all (no escape yet), 2..14 bytes
// (byte copies) or 16 and more (vector copies).  These inputs put every
// separator at every offset of a block, with each kind of lag.

// Decodes text in a buffer of exactly its length and the one spare byte, so
// that a sanitizer build sees any access beyond; gives the walk.
Pairs decode_exact(const std::string &text)
{
    std::unique_ptr<char[]> buf(new char[text.size() + 1]);
    text.copy(buf.get(), text.size());
    buf[text.size()] = '\0';
    Varmap m;
    aufspalt(&m, buf.get(), static_cast<int>(text.size()));
    return walk(m);
}

void expect_as_model(const std::string &text)
{
    Pairs got = decode_exact(text);
    Pairs want = reference::walk_order(reference::decode(text).pairs);
    ASSERT_EQ(got, want) << "input of " << text.size() << " bytes: " << testing::PrintToString(text);
}

// Plain bytes: letters, hex digits and '+', which the vector copies turn
// into spaces.
std::string filler(std::size_t n, std::size_t start = 0)
{
    static const std::string plain = "xA3+qz9b+Fk+0";
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += plain[(start + i) % plain.size()];
    return s;
}

TEST(DecodeBlocks, EverySeparatorAtEveryBlockOffsetWithEveryLag)
{
    // Sequences whose later bytes are digits of an escape, or separators
    // right after one another.
    const char *tokens[] = {"%", "=", "&", "+", "%4", "%41", "%2b", "%%=", "%&&", "%=%", "=&", "&=+", "%3d%"};
    for (int escapes = 0; escapes <= 10; ++escapes) {
        // Each escape before the block makes the output lag 2 more bytes.
        std::string head = "n=";
        for (int i = 0; i < escapes; ++i)
            head += "%5A";
        head += filler(128 - head.size());
        for (const char *token : tokens) {
            for (std::size_t at = 0; at < 64; ++at) {
                std::string text = head + filler(at) + token;
                text += filler(300 - text.size(), at);
                expect_as_model(text);
            }
        }
    }
}

TEST(DecodeBlocks, EscapesAcrossBlockEnds)
{
    // An escape that starts at offset 62 or 63 ends in the next block, whose
    // scan starts after it; the next separator right there or a little on.
    for (std::size_t lead : {62u, 63u, 61u}) {
        for (const char *next : {"", "=", "&", "%41", "+", "%"}) {
            for (std::size_t gap = 0; gap < 20; ++gap) {
                std::string text = "a=" + filler(lead - 2) + "%7e" + filler(gap) + next;
                text += filler(260 - text.size()) + "&z=%" + filler(64 + 62 - 4) + "%3C" + filler(100);
                expect_as_model(text);
            }
        }
    }
}

TEST(DecodeBlocks, InputEndingInsideAnEscape)
{
    // Every length around the block and tail boundaries, ending in '%' or
    // '%' and one digit: missing digits count as 0 and nothing beyond the
    // input is read.
    for (const char *lag : {"", "%41", "%41%42%43%44%45%46%47%48"}) {
        for (std::size_t n = 60; n < 300; ++n) {
            std::string body = std::string("k=") + lag;
            body += filler(n - body.size());
            expect_as_model(body + "%");
            expect_as_model(body + "%4");
            expect_as_model(body + "%f&");
            expect_as_model(body + "&%");
        }
    }
}

// Dense in separators and hex digits, with some letters, zero bytes and
// bytes of 0x80 and above.
std::string random_form(std::mt19937 &rng, std::size_t n)
{
    static const std::string dense = "%%%%%====&&&&++++0123456789abcdefABCDEF";
    static const std::string plain = "xyzGHqrsTU";
    std::string s;
    while (s.size() < n) {
        auto r = rng() % 100;
        if (r < 55) {
            s += dense[rng() % dense.size()];
        } else if (r < 96) {
            // A plain run of some length, so that vector copies happen.
            std::size_t run = 1 + rng() % (r < 90 ? 8 : 90);
            for (std::size_t i = 0; i < run; ++i)
                s += plain[rng() % plain.size()];
        } else if (r < 98) {
            s += static_cast<char>(0x80 + rng() % 128);
        } else {
            s += '\0';
        }
    }
    return s;
}

TEST(DecodeBlocks, LongRandomFormsAsTheModel)
{
    std::mt19937 rng(20261208);
    for (int i = 0; i < 400; ++i)
        expect_as_model(random_form(rng, 2000 + rng() % 6000));
}

} // namespace
