// --redact: which names are secrets, the masked entries and bodies (their
// lengths kept), and show, har and curl --redact on a record.
#include "intern/aufzeichnung.h"
#include "schwaerzen.h"
#include "vokt_lauf.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using vokt::intern::Aufzeichnung;

TEST(Redact, NamesThatSaySecret)
{
    for (const char *ja : {"Authorization", "HTTP_PROXY_AUTHORIZATION", "REDIRECT_HTTP_AUTHORIZATION", "cookie",
                           "X-Api-Key", "HTTP_X_CSRF_TOKEN", "client_secret", "Password", "X-Amz-Signature"})
        EXPECT_TRUE(ist_geheim(ja)) << ja;
    for (const char *nein : {"Host", "HTTP_USER_AGENT", "user", "REQUEST_URI", "pass", "QUERY_STRING"})
        EXPECT_FALSE(ist_geheim(nein)) << nein;
}

TEST(Redact, EntriesAndBodiesKeepTheirLengths)
{
    std::vector<std::string> e = eintraege_schwaerzen({
        "HTTP_AUTHORIZATION=Basic YTpi",
        "HTTP_COOKIE=sid=123; theme=dark;flag",
        "QUERY_STRING=a=1&access_token=xyz&b",
        "REQUEST_URI=/p?token=abc&x=%41",
        "HTTP_X_API_KEY=k=1",
        "HTTP_HOST=example.org",
        "PATH_INFO=/token=abc",
    });
    EXPECT_EQ(e, (std::vector<std::string>{
                     "HTTP_AUTHORIZATION=**********",
                     "HTTP_COOKIE=sid=***; theme=****;flag",
                     "QUERY_STRING=a=1&access_token=***&b",
                     "REQUEST_URI=/p?token=***&x=%41",
                     "HTTP_X_API_KEY=***",
                     "HTTP_HOST=example.org",
                     "PATH_INFO=/token=abc",
                 }));
    const struct {
        const char *typ, *vorher, *nachher;
    } faelle[] = {
        {"application/x-www-form-urlencoded", "user=anna&pass%77ord=geh%21&x", "user=anna&pass%77ord=******&x"},
        {"multipart/form-data; boundary=G",
         "--G\r\nContent-Disposition: form-data; name=\"api_key\"\r\n\r\nabc\r\n--G\r\n"
         "Content-Disposition: form-data; name=\"q\"\r\n\r\nkey\r\n--G--\r\n",
         "--G\r\nContent-Disposition: form-data; name=\"api_key\"\r\n\r\n***\r\n--G\r\n"
         "Content-Disposition: form-data; name=\"q\"\r\n\r\nkey\r\n--G--\r\n"},
        {"application/json", "{\"password\":\"x\"}", "{\"password\":\"x\"}"}, // JSON is not a form
    };
    for (const auto &f : faelle) {
        Aufzeichnung a;
        ASSERT_TRUE(a.zerlegen(std::string("CONTENT_TYPE=") + f.typ + "\n*0\n"));
        std::string inhalt = f.vorher;
        inhalt_schwaerzen(a, inhalt);
        EXPECT_EQ(inhalt, f.nachher) << f.typ;
    }
}

using RedactCommand = vokt_lauf::Ordner;

// A body longer than show reads: the masked copy keeps the record's length.
TEST_F(RedactCommand, ShowHarAndCurlMaskTheSecrets)
{
    std::string inhalt = "user=anna&password=geheim&pad=" + std::string((1 << 20) + 10, 'p');
    vokt_lauf::schreib(ordner + "/r", "REQUEST_METHOD=POST\nREQUEST_URI=/in\nHTTP_HOST=example.org\n"
                                      "CONTENT_TYPE=application/x-www-form-urlencoded\n"
                                      "HTTP_AUTHORIZATION=Bearer abc\nHTTP_COOKIE=sid=42\n*" +
                                          std::to_string(inhalt.size()) + "\n" + inhalt);
    vokt_lauf::Lauf l = vokt("show --redact r");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_NE(l.aus.find("Authorization: **********"), std::string::npos) << l.aus.substr(0, 400);
    EXPECT_NE(l.aus.find("password = ******"), std::string::npos);
    EXPECT_NE(l.aus.find(std::to_string(inhalt.size()) + " bytes"), std::string::npos);
    EXPECT_EQ(l.aus.find("geheim"), std::string::npos);
    EXPECT_EQ(l.aus.find("Bearer"), std::string::npos);
    l = vokt("har --redact r");
    ASSERT_EQ(l.status, 0) << l.fehler;
    auto har = nlohmann::json::parse(l.aus);
    const auto &anfrage = har["log"]["entries"][0]["request"];
    EXPECT_EQ(anfrage["bodySize"], inhalt.size());
    EXPECT_EQ(anfrage["postData"]["text"].get<std::string>().substr(0, 26), "user=anna&password=******&");
    EXPECT_EQ(anfrage["cookies"][0]["value"], "**");
    EXPECT_EQ(l.aus.find("geheim"), std::string::npos);
    vokt_lauf::schreib(ordner + "/k", "REQUEST_METHOD=GET\nREQUEST_URI=/?token=t1\nHTTP_X_API_KEY=k\n*0\n");
    l = vokt("curl k --redact");
    EXPECT_EQ(l.status, 0) << l.fehler;
    EXPECT_NE(l.aus.find("/?token=**"), std::string::npos) << l.aus;
    EXPECT_NE(l.aus.find("X-Api-Key: *"), std::string::npos) << l.aus;
    EXPECT_EQ(vokt("curl k").aus.find("token=**"), std::string::npos);
}

} // namespace
