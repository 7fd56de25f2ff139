// vokt har: records to the fields of their HAR entries, as a table; the
// helpers' bytes (URL, cookies, UTF-8, base64); every entry against the
// fields and types that HAR 1.2 requires; and one run of vokt har.
#include "ansicht.h"
#include "harexport.h"
#include "intern/aufzeichnung.h"
#include "vokt_lauf.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using vokt::intern::Aufzeichnung;

Aufzeichnung lies(const std::string &daten)
{
    Aufzeichnung a;
    EXPECT_TRUE(a.zerlegen(daten)) << daten;
    return a;
}

Json eintrag(const std::string &daten, std::vector<std::string> *hinweise = nullptr)
{
    std::vector<std::string> h;
    Aufzeichnung a = lies(daten);
    return har_eintrag(a, a.inhalt(), {1765188902, 123456}, hinweise != nullptr ? hinweise : &h);
}

TEST(HarEntry, RecordsGiveTheirFields)
{
    struct {
        std::string daten;
        const char *zeiger; // a JSON pointer into the entry
        Json wert;
    } faelle[] = {
        {"REQUEST_METHOD=GET\n*0\n", "/startedDateTime", "2025-12-08T10:15:02.123Z"},
        {"REQUEST_METHOD=GET\nREQUEST_URI=/a?b=1\nHTTP_HOST=h:81\n*0\n", "/request/url", "http://h:81/a?b=1"},
        {"REQUEST_URI=/x\nHTTPS=on\nSERVER_NAME=s\nSERVER_PORT=443\n*0\n", "/request/url", "https://s/x"},
        {"REQUEST_URI=/x\nREQUEST_SCHEME=https\nSERVER_NAME=s\nSERVER_PORT=8443\n*0\n", "/request/url",
         "https://s:8443/x"},
        {"SCRIPT_NAME=/c\nPATH_INFO=/ p\nQUERY_STRING=q=\xfc\nHTTP_HOST=a\"b\n*0\n", "/request/url",
         "http://localhost/c/%20p?q=%FC"},
        {"REQUEST_URI=http://o.example/p\n*0\n", "/request/url", "http://o.example/p"},
        {"REQUEST_METHOD=GET\n*0\n", "/request/url", "http://localhost/"},
        {"SERVER_PROTOCOL=HTTP/1.0\n*0\n", "/request/httpVersion", "HTTP/1.0"},
        {"HTTP_COOKIE= a=1;b = 2 ;;c\n*0\n", "/request/cookies",
         Json::parse(R"([{"name":"a","value":"1"},{"name":"b","value":"2"},{"name":"","value":"c"}])")},
        {"HTTP_ACCEPT_LANGUAGE=de\nCONTENT_TYPE=t/x\nHTTP_CONTENT_TYPE=t/"
         "y\nCONTENT_LENGTH=\nHTTP_X_A=1\nHTTP_X_A=2\n*0\n",
         "/request/headers",
         Json::parse(R"([{"name":"Accept-Language","value":"de"},{"name":"Content-Type","value":"t/x"},)"
                     R"({"name":"X-A","value":"2"}])")},
        {"QUERY_STRING=a=1&b=x+%41\n*0\n", "/request/queryString",
         Json::parse(R"([{"name":"a","value":"1"},{"name":"b","value":"x A"}])")},
        {"REQUEST_METHOD=GET\n*0\n", "/request/bodySize", 0},
        {"REQUEST_METHOD=POST\n*9\nab", "/request/bodySize", 2},
        {"REQUEST_METHOD=POST\n*0\n", "/request/postData", Json::parse(R"({"mimeType":"","text":""})")},
        {"REQUEST_METHOD=POST\nCONTENT_TYPE=application/x-www-form-urlencoded; charset=utf-8\n*7\na=1&b=+",
         "/request/postData",
         Json::parse(R"({"mimeType":"application/x-www-form-urlencoded; charset=utf-8","text":"a=1&b=+"})")},
        {"REQUEST_METHOD=PUT\nCONTENT_TYPE=a/b\n*4\nx=\xfc\xff", "/request/postData/text", "eD38/w=="},
        {"REQUEST_METHOD=PUT\nCONTENT_TYPE=a/b\n*4\nx=\xfc\xff", "/request/postData/encoding", "base64"},
        {"REQUEST_METHOD=PUT\n*3\n\xe2\x82\xac", "/request/postData/text", "\xe2\x82\xac"},
        {"REQUEST_METHOD=GET\n*0\n", "/response/status", 0},
        {"REQUEST_METHOD=GET\n*0\n", "/response/content", Json::parse(R"({"size":0,"mimeType":"x-unknown"})")},
        {"REQUEST_METHOD=GET\n*0\n", "/timings", Json::parse(R"({"send":0,"wait":0,"receive":0})")},
    };
    for (const auto &f : faelle) {
        Json e = eintrag(f.daten);
        Json::json_pointer p(f.zeiger);
        ASSERT_TRUE(e.contains(p)) << f.daten << f.zeiger;
        EXPECT_EQ(e.at(p), f.wert) << f.daten << f.zeiger;
    }
    EXPECT_FALSE(eintrag("REQUEST_METHOD=GET\n*0\n")["request"].contains("postData"));
    EXPECT_FALSE(eintrag("REQUEST_METHOD=PUT\n*0\n")["request"].contains("postData"));
}

TEST(HarEntry, AHeaderNameThatIsNoTokenIsLeftOutWithANote)
{
    std::vector<std::string> hinweise;
    Json e = eintrag("HTTP_A(B=1\nHTTP_OK=2\n*0\n", &hinweise);
    EXPECT_EQ(e["request"]["headers"], Json::parse(R"([{"name":"Ok","value":"2"}])"));
    EXPECT_EQ(hinweise, std::vector<std::string>{"left out HTTP_A(B, which is no header name"});
}

TEST(HarBytes, Utf8AndBase64)
{
    struct {
        std::string bytes;
        bool utf8;
        const char *b64;
    } faelle[] = {
        {"", true, ""},
        {"f", true, "Zg=="},
        {"fo", true, "Zm8="},
        {"foo", true, "Zm9v"},
        {"\xc3\xbc\xf0\x9f\x98\x80", true, "w7zwn5iA"},
        {"\xc3", false, "ww=="},
        {"\xc0\xaf", false, "wK8="},             // overlong '/'
        {"\xed\xa0\x80", false, "7aCA"},         // a surrogate
        {"\xf4\x90\x80\x80", false, "9JCAgA=="}, // beyond U+10FFFF
        {"\xe2\x82", false, "4oI="},
        {"\0\xff"s, false, "AP8="},
    };
    for (const auto &f : faelle) {
        EXPECT_EQ(ist_utf8(f.bytes), f.utf8) << f.b64;
        EXPECT_EQ(base64(f.bytes), f.b64);
    }
}

// The fields and types that HAR 1.2 requires of a log, checked strictly:
// every required field there with its type, and no other field but a
// comment, an "encoding" of postData and a field starting with '_'.
using Felder = std::vector<std::pair<const char *, Json::value_t>>;
void pruefe(const Json &j, const Felder &felder, const std::string &wo)
{
    ASSERT_TRUE(j.is_object()) << wo;
    for (const auto &[name, typ] : felder) {
        ASSERT_TRUE(j.contains(name)) << wo << "/" << name;
        Json::value_t hat = j.at(name).type();
        bool zahl = typ == Json::value_t::number_integer &&
                    (hat == Json::value_t::number_unsigned || hat == Json::value_t::number_float);
        EXPECT_TRUE(hat == typ || zahl) << wo << "/" << name;
    }
    for (const auto &[name, wert] : j.items()) {
        bool bekannt = std::any_of(felder.begin(), felder.end(), [&](const auto &f) { return name == f.first; });
        EXPECT_TRUE(bekannt || name == "comment" || name.starts_with("_") || (wo == "postData" && name == "encoding") ||
                    (wo == "postData" && (name == "text" || name == "params")) ||
                    (wo == "request" && name == "postData"))
            << wo << "/" << name;
    }
}

void pruefe_namenswerte(const Json &liste, const std::string &wo)
{
    ASSERT_TRUE(liste.is_array()) << wo;
    for (const Json &e : liste)
        pruefe(e, {{"name", Json::value_t::string}, {"value", Json::value_t::string}}, wo);
}

void pruefe_eintrag(const Json &e)
{
    using T = Json::value_t;
    pruefe(e,
           {{"startedDateTime", T::string},
            {"time", T::number_integer},
            {"request", T::object},
            {"response", T::object},
            {"cache", T::object},
            {"timings", T::object}},
           "entry");
    const Json &r = e["request"];
    pruefe(r,
           {{"method", T::string},
            {"url", T::string},
            {"httpVersion", T::string},
            {"cookies", T::array},
            {"headers", T::array},
            {"queryString", T::array},
            {"headersSize", T::number_integer},
            {"bodySize", T::number_integer}},
           "request");
    for (const char *liste : {"cookies", "headers", "queryString"})
        pruefe_namenswerte(r[liste], liste);
    if (r.contains("postData")) {
        pruefe(r["postData"], {{"mimeType", T::string}}, "postData");
        EXPECT_NE(r["postData"].contains("text"), r["postData"].contains("params")) << "one of them, never both";
        if (r["postData"].contains("params"))
            pruefe_namenswerte(r["postData"]["params"], "params");
    }
    pruefe(e["response"],
           {{"status", T::number_integer},
            {"statusText", T::string},
            {"httpVersion", T::string},
            {"cookies", T::array},
            {"headers", T::array},
            {"content", T::object},
            {"redirectURL", T::string},
            {"headersSize", T::number_integer},
            {"bodySize", T::number_integer}},
           "response");
    pruefe(e["response"]["content"], {{"size", T::number_integer}, {"mimeType", T::string}}, "content");
    pruefe(e["timings"], {{"send", T::number_integer}, {"wait", T::number_integer}, {"receive", T::number_integer}},
           "timings");
}

using HarCommand = vokt_lauf::Ordner;

TEST_F(HarCommand, OneLogOfTheRecordsThatHar12Reads)
{
    vokt_lauf::schreib(ordner + "/20261208T101502.123456Z-4711",
                       "REQUEST_METHOD=POST\nCONTENT_TYPE=application/x-www-form-urlencoded\nHTTP_COOKIE=a=1\n"
                       "HTTP_X=\xfc\n*3\nb=\xfc");
    vokt_lauf::schreib(ordner + "/zwei", "REQUEST_METHOD=GET\nQUERY_STRING=q=1\n*0\n");
    vokt_lauf::Lauf l = vokt("har 20261208T101502.123456Z-4711 zwei");
    EXPECT_EQ(l.status, 0) << l.fehler;
    Json har = Json::parse(l.aus, nullptr, false);
    ASSERT_FALSE(har.is_discarded()) << l.aus;
    pruefe(har, {{"log", Json::value_t::object}}, "");
    const Json &log = har["log"];
    pruefe(log,
           {{"version", Json::value_t::string}, {"creator", Json::value_t::object}, {"entries", Json::value_t::array}},
           "log");
    EXPECT_EQ(log["version"], "1.2");
    EXPECT_EQ(log["creator"]["name"], "vokt");
    ASSERT_EQ(log["entries"].size(), 2U);
    for (const Json &e : log["entries"])
        pruefe_eintrag(e);
    EXPECT_EQ(log["entries"][0]["startedDateTime"], "2026-12-08T10:15:02.123Z");
    // A header value that is no UTF-8: its byte replaced, the rest kept.
    EXPECT_EQ(log["entries"][0]["request"]["headers"][2]["value"], "\xef\xbf\xbd");
    EXPECT_EQ(log["entries"][0]["request"]["postData"]["text"], "Yj38"); // b=\xfc in base64
    EXPECT_EQ(vokt("har").status, 2);
    l = vokt("har zwei fehlt");
    EXPECT_EQ(l.status, 2);
    EXPECT_EQ(l.aus, "");
}

} // namespace
