// The page escaping looks for & < > " (and a zero byte) 64 bytes at a
// time, copies short runs 32 bytes at a time and writes long runs straight
// through.  Its output is compared with the byte-at-a-time model at block
// edges, around the 32-byte copies, around the long-run limit and near the
// text's end.  Each text lies in a buffer of exactly its length, so that a
// sanitizer build sees any read beyond.
#include "cgiausg.h"
#include "form_reference.h"
#include "process.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::unique_ptr<char[]> exact(const std::string &text)
{
    std::unique_ptr<char[]> buf(new char[text.size() == 0 ? 1 : text.size()]);
    text.copy(buf.get(), text.size());
    return buf;
}

// A text between separators on the page, so that a byte written too many
// or too few shows where it happened.
const std::string SEP = "\n|\n";

// Every text through html_text_n, and through html_text where it holds no
// zero byte; the page and the model's page.
void expect_escaped(const std::vector<std::string> &texts)
{
    Outcome c = run_captured([&] {
        for (const auto &t : texts) {
            auto buf = exact(t);
            html_text_n(buf.get(), t.size());
            std::fputs(SEP.c_str(), stdout);
            if (t.find('\0') == std::string::npos) {
                std::string z = t;
                html_text(z.c_str());
            }
            std::fputs(SEP.c_str(), stdout);
        }
    });
    std::string want;
    for (const auto &t : texts) {
        want += reference::escape(t) + SEP;
        if (t.find('\0') == std::string::npos)
            want += reference::escape(t);
        want += SEP;
    }
    ASSERT_EQ(c.status, 0);
    EXPECT_TRUE(c.out == want) << "page of " << c.out.size() << " bytes, model " << want.size();
    // Where they part, for the report.
    std::size_t at = std::mismatch(c.out.begin(), c.out.end(), want.begin(), want.end()).first - c.out.begin();
    EXPECT_EQ(c.out.substr(at, 80), want.substr(at, 80)) << "at byte " << at;
}

std::string run(std::size_t n, char c = 'x')
{
    return std::string(n, c);
}

TEST(Escaping, RunsAroundTheVectorCopiesBeforeAnEntity)
{
    std::vector<std::string> texts;
    for (std::size_t lead = 0; lead <= 70; ++lead) {
        for (std::size_t len : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u}) {
            for (const char *ent : {"&", "<", ">", "\""}) {
                // An entity at every block offset after a run of len bytes,
                // then more text or the end.
                texts.push_back(run(lead, 'a') + "<" + run(len) + ent);
                texts.push_back(run(lead, 'a') + "<" + run(len) + ent + run(40, 'y') + "&" + run(70, 'z'));
            }
        }
    }
    expect_escaped(texts);
}

TEST(Escaping, LengthsAroundBlocksAndTheLongRunLimit)
{
    std::vector<std::string> texts;
    for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u, 129u, 191u, 200u, 2047u, 2048u,
                          2049u, 2050u, 2111u, 2112u, 2113u, 8191u, 8192u, 8193u, 9000u}) {
        texts.push_back(run(n));
        texts.push_back(run(n) + "\"");
        texts.push_back("&" + run(n));
        texts.push_back("&" + run(n) + ">");
        // Entities filling the gathering space past its end, then a run.
        texts.push_back(std::string(n, '<') + run(n));
    }
    expect_escaped(texts);
}

TEST(Escaping, RandomTextsWithZeroBytesAndHighBytes)
{
    std::mt19937 rng(64);
    const std::string alphabet = "&<>\"abcdefghijklmnop\xE4\xFF\x80";
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
        std::string t;
        std::size_t n = rng() % 5000;
        while (t.size() < n) {
            if (rng() % 8 == 0)
                t += run(rng() % 3000, static_cast<char>('A' + rng() % 26));
            else
                t += alphabet[rng() % alphabet.size()];
            if (rng() % 50 == 0)
                t += '\0';  // html_text_n writes it as it is
        }
        texts.push_back(t);
    }
    expect_escaped(texts);
}

TEST(Escaping, UpToAZeroByte)
{
    // The zero byte at the block edges and in the tail; n not a multiple of
    // 64; and a zero byte just beyond n, which is not looked at.
    std::vector<std::string> texts;
    std::vector<std::size_t> at_list = {0, 1, 31, 32, 33, 63, 64, 65, 127, 128, 129, 130, 2049, 2100};
    for (std::size_t n : {1u, 40u, 64u, 66u, 100u, 129u, 131u, 200u, 2200u}) {
        for (std::size_t at : at_list) {
            std::string t;
            for (std::size_t i = 0; i < n + 10; ++i)
                t += "a&b<c\"d>efghijklmnopqrstuvwxyz0123456789"[i % 40];
            if (at < t.size())
                t[at] = '\0';
            texts.push_back(t);
        }
    }
    Outcome c = run_captured([&] {
        for (const auto &t : texts) {
            auto buf = exact(t);
            for (std::size_t n : {t.size() - 10, t.size() - 9, t.size()}) {
                bool null = html_text_bis_null(buf.get(), n);
                std::fputs(null ? "[0]" : "[n]", stdout);
            }
        }
    });
    std::string want;
    for (const auto &t : texts) {
        for (std::size_t n : {t.size() - 10, t.size() - 9, t.size()}) {
            std::string part = t.substr(0, n);
            bool null = part.find('\0') != std::string::npos;
            want += reference::escape(reference::ctext(part)) + (null ? "[0]" : "[n]");
        }
    }
    ASSERT_EQ(c.status, 0);
    std::size_t at = std::mismatch(c.out.begin(), c.out.end(), want.begin(), want.end()).first - c.out.begin();
    EXPECT_EQ(c.out.substr(at, 80), want.substr(at, 80)) << "at byte " << at;
    EXPECT_EQ(c.out.size(), want.size());
}

} // namespace
