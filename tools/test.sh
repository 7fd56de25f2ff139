#!/usr/bin/env bash
# Builds everything and runs every test, one CMake workflow preset after
# the other (CMakePresets.json; fuzz/CMakePresets.json for the fuzz
# targets).  Warnings are errors here.  As root: the black-box tests run the
# programs in private mount namespaces, and the web-server, browser and
# package tests start servers and install the package in them.
set -euo pipefail
cd "$(dirname "$0")/.."

# default: vokt.cgi linked statically; the unit and black-box tests, the
# tests through real web servers and hosts (label http), headless chromium
# (label browser), the installed library and the Debian package (label
# package).  tools/deps.sh installs the servers, chromium and the node
# packages of tests/browser.
echo "== default build (vokt.cgi linked statically)"
cmake --workflow --preset default

# asan: library, programs and every test built with AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer (-fno-sanitize-recover: the
# first finding fails the run); the whole suite runs in it.
echo "== sanitizer build (ASan, UBSan, LSan)"
cmake --workflow --preset asan

# memcheck: the table of requests (tests/program/requests_test.cpp), each
# request run under valgrind memcheck on a dynamically linked vokt.cgi; any
# error or leak fails.
echo "== valgrind memcheck"
cmake --workflow --preset memcheck

# fuzz: every libFuzzer target on its seed corpus, then VOKT_FUZZ_SECONDS
# (60) of fuzzing each; docs/HARDENING.md has the long run.
echo "== short fuzz runs"
(cd fuzz && cmake --workflow --preset fuzz)

# The layout of .clang-format and the checks of .clang-tidy over the
# library, the programs and the fuzz targets.
echo "== clang-format and clang-tidy"
clang-format-14 --dry-run -Werror lib/*.cpp lib/*.h lib/intern/*.cpp lib/intern/*.h vokt/*.cpp vokt/*.h \
    fuzz/*.cpp fuzz/*.h
cmake --preset tidy
clang-tidy-14 -p build-tidy --quiet lib/*.cpp lib/intern/*.cpp vokt/*.cpp
clang-tidy-14 -p build-fuzz --quiet fuzz/*.cpp

# dynamic: vokt.cgi linked against the shared glibc (as distribution
# packages build it) runs the whole suite; the bench's floor program,
# harness and microbenchmarks are compiled too (bench/run.sh runs them;
# timings are no test).  Each build must be linked the way its option says.
echo "== dynamic build (VOKT_STATIC=OFF) and bench programs"
cmake --workflow --preset dynamic
if ! readelf -d build-dyn/vokt.cgi | grep -q 'Shared library: \[libc\.so'; then
  echo "build-dyn/vokt.cgi is not linked against the shared glibc" >&2
  exit 1
fi
if readelf -d build/vokt.cgi | grep -q NEEDED; then
  echo "build/vokt.cgi (default build) is not linked statically" >&2
  exit 1
fi
