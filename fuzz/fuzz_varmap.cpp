// A sequence of inserts, replacements, numeric inserts, lookups and walks on
// one Varmap, checked step by step against a std::map model.  One operation
// inserts a whole family of names that share one bucket and a long prefix,
// in ascending, descending, alternating or stream-chosen order, so that the
// map's index is built and rebalanced in every way.
#include "model.h"
#include "varmap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace {

// Reads the operation stream; past its end every read gives zero bytes.
struct Reader {
    const uint8_t *p;
    size_t left;
    bool done() const { return left == 0; }
    uint8_t byte()
    {
        if (left == 0)
            return 0;
        --left;
        return *p++;
    }
    // A text of up to 31 bytes without zero bytes (a zero ends it early).
    std::string text()
    {
        std::string s;
        for (int n = byte() % 32; n > 0; --n) {
            uint8_t c = byte();
            if (c == 0)
                break;
            s += static_cast<char>(c);
        }
        return s;
    }
};

// The name of the model's k-th entry, or a fresh text when it is empty.
std::string existing(const model::Model &m, Reader &r)
{
    if (m.empty())
        return r.text();
    auto it = m.begin();
    std::advance(it, r.byte() % m.size());
    return it->first;
}

// A name one byte away from a stored one, in the same bucket (first and
// last byte kept): a byte inserted or dropped before the last one.
std::string beside(const std::string &name, Reader &r)
{
    std::string n = name;
    if (n.size() < 2)
        return n + n;
    if (n.size() < 3 || (r.byte() & 1) != 0)
        n.insert(1 + r.byte() % (n.size() - 1), 1, static_cast<char>(r.byte() | 1));
    else
        n.erase(1 + r.byte() % (n.size() - 2), 1);
    return n;
}

// Up to 255 names c + prefix + number + c: one bucket, a shared prefix of
// up to 4000 bytes, names of different lengths (9 before 10).  The order:
// ascending, descending, alternating ends, or picked by the stream.
void family(Varmap &map, model::Model &m, Reader &r)
{
    int count = r.byte();
    uint8_t mode = r.byte();
    char c = static_cast<char>(r.byte() | 1);
    // The hostile form's 4000 bytes in one mode of 16; short prefixes
    // otherwise, so that the walks that follow stay fast.
    const std::size_t length = (mode & 15) == 15 ? 4000 : static_cast<std::size_t>(mode & 15) * 16;
    const std::string prefix(length, 'x');
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    switch (mode >> 4 & 3) {
    case 1: std::reverse(order.begin(), order.end()); break;
    case 2:
        for (int i = 0; i < count; ++i)
            order[static_cast<std::size_t>(i)] = i % 2 != 0 ? count - 1 - i / 2 : i / 2;
        break;
    case 3:
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[r.byte() % i]);
        break;
    default: break;
    }
    for (int i : order) {
        std::string name = c + prefix + std::to_string(i) + c;
        std::string value = std::to_string(i);
        model::check(map.insert(name.c_str(), value.c_str()) == (m.count(name) ? 0 : 1), "family insert result", value);
        m[name] = value;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    Varmap map;
    model::Model m;
    while (!r.done()) {
        uint8_t op = r.byte();
        switch (op % 8) {
        case 0: { // insert a new or existing name
            std::string name = r.text();
            std::string value = r.text();
            std::string n = name; // the map must copy: the caller's texts change
            std::string v = value;
            int res = map.insert(n.data(), v.data());
            n.assign(n.size(), 'Z');
            v.assign(v.size(), 'Z');
            model::check(res == (m.count(name) ? 0 : 1), "insert result", name);
            m[name] = value;
            break;
        }
        case 1: { // replace the value of a name that is there
            std::string name = existing(m, r);
            std::string value = r.text();
            bool had = m.count(name) != 0;
            model::check(map.insert(name.c_str(), value.c_str()) == (had ? 0 : 1), "replace result", name);
            m[name] = value;
            break;
        }
        case 2: { // numeric inserts
            std::string name = existing(m, r);
            char text[64];
            long l = static_cast<long>(static_cast<int8_t>(r.byte())) * 1000003L;
            if (op & 8) {
                double d = static_cast<double>(l) / 7.0;
                map.insert(name.c_str(), d);
                std::snprintf(text, sizeof text, "%g", d);
            } else {
                map.insert(name.c_str(), l);
                std::snprintf(text, sizeof text, "%ld", l);
            }
            m[name] = text;
            break;
        }
        case 3: { // lookups of present, absent and nearly present names
            std::string name = op & 8 ? existing(m, r) : r.text();
            if (op & 16)
                name = beside(existing(m, r), r);
            const char *got = map[name.c_str()];
            auto it = m.find(name);
            if (it == m.end())
                model::check(got == nullptr, "found a name never stored", name);
            else
                model::check(got != nullptr && it->second == got, "lookup differs from the model", name);
            break;
        }
        case 4: { // replacing a value with the map's own stored text
            std::string name = existing(m, r);
            const char *own = map[name.c_str()];
            if (own != nullptr) {
                std::string before = own;
                map.insert(name.c_str(), own);
                const char *after = map[name.c_str()];
                model::check(after != nullptr && before == after, "self-replacement lost the value", name);
            }
            break;
        }
        case 5:                 // many names in one bucket, while the map is small enough
            if (m.size() < 600) // for the walks that follow to stay fast
                family(map, m, r);
            break;
        default: // a full walk
            model::check(model::as_model(model::checked_walk(map)) == m, "walk differs from the model");
        }
    }
    model::check(model::as_model(model::checked_walk(map)) == m, "final walk differs from the model");
    return 0;
}
