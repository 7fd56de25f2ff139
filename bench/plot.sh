#!/usr/bin/env bash
# Plots of the bench's results (gnuplot, PNG):
#   body-time.png    wall time against body size, with the tee floor
#   body-memory.png  peak memory against body size, with the limit line
#   pairs-time.png   wall time against the number of pairs, with the floors
#   bash bench/plot.sh RESULTS OUTDIR
set -euo pipefail
res=$1 dir=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Columns: size_bytes median_ms q1_ms q3_ms peak_mib
for shape in pairs field; do
  for prog in tee memfloor vokt; do
    awk -v c="body:$shape:" -v p="$prog" 'index($1, c) == 1 && $2 == p {
        split($1, f, ":"); printf "%s %f %f %f %f\n", f[3], $3 / 1000, $4 / 1000, $5 / 1000, $6 / 1024 }' \
      "$res" | sort -g >"$tmp/body-$shape-$prog.dat"
  done
done
# Columns: pairs median_ms q1_ms q3_ms peak_mib
for kind in ordinary bucket; do
  for prog in floor tee vokt; do
    awk -v c="form:$kind:" -v p="$prog" 'index($1, c) == 1 && $2 == p {
        split($1, f, ":"); printf "%s %f %f %f %f\n", f[3], $3 / 1000, $4 / 1000, $5 / 1000, $6 / 1024 }' \
      "$res" | sort -g >"$tmp/form-$kind-$prog.dat"
  done
done

gnuplot <<EOF
set terminal pngcairo size 900,600 font "sans,11"
set grid
set key top left
set logscale xy
set xtics ("1 KiB" 1024, "64 KiB" 65536, "1 MiB" 1048576, "16 MiB" 16777216, "256 MiB" 268435456)

set xrange [700:400000000]
set output "$dir/body-time.png"
set title "POST body: wall time per request (median, interquartile bars)"
set xlabel "body size"
set ylabel "ms"
plot "$tmp/body-field-vokt.dat" using 1:2:3:4 with yerrorlines lw 2 title "vokt.cgi, one field", \
     "$tmp/body-pairs-vokt.dat" using 1:2:3:4 with yerrorlines lw 2 title "vokt.cgi, many pairs", \
     "$tmp/body-field-tee.dat" using 1:2 with linespoints dt 2 lw 2 title "floor: tee dumpfile", \
     "$tmp/body-field-memfloor.dat" using 1:2 with linespoints dt 4 lw 2 title "fresh memory of the body size, written once", \
     "$tmp/body-field-tee.dat" using 1:(\$2*2.5) with lines dt 3 lc rgb "gray40" title "2.5 x tee floor"

set output "$dir/body-memory.png"
set yrange [0.3:1000]
set title "POST body: peak memory per request (median of maxrss)"
set ylabel "MiB"
plot "$tmp/body-field-vokt.dat" using 1:5 with linespoints lw 2 title "vokt.cgi, one field", \
     "$tmp/body-pairs-vokt.dat" using 1:5 with linespoints lw 2 title "vokt.cgi, many pairs", \
     "$tmp/body-field-tee.dat" using 1:5 with linespoints dt 2 lw 2 title "floor: tee dumpfile", \
     "$tmp/body-field-memfloor.dat" using 1:5 with linespoints dt 4 lw 2 title "fresh memory of the body size", \
     "$tmp/body-field-tee.dat" using 1:(\$1/1048576) with lines dt 3 lc rgb "gray60" title "body size", \
     "$tmp/body-field-tee.dat" using 1:(2.2*\$1/1048576+16) with lines dt 3 lc rgb "gray20" title "limit 2.2 x body + 16 MiB"

set output "$dir/pairs-time.png"
set title "Form of N pairs: wall time per request (median, interquartile bars)"
set xlabel "pairs"
set ylabel "ms"
set xrange [7:14000]
set yrange [0.1:3000]
set key bottom right
set xtics ("10" 10, "100" 100, "1 000" 1000, "10 000" 10000)
plot "$tmp/form-bucket-vokt.dat" using 1:2:3:4 with yerrorlines lw 2 title "vokt.cgi, all names in one bucket", \
     "$tmp/form-ordinary-vokt.dat" using 1:2:3:4 with yerrorlines lw 2 title "vokt.cgi, ordinary names", \
     "$tmp/form-ordinary-tee.dat" using 1:2 with linespoints dt 2 lw 2 title "floor: tee dumpfile", \
     "$tmp/form-ordinary-floor.dat" using 1:2 with linespoints dt 2 lw 2 title "floor: minimal static CGI program", \
     1000 with lines dt 3 lc rgb "gray20" title "1 s"
EOF
