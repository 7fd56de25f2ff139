#include "map_contents.h"
#include "varmap.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

struct Probe : Varmap {
    static int bucket(const char *name) { return hash(name); }
};

TEST(VarmapHash, BucketsDependOnFirstAndLastByte)
{
    for (const char *n : {"d", "2", "K"})
        EXPECT_EQ(Probe::bucket(n), 0) << n;
    EXPECT_EQ(Probe::bucket("id"), 5);
    EXPECT_EQ(Probe::bucket("user"), 6);
    EXPECT_EQ(Probe::bucket("submit"), 6);
    EXPECT_EQ(Probe::bucket("name"), 11);
    EXPECT_EQ(Probe::bucket("a"), 19);
    EXPECT_EQ(Probe::bucket("x1"), 19);
    EXPECT_EQ(Probe::bucket("ab"), 20);
    EXPECT_EQ(Probe::bucket("ba"), 20);
    EXPECT_EQ(Probe::bucket("axxb"), 20);
    EXPECT_EQ(Probe::bucket("b"), 21);
    EXPECT_EQ(Probe::bucket("c"), 23);
}

TEST(VarmapHash, EmptyNameAndNegativeSumsStayInRange)
{
    const char *names[] = {"", "\xE4", "\x80", "\xFF", "a\x80", "\x80\x80", "\xB0\xB0"};
    for (const char *n : names) {
        int b = Probe::bucket(n);
        EXPECT_GE(b, 0) << n;
        EXPECT_LT(b, VARMAPSIZE) << n;
        EXPECT_EQ(b, Probe::bucket(n)) << "same bucket every time";
    }
    // 0xE7 is -25 as a signed byte: a one-byte name sums to -50.
    EXPECT_EQ(Probe::bucket("\xE7"), 0);
}

TEST(Varmap, InsertReplaceAndLookup)
{
    Varmap m;
    EXPECT_EQ(m["a"], nullptr);
    m.insert("a", "1");
    m.insert("a", "2");
    EXPECT_STREQ(m["a"], "2");
    EXPECT_EQ(walk(m), (Pairs{{"a", "2"}}));

    m.insert("axb", "v");
    EXPECT_EQ(m["aXb"], nullptr) << "lookup is case-sensitive";
    EXPECT_STREQ(m["axb"], "v");

    m.insert("e", "");
    ASSERT_NE(m["e"], nullptr);
    EXPECT_STREQ(m["e"], "") << "an empty value is a value";
}

TEST(Varmap, KeepsCopiesOfWhatItIsGiven)
{
    Varmap m;
    char name[] = "k";
    char value[] = "v1";
    m.insert(name, value);
    name[0] = 'z';
    value[1] = '9';
    EXPECT_STREQ(m["k"], "v1");
    EXPECT_EQ(m["z"], nullptr);
}

TEST(Varmap, ReplacingWithItsOwnStoredValueIsSafe)
{
    Varmap m;
    m.insert("a", "long enough to be its own allocation");
    m.insert("a", m["a"]);
    EXPECT_STREQ(m["a"], "long enough to be its own allocation");
}

TEST(Varmap, NumericInserts)
{
    Varmap m;
    m.insert("d", 2.5);
    m.insert("big", 1e300);
    m.insert("l", LONG_MIN);
    EXPECT_STREQ(m["d"], "2.5");
    EXPECT_STREQ(m["big"], "1e+300");
    EXPECT_EQ(std::string(m["l"]), std::to_string(LONG_MIN));
    m.insert("d", 7L);
    EXPECT_STREQ(m["d"], "7") << "a number replaces like a text";
}

TEST(VarmapWalk, EmptyMapIsAtItsEndAtOnce)
{
    Varmap m;
    Varmapiter it(&m);
    const char *n = "x";
    const char *v = "x";
    EXPECT_EQ(it(), nullptr);
    it.inhalt(n, v);
    EXPECT_EQ(n, nullptr);
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(it.next(), nullptr) << "next() at the end stays there";
    EXPECT_EQ(it(), nullptr);
}

TEST(VarmapWalk, BucketOrderThenNameOrder)
{
    Varmap m;
    m.insert("ba", "1");
    m.insert("a", "2");     // 19
    m.insert("ab", "3");    // 20, before ba
    m.insert("user", "4");  // 6
    m.insert("submit", "5");
    m.insert("d", "6");     // 0
    m.insert("c", "7");     // 23
    EXPECT_EQ(walk(m), (Pairs{{"d", "6"}, {"submit", "5"}, {"user", "4"}, {"a", "2"},
                              {"ab", "3"}, {"ba", "1"}, {"c", "7"}}));
}

TEST(VarmapWalk, ChainOrderIsUnsignedBytewise)
{
    Varmap m;
    // All in bucket 0 or another, but one chain each: first == last byte.
    m.insert("a\xE4"
             "a", "hi");
    m.insert("aza", "lo");
    m.insert("aa", "prefix");
    m.insert("aaa", "longer");
    Pairs w = walk(m);
    std::vector<std::string> names;
    for (const auto &p : w)
        names.push_back(p.first);
    EXPECT_EQ(names, (std::vector<std::string>{"aa", "aaa", "aza", "a\xE4"
                                                                  "a"}));
}

TEST(VarmapWalk, EveryBucketFullAndSparse)
{
    Varmap full;
    for (int c = 0; c < 256; ++c) {
        char name[2] = {static_cast<char>(c == 0 ? 1 : c), 0};
        full.insert(name, name);
    }
    Pairs w = walk(full);
    ASSERT_EQ(w.size(), 255u);
    for (size_t i = 1; i < w.size(); ++i) {
        int before = Probe::bucket(w[i - 1].first.c_str());
        int now = Probe::bucket(w[i].first.c_str());
        EXPECT_TRUE(before < now || (before == now && w[i - 1].first < w[i].first))
            << "walk out of order at " << i;
    }
    Varmap sparse;
    sparse.insert("c", "last bucket but one");
    EXPECT_EQ(walk(sparse), (Pairs{{"c", "last bucket but one"}}));
}

} // namespace
