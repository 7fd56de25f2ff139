#!/usr/bin/env bash
# vokt.cgi behind the small CGI hosts that Debian ships besides the three
# big servers: busybox httpd, mini_httpd, a server of Go's net/http/cgi
# (tests/http/gocgi.go, built in the test) and Python's http.server.
#
#   hosts_test.sh busybox|mini_httpd|go|python PATH/TO/vokt.cgi
#
# The host runs as nobody in a sandbox (see servers.sh); the dump is the
# sandbox's /tmp/cgidump65534.  Exit status 0: all passed; 77: skipped
# (not root, or the host is not installed).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"
. "$here/checks.sh"

host=${1:?busybox, mini_httpd, go or python}
cgi=${2:?path to vokt.cgi}
require_server "$host"

sandbox_create "$cgi"
trap keep_or_remove EXIT
started=$(date +%s)
server_start "$host" || exit 1
echo "# $host on $BASE, sandbox $SANDBOX"
server=$host

W=$SANDBOX/work
mkdir -p "$W"
DUMP=$(sandbox_dump)
CURL=(curl -sS -m 60)
# mini_httpd answers a POST whose body came with its headers with nothing:
# curl holds the body back a second for the '100 Continue' that never comes.
[ "$host" = mini_httpd ] && CURL+=(-H 'Expect: 100-continue')
URL=$BASE/cgi-bin/vokt.cgi

# --- how the host hands a request over: recorded, not asserted -----------------
# One line per question, from the record vokt.cgi made of it.
observe() {
    local what=$1; shift
    rm -f "$DUMP"
    "${CURL[@]}" -o /dev/null -D "$W/observe.head" "$@" 2>/dev/null
    local status len body headers
    status=$(grep -a '^HTTP/' "$W/observe.head" | tail -n1 | cut -d' ' -f2)
    if [ -f "$DUMP" ]; then
        len=$(grep -a '^CONTENT_LENGTH=' "$DUMP" | cut -d= -f2)
        body=$(($(stat -c %s "$DUMP") - $(dump_env "$DUMP" | wc -c) - $(sed -n '/^\*-\{0,1\}[0-9]*$/{p;q}' "$DUMP" | wc -c)))
        headers=$(dump_env "$DUMP" | grep -a '^HTTP_' | cut -d= -f1 | tr '\n' ' ')
        echo "# observed $host, $what: status $status, CONTENT_LENGTH=${len:-(none)}, body $body bytes, $headers"
    else
        echo "# observed $host, $what: status $status, the program did not run"
    fi
}
printf 'a=1&b=2' >"$W/small.req"
observe "chunked POST of 7 bytes" -H 'Transfer-Encoding: chunked' --data-binary @"$W/small.req" "$URL"
observe "Authorization, Proxy, a header twice" -u x:y -H 'Proxy: http://evil' -H 'X-Dup: 1' -H 'X-Dup: 2' "$URL"
observe "a lowercase method" -X post --data-binary @"$W/small.req" "$URL"
observe "40 KiB of headers" -H "X-Big: $(head -c 40000 /dev/zero | tr '\0' a)" "$URL"
continue_seen=$("${CURL[@]}" -v -o /dev/null -H 'Expect: 100-continue' --data-binary @"$W/small.req" "$URL" 2>&1 |
    grep -c '^< HTTP/1.1 100')
echo "# observed $host, Expect: 100-continue: '100 Continue' sent: $continue_seen"

# --- GET and POST, page and dump byte for byte --------------------------------
check "GET: the response arrives complete" fetch get "$URL?seite=2&name=M%FCller&x=%3Cb%3E"
check "GET: status 200" status_is get 200
check "GET: the page starts with head and user line" page_starts_whole "$W/get"
check "GET: the page lists every entry of the dump, escaped, in order" page_env_matches_dump "$W/get"
check "GET: the page ends with the decoded variables" ends_with "$W/get" \
    <(printf '<H2>Die Liste der Variablen</H2>\nname = M\xfcller<p>\nx = &lt;b&gt;<p>\nseite = 2<p>\n')
check "GET: the dump ends with '*0'" ends_with "$DUMP" <(printf '\n*0\n')

printf 'name=M%%FCller&wort=a%%26b&seite=1' >"$W/form.req"
check "POST: the response arrives complete" fetch post "$URL?seite=2" --data-binary @"$W/form.req"
check "POST: the length line and the escaped body echo" contains "$W/post" \
    <(printf 'L\xe4nge des Inhalts:32\n<PRE>name=M%%FCller&amp;wort=a%%26b&amp;seite=1</PRE>\n')
check "POST: the page lists every entry of the dump" page_env_matches_dump "$W/post"
check "POST: the query string's value wins" ends_with "$W/post" \
    <(printf '<H2>Die Liste der Variablen</H2>\nwort = a&amp;b<p>\nname = M\xfcller<p>\nseite = 2<p>\n')
check "POST: the dump holds the request whole" dump_is_one_record "$W/form.req"

# --- 5 MB of random bytes ---------------------------------------------------------
head -c 5000000 /dev/urandom >"$W/big.req"
check "5 MB: the response arrives complete" fetch big "$URL" -H 'Content-Type: application/octet-stream' --data-binary @"$W/big.req"
check "5 MB: the whole length, no short read" \
    eval 'grep -aqx "$(printf "L\xe4nge des Inhalts:5000000")" "$W/big" && ! grep -aq eigendlich "$W/big"'
check "5 MB: the dump's body is byte for byte what was sent" dump_is_one_record "$W/big.req"

# --- concurrent POSTs ----------------------------------------------------------------
# Python's server resets connections beyond its listen queue of 5.
n=10
[ "$host" = python ] && n=5
fill=$(head -c 20000 /dev/zero | tr '\0' 'z')
for i in $(seq "$n"); do printf 'nr=%d&fill=%s%d' "$i" "$fill" "$i" >"$W/c$i.body"; done
post_concurrently "$n" "$URL"
concurrent_pages() {
    local i ok=0
    for i in $(seq "$n"); do
        page_starts_whole "$W/c$i.page" && grep -aqF "<PRE>nr=$i&amp;fill=$fill$i</PRE>" "$W/c$i.page" &&
            ends_with "$W/c$i.page" <(printf 'fill = %s%d<p>\nnr = %d<p>\n' "$fill" "$i" "$i") && ok=$((ok + 1))
    done
    [ "$ok" -eq "$n" ]
}
check "$n concurrent POSTs: every page is whole and its own" concurrent_pages
# mini_httpd passes no X-Nr header (few headers at all): the body tells.
concurrent_record() {
    local k
    k=$(tail -c 30 "$DUMP" | sed 's/.*z//')
    [ -n "$k" ] && [ -f "$W/c$k.body" ] && dump_is_one_record "$W/c$k.body"
}
check "$n concurrent POSTs: the dump is one of the records, whole" concurrent_record

# --- a refused method ----------------------------------------------------------------
if [ "$host" = python ]; then
    # http.server answers PUT itself (501) and never starts the program.
    check "PUT: Python's server refuses it itself" eval 'fetch put "$URL" -X PUT --data-binary x=1; status_is put 501'
else
    head -c 1000 /dev/urandom >"$W/put.req"
    # Sent at once with the headers: mini_httpd announces the body but keeps
    # it, and the program must not wait for it long.
    with_expect=("${CURL[@]}")
    CURL=(curl -sS -m 20)
    check "PUT with a body: the response arrives complete" fetch put "$URL?k=7" -X PUT --data-binary @"$W/put.req"
    check "PUT with a body: the method error page" \
        ends_with "$W/put" <(printf 'Fehler auf HTML_Seite: Zugriffsmethode: PUT<p>\n</BODY>\n</HTML>\n')
    check "PUT with a body: the record keeps the method and the query" \
        eval 'grep -aqx REQUEST_METHOD=PUT "$DUMP" && grep -aqx QUERY_STRING=k=7 "$DUMP"'
    check "GET with a 5-byte body: the response arrives complete" fetch getbody "$URL?g=1" -X GET --data-binary 12345
    check "GET with a 5-byte body: the whole page" \
        ends_with "$W/getbody" <(printf '<H2>Die Liste der Variablen</H2>\ng = 1<p>\n')
    CURL=("${with_expect[@]}")
fi

# --- a report on standard error while the page is held ---------------------------------
# A dump that cannot be written whole (a file size limit on the host and
# so on the program): the report goes to standard error, which mini_httpd
# gives the page's pipe; it must follow the page, never stand before its
# header.
if [ "$host" = mini_httpd ]; then
    server_stop
    PORT=$(free_port)
    BASE=http://127.0.0.1:$PORT
    URL=$BASE/cgi-bin/vokt.cgi
    sandbox_run prlimit --fsize=65536 mini_httpd -D -h 127.0.0.1 -p "$PORT" -d "$DOC_ROOT" -c 'cgi-bin/*' \
        -l "$SANDBOX/run/mini_httpd.log"
    wait_answer "$BASE/" || echo "# mini_httpd did not come back"
    head -c 200000 /dev/urandom >"$W/limit.req"
    check "write failure: the response arrives complete" fetch limit "$URL" --data-binary @"$W/limit.req"
    check "write failure: nothing stands before the page's header" \
        eval '[ "$(grep -av "^HTTP/1.. 100" "$W/limit.head" | sed -n 2p | tr -d "\r")" = "Content-type: text/html" ]'
    check "write failure: status 200, the page and the report on it" \
        eval 'status_is limit 200 && page_starts_whole "$W/limit" && grep -aq "konnte nicht vollst.ndig geschrieben werden: File too large" "$W/limit"'
fi

# --- a stalled and aborted upload ----------------------------------------------------
head -c 200000 /dev/urandom >"$W/b200k"
"${CURL[@]}" -o /dev/null -m 3 --limit-rate 20k --data-binary @"$W/b200k" "$URL" 2>/dev/null
echo "# observed $host, aborted upload: curl exit status $?"
printf 'after=1' >"$W/after.req"
check "aborted upload: the next request: the response arrives complete" fetch after "$URL" --data-binary @"$W/after.req"
check "aborted upload: the next request is served whole" \
    ends_with "$W/after" <(printf '<H2>Die Liste der Variablen</H2>\nafter = 1<p>\n')

server_stop
# A killed host's CGI children may take a moment to be gone.
none_left() {
    local i
    for i in $(seq 30); do
        [ "$(sandbox_leftovers)" -eq 0 ] && return 0
        sleep 0.1
    done
    return 1
}
check "stopped: no process of the sandbox is left" none_left
echo "# $host: $FAILED failed, $(($(date +%s) - started)) s"
[ "$FAILED" -eq 0 ]
