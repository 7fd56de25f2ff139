#!/usr/bin/env bash
# vokt-replay with records that a real web server made: a record replays
# into a CGI program exactly as the server ran vokt.cgi, into vokt.cgi itself
# it gives the original page again, and the command that --curl prints sends
# the same request to the server again.
#
#   replay_test.sh lighttpd|apache PATH/TO/vokt.cgi PATH/TO/vokt-replay
#
# The server runs as nobody in a sandbox (see servers.sh).  Exit status 0:
# all passed; 77: skipped (not root, or the server is not installed).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

server=${1:?lighttpd or apache}
cgi=${2:?path to vokt.cgi}
replay=${3:?path to vokt-replay}
require_server "$server"

sandbox_create "$cgi"
trap keep_or_remove EXIT
# Apache with its signature on, as Debian configures it: SERVER_SIGNATURE
# then ends in a line feed.
APACHE_EXTRA='ServerSignature On'
server_start "$server" || exit 1
echo "# $server on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W" "$SANDBOX/bin"
chmod 755 "$W" "$SANDBOX/bin"
# Inside the sandbox's namespace (whose /tmp is its own) the build folder
# may not be visible: the replay program gets a copy in the sandbox.
install -m 755 "$replay" "$SANDBOX/bin/vokt-replay"
DUMP=$(sandbox_dump)
URL=$BASE/cgi-bin/vokt.cgi
CURL=(curl -sS -m 120)

# The program replayed into: its whole environment as it got it (from
# /proc, NUL-separated, in order) into $1, its standard input into $2.
cat >"$W/show.sh" <<'EOF'
#!/bin/sh
/bin/cat /proc/$$/environ >"$1"
/bin/cat >"$2"
EOF
chmod 755 "$W/show.sh"

# keep NAME: the dump as the record $W/NAME.rec, readable for nobody.
keep() { cp "$DUMP" "$W/$1.rec" && chmod 644 "$W/$1.rec"; }

# replays_exactly NAME: replays $W/NAME.rec into show.sh, and writes what it
# saw the way vokt.cgi writes a record (each entry, a line feed in it as a
# line feed and a tab, and a line feed; the record's own length line; the
# body): the result must be the record, byte for byte.  So every entry the
# server gave vokt.cgi, in its order, and every body byte reached the
# replayed program, and nothing else.  The server's own PATH (Apache passes
# the one it was started with) only with --keep PATH: without it the program
# gets a fixed one.
replays_exactly() {
    local rec=$W/$1.rec len
    "$replay" --keep PATH "$rec" "$W/show.sh" "$W/$1.env" "$W/$1.body" 2>"$W/$1.err" || return 1
    len=$(grep -a -m1 '^\*-\{0,1\}[0-9][0-9]*$' "$rec")
    {
        sed -z 's/\n/\n\t/g' "$W/$1.env" | tr '\0' '\n'
        [ -z "$len" ] || printf '%s\n' "$len"
        cat "$W/$1.body"
    } >"$W/$1.rebuilt"
    cmp -s "$W/$1.rebuilt" "$rec"
}
no_notes() { [ ! -s "$W/$1.err" ] || { cat "$W/$1.err"; return 1; }; }

# in_sandbox CMD...: runs CMD as nobody in a namespace whose /tmp is the
# sandbox's, in the foreground; so vokt.cgi's dump is the sandbox's too.
in_sandbox() {
    unshare --mount --propagation private --fork \
        sh -c 'mount --bind "$1/tmp" /tmp || exit 125; shift
               exec setpriv --reuid=65534 --regid=65534 --clear-groups "$@"' sh "$SANDBOX" "$@"
}

show_record() {
    echo "# the record ($1), as cat -v shows it:"
    cat -v "$W/$1.rec" | sed 's/^/#   /'
    echo
}

# --- a POST with a query string and hostile header values --------------------
printf 'name=M%%FCller&wort=a%%26b' >"$W/form.req"
HEADERS=(-H $'X-Quote: it\'s "q" $(id) `id` \\ \xfc' -H 'Accept-Language: de-DE, en;q=0.5'
         -H 'Cookie: a=1; b=2' -H 'X-Empty;')
check "POST: the response arrives complete" \
    "${CURL[@]}" -o "$W/post.page" "${HEADERS[@]}" --data-binary @"$W/form.req" "$URL?seite=2&x=%3Cb%3E"
keep post
show_record post
# Apache's signature ends in a line feed: the record continues it with a line that is one tab.
apache_signature() {
    local n
    n=$(grep -a -n -m1 '^SERVER_SIGNATURE=<address>.*</address>$' "$W/post.rec" | cut -d: -f1)
    [ -n "$n" ] && [ "$(sed -n "$((n + 1))p" "$W/post.rec")" = "$(printf '\t')" ]
}
[ "$server" = apache ] &&
    check "POST: Apache's record has SERVER_SIGNATURE with its line feed, written as a line feed and a tab" apache_signature
check "POST: the replayed program sees every entry and the body as vokt.cgi did" replays_exactly post
check "POST: the replay has nothing to note" no_notes post

# Into vokt.cgi itself, as nobody in the sandbox: the same page, and the
# same record again.
replay_into_vokt() {
    in_sandbox "$SANDBOX/bin/vokt-replay" --keep PATH "$W/post.rec" "$SANDBOX/cgi-bin/vokt.cgi" >"$W/post.replayed" ||
        return 1
    { printf 'Content-type: text/html\n\n'; cat "$W/post.page"; } | cmp -s - "$W/post.replayed"
}
check "POST into vokt.cgi: the original page" replay_into_vokt
check "POST into vokt.cgi: it records the same record" cmp -s "$W/post.rec" "$DUMP"

# --- --curl sends the same request again ---------------------------------------
# The request part of a record: method, URI, query, content type and
# length, the headers in order, and the body.  Where curl puts the
# Content-Length header among the others is curl's business (Apache lists
# CONTENT_LENGTH and CONTENT_TYPE in the order of the headers).
request_part() {
    grep -a -m1 -b '^\*-\{0,1\}[0-9][0-9]*$' "$1" >"$1.len" || return 1
    local at len
    at=$(cut -d: -f1 "$1.len")
    len=$(cut -d: -f2 "$1.len")
    head -c "$at" "$1" >"$1.entries"
    grep -a '^HTTP_[A-Z0-9_]*=' "$1.entries" | grep -av '^HTTP_CONTENT_LENGTH='
    grep -a -E '^(REQUEST_METHOD|REQUEST_URI|QUERY_STRING|CONTENT_TYPE|CONTENT_LENGTH)=' "$1.entries" | sort
    tail -c +$((at + ${#len} + 2)) "$1"
}
curl_resends() {
    "$replay" --curl "$W/post.rec" >"$W/curl.cmd" 2>"$W/curl.err" || return 1
    echo "# --curl printed:"
    sed 's/^/#   /' "$W/curl.cmd"
    rm -f "$DUMP"
    bash -c "$(cat "$W/curl.cmd")" >"$W/curl.page" || return 1
    keep curl
    request_part "$W/post.rec" >"$W/post.request" && request_part "$W/curl.rec" >"$W/curl.request" &&
        [ -s "$W/post.request" ] && cmp -s "$W/post.request" "$W/curl.request"
}
check "--curl: the new record has the first one's method, URI, query, headers and body" curl_resends

# --- 16 MiB of random bytes ------------------------------------------------------
head -c $((16 << 20)) /dev/urandom >"$W/big.req"
check "16 MiB: the response arrives complete" \
    "${CURL[@]}" -o /dev/null -H 'Content-Type: application/octet-stream' --data-binary @"$W/big.req" "$URL"
keep big
check "16 MiB: the replayed program sees every entry and every body byte" replays_exactly big
check "16 MiB: the body is what was sent" cmp -s "$W/big.body" "$W/big.req"
check "16 MiB: --body gives it raw" cmp -s <("$replay" --body "$W/big.rec") "$W/big.req"

# --- a refused method: its record is whole too ------------------------------------
check "DELETE: the response arrives complete" "${CURL[@]}" -o /dev/null -X DELETE "$URL?a=1"
keep delete
check "DELETE: the replayed program sees every entry and no body" replays_exactly delete
check "DELETE: the record ends with its '*0' line, the query kept" \
    eval '[ "$(tail -n1 "$W/delete.rec")" = "*0" ] && grep -aqx "QUERY_STRING=a=1" "$W/delete.rec"'

server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
