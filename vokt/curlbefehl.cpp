#include "curlbefehl.h"

#include <cstdio>
#include <cstring>

namespace {

bool ist_tchar(char z)
{
    return (z >= 'A' && z <= 'Z') || (z >= 'a' && z <= 'z') || (z >= '0' && z <= '9') ||
           (z != '\0' && std::strchr("!#$%&'*+-.^_`|~", z) != nullptr);
}

bool ist_steuerzeichen(char z)
{
    auto b = static_cast<unsigned char>(z);
    return b < 0x20 || b == 0x7F;
}

} // namespace

bool ist_token(std::string_view text)
{
    if (text.empty())
        return false;
    for (char z : text)
        if (!ist_tchar(z))
            return false;
    return true;
}

std::string kopfname(std::string_view name)
{
    if (!ist_token(name))
        return "";
    std::string erg;
    bool wortanfang = true;
    for (char z : name) {
        if (wortanfang && z >= 'a' && z <= 'z')
            z = static_cast<char>(z - 'a' + 'A');
        else if (!wortanfang && z >= 'A' && z <= 'Z')
            z = static_cast<char>(z - 'A' + 'a');
        wortanfang = z == '_';
        erg += wortanfang ? '-' : z;
    }
    return erg;
}

bool ist_kopfwert(std::string_view wert)
{
    for (char z : wert)
        if (ist_steuerzeichen(z) && z != '\t')
            return false;
    return true;
}

bool ist_host(std::string_view host)
{
    if (host.empty())
        return false;
    for (char z : host)
        if (!((z >= 'A' && z <= 'Z') || (z >= 'a' && z <= 'z') || (z >= '0' && z <= '9') ||
              (z != '\0' && std::strchr(".-_:[]", z) != nullptr)))
            return false;
    return true;
}

std::string ziel_kodiert(std::string_view roh, bool *geaendert)
{
    std::string erg;
    *geaendert = false;
    for (char z : roh) {
        if (ist_steuerzeichen(z) || z == ' ') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(z));
            erg += hex;
            *geaendert = true;
        } else {
            erg += z;
        }
    }
    return erg;
}

std::string printf_format(std::string_view bytes)
{
    std::string f = "'";
    f.reserve(bytes.size() * 4 + 2);
    for (char z : bytes) {
        switch (z) {
        case '\\': f += "\\\\"; continue;
        case '%': f += "%%"; continue;
        case '\n': f += "\\n"; continue;
        case '\t': f += "\\t"; continue;
        case '\r': f += "\\r"; continue;
        default: break;
        }
        auto b = static_cast<unsigned char>(z);
        bool option = z == '-' && f.size() == 1; // printf would take it for one
        if (b >= 0x20 && b < 0x7F && z != '\'' && !option) {
            f += z;
        } else {
            char okt[5];
            std::snprintf(okt, sizeof okt, "\\%03o", b);
            f += okt;
        }
    }
    return f + "'";
}
