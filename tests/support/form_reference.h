// Plain, byte-at-a-time models of the form decoding, the page escaping and
// the map's walk order.  The library does these with vector compares and
// in pieces; tests compare it with these on long and awkward inputs.
// Standalone on purpose: the black-box tests do not link the library.
// The fuzz targets' model (fuzz/model.h) decodes with it too.
#ifndef VOKT_TEST_FORM_REFERENCE_H
#define VOKT_TEST_FORM_REFERENCE_H

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace reference {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// A text ends at its first zero byte.
inline std::string ctext(const std::string &s)
{
    return s.substr(0, s.find('\0'));
}

inline int digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

// The map's bucket of a name: first plus last byte (signed) modulo 25,
// the empty name in bucket 0.
inline int bucket(const std::string &name)
{
    if (name.empty())
        return 0;
    int sum = static_cast<signed char>(name.front()) + static_cast<signed char>(name.back());
    return ((sum % 25) + 25) % 25;
}

struct Form {
    std::map<std::string, std::string> pairs; // the last value of each name
    bool capped = false;                      // a pair beyond the limit was met
};

// '&' ends a pair, '=' a name (kept for later pairs without one; empty
// before the first), '+' is a space, '%' with two hex digits a byte
// (non-digits and digits missing at the end count as 0); decoded texts end
// at their first zero byte; at most limit pairs are stored.
inline Form decode(const std::string &in, int limit = 10000)
{
    Form f;
    if (in.empty())
        return f;
    std::string name;
    std::string cur;
    int stored = 0;
    auto store = [&] {
        if (stored == limit) {
            f.capped = true;
            return false;
        }
        ++stored;
        f.pairs[ctext(name)] = ctext(cur);
        return true;
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '=') {
            name = ctext(cur);
            cur.clear();
        } else if (c == '&') {
            if (!store())
                return f;
            cur.clear();
        } else if (c == '%') {
            std::size_t rest = in.size() - i - 1;
            int hi = rest >= 1 ? digit(in[i + 1]) : 0;
            int lo = rest >= 2 ? digit(in[i + 2]) : 0;
            cur += static_cast<char>(hi * 16 + lo);
            i += std::min<std::size_t>(rest, 2);
        } else {
            cur += c == '+' ? ' ' : c;
        }
    }
    store();
    return f;
}

// The pairs as the map walks them: bucket by bucket, names ascending
// (bytes unsigned) within one.
inline Pairs walk_order(const std::map<std::string, std::string> &pairs)
{
    Pairs p(pairs.begin(), pairs.end());
    std::stable_sort(p.begin(), p.end(),
                     [](const auto &a, const auto &b) { return bucket(a.first) < bucket(b.first); });
    return p;
}

// & < > " as entities, every other byte as it is.
inline std::string escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace reference

#endif
