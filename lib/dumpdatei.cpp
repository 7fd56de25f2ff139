#include "dumpdatei.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

char *dumppfad(int euid, const char *home, int nobody)
{
    if (home != nullptr && euid != nobody) {
        std::size_t size = std::strlen(home) + sizeof "/cgidump";
        auto *pfad = static_cast<char *>(std::malloc(size));
        if (pfad != nullptr)
            std::snprintf(pfad, size, "%s/cgidump", home);
        return pfad;
    }
    constexpr std::size_t size = sizeof "/tmp/cgidump-2147483648";
    auto *pfad = static_cast<char *>(std::malloc(size));
    if (pfad != nullptr)
        std::snprintf(pfad, size, "/tmp/cgidump%d", euid);
    return pfad;
}

FILE *dump_oeffnen(const char *filename)
{
    if (filename == nullptr)
        return nullptr;
    std::size_t size = std::strlen(filename) + sizeof ".XXXXXX";
    auto *neu = static_cast<char *>(std::malloc(size));
    if (neu == nullptr)
        return nullptr;
    std::snprintf(neu, size, "%s.XXXXXX", filename);
    int fd = mkstemp(neu);
    FILE *fp = nullptr;
    if (fd >= 0 && std::rename(neu, filename) != 0) {
        unlink(neu);
        close(fd);
    } else if (fd >= 0) {
        fp = fdopen(fd, "w");
        if (fp == nullptr)
            close(fd);
    }
    std::free(neu);
    return fp;
}
