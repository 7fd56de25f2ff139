// For the tests of vokt's subcommands: a folder of the test's own for
// record files, and one run of the built vokt program in it, with its exit
// status, standard output and standard error.
#ifndef VOKT_TEST_VOKT_LAUF_H
#define VOKT_TEST_VOKT_LAUF_H

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "process.h"

namespace vokt_lauf {

struct Lauf {
    int status = -1;
    std::string aus;
    std::string fehler;
};

inline std::string lies(const std::string &pfad)
{
    std::ifstream f(pfad, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void schreib(const std::string &pfad, const std::string &daten)
{
    std::ofstream(pfad, std::ios::binary) << daten;
}

class Ordner : public ::testing::Test {
protected:
    void SetUp() override
    {
        char vorlage[] = "/tmp/vokt-command-test.XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        ordner = vorlage;
    }
    void TearDown() override { std::system(("rm -rf '" + ordner + "'").c_str()); }

    // vokt with the arguments (words split at blanks), run in the folder
    // through the tests' one process runner.
    Lauf vokt(const std::string &argumente) const
    {
        std::vector<std::string> woerter;
        std::istringstream s(argumente);
        for (std::string w; s >> w;)
            woerter.push_back(w);
        return vokt(woerter);
    }

    // vokt with these words as its arguments; with mib, its address space
    // limited to that many MiB.
    Lauf vokt(std::vector<std::string> woerter, rlim_t mib = 0) const
    {
        woerter.insert(woerter.begin(), VOKT);
        std::vector<char *> argv;
        for (std::string &w : woerter)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        const char *dir = ordner.c_str();
        Outcome o = run_captured([&] {
            rlimit r{mib << 20, mib << 20};
            if ((mib == 0 || setrlimit(RLIMIT_AS, &r) == 0) && chdir(dir) == 0)
                execv(VOKT, argv.data());
            _exit(127);
        });
        return Lauf{o.status, o.out, o.err};
    }

    std::string ordner;
};

} // namespace vokt_lauf

#endif
