#include "herkunft.h"

using namespace vokt::intern;

Server server_von(const Aufzeichnung &a)
{
    std::string_view sw = a.wert("SERVER_SOFTWARE").value_or("");
    const std::pair<std::string_view, Server> produkte[] = {
        {"Apache", Server::APACHE},         {"lighttpd/", Server::LIGHTTPD},     {"nginx/", Server::NGINX},
        {"busybox httpd", Server::BUSYBOX}, {"mini_httpd/", Server::MINI_HTTPD}, {"SimpleHTTP/", Server::PYTHON}};
    for (const auto &[anfang, server] : produkte)
        if (sw.starts_with(anfang))
            return server;
    if (sw == "go")
        return Server::GO;
    if (!sw.empty())
        return Server::UNBEKANNT;
    if (a.wert("SERVER_SIGNATURE") || a.wert("CONTEXT_PREFIX"))
        return Server::APACHE;
    if (a.wert("FCGI_ROLE") && a.wert("DOCUMENT_URI"))
        return Server::NGINX;
    return Server::UNBEKANNT;
}

const char *servername(Server s)
{
    switch (s) {
    case Server::APACHE: return "Apache";
    case Server::LIGHTTPD: return "lighttpd";
    case Server::NGINX: return "nginx";
    case Server::BUSYBOX: return "busybox httpd";
    case Server::MINI_HTTPD: return "mini_httpd";
    case Server::GO: return "Go's net/http/cgi";
    case Server::PYTHON: return "Python's http.server";
    case Server::UNBEKANNT: break;
    }
    return "the server";
}

bool als_kopf_gesendet(const Aufzeichnung &a, std::string_view name)
{
    auto wert = a.wert(name);
    if (!wert || (wert->empty() && name == "CONTENT_LENGTH"))
        return false;
    Server s = server_von(a);
    bool frag_http = (s == Server::NGINX && wert->empty()) || (s == Server::LIGHTTPD && name == "CONTENT_LENGTH");
    return !frag_http || a.wert("HTTP_" + std::string(name)).has_value();
}
