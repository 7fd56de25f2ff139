// The texts of the program's page and dump file, once for every test: the
// library writes them, vokt.cgi puts them together, the tests compare.
#ifndef VOKT_TEST_PAGES_H
#define VOKT_TEST_PAGES_H

#include <string>
#include <vector>

inline const std::string ENDE = "</BODY>\n</HTML>\n";
inline const std::string VARS = "<H2>Die Liste der Variablen</H2>\n";
inline const std::string DUMP = "/tmp/cgidump65534";
inline const std::string SHORT_READ =
    "Das kann eigendlich nicht vorkommen, da\xDF ich nicht alles lesen kann, ist es aber ...";
inline const std::string TOO_MANY = "Zu viele Formularvariablen, nur die ersten 10000 wurden \xFC"
                                    "bernommen";

inline std::string user_line(const std::string &path, int uid)
{
    return "Ich bin effektiv Nutzer " + std::to_string(uid) + " und pinsele daher in " + path + "<p>\n";
}

// The page of vokt.cgi up to the environment.
inline std::string head(const std::string &path = DUMP, int uid = 65534)
{
    return "Content-type: text/html\n\n<HTML>\n<TITLE>Cgi-Dump</TITLE>\n</HEAD>\n<BODY>\n"
           "<H1>Cgi-Dump</H1>\n<H2>User-Information</H2>" +
           user_line(path, uid);
}

inline std::string env_section(const std::vector<std::string> &env)
{
    std::string s = "<H2>Die Environmentvariablen</H2>\n";
    for (const auto &e : env)
        s += e + "<p>\n";
    return s;
}

inline std::string length_line(const std::string &length)
{
    return "L\xE4nge des Inhalts:" + length + "\n";
}

// Reports: cgi_error's and cgi_usererror's, each closing the page.
inline std::string internal_error(const std::string &text)
{
    return "<B>Interner Fehler:</B>" + text + "<p>\n";
}

inline std::string user_error(const std::string &text)
{
    return "<B>F E H L E R:</B>" + text + "<p>\n";
}

inline std::string refused_method(const std::string &method)
{
    return "Fehler auf HTML_Seite: Zugriffsmethode: " + method + "<p>\n" + ENDE;
}

inline std::string cannot_write(const std::string &path)
{
    return "Datei " + path + " kann leider nicht geschrieben werden!\n" + ENDE;
}

inline std::string write_failed(const std::string &path, const std::string &why)
{
    return "Datei " + path + " konnte nicht vollst\xE4ndig geschrieben werden: " + why;
}

// The dump file: its entries, one a line; up to the body.
inline std::string entry_lines(const std::vector<std::string> &env)
{
    std::string s;
    for (const auto &e : env)
        s += e + "\n";
    return s;
}

inline std::string dump_head(const std::vector<std::string> &env, const std::string &length)
{
    return entry_lines(env) + "*" + length + "\n";
}

#endif
