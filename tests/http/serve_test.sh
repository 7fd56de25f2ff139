#!/usr/bin/env bash
# tools/serve.sh as a user runs it: started as root, it serves the page and
# the program (as nobody), and Ctrl-C stops it.  Runs in a sandbox (see
# servers.sh), so the dump lands in the sandbox's /tmp.
#
#   serve_test.sh BUILD_DIR      (a configured build folder)
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$here/servers.sh"
build=${1:?build folder}
require_root_and lighttpd cmake

sandbox_create "$build/vokt.cgi"
trap sandbox_remove EXIT
W=$SANDBOX/work
mkdir -p "$W"

serve_sh_start "$repo"
out=$SANDBOX/run/server.out

check "prints the page's and the program's URL" \
    grep -qF "$BASE/cgi-bin/vokt.cgi" "$out"
check "prints where the dump goes" grep -qF "/tmp/cgidump$NOBODY_UID" "$out"

curl -sS -D "$W/page.head" -o "$W/page" "$BASE/"
check "/ is the demonstration page" cmp -s "$W/page" "$repo/www/index.html"
check "the page is served as ISO-8859-1" \
    grep -qi '^Content-Type: text/html; charset=ISO-8859-1' "$W/page.head"

# What a browser sends from the GET form of an ISO 8859-1 page.
curl -sS -o "$W/get" "$BASE/cgi-bin/vokt.cgi?name=M%FCller&stadt=K%F6ln&sprache=deutsch"
check "the program runs as nobody and writes its dump there" \
    grep -aqF "Nutzer $NOBODY_UID und pinsele daher in /tmp/cgidump$NOBODY_UID<p>" "$W/get"
check "an ISO 8859-1 GET form arrives decoded" \
    grep -aqx "$(printf 'name = M\xfcller<p>')" "$W/get"
check "the dump file is nobody's and holds the request" sh -c \
    "[ \"\$(stat -c %u '$(sandbox_dump)')\" = $NOBODY_UID ] && grep -aqx 'QUERY_STRING=name=M%FCller&stadt=K%F6ln&sprache=deutsch' '$(sandbox_dump)'"

# Ctrl-C: the terminal sends SIGINT to serve.sh and lighttpd, while a
# browser holds a connection open that has sent nothing yet (lighttpd's
# graceful shutdown would wait for it).
stopped_by_ctrl_c() {
    local inner i
    # unshare's child is the namespace's shell, whose child is serve.sh.
    inner=$(pgrep -P "$(pgrep -P "$SERVER_PID")")
    [ -n "$inner" ] || return 1
    exec 5<>"/dev/tcp/127.0.0.1/$PORT"
    sleep 0.2
    kill -INT "$inner" $(pgrep -P "$inner")
    for i in $(seq 50); do
        if ! kill -0 "$SERVER_PID" 2>/dev/null; then
            wait "$SERVER_PID"
            local rc=$?
            SERVER_PID=
            return "$rc"
        fi
        sleep 0.1
    done
    return 1
}
check "Ctrl-C stops it at once, with exit status 0, while a connection is open" stopped_by_ctrl_c
exec 5>&-
check "nothing answers on the port any more" sh -c "! curl -s -o /dev/null '$BASE/'"

# Installing: the program goes into <prefix>/lib/cgi-bin, where Debian's
# servers look for CGI programs.
installed() {
    cmake --install "$build" --prefix "$SANDBOX/prefix" >"$W/install.out" 2>&1 &&
        [ -x "$SANDBOX/prefix/lib/cgi-bin/vokt.cgi" ] &&
        cmp -s "$SANDBOX/prefix/lib/cgi-bin/vokt.cgi" "$build/vokt.cgi"
}
check "cmake --install puts vokt.cgi into <prefix>/lib/cgi-bin" installed

echo "# serve.sh: $FAILED failed"
[ "$FAILED" -eq 0 ]
