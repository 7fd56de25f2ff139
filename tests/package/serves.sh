# shellcheck shell=bash
# serves PROGRAM WORK_DIR: runs the consumer program (consumer/) as a CGI
# program: a GET, a POST and a refused method, each page byte for byte and
# the exit status; the refused method ends the process with status 1.
# Sourced by library_test.sh and deb_namespace.sh.

# consumer_page BODY: the consumer's page around BODY.
consumer_page() {
    printf 'Content-type: text/html\n\n<HTML>\n<TITLE>Hallo</TITLE>\n</HEAD>\n<BODY>\n<H1>Hallo</H1>\n%s</BODY>\n</HTML>\n' "$1"
}

serves() {
    local p=$1 o=$2/serves
    consumer_page "$(printf 'Guten Tag, M\xfcller &amp; S&lt;ohn&gt;<p>\n')"$'\n' >"$o.get.expected"
    consumer_page $'Guten Tag, Anna<p>\n' >"$o.post.expected"
    consumer_page $'Fehler auf HTML_Seite: Zugriffsmethode: PUT<p>\n' >"$o.put.expected"
    env -i REQUEST_METHOD=GET 'QUERY_STRING=name=M%FCller+%26+S%3Cohn%3E' \
        "$p" </dev/null >"$o.get" &&
        cmp "$o.get" "$o.get.expected" &&
        printf 'name=Anna&x=1' | env -i REQUEST_METHOD=POST CONTENT_LENGTH=13 \
            "$p" >"$o.post" &&
        cmp "$o.post" "$o.post.expected" || return 1
    env -i REQUEST_METHOD=PUT "$p" </dev/null >"$o.put"
    [ $? -eq 1 ] && cmp "$o.put" "$o.put.expected"
}
