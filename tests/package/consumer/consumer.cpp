// A CGI program of its own on the cgivar library: its page head first, so
// that whatever getcgienv reports lands on a page; then the request into a
// map (no GCV_DUMP: no dump file, no page head of the library's); then its
// own use of the map.
#include <vokt/cgiausg.h>
#include <vokt/cgivar.h>
#include <vokt/varmap.h>

#include <cstdio>

int main(int, char **, char **env)
{
    html_kopf("Hallo");
    Varmap form;
    getcgienv(&form, env, 0);
    const char *name = form["name"];
    std::fputs("Guten Tag, ", stdout);
    html_text(name != nullptr ? name : "Unbekannt");
    std::fputs("<p>\n", stdout);
    html_ende();
    return 0;
}
