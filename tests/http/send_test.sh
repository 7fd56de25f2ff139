#!/usr/bin/env bash
# vokt send: records that Apache made, sent again with vokt send to the
# same server, over http and over https with a certificate that the test
# makes and trusts (--cacert).  Over http the new record is one that vokt
# diff finds equal; over https it differs only in the entries that say
# where the request went.  https without trust fails with a clear line;
# --insecure goes through with a note.
#
#   send_test.sh PATH/TO/vokt.cgi PATH/TO/vokt
#
# The server runs as nobody in a sandbox (see servers.sh).  Exit status 0:
# all passed; 77: skipped (not root, or Apache or openssl is missing).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

cgi=${1:?path to vokt.cgi}
vokt=$(readlink -f "${2:?path to vokt}")
require_server apache
command -v openssl >/dev/null || skip "openssl is not installed"

sandbox_create "$cgi"
trap keep_or_remove EXIT
W=$SANDBOX/work
mkdir -p "$W"

# A certificate for 127.0.0.1 that nobody but this test trusts; the key
# is readable by the server's user (nobody) inside the sandbox.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$SANDBOX/run/key.pem" -out "$W/cert.pem" 2>"$W/openssl.err" || { cat "$W/openssl.err"; exit 1; }
chmod 644 "$SANDBOX/run/key.pem"
TLS_PORT=$(free_port)
APACHE_EXTRA="LoadModule ssl_module /usr/lib/apache2/modules/mod_ssl.so
Listen 127.0.0.1:$TLS_PORT
<VirtualHost 127.0.0.1:$TLS_PORT>
    SSLEngine on
    SSLCertificateFile $W/cert.pem
    SSLCertificateKeyFile $SANDBOX/run/key.pem
</VirtualHost>"
server_start apache || exit 1
TLS=https://127.0.0.1:$TLS_PORT
echo "# apache on $BASE and $TLS, sandbox $SANDBOX"

DUMP=$(sandbox_dump)
URL=$BASE/cgi-bin/vokt.cgi
CURL=(curl -sS -m 60 -o /dev/null)

# send_again NAME TAG VOKT-SEND-ARGS...: vokt send NAME.rec, its output in
# NAME.TAG.out and .err, the new record as NAME.TAG.rec; vokt send's status.
send_again() {
    local name=$1 tag=$2 status
    shift 2
    rm -f "$DUMP"
    "$vokt" send "$W/$name.rec" "$@" >"$W/$name.$tag.out" 2>"$W/$name.$tag.err"
    status=$?
    [ ! -f "$DUMP" ] || cp "$DUMP" "$W/$name.$tag.rec"
    return "$status"
}

# same NAME TAG [DIFF-LINES]: vokt diff finds NAME.TAG.rec equal to
# NAME.rec, or differing in exactly DIFF-LINES.
same() {
    local name=$1 tag=$2 expected=${3:-}
    "$vokt" diff "$W/$name.rec" "$W/$name.$tag.rec" >"$W/$name.$tag.diff"
    local status=$?
    if [ -z "$expected" ]; then
        [ "$status" -eq 0 ] && return 0
    else
        [ "$status" -eq 1 ] && [ "$(cat "$W/$name.$tag.diff")" = "$expected" ] && return 0
    fi
    echo "# vokt diff:"; sed 's/^/#   /' "$W/$name.$tag.diff"
    echo "# vokt send said:"; sed 's/^/#   /' "$W/$name.$tag.err"
    return 1
}

# answered NAME TAG: vokt send wrote vokt.cgi's response as it came (its
# page, as long as its Content-Length says, or chunked) and the summary:
# status 200, as many body bytes, the times.
answered() {
    local out=$W/$1.$2.out err=$W/$1.$2.err length
    length=$(sed '1,/^\r$/d' "$out" | wc -c)
    head -n 1 "$out" | grep -qx $'HTTP/1.1 200 OK\r' && grep -q '<TITLE>Cgi-Dump</TITLE>' "$out" &&
        grep -qxE $'(Content-Length: '"$length"$'|Transfer-Encoding: chunked)\r' "$out" &&
        grep -qE '^vokt: https?://127\.0\.0\.1:[0-9]+: status 200 \("HTTP/1\.1 200 OK"\), [0-9]+ header lines, '"$length"' bytes of body$' "$err" &&
        grep -qE ': connected after [0-9.]+ ms, (TLS after [0-9.]+ ms, )?first byte after [0-9.]+ ms, done after [0-9.]+ ms$' "$err"
}

printf 'name=M%%FCller&wort=a%%26b' >"$W/form.req"
head -c 3000 /dev/urandom >"$W/bild.bin"
head -c 5000 /dev/urandom >"$W/put.bin"
check "GET: recorded" sent get -H 'Accept-Language: de' -H 'X-Leer;' "$URL/x?a=1&b=%FC"
check "form POST: recorded" sent post --data-binary @"$W/form.req" "$URL?seite=2"
check "multipart upload: recorded" sent multipart -F "bild=@$W/bild.bin;type=image/png" -F 'a=b' "$URL"
check "PUT: recorded" sent put -T "$W/put.bin" -H 'Content-Type: application/octet-stream' "$URL/upload"

# over_http NAME, over_tls NAME: sent to the server over http (https
# with --cacert), the response shown.
over_http() { send_again "$1" http --url "$BASE" && answered "$1" http; }
over_tls() { send_again "$1" tls --url "$TLS" --cacert "$W/cert.pem" && answered "$1" tls; }
for name in get post multipart put; do
    check "$name: sent over http, the response shown" over_http "$name"
    check "$name: vokt diff finds the record sent over http equal" same "$name" http
done

# Over https the entries that say where the request went differ.
tls_diff() {
    printf '%s\n' "~ HTTP_HOST: \"127.0.0.1:$PORT\" -> \"127.0.0.1:$TLS_PORT\"" \
        "~ SERVER_PORT: \"$PORT\" -> \"$TLS_PORT\"" \
        "~ REQUEST_SCHEME: \"http\" -> \"https\"" \
        "+ HTTPS = \"on\""
}
for name in get put; do
    check "$name: sent over https with --cacert, the response shown" over_tls "$name"
    check "$name: over https, vokt diff finds only where it went" same "$name" tls "$(tls_diff)"
done

untrusted() {
    send_again get untrusted --url "$TLS"
    local status=$?
    [ "$status" -eq 2 ] && [ ! -s "$W/get.untrusted.out" ] && [ ! -f "$W/get.untrusted.rec" ] &&
        grep -qxF "vokt: $TLS: no response: SSL certificate problem: self-signed certificate (--cacert FILE trusts its certificate, --insecure checks none)" \
            "$W/get.untrusted.err" && [ "$(wc -l <"$W/get.untrusted.err")" -eq 1 ]
}
check "https without trust: exit 2, one line that says why" untrusted
insecure() {
    send_again get insecure --url "$TLS" --insecure && answered get insecure &&
        grep -qxF "vokt: $TLS: --insecure: the server's certificate and name are not checked" "$W/get.insecure.err"
}
check "https with --insecure: sent, with the note" insecure
check "https with --insecure: vokt diff finds only where it went" same get insecure "$(tls_diff)"

# An edit on the way: the cookie set, a header left out, another body.
printf 'wort=neu' >"$W/neu.txt"
check "post: sent with edits" \
    send_again post edit --url "$BASE" --set HTTP_COOKIE=a=1 --unset HTTP_ACCEPT --body-file "$W/neu.txt"
check "post: vokt diff finds exactly the edits" same post edit "$(printf '%s\n' '- HTTP_ACCEPT = "*/*"' \
    '~ CONTENT_LENGTH: "24" -> "8"' '+ HTTP_COOKIE = "a=1"' '~ length line: *24 -> *8' \
    '~ body: differs from byte 0 on (A 24 bytes, B 8 bytes)' '- form name = "M\xFCller"' \
    '~ form wort: "a&b" -> "neu"')"

# The environment's proxy variables are not used: a proxy where nothing
# listens would fail the request.
proxied() {
    (export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 all_proxy=http://127.0.0.1:9
     send_again get proxy --url "$BASE" && send_again put proxy --url "$TLS" --cacert "$W/cert.pem")
}
check "the proxy variables of the environment are not used" proxied

# The server's responses as snapshots: the GET's record sent to a small
# CGI program (the target edited) whose answer changes between runs.
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\n\\neins\\n"\n' >"$SANDBOX/cgi-bin/answer.cgi"
chmod 755 "$SANDBOX/cgi-bin/answer.cgi"
# snap WORD STATUS [OPTION...]: vokt send with the snapshots gives STATUS
# and a line that ends in WORD (a regular expression).
snap() {
    local word=$1 want=$2 status
    shift 2
    "$vokt" send "$W/get.rec" --url "$BASE" --set REQUEST_URI=/cgi-bin/answer.cgi --snapshot "$W/snaps" \
        --ignore-header Date "$@" >"$W/snap.out" 2>"$W/snap.err"
    status=$?
    [ "$status" -eq "$want" ] && grep -Eq "/cgi-bin/answer.cgi  status 200  $word" "$W/snap.out" && return 0
    echo "# exit $status:"; sed 's/^/#   /' "$W/snap.out" "$W/snap.err"
    return 1
}
check "send --snapshot: the first run keeps the response" snap 'new$' 0
check "send --snapshot: the same answer again is the same" snap 'same$' 0
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\n\\nzwei\\n"\n' >"$SANDBOX/cgi-bin/answer.cgi"
check "send --snapshot: a changed answer differs, in the body" snap 'differs: .*body' 1
check "send --snapshot --update: the new answer taken" snap 'updated: .*' 0 --update
check "send --snapshot: then the same" snap 'same$' 0
expect_fails() {
    "$vokt" send "$W/get.rec" --url "$BASE" --set REQUEST_URI=/cgi-bin/answer.cgi --expect-status 404 \
        --expect-header 'Content-Type: text/plain' >"$W/expect.out" 2>&1
    [ $? -eq 1 ] && [ "$(wc -l <"$W/expect.out")" -eq 2 ] && grep -q 'status' "$W/expect.out" ||
        { sed 's/^/#   /' "$W/expect.out"; return 1; }
}
check "send --expect-status: a status that is not the one expected fails" expect_fails
where_send() {
    local h=$W/hist
    mkdir -p "$h" && cp "$W/get.rec" "$h/20261209T000000.000000Z-1" && cp "$W/post.rec" "$h/20261209T000001.000000Z-2" &&
        "$vokt" send --where 'method=GET' "$h" --url "$BASE" --expect-status 200 >"$W/where.out" 2>"$W/where.err" &&
        [ "$(wc -l <"$W/where.out")" -eq 1 ] && grep -q '/cgi-bin/vokt.cgi/x?a=1&b=%FC  status 200$' "$W/where.out" ||
        { sed 's/^/#   /' "$W/where.out" "$W/where.err"; return 1; }
}
check "send --where: each match sent and checked, one line each" where_send

# The examples of vokt(1) with vokt send, run in the work folder, the
# test's server in place of 127.0.0.1:8080 and 127.0.0.1:8443: each sends
# its request.
man_examples() {
    local line n=0
    while read -r line; do
        line=${line//http:\/\/127.0.0.1:8080/$BASE}
        line=${line//https:\/\/127.0.0.1:8443/$TLS}
        rm -f "$DUMP"
        (cd "$W" && eval "\"\$vokt\" ${line#vokt }") >/dev/null 2>"$W/example.err" && [ -f "$DUMP" ] ||
            { echo "# $line"; sed 's/^/#   /' "$W/example.err"; return 1; }
        n=$((n + 1))
    done < <(grep '^vokt send ' "$HTTP_REPO/man/vokt.1.scd")
    [ "$n" -ge 3 ]
}
check "the examples of vokt(1) send their requests" man_examples

server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# vokt send: $FAILED failed"
[ "$FAILED" -eq 0 ]
