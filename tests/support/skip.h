// A test that this machine cannot run (no root, a tool missing) is skipped;
// in CI (CI=true), where tools/deps.sh installed everything the tests need,
// it fails instead, so that nothing is left out unseen.
#ifndef VOKT_TEST_SKIP_H
#define VOKT_TEST_SKIP_H

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

inline bool in_ci()
{
    const char *ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

#define SKIP_UNLESS_CI(why)                                                                                            \
    do {                                                                                                               \
        if (in_ci())                                                                                                   \
            FAIL() << (why) << " (CI=true: nothing may be missing)";                                                   \
        else                                                                                                           \
            GTEST_SKIP() << (why);                                                                                     \
    } while (0)

#endif
