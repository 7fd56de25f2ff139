#ifndef VOKT_TEST_MAP_CONTENTS_H
#define VOKT_TEST_MAP_CONTENTS_H

#include "varmap.h"

#include <string>
#include <utility>
#include <vector>

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Every entry in walk order.
inline Pairs walk(const Varmap &map)
{
    Pairs pairs;
    Varmapiter it(&map);
    for (; it() != nullptr; it.next()) {
        const char *name;
        const char *value;
        it.inhalt(name, value);
        pairs.emplace_back(name, value);
    }
    return pairs;
}

#endif
