#!/usr/bin/env bash
# End-to-end tests of vokt.cgi behind a real web server, driven by curl.
#
#   http_test.sh lighttpd|apache|nginx PATH/TO/vokt.cgi
#
# The server runs as user nobody in a sandbox (see servers.sh), so the dump
# file the tests read is the sandbox's /tmp/cgidump65534.  Exit status 0:
# all passed; 77: skipped (not root, or the server is not installed).
set -uo pipefail
export LC_ALL=C   # the pages are ISO 8859-1: match bytes
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"
. "$here/checks.sh"

server=${1:?lighttpd, apache or nginx}
cgi=${2:?path to vokt.cgi}
require_server "$server"

sandbox_create "$cgi"
trap keep_or_remove EXIT
server_start "$server" || exit 1
echo "# $server on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W"
DUMP=$(sandbox_dump)
CURL=(curl -sS -m 120)
URL=$BASE/cgi-bin/vokt.cgi

# The server still serves a plain GET, whole.
still_answers() {
    fetch alive "$URL?alive=1" &&
        status_is alive 200 &&
        page_starts_whole "$W/alive" &&
        ends_with "$W/alive" <(printf '<H2>Die Liste der Variablen</H2>\nalive = 1<p>\n')
}

# Waits (at most 10 s) until no copy of the program runs in the sandbox.
wait_cgi_idle() {
    local i p busy
    for i in $(seq 100); do
        busy=0
        for p in /proc/[0-9]*; do
            if tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -qF "$SANDBOX/cgi-bin/vokt.cgi"; then
                busy=1
                break
            fi
        done
        [ "$busy" -eq 0 ] && return 0
        sleep 0.1
    done
    return 1
}

# --- what the server hands a CGI program ------------------------------------
# Recorded, not asserted: how the body arrives depends on the server.
observe() {
    local what=$1; shift
    "${CURL[@]}" "$@" "$BASE/cgi-bin/probe.cgi" -o "$W/probe" || true
    echo "# observed $server, $what: $(tr '\n' ' ' <"$W/probe")"
}
head -c 200000 /dev/urandom >"$W/b200k"
observe "POST 3 bytes" --data-binary 'a=1'
observe "POST 200000 bytes" --data-binary @"$W/b200k"
observe "POST 200000 bytes chunked" -H 'Transfer-Encoding: chunked' --data-binary @"$W/b200k"

# --- GET with a query string -------------------------------------------------
check "GET: the response arrives complete" fetch get "$URL?seite=2&name=M%FCller&wort=a%26b&x=%3Cb%3E"
check "GET: status 200, text/html" status_is get 200
check "GET: Content-Type text/html" header_has get 'Content-Type: text/html'
check "GET: the page starts with head and user line" page_starts_whole "$W/get"
check "GET: the page lists the escaped QUERY_STRING" \
    grep -aqxF 'QUERY_STRING=seite=2&amp;name=M%FCller&amp;wort=a%26b&amp;x=%3Cb%3E<p>' "$W/get"
check "GET: the page lists every entry of the dump, escaped, in order" page_env_matches_dump "$W/get"
check "GET: the page ends with the decoded variables in the map's order" ends_with "$W/get" \
    <(printf '<H2>Die Liste der Variablen</H2>\nwort = a&amp;b<p>\nname = M\xfcller<p>\nx = &lt;b&gt;<p>\nseite = 2<p>\n')
check "GET: the dump ends with '*0' and no body" ends_with "$DUMP" <(printf '\n*0\n')

# --- a path after the program's name ------------------------------------------
check "PATH_INFO: the response arrives complete" fetch pathinfo "$URL/extra/teil?p=1"
check "PATH_INFO: status 200, the record holds the path" \
    eval 'status_is pathinfo 200 && grep -aqx "PATH_INFO=/extra/teil" "$DUMP"'

# --- the Authorization header ------------------------------------------------
# lighttpd and nginx hand it to the program; Apache keeps it back unless
# CGIPassAuth On is set for the CGI folder (the README says so).
check "Authorization: the response arrives complete" fetch auth "$URL" -u 'x:y'
if [ "$server" = apache ]; then
    check "Authorization: Apache keeps it from the program" sh -c "! grep -aq '^HTTP_AUTHORIZATION=' '$DUMP'"
else
    check "Authorization: the dump holds it" grep -aqx 'HTTP_AUTHORIZATION=Basic eDp5' "$DUMP"
fi

# --- POST urlencoded with a query string --------------------------------------
printf 'name=M%%FCller&wort=a%%26b&seite=1' >"$W/form.req"
check "POST: the response arrives complete" fetch post "$URL?seite=2" --data-binary @"$W/form.req"
check "POST: status 200" status_is post 200
check "POST: length line and the escaped body echo" contains "$W/post" \
    <(printf 'L\xe4nge des Inhalts:32\n<PRE>name=M%%FCller&amp;wort=a%%26b&amp;seite=1</PRE>\n')
check "POST: the page lists every entry of the dump" page_env_matches_dump "$W/post"
check "POST: the query string's value wins" ends_with "$W/post" \
    <(printf '<H2>Die Liste der Variablen</H2>\nwort = a&amp;b<p>\nname = M\xfcller<p>\nseite = 2<p>\n')
check "POST: the dump holds the request whole" dump_is_one_record "$W/form.req"
check "POST: the dump names the form's content type" \
    grep -aqx 'CONTENT_TYPE=application/x-www-form-urlencoded' "$DUMP"

# --- 16 MiB of random bytes ---------------------------------------------------
head -c $((16 << 20)) /dev/urandom >"$W/big.req"
check "16 MiB: the response arrives complete" fetch big "$URL" -H 'Content-Type: application/octet-stream' --data-binary @"$W/big.req"
check "16 MiB: status 200" status_is big 200
full_length_read() {
    grep -aqx "$(printf 'L\xe4nge des Inhalts:%d' "$2")" "$W/$1" && ! grep -aq 'eigendlich' "$W/$1"
}
check "16 MiB: the page has the length and no short-read report" full_length_read big 16777216
check "16 MiB: the dump's body is byte for byte what was sent" dump_is_one_record "$W/big.req"

if [ "$server" != apache ]; then
    # lighttpd and nginx read the whole body first, remove the chunking and
    # set CONTENT_LENGTH themselves.
    rm -f "$DUMP"
    check "16 MiB chunked: the response arrives complete" fetch chunked "$URL" -H 'Transfer-Encoding: chunked' --data-binary @"$W/big.req"
    check "16 MiB chunked: status 200" status_is chunked 200
    check "16 MiB chunked: the page has the length" full_length_read chunked 16777216
    check "16 MiB chunked: CONTENT_LENGTH set by the server" grep -aqx 'CONTENT_LENGTH=16777216' "$DUMP"
    check "16 MiB chunked: the dump's body is what was sent" dump_is_one_record "$W/big.req"
else
    # Apache passes a chunked body as it comes, without CONTENT_LENGTH: the
    # program reads it to the end of its input.  The length line and the
    # dump's '*' line show the announced length, 0; the body follows it.
    chunked_dump() {
        ! grep -aq '^CONTENT_LENGTH=' "$DUMP" && ends_with "$DUMP" <(printf '\n*0\n'; cat "$1")
    }
    : >"$W/empty.req"
    check "chunked, empty: the response arrives complete" fetch chunked "$URL" -H 'Transfer-Encoding: chunked' --data-binary ''
    check "chunked, empty: status 200" status_is chunked 200
    check "chunked, empty: length 0, empty echo, no variables" ends_with "$W/chunked" \
        <(printf 'L\xe4nge des Inhalts:0\n<PRE></PRE>\n<H2>Die Liste der Variablen</H2>\n')
    check "chunked, empty: no CONTENT_LENGTH, the dump ends with '*0'" chunked_dump "$W/empty.req"
    printf 'a=1&b=2' >"$W/small.req"
    check "chunked, small: the response arrives complete" fetch chunked "$URL" -H 'Transfer-Encoding: chunked' --data-binary @"$W/small.req"
    check "chunked, small: the echo and the variables" ends_with "$W/chunked" \
        <(printf 'L\xe4nge des Inhalts:0\n<PRE>a=1&amp;b=2</PRE>\n<H2>Die Liste der Variablen</H2>\na = 1<p>\nb = 2<p>\n')
    check "chunked, small: the dump holds the body after '*0'" chunked_dump "$W/small.req"
    check "16 MiB chunked: the response arrives complete" fetch chunked "$URL" -H 'Transfer-Encoding: chunked' --data-binary @"$W/big.req"
    check "16 MiB chunked: status 200" status_is chunked 200
    check "16 MiB chunked: the dump's body is what was sent" chunked_dump "$W/big.req"
fi
check "after the uploads: the server still answers" still_answers

# --- methods the program refuses ---------------------------------------------
method_refused() {
    local name=$1
    status_is "$name" 200 &&
        ends_with "$W/$name" <(printf 'Fehler auf HTML_Seite: Zugriffsmethode: %s<p>\n</BODY>\n</HTML>\n' "$2") &&
        ! grep -aq 'Die Liste der Variablen' "$W/$name" &&
        grep -aqx "REQUEST_METHOD=$2" "$DUMP" && grep -aqx "QUERY_STRING=$4" "$DUMP" &&
        grep -aqx 'HTTP_X_NR=refused' "$DUMP" && dump_is_one_record "$3"
}
# The body of a refused request is read into the dump, so a server that
# streams it into the program (Apache) or writes it all in before it passes
# the page on (fcgiwrap) delivers the error page, and the record is whole:
# every entry, the '*' line and the body.
: >"$W/none.req"
check "PUT with a body: the response arrives complete" fetch put "$URL?k=7" -X PUT -H 'X-Nr: refused' --data-binary @"$W/b200k"
check "PUT with a body: the method error page; the dump holds the whole request" method_refused put PUT "$W/b200k" k=7
check "DELETE: the response arrives complete" fetch delete "$URL?a=1" -X DELETE -H 'X-Nr: refused'
check "DELETE: the method error page; the dump holds the whole request" method_refused delete DELETE "$W/none.req" a=1
check "after the refusals: the server still answers" still_answers

# --- 50 concurrent POSTs -------------------------------------------------------
fill=$(head -c 30000 /dev/zero | tr '\0' 'z')
for i in $(seq 50); do
    printf 'nr=%d&fill=%s%d' "$i" "$fill" "$i" >"$W/c$i.body"
done
rm -f "$DUMP"
post_concurrently 50 "$URL"
concurrent_pages() {
    local i ok=0
    for i in $(seq 50); do
        if page_starts_whole "$W/c$i.page" &&
            grep -aqx "L.nge des Inhalts:$(stat -c %s "$W/c$i.body")" "$W/c$i.page" &&
            grep -aqF "<PRE>nr=$i&amp;fill=$fill$i</PRE>" "$W/c$i.page" &&
            grep -aqx "HTTP_X_NR=$i<p>" "$W/c$i.page" &&
            ends_with "$W/c$i.page" <(printf 'fill = %s%d<p>\nnr = %d<p>\n' "$fill" "$i" "$i"); then
            ok=$((ok + 1))
        else
            echo "# response $i is not its own whole page"
        fi
    done
    [ "$ok" -eq 50 ]
}
check "50 concurrent POSTs: every response is whole and shows its own body" concurrent_pages
check "50 concurrent POSTs: the dump is exactly one of the records, whole" concurrent_dump

# --- a client that goes away in the middle of a slow upload ------------------
rm -f "$DUMP"
"${CURL[@]}" -o /dev/null -m 2 --limit-rate 20k -H 'X-Nr: slow' --data-binary @"$W/b200k" "$URL" 2>/dev/null
echo "# observed $server, aborted upload: curl exit status $? (28: timed out as planned)"
check "aborted upload: the program has ended" wait_cgi_idle
slow_dump_own() {
    # lighttpd and nginx never start the program for a body that did not
    # arrive; Apache does, and the dump then holds that request alone, its body cut.
    [ -f "$DUMP" ] || return 0
    local n
    [ "$(grep -a -c '^REQUEST_METHOD=' "$DUMP")" -eq 1 ] &&
        grep -aqx 'HTTP_X_NR=slow' "$DUMP" &&
        n=$(dump_env "$DUMP" | wc -c) &&
        tail -c +$((n + 9)) "$DUMP" >"$W/slow.body" &&
        [ "$(sed -n "$(( $(dump_env "$DUMP" | wc -l) + 1 ))p" "$DUMP")" = '*200000' ] &&
        cmp -s "$W/slow.body" <(head -c "$(stat -c %s "$W/slow.body")" "$W/b200k")
}
check "aborted upload: any dump left is that request's own, body cut short" slow_dump_own
printf 'after=1' >"$W/after.req"
check "aborted upload: the next request: the response arrives complete" fetch after "$URL" --data-binary @"$W/after.req"
check "aborted upload: the next request is served whole" \
    ends_with "$W/after" <(printf '<H2>Die Liste der Variablen</H2>\nafter = 1<p>\n')
check "aborted upload: the dump is the next request's, whole" dump_is_one_record "$W/after.req"

# --- nothing is left behind ----------------------------------------------------
server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0

echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
