#include "shellwort.h"

std::string shellwort(std::string_view text)
{
    std::string wort;
    wort.reserve(text.size() + 2);
    wort += '\'';
    for (char z : text) {
        if (z == '\'')
            wort += "'\\''";
        else
            wort += z;
    }
    wort += '\'';
    return wort;
}
