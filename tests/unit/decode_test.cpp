#include "cgivar.h"
#include "form_reference.h"
#include "map_contents.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>

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

TEST(Decode, PairsPlusAndEscapes)
{
    EXPECT_EQ(decode("a=1&b=x+y%21"), (Pairs{{"a", "1"}, {"b", "x y!"}}));
    EXPECT_EQ(decode("a=%41%62"), (Pairs{{"a", "Ab"}}));
    EXPECT_EQ(decode("n=%e4%C4"), (Pairs{{"n", "\xE4\xC4"}}));
    // Escaped separators are data.
    EXPECT_EQ(decode("a=%26%3D%2B;b"), (Pairs{{"a", "&=+;b"}}));
}

TEST(Decode, EmptyInput)
{
    int r = 1;
    EXPECT_TRUE(decode("", &r).empty());
    EXPECT_EQ(r, -1);
    decode("a=1", &r);
    EXPECT_EQ(r, 0);
}

TEST(Decode, NameCarriesOverPairsWithoutEquals)
{
    EXPECT_EQ(decode("a=1&b"), (Pairs{{"a", "b"}}));
    EXPECT_EQ(decode("a=1&b&c"), (Pairs{{"a", "c"}}));
    EXPECT_EQ(decode("a=1&"), (Pairs{{"a", ""}}));
    EXPECT_EQ(decode("a=b=c"), (Pairs{{"b", "c"}}));
    EXPECT_EQ(decode("=x"), (Pairs{{"", "x"}}));
    // Before any '=' there is no name yet: the empty name is used.
    EXPECT_EQ(decode("x"), (Pairs{{"", "x"}}));
}

TEST(Decode, ZeroBytesEndNamesAndValues)
{
    EXPECT_EQ(decode("a=x%zzy"), (Pairs{{"a", "x"}}));
    EXPECT_EQ(decode("a=x%00y"), (Pairs{{"a", "x"}}));
    EXPECT_EQ(decode(std::string("a=x\0y&b=2", 9)), (Pairs{{"a", "x"}, {"b", "2"}}));
}

TEST(Decode, PercentAtTheEndReadsNothingBeyond)
{
    EXPECT_EQ(decode("a=x%"), (Pairs{{"a", "x"}}));
    EXPECT_EQ(decode("a=%4"), (Pairs{{"a", "@"}}));
    EXPECT_EQ(decode("%"), (Pairs{{"", ""}}));
    // The decoder must not look past the given length even when bytes
    // follow in the buffer.
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
