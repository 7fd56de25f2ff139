// For the tests of vokt's subcommands: a folder of the test's own for
// record files, and one run of the built vokt program in it, with its exit
// status, standard output and standard error (kept beside the folder
// while it runs).
#ifndef VOKT_TEST_VOKT_LAUF_H
#define VOKT_TEST_VOKT_LAUF_H

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>

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

    // vokt with the arguments (words for sh, run in the folder).
    Lauf vokt(const std::string &argumente) const
    {
        std::string aufruf =
            "cd '" + ordner + "' && '" VOKT "' " + argumente + " >'" + ordner + ".out' 2>'" + ordner + ".err'";
        Lauf l;
        int r = std::system(aufruf.c_str());
        l.status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
        l.aus = lies(ordner + ".out");
        l.fehler = lies(ordner + ".err");
        std::remove((ordner + ".out").c_str());
        std::remove((ordner + ".err").c_str());
        return l;
    }

    std::string ordner;
};

} // namespace vokt_lauf

#endif
