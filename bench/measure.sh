#!/usr/bin/env bash
# The measurements of bench/run.sh; runs as root inside a private mount
# namespace (bench/run.sh starts it with unshare -m).  Appends one line per
# program and case to RESULTS:
#   case label median_us q1_us q3_us median_maxrss_kib max_maxrss_kib minflt
#   mean_us mean_cpu_us
# or, for the web server, "rps label median q1 q3", or, for the work
# floor's byte comparison, "cmp case label same|DIFFERENT".
# VOKT_BENCH_ONLY=req|hist|body|form|web|work runs one section only.
set -euo pipefail
root=$1 out=$2 quick=$3
res=$out/results.txt
rm -f "$out"/rps.raw "$out"/phases.txt
only=${VOKT_BENCH_ONLY:-}

# section NAME: true when the section is to run.
section() {
  [ -z "$only" ] || [ "$only" = "$1" ]
}

vokt=$root/build-bench/vokt.cgi
dyn=$root/build-bench-dyn/vokt.cgi
floor=$root/build-bench/bench/floor.cgi
runner=$root/build-bench/bench/bench_runner
memfloor=$root/build-bench/bench/memfloor
workfloor=$root/build-bench/bench/workfloor
workfloor_sse2=$root/build-bench/bench/workfloor-sse2

# Our own /tmp: every dump file of the run lands here and is gone with the
# namespace.  Room for a 256 MiB body, its dump, tee's copy and some more.
mount -t tmpfs -o size=2g,mode=1777 vokt-bench /tmp
mkdir -m 1777 /tmp/in

as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
}

# reps N: N repetitions, fewer with --quick.
reps() {
  if [ "$quick" = 1 ]; then echo $((($1 + 4) / 5)); else echo "$1"; fi
}

# measure CASE REPS ENVFILE STDIN 'label=prog args' ...
measure() {
  local case=$1 n; n=$(reps "$2"); shift 2
  as_nobody "$runner" time "$n" "$@" | sed "s/^/$case /" >>"$res"
  echo "  $case done" >&2
}

# The environment a web server hands a CGI program for a small GET: the
# server's variables and a browser's headers, 27 entries.
cat >/tmp/in/env.get <<'EOF'
SERVER_SOFTWARE=lighttpd/1.4.69
SERVER_NAME=127.0.0.1
GATEWAY_INTERFACE=CGI/1.1
SERVER_PROTOCOL=HTTP/1.1
SERVER_PORT=8080
SERVER_ADDR=127.0.0.1
REQUEST_METHOD=GET
REDIRECT_STATUS=200
QUERY_STRING=a=1&b=2
REQUEST_URI=/vokt.cgi?a=1&b=2
REQUEST_SCHEME=http
REMOTE_ADDR=127.0.0.1
REMOTE_PORT=54321
SCRIPT_FILENAME=/srv/www/vokt.cgi
SCRIPT_NAME=/vokt.cgi
DOCUMENT_ROOT=/srv/www
PATH=/usr/local/bin:/usr/bin:/bin
HTTP_HOST=127.0.0.1:8080
HTTP_USER_AGENT=Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0
HTTP_ACCEPT=text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8
HTTP_ACCEPT_LANGUAGE=de,en-US;q=0.7,en;q=0.3
HTTP_ACCEPT_ENCODING=gzip, deflate, br
HTTP_CONNECTION=keep-alive
HTTP_UPGRADE_INSECURE_REQUESTS=1
HTTP_SEC_FETCH_DEST=document
HTTP_SEC_FETCH_MODE=navigate
HTTP_COOKIE=sitzung=3f2a9c0d41e7b5a8
EOF
: >/tmp/in/empty

# post_env LENGTH: the same for a POST of LENGTH bytes of form data.
post_env() {
  grep -v -e '^REQUEST_METHOD=' -e '^QUERY_STRING=' -e '^REQUEST_URI=' /tmp/in/env.get
  echo "REQUEST_METHOD=POST"
  echo "QUERY_STRING="
  echo "REQUEST_URI=/vokt.cgi"
  echo "CONTENT_TYPE=application/x-www-form-urlencoded"
  echo "CONTENT_LENGTH=$1"
}

if section req; then
echo "per-request cost" >&2
as_nobody "$runner" body 1024 pairs /tmp/in/post1k
post_env 1024 >/tmp/in/env.post1k
{
  cat /tmp/in/env.get
  for i in $(seq 28 100); do echo "HTTP_X_ZUSATZ_$i=Wert Nummer $i"; done
} >/tmp/in/env.env100
progs=("floor=$floor" "static=$vokt" "dynamic=$dyn")
# VOKT_BENCH_BEFORE: another build of vokt.cgi measured in the same rounds
# (label "before"), here and for the large bodies, for a change's before
# and after side by side.
[ -n "${VOKT_BENCH_BEFORE:-}" ] && progs+=("before=$VOKT_BENCH_BEFORE")
measure req:get 2000 /tmp/in/env.get /tmp/in/empty "${progs[@]}"
measure req:post1k 2000 /tmp/in/env.post1k /tmp/in/post1k "${progs[@]}"
measure req:env100 2000 /tmp/in/env.env100 /tmp/in/empty "${progs[@]}"
fi

if section hist; then
echo "per request with a history" >&2
# fill DIR KEEP: a history folder of nobody's with the setting KEEP and as
# many records (of the small GET, named in the past, so they go first).
fill() {
  local dir=$1 keep=$2 i
  as_nobody mkdir -m 700 "$dir"
  as_nobody bash -c 'echo "$2" >"$1/keep"; rec=$(cat /tmp/cgidump65534)
    for ((i = 0; i < $2; i++)); do printf "%s" "$rec" >"$1/$(printf "20260101T%06d.000000Z-1" "$i")"; done' _ "$dir" "$keep"
}
as_nobody "$runner" exec /tmp/in/env.get "$vokt" </dev/null >/dev/null
fill /tmp/h100 100
fill /tmp/h10000 10000
hprogs=("floor=$floor" "none=$vokt" "keep100@/tmp/h100:/tmp/cgidump65534.d=$vokt"
        "keep10000@/tmp/h10000:/tmp/cgidump65534.d=$vokt")
if [ -n "${VOKT_BENCH_BEFORE:-}" ]; then
  fill /tmp/hb 10000
  hprogs+=("before=$VOKT_BENCH_BEFORE" "before10000@/tmp/hb:/tmp/cgidump65534.d=$VOKT_BENCH_BEFORE")
fi
measure hist:get 2000 /tmp/in/env.get /tmp/in/empty "${hprogs[@]}"
for d in /tmp/h100 /tmp/h10000 /tmp/hb; do
  [ -d "$d" ] && echo "hist:records $d $(find "$d" -name '2*' | wc -l)" >>"$res"
done
rm -rf /tmp/h100 /tmp/h10000 /tmp/hb
fi

if section body; then
echo "POST bodies" >&2
for size in 1024 65536 1048576 16777216 268435456; do
  case $size in
    1024 | 65536) n=300 ;;
    1048576) n=100 ;;
    16777216) n=21 ;;
    *) n=7 ;;
  esac
  post_env "$size" >/tmp/in/env.body
  for shape in pairs field; do
    as_nobody "$runner" body "$size" "$shape" /tmp/in/body
    measure "body:$shape:$size" "$n" /tmp/in/env.body /tmp/in/body \
      "tee=/usr/bin/tee /tmp/teedump" "memfloor=$memfloor $size" "vokt=$vokt"
    rm -f /tmp/in/body /tmp/teedump /tmp/cgidump65534
  done
done
fi

if section work; then
echo "large bodies against the work floor" >&2
# check CASE ENVFILE BODY: the work floor's page, dump, dump mode and exit
# status must equal vokt.cgi's, or its times mean nothing.  The verdict
# goes into the results; a difference is reported at once and makes
# bench/run.sh fail at its end.
check() {
  local case=$1 envf=$2 body=$3 rv=0 label prog st verdict
  as_nobody "$runner" exec "$envf" "$vokt" <"$body" >/tmp/in/page.vokt || rv=$?
  mv /tmp/cgidump65534 /tmp/in/dump.vokt
  for label in floor sse2; do
    prog=$workfloor
    [ "$label" = sse2 ] && prog=$workfloor_sse2
    set +e
    as_nobody "$runner" exec "$envf" "$prog" <"$body" | cmp - /tmp/in/page.vokt >&2
    st=("${PIPESTATUS[@]}")
    set -e
    verdict=same
    if [ "${st[0]}" != "$rv" ] || [ "${st[1]}" != 0 ] || ! cmp /tmp/cgidump65534 /tmp/in/dump.vokt >&2 ||
       [ "$(stat -c %a /tmp/cgidump65534)" != "$(stat -c %a /tmp/in/dump.vokt)" ]; then
      verdict=DIFFERENT
      echo "!!! $case: $label's page or dump DIFFERS from vokt.cgi's (status ${st[0]} against $rv)" >&2
    fi
    echo "cmp $case $label $verdict" >>"$res"
    rm -f /tmp/cgidump65534
  done
  rm -f /tmp/in/page.vokt /tmp/in/dump.vokt
}
for size in 67108864 268435456; do
  n=11
  [ "$size" = 268435456 ] && n=7
  [ "$quick" = 1 ] && n=3
  post_env "$size" >/tmp/in/env.work
  { cat /tmp/in/env.work; echo WORKFLOOR_PHASES=1; } >/tmp/in/env.phases
  for shape in field pairs1000 pairs10000; do
    as_nobody "$runner" body "$size" "$shape" /tmp/in/body
    check "work:$shape:$size" /tmp/in/env.work /tmp/in/body
    # runner directly: n is already the count for --quick.
    before=()
    [ -n "${VOKT_BENCH_BEFORE:-}" ] && before=("before=$VOKT_BENCH_BEFORE")
    as_nobody "$runner" time "$n" /tmp/in/env.work /tmp/in/body "vokt=$vokt" "floor=$workfloor" \
      "sse2=$workfloor_sse2" "tee=/usr/bin/tee /tmp/teedump" "${before[@]}" | sed "s/^/work:$shape:$size /" >>"$res"
    echo "  work:$shape:$size done" >&2
    # The work floor's phases, once, for a breakdown of where time goes.
    echo "work:$shape:$size" >>"$out"/phases.txt
    as_nobody "$runner" exec /tmp/in/env.phases "$workfloor" </tmp/in/body 2>>"$out"/phases.txt >/dev/null
    rm -f /tmp/in/body /tmp/teedump /tmp/cgidump65534
  done
done
fi

if section form; then
echo "forms" >&2
for pairs in 10 100 1000 10000; do
  for kind in ordinary bucket; do
    as_nobody "$runner" form "$pairs" "$kind" /tmp/in/form
    post_env "$(stat -c %s /tmp/in/form)" >/tmp/in/env.form
    case $pairs:$kind in
      10000:bucket) n=21 ;;
      1000:bucket | 10000:*) n=101 ;;
      *) n=301 ;;
    esac
    measure "form:$kind:$pairs" "$n" /tmp/in/env.form /tmp/in/form \
      "floor=$floor" "tee=/usr/bin/tee /tmp/teedump" "vokt=$vokt"
  done
done
fi

section web || exit 0

echo "lighttpd with wrk" >&2
port=18080
while ss -ltn | awk '{print $4}' | grep -q ":$port\$"; do port=$((port + 1)); done
mkdir -m 755 /tmp/www
cp "$floor" /tmp/www/floor.cgi
cp "$vokt" /tmp/www/vokt.cgi
cp "$dyn" /tmp/www/dyn.cgi
cat >/tmp/lighttpd.conf <<EOF
server.document-root = "/tmp/www"
server.bind = "127.0.0.1"
server.port = $port
server.modules = ( "mod_cgi" )
server.errorlog = "/tmp/lighttpd.log"
cgi.assign = ( ".cgi" => "" )
EOF
# Started directly (not through the shell function, which would fork a
# subshell): $! is then lighttpd itself, and killing it stops the server.
setpriv --reuid=65534 --regid=65534 --clear-groups lighttpd -D -f /tmp/lighttpd.conf &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break
  sleep 0.1
done
# One request each first: a page must come back.
for p in floor vokt dyn; do
  exec 3<>/dev/tcp/127.0.0.1/$port
  printf 'GET /%s.cgi?a=1&b=2 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$p" >&3
  head -c 12 <&3 | grep -q '200' || { echo "lighttpd: $p.cgi does not answer" >&2; exit 1; }
  exec 3<&-
done
rounds=$(reps 7)
dur=3
[ "$quick" = 1 ] && dur=2
for r in $(seq "$rounds"); do
  for p in floor vokt dyn; do
    line=$(wrk -t2 -c4 -d"${dur}s" "http://127.0.0.1:$port/$p.cgi?a=1&b=2" 2>&1)
    if grep -q 'Non-2xx' <<<"$line"; then
      echo "wrk: $p.cgi gave errors:" >&2
      echo "$line" >&2
      exit 1
    fi
    echo "rpsraw $p $(awk '/^Requests\/sec:/{print $2}' <<<"$line")" >>"$out"/rps.raw
  done
done
kill "$server"
wait "$server" 2>/dev/null || true
trap - EXIT
# Medians and quartiles of the rounds.
for p in floor vokt dyn; do
  awk -v p="$p" '$2 == p {print $3}' "$out"/rps.raw | sort -g |
    awk -v p="$p" '{v[NR] = $1}
      function q(f,  x, i) { x = f * (NR - 1) + 1; i = int(x); return v[i] + (x - i) * (v[i + 1 <= NR ? i + 1 : i] - v[i]) }
      END {printf "rps %s %.1f %.1f %.1f\n", p, q(0.5), q(0.25), q(0.75)}' >>"$res"
done
rm -f "$out"/rps.raw
