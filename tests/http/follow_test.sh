#!/usr/bin/env bash
# vokt follow on a history that a real web server writes while it runs:
# records printed as they land, a slow upload only once it is whole
# (after requests that came later), with --where and --show, as root and
# as the history's owner, on a folder pruned, emptied and made anew, and
# through the package's layout (a link of root's to the dump); Ctrl-C
# ends it with exit status 0.
#
#   follow_test.sh apache PATH/TO/vokt.cgi PATH/TO/vokt
#
# Apache's mod_cgid hands the body on as it arrives, so the slow upload's
# record is in the history, short, while it runs (lighttpd keeps the
# whole body before it starts the program).
# The server runs as nobody in a sandbox (see servers.sh).  Exit status 0:
# all passed; 77: skipped (not root, or the server is not installed).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

server=${1:?apache}
cgi=${2:?path to vokt.cgi}
vokt=${3:?path to vokt}
require_server "$server"

sandbox_create "$cgi"
trap 'stop_followers; keep_or_remove' EXIT
server_start "$server" || exit 1
echo "# $server on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W"
chmod 755 "$W"
install -m 755 "$vokt" "$W/vokt"
H=$(sandbox_dump).d
install -d -o "$SERVER_UID" -g "$SERVER_GID" -m 700 "$H"
URL=$BASE/cgi-bin/vokt.cgi
CURL=(curl -sS -m 60 -o /dev/null)
FOLLOWERS=()

# follow NAME ARG...: vokt follow in the background, its output in W/NAME.
follow() {
    local name=$1
    shift
    "$W/vokt" follow "$@" >"$W/$name.out" 2>"$W/$name.err" &
    FOLLOWERS+=($!)
}
stop_followers() {
    local p
    for p in "${FOLLOWERS[@]}"; do kill -INT "$p" 2>/dev/null; done
}
# rows NAME: the record rows printed so far (the heading left out).
rows() { grep -c '^20' "$W/$1.out"; }
# wait_rows NAME N: until NAME printed N rows (at most 10 s).
wait_rows() {
    local i
    for i in $(seq 100); do
        [ "$(rows "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
# sleeping_without_timeout PID: blocked in ppoll (271) with no timeout.
sleeping_without_timeout() {
    read -r nr _ _ tmo _ <"/proc/$1/syscall" && [ "$nr" = 271 ] && [ "$tmo" = 0x0 ]
}

"${CURL[@]}" "$URL?vorher=1"
sleep 0.01
"${CURL[@]}" "$URL?vorher=2"
follow all -n 1 "$H"
follow posts -n 0 --where 'method=POST' "$H"
follow show -n 0 --show "$H"
follow red -n 0 --show --redact "$H"
setpriv --reuid "$SERVER_UID" --regid "$SERVER_GID" --clear-groups "$W/vokt" follow -n 0 "$H" \
    >"$W/owner.out" 2>"$W/owner.err" &
FOLLOWERS+=($!)
mkdir -p "$SANDBOX/paket"
ln -s "$(sandbox_dump)" "$SANDBOX/paket/cgidump"
follow link -n 0 "$SANDBOX/paket/cgidump"
ALL=${FOLLOWERS[0]}
sleep 0.5
check "the backlog: the newest one, under list's heading" \
    eval 'head -n1 "$W/all.out" | grep -q "^TIME  *METHOD  *TARGET" && [ "$(rows all)" -eq 1 ] && grep -q "vorher=2" "$W/all.out"'
check "idle: it sleeps in ppoll without a timeout" sleeping_without_timeout "$ALL"

# A slow upload (about 4 s), and three quick requests while it runs.
head -c 4000 /dev/zero | tr '\0' x >"$W/slow.body"
"${CURL[@]}" --limit-rate 1000 -H 'X-Nr: slow' --data-binary @"$W/slow.body" "$URL?slow=1" &
SLOW=$!
sleep 1
"${CURL[@]}" -H 'Cookie: sid=geheim' "$URL?schnell=1"
"${CURL[@]}" --data 'a=1' "$URL?schnell=2"
"${CURL[@]}" -H 'Content-Type: application/json' --data '{"n":3}' "$URL?schnell=3"
wait_rows all 4
check "the quick requests are printed at once, the slow upload (in the history, short) not yet" \
    eval '[ "$(rows all)" -eq 4 ] && ! grep -q slow=1 "$W/all.out" && grep -q "QUERY_STRING=slow=1" "$H"/2*'
wait "$SLOW"
wait_rows all 5
check "the slow upload, once it is whole: last, 4000 bytes, whole" \
    eval 'tail -n1 "$W/all.out" | grep -q "slow=1.*  4000  *whole$"'
check "--where method=POST: the two POSTs and the upload, nothing else" \
    eval 'wait_rows posts 3 && [ "$(rows posts)" -eq 3 ] && ! grep -q "schnell=1\|vorher" "$W/posts.out"'
check "--show: each record whole, as vokt show prints it" \
    eval 'grep -c "^==> 20" "$W/show.out" | grep -qx 4 && grep -q "^POST /cgi-bin/vokt.cgi?schnell=3 " "$W/show.out" && grep -q "4000 bytes, whole" "$W/show.out"'
check "--show --redact: the cookie's value masked" \
    eval 'grep -q "^  Cookie: sid=\*\*\*\*\*\*$" "$W/red.out" && ! grep -q geheim "$W/red.out"'
check "as the history's owner: the same four rows" eval 'wait_rows owner 4 && [ "$(rows owner)" -eq 4 ]'
check "through root's link to the dump: the history beside its target" eval 'wait_rows link 4'

# A client that gives up in the middle of a slow upload: the record ends
# short, and is printed so once vokt.cgi is done with it.
"${CURL[@]}" -m 1 --limit-rate 1000 --data-binary @"$W/slow.body" "$URL?aufgegeben=1" 2>/dev/null
check "an upload given up: printed once its writer is done, marked short" \
    eval 'wait_rows all 6 && grep -q "aufgegeben=1.*  short$" "$W/all.out"'

# Pruned to 2, then emptied, then made anew.
printf '2\n' >"$H/keep"
chown "$SERVER_UID:$SERVER_GID" "$H/keep"
for i in 1 2 3; do "${CURL[@]}" "$URL?kurz=$i"; done
check "pruned to two records: each new one still printed" eval 'wait_rows all 9 && grep -q kurz=3 "$W/all.out"'
rm -f "$H"/2*
"${CURL[@]}" "$URL?leer=1"
check "the folder emptied: the next one printed" eval 'wait_rows all 10 && grep -q leer=1 "$W/all.out"'
rm -rf "$H"
"${CURL[@]}" "$URL?ohne=1"
install -d -o "$SERVER_UID" -g "$SERVER_GID" -m 700 "$H"
sleep 0.2
"${CURL[@]}" "$URL?neu=1"
check "the folder made anew: its records printed, none from the time without it" \
    eval 'wait_rows all 11 && grep -q neu=1 "$W/all.out" && ! grep -q ohne=1 "$W/all.out"'
check "nothing said on standard error" eval '[ ! -s "$W/all.err" ] && [ ! -s "$W/owner.err" ]'
check "no record printed twice" eval '[ "$(grep "^20" "$W/all.out" | sort | uniq -d | wc -l)" -eq 0 ]'

kill -INT "$ALL"
wait "$ALL"
check "Ctrl-C: exit status 0" test $? -eq 0
stop_followers
for p in "${FOLLOWERS[@]}"; do wait "$p"; done
FOLLOWERS=()
server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
