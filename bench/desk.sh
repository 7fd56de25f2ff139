#!/usr/bin/env bash
# The desk under hostile records: time, peak memory and output of every vokt
# command on the worst shapes of body, at 1, 10 and 100 MB, and of two builds
# side by side in one run.
#
#   bash bench/desk.sh [--sizes "1 10 100"] VOKT [VOKT...]
#
# Each VOKT is a built vokt program (an earlier one first, say, then
# build/vokt).  The records are made in a folder of their own below
# $TMPDIR (or /var/tmp), which is removed afterwards.  One row per shape,
# size and command, one column group per program: the wall time, the peak
# resident memory (GNU time's "Maximum resident set size") and the bytes
# written to standard output, then the exit status.  Commands run under a
# 6 GiB address-space limit, so a program that would take more ends
# (bad_alloc, status 134) instead of taking the machine, and are stopped
# after $VOKT_DESK_TIMEOUT seconds (120; status 124).
set -eu

sizes="1 10 100"
if [ "${1:-}" = --sizes ]; then
  sizes=$2
  shift 2
fi
[ $# -ge 1 ] || {
  echo "usage: bash bench/desk.sh [--sizes \"1 10 100\"] VOKT [VOKT...]" >&2
  exit 2
}
progs=("$@")
dir=$(mktemp -d "${TMPDIR:-/var/tmp}/vokt-desk.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# repeat TEXT BYTES: TEXT again and again, BYTES bytes of it.
repeat() {
  local block=$1
  while [ ${#block} -lt 65536 ]; do block=$block$block; done
  printf '%s' "$block" >"$dir/block"
  while :; do cat "$dir/block"; done 2>/dev/null | head -c "$2"
}

# record FILE TYPE: a POST record of that Content-Type whose body is
# standard input.
record() {
  local body=$1.body
  cat >"$body"
  {
    printf 'REQUEST_METHOD=POST\nREQUEST_URI=/cgi-bin/vokt.cgi\nSERVER_PROTOCOL=HTTP/1.1\n'
    printf 'HTTP_HOST=example.org\nCONTENT_TYPE=%s\nCONTENT_LENGTH=%s\n*%s\n' "$2" \
      "$(stat -c %s "$body")" "$(stat -c %s "$body")"
    cat "$body"
  } >"$1"
  rm -f "$body"
}

# make_records SHAPE MB: the record DIR/SHAPE-MB.rec and its twin DIR/SHAPE-MB.b.rec,
# which differs from it in a few bytes.
make_records() {
  local shape=$1 n=$(($2 * 1000000)) f=$dir/$1-$2
  case $shape in
  deep-json) # arrays nested 499 deep, again and again, in one array
    local unit
    unit=$(printf '%.0s[' {1..499})$(printf '%.0s]' {1..499}),
    { printf '['; repeat "$unit" $((n - 2)) | sed 's/,[^,]*$/,0/'; printf ']'; } |
      record "$f.rec" application/json ;;
  short-pairs) # distinct names: a0000001=1&a0000002=1&...
    seq -f 'a%07g=1&' 1 $((n / 11 + 1)) | tr -d '\n' | head -c "$n" |
      record "$f.rec" application/x-www-form-urlencoded ;;
  empty-pairs) # nothing but '&'
    repeat '&' "$n" | record "$f.rec" application/x-www-form-urlencoded ;;
  huge-pair) # one name, one value of all the bytes
    { printf 'a='; repeat x $((n - 2)); } | record "$f.rec" application/x-www-form-urlencoded ;;
  multipart) # parts of 40 bytes each
    local part=$'--b\r\nContent-Disposition: form-data; name="p"\r\n\r\nvalue\r\n'
    { repeat "$part" $((n - 8)) | head -c $((n / ${#part} * ${#part} - ${#part})); printf -- '--b--\r\n'; } |
      record "$f.rec" 'multipart/form-data; boundary=b' ;;
  esac
  # The twin: the last 16 body bytes of a copy changed ('&' stays '&').
  cp "$f.rec" "$f.b.rec"
  local size
  size=$(stat -c %s "$f.rec")
  if [ "$shape" = empty-pairs ]; then
    printf 'z=1&' | dd of="$f.b.rec" bs=1 seek=$((size - 4)) conv=notrunc status=none
  elif [ "$shape" = short-pairs ]; then
    # a pair among the first 10000, which vokt.cgi decodes
    printf 'b0000000=2&' | dd of="$f.b.rec" bs=1 seek=$((size - n + 5000 * 11)) conv=notrunc status=none
  fi
}

# run VOKT ARGS...: "seconds MiB bytes status" of one run; its standard
# output is counted, not kept.
run() {
  local t=$dir/time status
  (
    ulimit -v $((6 << 20))
    /usr/bin/time -v -o "$t" timeout "${VOKT_DESK_TIMEOUT:-120}" "$@" 2>"$dir/err" </dev/null |
      wc -c >"$dir/count"
    exit "${PIPESTATUS[0]}"
  ) && status=0 || status=$?
  awk -v bytes="$(cat "$dir/count")" -v status="$status" '
    /Elapsed \(wall clock\)/ { n = split($NF, p, ":"); s = p[n] + (n > 1 ? p[n-1] * 60 : 0) }
    /Maximum resident set size/ { m = $NF / 1024 }
    END { printf "%.2f %.0f %d %d\n", s, m, bytes, status }' "$t"
}

printf '%-12s %4s  %-10s' shape MB command
for p in "${progs[@]}"; do printf ' | %8s %7s %11s %3s' "s" "MiB" "out bytes" "rc"; done
echo
for mb in $sizes; do
  for shape in deep-json short-pairs empty-pairs huge-pair multipart; do
    make_records "$shape" "$mb"
    a=$dir/$shape-$mb.rec b=$dir/$shape-$mb.b.rec
    for cmd in show show-html diff har list curl body; do
      printf '%-12s %4s  %-10s' "$shape" "$mb" "$cmd"
      for p in "${progs[@]}"; do
        case $cmd in
        show) set -- "$p" show "$a" ;;
        show-html) set -- "$p" show "$a" --html ;;
        diff) set -- "$p" diff "$a" "$b" ;;
        har) set -- "$p" har "$a" ;;
        list) set -- "$p" list "$a" ;;
        curl) set -- "$p" curl "$a" --body-file "$b" ;;
        body) set -- "$p" body "$a" ;;
        esac
        read -r s m o rc <<<"$(run "$@")"
        printf ' | %8s %7s %11s %3s' "$s" "$m" "$o" "$rc"
      done
      echo
    done
    rm -f "$a" "$b"
  done
done
