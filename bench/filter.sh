#!/usr/bin/env bash
# vokt's filter over a large history, side by side with grep: a history of
# 10000 records with 100 MB of bodies in all (sizes 1 KiB to 20 KiB, random
# letters), made once in a folder of its own; then, alternating, each run
# RUNS times with a warm page cache, the median wall time of:
#
#   grep -rlF NEEDLE FOLDER                          the floor
#   vokt list --where 'body~NEEDLE' FOLDER           a body search
#   vokt list --where 'header:X-Trace~NEEDLE' FOLDER a test on the entries alone
#   vokt list FOLDER                                 the table, no filter
#
# NEEDLE is in the bodies of 3 records.  Not part of the test command.
#
#   bash bench/filter.sh [BUILD]     BUILD: the build folder (build/)
#
# The folder is made under TMPDIR (or /tmp) and removed at the end; it
# touches no one's dump.
set -euo pipefail
cd "$(dirname "$0")/.."
vokt=${1:-build}/vokt
runs=${RUNS:-7}
[ -x "$vokt" ] || { echo "bench/filter.sh: no $vokt (build first)" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/vokt-filter-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
python3 - "$dir/h" <<'PY'
import os, random, sys
random.seed(7)
d = sys.argv[1]
os.mkdir(d)
letters = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 &="
pool = bytes(random.choice(letters) for _ in range(1 << 20))
total = 0
for i in range(10000):
    n = random.randint(1024, 20 * 1024 - 1024)
    start = random.randrange(len(pool) - n)
    body = bytearray(pool[start:start + n])
    if i in (17, 5000, 9999):
        body[n // 2:n // 2 + 12] = b"NADEL-7f3a9c"
    total += n
    head = ("REQUEST_METHOD=POST\nREQUEST_URI=/api/items/%d?x=1\nCONTENT_TYPE=text/plain\n"
            "HTTP_X_TRACE=t%d\nHTTP_USER_AGENT=bench\nREMOTE_ADDR=127.0.0.1\n*%d\n" % (i, i, n)).encode()
    name = "20261208T%02d%02d%02d.%06dZ-%d" % (i // 3600 % 24, i // 60 % 60, i % 60, i, i + 1)
    with open(os.path.join(d, name), "wb") as f:
        f.write(head + body)
print("history: 10000 records, %d bytes of bodies" % total, file=sys.stderr)
PY

# The median wall time of the command, in ms.
median() {
  sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]}'
}
mal() {
  local s e
  s=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  e=$(date +%s%N)
  echo "scale=3; ($e - $s) / 1000000" | bc
}

names=(grep body entries table)
cmds=(
  "grep -rlF NADEL-7f3a9c $dir/h"
  "$vokt list --where body~NADEL-7f3a9c $dir/h"
  "$vokt list --where header:X-Trace~NADEL-7f3a9c $dir/h"
  "$vokt list $dir/h"
)
# The two searches find the same records.
[ "$(grep -rlF NADEL-7f3a9c "$dir/h" | wc -l)" = 3 ]
[ "$($vokt list --where body~NADEL-7f3a9c "$dir/h" | wc -l)" = 4 ]
cat "$dir"/h/* >/dev/null # warm the cache
declare -A zeiten
for ((r = 0; r < runs; r++)); do
  for i in "${!cmds[@]}"; do
    # shellcheck disable=SC2086
    zeiten[$i]+="$(mal ${cmds[$i]}) "
  done
done
printf '%-8s %10s %8s\n' what ms ratio
g=$(tr ' ' '\n' <<<"${zeiten[0]}" | sed '/^$/d' | median)
for i in "${!cmds[@]}"; do
  m=$(tr ' ' '\n' <<<"${zeiten[$i]}" | sed '/^$/d' | median)
  printf '%-8s %10s %8s\n' "${names[$i]}" "$m" "$(echo "scale=2; $m / $g" | bc)"
done
