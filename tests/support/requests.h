// What the black-box tests of vokt.cgi share: a request builder and a
// fixture that gives each test a fresh sandbox.
#ifndef VOKT_TEST_REQUESTS_H
#define VOKT_TEST_REQUESTS_H

#include "pages.h"
#include "sandbox.h"
#include "skip.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

inline Request post(const std::string &body, const std::string &length, std::vector<std::string> extra = {})
{
    Request r;
    r.env = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=" + length};
    r.env.insert(r.env.end(), extra.begin(), extra.end());
    r.body = body;
    return r;
}

inline Request get(const std::string &query = "", uid_t uid = 65534)
{
    Request r;
    r.env = {"REQUEST_METHOD=GET"};
    if (!query.empty())
        r.env.push_back("QUERY_STRING=" + query);
    r.uid = uid;
    return r;
}

inline bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

inline bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Sandbox::usable())
            SKIP_UNLESS_CI("needs root for a private mount namespace");
        box = std::make_unique<Sandbox>();
    }
    std::unique_ptr<Sandbox> box;
};

#endif
