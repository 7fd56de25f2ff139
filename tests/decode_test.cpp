#include "cgivar.h"
#include "map_contents.h"

#include <algorithm>
#include <gtest/gtest.h>
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

} // namespace
