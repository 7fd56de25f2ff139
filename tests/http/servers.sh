# Starts lighttpd, Apache httpd (mod_cgid) or nginx with fcgiwrap for the
# end-to-end tests, each in a sandbox of its own, and stops them again.
# Sourced by the test scripts.
#
# The sandbox: a folder that the test owns (SANDBOX) holds the server's
# configuration, logs, document root and cgi-bin; the server runs in private
# mount and PID namespaces in which SANDBOX/tmp is bound over /tmp, so the
# program's dump file /tmp/cgidump65534 lands in SANDBOX/tmp, never in the
# machine's /tmp.  The server runs as user nobody (SERVER_UID) from its
# first instruction on.  More folders and files of the sandbox can be bound
# over paths of the machine (sandbox_bind), for a site at a fixed place.
# When the namespace's first process dies, the kernel kills every process
# in it: no server, CGI child or stuck upload outlives a test.

NOBODY_UID=65534
NOBODY_GID=65534
# The user the server and its CGI programs run as; set before sandbox_create.
SERVER_UID=${SERVER_UID:-$NOBODY_UID}
SERVER_GID=${SERVER_GID:-$NOBODY_GID}
HTTP_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$HTTP_REPO/tests/support/skip.sh"

# sandbox_create CGI_PROGRAM [WWW_DIR]: makes SANDBOX with the program as
# cgi-bin/vokt.cgi and a small probe script as cgi-bin/probe.cgi.
sandbox_create() {
    local cgi=$1 www=${2:-}
    SANDBOX=$(mktemp -d "${VOKT_HTTP_TMP:-/var/tmp}/vokt-http.XXXXXX")
    chmod 755 "$SANDBOX"
    mkdir -p "$SANDBOX"/{tmp,run,run/upload,www,cgi-bin}
    chmod 1777 "$SANDBOX/tmp"
    chown "$SERVER_UID:$SERVER_GID" "$SANDBOX/run" "$SANDBOX/run/upload"
    : >"$SANDBOX/binds"
    # Where the server finds the pages and the CGI programs, as it sees them.
    DOC_ROOT=$SANDBOX/www
    CGI_DIR=$SANDBOX/cgi-bin
    install -m 755 "$cgi" "$SANDBOX/cgi-bin/vokt.cgi"
    # The probe tells what the server hands a CGI program: the kind of
    # standard input, CONTENT_LENGTH, and how many bytes can be read.
    cat >"$SANDBOX/cgi-bin/probe.cgi" <<'EOF'
#!/bin/sh
kind=$(stat -L -c %F /proc/self/fd/0)
count=$(timeout 5 wc -c)
printf 'Content-type: text/plain\n\nstdin=%s\nCONTENT_LENGTH=%s\nread=%s\n' \
    "$kind" "${CONTENT_LENGTH-(unset)}" "$count"
EOF
    chmod 755 "$SANDBOX/cgi-bin/probe.cgi"
    if [ -n "$www" ]; then
        cp -r "$www"/. "$SANDBOX/www/"
    else
        printf '<html><body>vokt</body></html>\n' >"$SANDBOX/www/index.html"
    fi
    chmod -R a+rX "$SANDBOX/www"
    SERVER_PID=
}

# sandbox_stage_serve REPO: copies tools/serve.sh and www/ of REPO into
# $SANDBOX/repo, and the program into $SANDBOX/build, for serve.sh -n.
# Inside the namespace /tmp is the sandbox's own, so a checkout or build
# folder below /tmp could not be seen there; the sandbox can.
sandbox_stage_serve() {
    local repo=$1
    mkdir -p "$SANDBOX/repo/tools" "$SANDBOX/build"
    install -m 755 "$repo/tools/serve.sh" "$SANDBOX/repo/tools/serve.sh"
    cp -r "$repo/www" "$SANDBOX/repo/www"
    chmod -R a+rX "$SANDBOX/repo"
    install -m 755 "$SANDBOX/cgi-bin/vokt.cgi" "$SANDBOX/build/vokt.cgi"
}

# sandbox_bind SRC DST: inside the namespace, SRC (a folder or file of the
# sandbox) is bound over DST, which must exist on the machine.
sandbox_bind() {
    printf '%s\t%s\n' "$1" "$2" >>"$SANDBOX/binds"
}

# sandbox_site_at DIR: the pages and the program are served from DIR/html
# and DIR/cgi-bin inside the namespace (the sandbox's copies bound there),
# so that the pages show these paths rather than the sandbox's.
sandbox_site_at() {
    local dir=$1 top=${1#/}
    top=/${top%%/*}
    mkdir -p "$SANDBOX/site$dir"
    chmod -R a+rX "$SANDBOX/site"
    cp -a "$SANDBOX/www" "$SANDBOX/site$dir/html"
    cp -a "$SANDBOX/cgi-bin" "$SANDBOX/site$dir/cgi-bin"
    sandbox_bind "$SANDBOX/site$top" "$top"
    DOC_ROOT=$dir/html
    CGI_DIR=$dir/cgi-bin
}

# The dump file of user nobody, as the program sees it inside the sandbox.
sandbox_dump() { printf '%s/tmp/cgidump%d' "$SANDBOX" "$NOBODY_UID"; }

# sent NAME CURL-ARGS...: sends a request with the test's CURL command and
# keeps its record (the dump DUMP) as W/NAME.rec, with the dump's time.
sent() {
    local name=$1
    shift
    rm -f "$DUMP"
    "${CURL[@]}" "$@" && cp -p "$DUMP" "$W/$name.rec"
}

# free_port: a loopback TCP port that nobody listens on now.
free_port() {
    local port hex
    while :; do
        port=$((20000 + RANDOM % 40000))
        hex=$(printf ':%04X ' "$port")
        if ! grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}

write_lighttpd_conf() {
    local port=$1 d=$SANDBOX
    cat >"$d/run/lighttpd.conf" <<EOF
server.document-root = "$DOC_ROOT"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$d/run/lighttpd-error.log"
server.upload-dirs = ( "$d/run/upload" )
server.modules = ( "mod_alias", "mod_cgi" )
server.http-parseopts = ( "url-normalize" => "disable" )
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html; charset=ISO-8859-1", ".png" => "image/png" )
alias.url = ( "/cgi-bin/" => "$CGI_DIR/" )
\$HTTP["url"] =^ "/cgi-bin/" {
    cgi.assign = ( "" => "" )
}
EOF
}

# APACHE_EXTRA: further lines for the configuration, if a test wants them.
write_apache_conf() {
    local port=$1 d=$SANDBOX m=/usr/lib/apache2/modules
    cat >"$d/run/httpd.conf" <<EOF
ServerRoot "$d/run"
DefaultRuntimeDir "$d/run"
PidFile "$d/run/httpd.pid"
ServerName 127.0.0.1
Listen 127.0.0.1:$port
LoadModule mpm_event_module $m/mod_mpm_event.so
LoadModule authz_core_module $m/mod_authz_core.so
LoadModule alias_module $m/mod_alias.so
LoadModule cgid_module $m/mod_cgid.so
LoadModule dir_module $m/mod_dir.so
LoadModule mime_module $m/mod_mime.so
ErrorLog "$d/run/httpd-error.log"
LogLevel warn
ScriptSock "$d/run/cgisock"
TypesConfig /dev/null
AddType "text/html; charset=ISO-8859-1" .html
AddType image/png .png
DocumentRoot "$DOC_ROOT"
DirectoryIndex index.html
ScriptAlias /cgi-bin/ "$CGI_DIR/"
<Directory />
    Require all denied
</Directory>
<Directory "$DOC_ROOT">
    Require all granted
</Directory>
<Directory "$CGI_DIR">
    Require all granted
</Directory>
${APACHE_EXTRA:-}
EOF
}

# nginx runs CGI programs through fcgiwrap.  The location block is the
# one of docs/SERVERS.md, with the CGI folder's parent as its root and the sandbox's
# socket; fcgiwrap is started beside nginx (nginx_with_fcgiwrap).
readme_nginx_location() {
    sed -n '/^    location \/cgi-bin\/ {$/,/^    }$/p' "$HTTP_REPO/docs/SERVERS.md" | sed 's/^    //'
}
write_nginx_conf() {
    local port=$1 d=$SANDBOX location
    location=$(readme_nginx_location)
    [ -n "$location" ] || { echo "no nginx location block in docs/SERVERS.md" >&2; return 1; }
    case $location in *client_max_body_size*) ;; *) echo "the nginx block of docs/SERVERS.md lacks client_max_body_size" >&2; return 1 ;; esac
    location=$(printf '%s\n' "$location" |
        sed "s|^\( *root \).*;|\1${CGI_DIR%/cgi-bin};|; s|unix:/run/fcgiwrap.socket|unix:$d/run/fcgiwrap.socket|")
    cp /etc/nginx/fastcgi_params "$d/run/fastcgi_params"
    cat >"$d/run/nginx.conf" <<EOF
pid $d/run/nginx.pid;
error_log $d/run/nginx-error.log warn;
worker_processes 2;
events { }
http {
    access_log off;
    client_body_temp_path $d/run/upload;
    fastcgi_temp_path $d/run/fastcgi-temp;
    proxy_temp_path $d/run/proxy-temp;
    uwsgi_temp_path $d/run/uwsgi-temp;
    scgi_temp_path $d/run/scgi-temp;
    types { text/html html; image/png png; }
    charset iso-8859-1;
    server {
        listen 127.0.0.1:$port;
        server_name 127.0.0.1;
        root $DOC_ROOT;
        index index.html;
$(printf '%s\n' "$location" | sed 's/^/        /')
    }
}
EOF
}
# The command of docs/SERVERS.md that starts fcgiwrap with spawn-fcgi,
# as one line, without its sudo.
docs_spawn_fcgi() {
    sed -n '/^    sudo env -i .*\\$/,/fcgiwrap$/p' "$HTTP_REPO/docs/SERVERS.md" | sed 's/^ *//; s/\\$//' |
        tr '\n' ' ' | sed 's/^sudo //; s/ *$//'
}
# fcgiwrap as Debian's unit runs it (-f: the program's standard error to
# nginx's log), on the sandbox's socket; nginx once the socket is there.
# With FCGIWRAP_START=docs: started by the command of docs/SERVERS.md, as
# root in the test's environment, on the sandbox's socket and for the
# server's user.
nginx_with_fcgiwrap() {
    local sock=$SANDBOX/run/fcgiwrap.socket cmd
    rm -f "$sock"
    if [ "${FCGIWRAP_START:-}" = docs ]; then
        cmd=$(docs_spawn_fcgi)
        case $cmd in *spawn-fcgi*) ;; *) echo "no spawn-fcgi command in docs/SERVERS.md" >&2; return 1 ;; esac
        cmd=$(printf '%s' "$cmd" | sed "s|/run/fcgiwrap.socket|$sock|; s|www-data|$SERVER_UID|g")
        sandbox_run_root sh -c "$cmd"' >/dev/null || exit 1
            for i in $(seq 100); do [ -S "$1" ] && break; sleep 0.1; done
            exec setpriv --reuid="$3" --regid="$4" --clear-groups \
                nginx -p "$2" -c "$2/nginx.conf" -e "$2/nginx-error.log" -g "daemon off;"' \
            sh "$sock" "$SANDBOX/run" "$SERVER_UID" "$SERVER_GID"
        return
    fi
    # As Debian's unit starts it: an environment of its own, not the
    # test's, which fcgiwrap would hand on to every program.
    sandbox_run sh -c 'env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin fcgiwrap -f -s "unix:$1" &
        for i in $(seq 100); do [ -S "$1" ] && break; sleep 0.1; done
        exec nginx -p "$2" -c "$2/nginx.conf" -e "$2/nginx-error.log" -g "daemon off;"' \
        sh "$sock" "$SANDBOX/run"
}

# The small hosts find the program below their document root:
# $SANDBOX/root holds the pages and cgi-bin/ with the programs.
host_root() {
    local root=$SANDBOX/root
    mkdir -p "$root"
    cp -a "$SANDBOX/www/." "$root/"
    cp -a "$SANDBOX/cgi-bin" "$root/cgi-bin"
    chmod -R a+rX "$root"
    DOC_ROOT=$root
    CGI_DIR=$root/cgi-bin
}

# Go's net/http/cgi as a server of twenty lines (tests/http/gocgi.go),
# built into the sandbox.
build_gocgi() {
    [ -x "$SANDBOX/run/gocgi" ] && return 0
    (cd "$SANDBOX/run" && GOCACHE=$SANDBOX/run/gocache GO111MODULE=off HOME=$SANDBOX/run \
        go build -o gocgi "$HTTP_REPO/tests/http/gocgi.go") >>"$SANDBOX/run/server.out" 2>&1
}

start_small_host() {
    local kind=$1 port=$2
    host_root
    case $kind in
        busybox) sandbox_run busybox httpd -f -p "127.0.0.1:$port" -h "$DOC_ROOT" ;;
        mini_httpd) sandbox_run mini_httpd -D -h 127.0.0.1 -p "$port" -d "$DOC_ROOT" -c 'cgi-bin/*' \
                        -l "$SANDBOX/run/mini_httpd.log" ;;
        go) build_gocgi || return 1
            sandbox_run "$SANDBOX/run/gocgi" "127.0.0.1:$port" "$CGI_DIR/vokt.cgi" "$DOC_ROOT" ;;
        python) sandbox_run /usr/bin/python3 -m http.server --cgi --bind 127.0.0.1 --directory "$DOC_ROOT" "$port" ;;
    esac
}

# sandbox_run_root CMD...: runs CMD in the background inside the sandbox's
# namespaces; SERVER_PID is the namespace's outer process.  Its output goes
# to $SANDBOX/run/server.out.  A shell that stays root is the namespace's
# first process and waits for CMD: a server that changes its user loses the
# signal that --kill-child arranges, the shell keeps it.
sandbox_run_root() {
    # --pdeathsig: should the test itself be killed (a ctest timeout), the
    # namespace goes with it.
    setsid setpriv --pdeathsig KILL unshare --mount --propagation private --pid --fork --kill-child --mount-proc \
        sh -c 'tab=$(printf "\t")
               while IFS=$tab read -r src dst; do
                   mount --bind "$src" "$dst" || exit 125
               done <"$1/binds"
               mount --bind "$1/tmp" /tmp || exit 125
               shift; "$@" & wait $!' sh "$SANDBOX" "$@" \
        >>"$SANDBOX/run/server.out" 2>&1 </dev/null &
    SERVER_PID=$!
}

# sandbox_run CMD...: the same, as the server's user (nobody).
sandbox_run() {
    sandbox_run_root setpriv --reuid="$SERVER_UID" --regid="$SERVER_GID" --clear-groups "$@"
}

# wait_answer URL: waits (at most 10 s) until URL answers while the server
# runs.
wait_answer() {
    local i
    for i in $(seq 100); do
        curl -s -o /dev/null "$1" && return 0
        kill -0 "$SERVER_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# server_start lighttpd|apache|nginx: starts the server on a free port and
# waits until it answers; sets PORT and BASE.  Tries a few ports, in case another
# program takes the chosen one first.
server_start() {
    local kind=$1 try
    for try in 1 2 3 4 5; do
        PORT=$(free_port)
        BASE="http://127.0.0.1:$PORT"
        case $kind in
            lighttpd) write_lighttpd_conf "$PORT"
                      sandbox_run lighttpd -D -f "$SANDBOX/run/lighttpd.conf" ;;
            apache)   write_apache_conf "$PORT"
                      sandbox_run apache2 -f "$SANDBOX/run/httpd.conf" -DFOREGROUND ;;
            nginx)    write_nginx_conf "$PORT" || return 1
                      nginx_with_fcgiwrap ;;
            busybox|mini_httpd|go|python) start_small_host "$kind" "$PORT" || return 1 ;;
        esac
        wait_answer "$BASE/" && return 0
        server_stop
    done
    echo "could not start $kind; its output:" >&2
    cat "$SANDBOX"/run/*.out "$SANDBOX"/run/*.log >&2 2>/dev/null
    return 1
}

# server_stop: ends the namespace and with it every process in it.
server_stop() {
    [ -n "${SERVER_PID:-}" ] || return 0
    kill -TERM -- "-$SERVER_PID" 2>/dev/null
    kill -KILL "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
}

# sandbox_leftovers: processes that still run with the sandbox in their
# command line (there should be none after server_stop).
sandbox_leftovers() {
    local p n=0
    for p in /proc/[0-9]*; do
        if tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -qF "$SANDBOX/"; then
            n=$((n + 1))
        fi
    done
    echo "$n"
}

sandbox_remove() {
    server_stop
    [ -n "${SANDBOX:-}" ] && rm -rf "$SANDBOX"
}

# Test bookkeeping: check NAME COMMAND... runs COMMAND and records the result.
FAILED=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; FAILED=$((FAILED + 1)); }
check() {
    local name=$1; shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# Skip (ctest's code 77; in CI a failure) when the machine cannot run
# these tests.
require_root_and() {
    local tool
    [ "$(id -u)" -eq 0 ] || skip "needs root for the private mount namespaces"
    for tool in curl unshare setpriv "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
}

# Starts tools/serve.sh and the page as they are in the checkout REPO, in
# the sandbox on a free port (-n: the program under test is the one built,
# not rebuilt); sets PORT and BASE.  SIGINT as in a terminal's foreground:
# not ignored, as it is for a shell's background job.
serve_sh_start() {
    PORT=$(free_port)
    BASE=http://127.0.0.1:$PORT
    sandbox_stage_serve "$1"
    sandbox_run_root env --default-signal=INT "$SANDBOX/repo/tools/serve.sh" -n -p "$PORT" -b "$SANDBOX/build"
    if ! wait_answer "$BASE/"; then
        cat "$SANDBOX/run/server.out"
        exit 1
    fi
}

# require_server lighttpd|apache|nginx: skips (77; in CI fails) unless run
# as root with that server installed.
require_server() {
    case $1 in
        lighttpd) require_root_and lighttpd ;;
        apache)   require_root_and apache2 ;;
        nginx)    require_root_and nginx fcgiwrap ;;
        busybox)  require_root_and busybox ;;
        mini_httpd) require_root_and mini_httpd ;;
        go)       require_root_and go ;;
        python)   require_root_and /usr/bin/python3 ;;
        *) echo "unknown server $1" >&2; exit 2 ;;
    esac
}

# keep_or_remove, the scripts' EXIT trap: with VOKT_HTTP_KEEP=1 the sandbox
# (pages, dumps, logs) stays for a look, else it goes.
keep_or_remove() {
    if [ -n "${VOKT_HTTP_KEEP:-}" ]; then
        server_stop
        echo "# kept $SANDBOX"
    else
        sandbox_remove
    fi
}
