#!/usr/bin/env bash
# The bench: builds what it needs, measures vokt.cgi side by side with its
# floors and prints one table.  Not part of the test command.
#
#   bash bench/run.sh            full run (about 5 minutes)
#   bash bench/run.sh --quick    fewer repetitions, for a first look
#   VOKT_BENCH_ONLY=work bash bench/run.sh --quick
#                                one section only: req, body, work (large
#                                bodies against the work floor), form, web
#
# Needs root: the programs run in a private mount namespace with a tmpfs of
# their own over /tmp, as user nobody, so every dump file lands there and
# vanishes with the namespace; no real user's file is touched.  Missing
# tools (wrk, lighttpd, gnuplot) are installed with apt-get.
#
# Results: build-bench/results/results.txt (raw medians), the table on
# standard output and in build-bench/results/table.txt, and PNG plots in
# build-bench/results/ when gnuplot is there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
[ "${1:-}" = --quick ] && quick=1

if [ "$(id -u)" -ne 0 ]; then
  echo "bench/run.sh: run as root (private mounts; the programs run as nobody)" >&2
  exit 1
fi

# Tools: what is missing comes from Debian's packages.
need=()
for t in cmake:cmake g++:g++ make:make wrk:wrk lighttpd:lighttpd gnuplot:gnuplot-nox \
         unshare:util-linux setpriv:util-linux lscpu:util-linux ss:iproute2 free:procps; do
  command -v "${t%%:*}" >/dev/null || need+=("${t#*:}")
done
[ -e /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${need[@]}"
fi

# The default (static) build with the bench's own programs, and the dynamic
# build for comparison.
jobs=$(nproc)
cmake -B build-bench -DVOKT_BENCH=ON -DVOKT_TESTS=OFF >/dev/null
cmake --build build-bench -j"$jobs" --target vokt.cgi floor.cgi memfloor workfloor workfloor-sse2 bench_runner micro_bench >/dev/null
cmake -B build-bench-dyn -DVOKT_STATIC=OFF -DVOKT_TESTS=OFF >/dev/null
cmake --build build-bench-dyn -j"$jobs" --target vokt.cgi >/dev/null

out=$root/build-bench/results
mkdir -p "$out"
rm -f "$out"/results.txt

{
  echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores," \
       "$(free -g | awk '/^Mem:/{print $2}') GiB, kernel $(uname -r)"
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
} >"$out"/machine.txt

unshare -m --propagation private bash bench/measure.sh "$root" "$out" "$quick"

bash bench/table.sh "$out"/results.txt "$out"/machine.txt | tee "$out"/table.txt
if [ -s "$out"/phases.txt ]; then
  echo
  echo "Work floor, time by phase (ms, one run each; pieces of 1 MiB, so read, dump, echo and decode interleave):"
  cat "$out"/phases.txt
fi
if command -v gnuplot >/dev/null && grep -q "^body:" "$out"/results.txt; then
  bash bench/plot.sh "$out"/results.txt "$out"
  echo "plots: $out/*.png"
fi
if grep -q ' DIFFERENT$' "$out"/results.txt; then
  echo "bench/run.sh: the work floor's page or dump differs from vokt.cgi's (see above): its ratios mean nothing" >&2
  exit 1
fi
