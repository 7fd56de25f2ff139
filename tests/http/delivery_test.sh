#!/usr/bin/env bash
# How the request reaches vokt.cgi through a server that streams the body
# into the program while it waits for the page (Apache's mod_cgid writes
# the whole body before it reads any output):
#
#   delivery_test.sh apache|lighttpd|nginx PATH/TO/vokt.cgi
#
# - large headers with a body, with POST and with GET: the page (five times
#   the headers' size) must not be written while the body is unread, or
#   both sides wait;
# - 20 chunked uploads of 1 MB: each arrives whole in the dump;
# - 20 PUTs with a body: each gets the method error page;
# - a POST while the dump cannot be written, and a GET with a body: the
#   body is taken and the page arrives.
# Exit status 0: all passed; 77: skipped.
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

server=${1:?apache, lighttpd or nginx}
cgi=${2:?path to vokt.cgi}
require_server "$server"

sandbox_create "$cgi"
trap sandbox_remove EXIT
server_start "$server" || exit 1
echo "# $server on $BASE"
W=$SANDBOX/work
mkdir -p "$W"
DUMP=$(sandbox_dump)
URL=$BASE/cgi-bin/vokt.cgi
# Well below Apache's Timeout (60 s): a stall fails instead of passing late.
CURL=(curl -sS -m 30)

# record_ends_with BODY-FILE ANNOUNCED: the dump's '*' line shows ANNOUNCED
# and the body after it is exactly BODY-FILE.
record_ends_with() {
    local n want
    n=$(stat -c %s "$1")
    want=$(printf '*%s\n' "$2")
    [ "$(stat -c %s "$DUMP")" -gt "$n" ] &&
        [ "$(head -c "-$n" "$DUMP" | tail -n1)" = "$want" ] &&
        tail -c "$n" "$DUMP" | cmp -s - "$1"
}
# page_whole PAGE LAST-LINE: the page has its variable heading and ends
# with LAST-LINE (a pattern).
page_whole() {
    grep -aqx '<H2>Die Liste der Variablen</H2>' "$1" && tail -n1 "$1" | grep -aq "$2"
}

# --- ten headers of 8000 '&' each and a 300 kB body --------------------------
# (lighttpd refuses headers of that size itself.)
if [ "$server" = apache ]; then
amps=$(head -c 8000 /dev/zero | tr '\0' '&')
headers=()
for i in 0 1 2 3 4 5 6 7 8 9; do headers+=(-H "X-Amp$i: $amps"); done
head -c 300000 /dev/zero | tr '\0' 'q' | sed 's/^/v=/' >"$W/big.req"
"${CURL[@]}" -o "$W/amps" "${headers[@]}" --data-binary @"$W/big.req" "$URL"
echo "# ten large headers: curl exit status $?"
check "ten large headers: the page arrives whole" page_whole "$W/amps" "^v = qqq*<p>\$"
check "ten large headers: the page lists every header" test "$(grep -ac "^HTTP_X_AMP[0-9]=&amp;&amp;" "$W/amps")" -eq 10
check "ten large headers: the dump holds the whole body" record_ends_with "$W/big.req" "$(stat -c %s "$W/big.req")"
# The same as a GET: the body is not shown, but the program must take it.
"${CURL[@]}" -o "$W/amps.get" "${headers[@]}" -X GET --data-binary @"$W/big.req" "$URL?g=1"
echo "# ten large headers, GET with a body: curl exit status $?"
check "ten large headers, GET with a body: the page arrives whole" page_whole "$W/amps.get" "^g = 1<p>\$"
fi

# --- 20 chunked uploads of 1 MB ----------------------------------------------
chunked_ok=0
for i in $(seq 20); do
    head -c 1000000 /dev/urandom >"$W/c.req"
    rm -f "$DUMP"
    "${CURL[@]}" -o "$W/c.page" -H 'Transfer-Encoding: chunked' --data-binary @"$W/c.req" "$URL" || continue
    if [ "$server" = apache ]; then
        announced=0   # Apache hands a chunked body over without a length
    else
        announced=1000000
    fi
    if record_ends_with "$W/c.req" "$announced" && page_whole "$W/c.page" "<p>\$"; then
        chunked_ok=$((chunked_ok + 1))
    else
        echo "# chunked upload $i did not arrive whole"
    fi
done
check "20 chunked uploads of 1 MB: each whole in the dump and on the page" test "$chunked_ok" -eq 20

# --- 20 PUTs with a body -------------------------------------------------------
head -c 300000 /dev/urandom >"$W/put.req"
put_ok=0
for i in $(seq 20); do
    "${CURL[@]}" -o "$W/put.page" -X PUT --data-binary @"$W/put.req" "$URL" &&
        tail -c 100 "$W/put.page" | grep -aq 'Zugriffsmethode: PUT<p>' &&
        put_ok=$((put_ok + 1))
done
check "20 PUTs with a body: each gets the method error page" test "$put_ok" -eq 20

# --- a body the program does not keep -----------------------------------------
# A dump that cannot be written: the body is still taken, so the page
# arrives (before, Apache answered nothing and nginx 502).
rm -f "$DUMP"
mkdir "$DUMP"
"${CURL[@]}" -o "$W/unwritable.page" --data-binary @"$W/put.req" "$URL"
check "a POST while the dump cannot be written: the page says so" \
    grep -aq 'kann leider nicht geschrieben werden!' "$W/unwritable.page"
rmdir "$DUMP"
# A GET with a body (lighttpd refuses such a request itself).
if [ "$server" != lighttpd ]; then
    "${CURL[@]}" -o "$W/get.page" -X GET --data-binary @"$W/put.req" "$URL?g=1"
    check "a GET with a body: the page arrives whole" page_whole "$W/get.page" "^g = 1<p>\$"
fi

server_stop
echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
