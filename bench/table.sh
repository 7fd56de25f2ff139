#!/usr/bin/env bash
# Prints the bench's table from the raw medians of bench/measure.sh.
#   bash bench/table.sh RESULTS MACHINE
set -euo pipefail
res=$1 machine=$2
cat "$machine"
awk '
function get(c, l, f) { return val[c, l, f] }
function mib(kib) { return kib / 1024 }
function sizename(s) {
  if (s >= 1048576) return sprintf("%d MiB", s / 1048576)
  return sprintf("%d KiB", s / 1024)
}
{
  if ($1 == "rps") { val["rps", $2, "med"] = $3; val["rps", $2, "q1"] = $4; val["rps", $2, "q3"] = $5; next }
  val[$1, $2, "med"] = $3; val[$1, $2, "q1"] = $4; val[$1, $2, "q3"] = $5
  val[$1, $2, "rss"] = $6; val[$1, $2, "rssmax"] = $7; val[$1, $2, "flt"] = $8
}
END {
  print ""
  print "Per request: median wall time (us), fork to exit; ratio to the floor (minimal static C program)"
  printf "%-36s %9s %9s %7s %9s %7s %7s\n", "case", "floor", "static", "ratio", "dynamic", "ratio", "spread"
  n = split("req:get req:post1k req:env100", cs, " ")
  split("small GET (a=1&b=2, 27 env entries)|POST of a 1 KiB form|GET with 100 env entries", names, "|")
  for (i = 1; i <= n; ++i) {
    c = cs[i]; f = get(c, "floor", "med"); s = get(c, "static", "med"); d = get(c, "dynamic", "med")
    spread = (get(c, "floor", "q3") - get(c, "floor", "q1")) / f * 100
    printf "%-36s %9.0f %9.0f %7.3f %9.0f %7.3f %6.0f%%\n", names[i], f, s, s / f, d, d / f, spread
  }
  print "(spread: interquartile range of the floor, in % of its median)"
  print ""
  print "lighttpd + wrk (2 threads, 4 connections, GET ?a=1&b=2): requests per second, median of rounds"
  printf "%-36s %9s %9s %7s %9s %7s\n", "", "floor", "static", "ratio", "dynamic", "ratio"
  f = get("rps", "floor", "med"); s = get("rps", "vokt", "med"); d = get("rps", "dyn", "med")
  printf "%-36s %9.0f %9.0f %7.3f %9.0f %7.3f\n", "requests/s", f, s, (f ? s / f : 0), d, (f ? d / f : 0)
  print ""
  print "POST bodies of form data: median wall time (ms) and peak memory (MiB) vs tee dumpfile <body >/dev/null"
  print "(pairs: name=value&... with escapes; field: one field holding the whole escaped text)"
  printf "%-7s %-9s %9s %9s %9s %7s %9s %9s %9s %7s\n", "shape", "body", "tee ms", "mem ms", "vokt ms", "ratio", "growth", "peak MiB", "limit", "of lim"
  m = split("1024 65536 1048576 16777216 268435456", sizes, " ")
  for (sh = 1; sh <= 2; ++sh) {
    shape = sh == 1 ? "pairs" : "field"
    prev = 0
    for (i = 1; i <= m; ++i) {
      c = "body:" shape ":" sizes[i]
      t = get(c, "tee", "med"); v = get(c, "vokt", "med"); r = get(c, "vokt", "rss")
      lim = 2.2 * sizes[i] / 1048576 + 16
      growth = prev > 0 && sizes[i] >= 16777216 ? sprintf("%9.2f", v / prev) : sprintf("%9s", "")
      printf "%-7s %-9s %9.2f %9.2f %9.2f %7.2f %s %9.1f %9.1f %6.0f%%\n", shape, sizename(sizes[i]), t / 1000, get(c, "memfloor", "med") / 1000, v / 1000, v / t, growth, mib(r), lim, mib(r) / lim * 100
      prev = v
    }
  }
  print "(ratio: vokt over tee; mem: taking and writing fresh memory of the body size once;"
  print " growth: time over the time of the size 16 times smaller; limit: 2.2 x body + 16 MiB)"
  print ""
  print "Forms: median wall time (ms) by number of pairs; ordinary names, and every name in one bucket"
  printf "%-9s %-7s %9s %9s %9s %7s %7s %9s\n", "kind", "pairs", "floor ms", "tee ms", "vokt ms", "/floor", "/tee", "peak MiB"
  split("10 100 1000 10000", ps, " ")
  for (k = 1; k <= 2; ++k) {
    kind = k == 1 ? "ordinary" : "bucket"
    for (i = 1; i <= 4; ++i) {
      c = "form:" kind ":" ps[i]
      f = get(c, "floor", "med"); t = get(c, "tee", "med"); v = get(c, "vokt", "med")
      printf "%-9s %-7s %9.3f %9.3f %9.3f %7.2f %7.2f %9.1f\n", kind, ps[i], f / 1000, t / 1000, v / 1000, v / f, v / t, mib(get(c, "vokt", "rss"))
    }
  }
}' "$res"
