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
