// Checks of what vokt show writes, for the fuzz targets of its views:
// the terminal gets no control byte but the line feed and no character
// that a terminal takes for a command, the page is UTF-8 and holds no
// markup but its own.
#ifndef VOKT_FUZZ_AUSGABE_H
#define VOKT_FUZZ_AUSGABE_H

#include "ansicht.h"
#include "model.h"

#include <string>
#include <string_view>

namespace ausgabe {

inline void text_pruefen(const std::string &text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        model::check((b >= 0x20 && b != 0x7F) || b == '\n', "a control byte reaches the terminal");
        // C1 controls as UTF-8: C2 80 to C2 9F.
        model::check(!(b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0),
                     "a C1 control reaches the terminal");
    }
    model::check(ist_utf8(text), "the text is no UTF-8");
}

inline void html_pruefen(const std::string &html)
{
    model::check(ist_utf8(html), "the page is no UTF-8");
    const std::string_view eigene[] = {
        "<p",      "</p",    "<b>",     "</b>",     "<code>",  "</code>",   "<pre",   "</pre",  "<span class=\"e\">",
        "</span>", "<h1>",   "</h1>",   "<h2>",     "</h2>",   "<!DOCTYPE", "<html",  "</html", "<head>",
        "</head>", "<meta ", "<style>", "</style>", "<title>", "</title>",  "<body>", "</body>"};
    for (std::size_t i = html.find('<'); i != std::string::npos; i = html.find('<', i + 1)) {
        bool bekannt = false;
        for (std::string_view e : eigene)
            bekannt = bekannt || std::string_view(html).substr(i).starts_with(e);
        model::check(bekannt, "markup on the page that is not the page's own", html.substr(i, 40));
    }
}

inline void pruefen(const Ansicht &v)
{
    text_pruefen(als_text(v));
    html_pruefen(als_html(v));
}

} // namespace ausgabe

#endif
