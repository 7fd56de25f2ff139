#!/usr/bin/env bash
# Builds everything and runs every test.  Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# configure_and_test BUILD_DIR [cmake options...]
configure_and_test() {
  local dir=$1; shift
  cmake -B "$dir" -DVOKT_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

echo "== default build (vokt.cgi linked statically)"
configure_and_test build
# == through real servers and a browser: the default build's ctest above
# includes them: end-to-end tests through lighttpd, Apache httpd (mod_cgid)
# and nginx with fcgiwrap, each also as Debian installs it, driven by curl
# (label http), tools/serve.sh and cmake --install (label http), and
# headless chromium through the demonstration page (label browser).  tools/deps.sh installs the servers, chromium and, with npm ci,
# the node packages of tests/browser.

# == sanitizer build: library, program and every test built with
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer
# (-fno-sanitize-recover: the first finding fails the run); the whole unit
# and black-box suite runs in it.
echo "== sanitizer build (ASan, UBSan, LSan)"
configure_and_test build-asan -DVOKT_SANITIZE=ON

# == valgrind memcheck: the table of requests (tests/program/requests_test.cpp),
# each request run under memcheck on a dynamically linked vokt.cgi; any
# error or leak fails.
echo "== valgrind memcheck"
cmake -B build-memcheck -DVOKT_WERROR=ON -DVOKT_MEMCHECK=ON
cmake --build build-memcheck -j"$jobs" --target memcheck_tests
(cd build-memcheck && ctest -L valgrind --output-on-failure -j"$jobs")

# == fuzzing: every libFuzzer target first on its seed corpus, then
# VOKT_FUZZ_SECONDS (60) of fuzzing each; docs/HARDENING.md has the long run.
echo "== short fuzz runs"
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DVOKT_FUZZ_SECONDS=60
cmake --build build-fuzz -j"$jobs"
(cd build-fuzz && ctest --output-on-failure -j"$jobs")

# == static checks: the layout of .clang-format and the checks of
# .clang-tidy over the library and the fuzz targets.
echo "== clang-format and clang-tidy"
clang-format-14 --dry-run -Werror lib/*.cpp lib/*.h lib/intern/*.cpp lib/intern/*.h vokt/*.cpp vokt/*.h fuzz/*.cpp fuzz/*.h
cmake -B build-tidy -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVOKT_TESTS=OFF
clang-tidy-14 -p build-tidy --quiet lib/*.cpp lib/intern/*.cpp vokt/*.cpp
cmake -S fuzz -B build-fuzz -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
clang-tidy-14 -p build-fuzz --quiet fuzz/*.cpp

# == dynamic build and bench programs: vokt.cgi linked against the shared
# glibc (-DVOKT_STATIC=OFF, as distribution packages build it) runs the
# whole unit and black-box suite; the bench's floor program, harness and
# microbenchmarks are compiled too (bench/run.sh runs them; timings are no
# test).  Each build must be linked the way its option says.
echo "== dynamic build (VOKT_STATIC=OFF) and bench programs"
configure_and_test build-dyn -DVOKT_STATIC=OFF -DVOKT_TESTS=ON -DVOKT_BENCH=ON
if ! readelf -d build-dyn/vokt.cgi | grep -q 'Shared library: \[libc\.so'; then
  echo "build-dyn/vokt.cgi is not linked against the shared glibc" >&2
  exit 1
fi
if readelf -d build/vokt.cgi | grep -q NEEDED; then
  echo "build/vokt.cgi (default build) is not linked statically" >&2
  exit 1
fi
