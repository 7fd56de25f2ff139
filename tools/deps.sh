#!/usr/bin/env bash
# Installs, with apt-get, what building and testing need on a fresh Debian
# machine.  Runs as root (or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  # build and unit tests
  g++ cmake make libgtest-dev libgmock-dev
  # sanitizer build, fuzzing and memory checks
  clang-14 libclang-rt-14-dev valgrind
  # benchmarks
  libbenchmark-dev
)

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"
