#!/usr/bin/env bash
# vokt's commands over many records on a history that a real web server
# made: requests through the server into vokt.cgi's history folder, then
# vokt list, har, body, show and replay --where pick from it.
#
#   where_test.sh lighttpd|apache PATH/TO/vokt.cgi PATH/TO/vokt
#
# The server runs as nobody in a sandbox (see servers.sh).  Exit status 0:
# all passed; 77: skipped (not root, or the server is not installed).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

server=${1:?lighttpd or apache}
cgi=${2:?path to vokt.cgi}
vokt=${3:?path to vokt}
require_server "$server"

sandbox_create "$cgi"
trap keep_or_remove EXIT
server_start "$server" || exit 1
echo "# $server on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W"
H=$(sandbox_dump).d
install -d -o "$SERVER_UID" -g "$SERVER_GID" -m 700 "$H"
URL=$BASE/cgi-bin/vokt.cgi
CURL=(curl -sS -m 60 -o /dev/null)

"${CURL[@]}" "$URL?seite=1"
sleep 0.01
"${CURL[@]}" -H 'X-Api-Key: k-123' --data 'user=anna&password=geheim' "$URL/login"
sleep 0.01
"${CURL[@]}" -H 'Content-Type: application/json' --data '{"needle":"NADEL"}' "$URL/api"
check "three records in the history" test "$(ls "$H" | wc -l)" -eq 3

list_post() {
    "$vokt" list --where 'method=post' "$H" >"$W/list" && [ "$(wc -l <"$W/list")" -eq 3 ] &&
        ! grep -q seite=1 "$W/list"
}
check "list --where method=post: the two POSTs" list_post
check "list --where body~: the JSON body's record" \
    eval '"$vokt" list --where "body~NADEL header:content-type~json" "$H" | grep -q /api'
check "list --where form:user=anna: the form's record" \
    eval '"$vokt" list --where "form:user=anna" "$H" | grep -q /login'
check "list --where that matches nothing: exit 1" \
    eval '"$vokt" list --where "method=DELETE" "$H" 2>/dev/null; [ $? -eq 1 ]'
check "body --where: the bodies, oldest first" \
    eval '[ "$("$vokt" body --where "size>0" "$H")" = "user=anna&password=geheim{\"needle\":\"NADEL\"}" ]'
check "show --where: the newest match" \
    eval '"$vokt" show --where "not query~seite" "$H" | head -n1 | grep -q "^POST .*/api"'
har_redacted() {
    "$vokt" har --redact --where 'method=POST' "$H" >"$W/har" &&
        python3 -c 'import json,sys; e=json.load(open(sys.argv[1]))["log"]["entries"]; assert len(e) == 2
assert e[0]["request"]["postData"]["text"] == "user=anna&password=******"' "$W/har" && ! grep -q 'geheim\|k-123' "$W/har"
}
check "har --redact --where: one entry per POST, the secrets masked" har_redacted
printf '#!/bin/sh\n[ "$REQUEST_METHOD" = GET ] && exit 5\nprintf "Content-Type: text/plain\\n\\nok"\n' >"$W/p.cgi"
chmod 755 "$W/p.cgi"
replay_many() {
    "$vokt" replay --where 'whole' "$H" -- "$W/p.cgi" >"$W/replay" 2>/dev/null
    [ $? -eq 1 ] && [ "$(wc -l <"$W/replay")" -eq 3 ] && [ "$(grep -c 'exit 0  a valid CGI response' "$W/replay")" -eq 2 ] &&
        grep -q 'seite=1  exit 5' "$W/replay"
}
check "replay --where: a line per record, exit 1 for the one that failed" replay_many

# The history's setting, through the server: a count with a size, then a
# setting that names no limit, which the page and vokt list report.
printf '2 1M\n' >"$H/keep"
chown "$SERVER_UID:$SERVER_GID" "$H/keep"
for i in 1 2 3; do "${CURL[@]}" "$URL?neu=$i"; sleep 0.01; done
kept_newest() {
    n=$(ls "$H" | grep -c '^2')
    [ "$n" -ge 2 ] && [ "$n" -le 3 ] && "$vokt" list --where 'query~neu=3' "$H" >/dev/null &&
        ! "$vokt" list --where 'query~seite' "$H" >/dev/null 2>&1
}
check "keep '2 1M': two records (one more between passes), the newest among them" kept_newest
printf 'lots\n' >"$H/keep"
bad_setting() {
    curl -sS -m 60 "$URL?neu=4" >"$W/page" && grep -q 'nennt keine Grenze des Verlaufs' "$W/page" &&
        "$vokt" list "$H" 2>"$W/err" >/dev/null && grep -q 'names no limit' "$W/err"
}
check "a keep that names no limit: the page and vokt list say so" bad_setting

server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
