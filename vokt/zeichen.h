// Small questions about the bytes of header values and escapes, which
// many readers of records ask alike.
#ifndef VOKT_ZEICHEN_H
#define VOKT_ZEICHEN_H

#include <string_view>

// t without the blanks and tabs at its start and end (HTTP's optional
// white space around a header value).
inline std::string_view ohne_blanks(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.remove_suffix(1);
    return t;
}

// The value of a hexadecimal digit (either case); -1 for any other byte.
inline int hexziffer(char z)
{
    if (z >= '0' && z <= '9')
        return z - '0';
    if (z >= 'a' && z <= 'f')
        return z - 'a' + 10;
    if (z >= 'A' && z <= 'F')
        return z - 'A' + 10;
    return -1;
}

#endif
