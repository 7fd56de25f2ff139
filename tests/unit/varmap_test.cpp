#include "map_contents.h"
#include "process.h"
#include "varmap.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

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

// Texts in a buffer the map took over stay where they are; copies and
// such texts replace each other, and the map releases exactly what it owns
// (the sanitizer build's leak check sees the rest).
TEST(Varmap, TakenOverBufferMixesWithCopies)
{
    Varmap m;
    auto *puffer = static_cast<char *>(std::malloc(16));
    ASSERT_NE(puffer, nullptr);
    std::memcpy(puffer, "a\0" "1\0" "b\0" "2\0" "3", 10);
    ASSERT_TRUE(m.uebernimm(puffer));
    EXPECT_EQ(m.insert_ohne_kopie(puffer, puffer + 2), 1);
    EXPECT_EQ(m["a"], puffer + 2) << "not copied";
    EXPECT_EQ(m.insert("a", "kopie"), 0);
    EXPECT_STREQ(m["a"], "kopie");
    EXPECT_EQ(m.insert_ohne_kopie(puffer, puffer + 8), 0);
    EXPECT_EQ(m["a"], puffer + 8) << "the copy released, the buffer's text taken";
    m.insert("b", "x");
    EXPECT_EQ(m.insert_ohne_kopie(puffer + 4, puffer + 6), 0);
    EXPECT_EQ(m["b"], puffer + 6);
    EXPECT_EQ(walk(m), (Pairs{{"a", "3"}, {"b", "2"}}));
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

// Names that all land in bucket 19 ('a' + 'z' = 219) and share a
// 300-byte prefix: every comparison between them reads it.
std::vector<std::string> long_names(int n)
{
    std::vector<std::string> v;
    char digits[16];
    for (int i = 0; i < n; ++i) {
        std::snprintf(digits, sizeof digits, "%05d", i);
        v.push_back("a" + std::string(300, 'x') + digits + "z");
    }
    return v;
}

// Insertion orders that take a balanced index through all its cases:
// always at one end, alternating ends, from the middle out, shuffled.
std::vector<std::vector<int>> orders(int n)
{
    std::vector<int> up(static_cast<size_t>(n));
    std::iota(up.begin(), up.end(), 0);
    std::vector<int> down(up.rbegin(), up.rend());
    std::vector<int> zigzag;
    std::vector<int> middle_out;
    for (int i = 0; i < n / 2; ++i) {
        zigzag.insert(zigzag.end(), {i, n - 1 - i});
        middle_out.insert(middle_out.end(), {n / 2 - 1 - i, n / 2 + i});
    }
    std::vector<int> shuffled = up;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(20261207));
    return {up, down, zigzag, middle_out, shuffled};
}

// Entry addresses in walk order, read through the iterator's name texts.
std::vector<const char *> name_texts(const Varmap &m)
{
    std::vector<const char *> v;
    for (Varmapiter it(&m); it() != nullptr; it.next())
        v.push_back(it());
    return v;
}

TEST(VarmapOneBucket, ManyLongNamesInAnyOrderStaySortedAndReplaceInPlace)
{
    const auto names = long_names(2000);
    for (const auto &order : orders(2000)) {
        Varmap m;
        std::map<std::string, std::string> model;
        for (int i : order) {
            const std::string value = "v" + std::to_string(i);
            ASSERT_EQ(m.insert(names[i].c_str(), value.c_str()), 1) << i;
            model[names[i]] = value;
        }
        ASSERT_EQ(walk(m), Pairs(model.begin(), model.end()));
        ASSERT_EQ(Probe::bucket(names[0].c_str()), 19);

        // Every third name again: the value changes, the entry stays where
        // it was (the very same name text), nothing is added.
        const auto before = name_texts(m);
        for (size_t k = 0; k < order.size(); k += 3) {
            const int i = order[k];
            ASSERT_EQ(m.insert(names[i].c_str(), "neu"), 0) << i;
            model[names[i]] = "neu";
        }
        EXPECT_EQ(name_texts(m), before);
        EXPECT_EQ(walk(m), Pairs(model.begin(), model.end()));
        for (const auto &[name, value] : model)
            ASSERT_STREQ(m[name.c_str()], value.c_str());
        // Absent names right beside present ones, and the prefix alone.
        EXPECT_EQ(m[(names[7] + "z").c_str()], nullptr);
        EXPECT_EQ(m[(names[7].substr(0, names[7].size() - 2) + "z").c_str()], nullptr);
        EXPECT_EQ(m[("a" + std::string(300, 'x') + "z").c_str()], nullptr);
    }
}

TEST(VarmapOneBucket, PrefixesAndHighBytesInShuffledOrder)
{
    // Every name of 'a', 'b' and 0xE4 that begins and ends with 'a', up to
    // six bytes: all in bucket 19, many a prefix of another.
    std::vector<std::string> names{"a"};
    std::vector<std::string> middles{""};
    for (int len = 0; len < 5; ++len) {
        std::vector<std::string> longer;
        for (const auto &mid : middles) {
            names.push_back("a" + mid + "a");
            for (char c : {'a', 'b', '\xE4'})
                longer.push_back(mid + c);
        }
        middles = longer;
    }
    std::shuffle(names.begin(), names.end(), std::mt19937(4711));
    Varmap m;
    std::map<std::string, std::string> model;
    for (const auto &n : names) {
        ASSERT_EQ(m.insert(n.c_str(), n.c_str()), 1) << n;
        model[n] = n;
    }
    EXPECT_EQ(walk(m), Pairs(model.begin(), model.end())) << "bytes compare unsigned, shorter first";
    for (const auto &n : names)
        ASSERT_STREQ(m[n.c_str()], n.c_str());
}

// Runs out of memory on purpose: in a child process whose address space is
// limited to a little more than it uses, a value of 32 MiB cannot be
// copied.  The failed inserts must leave the map and its index as they
// were, and later inserts must still find their place.  The sanitizers
// reserve address space of their own, so this runs in the plain builds.
TEST(VarmapMemory, FailedInsertLeavesMapAndIndexUnchanged)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address space limit does not work under AddressSanitizer";
#else
    Outcome c = run_captured([] {
        const auto names = long_names(200);
        Varmap m;
        for (size_t i = 0; i < names.size(); i += 2)
            m.insert(names[i].c_str(), "alt");
        const Pairs before = walk(m);
        const std::string big(32 << 20, 'v');

        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit lim{};
        getrlimit(RLIMIT_AS, &lim);
        const rlim_t frei = lim.rlim_cur;
        lim.rlim_cur = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (4 << 20);
        setrlimit(RLIMIT_AS, &lim);
        int added = m.insert(names[101].c_str(), big.c_str());
        int replaced = m.insert(names[100].c_str(), big.c_str());
        lim.rlim_cur = frei;
        setrlimit(RLIMIT_AS, &lim);

        std::printf("%d %d %d|", added, replaced, walk(m) == before);
        for (size_t i = 1; i < names.size(); i += 2)
            m.insert(names[i].c_str(), "neu");
        Pairs expected;
        for (size_t i = 0; i < names.size(); ++i)
            expected.emplace_back(names[i], i % 2 ? "neu" : "alt");
        std::printf("%d %s", walk(m) == expected, m[names[101].c_str()]);
    });
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.out, "-1 -1 1|1 neu");
#endif
}

} // namespace
