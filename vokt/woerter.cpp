#include "woerter.h"

#include <string_view>

int vor_programm(int argc, char **argv, const char *&datei, const std::function<bool(int &)> &option, const bool *halt)
{
    int i = 1;
    for (; i < argc && (halt == nullptr || !*halt); ++i) {
        std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            if (datei == nullptr && i < argc)
                datei = argv[i++];
            return i;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            if (!option(i))
                return -1;
        } else if (datei == nullptr) {
            datei = argv[i];
        } else {
            return i;
        }
    }
    return i;
}
