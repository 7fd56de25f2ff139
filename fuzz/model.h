// Plain std::string models of the decoding rules and the map's walk order,
// written apart from lib/ so that the fuzz targets can compare the two.
#ifndef VOKT_FUZZ_MODEL_H
#define VOKT_FUZZ_MODEL_H

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

// A text ends at its first zero byte.
inline std::string ctext(const std::string &s)
{
    return s.substr(0, s.find('\0'));
}

inline int digit(unsigned char c)
{
    static const std::string lower = "0123456789abcdef";
    static const std::string upper = "0123456789ABCDEF";
    std::size_t at = lower.find(static_cast<char>(c));
    if (at == std::string::npos)
        at = upper.find(static_cast<char>(c));
    return at == std::string::npos ? 0 : static_cast<int>(at);
}

struct Decoded {
    Model pairs;
    bool capped = false; // the pair limit was reached and reported
    int result = 0;
};

// The decoding rules: '&' ends a pair, '=' ends a name (the name carries
// over to later pairs without one; before any '=' it is empty), '+' is a
// space, '%' and two hex digits a byte (missing digits at the end count
// as 0, non-digits as 0), every decoded text ends at its first zero byte.
// At most limit pairs are stored per call; a replacement counts.
inline void decode(const std::string &in, Decoded &d, int limit = 10000)
{
    if (in.empty()) {
        d.result = -1;
        return;
    }
    d.result = 0;
    std::string name;
    std::string cur;
    int stored = 0;
    auto store = [&] {
        if (stored == limit) {
            d.capped = true;
            return false;
        }
        ++stored;
        d.pairs[ctext(name)] = ctext(cur);
        return true;
    };
    for (std::size_t i = 0; i < in.size();) {
        char c = in[i];
        if (c == '=') {
            name = ctext(cur);
            cur.clear();
            ++i;
        } else if (c == '&') {
            if (!store())
                return;
            cur.clear();
            ++i;
        } else if (c == '+') {
            cur += ' ';
            ++i;
        } else if (c == '%') {
            std::size_t left = in.size() - i - 1;
            int hi = left >= 1 ? digit(static_cast<unsigned char>(in[i + 1])) : 0;
            int lo = left >= 2 ? digit(static_cast<unsigned char>(in[i + 2])) : 0;
            cur += static_cast<char>(hi * 16 + lo);
            i += left >= 2 ? 3 : left + 1;
        } else {
            cur += c;
            ++i;
        }
    }
    store();
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
