// The record format: what the dump file's writer writes, its reader reads
// back exactly, in a folder of the test's own (no root needed).
#include "intern/aufzeichnung.h"
#include "intern/dumpdatei.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vokt::intern;
using namespace std::string_literals;

struct Satz {
    std::vector<std::string> eintraege;
    int angesagt;
    std::string inhalt;
};

std::vector<std::string> gemeldet;
void merke(const char *datei, int fehlernummer)
{
    gemeldet.push_back(std::string(datei) + ": " + std::to_string(fehlernummer));
}

class Record : public ::testing::Test {
protected:
    void SetUp() override
    {
        char vorlage[] = "/tmp/vokt-record-test.XXXXXX";
        ASSERT_NE(mkdtemp(vorlage), nullptr);
        ordner = vorlage;
        gemeldet.clear();
    }
    void TearDown() override { std::system(("rm -rf '" + ordner + "'").c_str()); }

    // Writes the record as vokt.cgi does and returns the file's bytes.
    std::string schreibe(const Satz &s)
    {
        std::string pfad = ordner + "/cgidump";
        {
            Dumpdatei dump(merke);
            EXPECT_EQ(dump.oeffne(pfad.c_str()), Dumpdatei::OFFEN);
            for (const std::string &e : s.eintraege)
                dump.zeile(e.c_str());
            dump.laenge(s.angesagt);
            dump.leeren();
            dump.roh(s.inhalt.data(), s.inhalt.size());
            dump.schliesse();
            EXPECT_TRUE(dump.vollstaendig());
        }
        int fd = open(pfad.c_str(), O_RDONLY);
        std::string daten;
        char puffer[65536];
        for (ssize_t n; (n = read(fd, puffer, sizeof puffer)) > 0;)
            daten.append(puffer, static_cast<std::size_t>(n));
        close(fd);
        return daten;
    }
    std::string ordner;
};

std::string jedes_byte()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s += static_cast<char>(i);
    return s + s;
}

// Written with the writer, read with the reader: the same entries, length
// and body, whatever the values and the body hold; from memory and from
// the file (entries only, the body left in the file).
TEST_F(Record, WhatTheWriterWritesTheReaderReadsBack)
{
    Satz faelle[] = {
        {{"REQUEST_METHOD=GET", "QUERY_STRING=a=1"}, 0, ""},
        {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=6", "PATH_INFO=/x\n*0\nREMOTE_ADDR=6.6.6.6"}, 6, "real=1"},
        {{"SERVER_SIGNATURE=<address>x</address>\n", "A=\n", "B=\n\n\tc", "C==\n=", "D=\r\n"}, 3, "a=1"},
        {{"REQUEST_METHOD=POST", "CONTENT_TYPE=application/octet-stream"}, 512, jedes_byte()},
        {{"REQUEST_METHOD=POST", "HTTP_X=\n*3\n"}, 100, "nur 40 Bytes sind angekommen, der Rest fehlt"},
        {{"REQUEST_METHOD=POST", "HTTP_TRANSFER_ENCODING=chunked"}, 0, "\n*5\nkein Eintrag\n"},
        {{"REQUEST_METHOD=PUT", "CONTENT_LENGTH=-5"}, -5, ""},
        // Entries that no server gives, which a program that starts vokt.cgi
        // can: one that starts with a tab (read as a continuation), one that
        // is a length line (the entries after it became the body), ones
        // without '=' in a record without line feeds (joined by the older
        // rule), and their mixtures.
        {{"REQUEST_METHOD=GET", "A=1", "\tB=2", "C=3"}, 0, ""},
        {{"REQUEST_METHOD=POST", "*0", "HTTP_X=1", "*-5", "*", "*12x"}, 3, "a=1"},
        {{"REQUEST_METHOD=GET", "NOEQUALS", "", "A=1", "CONTENT_LENGTH"}, 0, ""},
        {{"A=1", "*0\nB=1", "\t", "\t\n\t", "\n", "", "X\nY=1", "\tZ"}, 2, "ab"},
    };
    for (const Satz &s : faelle) {
        SCOPED_TRACE(s.eintraege.back());
        std::string daten = schreibe(s);
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(daten));
        EXPECT_EQ(a.eintraege(), s.eintraege);
        EXPECT_TRUE(a.mit_laenge());
        EXPECT_EQ(a.angesagt(), s.angesagt);
        EXPECT_EQ(a.inhalt(), s.inhalt);
        EXPECT_FALSE(a.alte_regel());
        EXPECT_TRUE(a.doppelt().empty());

        int fd = open((ordner + "/cgidump").c_str(), O_RDONLY);
        Aufzeichnung aus_datei;
        EXPECT_EQ(aus_datei.kopf_lesen(fd, daten.size()), Aufzeichnung::GELESEN);
        close(fd);
        EXPECT_EQ(aus_datei.eintraege(), s.eintraege);
        EXPECT_EQ(aus_datei.inhaltlaenge(), s.inhalt.size());
        EXPECT_EQ(daten.substr(aus_datei.inhalt_ab()), s.inhalt);
    }
    EXPECT_TRUE(gemeldet.empty());
}

// The bytes themselves: entries without a line feed, the length line and
// the body are as they always were; a line feed in an entry gets a tab.
TEST_F(Record, OnlyALineFeedInAnEntryChangesItsBytes)
{
    EXPECT_EQ(schreibe({{"A=1", "B=x\ny", "C=\n"}, 3, "a=1"}), "A=1\nB=x\n\ty\nC=\n\t\n*3\na=1");
}

// An entry that starts with a tab or a '*', or holds no '=', is written
// after a zero byte, which no entry can hold.
TEST_F(Record, EntriesTheReaderWouldTakeForSomethingElseAreMarked)
{
    EXPECT_EQ(schreibe({{"A=1", "\tB=2", "*0", "NOEQUALS", "", "*x=\n*1", "B=*0\t"}, 0, ""}),
              "A=1\n\0\tB=2\n\0*0\n\0NOEQUALS\n\0\n\0*x=\n\t*1\nB=*0\t\n*0\n"s);
}

} // namespace
