// Plain std::string models of the decoding rules (those of the tests) and
// checks of the map's walk order, written apart from lib/ so that the fuzz
// targets can compare the two.
#ifndef VOKT_FUZZ_MODEL_H
#define VOKT_FUZZ_MODEL_H

#include "form_reference.h"
#include "varmap.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace model {

// Aborts with a message; libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char *what, const std::string &detail = "")
{
    std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

inline void check(bool ok, const char *what, const std::string &detail = "")
{
    if (!ok)
        fail(what, detail);
}

// Names compared byte by byte, each byte unsigned (std::char_traits<char>
// compares that way).
struct ByteLess {
    bool operator()(const std::string &a, const std::string &b) const { return a.compare(b) < 0; }
};

using Model = std::map<std::string, std::string>;

using reference::ctext;
using reference::digit;

struct Decoded {
    Model pairs;
    bool capped = false; // the pair limit was reached and reported
    int result = 0;
};

// The decoding rules (tests/support/form_reference.h) onto what d holds already:
// one call's pairs replace earlier ones, as in the map, and the pair limit
// counts per call.  An empty input gives the result -1.
inline void decode(const std::string &in, Decoded &d, int limit = 10000)
{
    reference::Form f = reference::decode(in, limit);
    for (const auto &[name, value] : f.pairs)
        d.pairs[name] = value;
    d.capped = d.capped || f.capped;
    d.result = in.empty() ? -1 : 0;
}

// Gives access to the map's bucket function.
struct Probe : Varmap {
    static int bucket(const char *name) { return hash(name); }
};

// The bucket where it is fixed: first and last byte as signed values; a
// sum of 0 or more gives its remainder by 25, a negative multiple of 25
// gives 0.  Other names: -1 (any bucket in range, always the same).
inline int fixed_bucket(const std::string &n)
{
    if (n.empty())
        return -1;
    int sum = static_cast<signed char>(n.front()) + static_cast<signed char>(n.back());
    if (sum >= 0)
        return sum % 25;
    return sum % 25 == 0 ? 0 : -1;
}

// Walks map and checks the walk: buckets 0..24 in ascending order, names
// strictly ascending within a bucket, every name found by operator[] with
// the value the walk gave, the end reached once and kept.  Gives the
// contents in walk order.
inline std::vector<std::pair<std::string, std::string>> checked_walk(const Varmap &map)
{
    std::vector<std::pair<std::string, std::string>> seen;
    Varmapiter it(&map);
    int last_bucket = -1;
    std::string last_name;
    while (it() != nullptr) {
        const char *name = nullptr;
        const char *value = nullptr;
        it.inhalt(name, value);
        check(name != nullptr && value != nullptr, "inhalt gave null on an entry");
        check(std::string(name) == it(), "inhalt and operator() disagree");
        int b = Probe::bucket(name);
        check(b >= 0 && b < VARMAPSIZE, "bucket out of range", name);
        check(b == Probe::bucket(name), "bucket changes", name);
        int fixed = fixed_bucket(name);
        check(fixed < 0 || fixed == b, "bucket is not (first+last) % 25", name);
        check(b >= last_bucket, "buckets out of order", name);
        if (b == last_bucket)
            check(ByteLess()(last_name, name), "names not ascending in a bucket", last_name + " / " + name);
        const char *found = map[name];
        check(found == value, "operator[] does not give the walked value", name);
        seen.emplace_back(name, value);
        last_bucket = b;
        last_name = name;
        it.next();
    }
    const char *n = "x";
    const char *v = "x";
    it.inhalt(n, v);
    check(n == nullptr && v == nullptr && it() == nullptr, "end not kept");
    check(it.next() == nullptr && it() == nullptr, "next() left the end");
    return seen;
}

inline Model as_model(const std::vector<std::pair<std::string, std::string>> &walked)
{
    Model m(walked.begin(), walked.end());
    check(m.size() == walked.size(), "a name was walked twice");
    return m;
}

} // namespace model

#endif
