// One fact of a request, one answer: the same records through vokt show,
// list, har and curl, as a table, which must agree on the method, the
// request target and the URL's scheme and host.
#include "harexport.h"
#include "vokt_lauf.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Fall {
    std::string eintraege; // the record's entries, each ended by a line feed
    std::string methode;
    std::string basis; // scheme and host
    std::string ziel;  // the request target
};

// The word after `option '` in a curl command, up to its closing quote.
std::string wort_nach(const std::string &befehl, const std::string &option)
{
    std::size_t ab = befehl.find(option + " '");
    if (ab == std::string::npos)
        return "";
    ab += option.size() + 2;
    return befehl.substr(ab, befehl.find('\'', ab) - ab);
}

// The method that the curl command sends.
std::string curl_methode(const std::string &befehl)
{
    std::string x = wort_nach(befehl, "-X");
    if (!x.empty())
        return x;
    if (befehl.find(" --head") != std::string::npos)
        return "HEAD";
    return befehl.find(" --data-binary ") != std::string::npos ? "POST" : "GET";
}

// The columns of a row of vokt list's table.
std::vector<std::string> spalten(const std::string &zeile)
{
    std::vector<std::string> erg;
    for (std::size_t i = 0; i < zeile.size();) {
        std::size_t ende = zeile.find("  ", i);
        erg.push_back(zeile.substr(i, ende - i));
        i = ende == std::string::npos ? zeile.size() : zeile.find_first_not_of(' ', ende);
    }
    return erg;
}

using Fakten = vokt_lauf::Ordner;

TEST_F(Fakten, ShowListHarAndCurlAgreeOnEveryRecord)
{
    const Fall faelle[] = {
        {"REQUEST_METHOD=GET\nREQUEST_URI=/a?b=1\nQUERY_STRING=b=1\nHTTP_HOST=h.example\n*0\n", "GET",
         "http://h.example", "/a?b=1"},
        // An empty REQUEST_URI names no target: it is built from the parts.
        {"REQUEST_METHOD=GET\nREQUEST_URI=\nSCRIPT_NAME=/cgi-bin/x\nPATH_INFO=/p\nQUERY_STRING=q=1\nHTTP_HOST=h\n*0\n",
         "GET", "http://h", "/cgi-bin/x/p?q=1"},
        // REQUEST_SCHEME tells https as HTTPS does.
        {"REQUEST_METHOD=POST\nREQUEST_SCHEME=https\nHTTP_HOST=h\nREQUEST_URI=/s\n*1\nx", "POST", "https://h", "/s"},
        {"REQUEST_METHOD=PUT\nHTTPS=on\nSERVER_NAME=s.example\nSERVER_PORT=8443\nSCRIPT_NAME=/x\n*0\n", "PUT",
         "https://s.example:8443", "/x"},
        {"REQUEST_METHOD=GET\nREQUEST_SCHEME=https\nSERVER_NAME=s\nSERVER_PORT=443\nREQUEST_URI=/\n*0\n", "GET",
         "https://s", "/"},
        {"REQUEST_METHOD=GET\nSERVER_NAME=s\nSERVER_PORT=80\nSCRIPT_NAME=/x\nQUERY_STRING=\n*0\n", "GET", "http://s",
         "/x"},
    };
    for (const Fall &f : faelle) {
        SCOPED_TRACE(f.eintraege);
        vokt_lauf::schreib(ordner + "/rec", f.eintraege);
        vokt_lauf::Lauf show = vokt("show rec");
        vokt_lauf::Lauf list = vokt("list rec");
        vokt_lauf::Lauf har = vokt("har rec");
        vokt_lauf::Lauf curl = vokt("curl rec");
        ASSERT_EQ(show.status + list.status + har.status + curl.status, 0)
            << show.fehler << list.fehler << har.fehler << curl.fehler;
        EXPECT_EQ(show.aus.substr(0, show.aus.find('\n')), f.methode + " " + f.ziel + " ?");
        std::string zeile = list.aus.substr(list.aus.find('\n') + 1);
        std::vector<std::string> reihe = spalten(zeile.substr(0, zeile.find('\n')));
        ASSERT_GE(reihe.size(), 3U) << list.aus;
        EXPECT_EQ(reihe[1], f.methode);
        EXPECT_EQ(reihe[2], f.ziel);
        Json log = Json::parse(har.aus, nullptr, false);
        ASSERT_FALSE(log.is_discarded()) << har.aus;
        const Json &anfrage = log["log"]["entries"][0]["request"];
        EXPECT_EQ(anfrage["method"], f.methode);
        EXPECT_EQ(anfrage["url"], f.basis + f.ziel);
        EXPECT_EQ(curl_methode(curl.aus), f.methode) << curl.aus;
        EXPECT_EQ(wort_nach(curl.aus, "--url"), f.basis) << curl.aus;
        EXPECT_EQ(wort_nach(curl.aus, "--request-target"), f.ziel) << curl.aus;
    }
}

} // namespace
