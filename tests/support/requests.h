// What the black-box tests share: the program's fixed texts, a request
// builder and a fixture that gives each test a fresh sandbox.
#ifndef VOKT_TEST_REQUESTS_H
#define VOKT_TEST_REQUESTS_H

#include "sandbox.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

inline const std::string DUMP = "/tmp/cgidump65534";
inline const std::string VARS = "<H2>Die Liste der Variablen</H2>\n";
inline const std::string SHORT_READ =
    "Das kann eigendlich nicht vorkommen, da\xDF ich nicht alles lesen kann, ist es aber ...";

inline Request post(const std::string &body, const std::string &length, std::vector<std::string> extra = {})
{
    Request r;
    r.env = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=" + length};
    r.env.insert(r.env.end(), extra.begin(), extra.end());
    r.body = body;
    return r;
}

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Sandbox::usable())
            GTEST_SKIP() << "needs root for a private mount namespace";
        box = std::make_unique<Sandbox>();
    }
    std::unique_ptr<Sandbox> box;
};

#endif
