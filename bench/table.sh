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
function has(c, l) { return ((c, l, "med") in val) }
{
  if ($1 == "cmp") { check[$2, $3] = $4; next }
  if ($1 == "rps") { val["rps", $2, "med"] = $3; val["rps", $2, "q1"] = $4; val["rps", $2, "q3"] = $5; next }
  val[$1, $2, "med"] = $3; val[$1, $2, "q1"] = $4; val[$1, $2, "q3"] = $5
  val[$1, $2, "rss"] = $6; val[$1, $2, "rssmax"] = $7; val[$1, $2, "flt"] = $8
}
END {
  if (has("req:get", "floor")) request_rows()
  if (has("rps", "floor")) web_rows()
  if (has("body:pairs:1024", "vokt")) body_rows()
  if (has("work:field:67108864", "vokt")) work_rows()
  if (has("form:ordinary:10", "vokt")) form_rows()
}
function request_rows(  n, cs, names, i, c, f, s, d, spread) {
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
}
function web_rows(  f, s, d) {
  print ""
  print "lighttpd + wrk (2 threads, 4 connections, GET ?a=1&b=2): requests per second, median of rounds"
  printf "%-36s %9s %9s %7s %9s %7s\n", "", "floor", "static", "ratio", "dynamic", "ratio"
  f = get("rps", "floor", "med"); s = get("rps", "vokt", "med"); d = get("rps", "dyn", "med")
  printf "%-36s %9.0f %9.0f %7.3f %9.0f %7.3f\n", "requests/s", f, s, (f ? s / f : 0), d, (f ? d / f : 0)
}
function body_rows(  m, sizes, sh, shape, prev, i, c, t, v, r, lim, growth) {
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
}
function work_rows(  ns, shapes, sizes, i, j, c, v, f, s2, t, r, lim, ok, bad) {
  print ""
  print "Large bodies against the work floor (bench/workfloor.c, the same page and dump bytes): median ms, peak MiB"
  print "(floor: AVX2 build; sse2: the same forced to SSE2; check: page, dump and status compared with cmp)"
  printf "%-10s %-8s %8s %8s %8s %8s %7s %7s %7s %8s %8s %7s %6s\n", "shape", "body", "vokt ms", "floor ms", "sse2 ms", "tee ms", "/floor", "/sse2", "/tee", "vokt MiB", "floorMiB", "limit", "check"
  ns = split("field pairs1000 pairs10000", shapes, " ")
  split("67108864 268435456", sizes, " ")
  bad = 0
  for (j = 1; j <= 2; ++j) {
    for (i = 1; i <= ns; ++i) {
      c = "work:" shapes[i] ":" sizes[j]
      if (!has(c, "vokt")) continue
      v = get(c, "vokt", "med"); f = get(c, "floor", "med"); s2 = get(c, "sse2", "med"); t = get(c, "tee", "med")
      r = mib(get(c, "vokt", "rss")); lim = 1.1 * sizes[j] / 1048576 + 16
      ok = check[c, "floor"] == "same" && check[c, "sse2"] == "same" ? "same" : "DIFFER"
      if (ok != "same") bad = 1
      printf "%-10s %-8s %8.1f %8.1f %8.1f %8.1f %7.2f %7.2f %7.2f %8.1f %8.1f %7.1f %6s\n", shapes[i], sizename(sizes[j]), v / 1000, f / 1000, s2 / 1000, t / 1000, v / f, v / s2, v / t, r, mib(get(c, "floor", "rss")), lim, ok
    }
  }
  print "(targets: vokt/floor at most 1.2, vokt/tee at most 2.5; peak memory of vokt at most the limit 1.1 x body + 16 MiB)"
  if (bad) {
    print "!!! THE OUTPUT OF THE WORK FLOOR DIFFERS FROM THAT OF vokt.cgi IN A ROW MARKED DIFFER: ITS RATIOS THERE MEAN NOTHING !!!"
  }
}
function form_rows(  ps, k, kind, i, c, f, t, v) {
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
