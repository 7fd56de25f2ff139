#!/usr/bin/env bash
# Compares the work floor's page, dump file, dump mode and exit status with
# vokt.cgi's on edge cases and random form data (escapes cut at the end,
# zero bytes, names with < > ", more than 10 000 pairs, query strings,
# bodies across the 1 MiB pieces), for both builds.  Needs root, like
# bench/run.sh: it runs as nobody under a private /tmp.
#   bash bench/workfloor_check.sh [BUILD]    (default build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-bench}")
if [ "${WORKFLOOR_CHECK_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench/workfloor_check.sh: run as root" >&2; exit 1; }
  exec env WORKFLOOR_CHECK_INSIDE=1 unshare -m --propagation private bash "$0" "$build"
fi
runner=$build/bench/bench_runner vokt=$build/vokt.cgi
floors=("$build/bench/workfloor" "$build/bench/workfloor-sse2")
mount -t tmpfs -o size=1g,mode=1777 workfloor-check /tmp
mkdir -m 1777 /tmp/in
cd /tmp/in
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
bad=0 count=0

# check NAME BODYFILE QUERY
check() {
  {
    echo 'SERVER_NAME=127.0.0.1'
    echo 'REQUEST_METHOD=POST'
    echo "QUERY_STRING=$3"
    echo 'HTTP_USER_AGENT=Mozilla/5.0 (X11; "quoted" <b> & more)'
    echo "CONTENT_LENGTH=$(stat -c %s "$2")"
  } >env
  local rv=0 rf f
  as_nobody "$runner" exec env "$vokt" <"$2" >page.vokt || rv=$?
  mv /tmp/cgidump65534 dump.vokt
  for f in "${floors[@]}"; do
    rf=0
    as_nobody "$runner" exec env "$f" <"$2" >page.floor || rf=$?
    count=$((count + 1))
    if [ "$rv" != "$rf" ] || ! cmp -s page.vokt page.floor || ! cmp -s dump.vokt /tmp/cgidump65534 ||
       [ "$(stat -c %a dump.vokt)" != "$(stat -c %a /tmp/cgidump65534)" ]; then
      echo "DIFFERENT: $1 ($(basename "$f"), status $rf against $rv)" >&2
      cmp page.vokt page.floor >&2 || true
      bad=1
    fi
    rm -f /tmp/cgidump65534
  done
  rm -f dump.vokt page.*
}

printf 'x=1&y=a+b' >b && check small b 'y=c'
printf 'a=1&b' >b && check 'value without name' b ''
printf 'a=b=c&%%3Cn%%3E=%%26%%00x&z=%%4' >b && check 'escapes, zero, cut escape' b 'q=%%2B+&r'
printf 'n<a>="v"&m=1%%' >b && check 'raw < > "' b ''
printf 'a=1\0b=2&c=3' >b && check 'zero byte' b ''
printf '%%' >b && check 'lone %' b ''
: >b && check empty b ''
for size in 1000 70000 1048576 3000017; do
  for shape in field pairs pairs1000 pairs10000 pairs3; do
    "$runner" body "$size" "$shape" b 2>/dev/null || continue
    check "$shape $size" b ''
  done
done
for kind in ordinary bucket; do
  for n in 10 10000 10001; do
    "$runner" form "$n" "$kind" b
    check "form $kind $n" b 'a=1&x=%3Cy'
  done
done
# Random bodies over small alphabets dense in special bytes.
for i in $(seq 60); do
  case $((i % 4)) in
    0) n=$((RANDOM % 200)) ;;
    1) n=$((RANDOM * 7)) ;;
    2) n=$((1048576 + RANDOM % 300 - 150)) ;;
    *) n=$((RANDOM * 40)) ;;
  esac
  python3 - "$i" "$n" >b <<'PY'
import random, sys
i, n = int(sys.argv[1]), int(sys.argv[2])
random.seed(i)
a = b'%%%==&&&++<>"aZ0F9fxyz'
if i % 3 == 0: a += b'\0'
if i % 5 == 0: a = b'abcdefghijklmnopqrstuvwxyz%&='
if i % 7 == 0: a = b'abcdefghijklmnopqrstuvwxyz' * 20 + b'%3C&=+'
sys.stdout.buffer.write(bytes(random.choice(a) for _ in range(n)))
PY
  check "random $i ($n bytes)" b "$(python3 -c "import random; random.seed($i); print(''.join(random.choice('a=&%+4F<') for _ in range($i % 50)))")"
done
if [ "$bad" = 1 ]; then
  echo "bench/workfloor_check.sh: the work floor differs from vokt.cgi" >&2
  exit 1
fi
echo "work floor and vokt.cgi agree on $count runs"
