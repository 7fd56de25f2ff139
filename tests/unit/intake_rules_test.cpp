// The intake's rules for one environment entry: method, length and
// chunked delivery, as a table.
#include "intern/annahme.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using vokt::intern::Ankuendigung;
using vokt::intern::einordnen;
using A = vokt::intern::Eintragsart;

TEST(IntakeRules, EachEntryByItsFirstBytes)
{
    struct Fall {
        std::string entry;
        A art;
        int inhaltlang;
        bool hat_laenge, chunked;
    } faelle[] = {
        {"REQUEST_METHOD=POST", A::POST, 0, false, false},
        {"REQUEST_METHOD=post", A::POST, 0, false, false},
        {"REQUEST_METHOD=POSTX", A::POST, 0, false, false},
        {"REQUEST_METHOD=get", A::GET, 0, false, false},
        {"REQUEST_METHOD=HEAD", A::FALSCHE_METHODE, 0, false, false},
        {"REQUEST_METHOD=", A::FALSCHE_METHODE, 0, false, false},
        {"REQUEST_METHOD", A::FALSCHE_METHODE, 0, false, false},       // nothing read past the entry
        {"REQUEST_METHODS=POST", A::FALSCHE_METHODE, 0, false, false}, // the value is "=POST"
        {"REQUEST_METHOD_POST", A::POST, 0, false, false},             // the '=' is not looked at
        {"CONTENT_LENGTH=12abc", A::LAENGE, 12, true, false},
        {"CONTENT_LENGTH= \t+7", A::LAENGE, 7, true, false},
        {"CONTENT_LENGTH=-5", A::LAENGE, -5, true, false},
        {"CONTENT_LENGTH=abc", A::LAENGE, 0, true, false},
        {"CONTENT_LENGTH", A::LAENGE, 0, true, false},
        {"CONTENT_LENGTH=2147483647", A::LAENGE, 2147483647, true, false},
        {"CONTENT_LENGTH=2147483648", A::LAENGE_ZU_GROSS, 2147483647, true, false},
        {"CONTENT_LENGTH=-99999999999", A::LAENGE_ZU_GROSS, -2147483647 - 1, true, false},
        {"QUERY_STRING=a=1", A::ANFRAGE, 0, false, false},
        {"QUERY_STRINGS=x", A::ANFRAGE, 0, false, false},
        {"HTTP_TRANSFER_ENCODING=chunked", A::ANDERE, 0, false, true},
        {"HTTP_TRANSFER_ENCODING=gzip, Chunked", A::ANDERE, 0, false, true},
        {"HTTP_TRANSFER_ENCODING=chunked;q=1", A::ANDERE, 0, false, true},
        {"HTTP_TRANSFER_ENCODING=notchunked", A::ANDERE, 0, false, false},
        {"HTTP_TRANSFER_ENCODING=chunkedx", A::ANDERE, 0, false, false},
        {"HTTP_CONTENT_LENGTH=5", A::ANDERE, 0, false, false},
        {"content_length=5", A::ANDERE, 0, false, false},
    };
    for (auto &f : faelle) {
        SCOPED_TRACE(f.entry);
        Ankuendigung a;
        std::string e = f.entry;
        EXPECT_EQ(einordnen(e.data(), a), f.art);
        EXPECT_EQ(a.inhaltlang, f.inhaltlang);
        EXPECT_EQ(a.hat_laenge, f.hat_laenge);
        EXPECT_EQ(a.chunked, f.chunked);
        EXPECT_EQ(e, f.entry) << "the entry is only read";
    }
}

// A chunked upload is read to the end of the input only while no
// CONTENT_LENGTH is there, whichever entry comes first.
TEST(IntakeRules, ReadToTheEndOnlyWhenChunkedWithoutALength)
{
    struct Fall {
        std::vector<std::string> env;
        bool bis_ende;
        int inhaltlang;
    } faelle[] = {
        {{"HTTP_TRANSFER_ENCODING=chunked"}, true, 0},
        {{"HTTP_TRANSFER_ENCODING=chunked", "CONTENT_LENGTH=9"}, false, 9},
        {{"CONTENT_LENGTH=9", "HTTP_TRANSFER_ENCODING=chunked"}, false, 9},
        {{"HTTP_TRANSFER_ENCODING=chunked", "HTTP_TRANSFER_ENCODING=identity"}, false, 0},
        {{"CONTENT_LENGTH=9", "CONTENT_LENGTH=4"}, false, 4},
        {{}, false, 0},
    };
    for (auto &f : faelle) {
        Ankuendigung a;
        for (std::string e : f.env)
            einordnen(e.data(), a);
        EXPECT_EQ(a.bis_ende(), f.bis_ende) << f.env.size();
        EXPECT_EQ(a.inhaltlang, f.inhaltlang);
    }
}

} // namespace
