// The desk under hostile records: bodies shaped to cost time, memory or
// output out of proportion to their size (JSON nested 499 deep, a million
// empty pairs, tens of thousands of distinct names, a body too large for
// the memory the command may take), each run through the built vokt under
// an address-space limit, as a table; and the pretty view's bound itself.
#include "inhaltsansicht.h"
#include "vokt_lauf.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Arrays nested 499 deep, again and again, in one array of about n bytes.
std::string tiefes_json(std::size_t n)
{
    std::string einheit = std::string(499, '[') + std::string(499, ']') + ",";
    std::string erg = "[";
    while (erg.size() + einheit.size() < n)
        erg += einheit;
    return erg + "0]";
}

// n distinct names a00000=1&a00001=1&..., the one at `anders` with 2.
std::string viele_namen(int n, int anders)
{
    std::string erg;
    char paar[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(paar, sizeof paar, "%sa%05d=%d", i == 0 ? "" : "&", i, i == anders ? 2 : 1);
        erg += paar;
    }
    return erg;
}

std::string kopf(const std::string &typ, std::size_t laenge)
{
    return "REQUEST_METHOD=POST\nREQUEST_URI=/f\nHTTP_HOST=h\nCONTENT_TYPE=" + typ + "\n*" + std::to_string(laenge) +
           "\n";
}

struct Fall {
    const char *was;
    std::string argumente;       // for vokt; the records are a and b
    rlim_t mib;                  // the address-space limit
    int status;                  // the exit status
    std::size_t aus_hoechstens;  // the most bytes on standard output
    std::vector<std::string> im; // texts that standard output holds
    std::string fehler;          // standard error exactly, {} for the record's path
};

class HostileBody : public vokt_lauf::Ordner {
protected:
    // vokt with the arguments, its address space limited to mib MiB.
    vokt_lauf::Lauf begrenzt(const std::string &argumente, rlim_t mib) const
    {
        std::vector<std::string> woerter;
        std::istringstream s(argumente);
        for (std::string w; s >> w;)
            woerter.push_back(w);
        return vokt(woerter, mib);
    }

    void pruefen(const Fall &f) const
    {
        SCOPED_TRACE(f.was);
        vokt_lauf::Lauf l = begrenzt(f.argumente, f.mib);
        EXPECT_EQ(l.status, f.status) << l.fehler;
        EXPECT_LE(l.aus.size(), f.aus_hoechstens);
        for (const std::string &text : f.im)
            EXPECT_NE(l.aus.find(text), std::string::npos) << text << "\nin: " << l.aus.substr(0, 2000);
        EXPECT_EQ(l.fehler, f.fehler);
    }

    // A record whose body of n zero bytes is a hole in the file.
    void loechrig(const std::string &name, std::size_t n) const
    {
        std::string k = kopf("text/plain", n);
        vokt_lauf::schreib(ordner + "/" + name, k);
        ASSERT_EQ(truncate((ordner + "/" + name).c_str(), static_cast<off_t>(k.size() + n)), 0);
    }
};

TEST_F(HostileBody, EachCommandStaysWithinItsBounds)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime needs more address space than the limits leave";
#endif
    const std::size_t MB = 1000000;
    std::string json = tiefes_json(MB);
    vokt_lauf::schreib(ordner + "/json", kopf("application/json", json.size()) + json);
    std::string und(20 * MB, '&');
    vokt_lauf::schreib(ordner + "/und", kopf("application/x-www-form-urlencoded", und.size()) + und);
    std::string a = viele_namen(20000, -1);
    std::string b = viele_namen(20000, 5);
    b[b.size() - 1] = '2'; // the last pair, beyond what vokt.cgi decodes
    vokt_lauf::schreib(ordner + "/namen_a", kopf("application/x-www-form-urlencoded", a.size()) + a);
    vokt_lauf::schreib(ordner + "/namen_b", kopf("application/x-www-form-urlencoded", b.size()) + b);
    loechrig("gross", 240 << 20);
    loechrig("zu_gross", 300 << 20);
    const std::size_t SCHOEN = 8 * MB + 64 * 1024 + 4096;
    const Fall faelle[] = {
        {"deep JSON: its pretty view would be 500 MB",
         "show json",
         256,
         0,
         SCHOEN,
         {"JSON nested so deep that its pretty view would take more than 8 times its bytes and 64 KiB, shown as it "
          "came\n"},
         ""},
        {"deep JSON as a page", "show json --html", 256, 0, SCHOEN, {"shown as it came</p>"}, ""},
        {"twenty million empty pairs",
         "show und",
         256,
         0,
         64 * 1024,
         {"shown: its first 1048576 bytes", "urlencoded form, 1048577 pairs",
          "vokt.cgi decodes only the first 10000 pairs"},
         ""},
        {"twenty million empty pairs compared", "diff und und", 256, 0, 0, {}, ""},
        {"twenty million empty pairs in HAR", "har und", 256, 0, 2 * 20 * MB, {"\"text\": \"&&&"}, ""},
        {"distinct names compared by name, as far as vokt.cgi decodes them",
         "diff namen_a namen_b",
         256,
         1,
         200,
         {"~ form a00005: \"1\" -> \"2\"\n"},
         ""},
        {"a body too large for the memory left",
         "diff gross gross",
         192,
         2,
         0,
         {},
         "vokt: gross: out of memory: too large for this command\n"},
        {"a body too large for the memory left, in HAR",
         "har gross",
         192,
         2,
         0,
         {},
         "vokt: gross: out of memory: too large for this command\n"},
        {"a body larger than vokt holds",
         "diff zu_gross zu_gross",
         192,
         2,
         0,
         {},
         "vokt: zu_gross: the body has 314572800 bytes, more than the 256 MiB that vokt holds in memory: refused\n"},
    };
    for (const Fall &f : faelle)
        pruefen(f);
    // Only the first 10000 pairs are compared: the change at the end is none.
    EXPECT_EQ(begrenzt("diff namen_a namen_b", 256).aus.find("a19999"), std::string::npos);
}

TEST(JsonView, ThePrettyViewIsBoundedWhateverTheNesting)
{
    for (std::size_t n : {std::size_t{2000}, std::size_t{200000}}) {
        std::string json = tiefes_json(n);
        std::vector<Zeile> z = json_zeilen(json, true);
        std::size_t bytes = 0;
        for (const Zeile &zeile : z)
            bytes += zeile.text.size();
        EXPECT_LE(bytes, json_schoen_hoechstens(json.size()) + 200) << n;
        EXPECT_EQ(z.back().text, json) << n;
    }
    // Nesting that the bound allows is still pretty-printed.
    EXPECT_EQ(json_zeilen("[[[[[[[[[[1]]]]]]]]]]", true).front().text, "JSON");
}

} // namespace
