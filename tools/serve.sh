#!/usr/bin/env bash
# Serves vokt.cgi and the demonstration page (www/) with lighttpd, in the
# foreground, on 127.0.0.1; Ctrl-C stops it.
#
#   tools/serve.sh [-p PORT] [-b BUILD_DIR] [-n]
#
# PORT (default 8080) and BUILD_DIR (default build) may also be given as
# environment variables; -n serves the program as it is built, without
# building.  Builds the program if needed and installs lighttpd
# (and what the build needs) with apt-get when it is missing, as root or
# through sudo.  Started as root, lighttpd runs as user nobody, and so does
# the program: its dump file is then /tmp/cgidump65534.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${PORT:-8080}
build=${BUILD_DIR:-$root/build}

build_it=1

usage() { sed -n '2,13s/^# \{0,1\}//p' "$0"; }
while getopts p:b:nh opt; do
    case $opt in
        p) port=$OPTARG ;;
        b) build=$OPTARG ;;
        n) build_it= ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
case $port in
    '' | *[!0-9]*) echo "serve.sh: not a port: $port" >&2; exit 2 ;;
esac
case $build in /*) ;; *) build=$PWD/$build ;; esac

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# What is missing of lighttpd and the build's own needs.
missing=()
for pkg in lighttpd g++ cmake make libgtest-dev libgmock-dev nlohmann-json3-dev libre2-dev nettle-dev libcurl4-openssl-dev pkgconf; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "== installing ${missing[*]} with apt-get"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update
    $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

if [ -n "$build_it" ]; then
    echo "== building vokt.cgi, vokt and vokt-replay in $build"
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build"
    cmake --build "$build" --target vokt.cgi vokt vokt-replay -j"$(nproc)"
fi

# Only the program is exposed, in a cgi-bin of its own.
serve=$build/serve
mkdir -p "$serve/cgi-bin"
install -m 755 "$build/vokt.cgi" "$serve/cgi-bin/vokt.cgi"

if [ "$(id -u)" -eq 0 ]; then
    user=nobody
    group=$(id -gn nobody)
    uid=$(id -u nobody)
    dump=/tmp/cgidump$uid
    # lighttpd reads the page and starts the program as nobody.
    for f in "$root/www/index.html" "$serve/cgi-bin/vokt.cgi"; do
        if ! setpriv --reuid="$uid" --regid="$(id -g nobody)" --clear-groups test -r "$f"; then
            echo "serve.sh: user nobody cannot read $f; move the checkout to a readable place" >&2
            exit 1
        fi
    done
    as_user="server.username = \"$user\"
server.groupname = \"$group\""
else
    dump=$(getent passwd "$(id -u)" | cut -d: -f6)/cgidump
    as_user=
fi

conf=$serve/lighttpd.conf
cat >"$conf" <<EOF
# Written by tools/serve.sh; rewritten on every start.
server.document-root = "$root/www"
server.bind = "127.0.0.1"
server.port = $port
server.modules = ( "mod_alias", "mod_cgi" )
$as_user
# lighttpd answers 400 by default to a URL with bytes that cannot occur in
# UTF-8, such as an ISO 8859-1 'u with umlaut' (%FC) from a form's GET.
server.http-parseopts = ( "url-normalize" => "disable" )
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html; charset=ISO-8859-1", ".png" => "image/png" )
alias.url = ( "/cgi-bin/" => "$serve/cgi-bin/" )
\$HTTP["url"] =^ "/cgi-bin/" {
    cgi.assign = ( "" => "" )
}
EOF

cat <<EOF
== serving with lighttpd ($conf)
   demonstration page: http://127.0.0.1:$port/
   the program:        http://127.0.0.1:$port/cgi-bin/vokt.cgi
   dump file:          $dump
   Ctrl-C stops the server.
EOF
# lighttpd's own answer to SIGINT is a graceful shutdown, which waits for
# every open connection, and a browser keeps idle ones open for long.  So
# serve.sh stays, and on Ctrl-C (or SIGTERM, SIGHUP) ends lighttpd with
# SIGTERM, which closes them at once; lighttpd may have had the terminal's
# SIGINT too.
lighttpd -D -f "$conf" &
server=$!
stop() {
    trap '' INT TERM HUP
    kill -TERM "$server" 2>/dev/null
    wait "$server" 2>/dev/null || true
    echo "== stopped"
    exit 0
}
trap stop INT TERM HUP
wait "$server"
